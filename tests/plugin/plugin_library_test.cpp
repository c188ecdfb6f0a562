// Loads the real test-plugin library and drives it through its one export, as a host does.
#include "plugin_library.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/binding_value.h"
#include "test_host.h"

namespace mau {
namespace {

using test::TestHost;

std::string TestPluginPath() { return host::ExecutableFolder() + "/" + MAU_TEST_PLUGIN_FILE; }

// Each test loads the library and unloads it at its end, as a host may.
struct LoadedTestPlugin {
  host::PluginLibrary library;
  std::string error;
  LoadedTestPlugin() { library.Load(TestPluginPath(), &error); }
};

TEST(PluginLibrary, TheExportDrivesTheWholeLifecycle) {
  LoadedTestPlugin loaded;
  host::PluginLibrary& library = loaded.library;
  ASSERT_NE(library.Export(), nullptr) << loaded.error;

  HostApi api{18, 1, 4, nullptr, nullptr, nullptr, nullptr};
  library.Export()(&api);
  EXPECT_EQ(+api.apiMajor, 18u);
  EXPECT_EQ(+api.apiMinor, 0u);
  EXPECT_EQ(+api.apiPatch, 0u);
  ASSERT_NE(+api.callbacks, nullptr);
  EXPECT_STREQ(api.pluginName, "mau-test-plugin");
  ASSERT_NE(+api.exports, nullptr);
  std::vector<std::string> types;
  for (uint32_t i = 0; i < api.exports->typeCount; ++i)
    types.push_back(std::string(api.exports->types[i].name));
  EXPECT_NE(std::find(types.begin(), types.end(), "MauTestPluginChatStatus"), types.end());

  TestHost host;
  host.answers["/mau-chat/v1/me"].value.MemberForWriting("availability") = "chat";
  ASSERT_EQ(+api.callbacks->StartPlugin(api.pluginContext, host.context()), 1);
  ASSERT_TRUE(host.subscriptions.count("OnJsonApiEvent_mau-chat_v1_me"));

  BindingValue away;
  away.MemberForWriting("availability") = "away";
  EXPECT_TRUE(
      host.PublishResource("OnJsonApiEvent_mau-chat_v1_me", "/mau-chat/v1/me", "Update", away));
  ASSERT_EQ(host.timers.size(), 1u);
  host.FireTimer(0);

  EXPECT_EQ(host.logs, (std::vector<std::pair<int32_t, std::string>>{
                           {3, "mau-test-plugin: initialized"},
                           {3, "mau-test-plugin: /mau-chat/v1/me is chat (0)"},
                           {3, "mau-test-plugin: /mau-chat/v1/me is away (1)"},
                           {3, "mau-test-plugin: tick 1"},
                       }));

  MemoryStats stats{};
  stats.reserved = 7;
  api.callbacks->GetMemoryStats(api.pluginContext, &stats);
  EXPECT_GT(+stats.allocations, 0u);
  EXPECT_EQ(+stats.reserved, 0u);

  api.callbacks->StopPlugin(api.pluginContext);
  EXPECT_TRUE(host.subscriptions.empty());
  EXPECT_EQ(host.responsesReleased, host.responsesFilled);
}

// Loads the library and calls its export as a host at API 19.0.0.
void LoadAsIncompatibleHost() {
  LoadedTestPlugin loaded;
  host::PluginLibrary& library = loaded.library;
  if (library.Export() == nullptr) return;
  HostApi api{19, 0, 0, nullptr, nullptr, nullptr, nullptr};
  library.Export()(&api);
}

TEST(PluginLibraryDeathTest, ARefusedHostEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(LoadAsIncompatibleHost(),
               "mau-test-plugin which supports plugin API 18\\.0\\.0 is not compatible with "
               "core's plugin API 19\\.0\\.0");
}

}  // namespace
}  // namespace mau
