#include "log/message_template.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mau {
namespace {

struct Compiled {
  std::string positional;
  TemplateFields fields;
};

Compiled Compile(const char* pattern, const std::vector<TemplateValue>& values) {
  Compiled c;
  CompileMessageTemplate(pattern, values.data(), values.size(), c.positional, c.fields);
  return c;
}

TEST(MessageTemplate, PositionalTextAndFields) {
  struct Case {
    const char* pattern;
    std::vector<TemplateValue> values;
    std::string positional;
    TemplateFields fields;
  };
  const Case cases[] = {
      {"Error response for {method} {url}: {error}",
       {"GET", "/mau-chat/v1/me", "not found"},
       "Error response for %1 %2: %3",
       {{"method", "GET"}, {"url", "/mau-chat/v1/me"}, {"error", "not found"}}},
      {"{{x}}", {}, "{x}", {}},
      {"a {one} b {two} c", {"1"}, "a %1 b  c", {{"one", "1"}}},
      {"{count?none}", {int64_t{0}}, "none", {}},
      {"{count?none}", {int64_t{5}}, "%1", {{"count", int64_t{5}}}},
      {"{#id}", {int64_t{3}}, "%1", {{"id_int", int64_t{3}}}},
      {"{#id_long} {#ok} {#ratio} {#name}",
       {int64_t{3}, true, 0.5, "x"},
       "%1 %2 %3 %4",
       {{"id_long", int64_t{3}}, {"ok_bool", true}, {"ratio_float", 0.5}, {"name_str", "x"}}},
      {"{id@hex}", {int64_t{255}}, "%1$016llX", {{"id", "00000000000000FF"}}},
      {"{n@str}", {uint64_t{7}}, "%1", {{"n", "7"}}},
      {"{n:05d}", {int64_t{7}}, "%1$05d", {{"n", int64_t{7}}}},
      {"secret:  {token!}", {"abc"}, "secret:", {{"token", "abc"}}},
      {"%d items of {kind}, 100%%",
       {int64_t{2}, "apple"},
       "%d items of %2, 100%%",
       {{"kind", "apple"}}},
      {"{a\\}b}", {"v"}, "%1", {{"a}b", "v"}}},
      {"{same} {same}", {"first", "second"}, "%1 %2", {{"same", "second"}}},
      {"x}}y}", {}, "x}y}", {}},
      {"{}", {"unnamed"}, "%1", {}},
      {"open {never", {"v"}, "open ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const Compiled got = Compile(c.pattern, c.values);
    EXPECT_EQ(got.positional, c.positional);
    EXPECT_EQ(got.fields, c.fields);
  }
}

TEST(MessageTemplate, FormatsWithTheSameValues) {
  const std::vector<TemplateValue> values = {"GET", "/mau-game-data/assets/v1/discord_strings.json",
                                             "Resource not found", int64_t{255}};
  const Compiled c = Compile("Error response for {method} {url}: {error} ({code@hex})", values);
  EXPECT_EQ(FormatMessageTemplate(c.positional, values.data(), values.size()),
            "Error response for GET /mau-game-data/assets/v1/discord_strings.json: Resource not "
            "found (00000000000000FF)");
}

}  // namespace
}  // namespace mau
