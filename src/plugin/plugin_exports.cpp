#include "plugin/plugin_exports.h"

#include <cstring>

#include "binding/type_registry.h"

namespace mau {

void PluginExportTables::AddFunction(const PluginFunctionEntry& entry) {
  functions_.push_back(entry);
  Publish();
}

void PluginExportTables::ClearFunctions() {
  functions_.clear();
  Publish();
}

void PluginExportTables::BuildFromRegistry(const BindingTypeRegistry& registry) {
  types_.clear();
  typeStorage_.clear();
  events_.clear();
  eventTags_.clear();

  for (const BindingTypeDescriptor* type : registry.Types()) {
    TypeStorage& storage = typeStorage_.emplace_back();
    if (type->isEnum) {
      for (const auto& [name, enumerator] : type->enumerators) {
        PluginFieldEntry field;
        std::memset(&field, 0, sizeof(field));
        field.name = enumerator.name.c_str();
        field.description = enumerator.description.c_str();
        field.typeName = type->name.c_str();
        field.offset = static_cast<uint32_t>(enumerator.value);
        storage.fields.push_back(field);
      }
    } else {
      for (const BindingFieldDescriptor& descriptor : type->fields) {
        PluginFieldEntry field;
        std::memset(&field, 0, sizeof(field));
        field.name = descriptor.name.c_str();
        field.description = descriptor.description.c_str();
        field.typeName =
            storage.texts.emplace_back(FullTypeIdentifier(descriptor.type).type).c_str();
        field.offset = descriptor.offset;
        field.typeId = static_cast<uint32_t>(descriptor.type.id);
        field.elementTypeId = static_cast<uint32_t>(descriptor.type.elementId);
        field.flags = descriptor.flags;
        field.optional = descriptor.optional ? 1 : 0;
        storage.fields.push_back(field);
      }
    }
    for (const std::string& tag : type->tags) storage.tags.push_back(tag.c_str());

    PluginTypeEntry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.name = type->name.c_str();
    entry.nameSpace = type->nameSpace.c_str();
    entry.description = type->description.c_str();
    entry.typeId = type->typeId;
    entry.size = type->nativeSize;
    entry.kind = static_cast<uint32_t>(type->isEnum ? BindingTypeId::Enum : BindingTypeId::Struct);
    entry.fields = storage.fields.empty() ? nullptr : storage.fields.data();
    entry.fieldCount = static_cast<uint32_t>(storage.fields.size());
    entry.tags = storage.tags.empty() ? nullptr : storage.tags.data();
    entry.tagCount = static_cast<uint32_t>(storage.tags.size());
    types_.push_back(entry);
  }

  for (const BindingEventDescriptor* event : registry.Events()) {
    std::vector<const char*>& tags = eventTags_.emplace_back();
    for (const std::string& tag : event->tags) tags.push_back(tag.c_str());
    PluginEventEntry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.name = event->name.c_str();
    entry.nameSpace = event->nameSpace.c_str();
    entry.payloadTypeName = event->payload != nullptr ? event->payload->name.c_str() : "";
    entry.description = event->description.c_str();
    entry.tags = tags.empty() ? nullptr : tags.data();
    entry.tagCount = static_cast<uint32_t>(tags.size());
    events_.push_back(entry);
  }
  for (size_t i = 0; i + 1 < events_.size(); ++i) events_[i].next = &events_[i + 1];
  Publish();
}

void PluginExportTables::Publish() {
  exports_.functions = functions_.empty() ? nullptr : functions_.data();
  exports_.functionCount = static_cast<uint32_t>(functions_.size());
  exports_.types = types_.empty() ? nullptr : types_.data();
  exports_.typeCount = static_cast<uint32_t>(types_.size());
  exports_.events = events_.empty() ? nullptr : events_.data();
  exports_.eventCount = static_cast<uint32_t>(events_.size());
}

}  // namespace mau
