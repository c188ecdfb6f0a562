// Win32 side of the Discord IPC transport: the pipe functions it calls, as a table that
// tests can replace to inject faults. Only Win32 code belongs in this file.
//
//   PipeCalls& calls = PipeCallTable();
//   const PipeCalls saved = calls;
//   calls.write_file = &FailingWriteFile;  // a WINAPI function of the same signature
//   ...
//   calls = saved;
#pragma once

#include <windows.h>

namespace mau::discord {

struct PipeCalls {
  decltype(&::CreateFileW) create_file;
  decltype(&::WaitNamedPipeW) wait_named_pipe;
  decltype(&::PeekNamedPipe) peek_named_pipe;
  decltype(&::ReadFile) read_file;
  decltype(&::WriteFile) write_file;
  decltype(&::CloseHandle) close_handle;
};

// The table every IpcConnection uses. Replace entries only while no connection is in
// use (before the client starts, after it stops). A replacement reports its failure
// through SetLastError, as the real function does.
PipeCalls& PipeCallTable();

// How long Open waits for a busy pipe name, in milliseconds.
inline constexpr DWORD kBusyPipeWaitMs = 10000;

}  // namespace mau::discord
