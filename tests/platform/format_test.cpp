#include "platform/format.h"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace mau {
namespace {

struct Case {
  const char* pattern;
  std::string expected;
  std::string actual;
};

TEST(FormatText, PositionalPlaceholders) {
  const Case cases[] = {
      {"%1 of %2", "a of b", FormatText("%1 of %2", "a", "b")},
      {"%2 %1", "b a", FormatText("%2 %1", "a", "b")},
      {"%1$05d", "00042", FormatText("%1$05d", 42)},
      {"%1$x", "ff", FormatText("%1$x", 255)},
      {"%1$s with an integer uses d", "255", FormatText("%1$s", 255)},
      {"%1 unsigned 64-bit", "18446744073709551615", FormatText("%1", UINT64_MAX)},
      {"%1 signed 64-bit", "-9223372036854775808", FormatText("%1", INT64_MIN)},
      {"100%%", "100%", FormatText("100%%")},
      {"%3 with two arguments stops", "x=", FormatText("x=%3 y", 1, 2)},
      {"%1x is text after a bare placeholder", "255x", FormatText("%1x", 255)},
      {"%1 double", "1e+20", FormatText("%1", 1e20)},
      {"%1$.2f", "3.14", FormatText("%1$.2f", 3.14159)},
      {"%1$d with a double uses g", "2.5", FormatText("%1$d", 2.5)},
      {"%1 char", "A", FormatText("%1", 'A')},
      {"%1$d char", "65", FormatText("%1$d", 'A')},
      {"%1$c int", "B", FormatText("%1$c", 66)},
      {"%1$c int64", "C", FormatText("%1$c", int64_t{67})},
      {"%1$x int64", "ffffffffff", FormatText("%1$x", int64_t{0xffffffffff})},
      {"%1$hd narrows", "-1", FormatText("%1$hd", 65535)},
      {"%1$-5s|", "ab   |", FormatText("%1$-5s|", "ab")},
      {"%1$5s| string object", "   ab|", FormatText("%1$5s|", std::string("ab"))},
      {"%1$.1s string view", "a", FormatText("%1$.1s", std::string_view("abc"))},
      {"%1$*2$d width from argument 2", "   7", FormatText("%1$*2$d", 7, 4)},
      // The placeholder takes its own number first, then the * takes the next one.
      {"%*d width from the counter", "  9", FormatText("%*d", 9, 3)},
      {"%s %s unnumbered", "p q", FormatText("%s %s", "p", "q")},
      {"%1$*2$d width from a text ends", "", FormatText("%1$*2$d", 7, "x")},
      {"%1$n is never a conversion", "5", FormatText("%1$n", 5)},
      {"% at the end stops", "a", FormatText("a%", 1)},
      {"%0 is not a position", "", FormatText("%0", 1)},
      {"%1 string object with NUL-free view", "abc",
       FormatText("%1", std::string_view("abcdef", 3))},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.actual, c.expected) << "pattern: " << c.pattern;
  }
}

TEST(FormatText, OverlongSpecificationEndsFormatting) {
  const std::string pattern = "ok %1$" + std::string(70, '0') + "5d";
  EXPECT_EQ(FormatText(pattern.c_str(), 1), "ok ");
}

TEST(FormatText, OutputIsBoundedAt4095Characters) {
  const std::string big(5000, 'x');
  EXPECT_EQ(FormatText("%1", big).size(), 4095u);
  EXPECT_EQ(FormatText(big.c_str()).size(), 4095u);
  EXPECT_EQ(FormatText("%1$5000d", 1).size(), 4095u);
}

TEST(FormatInto, AlwaysTerminatesAndReportsWhatFits) {
  const FormatArg args[] = {FormatArg("abcdef"), FormatArg(123456)};
  char buffer[5];
  EXPECT_EQ(FormatInto(buffer, sizeof buffer, "%1", args, 2), 4u);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(FormatInto(buffer, sizeof buffer, "%2", args, 2), 4u);
  EXPECT_STREQ(buffer, "1234");
  EXPECT_EQ(FormatInto(buffer, 1, "%1", args, 2), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(FormatInto(buffer, sizeof buffer, nullptr, args, 2), 0u);
}

}  // namespace
}  // namespace mau
