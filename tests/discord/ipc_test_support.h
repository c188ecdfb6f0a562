// Helpers of the Discord client tests: a private place for the IPC names, raw frames,
// and waiting for a condition another thread brings about.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "support/test_support.h"

namespace mau::discord::test {

// POSIX: a fresh directory as $XDG_RUNTIME_DIR, so the client finds only the test's own
// sockets. Windows: pipe names are global; tests that use them hold the CTest resource
// lock "discord-ipc" instead.
class PrivateIpcDirectory {
 public:
  const std::string& path() const { return path_; }

 private:
  mau::test::TempDir dir_;
  std::string path_ = dir_.str();
  mau::test::ScopedEnv runtime_dir_{"XDG_RUNTIME_DIR", path_};
};

// The bytes of one frame: opcode and length little-endian, then the payload.
inline std::string Frame(uint32_t opcode, std::string_view payload, uint32_t length = UINT32_MAX) {
  if (length == UINT32_MAX) length = static_cast<uint32_t>(payload.size());
  std::string bytes(8, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>(opcode >> (8 * i));
    bytes[4 + i] = static_cast<char>(length >> (8 * i));
  }
  return bytes.append(payload);
}

// Polls `condition` until it holds or `timeout` has passed; returns its last value.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace mau::discord::test
