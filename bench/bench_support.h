// Helpers shared by the benchmarks.
#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_discord_core.h"
#include "platform/alloc_hooks.h"
#include "platform/process_info.h"

namespace mau::bench {

// Reports the heap blocks and bytes allocated per iteration as the counters "blocks"
// and "bytes", from the allocation counters. Construct before the timed loop and call
// Report(state) after it.
class AllocationCounters {
 public:
  AllocationCounters() : start_(ReadMemoryCounters()) {}
  void Report(benchmark::State& state) const {
    const MemoryCounters now = ReadMemoryCounters();
    const double iterations = state.iterations() > 0 ? static_cast<double>(state.iterations()) : 1;
    state.counters["blocks"] =
        static_cast<double>(now.allocationCount - start_.allocationCount) / iterations;
    state.counters["bytes"] =
        static_cast<double>(now.bytesAllocated - start_.bytesAllocated) / iterations;
  }

 private:
  MemoryCounters start_;
};

// Sets an environment variable for its lifetime and puts the old value back afterwards.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironmentVariable() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A private directory as $XDG_RUNTIME_DIR for the stand-in's socket, removed afterwards.
class PrivateRuntimeDirectory {
 public:
  PrivateRuntimeDirectory()
      : path_(std::filesystem::temp_directory_path() /
              ("mau-bench-discord-" + std::to_string(mau::CurrentProcessId()))),
        variable_("XDG_RUNTIME_DIR", path_.string()) {
    std::filesystem::create_directories(path_);
  }
  ~PrivateRuntimeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  ScopedEnvironmentVariable variable_;
};

// A Discord stand-in listening in `directory`; null, with the benchmark skipped and the
// reason given, when it cannot listen.
inline std::unique_ptr<fake_discord::FakeDiscord> StartDiscordStandIn(
    benchmark::State& state, const std::string& directory) {
  fake_discord::FakeDiscordOptions options;
  options.directory = directory;
  auto discord = std::make_unique<fake_discord::FakeDiscord>(options);
  std::string error;
  if (!discord->Start(&error)) {
    state.SkipWithError(error.c_str());
    return nullptr;
  }
  return discord;
}

// Reports the median and the 99th percentile of latency samples in microseconds as the
// counters "p50_us" and "p99_us".
inline void ReportPercentiles(benchmark::State& state, std::vector<double>& samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters["p50_us"] = samples[samples.size() / 2];
  state.counters["p99_us"] = samples[samples.size() * 99 / 100];
}

}  // namespace mau::bench
