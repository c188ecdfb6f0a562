// One local IPC channel to the Discord desktop application: the named pipe
// "\\?\pipe\discord-ipc-N" on Windows, the Unix stream socket "discord-ipc-N" in Discord's
// runtime directory elsewhere. Each platform file implements this one class.
//
// Reads are all or nothing and never block: a Read of n bytes succeeds only when n bytes
// are already waiting. A peer that went away reads as a closed channel.
//
// Used from one thread at a time (the Discord client's I/O thread); holds no locks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mau::discord {

// How many discord-ipc-N names Open tries: the digits 0 to 9.
inline constexpr int kIpcNameCount = 10;

class IpcConnection {
 public:
  IpcConnection() = default;
  ~IpcConnection() { Close(); }
  IpcConnection(const IpcConnection&) = delete;
  IpcConnection& operator=(const IpcConnection&) = delete;

  // Connects to the first discord-ipc-N that accepts, trying N = 0 to 9. A missing name
  // moves to the next digit; a busy one is waited for (up to 10 s); any other failure
  // ends the search. False leaves the connection closed.
  [[nodiscard]] bool Open();

  // Reads exactly `length` bytes when that many are waiting, else reads nothing and
  // returns false. A failed peek or read closes the channel (check IsOpen to tell "not
  // yet" from "gone").
  [[nodiscard]] bool Read(void* buffer, size_t length);

  // Writes all `length` bytes (true at once for 0). A failure leaves the channel open.
  [[nodiscard]] bool Write(const void* buffer, size_t length);

  void Close();
  bool IsOpen() const { return is_open_; }

 private:
  // A HANDLE on Windows, a file descriptor elsewhere; -1 is "none" on both.
  intptr_t handle_ = -1;
  bool is_open_ = false;
};

}  // namespace mau::discord
