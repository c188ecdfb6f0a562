// Loading a plug-in library and finding its export, on each platform.
#pragma once

#include <string>

#include "mau/plugin_abi.h"

namespace mau::host {

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary() { Unload(); }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the library at path (UTF-8) and resolves load_mau_discord_rp. On failure
  // returns false with a readable reason in error.
  bool Load(const std::string& path, std::string* error);
  void Unload();
  LoadPluginFn Export() const { return export_; }

  // The plug-in library's file name on this platform.
  static const char* DefaultFileName();

 private:
  void* handle_ = nullptr;
  LoadPluginFn export_ = nullptr;
};

// Calls handler once when the user interrupts the program (Ctrl+C). The handler runs on
// a thread of the operating system's choice and must only set a flag.
void OnInterrupt(void (*handler)());

// The folder of the running executable, for finding the plug-in built beside it.
std::string ExecutableFolder();

}  // namespace mau::host
