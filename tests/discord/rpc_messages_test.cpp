#include "discord/rpc_messages.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <climits>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace mau::discord {
namespace {

using ::testing::Optional;

// Checks that a written command is one JSON value in valid UTF-8.
void ExpectValidJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
  EXPECT_FALSE(document.HasParseError()) << rapidjson::GetParseError_En(document.GetParseError())
                                         << " at " << document.GetErrorOffset() << " of " << text;
}

// The command written into a buffer of `capacity` bytes; empty when it did not fit.
std::string SetActivity(int32_t nonce, uint32_t pid, const DiscordPresence* presence,
                        size_t capacity = kCommandCapacity) {
  std::vector<char> buffer(capacity + 1, '#');
  const size_t length = WriteSetActivity(buffer.data(), capacity, nonce, pid, presence);
  EXPECT_EQ(buffer[capacity], '#') << "wrote past the capacity";
  std::string text(buffer.data(), length);
  if (!text.empty()) ExpectValidJson(text);
  return text;
}

TEST(RpcMessagesTest, HandshakeAndSubscribeAreByteExact) {
  char buffer[kCommandCapacity];
  std::string text(buffer, WriteHandshake(buffer, sizeof buffer, kHandshakeVersion, "123"));
  EXPECT_EQ(text, R"({"v":1,"client_id":"123"})");
  text.assign(buffer, WriteSubscribe(buffer, sizeof buffer, 3, "ACTIVITY_JOIN"));
  EXPECT_EQ(text, R"({"nonce":"3","cmd":"SUBSCRIBE","evt":"ACTIVITY_JOIN"})");
}

