// The IPC server on a Win32 named pipe. Only Win32 code belongs in this file.
//
// One pipe instance always waits for the next client: when a client connects, a fresh
// instance is created at once, so a client that reconnects never finds the name busy.
#include <windows.h>

#include "ipc_server.h"

namespace mau::fake_discord {

namespace {

using Clock = std::chrono::steady_clock;

DWORD RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
}

// Completes an overlapped operation that reported ERROR_IO_PENDING, waiting until the
// deadline; on timeout it is cancelled. The bytes moved, or -1 on failure or timeout.
long Complete(HANDLE pipe, OVERLAPPED& overlapped, Clock::time_point deadline) {
  DWORD moved = 0;
  if (WaitForSingleObject(overlapped.hEvent, RemainingMs(deadline)) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
    return -1;
  }
  return GetOverlappedResult(pipe, &overlapped, &moved, FALSE) ? static_cast<long>(moved) : -1;
}

}  // namespace

struct IpcServer::Impl {
  HANDLE waiting = INVALID_HANDLE_VALUE;  // the instance that waits for the next client
  HANDLE client = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;  // for the overlapped operations, one at a time
  std::wstring name;
  std::string endpoint;

  HANDLE CreateInstance(bool first) const {
    return CreateNamedPipeW(
        name.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0,
        nullptr);
  }

  OVERLAPPED Overlapped() const {
    OVERLAPPED overlapped{};
    ResetEvent(event);
    overlapped.hEvent = event;
    return overlapped;
  }
};

IpcServer::IpcServer() : impl_(new Impl) {
  impl_->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

IpcServer::~IpcServer() {
  Stop();
  if (impl_->event != nullptr) CloseHandle(impl_->event);
}

bool IpcServer::Listen(const std::string&, int index, std::string* error) {
  Stop();
  if (index < 0 || index > 9) {
    *error = "pipe index must be 0 to 9";
    return false;
  }
  impl_->endpoint = "\\\\.\\pipe\\discord-ipc-" + std::to_string(index);
  impl_->name.assign(impl_->endpoint.begin(), impl_->endpoint.end());
  impl_->waiting = impl_->CreateInstance(true);
  if (impl_->waiting == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    *error = impl_->endpoint + (code == ERROR_ACCESS_DENIED
                                    ? " is in use: another Discord (or stand-in) listens there"
                                    : " cannot be created (error " + std::to_string(code) + ")");
    return false;
  }
  return true;
}

bool IpcServer::Accept(std::chrono::milliseconds timeout) {
  CloseClient();
  if (impl_->waiting == INVALID_HANDLE_VALUE) return false;
  const auto deadline = Clock::now() + timeout;
  OVERLAPPED overlapped = impl_->Overlapped();
  bool connected = ConnectNamedPipe(impl_->waiting, &overlapped) != FALSE;
  if (!connected) {
    switch (GetLastError()) {
      case ERROR_PIPE_CONNECTED:
        connected = true;
        break;
      case ERROR_IO_PENDING:
        connected = Complete(impl_->waiting, overlapped, deadline) >= 0;
        break;
      case ERROR_NO_DATA:  // a client came and went: make the instance wait again
        DisconnectNamedPipe(impl_->waiting);
        break;
      default:
        break;
    }
  }
  if (!connected) return false;
  impl_->client = impl_->waiting;
  impl_->waiting = impl_->CreateInstance(false);
  return true;
}

IoResult IpcServer::WaitReadable(std::chrono::milliseconds timeout) {
  if (impl_->client == INVALID_HANDLE_VALUE) return IoResult::Closed;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(impl_->client, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0) {
      return IoResult::Ok;  // data, or a client that went away
    }
    if (Clock::now() >= deadline) return IoResult::Timeout;
    Sleep(1);
  }
}

IoResult IpcServer::Read(void* buffer, size_t length, std::chrono::milliseconds timeout) {
  if (impl_->client == INVALID_HANDLE_VALUE) return IoResult::Closed;
  const auto deadline = Clock::now() + timeout;
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(impl_->client, nullptr, 0, nullptr, &waiting, nullptr)) {
      return IoResult::Closed;
    }
    if (waiting == 0) {
      if (Clock::now() >= deadline) return IoResult::Timeout;
      Sleep(1);
      continue;
    }
    const DWORD wanted = static_cast<DWORD>(length - done < waiting ? length - done : waiting);
    OVERLAPPED overlapped = impl_->Overlapped();
    DWORD moved = 0;
    long result;
    if (ReadFile(impl_->client, bytes + done, wanted, &moved, &overlapped)) {
      result = static_cast<long>(moved);
    } else if (GetLastError() == ERROR_IO_PENDING) {
      result = Complete(impl_->client, overlapped, deadline);
    } else {
      result = -1;
    }
    if (result <= 0) return IoResult::Closed;
    done += static_cast<size_t>(result);
  }
  return IoResult::Ok;
}

bool IpcServer::Write(const void* buffer, size_t length) {
  if (impl_->client == INVALID_HANDLE_VALUE) return false;
  if (length == 0) return true;
  OVERLAPPED overlapped = impl_->Overlapped();
  DWORD moved = 0;
  long result;
  if (WriteFile(impl_->client, buffer, static_cast<DWORD>(length), &moved, &overlapped)) {
    result = static_cast<long>(moved);
  } else if (GetLastError() == ERROR_IO_PENDING) {
    result = Complete(impl_->client, overlapped, Clock::now() + std::chrono::seconds(5));
  } else {
    result = -1;
  }
  return result == static_cast<long>(length);
}

void IpcServer::CloseClient() {
  if (impl_->client != INVALID_HANDLE_VALUE) CloseHandle(impl_->client);
  impl_->client = INVALID_HANDLE_VALUE;
}

bool IpcServer::HasClient() const { return impl_->client != INVALID_HANDLE_VALUE; }

void IpcServer::Stop() {
  CloseClient();
  if (impl_->waiting != INVALID_HANDLE_VALUE) CloseHandle(impl_->waiting);
  impl_->waiting = INVALID_HANDLE_VALUE;
}

const std::string& IpcServer::endpoint() const { return impl_->endpoint; }

}  // namespace mau::fake_discord
