// The host bridge: one resource event from the host's callback to the plug-in's handler,
// and one request whose 50 KB JSON body arrives as a stream.
#include <cstring>
#include <string>

#include "bench_support.h"
#include "binding/host_value.h"
#include "plugin_fixture.h"

namespace mau::bench {
namespace {

// A chat presence as the host publishes it for the local player in game (invented).
BindingValue ChatPresence() {
  BindingValue me;
  me.MemberForWriting("availability") = "dnd";
  me.MemberForWriting("gameName") = "Quillfeather";
  me.MemberForWriting("gameTag") = "EUW";
  me.MemberForWriting("icon") = 4821;
  me.MemberForWriting("id") = "c3f1a2b4-7d9e-4f10-9b2a-55e0c1d2e3f4@eu1.pvp.net";
  me.MemberForWriting("name") = "Quillfeather";
  me.MemberForWriting("pid") = "c3f1a2b4-7d9e-4f10-9b2a-55e0c1d2e3f4@eu1.pvp.net";
  me.MemberForWriting("puuid") = "c3f1a2b4-7d9e-4f10-9b2a-55e0c1d2e3f4";
  me.MemberForWriting("statusMessage") = "back in five";
  me.MemberForWriting("summonerId") = 812934401;
  me.MemberForWriting("time") = 1765360000000ull;
  BindingValue& lol = me.MemberForWriting("lol");
  lol.MemberForWriting("gameStatus") = "inGame";
  lol.MemberForWriting("championId") = "103";
  lol.MemberForWriting("gameQueueType") = "RANKED_SOLO_5x5";
  lol.MemberForWriting("mapId") = "11";
  lol.MemberForWriting("queueId") = "420";
  lol.MemberForWriting("timeStamp") = "1765359876543";
  lol.MemberForWriting("isObservable") = "ALL";
  lol.MemberForWriting("level") = "187";
  lol.MemberForWriting("rankedLeagueTier") = "GOLD";
  lol.MemberForWriting("rankedLeagueDivision") = "II";
  lol.MemberForWriting("skinVariant") = "";
  lol.MemberForWriting("regalia") = "{\"bannerType\":2,\"crestType\":1}";
  return me;
}

void BM_ResourceEvent(benchmark::State& state) {
  test::TestHost host;
  test::StartedPlugin<> plugin(host);
  size_t handled = 0;
  plugin->ObserveResource("/mau-chat/v1/me", [&handled](const PluginResourceEvent& event) {
    handled += event.data.size();
  });

  BindingValue event;
  event.MemberForWriting("uri") = "/mau-chat/v1/me";
  event.MemberForWriting("eventType") = "Update";
  event.MemberForWriting("data") = ChatPresence();
  HostEventMessage message;
  std::memset(&message, 0, sizeof(message));
  message.eventName = "OnJsonApiEvent_mau-chat_v1_me";
  message.userData = host.subscriptions.at(message.eventName).userData;
  if (!BindingToHostValue(event, message.payload, nullptr)) state.SkipWithError("no payload");

  AllocationCounters counters;
  for (auto _ : state) {
    PluginCore::OnHostResourceEvent(&message);
  }
  counters.Report(state);
  benchmark::DoNotOptimize(handled);
  if (handled == 0) state.SkipWithError("the handler never ran");
  ClearHostValue(message.payload);
}
BENCHMARK(BM_ResourceEvent);

// About 50 KB of champion summaries (invented names), as JSON.
std::string ChampionSummaryJson() {
  static const char* const kNames[] = {"Ember", "Frost", "Dune", "Sable", "Quill", "Rook"};
  std::string json = "[";
  for (int i = 0; json.size() < 50 * 1024; ++i) {
    if (i > 0) json += ',';
    const std::string name = std::string(kNames[i % 6]) + std::to_string(i);
    json += "{\"id\":" + std::to_string(i + 1) + ",\"name\":\"" + name + "\",\"alias\":\"" + name +
            "\",\"squarePortraitPath\":\"/mau-game-data/assets/v1/champion-icons/" +
            std::to_string(i + 1) + ".png\",\"roles\":[\"mage\",\"support\"]}";
  }
  return json + "]";
}

void BM_RequestValue50K(benchmark::State& state) {
  test::TestHost host;
  host.recordArguments = false;
  test::StartedPlugin<> plugin(host);
  const std::string url = "/mau-game-data/assets/v1/champion-summary.json";
  const std::string body = ChampionSummaryJson();
  test::TestHost::Answer& answer = host.answers[url];
  answer.streamed = true;
  answer.bodyLength = body.size();
  for (size_t offset = 0; offset < body.size(); offset += 4096) {
    answer.chunks.push_back(body.substr(offset, 4096));
  }

  AllocationCounters counters;
  for (auto _ : state) {
    RequestResult<BindingValue> result = plugin->RequestValue(RequestMethod::Get, url);
    if (result.failed) state.SkipWithError(result.error.message.c_str());
    benchmark::DoNotOptimize(result.value.size());
    host.requests.clear();
  }
  counters.Report(state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_RequestValue50K);

}  // namespace
}  // namespace mau::bench
