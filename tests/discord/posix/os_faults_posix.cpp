// Write faults on the socket transport. Only POSIX code belongs in this file.
#include <atomic>
#include <cerrno>

#include "discord/posix/ipc_socket_posix.h"
#include "os_faults.h"

namespace mau::discord::test {

namespace {

std::atomic<int> write_calls{0};
int failing = 0;
void (*observer)(int) = nullptr;
SocketCalls saved;

ssize_t FaultySend(int fd, const void* buffer, size_t length, int flags) {
  const int call = ++write_calls;
  if (observer != nullptr) observer(call);
  if (call == failing) {
    errno = EPIPE;
    return -1;
  }
  return saved.send(fd, buffer, length, flags);
}

}  // namespace

ScopedWriteFaults::ScopedWriteFaults(int failing_call, void (*before_write)(int)) {
  write_calls = 0;
  failing = failing_call;
  observer = before_write;
  saved = SocketCallTable();
  SocketCallTable().send = &FaultySend;
}

// Only the entry it replaced: a running I/O thread may be reading the others.
ScopedWriteFaults::~ScopedWriteFaults() { SocketCallTable().send = saved.send; }

int ScopedWriteFaults::calls() const { return write_calls; }

}  // namespace mau::discord::test
