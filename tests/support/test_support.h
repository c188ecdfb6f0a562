// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/alloc_hooks.h"

namespace mau::test {

// Heap activity between construction and the call of Blocks() / Bytes(), read from the
// allocation counters. Every test program routes operator new through the hooks.
class AllocationProbe {
 public:
  AllocationProbe() : start_(ReadMemoryCounters()) {}
  uint64_t Blocks() const { return ReadMemoryCounters().allocationCount - start_.allocationCount; }
  uint64_t Bytes() const { return ReadMemoryCounters().bytesAllocated - start_.bytesAllocated; }

 private:
  MemoryCounters start_;
};

// A fresh directory below the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Sets (or with nullopt, removes) an environment variable for the scope's duration.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace mau::test
