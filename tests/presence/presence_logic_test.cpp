// The presence logic without a host: reading chat presence values, the localized lookups,
// the presence built from a state and the command written for it.
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/binding_result.h"
#include "binding/json_reader.h"
#include "presence/chat_presence.h"
#include "presence/game_data.h"
#include "presence/presence_builder.h"

namespace mau {
namespace {

BindingValue Json(const char* text) {
  BindingResult result;
  ParseJson(result, text);
  EXPECT_TRUE(result.ok()) << text << ": " << result.ErrorText();
  return std::move(result.value());
}

std::string Text(const char* text) { return text != nullptr ? text : "<null>"; }

TEST(ChatPresenceTest, ReadsTheMauMembers) {
  struct Case {
    const char* json;
    const char* status;
    QueueKind queue;
    const char* game_id;
    int32_t champion;
    int32_t map;
    uint64_t start;
  };
  const Case cases[] = {
      {R"({})", "outOfGame", QueueKind::None, "", 0, 0, 0},
      {R"({"mau": {}})", "outOfGame", QueueKind::None, "", 0, 0, 0},
      {R"({"mau": {"gameStatus": "inGame", "gameQueueType": "RANKED_SOLO_5x5", "gameId": "0042",
           "championId": "17", "mapId": "11", "timeStamp": "1765339400999"}})",
       "inGame", QueueKind::Ranked, "0042", 17, 11, 1765339400},
      {R"({"mau": {"gameStatus": "hosting_NORMAL", "gameQueueType": "NONE"}})", "hosting",
       QueueKind::Custom, "", 0, 0, 0},
      {R"({"mau": {"gameStatus": "hosting_"}})", "hosting", QueueKind::None, "", 0, 0, 0},
      // A member that is not a string reads as empty text.
      {R"({"mau": {"gameStatus": 7, "championId": 12, "mapId": true}})", "", QueueKind::None, "", 0,
       0, 0},
      // Numbers are read the lenient way for the time stamp only.
      {R"({"mau": {"timeStamp": 1765339400123}})", "outOfGame", QueueKind::None, "", 0, 0,
       1765339400},
      {R"({"mau": {"timeStamp": "0x3e8"}})", "outOfGame", QueueKind::None, "", 0, 0, 1},
      {R"({"mau": {"championId": "", "mapId": "12abc"}})", "outOfGame", QueueKind::None, "", 0, 12,
       0},
      {R"({"mau": {"championId": "99999999999", "mapId": "-99999999999"}})", "outOfGame",
       QueueKind::None, "", 2147483647, -2147483647 - 1, 0},
      // Time stamps that are no time give no start time rather than a wrapped or saturated one.
      {R"({"mau": {"timeStamp": "-5000"}})", "outOfGame", QueueKind::None, "", 0, 0, 0},
      {R"({"mau": {"timeStamp": " -18446744073709551615"}})", "outOfGame", QueueKind::None, "", 0,
       0, 0},
      {R"({"mau": {"timeStamp": -5000}})", "outOfGame", QueueKind::None, "", 0, 0, 0},
      {R"({"mau": {"timeStamp": "12345678901234567890123"}})", "outOfGame", QueueKind::None, "", 0,
       0, 0},
      {R"({"mau": {"timeStamp": 12345678901234567890123}})", "outOfGame", QueueKind::None, "", 0, 0,
       0},
      {R"({"mau": {"timeStamp": "253402300799999"}})", "outOfGame", QueueKind::None, "", 0, 0,
       253402300799},
      {R"({"mau": {"timeStamp": "253402300800000"}})", "outOfGame", QueueKind::None, "", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    const ChatPresenceState state = ParseChatPresence(Json(c.json));
    EXPECT_EQ(state.game_status, c.status);
    EXPECT_EQ(state.queue, c.queue);
    EXPECT_EQ(state.game_id, c.game_id);
    EXPECT_EQ(state.champion_id, c.champion);
    EXPECT_EQ(state.map_id, c.map);
    EXPECT_EQ(state.start_time, c.start);
  }
}

