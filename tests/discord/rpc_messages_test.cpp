#include "discord/rpc_messages.h"

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

std::string SetActivity(int32_t nonce, uint32_t pid, const DiscordPresence* presence,
                        size_t capacity = kCommandCapacity) {
  std::vector<char> buffer(capacity + 1, '#');
  const size_t length = WriteSetActivity(buffer.data(), capacity, nonce, pid, presence);
  EXPECT_EQ(buffer[capacity], '#') << "wrote past the capacity";
  return std::string(buffer.data(), length);
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

TEST(RpcMessagesTest, ShortBufferKeepsTheFirstBytes) {
  DiscordPresence presence;
  presence.state = "Waiting";
  presence.start = 100;
  const std::string full = SetActivity(7, 42, &presence);
  EXPECT_EQ(SetActivity(7, 42, &presence, 16), full.substr(0, 16));
  for (size_t capacity = 0; capacity <= full.size(); ++capacity) {
    ASSERT_EQ(SetActivity(7, 42, &presence, capacity), full.substr(0, capacity))
        << "capacity " << capacity;
  }
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
