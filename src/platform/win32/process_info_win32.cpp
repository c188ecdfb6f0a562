// Win32 process facts and debugger output. Only Win32 code belongs in this file.
#include <windows.h>

#include <cstring>

#include "platform/process_info.h"

namespace mau {

bool ReadExecutablePath(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  const DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  if (n == 0) {
    buffer[0] = '\0';
    return false;
  }
  buffer[n < size ? n : size - 1] = '\0';
  return true;
}

const char* FileNamePart(const char* path) {
  if (path == nullptr) return "";
  const char* last = std::strrchr(path, '\\');
  return last != nullptr ? last + 1 : path;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

uint32_t CurrentThreadNumber() { return GetCurrentThreadId(); }

const void* CurrentThreadTag() {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(GetCurrentThreadId()));
}

void WriteDebuggerOutput(const char* text) {
  if (text != nullptr) OutputDebugStringA(text);
}

}  // namespace mau
