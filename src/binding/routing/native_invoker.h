// NativeInvoker: the FunctionInvoker of a native C++ function. It converts each bound
// argument to its native parameter with the field converters, runs the function and
// converts its result back into the call's value.
//
// A function may take a CallResult& first: it then receives the call's result, to set a
// status, headers or a stream, or to fail the call. Parameters are native field types
// (field_converters.h), by value or by const reference. A function that returns
// DeferredResult or DeferredAsyncResult finishes the call at completion, with the
// CallRecord of the call.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "binding/field_converters.h"
#include "binding/function_descriptor.h"
#include "binding/routing/function_registration.h"
#include "binding/static_type_key.h"

namespace mau {
namespace native_invoker_internal {

template <typename... A>
struct TypeList {};

// Splits a parameter pack into the optional leading CallResult& and the bound parameters.
template <typename... A>
struct Signature {
  static constexpr bool kTakesResult = false;
  using Bound = TypeList<A...>;
};
template <typename... A>
struct Signature<CallResult&, A...> {
  static constexpr bool kTakesResult = true;
  using Bound = TypeList<A...>;
};

template <typename R>
constexpr bool IsDeferred() {
  return std::is_same_v<R, DeferredResult> || std::is_same_v<R, DeferredAsyncResult>;
}

}  // namespace native_invoker_internal

// Call is a callable taking (CallResult&, Bound...) when kTakesResult, else (Bound...), and
// returning R.
template <typename R, bool kTakesResult, typename Call, typename... Bound>
class NativeInvoker final : public FunctionInvoker {
 public:
  NativeInvoker(Call call, const BindingFunctionDescriptor* function)
      : call_(std::move(call)), function_(function) {}

  uint32_t Invoke(CallResult& result, std::span<BindingValue> arguments,
                  uint32_t /*requestId*/) override {
    std::tuple<std::decay_t<Bound>...> natives;
    if (!Convert(result, arguments, natives, std::index_sequence_for<Bound...>())) return 0;
    if constexpr (std::is_void_v<R>) {
      Run(result, natives);
      return 0;
    } else if constexpr (native_invoker_internal::IsDeferred<R>()) {
      R deferred = Run(result, natives);
      const std::lock_guard<std::mutex> lock(mutex_);
      uint32_t handle = ++lastHandle_;
      if (handle == 0) handle = ++lastHandle_;
      pending_.insert_or_assign(handle, std::move(deferred));
      return handle;
    } else {
      R value = Run(result, natives);
      if (result.ok()) ConvertToValue(result.value, value, *function_->registry);
      return 0;
    }
  }

  void Complete(CallResult& result, CallRecord* record, uint32_t handle,
                uint32_t /*requestId*/) override {
    if constexpr (native_invoker_internal::IsDeferred<R>()) {
      R deferred;
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = pending_.find(handle);
        if (found == pending_.end()) return;
        deferred = found->second;
      }
      if (record != nullptr && deferred.finish) deferred.finish(result, *record);
    }
  }

  void Release(uint32_t handle) override {
    if constexpr (native_invoker_internal::IsDeferred<R>()) {
      const std::lock_guard<std::mutex> lock(mutex_);
      pending_.erase(handle);
    }
  }

  const StaticTypeKey& ResultType() const override { return StaticTypeKeyOf<R>(); }

 private:
  template <typename Tuple, size_t... I>
  bool Convert(CallResult& result, std::span<BindingValue> arguments, Tuple& natives,
               std::index_sequence<I...>) {
    if (arguments.size() < sizeof...(Bound)) {
      result.Fail("The call does not carry every argument of the function");
      return false;
    }
    [[maybe_unused]] auto one = [&](auto& native, size_t index) {
      if (!result.ok()) return;
      const BindingParameterDescriptor& parameter = function_->parameters[index];
      if (parameter.optional && arguments[index].is_empty()) return;  // keeps its default
      using Native = std::remove_reference_t<decltype(native)>;
      if constexpr (std::is_same_v<Native, BindingValue> &&
                    !native_invoker_internal::IsDeferred<R>()) {
        // An object parameter takes the bound tree without copying it; deferred results
        // keep the arguments for their CallRecord.
        native = std::move(arguments[index]);
      } else {
        AssignFromValue(result.value, native, arguments[index], parameter.name,
                        *function_->registry);
      }
    };
    (one(std::get<I>(natives), I), ...);
    return result.ok();
  }

  template <typename Tuple>
  R Run(CallResult& result, Tuple& natives) {
    return std::apply(
        [&](auto&... args) -> R {
          if constexpr (kTakesResult) {
            return call_(result, args...);
          } else {
            return call_(args...);
          }
        },
        natives);
  }

  Call call_;
  const BindingFunctionDescriptor* function_;
  std::mutex mutex_;
  uint32_t lastHandle_ = 0;
  // Deferred results between Invoke and Release, by handle; unused for other results.
  using Pending = std::conditional_t<native_invoker_internal::IsDeferred<R>(), R, int>;
  std::unordered_map<uint32_t, Pending> pending_;
};

}  // namespace mau
