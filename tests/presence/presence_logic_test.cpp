// The presence logic without a host: reading chat presence values, the localized lookups
// and the presence built from a state.
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

TEST(ChatPresenceTest, OnlyTheFiveComparedFieldsCount) {
  ChatPresenceState a;
  ChatPresenceState b;
  b.champion_id = 5;
  EXPECT_TRUE(SameComparedFields(a, b));
  b.start_time = 1;
  EXPECT_FALSE(SameComparedFields(a, b));
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
  LocalizedStrings strings{{"ascii200", ascii200}, {"ascii128", ascii128}, {"kana", kana}};
  struct Case {
    const char* key;
    std::string expected;
  };
  const Case cases[] = {
      {"ascii200", ascii200.substr(0, 128)},
      {"ascii128", ascii128},
      {"kana", kana.substr(0, 126)},
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

}  // namespace
}  // namespace mau
