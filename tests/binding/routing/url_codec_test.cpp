#include "binding/routing/url_codec.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace mau {
namespace {

TEST(UrlDecode, EscapesPlusAndMalformedInput) {
  struct Case {
    std::string text;
    std::string decoded;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"%41%4", "A4"},
      {"a+b", "a b"},
      {"%zz", std::string(1, '\x10')},  // both digits count as 16: (16 * 16 | 16) & 0xFF
      {"%4g", std::string(1, '\x50')},  // 4 * 16 | 16
      {"%", ""},
      {"%2", "2"},
      {"a%2Fb%2f", "a/b/"},
      {"%00x", std::string("\0x", 2)},
      {"%e2%82%ac", "\xe2\x82\xac"},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlDecode(c.text), c.decoded) << c.text;
}

TEST(ParseQueryString, PiecesNamesAndValues) {
  using Pairs = std::map<std::string, std::string>;
  struct Case {
    std::string query;
    Pairs pairs;
  };
  const Case cases[] = {
      {"", {}},
      {"a=1&a=2", {{"a", "2"}}},
      {"a=1&", {{"a", "1"}, {"", ""}}},
      {"flag", {{"flag", ""}}},
      {"k=v=w", {{"k", "v=w"}}},
      {"&&", {{"", ""}}},
      {"a%20b=c+d&x=%3D", {{"a b", "c d"}, {"x", "="}}},
      {std::string("a=1&b=2\0&c=3", 12), {{"a", "1"}, {"b", "2"}}},
  };
  for (const Case& c : cases) {
    const QueryParameters parsed = ParseQueryString(c.query);
    EXPECT_EQ(Pairs(parsed.begin(), parsed.end()), c.pairs) << c.query;
  }
}

}  // namespace
}  // namespace mau