TEST(ChatPresenceTest, QueueKindOfEachText) {
  const std::pair<const char*, QueueKind> cases[] = {
      {"RANKED", QueueKind::Ranked},
      {"RANKED_FLEX_SR", QueueKind::Ranked},
      {"ARAM_UNRANKED_5x5", QueueKind::Aram},
      {"CUSTOM", QueueKind::Custom},
      {"NONE", QueueKind::Custom},
      {"XCUSTOM", QueueKind::None},
      {"CUSTOM_GAME", QueueKind::None},
      {"NORMAL_DRAFT", QueueKind::Normal},
      {"BOT_INTRO", QueueKind::Bot},
      {"", QueueKind::None},
      {"ranked", QueueKind::None},
  };
  for (const auto& [text, queue] : cases) {
    EXPECT_EQ(QueueKindFromText(text), queue) << text;
  }
}

TEST(ChatPresenceTest, EveryShownFieldCounts) {
  const ChatPresenceState base{"championSelect", QueueKind::Ranked, "4711", 3, 11, 1000};
  EXPECT_TRUE(SameComparedFields(base, base));
  const std::pair<const char*, void (*)(ChatPresenceState&)> changes[] = {
      {"status", [](ChatPresenceState& s) { s.game_status = "inGame"; }},
      {"queue", [](ChatPresenceState& s) { s.queue = QueueKind::Aram; }},
      {"game id", [](ChatPresenceState& s) { s.game_id = "4712"; }},
      {"champion swapped in champion select", [](ChatPresenceState& s) { s.champion_id = 4; }},
      {"map", [](ChatPresenceState& s) { s.map_id = 12; }},
      {"start time", [](ChatPresenceState& s) { s.start_time = 1001; }},
  };
  for (const auto& [name, change] : changes) {
    ChatPresenceState changed = base;
    change(changed);
    EXPECT_FALSE(SameComparedFields(base, changed)) << name;
  }
}

TEST(GameDataTest, StoresStringsAndEmptyTextForOtherValues) {
  LocalizedStrings strings;
  StoreLocalizedStrings(Json(R"({"a": "Alpha", "b": 12, "c": null})"), strings);
  EXPECT_EQ(strings, (LocalizedStrings{{"a", "Alpha"}, {"b", ""}, {"c", ""}}));
  StoreLocalizedStrings(Json(R"(["not", "an", "object"])"), strings);
  EXPECT_EQ(strings.size(), 3u);
}

TEST(GameDataTest, LookupCutsAtAWholeCharacter) {
  const std::string ascii200(200, 'x');
  const std::string ascii128(128, 'y');
  std::string kana;  // 43 three-byte characters: 129 bytes
  for (int i = 0; i < 43; ++i) kana += "\xE3\x81\x82";
  const std::string not_utf8(200, '\x80');  // continuation bytes only
  LocalizedStrings strings{
      {"ascii200", ascii200}, {"ascii128", ascii128}, {"kana", kana}, {"not_utf8", not_utf8}};
  struct Case {
    const char* key;
    std::string expected;
  };
  const Case cases[] = {
      {"ascii200", ascii200.substr(0, 128)},
      {"ascii128", ascii128},
      {"kana", kana.substr(0, 126)},
      {"not_utf8", not_utf8.substr(0, 128)},  // not dropped whole
      {"missing", ""},
  };
  for (const Case& c : cases) {
    std::string out;
    LookupLocalized(strings, c.key, 128, out);
    EXPECT_EQ(out, c.expected) << c.key;
  }
}

TEST(GameDataTest, FirstChampionWithTheIdWins) {
  const std::vector<GameDataChampionSummary> list = {
      {7, "First", "one"}, {7, "Second", "two"}, {8, "Other", "three"}};
  ASSERT_NE(FindChampion(list, 7), nullptr);
  EXPECT_EQ(FindChampion(list, 7)->name, "First");
  EXPECT_EQ(FindChampion(list, 9), nullptr);
}

