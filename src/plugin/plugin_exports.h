// PluginExportTables: the storage behind the PluginExports record a plug-in hands to the
// host — its exposed functions, and its registered types and events in the host's entry
// layout.
//
// The function list starts empty. The routing layer fills it with AddFunction, one entry
// per function a plug-in exposes; the entries, and every text and array they point at,
// must stay valid until the plug-in is destroyed. The handshake builds the type and event
// tables from the registry once the plug-in has registered its types; the record returned
// by exports() keeps its address, so functions added later are visible to the host too.
#pragma once

#include <deque>
#include <span>
#include <string>
#include <vector>

#include "mau/plugin_abi.h"

namespace mau {

class BindingTypeRegistry;

class PluginExportTables {
 public:
  PluginExportTables() = default;
  PluginExportTables(const PluginExportTables&) = delete;
  PluginExportTables& operator=(const PluginExportTables&) = delete;

  // Appends an exposed function; the host's exports record follows at once.
  void AddFunction(const PluginFunctionEntry& entry);
  void ClearFunctions();
  std::span<const PluginFunctionEntry> Functions() const { return functions_; }

  // Rebuilds the type and event entries from registry's descriptors, in registration order.
  // The entries point into the descriptors: the registry must outlive them.
  void BuildFromRegistry(const BindingTypeRegistry& registry);

  PluginExports* exports() { return &exports_; }
  const PluginExports* exports() const { return &exports_; }

 private:
  void Publish();

  struct TypeStorage {
    std::vector<PluginFieldEntry> fields;
    std::deque<std::string> texts;
    std::vector<const char*> tags;
  };

  std::vector<PluginFunctionEntry> functions_;
  std::vector<PluginTypeEntry> types_;
  std::deque<TypeStorage> typeStorage_;
  std::vector<PluginEventEntry> events_;
  std::deque<std::vector<const char*>> eventTags_;
  PluginExports exports_{};
};

}  // namespace mau
