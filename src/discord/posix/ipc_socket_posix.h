// POSIX side of the Discord IPC transport: the system calls it makes, as a table that
// tests can replace to inject faults, and where Discord's sockets are looked for. Only
// POSIX code belongs in this file.
//
//   SocketCalls& calls = SocketCallTable();
//   const SocketCalls saved = calls;
//   calls.send = [](int, const void*, size_t, int) -> ssize_t { errno = EPIPE; return -1; };
//   ...
//   calls = saved;
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace mau::discord {

struct SocketCalls {
  int (*socket)(int domain, int type, int protocol);
  int (*connect)(int fd, const sockaddr* address, socklen_t length);
  ssize_t (*recv)(int fd, void* buffer, size_t length, int flags);
  ssize_t (*send)(int fd, const void* buffer, size_t length, int flags);
  int (*close)(int fd);
  int (*poll)(pollfd* fds, nfds_t count, int timeout_ms);
};

// The table every IpcConnection uses. Replace entries only while no connection is in
// use (before the client starts, after it stops).
SocketCalls& SocketCallTable();

// The directory Discord puts its sockets in: the first of $XDG_RUNTIME_DIR, $TMPDIR,
// $TMP and $TEMP that names an existing directory, else "/tmp".
std::string DiscordSocketDirectory();

// Every socket path Open tries, in order: discord-ipc-0 to 9 in the directory itself,
// then in its Flatpak sub-folder "app/com.discordapp.Discord", then in its Snap
// sub-folder "snap.discord". Paths too long for a socket address are left out.
std::vector<std::string> DiscordSocketPaths(const std::string& directory);

}  // namespace mau::discord
