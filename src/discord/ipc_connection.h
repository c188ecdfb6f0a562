// One local IPC channel to the Discord desktop application: the named pipe
// "\\?\pipe\discord-ipc-N" on Windows, the Unix stream socket "discord-ipc-N" in Discord's
// runtime directory elsewhere. Each platform file implements these two classes.
//
// Nothing here blocks: Receive takes what has arrived, Send hands over what the channel
// takes now (non-blocking sockets, overlapped pipe I/O), and the only wait is Wait, which
// returns as soon as the channel is ready, its wake-up is signalled or its time is up.
//
//   IpcWakeup wakeup;                        // signalled by other threads
//   IpcConnection channel;
//   int index = channel.Open(0);             // -1: no Discord found
//   long n = channel.Receive(buffer, sizeof buffer);
//   channel.Wait(wakeup, /*want_read=*/true, /*want_write=*/false, 500);
//
// Threads: IpcConnection is used from one thread at a time (the Discord client's I/O
// thread) and holds no locks; IpcWakeup::Signal may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mau::discord {

// How many discord-ipc-N digits there are: 0 to 9.
inline constexpr int kIpcNameCount = 10;

// Wakes the thread that waits in IpcConnection::Wait. A signal given while nobody waits is
// kept for the next wait, so a wake-up is never lost.
class IpcWakeup {
 public:
  IpcWakeup();
  ~IpcWakeup();
  IpcWakeup(const IpcWakeup&) = delete;
  IpcWakeup& operator=(const IpcWakeup&) = delete;

  // False when the operating system could not create it; it cannot be waited for then.
  bool valid() const { return handles_[0] != -1; }

  // [thread-safe] Makes the current or next Wait return.
  void Signal();

 private:
  friend class IpcConnection;
  // POSIX: the read and write ends of a non-blocking pipe. Windows: an auto-reset event
  // in the first entry. -1 is "none".
  intptr_t handles_[2] = {-1, -1};
};

class IpcConnection {
 public:
  IpcConnection() = default;
  ~IpcConnection();  // as Close
  IpcConnection(const IpcConnection&) = delete;
  IpcConnection& operator=(const IpcConnection&) = delete;

  // How many names Open may try: on Windows the ten pipe names, on POSIX the ten socket
  // names in each place Discord may put them.
  static int NameCount();

  // Connects to the first name that accepts, trying them in order from name number
  // `first` (taken modulo NameCount) round to the one before it, and returns the number
  // of the name it connected to. A missing name, or one that takes no connection now, moves
  // on to the next; any other failure ends the search. -1 leaves the channel closed.
  [[nodiscard]] int Open(int first);

  // Reads what has arrived, at most `capacity` bytes. The count read; 0 when nothing is
  // waiting; -1 when the peer has gone (the channel is closed then).
  [[nodiscard]] long Receive(void* buffer, size_t capacity);

  // Hands over as many of `length` bytes as the channel takes now, in order. The count
  // taken (0: none now, wait for writability); -1 when the channel failed (it stays open).
  // Bytes taken are the channel's: they reach the peer unless the channel fails.
  [[nodiscard]] long Send(const void* buffer, size_t length);

  // Waits until `wakeup` is signalled, `timeout_ms` has passed (-1: no limit), or the
  // channel has something to read (`want_read`) or can take more bytes (`want_write`). A
  // closed channel waits only for the wake-up and the time.
  void Wait(IpcWakeup& wakeup, bool want_read, bool want_write, int32_t timeout_ms);

  void Close();
  bool IsOpen() const { return is_open_; }

 private:
  struct Overlapped;  // Windows: the reads and writes in flight

  // A HANDLE on Windows, a file descriptor elsewhere; -1 is "none" on both.
  intptr_t handle_ = -1;
  bool is_open_ = false;
  Overlapped* overlapped_ = nullptr;
};

}  // namespace mau::discord
