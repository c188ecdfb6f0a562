// FunctionTable: the functions a plug-in exposes to the host, and the exposed-function
// entries of its PluginExports.
//
// A plug-in registers native functions or member functions with a name, an optional URL
// template and method, and a name, description, location and optional flag per parameter.
// The table builds each function's descriptor and invoker, checks the registration, and
// fills the export entries through which the host calls HandleFunctionCall.
//
//   struct Item { int32_t id = 0; std::string name; };   // registered with registry.Record
//   Item GetItem(int32_t id, bool verbose);
//
//   mau::FunctionTable functions(registry, plugin);
//   functions.Expose("GetItem", &GetItem,
//                    {.urlTemplate = "/items/{id}",
//                     .method = mau::RequestMethod::Get,
//                     .description = "One item by id.",
//                     .parameters = {{.name = "id", .location = mau::ParameterLocation::Path},
//                                    {.name = "verbose", .optional = true}}});
//   functions.Expose("Rename", &Catalog::Rename, &catalog, {...});
//   functions.ExposeHelp();                  // "Help": the help of this table and registry
//   for (const PluginFunctionEntry& entry : functions.BuildEntries())
//     plugin->ExportTables().AddFunction(entry);   // valid until a rebuild or the table's end
//
// A registration that cannot work is refused: Expose returns null and the reason is kept
// in RegistrationErrors(). Reasons: an empty or repeated function name, a URL template with
// unbalanced braces, a parameter list whose length differs from the native function's, an
// empty or repeated parameter name.
//
// Threads: register and export while loading, before the host calls; calls may then run
// on any thread, the table is not changed by them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/field_converters.h"
#include "binding/function_descriptor.h"
#include "binding/routing/function_registration.h"
#include "binding/routing/native_invoker.h"
#include "binding/routing/request_method.h"
#include "binding/type_registry.h"
#include "mau/plugin_abi.h"

namespace mau {

struct ParameterOptions {
  std::string_view name;
  std::string_view description = {};
  ParameterLocation location = ParameterLocation::Any;
  bool optional = false;  // may be left out; the native parameter keeps its default
};

struct FunctionOptions {
  std::string_view urlTemplate = {};  // empty: the function's name is its URL
  RequestMethod method = RequestMethod::None;
  std::string_view customMethod = {};  // with RequestMethod::Custom
  std::string_view description = {};
  std::string_view help = {};
  std::string_view nameSpace = {};
  std::vector<std::string> tags = {};
  std::vector<ParameterOptions> parameters = {};  // one per bound native parameter, in order
  bool threadSafe = false;
};

class FunctionTable {
 public:
  // Registers the builtin types in registry. plugin is the first half of each function's
  // host user data.
  explicit FunctionTable(BindingTypeRegistry& registry, void* plugin = nullptr);
  ~FunctionTable();
  FunctionTable(const FunctionTable&) = delete;
  FunctionTable& operator=(const FunctionTable&) = delete;

  template <typename R, typename... A>
  const FunctionRegistration* Expose(std::string_view name, R (*function)(A...),
                                     FunctionOptions options = {}) {
    using S = native_invoker_internal::Signature<A...>;
    return ExposeCallable<R, S::kTakesResult>(name, function, std::move(options),
                                              typename S::Bound());
  }
  template <typename C, typename R, typename... A>
  const FunctionRegistration* Expose(std::string_view name, R (C::*method)(A...), C* object,
                                     FunctionOptions options = {}) {
    using S = native_invoker_internal::Signature<A...>;
    auto call = [object, method](auto&&... args) -> R {
      return (object->*method)(std::forward<decltype(args)>(args)...);
    };
    return ExposeCallable<R, S::kTakesResult>(name, call, std::move(options), typename S::Bound());
  }
  template <typename C, typename R, typename... A>
  const FunctionRegistration* Expose(std::string_view name, R (C::*method)(A...) const,
                                     const C* object, FunctionOptions options = {}) {
    using S = native_invoker_internal::Signature<A...>;
    auto call = [object, method](auto&&... args) -> R {
      return (object->*method)(std::forward<decltype(args)>(args)...);
    };
    return ExposeCallable<R, S::kTakesResult>(name, call, std::move(options), typename S::Bound());
  }

  // Exposes the builtin help function: one optional parameter "format" (Full when absent,
  // or Epytext) and the help of this table's functions and the registry's types and
  // events as its result.
  const FunctionRegistration* ExposeHelp(std::string_view name = "Help");

  const FunctionRegistration* Find(std::string_view name) const;
  std::vector<const BindingFunctionDescriptor*> Functions() const;
  std::span<const std::unique_ptr<FunctionRegistration>> Registrations() const {
    return registrations_;
  }
  const std::vector<std::string>& RegistrationErrors() const { return errors_; }
  BindingTypeRegistry& registry() const { return registry_; }

  // Rebuilds the exposed-function entries, one per registration. The entries, and what
  // they point at, stay valid until the next rebuild or the table's end. A plug-in hands
  // them to its export tables while it registers its types:
  //
  //   for (const PluginFunctionEntry& entry : functions.BuildEntries())
  //     ExportTables().AddFunction(entry);
  std::span<const PluginFunctionEntry> BuildEntries();
  // BuildEntries, then points exports' function words at the entries; the other words of
  // exports are left alone.
  void FillExports(PluginExports& exports);
  std::span<const PluginFunctionEntry> Entries() const { return entries_; }

 private:
  struct ExportedFunction;

  template <typename R, bool kTakesResult, typename Call, typename... Bound>
  const FunctionRegistration* ExposeCallable(std::string_view name, Call call,
                                             FunctionOptions options,
                                             native_invoker_internal::TypeList<Bound...>) {
    auto registration = Prepare(name, options, sizeof...(Bound));
    if (registration == nullptr) return nullptr;
    BindingFunctionDescriptor& function = registration->function;
    size_t index = 0;
    ((function.parameters[index++].type = TypeRefOf<std::decay_t<Bound>>(registry_)), ...);
    if constexpr (native_invoker_internal::IsDeferred<R>()) {
      function.resultType.id = BindingTypeId::Object;
      function.async = std::is_same_v<R, DeferredAsyncResult>;
    } else if constexpr (!std::is_void_v<R>) {
      function.resultType = TypeRefOf<R>(registry_);
    }
    function.resultKey = &StaticTypeKeyOf<R>();
    registration->invoker = std::make_unique<NativeInvoker<R, kTakesResult, Call, Bound...>>(
        std::move(call), &function);
    return Add(std::move(registration));
  }

  // A registration with its descriptor texts, parameters and locations filled and its
  // template compiled; null (and an error kept) when the options are refused.
  std::unique_ptr<FunctionRegistration> Prepare(std::string_view name,
                                                const FunctionOptions& options, size_t arity);
  const FunctionRegistration* Add(std::unique_ptr<FunctionRegistration> registration);

  BindingTypeRegistry& registry_;
  void* plugin_;
  std::vector<std::unique_ptr<FunctionRegistration>> registrations_;
  std::vector<std::string> errors_;
  std::vector<std::unique_ptr<ExportedFunction>> exported_;
  std::vector<PluginFunctionEntry> entries_;
};

}  // namespace mau
