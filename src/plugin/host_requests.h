// Requests of a plug-in against the host's REST resources: a method and a URL (GET
// /mau-chat/v1/me), packed into a HostCallRequest and handed to the host's SendRequest.
// Requests are synchronous and never throw: the outcome is a RequestResult holding either
// a value or a RequestError whose message names the method, the URL and the cause.
//
//   mau::RequestResult<mau::BindingValue> me =
//       plugin.RequestValue(mau::RequestMethod::Get, "/mau-chat/v1/me");
//   if (me.failed) Log(kLogWarn, 1, 0, "%s", me.error.message.c_str());
//
//   auto champions = plugin.RequestRecord<std::vector<ChampionSummary>>(
//       mau::RequestMethod::Get, "/mau-game-data/assets/v1/champion-summary.json");
//
// Every response the host fills is released through its release function exactly once,
// on every path, before the request returns.
//
// Threads: a request blocks the calling thread until the host answers; while a streamed
// body is incomplete the requester yields to the host between reads (WaitYield).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/field_converters.h"
#include "binding/routing/request_method.h"
#include "log/message_template.h"
#include "mau/plugin_abi.h"

namespace mau {

class BindingTypeRegistry;

// What a request needs of the plug-in: the host's SendRequest, a yield to the host, the
// host handle that every request carries and the registry that converts records.
class HostRequester {
 public:
  virtual ~HostRequester() = default;
  virtual void SendRequest(HostCallResponse* response, const HostCallRequest* request) = 0;
  virtual void WaitYield() = 0;
  virtual uint32_t HostHandle() const = 0;
  virtual const BindingTypeRegistry& Registry() const = 0;
};

struct RequestError {
  int32_t code = 0;  // the response status, or 400 when the request was never sent
  std::string message;
  // "method", "url" and "error" as substituted into the message; "errorCode_int" when
  // code is not 0.
  TemplateFields details;
};

// The result of a request without a value.
struct NoValue {};

template <typename T>
struct [[nodiscard]] RequestResult {
  T value{};  // default when failed
  RequestError error;
  bool failed = false;

  bool ok() const noexcept { return !failed; }
};

// Arguments of RequestWithArguments, sent as the request's typed arguments by name.
using RequestArguments = std::map<std::string, BindingValue, std::less<>>;

// The message templates of failed requests.
inline constexpr const char* kErrorResponseTemplate = "Error response for {method} {url}: {error}";
inline constexpr const char* kParametersNotSentTemplate =
    "Request not sent: Error converting parameters for {method} {url}: {error}";
inline constexpr const char* kStreamReadTemplate =
    "Error reading streamed response for {method} {url}: {error}";
inline constexpr const char* kConvertResponseTemplate =
    "Error converting response for {method} {url}: {error}";

// Fills error from one of the templates above.
void FillRequestError(RequestError& error, const char* messageTemplate, RequestMethod method,
                      std::string_view url, std::string_view cause, int32_t code);

// Sends one request. response must be zeroed; the host fills it and the caller releases
// it (ReleaseHostResponse). The result fails with "Error response for ..." when the host
// set an error text.
RequestResult<NoValue> SendRawRequest(HostRequester& requester, RequestMethod method,
                                      std::string_view url,
                                      std::span<const HostTypedArgument> arguments,
                                      HostCallResponse& response);

// Calls the response's release function when it has one. Idempotent: a released record
// is zero, so a second call does nothing.
void ReleaseHostResponse(HostCallResponse& response) noexcept;

// Reads a streamed body to its end and parses it as JSON into result. Yields to the host
// when a chunk came short while more is announced. Always releases the stream.
void ReadResponseStream(HostRequester& requester, HostCallResponse& response,
                        BindingResult& result);

// The response's value: the streamed body or the result host value.
RequestResult<BindingValue> RequestValue(HostRequester& requester, RequestMethod method,
                                         std::string_view url);

// The response's value converted into T (a registered record, a vector of them, or any
// native field type) under the name "<result>".
template <typename T>
RequestResult<T> RequestRecord(HostRequester& requester, RequestMethod method,
                               std::string_view url) {
  RequestResult<BindingValue> raw = RequestValue(requester, method, url);
  RequestResult<T> result;
  if (raw.failed) {
    result.failed = true;
    result.error = std::move(raw.error);
    return result;
  }
  BindingResult status;
  AssignFromValue(status, result.value, raw.value, "<result>", requester.Registry());
  if (!status.ok()) {
    result.value = T{};
    result.failed = true;
    FillRequestError(result.error, kConvertResponseTemplate, method, url, status.ErrorText(), 0);
  }
  return result;
}

// Sends arguments as typed arguments and reads no value. Arguments that cannot be
// converted fail with code 400 and nothing is sent.
RequestResult<NoValue> RequestWithArguments(HostRequester& requester, RequestMethod method,
                                            std::string_view url,
                                            const RequestArguments& arguments);

}  // namespace mau