class PresenceBuilderTest : public ::testing::Test {
 protected:
  LocalizedStrings strings_{
      {"Disc_Pres_State_inGame", "In game"},
      {"Disc_Pres_State_hosting", "Hosting a lobby"},
      {"Disc_Pres_QueueType_RANKED", "Ranked"},
      {"Disc_Pres_QueueType_CUSTOM", "Custom"},
      {"Disc_Pres_Map_11", "Verdant Rift"},
      {"Disc_Pres_Map_12", std::string(150, 'm')},
      {"Disc_Pres_QueueType_NORMAL", std::string(100, 'q')},
  };
  PresenceBuilder builder_;
};

TEST_F(PresenceBuilderTest, LinesImageAndStartTime) {
  const GameDataChampionSummary champion{17, "Sable Warden", "SableWarden"};
  struct Case {
    const char* name;
    ChatPresenceState state;
    const GameDataChampionSummary* champion;
    const char* state_line;
    const char* details;
    int64_t start;
    const char* image;
    const char* large_text;
  };
  const Case cases[] = {
      {"map and queue",
       {"inGame", QueueKind::Ranked, "1", 17, 11, 1000},
       &champion,
       "In game",
       "Verdant Rift (Ranked)",
       1000,
       "champ_sablewarden",
       "Sable Warden"},
      {"queue only",
       {"inGame", QueueKind::Custom, "", 0, 0, 5},
       nullptr,
       "In game",
       "Custom",
       5,
       "logo",
       nullptr},
      {"map only",
       {"inGame", QueueKind::Bot, "", 0, 11, 5},
       nullptr,
       "In game",
       "Verdant Rift",
       5,
       "logo",
       nullptr},
      {"no start time outside game and queue",
       {"hosting", QueueKind::None, "", 0, 0, 5},
       nullptr,
       "Hosting a lobby",
       nullptr,
       0,
       "logo",
       nullptr},
      {"missing keys leave lines out",
       {"championSelect", QueueKind::Aram, "", 0, 99, 5},
       nullptr,
       nullptr,
       nullptr,
       0,
       "logo",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const discord::DiscordPresence& p = builder_.Build(c.state, strings_, c.champion);
    EXPECT_EQ(Text(p.state), Text(c.state_line));
    EXPECT_EQ(Text(p.details), Text(c.details));
    EXPECT_EQ(p.start, c.start);
    EXPECT_EQ(Text(p.large_image), Text(c.image));
    EXPECT_EQ(Text(p.large_text), Text(c.large_text));
    EXPECT_EQ(p.end, 0);
    EXPECT_EQ(p.small_image, nullptr);
    EXPECT_FALSE(p.instance);
  }
}

TEST_F(PresenceBuilderTest, LongDetailsAreCutTo128Bytes) {
  // 150 bytes of map text cut to 128 by the lookup, then " (" + 100 bytes + ")".
  const ChatPresenceState state{"inGame", QueueKind::Normal, "", 0, 12, 1};
  const discord::DiscordPresence& p = builder_.Build(state, strings_, nullptr);
  EXPECT_EQ(Text(p.details), std::string(128, 'm'));
}

std::string Repeat(std::string_view text, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += text;
  return out;
}

// The "activity" member of a SET_ACTIVITY command as the writer orders it; empty texts
// and a zero start are left out.
std::string Activity(const std::string& state, const std::string& details, int64_t start,
                     const std::string& image, const std::string& text) {
  std::string json = "{";
  if (!state.empty()) json += R"("state":")" + state + R"(",)";
  if (!details.empty()) json += R"("details":")" + details + R"(",)";
  if (start != 0) json += R"("timestamps":{"start":)" + std::to_string(start) + "},";
  json += R"("assets":{"large_image":")" + image + '"';
  if (!text.empty()) json += R"(,"large_text":")" + text + '"';
  return json + R"(},"instance":false})";
}

