#include "binding/binding_help.h"

#include <algorithm>
#include <string_view>

#include "binding/field_converters.h"
#include "binding/record_builder.h"

namespace mau {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kParagraphEnd = "\r\n\r\n";

// Epytext markup: a leading '-' and every brace are written as escapes.
std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 0 && c == '-') {
      out += "E{-}";
    } else if (c == '{') {
      out += "E{lb}";
    } else if (c == '}') {
      out += "E{rb}";
    } else {
      out += c;
    }
  }
  return out;
}

void AppendTags(std::string& out, const std::vector<std::string>& tags) {
  if (tags.empty()) return;
  out += "@tags: ";
  for (size_t i = 0; i < tags.size(); ++i) {
    if (i > 0) out += ',';
    out += tags[i];
  }
  out += kLineEnd;
}

BindingFullTypeIdentifier FullIdentifier(const BindingTypeRef& type) {
  BindingTypeIdentifier identifier = FullTypeIdentifier(type);
  return {std::move(identifier.type), std::move(identifier.elementType)};
}

BindingTypeRef PayloadRef(const BindingTypeDescriptor* payload) {
  BindingTypeRef ref;
  ref.id = payload != nullptr && payload->isEnum ? BindingTypeId::Enum : BindingTypeId::Struct;
  ref.descriptor = payload;
  return ref;
}

std::string AsyncName(const BindingFunctionDescriptor& function) {
  if (!function.async || function.resultType.descriptor == nullptr) return std::string();
  return function.resultType.descriptor->name;
}

BindingFullFunctionHelp FunctionRecord(const BindingFunctionDescriptor& function) {
  BindingFullFunctionHelp record;
  record.name = function.name;
  record.nameSpace = function.nameSpace;
  record.description = function.description;
  record.help = function.help;
  record.tags = function.tags;
  record.threadSafe = function.threadSafe;
  record.async = AsyncName(function);
  record.returns = FullIdentifier(function.resultType);
  for (const BindingParameterDescriptor& parameter : function.parameters) {
    record.arguments.push_back({parameter.name, parameter.description,
                                FullIdentifier(parameter.type), parameter.optional});
  }
  return record;
}

BindingFullTypeHelp TypeRecord(const BindingTypeDescriptor& type) {
  BindingFullTypeHelp record;
  record.name = type.name;
  record.nameSpace = type.nameSpace;
  record.size = type.nativeSize;
  record.description = type.description;
  record.tags = type.tags;
  if (type.isEnum) {
    for (const auto& [name, enumerator] : type.enumerators) {
      record.values.push_back({enumerator.name, enumerator.description, enumerator.value});
    }
  } else {
    for (const BindingFieldDescriptor& field : type.fields) {
      record.fields.push_back({field.name, field.description, field.offset,
                               FullIdentifier(field.type), field.optional});
    }
  }
  return record;
}

BindingFullEventHelp EventRecord(const BindingEventDescriptor& event) {
  return {event.name, event.nameSpace, FullIdentifier(PayloadRef(event.payload)), event.description,
          event.tags};
}

// Appends the record converted by its registered descriptor; an empty element when the
// record type is not registered.
template <typename Record>
void AppendRecord(BindingResult& result, BindingValue& list, const Record& record,
                  const BindingTypeRegistry& registry) {
  BindingValue& element = list.AppendElement();
  const BindingTypeDescriptor* descriptor = registry.Find<Record>();
  if (descriptor != nullptr) StructToValue(result, element, &record, descriptor, registry);
}

template <typename T>
void SortByName(std::vector<const T*>& items) {
  std::stable_sort(items.begin(), items.end(),
                   [](const T* a, const T* b) { return a->name < b->name; });
}

}  // namespace

