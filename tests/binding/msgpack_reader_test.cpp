#include "binding/msgpack_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/reader_limits.h"
#include "platform/alloc_hooks.h"
#include "value_dump.h"

namespace mau {
namespace {

using test::Dump;
using Bytes = std::vector<uint8_t>;

struct Outcome {
  std::string text;  // dump of the value, or the error text
  size_t consumed;
};

Outcome Read(const Bytes& bytes) {
  BindingResult result;
  size_t consumed = 99;
  ReadMsgpack(result, consumed, bytes.data(), bytes.size());
  return {test::DumpOrError(result), consumed};
}

struct Case {
  const char* name;
  Bytes bytes;
  std::string expected;
  size_t consumed;
};

void RunCases(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Read(c.bytes);
    EXPECT_EQ(outcome.text, c.expected);
    EXPECT_EQ(outcome.consumed, c.consumed);
  }
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Repeat(uint8_t byte, size_t count) { return Bytes(count, byte); }

TEST(MsgpackReaderTest, Scalars) {
  RunCases({
      {"empty input", {}, "null", 0},
      {"positive fixint", {0x05}, "i:5", 1},
      {"largest positive fixint", {0x7f}, "i:127", 1},
      {"negative fixint", {0xff}, "i:-1", 1},
      {"smallest negative fixint", {0xe0}, "i:-32", 1},
      {"nil", {0xc0}, "null", 1},
      {"false", {0xc2}, "false", 1},
      {"true", {0xc3}, "true", 1},
      {"uint 8", {0xcc, 0xff}, "u:255", 2},
      {"uint 16", {0xcd, 0x01, 0x02}, "u:258", 3},
      {"uint 32", {0xce, 0xff, 0xff, 0xff, 0xff}, "u:4294967295", 5},
      {"uint 64",
       {0xcf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
       "u:18446744073709551615",
       9},
      {"uint of a small value stays unsigned", {0xcc, 0x01}, "u:1", 2},
      {"int 8", {0xd0, 0xff}, "i:-1", 2},
      {"int 16", {0xd1, 0x80, 0x00}, "i:-32768", 3},
      {"int 32", {0xd2, 0x80, 0x00, 0x00, 0x00}, "i:-2147483648", 5},
      {"int 64", {0xd3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "i:-9223372036854775808", 9},
      {"int of a positive value stays signed", {0xd0, 0x01}, "i:1", 2},
      {"float 32 widened", {0xca, 0x3f, 0xc0, 0x00, 0x00}, "f:1.5", 5},
      {"float 64",
       {0xcb, 0x40, 0x09, 0x21, 0xfb, 0x54, 0x44, 0x2d, 0x18},
       "f:3.141592653589793",
       9},
      {"fixstr", {0xa3, 'a', 'b', 'c'}, R"("abc")", 4},
      {"empty fixstr", {0xa0}, R"("")", 1},
      {"str 8", {0xd9, 0x02, 'h', 'i'}, R"("hi")", 4},
      {"str 16", {0xda, 0x00, 0x01, 'x'}, R"("x")", 4},
      {"str 32", {0xdb, 0x00, 0x00, 0x00, 0x01, 'x'}, R"("x")", 6},
      {"bin 8", {0xc4, 0x02, 0x0a, 0xff}, "b:0aff", 4},
      {"bin 16", {0xc5, 0x00, 0x01, 0x00}, "b:00", 4},
      {"bin 32", {0xc6, 0x00, 0x00, 0x00, 0x00}, "b:", 5},
  });
}

TEST(MsgpackReaderTest, Containers) {
  RunCases({
      {"fixarray", {0x92, 0x01, 0xa1, 'x'}, R"([i:1,"x"])", 4},
      {"empty fixarray", {0x90}, "[]", 1},
      {"array 16", {0xdc, 0x00, 0x02, 0xc3, 0xc0}, "[true,null]", 5},
      {"array 32", {0xdd, 0x00, 0x00, 0x00, 0x01, 0x07}, "[i:7]", 6},
      {"fixmap ordered by name", {0x82, 0xa1, 'b', 0x01, 0xa1, 'a', 0x02}, "{a:i:2,b:i:1}", 7},
      {"map 16", {0xde, 0x00, 0x01, 0xa1, 'k', 0x90}, "{k:[]}", 6},
      {"map 32", {0xdf, 0x00, 0x00, 0x00, 0x01, 0xd9, 0x01, 'k', 0xc2}, "{k:false}", 9},
      {"nested", {0x91, 0x81, 0xa1, 'a', 0x92, 0x90, 0x80}, "[{a:[[],{}]}]", 7},
      {"member name from str 16", {0x81, 0xda, 0x00, 0x01, 'n', 0x03}, "{n:i:3}", 6},
      // Only the first value is read; the caller decides what the rest means.
      {"second value left over", {0x01, 0x02}, "i:1", 1},
      {"bytes after a closed array", {0x91, 0x01, 0x02}, "[i:1]", 2},
      {"bytes after an empty array", {0x90, 0x01}, "[]", 1},
      // Input ending between items leaves the announced containers short.
      {"array cut at an item boundary", {0x93, 0x01}, "[i:1]", 2},
      // Each announced item fits in what is left, yet the input ends before them.
      {"array of wider items cut", {0x92, 0xcd, 0x00, 0x01}, "[u:1]", 4},
      {"arrays cut at two levels", {0x93, 0x92, 0x01, 0x02}, "[[i:1,i:2]]", 4},
      {"member's array cut", {0x81, 0xa1, 'a', 0x93, 0xcd, 0x00, 0x01, 0x02}, "{a:[u:1,i:2]}", 8},
      {"map cut after a key", {0x82, 0xa1, 'a', 0x01, 0xa1, 'b'}, "{a:i:1}", 6},
      {"huge announced array, no items", {0xdd, 0xff, 0xff, 0xff, 0xff}, "[]", 5},
      {"huge announced map, one pair",
       {0xdf, 0xff, 0xff, 0xff, 0xff, 0xa1, 'a', 0x01},
       "{a:i:1}",
       8},
  });
}

TEST(MsgpackReaderTest, RepeatedKeys) {
  RunCases({
      {"scalar replaces scalar", {0x82, 0xa1, 'a', 0x01, 0xa1, 'a', 0xa1, 'x'}, R"({a:"x"})", 8},
      {"scalar replaces map",
       {0x82, 0xa1, 'a', 0x81, 0xa1, 'b', 0x01, 0xa1, 'a', 0x05},
       "{a:i:5}",
       10},
      {"map merges into map",
       {0x82, 0xa1, 'a', 0x81, 0xa1, 'b', 0x01, 0xa1, 'a', 0x81, 0xa1, 'c', 0x02},
       "{a:{b:i:1,c:i:2}}",
       13},
      {"array merges into array",
       {0x82, 0xa1, 'a', 0x92, 0x01, 0x02, 0xa1, 'a', 0x91, 0x09},
       "{a:[i:9,i:2]}",
       10},
      {"array replaces map",
       {0x82, 0xa1, 'a', 0x81, 0xa1, 'b', 0x01, 0xa1, 'a', 0x91, 0x09},
       "{a:[i:9]}",
       11},
      // The pair after a repeated container key is read as a pair, not as a key.
      {"pairs after a repeated container key",
       {0x83, 0xa1, 'a', 0x90, 0xa1, 'a', 0x91, 0x01, 0xa1, 'b', 0x02},
       "{a:[i:1],b:i:2}",
       11},
  });
}

TEST(MsgpackReaderTest, Errors) {
  RunCases({
      {"unused type byte", {0xc1}, "Invalid MessagePack data at position 1.", 1},
      {"ext 8", {0xc7}, "Invalid MessagePack data at position 1.", 1},
      {"ext 32", {0xc9, 0x00}, "Invalid MessagePack data at position 1.", 1},
      {"fixext 1 inside an array",
       {0x92, 0x01, 0xd4, 0x01, 0x02},
       "Invalid MessagePack data at position 3.",
       3},
      {"fixext 16", {0xd8}, "Invalid MessagePack data at position 1.", 1},
      {"integer key",
       {0x81, 0x01, 0x02},
       "Invalid MessagePack data at position 2. Map keys must be strings.",
       2},
      {"nil key",
       {0x81, 0xc0, 0x02},
       "Invalid MessagePack data at position 2. Map keys must be strings.",
       2},
      {"map key",
       {0x91, 0x81, 0x80, 0x02},
       "Invalid MessagePack data at position 3. Map keys must be strings.",
       3},
      {"uint 8 truncated",
       {0xcc},
       "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.",
       1},
      {"uint 16 truncated",
       {0xcd, 0x01},
       "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.",
       1},
      {"int 32 truncated",
       {0x91, 0xd2, 0, 0, 0},
       "Invalid MessagePack data. 32-bit integer value at position 2 is truncated.",
       2},
      {"float 32 truncated",
       {0xca, 0x3f},
       "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.",
       1},
      {"float 64 truncated",
       {0xcb, 0, 0, 0, 0, 0, 0, 0},
       "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.",
       1},
      {"str 8 length truncated",
       {0xd9},
       "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.",
       1},
      {"array 16 count truncated",
       {0xdc, 0x00},
       "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.",
       1},
      {"map 32 count truncated",
       {0xdf, 0, 0, 0},
       "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.",
       1},
      {"key length truncated",
       {0x81, 0xda, 0x00},
       "Invalid MessagePack data. 16-bit integer value at position 2 is truncated.",
       2},
      {"fixstr truncated",
       {0xa3, 'a', 'b'},
       "Invalid MessagePack data. String of size 3 at position 1 is truncated.",
       1},
      {"str 32 of 4 GiB",
       {0xdb, 0xff, 0xff, 0xff, 0xff, 'a'},
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated.",
       5},
      {"key truncated",
       {0x81, 0xa2, 'k'},
       "Invalid MessagePack data. String of size 2 at position 2 is truncated.",
       2},
      {"bin truncated",
       {0xc4, 0x02, 0x01},
       "Invalid MessagePack data. Raw bytes of size 2 at position 2 are truncated.",
       2},
      {"bin 32 of 4 GiB",
       {0xc6, 0xff, 0xff, 0xff, 0xff},
       "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are truncated.",
       5},
  });
}

TEST(MsgpackReaderTest, NestingBound) {
  const Bytes deepest = Repeat(0x91, kMaxReaderNesting);
  EXPECT_EQ(Read(deepest).text.substr(0, 4), "[[[[");

  RunCases({
      {"array too deep", Repeat(0x91, kMaxReaderNesting + 1),
       "Invalid MessagePack data at position 513. Nesting is too deep.", 513},
      {"map too deep",
       Concat({[] {
                 Bytes b;
                 for (size_t i = 0; i < kMaxReaderNesting; ++i) b.insert(b.end(), {0x81, 0xa0});
                 return b;
               }(),
               {0xdc, 0x00, 0x01}}),
       "Invalid MessagePack data at position 1025. Nesting is too deep.", 1025},
      // A megabyte of nested arrays stops at the bound instead of building them all.
      {"a megabyte of array 32 headers", Repeat(0xdd, 1 << 20),
       "Invalid MessagePack data at position 2561. Nesting is too deep.", 2561},
      {"a megabyte of one-element arrays", Repeat(0x91, 1 << 20),
       "Invalid MessagePack data at position 513. Nesting is too deep.", 513},
  });
}

// Containers announce counts the input may end short of; the room reserved for them must
// stay small next to the input, whatever they announce.
TEST(MsgpackReaderTest, ShortContainersKeepLittleRoom) {
  const Bytes longText = Concat({{0xdb, 0x00, 0x10, 0x00, 0x00}, Repeat('a', 1 << 20)});
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"array announcing 2^32 - 1, one long string",
       Concat({{0xdd, 0xff, 0xff, 0xff, 0xff}, longText})},
      {"map announcing 2^32 - 1, one long string",
       Concat({{0xdf, 0xff, 0xff, 0xff, 0xff, 0xa1, 'a'}, longText})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const MemoryCounters before = ReadMemoryCounters();
    BindingResult result;
    size_t consumed = 0;
    ReadMsgpack(result, consumed, c.bytes.data(), c.bytes.size());
    ASSERT_TRUE(result.ok()) << result.ErrorText();
    EXPECT_EQ(result.value().size(), 1u);
    const MemoryCounters after = ReadMemoryCounters();
    const uint64_t inUse = (after.bytesAllocated - before.bytesAllocated) -
                           (after.bytesReleased - before.bytesReleased);
    EXPECT_LT(inUse, c.bytes.size() + 64 * 1024);
  }
}

TEST(MsgpackReaderTest, FailureLeavesOnlyTheError) {
  BindingResult result;
  size_t consumed = 0;
  const Bytes bytes = {0x82, 0xa1, 'a', 0x01, 0xa1, 'b', 0xc1};
  ReadMsgpack(result, consumed, bytes);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(Dump(result.value()), R"({error:"Invalid MessagePack data at position 7."})");
  EXPECT_EQ(consumed, 7u);
}

TEST(MsgpackReaderTest, FailedResultStaysFailed) {
  BindingResult result;
  result.Fail("earlier");
  size_t consumed = 99;
  const Bytes bytes = {0x01};
  ReadMsgpack(result, consumed, bytes);
  EXPECT_EQ(result.ErrorText(), "earlier");
  EXPECT_EQ(consumed, 0u);
}

}  // namespace
}  // namespace mau
