// A host may load, start, stop and unload a plug-in many times in one process. Each cycle
// here runs the built library through mau-host's loader as far as a connection to the
// Discord stand-in; after the first cycles, the process's mappings and resident memory
// must stay where they are: the library gives back everything it took.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "../discord/ipc_test_support.h"
#include "fake_discord_core.h"
#include "host_runtime.h"
#include "process_footprint.h"
#include "resource_store.h"
#include "session_script.h"

namespace mau {
namespace {

using namespace std::chrono_literals;

constexpr int kCycles = 100;
constexpr int kWarmUpCycles = 10;  // the process's own first-use growth (stdio, caches)
// Noise allowed over the remaining cycles; before the library gave everything back, a cycle
// kept 24 to 40 KiB resident and 64 KiB of mapped pages.
constexpr size_t kResidentSlack = 512 * 1024;
constexpr size_t kMappingSlack = 2;
constexpr size_t kMappedBytesSlack = 512 * 1024;
// Heap bytes a cycle may leave. Windows only (the footprint reads no heap figure on POSIX,
// where valgrind checks a whole run instead): the thread library that the C++ runtime
// links into the DLL (winpthreads) never gives back what it made for the DLL's threads
// and locks: its records of the host thread and of the ended I/O thread, and the halves
// it allocates on first use of each std::mutex and std::condition_variable, which
// libstdc++ never destroys. That is about 2.3 KiB a cycle (with a TLS index and a few
// handles); a page of values, a plug-in object or a log core would still show.
constexpr size_t kHeapBytesPerCycle = 4 * 1024;

// AddressSanitizer keeps freed memory in quarantine, in mappings of its own that grow
// until the quarantine is full: there the cycles run for its checks, and LeakSanitizer's
// at exit, without measuring.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kFootprintIsMeaningful = false;
#else
constexpr bool kFootprintIsMeaningful = true;
#endif

TEST(UnloadingTheLibrary, AHundredCyclesLeaveNothingBehind) {
  discord::test::PrivateIpcDirectory ipc;
  fake_discord::FakeDiscordOptions options;
  options.directory = ipc.path();
  fake_discord::FakeDiscord discord(options);
  std::string error;
  ASSERT_TRUE(discord.Start(&error)) << error;
  host::ResourceStore store(std::string(MAU_EXAMPLES_DIR) + "/resources");
  host::SessionStep change;
  change.uri = "/mau-chat/v1/me";
  change.dataJson = R"({"availability": "dnd", "mau": {"gameStatus": "inGame",
      "gameQueueType": "ARAM_5x5", "championId": "3", "mapId": "12", "timeStamp": "5000"}})";

  std::vector<test::ProcessFootprint> footprints;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE(cycle);
    {
      host::HostRuntime host(store, [](int, std::string_view) {});
      ASSERT_TRUE(host.Load(MAU_PLUGIN_PATH, &error)) << error;
      ASSERT_TRUE(host.Start());
      host.Apply(change);
      // Connected and past the handshake: the I/O thread runs and has read and written.
      ASSERT_TRUE(discord::test::WaitUntil(
          [&] {
            host.RunUntil(host::Clock::now() + 1ms);
            return discord.WaitForReady(cycle + 1, 0ms);
          },
          30s));
      // Every tenth cycle, also until the presence has gone out.
      if (cycle % 10 == 0) {
        ASSERT_TRUE(discord::test::WaitUntil(
            [&] {
              host.RunUntil(host::Clock::now() + 10ms);
              return discord.WaitForActivity(0ms).has_value();
            },
            30s));
      }
      host.Stop();
    }
    // The stand-in keeps what it received until taken.
    while (discord.WaitForFrame(0ms)) {
    }
    while (discord.WaitForActivity(0ms)) {
    }
    footprints.push_back(test::ReadProcessFootprint());
  }

  const test::ProcessFootprint& base = footprints[kWarmUpCycles - 1];
  test::ProcessFootprint most;
  for (size_t i = kWarmUpCycles; i < footprints.size(); ++i) {
    most.mappings = std::max(most.mappings, footprints[i].mappings);
    most.mappedBytes = std::max(most.mappedBytes, footprints[i].mappedBytes);
    most.residentBytes = std::max(most.residentBytes, footprints[i].residentBytes);
    most.heapBytes = std::max(most.heapBytes, footprints[i].heapBytes);
  }
  std::printf(
      "after cycle %d: %zu mappings of %zu KiB, %zu KiB resident, %zu heap bytes; most after "
      "it: %zu mappings of %zu KiB, %zu KiB resident, %zu heap bytes\n",
      kWarmUpCycles, base.mappings, base.mappedBytes / 1024, base.residentBytes / 1024,
      base.heapBytes, most.mappings, most.mappedBytes / 1024, most.residentBytes / 1024,
      most.heapBytes);
  if (kFootprintIsMeaningful) {
    EXPECT_LE(most.mappings, base.mappings + kMappingSlack);
    EXPECT_LE(most.mappedBytes, base.mappedBytes + kMappedBytesSlack);
    EXPECT_LE(most.residentBytes, base.residentBytes + kResidentSlack);
    EXPECT_LE(most.heapBytes, base.heapBytes + kHeapBytesPerCycle * (kCycles - kWarmUpCycles));
  }
}

}  // namespace
}  // namespace mau