TEST(RpcMessagesTest, SetActivityVectors) {
  DiscordPresence waiting;
  waiting.state = "Waiting";
  waiting.start = 100;
  DiscordPresence empty_texts;
  empty_texts.state = "";
  empty_texts.large_image = "";
  DiscordPresence party_size_only;
  party_size_only.party_size = 2;
  DiscordPresence party_max_only;
  party_max_only.party_max = 5;
  DiscordPresence full;
  full.state = "In game";
  full.details = "Crystal Canyon";
  full.start = 1700000000;
  full.end = 1700003600;
  full.large_image = "champ_lynx";
  full.large_text = "Lynx";
  full.small_image = "rank";
  full.small_text = "Gold";
  full.party_id = "p1";
  full.party_size = 3;
  full.party_max = 5;
  full.match_secret = "m";
  full.join_secret = "j";
  full.spectate_secret = "s";
  full.instance = true;

  const struct {
    const char* name;
    int32_t nonce;
    uint32_t pid;
    const DiscordPresence* presence;
    const char* expected;
  } cases[] = {
      {"state and start", 7, 42, &waiting,
       R"({"nonce":"7","cmd":"SET_ACTIVITY","args":{"pid":42,"activity":{"state":"Waiting","timestamps":{"start":100},"instance":false}}})"},
      {"reset", 8, 42, nullptr, R"({"nonce":"8","cmd":"SET_ACTIVITY","args":{"pid":42}})"},
      {"empty texts", 1, 42, &empty_texts,
       R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":42,"activity":{"instance":false}}})"},
      {"party size without max", 1, 42, &party_size_only,
       R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":42,"activity":{"party":{"size":[2]},"instance":false}}})"},
      {"party max without size", 1, 42, &party_max_only,
       R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":42,"activity":{"party":{},"instance":false}}})"},
      {"pid above INT32_MAX is written signed", 1, 0xFFFFFFFFu, nullptr,
       R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":-1}})"},
      {"every member in order", -5, 42, &full,
       R"({"nonce":"-5","cmd":"SET_ACTIVITY","args":{"pid":42,"activity":{"state":"In game","details":"Crystal Canyon",)"
       R"("timestamps":{"start":1700000000,"end":1700003600},)"
       R"("assets":{"large_image":"champ_lynx","large_text":"Lynx","small_image":"rank","small_text":"Gold"},)"
       R"("party":{"id":"p1","size":[3,5]},"secrets":{"match":"m","join":"j","spectate":"s"},"instance":true}}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetActivity(c.nonce, c.pid, c.presence), c.expected);
  }
}

TEST(RpcMessagesTest, NonceIsDecimalText) {
  const struct {
    int32_t value;
    const char* text;
  } cases[] = {{1, "1"},
               {10, "10"},
               {-5, "-5"},
               {0, "0"},
               {INT32_MAX, "2147483647"},
               {INT32_MIN, "-2147483648"}};
  for (const auto& c : cases) {
    char text[kNonceTextCapacity];
    EXPECT_EQ(std::string(text, FormatNonce(c.value, text)), c.text);
  }
}

TEST(RpcMessagesTest, TextsAreEscapedAsJsonStrings) {
  DiscordPresence presence;
  presence.state = "say \"hi\"\tback\\slash/\x01\x1f\b\f\n\r \xC3\xA9";
  EXPECT_THAT(SetActivity(1, 1, &presence),
              ::testing::HasSubstr(R"("state":"say \"hi\"\tback\\slash/\u0001\u001F\b\f\n\r )"
                                   "\xC3\xA9\""));
}

TEST(RpcMessagesTest, ACommandThatDoesNotFitIsNotWrittenAtAll) {
  DiscordPresence presence;
  presence.state = "Waiting";
  presence.start = 100;
  const std::string full = SetActivity(7, 42, &presence);
  for (size_t capacity = 0; capacity <= full.size(); ++capacity) {
    ASSERT_EQ(SetActivity(7, 42, &presence, capacity), capacity < full.size() ? "" : full)
        << "capacity " << capacity;
  }
  char buffer[32];
  EXPECT_EQ(WriteHandshake(buffer, sizeof buffer, 1, "123456789012345678"), 0u);
  EXPECT_EQ(WriteSubscribe(buffer, sizeof buffer, 1, "ACTIVITY_JOIN_REQUEST"), 0u);
}

std::string Repeat(std::string_view text, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += text;
  return out;
}

// What Discord refuses or cannot show never reaches it: each invalid UTF-8 sequence
// becomes U+FFFD, card texts take 2 to 128 characters, an image key longer than 256 bytes
// is left out, and party id and secrets are shortened only when the command would not
// fit otherwise.
TEST(RpcMessagesTest, TextsTakeTheFormDiscordAccepts) {
  const std::string fffd = "\xEF\xBF\xBD";
  const std::string zwsp = "\xE2\x80\x8B";
  const std::string e_acute = "\xC3\xA9";
  const std::string tower = "\xE5\xA1\x94";
  const std::string grin = "\xF0\x9F\x98\x80";
  struct Case {
    const char* name;
    std::string text;
    std::string written;  // the state's JSON text, quotes left out
  };
  const Case states[] = {
      {"128 characters stay", std::string(128, 's'), std::string(128, 's')},
      {"129 characters are cut", std::string(129, 's'), std::string(128, 's')},
      {"characters are counted, not bytes", Repeat(e_acute, 200), Repeat(e_acute, 128)},
      {"one character gets an invisible second", "Q", "Q" + zwsp},
      {"one CJK character", tower, tower + zwsp},
      {"one four-byte character", grin, grin + zwsp},
      {"two characters stay", "Qi", "Qi"},
      {"one escaped character", "\x01", "\\u0001" + zwsp},
      {"a lone invalid byte", "\xFF", fffd + zwsp},
      {"invalid byte inside",
       "a\xFF"
       "b",
       "a" + fffd + "b"},
      {"truncated sequence is one U+FFFD",
       "\xE3\x81"
       "x",
       fffd + "x"},
      {"truncated four-byte sequence", "\xF0\x9F\x98!", fffd + "!"},
      {"lead byte followed by ASCII", "\xC3(", fffd + "("},
      {"overlong form: one per byte", "\xC0\xAF", fffd + fffd},
      {"encoded surrogate: one per byte", "\xED\xA0\x80", fffd + fffd + fffd},
      {"above U+10FFFF: one per byte", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
      {"stray continuation bytes", "\x80\xBF", fffd + fffd},
      {"valid text passes unchanged", "\xC3\xA9t\xC3\xA9 " + tower + grin,
       "\xC3\xA9t\xC3\xA9 " + tower + grin},
      {"200 invalid bytes: 128 characters", std::string(200, '\xFF'), Repeat(fffd, 128)},
  };
  for (const Case& c : states) {
    SCOPED_TRACE(c.name);
    DiscordPresence presence;
    presence.state = c.text.c_str();
    EXPECT_EQ(SetActivity(1, 1, &presence),
              R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":1,"activity":{"state":")" +
                  c.written + R"(","instance":false}}})");
  }

  const std::string key256(256, 'k');
  const std::string key257(257, 'k');
  const std::string secret10k(10000, 'j');
  const std::string secret20k(20000, 'j');
  const std::string party20k = Repeat("\xFF", 20000);
  const std::string invalid_id = "\xFF";
  struct PresenceCase {
    const char* name;
    DiscordPresence presence;
    std::string activity;
  };
  auto with = [](auto fill) {
    DiscordPresence presence;
    fill(presence);
    return presence;
  };
  const PresenceCase presences[] = {
      {"key of 256 bytes stays", with([&](DiscordPresence& p) { p.large_image = key256.c_str(); }),
       R"({"assets":{"large_image":")" + key256 + R"("},"instance":false})"},
      {"key of 257 bytes is left out, its text stays", with([&](DiscordPresence& p) {
         p.large_image = key257.c_str();
         p.large_text = "Lynx";
       }),
       R"({"assets":{"large_text":"Lynx"},"instance":false})"},
      {"keys alone too long: no assets", with([&](DiscordPresence& p) {
         p.large_image = key257.c_str();
         p.small_image = key257.c_str();
       }),
       R"({"instance":false})"},
      {"all four card texts are held to the limits", with([](DiscordPresence& p) {
         p.details = "D";
         p.large_text = "L";
         p.small_text = "S";
       }),
       R"({"details":"D)" + zwsp + R"(","assets":{"large_text":"L)" + zwsp +
           R"(","small_text":"S)" + zwsp + R"("},"instance":false})"},
      {"a secret that fits is written whole", with([&](DiscordPresence& p) {
         p.join_secret = secret10k.c_str();
         p.party_id = invalid_id.c_str();
       }),
       R"({"party":{"id":")" + fffd + R"("},"secrets":{"join":")" + secret10k +
           R"("},"instance":false})"},
      {"texts that would not fit are shortened to 128 characters", with([&](DiscordPresence& p) {
         p.party_id = party20k.c_str();
         p.match_secret = secret20k.c_str();
         p.join_secret = "j";
       }),
       R"({"party":{"id":")" + Repeat(fffd, 128) + R"("},"secrets":{"match":")" +
           std::string(128, 'j') + R"(","join":"j"},"instance":false})"},
  };
  for (const PresenceCase& c : presences) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(
        SetActivity(1, 1, &c.presence),
        R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":1,"activity":)" + c.activity + "}}");
  }

  char buffer[kCommandCapacity];
  const std::string invalid_event = "EVT\xFF";
  EXPECT_EQ(std::string(buffer, WriteSubscribe(buffer, sizeof buffer, 3, invalid_event.c_str())),
            R"({"nonce":"3","cmd":"SUBSCRIBE","evt":"EVT)" + fffd + R"("})");
}

