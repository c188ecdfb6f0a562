#include "plugin/host_requests.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "binding/host_value.h"
#include "binding/json_reader.h"
#include "platform/format.h"

namespace mau {

namespace {

constexpr uint32_t kStreamChunkSize = 4096;
// The body length is only a capacity hint from the host; a larger hint is not trusted
// with a reservation up front (the text still grows to whatever the stream delivers).
constexpr uint32_t kMaxReservedBody = 64u * 1024u * 1024u;

// Releases the response when the request is done with it, whichever way it ends.
class ResponseRelease {
 public:
  explicit ResponseRelease(HostCallResponse& response) : response_(response) {}
  ~ResponseRelease() { ReleaseHostResponse(response_); }
  ResponseRelease(const ResponseRelease&) = delete;
  ResponseRelease& operator=(const ResponseRelease&) = delete;

 private:
  HostCallResponse& response_;
};

}  // namespace

void FillRequestError(RequestError& error, const char* messageTemplate, RequestMethod method,
                      std::string_view url, std::string_view cause, int32_t code) {
  const TemplateValue values[] = {TemplateValue(RequestMethodName(method)), TemplateValue(url),
                                  TemplateValue(cause)};
  std::string positional;
  error.details.clear();
  CompileMessageTemplate(messageTemplate, values, 3, positional, error.details);
  error.message = FormatMessageTemplate(positional, values, 3);
  error.code = code;
  if (code != 0) error.details["errorCode_int"] = TemplateValue(code);
}

void ReleaseHostResponse(HostCallResponse& response) noexcept {
  HostResponseReleaseFn release = response.release;
  if (release == nullptr) return;
  release(&response);
  // The host zeroes a released record; make sure a second release cannot happen even if
  // it did not.
  std::memset(&response, 0, sizeof(response));
}

RequestResult<NoValue> SendRawRequest(HostRequester& requester, RequestMethod method,
                                      std::string_view url,
                                      std::span<const HostTypedArgument> arguments,
                                      HostCallResponse& response) {
  const std::string urlText(url);
  HostCallRequest request;
  std::memset(&request, 0, sizeof(request));
  request.method = static_cast<uint32_t>(RequestMethodFromCode(static_cast<uint32_t>(method)));
  request.url = urlText.c_str();
  if (!arguments.empty()) {
    request.arguments = arguments.data();
    request.argumentCount = static_cast<uint32_t>(arguments.size());
  }
  request.requestId = requester.HostHandle();

  requester.SendRequest(&response, &request);

  RequestResult<NoValue> result;
  if (response.errorText != nullptr) {
    result.failed = true;
    FillRequestError(result.error, kErrorResponseTemplate, RequestMethodFromCode(request.method),
                     url, response.errorText, static_cast<int32_t>(response.status));
  }
  return result;
}

void ReadResponseStream(HostRequester& requester, HostCallResponse& response,
                        BindingResult& result) {
  std::string text;
  bool readFailed = false;
  try {
    text.reserve(std::min(static_cast<uint32_t>(response.bodyLength), kMaxReservedBody));
    char chunk[kStreamChunkSize];
    for (;;) {
      uint32_t length = kStreamChunkSize;
      uint8_t more = 1;
      if (response.streamRead(response.stream, chunk, &length, &more) == 0) {
        readFailed = true;
        break;
      }
      length = std::min(length, kStreamChunkSize);  // never trust a length past the chunk
      text.append(chunk, length);
      if (more == 0) break;
      if (length < kStreamChunkSize) requester.WaitYield();
    }
  } catch (...) {
    if (response.streamRelease != nullptr) response.streamRelease(response.stream);
    throw;
  }
  if (response.streamRelease != nullptr) response.streamRelease(response.stream);
  if (readFailed) {
    result.Fail("Stream read error");
    return;
  }
  ParseJsonInPlace(result, text);
}

RequestResult<BindingValue> RequestValue(HostRequester& requester, RequestMethod method,
                                         std::string_view url) {
  HostCallResponse response;
  std::memset(&response, 0, sizeof(response));
  ResponseRelease release(response);

  RequestResult<BindingValue> result;
  RequestResult<NoValue> sent = SendRawRequest(requester, method, url, {}, response);
  if (sent.failed) {
    result.failed = true;
    result.error = std::move(sent.error);
    return result;
  }
  BindingResult value;
  if (response.streamRead != nullptr) {
    ReadResponseStream(requester, response, value);
    if (!value.ok()) {
      result.failed = true;
      FillRequestError(result.error, kStreamReadTemplate, method, url, value.ErrorText(), 0);
      return result;
    }
  } else if (!HostValueToBinding(value, response.result, "<result>")) {
    result.failed = true;
    FillRequestError(result.error, kConvertResponseTemplate, method, url, value.ErrorText(), 0);
    return result;
  }
  result.value = std::move(value.value());
  return result;
}

RequestResult<NoValue> RequestWithArguments(HostRequester& requester, RequestMethod method,
                                            std::string_view url,
                                            const RequestArguments& arguments) {
  // The structure orders its members by name; the arguments travel in that order.
  BindingValue structure;
  structure.EnsureStructure();
  for (const auto& [name, value] : arguments) structure.MemberForWriting(name) = value;

  std::vector<HostTypedArgument> entries;
  entries.reserve(structure.size());
  auto clearEntries = [&entries] {
    for (HostTypedArgument& entry : entries) ClearHostValue(entry.value);
  };
  RequestResult<NoValue> result;
  for (const auto& member : structure.Members()) {
    HostTypedArgument entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.name = member.name.data();
    if (!BindingToHostValue(member.value, entry.value, &requester.Registry())) {
      clearEntries();
      result.failed = true;
      FillRequestError(
          result.error, kParametersNotSentTemplate, method, url,
          FormatText("Couldn't convert argument '%1' into a host value.", std::string(member.name)),
          400);
      return result;
    }
    entries.push_back(entry);
  }

  HostCallResponse response;
  std::memset(&response, 0, sizeof(response));
  try {
    ResponseRelease release(response);
    result = SendRawRequest(requester, method, url, entries, response);
  } catch (...) {
    clearEntries();
    throw;
  }
  clearEntries();
  return result;
}

}  // namespace mau
