// Discord IPC over Unix stream sockets. Only POSIX code belongs in this file.
#include "discord/posix/ipc_socket_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "discord/ipc_connection.h"

namespace mau::discord {

namespace {

const char* const kSubFolders[] = {"", "app/com.discordapp.Discord/", "snap.discord/"};

bool IsDirectory(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

SocketCalls& SocketCallTable() {
  static SocketCalls calls = {&::socket, &::connect, &::recv, &::send, &::close, &::poll};
  return calls;
}

std::string DiscordSocketDirectory() {
  for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR", "TMP", "TEMP"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0' && IsDirectory(value)) return value;
  }
  return "/tmp";
}

std::vector<std::string> DiscordSocketPaths(const std::string& directory) {
  std::string base = directory;
  if (!base.empty() && base.back() != '/') base += '/';
  std::vector<std::string> paths;
  for (const char* sub_folder : kSubFolders) {
    for (int digit = 0; digit < kIpcNameCount; ++digit) {
      std::string path = base + sub_folder + "discord-ipc-" + static_cast<char>('0' + digit);
      if (path.size() < sizeof(sockaddr_un::sun_path)) paths.push_back(std::move(path));
    }
  }
  return paths;
}

IpcWakeup::IpcWakeup() {
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
    handles_[0] = ends[0];
    handles_[1] = ends[1];
  }
}

IpcWakeup::~IpcWakeup() {
  for (intptr_t end : handles_) {
    if (end != -1) close(Fd(end));
  }
}

void IpcWakeup::Signal() {
  if (handles_[1] == -1) return;
  const char byte = 1;
  // A full pipe is a wake-up already waiting: nothing is lost.
  while (write(Fd(handles_[1]), &byte, 1) < 0 && errno == EINTR) {
  }
}

IpcConnection::~IpcConnection() { Close(); }

int IpcConnection::NameCount() {
  return static_cast<int>(DiscordSocketPaths(DiscordSocketDirectory()).size());
}

int IpcConnection::Open(int first) {
  Close();
  const SocketCalls& calls = SocketCallTable();
  const std::vector<std::string> paths = DiscordSocketPaths(DiscordSocketDirectory());
  const int count = static_cast<int>(paths.size());
  if (count == 0) return -1;
  first %= count;
  if (first < 0) first += count;
  for (int n = 0; n < count; ++n) {
    const int index = (first + n) % count;
    const std::string& path = paths[static_cast<size_t>(index)];
    // Non-blocking from the start: neither a listener whose backlog is full nor a peer
    // that stops reading can hold the thread.
    const int fd = calls.socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // EINPROGRESS: the connection completes by itself; a failure shows at the first send
    // or receive. No retry after EINTR: the connection may be half made; the next attempt
    // starts over.
    if (calls.connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS) {
      handle_ = fd;
      is_open_ = true;
      return index;
    }
    const int error = errno;
    calls.close(fd);
    // Missing or stale names move on, and so does a listener that takes no connection now
    // (its backlog is full); anything else (permissions, an interrupted call) ends the
    // search.
    if (error != ENOENT && error != ECONNREFUSED && error != ENOTDIR && error != EAGAIN) {
      return -1;
    }
  }
  return -1;
}

long IpcConnection::Receive(void* buffer, size_t capacity) {
  if (!is_open_ || buffer == nullptr) return -1;
  if (capacity == 0) return 0;
  const SocketCalls& calls = SocketCallTable();
  for (;;) {
    const ssize_t n = calls.recv(Fd(handle_), buffer, capacity, MSG_DONTWAIT);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    Close();  // orderly shutdown by the peer (0), or a failed channel
    return -1;
  }
}

long IpcConnection::Send(const void* buffer, size_t length) {
  if (!is_open_ || buffer == nullptr) return -1;
  if (length == 0) return 0;
  const SocketCalls& calls = SocketCallTable();
  for (;;) {
    // MSG_NOSIGNAL: a peer that went away must not raise SIGPIPE in the host.
    const ssize_t n = calls.send(Fd(handle_), buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

void IpcConnection::Wait(IpcWakeup& wakeup, bool want_read, bool want_write, int32_t timeout_ms) {
  pollfd waits[2];
  nfds_t count = 0;
  pollfd* wake = nullptr;
  if (wakeup.valid()) {
    wake = &waits[count++];
    *wake = {Fd(wakeup.handles_[0]), POLLIN, 0};
  }
  const short events = static_cast<short>((want_read ? POLLIN : 0) | (want_write ? POLLOUT : 0));
  if (is_open_ && events != 0) waits[count++] = {Fd(handle_), events, 0};
  if (count == 0 && timeout_ms < 0) return;  // nothing could end an unlimited wait
  // An interrupted wait simply returns: the caller looks at everything again anyway.
  if (SocketCallTable().poll(waits, count, timeout_ms < 0 ? -1 : timeout_ms) > 0 &&
      wake != nullptr && (wake->revents & POLLIN) != 0) {
    char drained[64];
    while (read(wake->fd, drained, sizeof drained) > 0) {
    }
  }
}

void IpcConnection::Close() {
  if (handle_ >= 0) SocketCallTable().close(Fd(handle_));
  handle_ = -1;
  is_open_ = false;
}

}  // namespace mau::discord
