// Discord IPC over Win32 named pipes, with overlapped reads and writes so that nothing
// blocks. Only Win32 code belongs in this file.
//
// One read is kept in flight into a stage buffer; Receive hands out what has arrived
// there. Send copies bytes into a second stage and starts one write; while it is in
// flight, Send takes nothing more. Wait waits for the reader's or writer's event and the
// wake-up event together.
#include "discord/win32/ipc_pipe_win32.h"

#include <cstring>
#include <new>

#include "discord/ipc_connection.h"

namespace mau::discord {

namespace {

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

struct IpcConnection::Overlapped {
  OVERLAPPED read{};
  OVERLAPPED write{};
  // Manual-reset events, as overlapped I/O on a handle used for both directions needs.
  HANDLE read_event = nullptr;
  HANDLE write_event = nullptr;
  bool read_pending = false;
  bool read_failed = false;  // the peer has gone; the next Receive reports it
  bool write_pending = false;
  DWORD read_have = 0;   // bytes in read_stage
  DWORD read_taken = 0;  // of which Receive has handed out
  DWORD write_length = 0;
  char read_stage[kPipeStageSize];
  char write_stage[kPipeStageSize];

  void Forget() {
    read_pending = read_failed = write_pending = false;
    read_have = read_taken = write_length = 0;
  }

