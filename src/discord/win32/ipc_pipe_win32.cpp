// Discord IPC over Win32 named pipes. Only Win32 code belongs in this file.
#include "discord/win32/ipc_pipe_win32.h"

#include "discord/ipc_connection.h"

namespace mau::discord {

namespace {

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

PipeCalls& PipeCallTable() {
  static PipeCalls calls = {&::CreateFileW, &::WaitNamedPipeW, &::PeekNamedPipe,
                            &::ReadFile,    &::WriteFile,      &::CloseHandle};
  return calls;
}

bool IpcConnection::Open() {
  Close();
  const PipeCalls& calls = PipeCallTable();
  wchar_t name[] = L"\\\\?\\pipe\\discord-ipc-0";
  wchar_t& digit = name[sizeof name / sizeof name[0] - 2];
  for (int n = 0; n < kIpcNameCount;) {
    digit = static_cast<wchar_t>(L'0' + n);
    const HANDLE pipe = calls.create_file(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(pipe);
      is_open_ = true;
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      ++n;
    } else if (error == ERROR_PIPE_BUSY) {
      if (!calls.wait_named_pipe(name, kBusyPipeWaitMs)) return false;
    } else {
      return false;
    }
  }
  return false;
}

bool IpcConnection::Read(void* buffer, size_t length) {
  if (buffer == nullptr || !is_open_) return false;
  const PipeCalls& calls = PipeCallTable();
  DWORD waiting = 0;
  if (!calls.peek_named_pipe(Handle(handle_), nullptr, 0, nullptr, &waiting, nullptr)) {
    Close();
    return false;
  }
  if (waiting < length) return false;
  if (length == 0) return true;
  DWORD read = 0;
  if (!calls.read_file(Handle(handle_), buffer, static_cast<DWORD>(length), &read, nullptr) ||
      read != length) {
    Close();
    return false;
  }
  return true;
}

bool IpcConnection::Write(const void* buffer, size_t length) {
  if (length == 0) return true;
  if (buffer == nullptr || !is_open_) return false;
  DWORD written = 0;
  return PipeCallTable().write_file(Handle(handle_), buffer, static_cast<DWORD>(length), &written,
                                    nullptr) &&
         written == length;
}

void IpcConnection::Close() {
  if (is_open_) PipeCallTable().close_handle(Handle(handle_));
  handle_ = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
  is_open_ = false;
}

}  // namespace mau::discord
