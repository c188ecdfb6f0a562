// Write faults on the named-pipe transport. Only Win32 code belongs in this file.
#include <atomic>

#include "discord/win32/ipc_pipe_win32.h"
#include "os_faults.h"

namespace mau::discord::test {

namespace {

std::atomic<int> write_calls{0};
int failing = 0;
void (*observer)(int) = nullptr;
PipeCalls saved;

BOOL WINAPI FaultyWriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written,
                            LPOVERLAPPED overlapped) {
  const int call = ++write_calls;
  if (observer != nullptr) observer(call);
  if (call == failing) {
    SetLastError(ERROR_NO_DATA);
    return FALSE;
  }
  return saved.write_file(file, buffer, length, written, overlapped);
}

}  // namespace

ScopedWriteFaults::ScopedWriteFaults(int failing_call, void (*before_write)(int)) {
  write_calls = 0;
  failing = failing_call;
  observer = before_write;
  saved = PipeCallTable();
  PipeCallTable().write_file = &FaultyWriteFile;
}

// Only the entry it replaced: a running I/O thread may be reading the others.
ScopedWriteFaults::~ScopedWriteFaults() { PipeCallTable().write_file = saved.write_file; }

int ScopedWriteFaults::calls() const { return write_calls; }

}  // namespace mau::discord::test
