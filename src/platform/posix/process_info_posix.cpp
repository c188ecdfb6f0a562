// POSIX process facts and debugger output. Only POSIX code belongs in this file.
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/process_info.h"

namespace mau {

bool ReadExecutablePath(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  const ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
  if (n <= 0) return false;
  buffer[n] = '\0';
  return true;
}

const char* FileNamePart(const char* path) {
  if (path == nullptr) return "";
  const char* last = std::strrchr(path, '/');
  return last != nullptr ? last + 1 : path;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t CurrentThreadNumber() { return static_cast<uint32_t>(gettid()); }

const void* CurrentThreadTag() {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(pthread_self()));
}

namespace {

// A tracer (gdb, strace) shows up as a non-zero TracerPid in /proc/self/status.
bool DebuggerAttached() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return false;
  char line[256];
  bool attached = false;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      attached = std::strtol(line + 10, nullptr, 10) != 0;
      break;
    }
  }
  std::fclose(status);
  return attached;
}

}  // namespace

void WriteDebuggerOutput(const char* text) {
  // Reading /proc on every line would cost more than the line; ask once per process.
  static const bool attached = DebuggerAttached();
  if (attached && text != nullptr) std::fputs(text, stderr);
}

}  // namespace mau
