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
  decltype(&::ReadFile) read_file;
  decltype(&::WriteFile) write_file;
  decltype(&::GetOverlappedResult) get_overlapped_result;
  decltype(&::CancelIoEx) cancel_io_ex;
  decltype(&::CloseHandle) close_handle;
};

// The table every IpcConnection uses. Replace entries only while no connection is in
// use (before the client starts, after it stops). A replacement reports its failure
// through SetLastError, as the real function does.
PipeCalls& PipeCallTable();

// How long Open waits, once per search, for a pipe name whose instances are all busy. A
// Discord that takes a connection makes a new instance at once; a longer wait would only
// hold the thread that Stop is waiting for.
inline constexpr DWORD kBusyPipeWaitMs = 20;

// How many bytes one overlapped read or write moves at most.
inline constexpr DWORD kPipeStageSize = 16 * 1024;

}  // namespace mau::discord
