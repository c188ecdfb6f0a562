#include "binding/routing/function_table.h"

#include <unordered_set>

#include "binding/binding_help.h"
#include "binding/routing/dispatch.h"
#include "platform/format.h"

namespace mau {

// What one export entry points at, kept alive beside the entry.
struct FunctionTable::ExportedFunction {
  ExposedFunctionUserData userData;
  std::vector<std::string> typeNames;
  std::vector<PluginParameterEntry> parameters;
  std::string resultTypeName;
  std::vector<const char*> tags;
};

FunctionTable::FunctionTable(BindingTypeRegistry& registry, void* plugin)
    : registry_(registry), plugin_(plugin) {
  RegisterBuiltinTypes(registry_);
}

FunctionTable::~FunctionTable() = default;

std::unique_ptr<FunctionRegistration> FunctionTable::Prepare(std::string_view name,
                                                             const FunctionOptions& options,
                                                             size_t arity) {
  if (name.empty()) {
    errors_.push_back("A function needs a name");
    return nullptr;
  }
  if (Find(name) != nullptr) {
    errors_.push_back(FormatText("Function '%1' is already exposed", name));
    return nullptr;
  }
  const std::string_view urlTemplate = options.urlTemplate.empty() ? name : options.urlTemplate;
  if (std::string problem = ValidateTemplate(urlTemplate); !problem.empty()) {
    errors_.push_back(FormatText("Function '%1' is refused: %2", name, problem));
    return nullptr;
  }
  if (options.parameters.size() != arity) {
    errors_.push_back(
        FormatText("Function '%1' describes %2 parameters, but its native function takes %3", name,
                   options.parameters.size(), arity));
    return nullptr;
  }
  std::unordered_set<std::string_view> names;
  for (const ParameterOptions& parameter : options.parameters) {
    if (parameter.name.empty() || !names.insert(parameter.name).second) {
      errors_.push_back(FormatText("Function '%1' has an empty or repeated parameter name '%2'",
                                   name, parameter.name));
      return nullptr;
    }
  }

  auto registration = std::make_unique<FunctionRegistration>();
  BindingFunctionDescriptor& function = registration->function;
  function.name = name;
  function.nameSpace = options.nameSpace;
  function.description = options.description;
  function.help = options.help;
  function.tags = options.tags;
  function.threadSafe = options.threadSafe;
  function.registry = &registry_;
  for (const ParameterOptions& parameter : options.parameters) {
    BindingParameterDescriptor descriptor;
    descriptor.name = parameter.name;
    descriptor.description = parameter.description;
    descriptor.optional = parameter.optional;
    function.parameters.push_back(std::move(descriptor));
    registration->locations.push_back(parameter.location);
  }
  registration->urlTemplate = options.urlTemplate;
  registration->method = options.method;
  registration->customMethod = options.customMethod;
  if (urlTemplate.find('{') != std::string_view::npos) {
    registration->compiledTemplate =
        std::make_shared<const CompiledTemplate>(CompileTemplate(urlTemplate));
  }
  return registration;
}

const FunctionRegistration* FunctionTable::Add(std::unique_ptr<FunctionRegistration> registration) {
  registrations_.push_back(std::move(registration));
  return registrations_.back().get();
}

const FunctionRegistration* FunctionTable::ExposeHelp(std::string_view name) {
  auto help = [this](CallResult& result, BindingHelpFormat format) -> BindingValue {
    BindingResult built;
    BuildHelp(built, Functions(), registry_.Types(), registry_.Events(),
              static_cast<int32_t>(format) == 0 ? BindingHelpFormat::Full : format, registry_);
    if (!built.ok()) {
      result.Fail(built.ErrorText());
      return BindingValue();
    }
    return std::move(built.value());
  };
  return ExposeCallable<BindingValue, true>(
      name, help,
      {.description = "Describes the exposed functions, types and events.",
       .tags = {"$builtin", "help"},
       .parameters = {{.name = "format",
                       .description = "Full (the default) or Epytext",
                       .optional = true}},
       .threadSafe = true},
      native_invoker_internal::TypeList<BindingHelpFormat>());
}

const FunctionRegistration* FunctionTable::Find(std::string_view name) const {
  for (const auto& registration : registrations_) {
    if (registration->function.name == name) return registration.get();
  }
  return nullptr;
}

std::vector<const BindingFunctionDescriptor*> FunctionTable::Functions() const {
  std::vector<const BindingFunctionDescriptor*> out;
  out.reserve(registrations_.size());
  for (const auto& registration : registrations_) out.push_back(&registration->function);
  return out;
}

void FunctionTable::FillExports(PluginExports& exports) {
  BuildEntries();
  exports.functions = entries_.empty() ? nullptr : entries_.data();
  exports.functionCount = static_cast<uint32_t>(entries_.size());
}

std::span<const PluginFunctionEntry> FunctionTable::BuildEntries() {
  exported_.clear();
  entries_.clear();
  entries_.reserve(registrations_.size());
  for (const auto& registration : registrations_) {
    const BindingFunctionDescriptor& function = registration->function;
    auto exported = std::make_unique<ExportedFunction>();
    exported->userData = {plugin_, registration.get()};
    for (const BindingParameterDescriptor& parameter : function.parameters) {
      exported->typeNames.push_back(FullTypeIdentifier(parameter.type).type);
    }
    for (size_t i = 0; i < function.parameters.size(); ++i) {
      const BindingParameterDescriptor& parameter = function.parameters[i];
      PluginParameterEntry entry{};
      entry.name = parameter.name.c_str();
      entry.description = parameter.description.c_str();
      entry.typeName = exported->typeNames[i].c_str();
      entry.location = static_cast<uint32_t>(registration->locations[i]);
      entry.optional = parameter.optional ? 1 : 0;
      exported->parameters.push_back(entry);
    }
    exported->resultTypeName = FullTypeIdentifier(function.resultType).type;
    for (const std::string& tag : function.tags) exported->tags.push_back(tag.c_str());

    PluginFunctionEntry entry{};
    entry.size = sizeof(PluginFunctionEntry);
    entry.flags = (function.threadSafe ? 1u : 0u) | (function.async ? 2u : 0u);
    entry.userData = &exported->userData;
    entry.name = function.name.c_str();
    entry.nameSpace = function.nameSpace.c_str();
    entry.description = function.description.c_str();
    entry.help = function.help.c_str();
    entry.urlTemplate = registration->urlTemplate.c_str();
    entry.method = static_cast<uint32_t>(registration->method);
    entry.customMethod = registration->customMethod.c_str();
    entry.parameters = exported->parameters.empty() ? nullptr : exported->parameters.data();
    entry.parameterCount = static_cast<uint32_t>(exported->parameters.size());
    entry.resultTypeName = exported->resultTypeName.c_str();
    entry.tags = exported->tags.empty() ? nullptr : exported->tags.data();
    entry.tagCount = static_cast<uint32_t>(exported->tags.size());
    entry.handler = &HandleFunctionCall;
    entries_.push_back(entry);
    exported_.push_back(std::move(exported));
  }
  return entries_;
}

}  // namespace mau
