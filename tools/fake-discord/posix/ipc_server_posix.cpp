// The IPC server on a Unix stream socket. Only POSIX code belongs in this file.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "discord/posix/ipc_socket_posix.h"
#include "ipc_server.h"

namespace mau::fake_discord {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on fd until the deadline; the revents, or 0 on timeout.
short Wait(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd state{fd, events, 0};
    const int n = poll(&state, 1, RemainingMs(deadline));
    if (n > 0) return state.revents;
    if (n == 0) return 0;
    if (errno != EINTR) return POLLERR;
  }
}

// True when something accepts connections at `path`.
bool IsLive(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool live =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return live;
}

}  // namespace

struct IpcServer::Impl {
  int listener = -1;
  int client = -1;
  std::string path;
};

IpcServer::IpcServer() : impl_(new Impl) {}

IpcServer::~IpcServer() { Stop(); }

bool IpcServer::Listen(const std::string& directory, int index, std::string* error) {
  Stop();
  const std::string base = directory.empty() ? discord::DiscordSocketDirectory() : directory;
  const std::string path =
      base + (base.back() == '/' ? "" : "/") + "discord-ipc-" + std::to_string(index);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (index < 0 || index > 9 || path.size() >= sizeof address.sun_path) {
    *error = "cannot listen on " + path + ": not a usable socket name";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (S_ISSOCK(info.st_mode) && IsLive(address)) {
      *error = path + " is in use: another Discord (or stand-in) listens there";
      return false;
    }
    unlink(path.c_str());
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 8) != 0) {
    *error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  impl_->listener = fd;
  impl_->path = path;
  return true;
}

bool IpcServer::Accept(std::chrono::milliseconds timeout) {
  CloseClient();
  if (impl_->listener < 0) return false;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if ((Wait(impl_->listener, POLLIN, deadline) & POLLIN) == 0) return false;
    const int fd = accept4(impl_->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      impl_->client = fd;
      return true;
    }
    if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) return false;
  }
}

IoResult IpcServer::WaitReadable(std::chrono::milliseconds timeout) {
  if (impl_->client < 0) return IoResult::Closed;
  return Wait(impl_->client, POLLIN, Clock::now() + timeout) != 0 ? IoResult::Ok
                                                                  : IoResult::Timeout;
}

IoResult IpcServer::Read(void* buffer, size_t length, std::chrono::milliseconds timeout) {
  if (impl_->client < 0) return IoResult::Closed;
  const auto deadline = Clock::now() + timeout;
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = recv(impl_->client, bytes + done, length - done, MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return IoResult::Closed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoResult::Closed;
    if (Wait(impl_->client, POLLIN, deadline) == 0) return IoResult::Timeout;
  }
  return IoResult::Ok;
}

bool IpcServer::Write(const void* buffer, size_t length) {
  if (impl_->client < 0) return false;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = send(impl_->client, bytes + done, length - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void IpcServer::CloseClient() {
  if (impl_->client >= 0) close(impl_->client);
  impl_->client = -1;
}

bool IpcServer::HasClient() const { return impl_->client >= 0; }

void IpcServer::Stop() {
  CloseClient();
  if (impl_->listener >= 0) {
    close(impl_->listener);
    unlink(impl_->path.c_str());
  }
  impl_->listener = -1;
}

const std::string& IpcServer::endpoint() const { return impl_->path; }

}  // namespace mau::fake_discord