// Game data as real clients produce it, from the published chat presence to the command
// Discord receives: every text 2 to 128 characters of valid UTF-8, image keys Discord can
// name, no wrapped start times, and a champion swap shown. The cases run in order, as
// changes of one chat presence.
TEST(PresenceCommandTest, ChatPresenceToSetActivity) {
  const std::string zwsp = "\xE2\x80\x8B";  // the invisible second character
  const std::string fffd = "\xEF\xBF\xBD";
  const LocalizedStrings strings{
      {"Disc_Pres_State_inGame", "In game"},
      {"Disc_Pres_State_inQueue", "\xE5\xA1\x94"},  // one CJK character
      {"Disc_Pres_State_hosting", "Host\xFF"},
      {"Disc_Pres_State_championSelect", std::string(300, 'c')},
      {"Disc_Pres_Map_11", "Verdant Rift"},
      {"Disc_Pres_QueueType_RANKED", "Ranked"},
  };
  const std::vector<GameDataChampionSummary> champions{
      {1, "Q", "Quill"},
      {2, std::string(200, 'N'), "Longname"},
      {3, Repeat("\xE5\x90\x8D", 20000), std::string(20000, 'a')},  // 60,000 bytes each
      {4,
       "Bad\xFF"
       "Name",
       "Bad"},
      {5, "\xC3", "Cut"},                     // an invalid sequence alone
      {6, "Sixth", std::string(250, 's')},    // key of exactly 256 bytes
      {7, "Seventh", std::string(251, 's')},  // key of 257 bytes
  };
  struct Case {
    const char* name;
    std::string mau;       // the members of "mau"
    std::string activity;  // empty: nothing is sent
  };
  auto chat = [](const char* status, const char* champion, const char* stamp) {
    return std::string(R"("gameStatus": ")") + status +
           R"(", "gameQueueType": "RANKED", "mapId": "11", "championId": ")" + champion +
           R"(", "timeStamp": )" + stamp;
  };
  const std::string details = "Verdant Rift (Ranked)";
  const Case cases[] = {
      {"one-character champion name", chat("inGame", "1", R"("1765339200999")"),
       Activity("In game", details, 1765339200, "champ_quill", "Q" + zwsp)},
      {"the same presence again", chat("inGame", "1", R"("1765339200999")"), ""},
      {"negative time stamp: no start time", chat("inGame", "1", R"("-5000")"),
       Activity("In game", details, 0, "champ_quill", "Q" + zwsp)},
      {"23-digit time stamp: no start time", chat("inGame", "2", R"("12345678901234567890123")"),
       Activity("In game", details, 0, "champ_longname", std::string(128, 'N'))},
      {"name and alias of 20,000 characters", chat("inGame", "3", "1000"),
       Activity("In game", details, 1, "logo", Repeat("\xE5\x90\x8D", 42))},
      {"invalid byte in a name and a state", chat("hosting_lobby", "4", "0"),
       Activity("Host" + fffd, details, 0, "champ_bad", "Bad" + fffd + "Name")},
      {"an invalid sequence alone", chat("hosting_lobby", "5", "0"),
       Activity("Host" + fffd, details, 0, "champ_cut", fffd + zwsp)},
      {"one CJK character of state; key of 256 bytes", chat("inQueue", "6", "2000"),
       Activity("\xE5\xA1\x94" + zwsp, details, 2, "champ_" + std::string(250, 's'), "Sixth")},
      {"key of 257 bytes: the logo", chat("championSelect", "7", "0"),
       Activity(std::string(128, 'c'), details, 0, "logo", "Seventh")},
      {"champion swapped in champion select", chat("championSelect", "1", "0"),
       Activity(std::string(128, 'c'), details, 0, "champ_quill", "Q" + zwsp)},
  };
  ChatPresenceState current;
  PresenceBuilder builder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChatPresenceState next = ParseChatPresence(Json(("{\"mau\": {" + c.mau + "}}").c_str()));
    if (SameComparedFields(next, current)) {
      EXPECT_EQ(c.activity, "") << "nothing changed, so nothing is sent";
      continue;
    }
    current = std::move(next);
    const discord::DiscordPresence& presence =
        builder.Build(current, strings, FindChampion(champions, current.champion_id));
    char command[discord::kCommandCapacity];
    const size_t length = discord::WriteSetActivity(command, sizeof command, 1, 1, &presence);
    const std::string text(command, length);
    EXPECT_EQ(text, R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":1,"activity":)" +
                        c.activity + "}}");
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
    EXPECT_FALSE(document.HasParseError()) << rapidjson::GetParseError_En(document.GetParseError())
                                           << " at " << document.GetErrorOffset();
  }
}

}  // namespace
}  // namespace mau
