// Call dispatch: the host calls an exposed function through HandleFunctionCall with a
// request record and a response record to fill. The dispatcher checks the URL and method
// against the function's route, binds the arguments from five sources (request headers,
// path parameters, query string, the host's typed arguments and the body), invokes the
// function through its FunctionInvoker and writes the result, status, headers and an
// optional body stream into the response.
//
// Every failure is a text in the response with its error flag; nothing is thrown back to
// the host. Failures of argument binding stop the call before the function runs. Bad input
// (URL, query, headers, body) fails with a message, in memory and stack bounded by the
// input's size: dotted keys nest at most kMaxArgumentKeyDepth levels, an index in a dotted
// key is at most kMaxArgumentIndex, and the elements that indexes add to collections
// number at most kMaxArgumentElements per call.
//
// Threads: no lock and no state between calls; runs on whichever thread the host calls on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_value.h"
#include "binding/function_descriptor.h"
#include "binding/routing/call_result.h"
#include "binding/routing/function_registration.h"
#include "binding/routing/route.h"
#include "mau/plugin_abi.h"

namespace mau {

class BindingTypeRegistry;

// The largest index a dotted query key may name ("list.65535").
inline constexpr uint32_t kMaxArgumentIndex = 65535;
// The most elements that the indexes of one call's dotted keys may add to collections.
inline constexpr size_t kMaxArgumentElements = 4 * (size_t{kMaxArgumentIndex} + 1);
// The most segments a dotted key may have below its parameter.
inline constexpr size_t kMaxArgumentKeyDepth = 512;

// Parameter name to its index in the function's parameter list; a repeated name finds its
// first parameter. The few parameters of most functions are found by a scan, which costs
// less than building a hash map for every call; longer lists go into one.
class ParameterIndex {
 public:
  static constexpr size_t kNotFound = SIZE_MAX;

  explicit ParameterIndex(std::span<const BindingParameterDescriptor> parameters);
  size_t Find(std::string_view name) const noexcept;

 private:
  static constexpr size_t kScannedParameters = 16;

  std::span<const BindingParameterDescriptor> parameters_;
  std::unordered_map<std::string_view, size_t> map_;  // above kScannedParameters only
};

// What argument binding shares across the pairs of one call.
struct ArgumentBindingState {
  size_t elementsAdded = 0;  // elements that dotted-key indexes appended so far
};

// The host-facing entry of every exposed function. request->userData points at the
// function's ExposedFunctionUserData. [host-thread]
void MAU_ABI HandleFunctionCall(HostCallResponse* response, const HostCallRequest* request);

// Resolves a call against a sequence of routes and runs it; "Invalid function" with status
// 404 when no route fits the URL and method.
void DispatchCall(HostCallResponse& response, const HostCallRequest& request,
                  std::span<const Route> routes);

// Binds one (key, value) pair of a named source (query, path or header) to its parameter:
// the key names the parameter, optionally followed by ".member" or ".index" segments that
// descend into it.
void BindNamedValue(CallResult& result, std::vector<BindingValue>& arguments,
                    const ParameterIndex& parameterIndex, const BindingFunctionDescriptor& function,
                    std::span<const ParameterLocation> locations, std::string_view key,
                    std::string_view value, std::string_view contentType, ParameterLocation source,
                    ArgumentBindingState& state);

// Descends the dotted rest of a key below slot (a segment starting with a digit is an
// index, any other a member name) and decodes the value into the slot it reaches.
void BindMemberPath(CallResult& result, BindingValue& slot,
                    const BindingFunctionDescriptor& function, std::string_view rest,
                    std::string_view value, std::string_view contentType,
                    ArgumentBindingState& state);

// Turns one text into slot's value. Structured parameters (object, struct, vector) read a
// text that looks like MessagePack, JSON or YAML with that reader; everything else is
// stored as a string and converted to the native type when the function is invoked.
void DecodeParameterValue(CallResult& result, BindingValue& slot,
                          const BindingFunctionDescriptor& function, std::string_view label,
                          std::string_view value, std::string_view contentType, bool structured);

// Copies result into the response (which must be zeroed with its release function set):
// error text or value, body flag and kind, status and its text, headers, and the stream,
// whose ownership moves to the response.
void WriteResponse(HostCallResponse& response, CallResult& result,
                   const BindingTypeRegistry* registry);

}  // namespace mau
