// The built plug-in library in the reference host, against the Discord stand-in over a
// real socket (POSIX) or named pipe (Windows): the presence Discord receives for each
// chat presence the host publishes.
#include <rapidjson/document.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../discord/ipc_test_support.h"
#include "fake_discord_core.h"
#include "host_runtime.h"
#include "resource_store.h"
#include "session_script.h"
#include "support/test_support.h"

namespace mau {
namespace {

using fake_discord::FakeDiscord;
using fake_discord::ReceivedActivity;
using namespace std::chrono_literals;

constexpr const char* kChat = "/mau-chat/v1/me";
constexpr const char* kEnabled = "/mau-platform-config/v1/namespaces/DiscordRP/IsEnabled";

std::filesystem::path ExamplesDir() { return MAU_EXAMPLES_DIR; }

// A chat presence value as the host publishes it.
std::string Chat(const char* status, const char* queue = "", const char* champion = "",
                 const char* map = "", const char* stamp = "0", const char* game = "") {
  return std::string(R"({"name": "Wandering Lantern", "availability": "dnd", "mau": {)") +
         R"("gameStatus": ")" + status + R"(", "gameQueueType": ")" + queue + R"(", "gameId": ")" +
         game + R"(", "championId": ")" + champion + R"(", "mapId": ")" + map +
         R"(", "timeStamp": ")" + stamp + R"("}})";
}

class PresenceEndToEnd : public ::testing::Test {
 protected:
  PresenceEndToEnd() {
    std::filesystem::copy(ExamplesDir() / "resources", resources_.path(),
                          std::filesystem::copy_options::recursive);
  }
  ~PresenceEndToEnd() override { host_.Stop(); }

  // Replaces a resource file before the host starts.
  void WriteResource(const std::string& uri, const std::string& json) {
    std::ofstream(resources_.path() / (uri.substr(1) + ".json"), std::ios::trunc) << json;
  }
  void RemoveResource(const std::string& uri) {
    std::filesystem::remove(resources_.path() / (uri.substr(1) + ".json"));
  }

