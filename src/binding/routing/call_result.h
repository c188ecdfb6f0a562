// The outcome of one call of an exposed function (CallResult), the streamed body a function
// may answer with (ResponseStream), and the record of the call that functions with a
// deferred result receive (CallRecord).
//
//   void Download(mau::CallResult& result) {
//     result.SetStatus(200, "OK");
//     result.headers["content-type"] = "application/octet-stream";
//     result.SetStream(std::make_unique<MyStream>(...));
//   }
//
// A CallResult lives for one call; WriteResponse copies it into the host's response record
// and moves its stream there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/routing/request_method.h"

namespace mau {

class BindingTypeRegistry;

// Header name to value, keyed by the exact text.
using HeaderMap = std::unordered_map<std::string, std::string>;

// A body the host reads piece by piece after the call returned. The host's read callback is
// forwarded to Read unchanged; the host destroys the stream through the response's stream
// release callback. [host-thread]
class ResponseStream {
 public:
  virtual ~ResponseStream() = default;
  // Fills up to *length bytes of buffer; sets *length to the bytes delivered and *more to
  // whether more follow. Returns false on a read error.
  virtual bool Read(void* buffer, uint32_t* length, uint8_t* more) = 0;
  // The body's total size in bytes, a capacity hint for the host.
  virtual uint32_t Size() = 0;
};

class CallResult {
 public:
  // The result value with its ok flag; a failure carries the error text.
  BindingResult value;
  uint8_t bodyFlag = 0;   // passed to the host unchanged
  uint32_t bodyKind = 0;  // 1..3 reach the host, any other value as 0
  uint32_t status = 0;    // 0 until the function sets one
  std::string statusText;
  HeaderMap headers;

  bool ok() const noexcept { return value.ok(); }
  std::string_view ErrorText() const noexcept { return value.ErrorText(); }
  // Fails the call (the first failure wins) and drops any stream.
  void Fail(std::string_view message) {
    value.Fail(message);
    stream_.reset();
  }
  void SetStatus(uint32_t code, std::string_view text = {}) {
    status = code;
    statusText = text;
  }
  void SetStream(std::unique_ptr<ResponseStream> stream) { stream_ = std::move(stream); }
  ResponseStream* stream() const noexcept { return stream_.get(); }
  std::unique_ptr<ResponseStream> TakeStream() noexcept { return std::move(stream_); }

 private:
  std::unique_ptr<ResponseStream> stream_;
};

// What the dispatcher knows of a call, handed to the completion of functions with a
// deferred result. The last four members are left to the function.
struct CallRecord {
  uint32_t requestId = 0;
  const BindingTypeRegistry* registry = nullptr;
  int64_t startTime = 0;  // 100-nanosecond ticks since 1970-01-01 UTC, at dispatch
  RequestMethod method = RequestMethod::None;
  std::string customMethod;  // method Custom only
  std::string url;
  std::vector<BindingValue> arguments;  // the bound arguments, as given to Invoke
  HeaderMap requestHeaders;
  std::string responseText;
  HeaderMap responseHeaders;
  std::string note;
  uint32_t state = 1;
};

}  // namespace mau