// Every text at its longest and with the longest escapes: the command still fits its
// buffer once party id and secrets are shortened, so a presence is always sent.
TEST(RpcMessagesTest, TheLongestPresenceFitsItsBuffer) {
  const std::string text(20000, '\x01');  // six bytes each when escaped
  const std::string key(256, '\x01');
  DiscordPresence p;
  p.state = p.details = p.large_text = p.small_text = text.c_str();
  p.party_id = p.match_secret = p.join_secret = p.spectate_secret = text.c_str();
  p.large_image = p.small_image = key.c_str();
  p.start = p.end = INT64_MIN;
  p.party_size = p.party_max = INT32_MIN;
  EXPECT_NE(SetActivity(INT32_MIN, UINT32_MAX, &p), "");
}

TEST(RpcMessagesTest, WritersDoNotAllocate) {
  DiscordPresence presence;
  presence.state = "In game";
  presence.large_image = "logo";
  char buffer[kCommandCapacity];
  test::AllocationProbe probe;
  size_t total = WriteSetActivity(buffer, sizeof buffer, 1, 2, &presence);
  total += WriteSubscribe(buffer, sizeof buffer, 1, "ACTIVITY_JOIN");
  total += WriteHandshake(buffer, sizeof buffer, 1, "123");
  EXPECT_GT(total, 0u);
  EXPECT_EQ(probe.Blocks(), 0u);
}

