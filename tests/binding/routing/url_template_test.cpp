#include "binding/routing/url_template.h"

#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace mau {
namespace {

std::string DescribeParameters(const std::vector<RouteParameter>& parameters) {
  std::string out;
  for (const RouteParameter& p : parameters) {
    out += std::to_string(static_cast<uint32_t>(p.kind)) + ":" + p.name + ";";
  }
  return out;
}

TEST(CompileTemplate, PatternTextAndParameters) {
  struct Case {
    const char* urlTemplate;
    const char* pattern;
    const char* parameters;
  };
  const Case cases[] = {
      {"/items/{id}.json", R"(/items/([^/]*)\.json)", "1:id;"},
      {"/files/{+path}", "/files/(.*)", "2:path;"},
      {"/page{#section}", "/page#(.*)", "3:section;"},
      {"/items/{id}/tags/{+rest}", "/items/([^/]*)/tags/(.*)", "1:id;2:rest;"},
      {"{a+b}", "([^/]*)", "1:a+b;"},
      {"{++x}{#+y}", "(.*)#(.*)", "2:+x;3:+y;"},
      {"^$.*+?()[]|\\-/,", R"(\^\$\.\*\+\?\(\)\[\]\|\\-/,)", ""},
      {"{}", "([^/]*)", "1:;"},
      // Unbalanced braces: the rules still apply, and pairing breaks.
      {"/a}/{b}", "/a/([^/]*)", "0:;1:b;"},
      {"/{a{+b}", "/([^/]*)", "1:a+b;"},
      {"/x/{open", "/x/", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.urlTemplate);
    const CompiledTemplate compiled = CompileTemplate(c.urlTemplate);
    EXPECT_EQ(compiled.pattern, c.pattern);
    EXPECT_EQ(DescribeParameters(compiled.parameters), c.parameters);
  }
}

TEST(MatchTemplate, CapturesAndRefusals) {
  struct Case {
    const char* urlTemplate;
    const char* url;
    bool matches;
    std::vector<std::string> captures;
  };
  const Case cases[] = {
      {"/a/{id}", "/a/", true, {""}},
      {"/a/{id}", "/a/b/c", false, {}},
      {"/a/{+rest}", "/a/b/c", true, {"b/c"}},
      {"/r1.0/{x}", "/r1x0/y", false, {}},
      {"/r1.0/{x}", "/r1.0/y", true, {"y"}},
      {"/items/{id}", "/items/7?x=1", true, {"7?x=1"}},
      {"/{a}{b}", "/xyz", true, {"xyz", ""}},
      {"/{+a}/{+b}", "/x/y/z", true, {"x/y", "z"}},
      {"/{+a}", "/x\ny", false, {}},
      {"/{a}", "/x\ny", true, {"x\ny"}},
      {"/p{#s}", "/p#frag/x", true, {"frag/x"}},
      {"/p{#s}", "/p", false, {}},
      {"/{a}-{b}", "/x-y-z", true, {"x-y", "z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.urlTemplate) + " against " + c.url);
    std::vector<std::string_view> captures;
    EXPECT_EQ(MatchTemplate(CompileTemplate(c.urlTemplate), c.url, captures), c.matches);
    EXPECT_EQ(std::vector<std::string>(captures.begin(), captures.end()), c.captures);
  }
}

// A URL of 100 KB makes a backtracking engine recurse once per byte; ours does not.
TEST(MatchTemplate, LongUrlsMatchInBoundedStack) {
  const std::string tail(100'000, 'x');
  std::vector<std::string_view> captures;
  ASSERT_TRUE(MatchTemplate(CompileTemplate("/files/{+path}"), "/files/" + tail, captures));
  EXPECT_EQ(captures.at(0).size(), tail.size());
  ASSERT_TRUE(MatchTemplate(CompileTemplate("/{a}/{+b}/{c}.x"), "/a/" + tail + "/" + tail + "/c.x",
                            captures));
  EXPECT_EQ(captures.at(1).size(), 2 * tail.size() + 1);
  EXPECT_FALSE(MatchTemplate(CompileTemplate("/{a}/{b}"), "/" + tail, captures));
  EXPECT_TRUE(captures.empty());
}

// Our matcher against std::regex (ECMAScript, full match) on generated templates and short
// URLs: the same decision and the same text for every capture group.
TEST(MatchTemplate, AgreesWithStdRegexOnGeneratedTemplates) {
  std::mt19937 random(20261210);
  auto pick = [&](std::string_view alphabet) {
    return alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
  };
  auto chance = [&](int percent) {
    return std::uniform_int_distribution<int>(0, 99)(random) < percent;
  };
  const std::string_view kTemplateChars = "ab/.-#?+*()[]|^$\\x{{{}}}";
  const std::string_view kUrlChars = "ab/.-#?+x\n\r\x80%";
  int compared = 0;
  int matched = 0;
  int matchedForward = 0;  // by the forward walk of templates made of path segments
  for (int t = 0; t < 3000; ++t) {
    // Well-formed templates most of the time, any brace soup otherwise.
    std::string urlTemplate;
    const int length = std::uniform_int_distribution<int>(0, 10)(random);
    for (int i = 0; i < length; ++i) {
      if (chance(70)) {
        urlTemplate += pick("ab/.-#?+*x");
      } else if (chance(80)) {
        urlTemplate += '{';
        if (chance(40)) urlTemplate += pick("+#");
        urlTemplate += pick("pq");
        urlTemplate += '}';
      } else {
        urlTemplate += pick(kTemplateChars);
      }
    }
    const CompiledTemplate compiled = CompileTemplate(urlTemplate);
    const std::regex regex(compiled.pattern,
                           std::regex_constants::ECMAScript | std::regex_constants::optimize);

    std::vector<std::string> urls;
    for (int u = 0; u < 12; ++u) {
      std::string url;
      const int n = std::uniform_int_distribution<int>(0, 8)(random);
      for (int i = 0; i < n; ++i) url += pick(kUrlChars);
      urls.push_back(url);
    }
    // URLs built from the template's literals, so that many of them match.
    for (int u = 0; u < 12; ++u) {
      std::string url = compiled.literals[0];
      for (size_t g = 1; g < compiled.literals.size(); ++g) {
        const int n = std::uniform_int_distribution<int>(0, 4)(random);
        for (int i = 0; i < n; ++i) url += pick(kUrlChars);
        url += compiled.literals[g];
      }
      urls.push_back(url);
    }

    for (const std::string& url : urls) {
      SCOPED_TRACE("template '" + urlTemplate + "' pattern '" + compiled.pattern + "' url '" + url +
                   "'");
      std::smatch expected;
      const bool expectedMatch = std::regex_match(url, expected, regex);
      std::vector<std::string_view> captures;
      ASSERT_EQ(MatchTemplate(compiled, url, captures), expectedMatch);
      ++compared;
      if (!expectedMatch) {
        EXPECT_TRUE(captures.empty());
        continue;
      }
      ++matched;
      if (compiled.forwardOnly && !compiled.captures.empty()) ++matchedForward;
      ASSERT_EQ(captures.size() + 1, expected.size());
      for (size_t g = 0; g < captures.size(); ++g) {
        ASSERT_TRUE(expected[g + 1].matched);
        ASSERT_EQ(std::string(captures[g]), expected[g + 1].str()) << "group " << g + 1;
      }
    }
  }
  EXPECT_GT(matched, compared / 4) << "the generator should produce matching URLs often";
  EXPECT_GT(matchedForward, matched / 10) << "and templates of both kinds";
}

TEST(ValidateTemplate, RefusesUnbalancedBraces) {
  struct Case {
    const char* urlTemplate;
    const char* message;
  };
  const Case cases[] = {
      {"/items/{id}/tags/{+rest}", ""},
      {"plain", ""},
      {"{}", ""},
      {"/a}/{b}", "Unbalanced '}' at offset 2 of URL template '/a}/{b}'"},
      {"/{a{b}", "Nested '{' at offset 3 of URL template '/{a{b}'"},
      {"/x/{open", "Unclosed '{' at offset 3 of URL template '/x/{open'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValidateTemplate(c.urlTemplate), c.message) << c.urlTemplate;
  }
}

}  // namespace
}  // namespace mau
