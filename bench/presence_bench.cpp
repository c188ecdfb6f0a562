// The whole plug-in: one chat presence change published by the reference host, through
// the built library (event, champion lookup in a 200-entry summary, presence), until the
// SET_ACTIVITY frame is readable at a local Discord stand-in.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "fake_discord_core.h"
#include "host_runtime.h"
#include "resource_store.h"
#include "session_script.h"

namespace {

namespace fs = std::filesystem;

// The example resources with a champion summary of 200 invented entries.
void WriteResources(const fs::path& folder) {
  fs::copy(fs::path(MAU_EXAMPLES_DIR) / "resources", folder, fs::copy_options::recursive);
  std::ofstream list(folder / "mau-game-data/assets/v1/champion-summary.json", std::ios::trunc);
  list << "[";
  for (int id = 1; id <= 200; ++id) {
    list << (id > 1 ? ",\n" : "\n") << R"({"id": )" << id << R"(, "name": "Wayfarer Number )" << id
         << R"(", "alias": "Wayfarer)" << id << R"(", "title": "the )" << id
         << R"(th of the roster", "roles": ["fighter", "mage"]})";
  }
  list << "\n]\n";
}

std::string ChatChange(int sequence) {
  // Each change moves the start time, so every one is shown; the champion is one of the
  // last entries, so the lookup walks most of the list.
  return R"({"name": "Wandering Lantern", "mau": {"gameStatus": "inGame", )"
         R"("gameQueueType": "RANKED_SOLO_5x5", "gameId": "4711", "championId": ")" +
         std::to_string(190 + sequence % 10) + R"(", "mapId": "11", "timeStamp": ")" +
         std::to_string(1765339200000LL + sequence * 1000LL) + R"("}})";
}

void BM_ChatChangeToDiscord(benchmark::State& state) {
  mau::bench::PrivateRuntimeDirectory runtime_directory;
  const fs::path resources = fs::path(runtime_directory.str()) / "resources";
  WriteResources(resources);

  const std::unique_ptr<mau::fake_discord::FakeDiscord> stand_in =
      mau::bench::StartDiscordStandIn(state, runtime_directory.str());
  if (!stand_in) return;
  mau::fake_discord::FakeDiscord& discord = *stand_in;
  std::string error;
  // Every change is measured within the plug-in's send budget: 64 presences in any
  // millisecond is more than it is ever asked for here.
  mau::bench::ScopedEnvironmentVariable budget("MAU_DISCORD_RATE_LIMIT", "64/0.001");
  mau::host::ResourceStore store(resources);
  mau::host::HostRuntime host(store, [](int, std::string_view) {});
  if (!host.Load(MAU_PLUGIN_PATH, &error) || !host.Start()) {
    state.SkipWithError(("the plug-in did not start: " + error).c_str());
    return;
  }
  // The start-up reset arrives once the client has connected.
  if (!discord.WaitForActivity(std::chrono::seconds(10))) {
    state.SkipWithError("the plug-in did not connect to the stand-in");
    return;
  }

  mau::host::SessionStep step;
  step.uri = "/mau-chat/v1/me";
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(state.max_iterations));
  int sequence = 0;
  for (auto _ : state) {
    step.dataJson = ChatChange(++sequence);
    const auto begin = std::chrono::steady_clock::now();
    host.Apply(step);
    const auto activity = discord.WaitForActivity(std::chrono::seconds(5));
    const auto end = std::chrono::steady_clock::now();
    if (!activity || activity->large_text.empty()) {
      state.SkipWithError("a presence with its champion did not arrive");
      break;
    }
    samples.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
  }
  host.Stop();
  discord.Stop();

  mau::bench::ReportPercentiles(state, samples);
}
BENCHMARK(BM_ChatChangeToDiscord)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