void RegisterBuiltinTypes(BindingTypeRegistry& registry) {
  const std::string help[] = {"$builtin", "help"};
  const std::string builtin[] = {"$builtin"};
  const std::string async[] = {"$builtin", "async"};

  registry.Enum<BindingHelpFormat>("BindingHelpFormat")
      .Description("Help format for binding functions and types.")
      .Tags(help)
      .Value("Full", BindingHelpFormat::Full, "Native help format")
      .Value("Epytext", BindingHelpFormat::Epytext, "Python epytext format");

  registry.Record<BindingFullTypeIdentifier>("BindingFullTypeIdentifier")
      .Description("Describes the type of a value.")
      .Tags(help)
      .Field("type", &BindingFullTypeIdentifier::type)
      .Field("elementType", &BindingFullTypeIdentifier::elementType);
  registry.Record<BindingFullArgumentHelp>("BindingFullArgumentHelp")
      .Description("Describes a function parameter.")
      .Tags(help)
      .Field("name", &BindingFullArgumentHelp::name)
      .Field("description", &BindingFullArgumentHelp::description)
      .Field("type", &BindingFullArgumentHelp::type)
      .Field("optional", &BindingFullArgumentHelp::optional);
  registry.Record<BindingFullFunctionHelp>("BindingFullFunctionHelp")
      .Description("Describes a function.")
      .Tags(help)
      .Field("name", &BindingFullFunctionHelp::name)
      .Field("nameSpace", &BindingFullFunctionHelp::nameSpace)
      .Field("arguments", &BindingFullFunctionHelp::arguments)
      .Field("returns", &BindingFullFunctionHelp::returns)
      .Field("description", &BindingFullFunctionHelp::description)
      .Field("help", &BindingFullFunctionHelp::help)
      .Field("threadSafe", &BindingFullFunctionHelp::threadSafe)
      .Field("async", &BindingFullFunctionHelp::async)
      .Field("tags", &BindingFullFunctionHelp::tags);
  registry.Record<BindingFullEnumValueHelp>("BindingFullEnumValueHelp")
      .Description("Describes an enumerator.")
      .Tags(help)
      .Field("name", &BindingFullEnumValueHelp::name)
      .Field("description", &BindingFullEnumValueHelp::description)
      .Field("value", &BindingFullEnumValueHelp::value);
  registry.Record<BindingFullFieldHelp>("BindingFullFieldHelp")
      .Description("Describes a member of a struct.")
      .Tags(help)
      .Field("name", &BindingFullFieldHelp::name)
      .Field("description", &BindingFullFieldHelp::description)
      .Field("offset", &BindingFullFieldHelp::offset)
      .Field("type", &BindingFullFieldHelp::type)
      .Field("optional", &BindingFullFieldHelp::optional);
  registry.Record<BindingFullTypeHelp>("BindingFullTypeHelp")
      .Description("Describes a struct or enum type.")
      .Tags(help)
      .Field("name", &BindingFullTypeHelp::name)
      .Field("nameSpace", &BindingFullTypeHelp::nameSpace)
      .Field("size", &BindingFullTypeHelp::size)
      .Field("description", &BindingFullTypeHelp::description)
      .Field("tags", &BindingFullTypeHelp::tags)
      .Field("fields", &BindingFullTypeHelp::fields)
      .Field("values", &BindingFullTypeHelp::values);
  registry.Record<BindingFullEventHelp>("BindingFullEventHelp")
      .Description("Describes an event.")
      .Tags(help)
      .Field("name", &BindingFullEventHelp::name)
      .Field("nameSpace", &BindingFullEventHelp::nameSpace)
      .Field("type", &BindingFullEventHelp::type)
      .Field("description", &BindingFullEventHelp::description)
      .Field("tags", &BindingFullEventHelp::tags);
  registry.Record<BindingFullApiHelp>("BindingFullApiHelp")
      .Description("Describes the exposed native API.")
      .Tags(help)
      .Field("functions", &BindingFullApiHelp::functions)
      .Field("types", &BindingFullApiHelp::types)
      .Field("events", &BindingFullApiHelp::events);

  registry.Enum<BindingAsyncState>("BindingAsyncState")
      .Description("Possible states of an asynchronous operation.")
      .Tags(async)
      .Value("None", BindingAsyncState::None, "Invalid state")
      .Value("Running", BindingAsyncState::Running, "The operation is in flight")
      .Value("Cancelling", BindingAsyncState::Cancelling,
             "A request to cancel the operation has been made")
      .Value("Cancelled", BindingAsyncState::Cancelled, "The operation was cancelled")
      .Value("Succeeded", BindingAsyncState::Succeeded, "The operation completed successfully")
      .Value("Failed", BindingAsyncState::Failed, "The operation encountered an error");

  registry.Record<BindingGenericEvent>("BindingGenericEvent")
      .Description("Represents generic data for an event.")
      .Tags(builtin)
      .Field("data", &BindingGenericEvent::data, "Event data");
  registry.Record<BindingCallbackEvent>("BindingCallbackEvent")
      .Description("Represents the parameters of a call to a provided callback.")
      .Tags(builtin)
      .Field("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .Field("parameters", &BindingCallbackEvent::parameters, "Callback parameters");
  registry.Record<BindingGenericAsyncEvent>("BindingGenericAsyncEvent")
      .Description("Represents generic data for an asynchronous event.")
      .Tags(async)
      .Field("asyncToken", &BindingGenericAsyncEvent::asyncToken, "Asynchronous operation token")
      .Field("data", &BindingGenericAsyncEvent::data, "Event data");
  registry.Record<BindingAsyncFailureEvent>("BindingAsyncFailureEvent")
      .Description("Represents a failed asynchronous operation.")
      .Tags(async)
      .Field("asyncToken", &BindingAsyncFailureEvent::asyncToken, "Asynchronous operation token")
      .Field("error", &BindingAsyncFailureEvent::error, "Error message");
  registry.Record<BindingAsyncCancelEvent>("BindingAsyncCancelEvent")
      .Description("Represents a cancelled asynchronous operation.")
      .Tags(async)
      .Field("asyncToken", &BindingAsyncCancelEvent::asyncToken, "Asynchronous operation token");

  registry.Event<BindingCallbackEvent>("OnCallback")
      .SetDescription("Fired when a callback is invoked.")
      .AddTag("$builtin");
}

std::string FunctionEpytext(const BindingFunctionDescriptor& function) {
  std::string out;
  if (!function.description.empty()) (out += Escape(function.description)) += kParagraphEnd;
  if (!function.help.empty()) (out += Escape(function.help)) += kParagraphEnd;
  for (const BindingParameterDescriptor& parameter : function.parameters) {
    if (!parameter.description.empty()) {
      out += "@param " + parameter.name + ": ";
      if (parameter.optional) out += "(optional) ";
      (out += Escape(parameter.description)) += kLineEnd;
    }
    (out += "@type " + parameter.name + ": " + EpytextTypeName(parameter.type)) += kLineEnd;
  }
  if (function.resultType.id != BindingTypeId::None) {
    (out += "@rtype: " + EpytextTypeName(function.resultType)) += kLineEnd;
  }
  AppendTags(out, function.tags);
  if (function.threadSafe) (out += "@threadsafe: true") += kLineEnd;
  if (function.async) (out += "@async: " + EpytextTypeName(function.resultType)) += kLineEnd;
  return out;
}

std::string TypeEpytext(const BindingTypeDescriptor& type) {
  std::string out;
  if (!type.description.empty()) (out += Escape(type.description)) += kParagraphEnd;
  if (type.isEnum) {
    std::vector<const BindingEnumerator*> byValue;
    for (const auto& [name, enumerator] : type.enumerators) byValue.push_back(&enumerator);
    std::stable_sort(byValue.begin(), byValue.end(),
                     [](const auto* a, const auto* b) { return a->value < b->value; });
    for (const BindingEnumerator* enumerator : byValue) {
      out += "@cvar " + enumerator->name + ": (" + std::to_string(enumerator->value) + ")";
      if (!enumerator->description.empty()) out += " " + enumerator->description;
      out += kLineEnd;
    }
    AppendTags(out, type.tags);
    (out += "@size: " + std::to_string(type.nativeSize)) += kLineEnd;
    return out;
  }
  for (const BindingFieldDescriptor& field : type.fields) {
    (out += "@ivar " + field.name + ": " + field.description) += kLineEnd;
    (out += "@type " + field.name + ": " + EpytextTypeName(field.type)) += kLineEnd;
  }
  AppendTags(out, type.tags);
  return out;
}

std::string EventEpytext(const BindingEventDescriptor& event) {
  std::string out = Escape(event.description);
  out += kParagraphEnd;
  AppendTags(out, event.tags);
  return out;
}

void BuildHelp(BindingResult& result, std::vector<const BindingFunctionDescriptor*> functions,
               std::vector<const BindingTypeDescriptor*> types,
               std::vector<const BindingEventDescriptor*> events, BindingHelpFormat format,
               const BindingTypeRegistry& registry) {
  if (!result.ok()) return;
  SortByName(functions);
  SortByName(types);
  SortByName(events);
  BindingValue& root = result.value();
  root.Reset();
  root.MemberForWriting("functions");
  root.MemberForWriting("types");
  root.MemberForWriting("events");
  if (format == BindingHelpFormat::Full) {
    for (const BindingFunctionDescriptor* function : functions) {
      AppendRecord(result, root.MemberForWriting("functions"), FunctionRecord(*function), registry);
      if (!result.ok()) return;
    }
    for (const BindingTypeDescriptor* type : types) {
      AppendRecord(result, root.MemberForWriting("types"), TypeRecord(*type), registry);
      if (!result.ok()) return;
    }
    for (const BindingEventDescriptor* event : events) {
      AppendRecord(result, root.MemberForWriting("events"), EventRecord(*event), registry);
      if (!result.ok()) return;
    }
  } else if (format == BindingHelpFormat::Epytext) {
    for (const BindingFunctionDescriptor* function : functions) {
      root.MemberForWriting("functions").MemberForWriting(function->name) =
          FunctionEpytext(*function);
    }
    for (const BindingTypeDescriptor* type : types) {
      root.MemberForWriting("types").MemberForWriting(type->name) = TypeEpytext(*type);
    }
    for (const BindingEventDescriptor* event : events) {
      root.MemberForWriting("events").MemberForWriting(event->name) = EventEpytext(*event);
    }
  }
}

}  // namespace mau
