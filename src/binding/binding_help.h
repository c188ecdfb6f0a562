// Introspection help: the builtin types and event that every registry carries, and the
// rendering of exposed functions, types and events as a help value in the native ("Full")
// format, structured records, or the "Epytext" format, one Python epytext text per item.
//
//   mau::RegisterBuiltinTypes(registry);
//   mau::BindingResult help;
//   mau::BuildHelp(help, functions, registry.Types(), registry.Events(),
//                  mau::BindingHelpFormat::Epytext, registry);
//   help.value().Member("types").Member("BindingAsyncState").AsString();
//   // "Possible states of an asynchronous operation.\r\n\r\n@cvar None: (0) Invalid state\r\n..."
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/function_descriptor.h"
#include "binding/type_registry.h"

namespace mau {

enum class BindingHelpFormat : int32_t {
  Full = 1,     // structured records, the Binding*Help types below
  Epytext = 2,  // one epytext text per item
};

// The records of the Full format.
struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};
struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};
struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;
  std::vector<std::string> tags;
};
struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  int32_t value = 0;
};
struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};
struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};
struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};
struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};

// State of an asynchronous operation.
enum class BindingAsyncState : int32_t {
  None = 0,
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};

// Builtin event payloads.
struct BindingGenericEvent {
  BindingValue data;
};
struct BindingCallbackEvent {
  uint32_t id = 0;
  std::vector<BindingValue> parameters;
};
struct BindingGenericAsyncEvent {
  uint32_t asyncToken = 0;
  BindingValue data;
};
struct BindingAsyncFailureEvent {
  uint32_t asyncToken = 0;
  std::string error;
};
struct BindingAsyncCancelEvent {
  uint32_t asyncToken = 0;
};

// Registers, in this order, BindingHelpFormat and the help records, BindingAsyncState, the
// five builtin event payloads and the event "OnCallback". Idempotent, like every
// registration.
void RegisterBuiltinTypes(BindingTypeRegistry& registry);

// Fills result's value with a structure of the members "functions", "types" and "events",
// each list sorted by name (byte-wise) first. Full: each member a collection of records
// (a record whose type is not registered in registry stays an empty element; a member
// without items stays empty). Epytext: each member a structure from item name to its text.
// Any other format leaves the three members empty.
void BuildHelp(BindingResult& result, std::vector<const BindingFunctionDescriptor*> functions,
               std::vector<const BindingTypeDescriptor*> types,
               std::vector<const BindingEventDescriptor*> events, BindingHelpFormat format,
               const BindingTypeRegistry& registry);

// The epytext texts of one item; lines end with "\r\n".
std::string FunctionEpytext(const BindingFunctionDescriptor& function);
std::string TypeEpytext(const BindingTypeDescriptor& type);
std::string EventEpytext(const BindingEventDescriptor& event);

}  // namespace mau
