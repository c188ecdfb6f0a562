// What the call dispatcher needs to know of one exposed function: its descriptor, the
// invoker bound to its native code, its URL template and method, and where each parameter
// may come from. FunctionTable (function_table.h) creates these; they live as long as the
// plug-in's function table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "binding/binding_value.h"
#include "binding/function_descriptor.h"
#include "binding/routing/call_result.h"
#include "binding/routing/request_method.h"
#include "binding/routing/url_template.h"
#include "binding/static_type_key.h"

namespace mau {

// Where a parameter's value may come from.
enum class ParameterLocation : uint32_t {
  Any = 0,
  Query = 1,
  Path = 2,
  Header = 4,
  Body = 5,
};

// Runs one native function for the dispatcher. Invoke converts the bound arguments to the
// native parameters and runs the function; Complete moves the native outcome into the
// result (record is non-null only for functions with a deferred result type); Release frees
// what Invoke's handle names (0: nothing). The dispatcher calls Invoke, then Complete when
// the result is still ok, then Release for a non-zero handle, all on the calling thread.
class FunctionInvoker {
 public:
  virtual ~FunctionInvoker() = default;
  [[nodiscard]] virtual uint32_t Invoke(CallResult& result, std::span<BindingValue> arguments,
                                        uint32_t requestId) = 0;
  virtual void Complete(CallResult& result, CallRecord* record, uint32_t handle,
                        uint32_t requestId) = 0;
  virtual void Release(uint32_t handle) = 0;
  virtual void Reserved() {}  // not used by the dispatcher
  virtual const StaticTypeKey& ResultType() const = 0;
};

// Result types of functions that finish their call with the CallRecord in hand: the native
// function returns one of these, and its finisher runs at completion, after the arguments
// were bound, with the record of the call. DeferredAsyncResult marks the function as
// asynchronous in the help.
struct DeferredResult {
  std::function<void(CallResult&, CallRecord&)> finish;
};
struct DeferredAsyncResult {
  std::function<void(CallResult&, CallRecord&)> finish;
};

}  // namespace mau

template <>
struct mau::PinnedStaticTypeId<mau::DeferredResult>
    : std::integral_constant<uint32_t, 0x466F9860u> {};
template <>
struct mau::PinnedStaticTypeId<mau::DeferredAsyncResult>
    : std::integral_constant<uint32_t, 0x89462EBFu> {};

namespace mau {

// Whether a result type key is one of the two deferred-result keys.
inline bool IsDeferredResultType(const StaticTypeKey& key) noexcept {
  return key.id == 0x466F9860u || key.id == 0x89462EBFu;
}

struct FunctionRegistration {
  BindingFunctionDescriptor function;
  std::unique_ptr<FunctionInvoker> invoker;
  std::string urlTemplate;  // empty: the function's name is the literal URL
  RequestMethod method = RequestMethod::None;
  std::string customMethod;                  // compared when method is Custom
  std::vector<ParameterLocation> locations;  // one per parameter
  // The compiled urlTemplate, made once when the function is registered and shared by the
  // routes of its calls; null when the template has no placeholder (or was not compiled).
  std::shared_ptr<const CompiledTemplate> compiledTemplate;
};

// The host's user data of an exposed function: the plug-in and the registration.
struct ExposedFunctionUserData {
  void* plugin = nullptr;
  const FunctionRegistration* registration = nullptr;
};

}  // namespace mau
