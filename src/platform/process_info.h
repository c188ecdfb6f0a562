// Facts about the running process and thread, and the debugger's output channel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mau {

// Writes the full path of the process's executable into buffer (NUL-terminated, cut to
// fit). Returns false, leaving buffer empty, when the path cannot be read.
bool ReadExecutablePath(char* buffer, size_t size);

// The file name of a path: the text after its last separator ('\\' on Windows, '/'
// elsewhere), or the whole path when it has none.
const char* FileNamePart(const char* path);

uint32_t CurrentProcessId();

// The operating system's 32-bit number of the calling thread.
uint32_t CurrentThreadNumber();

// An identifier of the calling thread, printed with "%p" by the log line formatter.
const void* CurrentThreadTag();

// Hands one line to an attached debugger (OutputDebugStringA on Windows; on POSIX,
// standard error while a tracer is attached, else nothing).
void WriteDebuggerOutput(const char* text);

}  // namespace mau