  // Starts the stand-in, or starts it again after Stop: a Discord that restarts. Options,
  // when given, replace those of the stand-in that has not started yet.
  void StartDiscord(std::optional<fake_discord::FakeDiscordOptions> options = std::nullopt) {
    if (options) {
      options->directory = ipc_.path();
      discord_ = std::make_unique<FakeDiscord>(*options);
    }
    std::string error;
    ASSERT_TRUE(discord_->Start(&error)) << error;
  }
  bool StartHost() {
    std::string error;
    if (!host_.Load(MAU_PLUGIN_PATH, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    const bool started = host_.Start();
    Pump(50ms);
    return started;
  }

  // Runs the host's loop (timers, the plug-in's Discord callbacks) for a while.
  void Pump(std::chrono::milliseconds duration) { host_.RunUntil(host::Clock::now() + duration); }

  void Publish(const std::string& uri, const std::string& json) {
    host::SessionStep step;
    step.uri = uri;
    step.dataJson = json;
    host_.Apply(step);
  }
  void Delete(const std::string& uri) {
    host::SessionStep step;
    step.uri = uri;
    step.remove = true;
    host_.Apply(step);
  }

  // The next SET_ACTIVITY Discord receives, keeping the host's loop running meanwhile.
  std::optional<ReceivedActivity> NextActivity(std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (auto activity = discord_->WaitForActivity(0ms)) return activity;
      Pump(10ms);
    }
    return discord_->WaitForActivity(0ms);
  }
  // True when no SET_ACTIVITY arrives within the time.
  bool NoActivityFor(std::chrono::milliseconds duration) {
    Pump(duration);
    return !discord_->WaitForActivity(0ms).has_value();
  }

  bool Logged(std::string_view text) {
    std::lock_guard lock(logLock_);
    for (const std::string& line : log_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  discord::test::PrivateIpcDirectory ipc_;
  // The plug-in sends each presence at once: these tests follow every change. The rate
  // limit has its own test.
  test::ScopedEnv noRateLimit_{"MAU_DISCORD_RATE_LIMIT", "5/0"};
  test::ScopedEnv noResend_{"MAU_DISCORD_RESEND_AFTER", "0"};
  test::TempDir resources_;
  std::unique_ptr<FakeDiscord> discord_ = std::make_unique<FakeDiscord>([&] {
    fake_discord::FakeDiscordOptions options;
    options.directory = ipc_.path();
    return options;
  }());
  host::ResourceStore store_{resources_.path()};
  std::mutex logLock_;
  std::vector<std::string> log_;
  host::HostRuntime host_{store_, [this](int, std::string_view text) {
                            std::lock_guard lock(logLock_);
                            log_.emplace_back(text);
                          }};
};

// What Discord shows for one activity; "cleared" when the presence was removed.
std::string Card(const ReceivedActivity& a) {
  if (a.cleared) return "cleared";
  std::string card = "state=" + a.state + " | details=" + a.details +
                     " | start=" + std::to_string(a.start) + " | image=" + a.large_image +
                     " | text=" + a.large_text;
  if (!a.error.empty()) card += " | ERROR " + a.error;
  return card;
}

TEST_F(PresenceEndToEnd, PresenceFollowsTheChatPresence) {
  StartDiscord();
  ASSERT_TRUE(StartHost());
  auto first = NextActivity();
  ASSERT_TRUE(first) << "the start-up sends a reset while out of game";
  EXPECT_EQ(Card(*first), "cleared");

  struct Step {
    const char* name;
    std::string uri;
    std::optional<std::string> json;  // nullopt: delete the resource
    std::optional<std::string> card;  // nullopt: nothing is sent
  };
  const Step steps[] = {
      {"in queue: start time, queue and map", kChat,
       Chat("inQueue", "RANKED_SOLO_5x5", "", "11", "1765339200999"),
       "state=Looking for a match | details=Gloamwood Crossing (Ranked) | start=1765339200 | "
       "image=logo | text="},
      {"the same state again sends nothing", kChat,
       Chat("inQueue", "RANKED_SOLO_5x5", "", "11", "1765339200999"), std::nullopt},
      {"champion select: no start time, champion shown", kChat,
       Chat("championSelect", "RANKED_SOLO_5x5", "3", "11", "1765339260000"),
       "state=Choosing a champion | details=Gloamwood Crossing (Ranked) | start=0 | "
       "image=champ_moonwarden | text=Moon Warden"},
      {"a champion swapped in champion select is shown", kChat,
       Chat("championSelect", "RANKED_SOLO_5x5", "4", "11", "1765339260000"),
       "state=Choosing a champion | details=Gloamwood Crossing (Ranked) | start=0 | "
       "image=champ_quillon | text=Quillon"},
      {"in game with the new champion", kChat,
       Chat("inGame", "RANKED_SOLO_5x5", "4", "11", "1765339335000", "4711"),
       "state=In a match | details=Gloamwood Crossing (Ranked) | start=1765339335 | "
       "image=champ_quillon | text=Quillon"},
      {"unknown champion falls back to the logo; queue alone", kChat,
       Chat("inGame", "NONE", "9999", "", "1765339400000"),
       "state=In a match | details=Custom Game | start=1765339400 | image=logo | text="},
      {"unknown status and map: lines left out", kChat,
       Chat("tutorial", "XCUSTOM", "", "77", "1765339400000"),
       "state= | details= | start=0 | image=logo | text="},
      {"hosting_ statuses are hosting", kChat,
       Chat("hosting_practice_tool", "CUSTOM", "", "21", "1765341000000"),
       "state=Hosting a lobby | details=Saltmarsh Ruins (Custom Game) | start=0 | image=logo | "
       "text="},
      {"a deleted chat presence changes nothing", kChat, std::nullopt, std::nullopt},
      {"switching presence off clears at once", kEnabled, "false", "cleared"},
      {"chat changes while off stay cleared", kChat, Chat("inGame", "ARAM_5x5", "", "12", "5000"),
       "cleared"},
      {"deleting the switch turns presence back on at once", kEnabled, std::nullopt,
       "state=In a match | details=Frostspire Bridge (All Random Arena) | start=5 | image=logo | "
       "text="},
      {"a switch value that is not a boolean means on: no change, nothing sent", kEnabled,
       "\"yes\"", std::nullopt},
      {"out of game clears", kChat, Chat("outOfGame"), "cleared"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.json) {
      Publish(step.uri, *step.json);
    } else {
      Delete(step.uri);
    }
    if (step.card) {
      auto activity = NextActivity();
      ASSERT_TRUE(activity) << "no SET_ACTIVITY";
      EXPECT_EQ(Card(*activity), *step.card);
      EXPECT_FALSE(activity->instance);
      EXPECT_EQ(activity->end, 0);
      EXPECT_EQ(activity->small_image, "");
    } else {
      EXPECT_TRUE(NoActivityFor(300ms));
    }
  }
  // on_ready comes with the first one-second callback tick after READY, which may still
  // be ahead when the steps are done.
  EXPECT_TRUE(discord::test::WaitUntil(
      [&] {
        Pump(10ms);
        return Logged("Discord RPC ready.");
      },
      5s));
  EXPECT_TRUE(Logged("Discord: setting state to \"In a match\""));
}

TEST_F(PresenceEndToEnd, DiscordStartingLateGetsTheWaitingPresence) {
  WriteResource(kChat, Chat("inGame", "NORMAL_DRAFT", "2", "30", "1765339335000"));
  ASSERT_TRUE(StartHost());
  Pump(300ms);
  StartDiscord();
  auto activity = NextActivity(15s);
  ASSERT_TRUE(activity);
  EXPECT_EQ(Card(*activity),
            "state=In a match | details=The Ember Vault (Normal) | start=1765339335 | "
            "image=champ_brannoc | text=Brannoc");
}

TEST_F(PresenceEndToEnd, DiscordRestartingMidGameGetsThePresenceBackAtOnce) {
  StartDiscord();
  ASSERT_TRUE(StartHost());
  ASSERT_TRUE(NextActivity());  // the start-up reset
  Publish(kChat, Chat("inGame", "BOT_5x5", "1", "11", "1765339335000"));
  auto before = NextActivity();
  ASSERT_TRUE(before);
  EXPECT_EQ(before->connection, 1);

  // Discord goes away for a few seconds and comes back: the latest presence is sent again.
  discord_->Stop();
  Pump(3s);
  StartDiscord();
  const auto listening = std::chrono::steady_clock::now();
  auto restored = NextActivity();
  const double restoreMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - listening)
          .count();
  RecordProperty("restoreMsAfterRestart", std::to_string(restoreMs));
  std::printf("presence back %.0f ms after Discord listened again\n", restoreMs);
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->connection, 2);
  EXPECT_EQ(restored->payload, before->payload);

  Publish(kChat, Chat("inGame", "BOT_5x5", "1", "11", "1765339999000"));
  auto after = NextActivity();
  ASSERT_TRUE(after);
  EXPECT_EQ(after->connection, 2);
  EXPECT_EQ(Card(*after),
            "state=In a match | details=Gloamwood Crossing (Versus Bots) | start=1765339999 | "
            "image=champ_orla | text=Orla the Tidecaller");
  EXPECT_TRUE(Logged("Discord RPC: disconnected ("));
}

TEST_F(PresenceEndToEnd, BurstOfChangesEndsOnTheLatestStateUnderDiscordsRateLimit) {
  // Discord's limit, in a short window: 3 activities a second, the plug-in keeping to it.
  fake_discord::FakeDiscordOptions options;
  options.rate_limit_count = 3;
  options.rate_limit_window = 1000ms;
  StartDiscord(options);
  test::ScopedEnv rate("MAU_DISCORD_RATE_LIMIT", "3/1");
  test::ScopedEnv resend("MAU_DISCORD_RESEND_AFTER", "0.75");
  ASSERT_TRUE(StartHost());

  const char* statuses[] = {"inQueue", "championSelect", "inGame"};
  std::string last;
  for (int i = 0; i < 12; ++i) {
    const std::string stamp = std::to_string(1765339200000LL + i * 60000LL);
    last = stamp.substr(0, stamp.size() - 3);
    Publish(kChat, Chat(statuses[i % 3], "ARAM_5x5", "", "12", stamp.c_str()));
    Pump(5ms);
  }
  // Chat status inGame (the last one, 11 % 3 == 2) shows its start time.
  const std::string expected =
      "state=In a match | details=Frostspire Bridge (All Random Arena) | "
      "start=" +
      last + " | image=logo | text=";
  Pump(3s);
  std::vector<ReceivedActivity> activities;
  while (auto activity = discord_->WaitForActivity(0ms)) activities.push_back(*activity);
  int ignored = 0;
  std::optional<ReceivedActivity> shown;
  for (const ReceivedActivity& activity : activities) {
    if (activity.rate_limited) {
      ++ignored;
    } else if (activity.error.empty()) {
      shown = activity;
    }
  }
  std::printf("%zu activities sent for 13 changes, %d ignored for the rate limit\n",
              activities.size(), ignored);
  ASSERT_TRUE(shown);
  EXPECT_EQ(Card(*shown), expected);
  EXPECT_LT(activities.size(), 13u) << "the burst is not sent change by change";
}

TEST_F(PresenceEndToEnd, NoLocalizedStringsMeansNoStart) {
  RemoveResource("/mau-game-data/assets/v1/discord_strings");
  StartDiscord();
  EXPECT_FALSE(StartHost());
  EXPECT_TRUE(Logged("Could not get localized strings from game data!"));
  EXPECT_TRUE(NoActivityFor(500ms));
  EXPECT_EQ(discord_->connection_count(), 0) << "the Discord client never starts";
}

TEST_F(PresenceEndToEnd, LongLocalizedTextsAreCutAtWholeCharacters) {
  std::filesystem::copy(
      ExamplesDir() / "resources-ja", resources_.path(),
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  // 50 three-byte characters: 150 bytes, cut to 42 characters (126 bytes), not 128 bytes.
  std::string tower;
  for (int i = 0; i < 50; ++i) tower += "\xE5\xA1\x94";  // 塔
  WriteResource("/mau-game-data/assets/v1/discord_strings",
                R"({"Disc_Pres_State_inGame": ")" + tower + R"(", "Disc_Pres_Map_11": ")" + tower +
                    R"(", "Disc_Pres_QueueType_RANKED": "ランク戦"})");
  StartDiscord();
  ASSERT_TRUE(StartHost());
  ASSERT_TRUE(NextActivity());
  Publish(kChat, Chat("inGame", "RANKED", "", "11", "1000"));
  auto activity = NextActivity();
  ASSERT_TRUE(activity);
  EXPECT_EQ(activity->error, "") << "Discord accepts the texts";
  EXPECT_EQ(activity->state, tower.substr(0, 126));
  // The map text (126 bytes) and " (" fill the 128 bytes of the details line.
  EXPECT_EQ(activity->details, tower.substr(0, 126) + " (");
}

