#include "platform/sdk_string.h"

#include <gtest/gtest.h>
#include <string>

#include "support/test_support.h"

namespace mau {
namespace {

TEST(SdkString, OwnedBlocksHaveOddSizes) {
  struct Case {
    const char* text;
    uint32_t word;
  };
  for (const Case& c : {Case{"abcd", 5}, Case{"abcde", 7}, Case{"a", 3}, Case{"", 0}}) {
    SCOPED_TRACE(c.text);
    SdkString s(c.text);
    EXPECT_EQ(s.capacity_word(), c.word);
    EXPECT_EQ(s.owns_block(), c.word != 0);
    EXPECT_STREQ(s.c_str(), c.text);
  }
}

TEST(SdkString, EmptyStringsShareTheEmptyTextAndReleaseNothing) {
  test::AllocationProbe probe;
  {
    SdkString a;
    SdkString b("");
    a.Assign("");
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_FALSE(a.owns_block());
  }
  EXPECT_EQ(probe.Blocks(), 0u);
}

TEST(SdkString, AppendGrowsByHalfTheCapacityWord) {
  SdkString s;
  test::AllocationProbe probe;
  s.Append("x");
  EXPECT_EQ(probe.Blocks(), 1u) << "appending to an empty string allocates";
  EXPECT_EQ(s.capacity_word(), 3u);
  s.Append("y");  // fits: capacity 2
  EXPECT_EQ(probe.Blocks(), 1u);
  s.Append("z");  // needs 3: max(3 / 2 * 3, 3) + 1 | 1 = 5
  EXPECT_EQ(s.capacity_word(), 5u);
  s.Append("0123456789");  // needs 13: max(5 / 2 * 3, 13) + 1 | 1 = 15
  EXPECT_EQ(s.capacity_word(), 15u);
  EXPECT_STREQ(s.c_str(), "xyz0123456789");
  EXPECT_EQ(s.size(), 13u);
}

TEST(SdkString, AssignReusesABlockThatIsLargeEnough) {
  SdkString s("a long enough text");
  const char* data = s.c_str();
  s.Assign("short");
  EXPECT_EQ(s.c_str(), data);
  EXPECT_STREQ(s.c_str(), "short");
  s.Assign("a text that is longer than the block was");
  EXPECT_NE(s.c_str(), data);
  EXPECT_EQ(s.capacity_word(),
            (std::string("a text that is longer than the block was").size() + 1) | 1);
}

TEST(SdkString, AppendAndAssignFromItself) {
  SdkString s("abc");
  s.Append(s.c_str());
  EXPECT_STREQ(s.c_str(), "abcabc");
  s.Assign(s.c_str() + 3);
  EXPECT_STREQ(s.c_str(), "abc");
}

TEST(SdkString, FormatResizeCompareAndCase) {
  SdkString s;
  s.Format("%s-%d", "id", 42);
  EXPECT_TRUE(s.Equals("id-42"));
  EXPECT_TRUE(s.Equals(SdkString("id-42")));
  EXPECT_FALSE(s.Equals("id-4"));
  EXPECT_TRUE(s.BeginsWith("id-"));
  EXPECT_FALSE(s.BeginsWith("id-42-"));
  s.Format("%s", "");
  EXPECT_TRUE(s.empty());
  s.Assign("MiXeD 1");
  s.ToLowerAscii();
  EXPECT_STREQ(s.c_str(), "mixed 1");
  s.Resize(2);
  EXPECT_STREQ(s.c_str(), "mi");
  s.Resize(4);
  EXPECT_EQ(s.size(), 4u);
  EXPECT_EQ(s.view(), std::string_view("mi\0\0", 4));
}

TEST(SdkString, CopiesAndMovesOwnTheirBlocks) {
  SdkString a("value");
  SdkString b(a);
  EXPECT_NE(a.c_str(), b.c_str());
  SdkString c(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_FALSE(a.owns_block());
  EXPECT_STREQ(c.c_str(), "value");
  b = c;
  EXPECT_TRUE(b.Equals(c));
}

}  // namespace
}  // namespace mau