  // Collects a finished read, or starts one when none is in flight and nothing waits in
  // the stage. True when bytes wait in the stage or the channel failed (a Receive has
  // something to say), false while a read is in flight.
  bool Advance(HANDLE pipe) {
    const PipeCalls& calls = PipeCallTable();
    for (;;) {
      if (read_failed || read_taken < read_have) return true;
      DWORD got = 0;
      if (read_pending) {
        if (!calls.get_overlapped_result(pipe, &read, &got, FALSE)) {
          if (GetLastError() == ERROR_IO_INCOMPLETE) return false;
          read_failed = true;  // a broken pipe, or a failed read
        }
        read_pending = false;
        read_have = got;
        read_taken = 0;
        continue;
      }
      read = OVERLAPPED{};
      read.hEvent = read_event;
      // Finished at once or not, the count comes from GetOverlappedResult.
      if (calls.read_file(pipe, read_stage, kPipeStageSize, nullptr, &read) ||
          GetLastError() == ERROR_IO_PENDING) {
        read_pending = true;
        continue;
      }
      read_failed = true;
    }
  }
};

PipeCalls& PipeCallTable() {
  static PipeCalls calls = {&::CreateFileW,         &::WaitNamedPipeW, &::ReadFile,   &::WriteFile,
                            &::GetOverlappedResult, &::CancelIoEx,     &::CloseHandle};
  return calls;
}

IpcWakeup::IpcWakeup() {
  // Auto-reset: the wait that sees it takes it.
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event != nullptr) handles_[0] = reinterpret_cast<intptr_t>(event);
}

IpcWakeup::~IpcWakeup() {
  if (valid()) CloseHandle(Handle(handles_[0]));
}

void IpcWakeup::Signal() {
  if (valid()) SetEvent(Handle(handles_[0]));
}

IpcConnection::~IpcConnection() {
  Close();
  if (overlapped_ != nullptr) {
    CloseHandle(overlapped_->read_event);
    CloseHandle(overlapped_->write_event);
    delete overlapped_;
  }
}

int IpcConnection::NameCount() { return kIpcNameCount; }

int IpcConnection::Open(int first) {
  Close();
  if (overlapped_ == nullptr) {
    overlapped_ = new (std::nothrow) Overlapped();
    if (overlapped_ == nullptr) return -1;
    overlapped_->read_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    overlapped_->write_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  if (overlapped_->read_event == nullptr || overlapped_->write_event == nullptr) return -1;

  const PipeCalls& calls = PipeCallTable();
  wchar_t name[] = L"\\\\?\\pipe\\discord-ipc-0";
  wchar_t& digit = name[sizeof name / sizeof name[0] - 2];
  first %= kIpcNameCount;
  if (first < 0) first += kIpcNameCount;
  bool waited = false;
  for (int n = 0; n < kIpcNameCount;) {
    const int index = (first + n) % kIpcNameCount;
    digit = static_cast<wchar_t>(L'0' + index);
    const HANDLE pipe = calls.create_file(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(pipe);
      is_open_ = true;
      overlapped_->Forget();
      return index;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_BUSY && !waited) {
      // Once per search, a short wait for a new instance, then the same name again.
      waited = true;
      if (calls.wait_named_pipe(name, kBusyPipeWaitMs)) continue;
      ++n;
    } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PIPE_BUSY) {
      ++n;
    } else {
      return -1;
    }
  }
  return -1;
}

long IpcConnection::Receive(void* buffer, size_t capacity) {
  if (!is_open_ || buffer == nullptr) return -1;
  if (capacity == 0) return 0;
  Overlapped& o = *overlapped_;
  if (!o.Advance(Handle(handle_))) return 0;
  if (o.read_taken == o.read_have) {  // nothing left in the stage: the read failed
    Close();
    return -1;
  }
  const DWORD left = o.read_have - o.read_taken;
  const DWORD count = capacity < left ? static_cast<DWORD>(capacity) : left;
  std::memcpy(buffer, o.read_stage + o.read_taken, count);
  o.read_taken += count;
  return static_cast<long>(count);
}

long IpcConnection::Send(const void* buffer, size_t length) {
  if (!is_open_ || buffer == nullptr) return -1;
  if (length == 0) return 0;
  const PipeCalls& calls = PipeCallTable();
  Overlapped& o = *overlapped_;
  if (o.write_pending) {
    DWORD put = 0;
    if (!calls.get_overlapped_result(Handle(handle_), &o.write, &put, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) return 0;
      o.write_pending = false;
      return -1;
    }
    o.write_pending = false;
    if (put != o.write_length) return -1;
  }
  const DWORD count = length < kPipeStageSize ? static_cast<DWORD>(length) : kPipeStageSize;
  std::memcpy(o.write_stage, buffer, count);
  o.write_length = count;
  o.write = OVERLAPPED{};
  o.write.hEvent = o.write_event;
  if (!calls.write_file(Handle(handle_), o.write_stage, count, nullptr, &o.write) &&
      GetLastError() != ERROR_IO_PENDING) {
    return -1;
  }
  o.write_pending = true;  // finished or not, GetOverlappedResult says how it went
  return static_cast<long>(count);
}

void IpcConnection::Wait(IpcWakeup& wakeup, bool want_read, bool want_write, int32_t timeout_ms) {
  HANDLE handles[3];
  DWORD count = 0;
  if (wakeup.valid()) handles[count++] = Handle(wakeup.handles_[0]);
  if (is_open_) {
    Overlapped& o = *overlapped_;
    if (want_read) {
      if (o.Advance(Handle(handle_))) return;  // something to receive already
      handles[count++] = o.read_event;
    }
    if (want_write) {
      if (!o.write_pending) return;  // room for more at once
      handles[count++] = o.write_event;
    }
  }
  if (count == 0) {  // nothing could end an unlimited wait
    if (timeout_ms > 0) Sleep(static_cast<DWORD>(timeout_ms));
    return;
  }
  WaitForMultipleObjects(count, handles, FALSE,
                         timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
}

void IpcConnection::Close() {
  if (is_open_) {
    const PipeCalls& calls = PipeCallTable();
    const HANDLE pipe = Handle(handle_);
    Overlapped& o = *overlapped_;
    // The stages must outlive the operations that use them: cancel, then wait for each
    // to end.
    if (o.read_pending || o.write_pending) calls.cancel_io_ex(pipe, nullptr);
    DWORD ignored = 0;
    if (o.read_pending) calls.get_overlapped_result(pipe, &o.read, &ignored, TRUE);
    if (o.write_pending) calls.get_overlapped_result(pipe, &o.write, &ignored, TRUE);
    o.Forget();
    calls.close_handle(pipe);
  }
  handle_ = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
  is_open_ = false;
}

}  // namespace mau::discord