// Game data that real clients do produce (texts of one character or thousands, bytes that
// are not UTF-8, time stamps that are no time) still gives cards Discord accepts.
TEST_F(PresenceEndToEnd, EveryCardIsOneDiscordAccepts) {
  const std::string tower = "\xE5\xA1\x94";  // one CJK character
  WriteResource("/mau-game-data/assets/v1/discord_strings",
                R"({"Disc_Pres_State_inGame": ")" + tower +
                    "\", \"Disc_Pres_State_championSelect\": \"Choosing\xFF\","
                    R"( "Disc_Pres_State_inQueue": ")" +
                    std::string(300, 'q') +
                    R"(", "Disc_Pres_Map_11": "Gloamwood Crossing",)"
                    R"( "Disc_Pres_QueueType_RANKED": "Ranked"})");
  WriteResource("/mau-game-data/assets/v1/champion-summary",
                R"([{"id": 1, "name": "Q", "alias": "Quill"},)"
                R"( {"id": 2, "name": ")" +
                    std::string(200, 'N') +
                    R"(", "alias": "Longname"},)"
                    R"( {"id": 3, "name": ")" +
                    std::string(20000, 'x') + R"(", "alias": ")" + std::string(20000, 'a') +
                    "\"}, {\"id\": 4, \"name\": \"Bad\xFF"
                    "Name\", \"alias\": \"Bad\"},"
                    R"( {"id": 5, "name": "Swapped In", "alias": "SwappedIn"}])");
  StartDiscord();
  ASSERT_TRUE(StartHost());
  ASSERT_TRUE(NextActivity());  // the start-up reset

  const std::string zwsp = "\xE2\x80\x8B";
  const std::string fffd = "\xEF\xBF\xBD";
  const std::string details = "Gloamwood Crossing (Ranked)";
  const struct {
    const char* name;
    std::string chat;
    std::string card;
  } steps[] = {
      {"one-character state and champion name",
       Chat("inGame", "RANKED", "1", "11", "1765339200999"),
       "state=" + tower + zwsp + " | details=" + details +
           " | start=1765339200 | image=champ_quill | text=Q" + zwsp},
      {"a name of 200 characters; a negative time stamp",
       Chat("inGame", "RANKED", "2", "11", "-5000"),
       "state=" + tower + zwsp + " | details=" + details +
           " | start=0 | image=champ_longname | text=" + std::string(128, 'N')},
      {"name and alias of 20,000 characters; a 23-digit time stamp",
       Chat("inGame", "RANKED", "3", "11", "12345678901234567890123"),
       "state=" + tower + zwsp + " | details=" + details +
           " | start=0 | image=logo | text=" + std::string(128, 'x')},
      {"a byte that is not UTF-8 in the strings and in a name",
       Chat("championSelect", "RANKED", "4", "11", "0"),
       "state=Choosing" + fffd + " | details=" + details +
           " | start=0 | image=champ_bad | text=Bad" + fffd + "Name"},
      {"a champion swap", Chat("championSelect", "RANKED", "5", "11", "0"),
       "state=Choosing" + fffd + " | details=" + details +
           " | start=0 | image=champ_swappedin | text=Swapped In"},
      {"a localized state of 300 characters", Chat("inQueue", "RANKED", "", "11", "5000"),
       "state=" + std::string(128, 'q') + " | details=" + details +
           " | start=5 | image=logo | text="},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    Publish(kChat, step.chat);
    auto activity = NextActivity();
    ASSERT_TRUE(activity) << "no SET_ACTIVITY";
    EXPECT_EQ(Card(*activity), step.card);
  }
  EXPECT_FALSE(Logged("Discord RPC: error")) << "no ERROR reply reached the plug-in";
  EXPECT_EQ(discord_->error_reply_count(), 0);
  int commands = 0;
  while (auto frame = discord_->WaitForFrame(0ms)) {
    if (frame->opcode != 1) continue;
    ++commands;
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(frame->payload.c_str(),
                                                          frame->payload.size());
    EXPECT_FALSE(document.HasParseError()) << "not JSON in UTF-8: " << frame->payload;
  }
  EXPECT_EQ(commands, 7);
}

