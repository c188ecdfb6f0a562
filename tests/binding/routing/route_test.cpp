#include "binding/routing/route.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "binding/routing/function_registration.h"

namespace mau {
namespace {

using Pairs = std::map<std::string, std::string>;

Pairs Sorted(const PathParameters& path) { return Pairs(path.begin(), path.end()); }

BindingFunctionDescriptor Named(const char* name) {
  BindingFunctionDescriptor function;
  function.name = name;
  return function;
}

TEST(MatchRoute, LiteralAndPatternRoutes) {
  const BindingFunctionDescriptor function = Named("f");
  struct Case {
    const char* urlTemplate;
    const char* url;
    bool matches;
    Pairs path;
  };
  const Case cases[] = {
      {"/items", "/items", true, {}},
      {"/items", "/items?x=1", false, {}},
      {"/items", "/item", false, {}},
      {"", "", false, {}},  // neither a literal nor a pattern
      {"/items/{id}", "/items/a%2Fb+c", true, {{"id", "a/b c"}}},
      {"/{x}/{x}", "/1/2", true, {{"x", "2"}}},  // a repeated name keeps the last value
      {"/a}/{b}", "/a/7", true, {{"", "7"}}},    // unbalanced: captures pair up as compiled
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.urlTemplate) + " against " + c.url);
    const Route route(&function, nullptr, c.urlTemplate);
    PathParameters path;
    EXPECT_EQ(MatchRoute(route, c.url, path), c.matches);
    EXPECT_EQ(Sorted(path), c.path);
  }
}

TEST(SelectRoute, ShortestCapturesWinAndMethodsFilter) {
  const BindingFunctionDescriptor first = Named("first");
  const BindingFunctionDescriptor second = Named("second");
  const BindingFunctionDescriptor third = Named("third");
  FunctionRegistration getOnly;
  getOnly.method = RequestMethod::Get;
  FunctionRegistration custom;
  custom.method = RequestMethod::Custom;
  custom.customMethod = "PURGE";

  struct Case {
    const char* label;
    std::vector<Route> routes;
    RequestMethod method;
    const char* customMethod;
    const char* url;
    const char* selected;  // null: none
  };
  const Case cases[] = {
      {"shorter captures win",
       {Route(&first, nullptr, "/a/{+x}"), Route(&second, nullptr, "/a/b{+x}")},
       RequestMethod::Get,
       "",
       "/a/bcd",
       "second"},
      {"a tie keeps the earlier route",
       {Route(&first, nullptr, "/a/{x}d"), Route(&second, nullptr, "/a/b{x}")},
       RequestMethod::Get,
       "",
       "/a/bcd",
       "first"},
      {"a match without captures ends the walk",
       {Route(&first, nullptr, "/a/bcd"), Route(&second, nullptr, "/a/{x}")},
       RequestMethod::Get,
       "",
       "/a/bcd",
       "first"},
      {"an empty capture does not end the walk, and the tie keeps it",
       {Route(&first, nullptr, "/a/{x}"), Route(&second, nullptr, "/a/"),
        Route(&third, nullptr, "/a/{+y}")},
       RequestMethod::Get,
       "",
       "/a/",
       "first"},
      {"the method must fit",
       {Route(&first, &getOnly, "/a"), Route(&second, nullptr, "/a")},
       RequestMethod::Post,
       "",
       "/a",
       "second"},
      {"a custom method compares its name",
       {Route(&first, &custom, "/a"), Route(&second, &custom, "/b")},
       RequestMethod::Custom,
       "PURGE",
       "/a",
       "first"},
      {"a custom name that differs is refused",
       {Route(&first, &custom, "/a")},
       RequestMethod::Custom,
       "purge",
       "/a",
       nullptr},
      {"nothing matches", {Route(&third, nullptr, "/c")}, RequestMethod::Get, "", "/a", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CallContext context;
    context.method = c.method;
    context.customMethod = c.customMethod;
    context.url = c.url;
    const bool selected = SelectRoute(context, c.routes, false);
    ASSERT_EQ(selected, c.selected != nullptr);
    if (selected) {
      EXPECT_EQ(context.function->name, c.selected);
    }
  }

  // ignoreMethod skips the method check.
  CallContext context;
  context.method = RequestMethod::Post;
  context.url = "/a";
  const Route getRoute(&first, &getOnly, "/a");
  EXPECT_TRUE(SelectRoute(context, std::span<const Route>(&getRoute, 1), true));
}

}  // namespace
}  // namespace mau
