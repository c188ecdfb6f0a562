// The Discord client: serialising a SET_ACTIVITY command, the time from SetPresence until
// the command is readable at a local Discord stand-in over a real socket, and the time
// from a restarted stand-in listening again until the presence is back.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "discord/rpc_client.h"
#include "discord/rpc_messages.h"
#include "fake_discord_core.h"

namespace {

using mau::discord::DiscordPresence;
using mau::discord::RpcClient;

DiscordPresence TypicalPresence() {
  DiscordPresence presence;
  presence.state = "In game";
  presence.details = "Crystal Canyon (Ranked Solo/Duo)";
  presence.start = 1700000000;
  presence.large_image = "champ_lynx";
  presence.large_text = "Lynx, the Quiet Blade";
  presence.small_image = "logo";
  return presence;
}

void BM_SerializeSetActivity(benchmark::State& state) {
  const DiscordPresence presence = TypicalPresence();
  static char buffer[mau::discord::kCommandCapacity];
  mau::bench::AllocationCounters allocations;
  int32_t nonce = 1;
  size_t bytes = 0;
  for (auto _ : state) {
    const size_t length =
        mau::discord::WriteSetActivity(buffer, sizeof buffer, nonce++, 4242, &presence);
    benchmark::DoNotOptimize(buffer);
    bytes += length;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  allocations.Report(state);
}
BENCHMARK(BM_SerializeSetActivity);

void BM_PresenceLatency(benchmark::State& state) {
  mau::bench::PrivateRuntimeDirectory runtime_directory;
  const std::unique_ptr<mau::fake_discord::FakeDiscord> stand_in =
      mau::bench::StartDiscordStandIn(state, runtime_directory.str());
  if (!stand_in) return;
  mau::fake_discord::FakeDiscord& discord = *stand_in;
  // Every presence is measured within the send budget: 64 in any millisecond is more than
  // this loop ever sends.
  if (!RpcClient::SetPresenceRateLimit({64, 1, 15000})) {
    state.SkipWithError("the send budget was refused");
    return;
  }
  RpcClient::Start("901274638105567233", nullptr, false, nullptr);

  // The first presence also waits for the connection; after it, every frame the stand-in
  // receives is a presence.
  DiscordPresence presence = TypicalPresence();
  RpcClient::SetPresence(presence);
  const auto connect_timeout = std::chrono::seconds(10);
  if (!discord.WaitForActivity(connect_timeout)) {
    RpcClient::Stop();
    state.SkipWithError("the client did not connect to the stand-in");
    return;
  }
  while (discord.WaitForFrame(std::chrono::milliseconds(0))) {
  }

  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(state.max_iterations));
  char text[32];
  int count = 0;
  for (auto _ : state) {
    std::snprintf(text, sizeof text, "Presence %d", ++count);
    presence.state = text;
    const auto begin = std::chrono::steady_clock::now();
    RpcClient::SetPresence(presence);
    const bool received = discord.WaitForFrame(std::chrono::seconds(5)).has_value();
    const auto end = std::chrono::steady_clock::now();
    if (!received) {
      state.SkipWithError("a presence did not arrive");
      break;
    }
    samples.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
  }
  RpcClient::Stop();
  discord.Stop();
  (void)RpcClient::SetPresenceRateLimit({});

  mau::bench::ReportPercentiles(state, samples);
}
BENCHMARK(BM_PresenceLatency)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Discord restarts: it stops listening for a while (from 0.4 s to 8.6 s, under the 10 s
// after which the back-off spaces attempts out), then listens again. Measured: from
// listening again until the latest presence is back.
void BM_PresenceRestoreAfterRestart(benchmark::State& state) {
  static const int kAwayMs[] = {400, 2200, 4100, 6300, 8600};
  mau::bench::PrivateRuntimeDirectory runtime_directory;
  const std::unique_ptr<mau::fake_discord::FakeDiscord> stand_in =
      mau::bench::StartDiscordStandIn(state, runtime_directory.str());
  if (!stand_in) return;
  mau::fake_discord::FakeDiscord& discord = *stand_in;
  std::string error;
  RpcClient::Start("901274638105567233", nullptr, false, nullptr);
  RpcClient::SetPresence(TypicalPresence());
  if (!discord.WaitForActivity(std::chrono::seconds(10))) {
    RpcClient::Stop();
    state.SkipWithError("the client did not connect to the stand-in");
    return;
  }

  std::vector<double> samples;
  size_t round = 0;
  for (auto _ : state) {
    discord.Stop();
    std::this_thread::sleep_for(
        std::chrono::milliseconds(kAwayMs[round++ % (sizeof kAwayMs / sizeof kAwayMs[0])]));
    while (discord.WaitForActivity(std::chrono::milliseconds(0))) {
    }
    const auto begin = std::chrono::steady_clock::now();
    if (!discord.Start(&error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    const bool restored = discord.WaitForActivity(std::chrono::seconds(30)).has_value();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
    if (!restored) {
      state.SkipWithError("the presence did not come back");
      break;
    }
    state.SetIterationTime(elapsed.count());
    samples.push_back(elapsed.count() * 1e6);
  }
  RpcClient::Stop();
  discord.Stop();

  mau::bench::ReportPercentiles(state, samples);
  if (!samples.empty()) state.counters["max_us"] = samples.back();
}
BENCHMARK(BM_PresenceRestoreAfterRestart)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