// A payload parsed into its own message; the message refers into `text`.
struct Parsed {
  explicit Parsed(std::string json) : text(std::move(json)) { ParseMessage(text.data(), message); }
  const JsonValue& root() const { return message.root(); }
  bool IsEmptyObject() const { return root().IsObject() && root().MemberCount() == 0; }

  std::string text;
  RpcMessage message;
};

TEST(RpcMessagesTest, MemberLookups) {
  auto parsed = std::make_unique<Parsed>(
      R"({"evt":"READY","nonce":"1","code":5,"neg":-7,"big":3000000000,"real":1.5,)"
      R"("escaped":"a\"b\u0041\u0000z","data":{"secret":"s"},"list":[1]})");
  const JsonValue& root = parsed->root();
  EXPECT_THAT(StringMember(root, "evt"), Optional(std::string_view("READY")));
  EXPECT_THAT(StringMember(root, "escaped"), Optional(std::string_view("a\"bA\0z", 6)));
  EXPECT_EQ(StringMember(root, "code"), std::nullopt) << "a number is not a string";
  EXPECT_EQ(StringMember(root, "missing"), std::nullopt);
  EXPECT_EQ(StringMember(root, "EVT"), std::nullopt) << "names compare exactly";

  EXPECT_THAT(Int32Member(root, "code"), Optional(5));
  EXPECT_THAT(Int32Member(root, "neg"), Optional(-7));
  EXPECT_EQ(Int32Member(root, "big"), std::nullopt) << "does not fit 32 bits";
  EXPECT_EQ(Int32Member(root, "real"), std::nullopt);
  EXPECT_EQ(Int32Member(root, "evt"), std::nullopt);

  ASSERT_NE(ObjectMember(root, "data"), nullptr);
  EXPECT_THAT(StringMember(*ObjectMember(root, "data"), "secret"), Optional(std::string_view("s")));
  EXPECT_EQ(ObjectMember(root, "list"), nullptr);
  EXPECT_EQ(ObjectMember(root, "evt"), nullptr);
}

TEST(RpcMessagesTest, LookupsOnANonObjectFindNothing) {
  for (const char* json : {"[1,2]", "\"evt\"", "42", "null"}) {
    SCOPED_TRACE(json);
    auto parsed = std::make_unique<Parsed>(json);
    EXPECT_EQ(StringMember(parsed->root(), "evt"), std::nullopt);
    EXPECT_EQ(Int32Member(parsed->root(), "code"), std::nullopt);
    EXPECT_EQ(ObjectMember(parsed->root(), "data"), nullptr);
  }
}