TEST_F(PresenceEndToEnd, TenThousandChangesLeaveMemoryWhereItWas) {
  StartDiscord();
  ASSERT_TRUE(StartHost());
  const char* statuses[] = {"inQueue", "championSelect", "inGame", "hosting_practice_tool"};
  const char* queues[] = {"RANKED_SOLO_5x5", "NORMAL_DRAFT", "ARAM_5x5", "BOT_INTRO", "NONE"};
  const char* maps[] = {"11", "12", "21", "30"};
  int sequence = 0;
  auto play = [&](int count) {
    for (int i = 0; i < count; ++i, ++sequence) {
      const std::string champion = std::to_string(sequence % 17 + 1);
      const std::string stamp = std::to_string(1765339200000LL + sequence * 1000LL);
      Publish(kChat, Chat(statuses[sequence % 4], queues[sequence % 5], champion.c_str(),
                          maps[sequence % 4], stamp.c_str()));
      if (i % 100 == 0) Pump(1ms);
    }
    Pump(500ms);
  };
  auto inUse = [](const MemoryStats& s) { return s.bytesAllocated - s.bytesFreed; };

  play(20);
  const MemoryStats afterShort = host_.Stats();
  play(10000);
  const MemoryStats afterLong = host_.Stats();
  RecordProperty("bytesInUseAfterShort", std::to_string(inUse(afterShort)));
  RecordProperty("bytesInUseAfterLong", std::to_string(inUse(afterLong)));
  RecordProperty("peakBytesInUse", std::to_string(afterLong.peakBytesInUse));
  std::printf("bytes in use after 20 changes %llu, after 10,020 %llu; peak %llu\n",
              static_cast<unsigned long long>(inUse(afterShort)),
              static_cast<unsigned long long>(inUse(afterLong)),
              static_cast<unsigned long long>(afterLong.peakBytesInUse));
  EXPECT_LE(inUse(afterLong), inUse(afterShort));
  EXPECT_LT(afterLong.peakBytesInUse, 1u << 20);
  EXPECT_GT(afterLong.allocations, afterShort.allocations + 10000) << "the changes were handled";
}

}  // namespace
}  // namespace mau
