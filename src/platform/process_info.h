// Facts about the running process and thread, and the debugger's output channel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mau {

// Writes the full path of the process's executable into buffer (NUL-terminated, cut to
// fit). Returns false, leaving buffer empty, when the path cannot be read.
bool ReadExecutablePath(char* buffer, size_t size);

uint32_t CurrentProcessId();

// An identifier of the calling thread, printed with "%p" by the log line formatter.
const void* CurrentThreadTag();

// Hands one line to an attached debugger (OutputDebugStringA on Windows; on POSIX,
// standard error while a tracer is attached, else nothing).
void WriteDebuggerOutput(const char* text);

}  // namespace mau
