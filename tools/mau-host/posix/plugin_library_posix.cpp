// Loading a shared object with dlopen, and POSIX signals. Only POSIX code belongs in this
// file.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <string>

#include "plugin_library.h"

namespace mau::host {

bool PluginLibrary::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    if (error != nullptr) *error = dlerror();
    return false;
  }
  export_ = reinterpret_cast<LoadPluginFn>(dlsym(handle_, MAU_PLUGIN_EXPORT_NAME));
  if (export_ == nullptr) {
    if (error != nullptr)
      *error = std::string("no export ") + MAU_PLUGIN_EXPORT_NAME + " in " + path;
    Unload();
    return false;
  }
  return true;
}

void PluginLibrary::Unload() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  export_ = nullptr;
}

const char* PluginLibrary::DefaultFileName() { return "libmau-discord-rp.so"; }

namespace {
void (*g_interrupt)(int) = nullptr;
volatile std::sig_atomic_t g_interrupted = 0;
void OnSignal(int signal) {
  // A second SIGINT or SIGTERM, of either kind, ends a plug-in that does not stop.
  if (g_interrupted != 0) _exit(128 + signal);
  g_interrupted = 1;
  if (g_interrupt != nullptr) g_interrupt(128 + signal);
}
}  // namespace

void OnInterrupt(void (*handler)(int status)) {
  g_interrupt = handler;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESTART: a thread blocked reading input goes on reading.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string folder(path);
  const size_t slash = folder.rfind('/');
  return slash == std::string::npos ? "." : folder.substr(0, slash);
}

}  // namespace mau::host
