// Child processes through posix_spawn. Only POSIX code belongs in this file.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "child_process.h"

extern char** environ;

namespace mau::test {

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& input, const std::filesystem::path& output,
                         std::string* error) {
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    *error = "cannot start " + program.string() + ": " + std::strerror(failed);
    return false;
  }
  child_ = pid;
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (child_ == 0) return -1;
  const auto pid = static_cast<pid_t>(child_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      child_ = 0;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (done < 0 && errno != EINTR) {
      child_ = 0;
      return -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      Kill();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ChildProcess::Signal(int signal) {
  return child_ != 0 && kill(static_cast<pid_t>(child_), signal) == 0;
}

void ChildProcess::Kill() {
  if (child_ == 0) return;
  const auto pid = static_cast<pid_t>(child_);
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = 0;
}

}  // namespace mau::test