TEST(RpcMessagesTest, InvalidPayloadLeavesAnEmptyObject) {
  auto message = std::make_unique<RpcMessage>();
  for (const char* json :
       {"", "{", R"({"evt":})", "nul", "{} {}", R"({"evt":"READY",})", "\xff", R"({"a":1e999})"}) {
    SCOPED_TRACE(json);
    std::string valid = R"({"evt":"READY"})";
    ParseMessage(valid.data(), *message);
    ASSERT_TRUE(StringMember(message->root(), "evt"));
    std::string text = json;
    ParseMessage(text.data(), *message);
    EXPECT_TRUE(message->root().IsObject());
    EXPECT_EQ(message->root().MemberCount(), 0u);
  }
}

// The fixed parser stack holds this many pending values (the root included).
constexpr size_t kStackValues = FixedStackAllocator::kCapacity / sizeof(JsonValue);

std::string NestedArrays(size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string ObjectWithMembers(size_t count) {
  std::string json = "{";
  for (size_t i = 0; i < count; ++i) json += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
  return json + "}";
}

TEST(RpcMessagesTest, MessagesThatOutgrowTheParserStackFailCleanly) {
  const struct {
    const char* name;
    std::string json;
    bool parses;
  } cases[] = {
      {"arrays nested to the stack's depth", NestedArrays(kStackValues), true},
      {"one level deeper", NestedArrays(kStackValues + 1), false},
      {"very deep nesting", NestedArrays(100000), false},
      {"an object whose members just fit", ObjectWithMembers((kStackValues - 1) / 2), true},
      {"one member more", ObjectWithMembers((kStackValues - 1) / 2 + 1), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto parsed = std::make_unique<Parsed>(c.json);
    if (c.parses) {
      EXPECT_FALSE(parsed->IsEmptyObject());
    } else {
      EXPECT_TRUE(parsed->IsEmptyObject());
    }
  }
}

TEST(RpcMessagesTest, PoolUsesTheHeapOnlyBeyondItsFirstChunk) {
  auto message = std::make_unique<RpcMessage>();
  std::string ordinary =
      R"({"cmd":"DISPATCH","data":{"v":1,"user":{"id":"1","username":"u"}},"evt":"READY"})";
  {
    test::AllocationProbe probe;
    ParseMessage(ordinary.data(), *message);
    EXPECT_EQ(probe.Blocks(), 0u);
  }
  // Sixty objects of thirty members: about 57 KiB of member arrays.
  std::string large = "[";
  for (int i = 0; i < 60; ++i) large += (i ? "," : "") + ObjectWithMembers(30);
  large += "]";
  std::string again = ordinary;
  const MemoryCounters before = ReadMemoryCounters();
  ParseMessage(large.data(), *message);
  ASSERT_TRUE(message->root().IsArray());
  EXPECT_EQ(message->root().Size(), 60u);
  EXPECT_GT(ReadMemoryCounters().allocationCount, before.allocationCount);

  ParseMessage(again.data(), *message);
  const MemoryCounters after = ReadMemoryCounters();
  EXPECT_EQ(after.allocationCount - before.allocationCount,
            after.releaseCount - before.releaseCount)
      << "the extra chunks go back when the next message is parsed";
}

TEST(RpcMessagesTest, AllocationFailureLeavesAnEmptyObject) {
  auto message = std::make_unique<RpcMessage>();
  std::string large = "[";
  for (int i = 0; i < 60; ++i) large += (i ? "," : "") + ObjectWithMembers(30);
  large += "]";
  const AllocationHooks saved = CurrentAllocationHooks();
  SetAllocationHooks([](size_t, void*) -> void* { return nullptr; }, saved.release,
                     saved.reallocate, saved.duplicateText, saved.sizeOf, saved.context);
  ParseMessage(large.data(), *message);
  SetAllocationHooks(saved.allocate, saved.release, saved.reallocate, saved.duplicateText,
                     saved.sizeOf, saved.context);
  EXPECT_TRUE(message->root().IsObject());
  EXPECT_EQ(message->root().MemberCount(), 0u);
}

}  // namespace
}  // namespace mau::discord
