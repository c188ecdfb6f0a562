#include "binding/routing/identifier.h"

#include <gtest/gtest.h>

#include "binding/routing/request_method.h"

namespace mau {
namespace {

TEST(ToIdentifier, SeparatorsBracesAndPrefix) {
  struct Case {
    const char* prefix;
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"", "mau-discord-rp", "MauDiscordRp"},
      {"GET", "items/{id}/tags", "GetItemsByIdTags"},
      {"", "a!b+c.d/e_f", "ABCDEF"},
      {"", "x}y", "Xy"},
      {"", "{id}", "ById"},
      {"p", "", "P"},
      {"", "", ""},
      {"", "already_Capital", "AlreadyCapital"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToIdentifier(c.prefix, c.path), c.expected) << c.prefix << " " << c.path;
  }
}

TEST(RequestMethod, NamesAndHostCodes) {
  const char* names[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", ""};
  for (uint32_t code = 0; code <= 8; ++code) {
    EXPECT_STREQ(RequestMethodName(static_cast<RequestMethod>(code)), names[code]) << code;
    EXPECT_EQ(RequestMethodFromCode(code), static_cast<RequestMethod>(code));
  }
  EXPECT_EQ(RequestMethodFromCode(9), RequestMethod::None);
  EXPECT_EQ(RequestMethodFromCode(0xFFFFFFFF), RequestMethod::None);
}

}  // namespace
}  // namespace mau
