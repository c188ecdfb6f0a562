// Loading a DLL with LoadLibraryW, and console interrupts. Only Win32 code belongs in this
// file.
#include <windows.h>

#include <atomic>
#include <string>

#include "plugin_library.h"

namespace mau::host {

namespace {

std::wstring Widen(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
  wide.resize(wide.size() - 1);
  return wide;
}

}  // namespace

bool PluginLibrary::Load(const std::string& path, std::string* error) {
  Unload();
  HMODULE module = LoadLibraryW(Widen(path).c_str());
  if (module == nullptr) {
    if (error != nullptr)
      *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  handle_ = module;
  export_ = reinterpret_cast<LoadPluginFn>(
      reinterpret_cast<void*>(GetProcAddress(module, MAU_PLUGIN_EXPORT_NAME)));
  if (export_ == nullptr) {
    if (error != nullptr)
      *error = std::string("no export ") + MAU_PLUGIN_EXPORT_NAME + " in " + path;
    Unload();
    return false;
  }
  return true;
}

void PluginLibrary::Unload() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
  export_ = nullptr;
}

const char* PluginLibrary::DefaultFileName() { return "mau-discord-rp.dll"; }

namespace {
void (*g_interrupt)(int) = nullptr;
std::atomic<bool> g_interruptedOnce{false};

BOOL WINAPI OnConsoleEvent(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  // As on POSIX, a second interrupt ends the program at once.
  if (g_interruptedOnce.exchange(true)) return FALSE;
  if (g_interrupt != nullptr) g_interrupt(type == CTRL_CLOSE_EVENT ? 143 : 130);
  // Windows ends the process as soon as the handler of a closing console returns: wait
  // here (Windows allows a few seconds) while the main thread stops the plug-in and exits.
  if (type == CTRL_CLOSE_EVENT) Sleep(INFINITE);
  return TRUE;
}
}  // namespace

void OnInterrupt(void (*handler)(int status)) {
  g_interrupt = handler;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::string ExecutableFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string folder(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), folder.data(), bytes, nullptr,
                      nullptr);
  const size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? "." : folder.substr(0, slash);
}

}  // namespace mau::host
