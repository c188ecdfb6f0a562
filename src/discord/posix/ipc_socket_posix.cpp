// Discord IPC over Unix stream sockets. Only POSIX code belongs in this file.
#include "discord/posix/ipc_socket_posix.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "discord/ipc_connection.h"

namespace mau::discord {

namespace {

// A peer that does not take a connection or our bytes within this time counts as gone,
// like the 10-second wait for a busy pipe on Windows.
constexpr time_t kBlockingTimeoutSeconds = 10;

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

bool IpcConnection::Open() {
  Close();
  const SocketCalls& calls = SocketCallTable();
  for (const std::string& path : DiscordSocketPaths(DiscordSocketDirectory())) {
    const int fd = calls.socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // Bounds a connect to a listener whose backlog is full, and a send to a peer that
    // stopped reading.
    const timeval timeout{kBlockingTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // No retry after EINTR: the connection may be half made; the next attempt starts over.
    if (calls.connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      handle_ = fd;
      is_open_ = true;
      return true;
    }
    const int error = errno;
    calls.close(fd);
    // Missing or stale names move on; anything else (permissions, a full backlog that
    // did not drain in time) ends the search, as a failed pipe wait does on Windows.
    if (error != ENOENT && error != ECONNREFUSED && error != ENOTDIR) return false;
  }
  return false;
}

bool IpcConnection::Read(void* buffer, size_t length) {
  if (buffer == nullptr || handle_ < 0) return false;
  if (length == 0) return true;
  const SocketCalls& calls = SocketCallTable();
  const int fd = Fd(handle_);

  const ssize_t waiting = calls.recv(fd, buffer, length, MSG_PEEK | MSG_DONTWAIT);
  if (waiting < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Close();
    return false;
  }
  if (waiting == 0) {  // orderly shutdown by the peer, nothing left to read
    Close();
    return false;
  }
  if (static_cast<size_t>(waiting) < length) {
    // Not all there yet. If the peer has already hung up, it never will be.
    pollfd state{fd, POLLRDHUP, 0};
    if (calls.poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
      Close();
    }
    return false;
  }

  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = calls.recv(fd, bytes + done, length - done, MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      Close();
      return false;
    }
  }
  return true;
}

bool IpcConnection::Write(const void* buffer, size_t length) {
  if (length == 0) return true;
  if (buffer == nullptr || handle_ < 0) return false;
  const SocketCalls& calls = SocketCallTable();
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    // MSG_NOSIGNAL: a peer that went away must not raise SIGPIPE in the host.
    const ssize_t n = calls.send(Fd(handle_), bytes + done, length - done, MSG_NOSIGNAL);
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

void IpcConnection::Close() {
  if (handle_ >= 0) SocketCallTable().close(Fd(handle_));
  handle_ = -1;
  is_open_ = false;
}

}  // namespace mau::discord
