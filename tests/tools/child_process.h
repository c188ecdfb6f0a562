// Runs a program as a child process, as a user at a terminal would: its standard input
// read from a file, its standard output and error written together to another, its exit
// status collected at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mau::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program with args. False, with the reason in error, when it cannot be started.
  bool Start(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::filesystem::path& input, const std::filesystem::path& output,
             std::string* error);

  // The child's exit status once it has ended; -1 when it is still running after timeout
  // (it is then killed) or ended by a signal.
  int Wait(std::chrono::milliseconds timeout);

  // Sends a POSIX signal; false where signals do not exist.
  bool Signal(int signal);

 private:
  void Kill();

  intptr_t child_ = 0;  // the process id (POSIX) or handle (Windows); 0 when none
};

}  // namespace mau::test
