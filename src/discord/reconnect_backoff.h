// The randomised, growing delay between connection attempts of the Discord client:
// from 500 ms, each step multiplies the delay by a random factor in [1, 3), up to 60 s.
//
//   ReconnectBackoff backoff(seed);
//   int64_t delay_ms = backoff.Advance(backoff.Draw());  // 500 <= delay_ms < 1500 at first
//
// Threads: one thread advances and resets it; current() and attempts() may be read from
// any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>

namespace mau::discord {

class ReconnectBackoff {
 public:
  static constexpr int64_t min_delay = 500;    // milliseconds
  static constexpr int64_t max_delay = 60000;  // milliseconds

  explicit ReconnectBackoff(uint64_t seed) : generator_(seed) {}

  // A uniform draw from [0.0, 1.0).
  double Draw() { return distribution_(generator_); }

  // One more attempt: the delay grows by trunc(2 * delay * u), capped at max_delay.
  // Returns the new delay in milliseconds.
  int64_t Advance(double u) {
    attempts_.store(attempts() + 1, std::memory_order_relaxed);
    const int64_t delay = current();
    const int64_t grown = delay + static_cast<int64_t>(2.0 * static_cast<double>(delay) * u);
    current_.store(grown < max_delay ? grown : max_delay, std::memory_order_relaxed);
    return current();
  }

  // Back to the first delay, as after a successful connection.
  void Reset() {
    current_.store(min_delay, std::memory_order_relaxed);
    attempts_.store(0, std::memory_order_relaxed);
  }

  int64_t current() const { return current_.load(std::memory_order_relaxed); }
  int32_t attempts() const { return attempts_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> current_{min_delay};
  std::atomic<int32_t> attempts_{0};
  std::mt19937_64 generator_;
  std::uniform_real_distribution<double> distribution_{0.0, 1.0};
};

}  // namespace mau::discord
