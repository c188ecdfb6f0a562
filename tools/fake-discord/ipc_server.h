// The server end of Discord's local IPC channel: listens on one discord-ipc-N name (a
// Unix socket in a directory, or the named pipe \\.\pipe\discord-ipc-N), takes one client
// at a time, and moves raw bytes with timeouts. The Discord stand-in is built on it, and
// tests use it directly when they need to put exact bytes on the wire.
//
//   IpcServer server;
//   std::string error;
//   if (!server.Listen(directory, 3, &error)) ...
//   if (server.Accept(std::chrono::seconds(5))) {
//     char header[8];
//     if (server.Read(header, sizeof header, std::chrono::seconds(1)) == IoResult::Ok) ...
//   }
//
// Threads: one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace mau::fake_discord {

enum class IoResult { Ok, Timeout, Closed };

class IpcServer {
 public:
  IpcServer();
  ~IpcServer();  // as Stop
  IpcServer(const IpcServer&) = delete;
  IpcServer& operator=(const IpcServer&) = delete;

  // Starts listening on discord-ipc-<index>. POSIX: the socket goes into `directory`
  // (empty: Discord's own directory); a stale socket file is replaced, a live one is an
  // error. Windows: `directory` is ignored. False with a message in `error` on failure.
  [[nodiscard]] bool Listen(const std::string& directory, int index, std::string* error);

  // Waits up to `timeout` for a client; true once one is connected. A client that is
  // still connected is closed first.
  [[nodiscard]] bool Accept(std::chrono::milliseconds timeout);

  // Waits up to `timeout` until the client has sent something or hung up.
  [[nodiscard]] IoResult WaitReadable(std::chrono::milliseconds timeout);

  // Reads exactly `length` bytes, waiting up to `timeout` for them all. After Timeout,
  // part of them may have been consumed.
  [[nodiscard]] IoResult Read(void* buffer, size_t length, std::chrono::milliseconds timeout);

  // Writes all bytes to the client; false when there is none or it went away.
  [[nodiscard]] bool Write(const void* buffer, size_t length);

  // Hangs up on the client. Bytes already written stay readable for it.
  void CloseClient();
  bool HasClient() const;

  // Stops listening and hangs up; POSIX also removes the socket file.
  void Stop();

  // Where it listens: the socket path or the pipe name.
  const std::string& endpoint() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace mau::fake_discord
