#include "plugin/plugin_version.h"

#include <gtest/gtest.h>
#include <string>

#include "log/log_core.h"

namespace mau {
namespace {

TEST(PluginApiVersion, CompatibilityWithTheLibrary) {
  struct Case {
    uint32_t major, minor, patch;
    bool compatible;
  };
  const Case cases[] = {
      {18, 0, 0, true},  {18, 0, 7, true},  {18, 3, 0, true}, {18, 5, 2, true},
      {17, 9, 9, false}, {19, 0, 0, false}, {0, 0, 0, false}, {0xFFFFFFFF, 0, 0, false},
  };
  for (const Case& c : cases) {
    const PluginApiVersion host{c.major, c.minor, c.patch, "", ""};
    EXPECT_EQ(CheckApiCompatible(LibraryApiVersion(), host), c.compatible) << host.ToText();
  }
  // Against a library at 18.2.5, minor and patch compare in order.
  const PluginApiVersion library{18, 2, 5, "", ""};
  EXPECT_FALSE(CheckApiCompatible(library, {18, 2, 4, "", ""}));
  EXPECT_TRUE(CheckApiCompatible(library, {18, 3, 0, "", ""}));
  EXPECT_FALSE(CheckApiCompatible(library, {18, 1, 9, "", ""}));
}

TEST(PluginApiVersion, TextForm) {
  EXPECT_EQ(LibraryApiVersion().ToText(), "18.0.0");
  EXPECT_EQ((PluginApiVersion{1, 2, 3, "beta", ""}).ToText(), "1.2.3-beta");
  EXPECT_EQ((PluginApiVersion{1, 2, 3, "", "7"}).ToText(), "1.2.3+7");
  EXPECT_EQ((PluginApiVersion{1, 2, 3, "rc1", "b9"}).ToText(), "1.2.3-rc1+b9");
}

class LineCatcher : public LogTarget {
 public:
  LineCatcher() {
    RouteWritesToWrite();
    Configure(LogTargetSettings{kLogOkay, 0, 0, "#L|#G|#M"});
  }
  ~LineCatcher() override { Unregister(); }
  bool Write(const LogRecord& record) override {
    char line[kLogMessageCapacity];
    Render(line, sizeof line, record);
    lines += line;
    return true;
  }
  std::string lines;
};

TEST(PluginNames, FullNameFromKind) {
  LineCatcher catcher;
  EXPECT_EQ(GetFullNameFromShortNameAndType("mau-discord-rp", BackendPluginKind()),
            "hxp-be-mau-discord-rp");
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", PluginKind{"frontend", ""}), "hxp-fe-x");
  EXPECT_TRUE(catcher.lines.empty());
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", PluginKind{"Backend", ""}), "hxp-xx-x");
  EXPECT_EQ(catcher.lines,
            " ERROR|DBG|            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", "
            "\"Backend\") called with an unknown type\n");
}

}  // namespace
}  // namespace mau
