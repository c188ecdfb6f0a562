// Fault injection into the Discord transport's write call (send on POSIX, WriteFile on
// Windows), through the replaceable system-call table.
#pragma once

namespace mau::discord::test {

// While it lives, counts the transport's writes from 1 and makes write number
// `failing_call` fail (0: none fails). `before_write`, when given, runs before every
// write with its number, on the writing thread.
class ScopedWriteFaults {
 public:
  explicit ScopedWriteFaults(int failing_call, void (*before_write)(int call) = nullptr);
  ~ScopedWriteFaults();
  ScopedWriteFaults(const ScopedWriteFaults&) = delete;
  ScopedWriteFaults& operator=(const ScopedWriteFaults&) = delete;

  int calls() const;
};

}  // namespace mau::discord::test
