// Calls an exposed function the way a host does: a HostCallRequest built from plain texts
// and values, the entry's handler, and the answer read back from the HostCallResponse
// before its release function runs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/host_value.h"
#include "mau/plugin_abi.h"

namespace mau::test {

struct HostCall {
  uint32_t method = MAU_METHOD_GET;
  std::string url = {};
  std::vector<std::pair<std::string, std::string>> headers = {};
  // Typed arguments: a name (nullptr: positional) and a value built with BindingToHostValue.
  std::vector<std::pair<const char*, BindingValue>> arguments = {};
  std::string contentType = {};
  std::string body = {};
  bool hasBody = false;
  std::string customMethod = {};
  uint32_t requestId = 7;
};

struct HostAnswer {
  bool hasError = false;
  std::string error;
  uint32_t status = 0;
  std::string statusText;
  BindingValue value;
  std::map<std::string, std::string> headers;
  uint8_t bodyFlag = 0;
  uint32_t bodyKind = 0;
  std::string streamed;  // the whole stream, read in chunks of 5 bytes
  bool hadStream = false;
  bool zeroAfterRelease = false;
};

inline HostAnswer CallExposed(const PluginFunctionEntry& entry, const HostCall& call) {
  std::vector<HostHeader> headers;
  for (const auto& [name, value] : call.headers) headers.push_back({name.c_str(), value.c_str()});
  std::vector<HostTypedArgument> arguments(call.arguments.size());
  for (size_t i = 0; i < call.arguments.size(); ++i) {
    arguments[i].name = call.arguments[i].first;
    if (!BindingToHostValue(call.arguments[i].second, arguments[i].value, nullptr)) return {};
  }
  HostCallRequest request{};
  request.method = call.method;
  request.url = call.url.c_str();
  request.arguments = arguments.empty() ? nullptr : arguments.data();
  request.argumentCount = static_cast<uint32_t>(arguments.size());
  request.userData = entry.userData;
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.contentType = call.contentType.c_str();
  request.body = call.hasBody ? call.body.data() : nullptr;
  request.bodyLength = call.hasBody ? static_cast<uint32_t>(call.body.size()) : 0;
  request.requestId = call.requestId;
  request.customMethod = call.customMethod.c_str();

  HostCallResponse response{};
  entry.handler(&response, &request);
  for (HostTypedArgument& argument : arguments) ClearHostValue(argument.value);

  HostAnswer answer;
  answer.hasError = response.hasError != 0;
  if (answer.hasError && response.errorText != nullptr) answer.error = response.errorText;
  answer.status = response.status;
  if (response.statusText != nullptr) answer.statusText = response.statusText;
  BindingResult converted;
  if (HostValueToBinding(converted, response.result, "<result>")) answer.value = converted.value();
  for (uint32_t i = 0; i < response.headerCount; ++i) {
    answer.headers[response.headers[i].name] = response.headers[i].value;
  }
  answer.bodyFlag = response.bodyFlag;
  answer.bodyKind = response.bodyKind;
  if (response.streamRead != nullptr) {
    answer.hadStream = true;
    uint8_t more = 1;
    while (more != 0) {
      char chunk[5];
      uint32_t length = sizeof chunk;
      if (response.streamRead(response.stream, chunk, &length, &more) == 0) break;
      answer.streamed.append(chunk, length);
    }
    if (response.streamRelease != nullptr) response.streamRelease(response.stream);
  }
  if (response.release != nullptr) response.release(&response);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&response);
  answer.zeroAfterRelease = true;
  for (size_t i = 0; i < sizeof response; ++i) answer.zeroAfterRelease &= bytes[i] == 0;
  return answer;
}

}  // namespace mau::test
