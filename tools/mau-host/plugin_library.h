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

// Calls handler when the user interrupts the program or asks it to end, with the exit
// status that reports it: 130 for SIGINT (Ctrl+C, and Ctrl+Break on Windows), 143 for
// SIGTERM (and the console window closing on Windows). A second SIGINT or SIGTERM ends
// the program at once. The handler runs in a signal handler or on a thread of the
// operating system's choice and must only set an atomic flag.
void OnInterrupt(void (*handler)(int status));

// The folder of the running executable, for finding the plug-in built beside it.
std::string ExecutableFolder();

}  // namespace mau::host
