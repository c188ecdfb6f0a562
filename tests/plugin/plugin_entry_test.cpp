#include "plugin/plugin_entry.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "test_plugin.h"

namespace mau {
namespace {

using test::StartedPlugin;
using test::TestHost;
using test::TestPlugin;

HostApi HostAt(uint32_t major, uint32_t minor, uint32_t patch) {
  return HostApi{major, minor, patch, nullptr, nullptr, nullptr, nullptr};
}

TEST(PluginHandshake, ACompatibleHostGetsTheLibraryVersionAndThePluginsTables) {
  const uint32_t accepted[][3] = {{18, 0, 0}, {18, 0, 7}, {18, 3, 0}, {18, 5, 2}};
  for (const auto& version : accepted) {
    SCOPED_TRACE(testing::Message() << version[0] << "." << version[1] << "." << version[2]);
    auto* plugin = new TestPlugin;
    HostApi api = HostAt(version[0], version[1], version[2]);
    LoadPlugin(*plugin, &api, "mau-discord-rp");
    EXPECT_EQ(+api.apiMajor, 18u);
    EXPECT_EQ(+api.apiMinor, 0u);
    EXPECT_EQ(+api.apiPatch, 0u);
    EXPECT_EQ(+api.callbacks, plugin->Callbacks());
    EXPECT_EQ(+api.pluginContext, static_cast<void*>(plugin));
    EXPECT_STREQ(api.pluginName, "mau-discord-rp");
    EXPECT_EQ(+api.exports, plugin->ExportTables().exports());
    EXPECT_EQ(plugin->hostVersion.minor, version[1]);
    EXPECT_EQ(plugin->hostVersion.patch, version[2]);
    EXPECT_EQ(plugin->Identity().fullName, "hxp-be-mau-discord-rp");
    EXPECT_EQ(plugin->Identity().kind.name, "backend");
    EXPECT_EQ(plugin->TypeNamePrefix(), "MauDiscordRp");
    EXPECT_EQ(plugin->TypeTags(), (std::vector<std::string>{"Plugins", "Plugin mau-discord-rp"}));
    api.callbacks->StopPlugin(api.pluginContext);  // never started: only destroys it
  }
}

TEST(PluginHandshakeDeathTest, AnIncompatibleHostEndsTheProcessAfterTheReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    uint32_t major, minor, patch;
    const char* expected;
  } refused[] = {
      {19, 0, 0, "Expression: ALE-EECF0606"},
      {19, 0, 0,
       "mau-discord-rp which supports plugin API 18\\.0\\.0 is not compatible with core's plugin "
       "API 19\\.0\\.0"},
      {17, 9, 9, "is not compatible with core's plugin API 17\\.9\\.9"},
      {0, 0, 0, "is not compatible with core's plugin API 0\\.0\\.0"},
  };
  for (const auto& c : refused) {
    EXPECT_DEATH(
        {
          TestPlugin plugin;
          HostApi api = HostAt(c.major, c.minor, c.patch);
          LoadPlugin(plugin, &api, "mau-discord-rp");
        },
        c.expected);
  }
}

TEST(PluginHandshake, ExportsListTheRegisteredTypesAndEventsAndNoFunctions) {
  auto* plugin = new TestPlugin;
  HostApi api = HostAt(18, 0, 0);
  LoadPlugin(*plugin, &api, "mau-discord-rp");
  const PluginExports& exports = *api.exports;
  EXPECT_EQ(+exports.functionCount, 0u);
  EXPECT_EQ(+exports.functions, nullptr);

  const PluginTypeEntry* resourceEvent = nullptr;
  const PluginTypeEntry* own = nullptr;
  for (uint32_t i = 0; i < exports.typeCount; ++i) {
    const std::string name = exports.types[i].name;
    if (name == "PluginResourceEvent") resourceEvent = &exports.types[i];
    if (name == "MauDiscordRpChatStatus") own = &exports.types[i];
  }
  ASSERT_NE(resourceEvent, nullptr);
  EXPECT_EQ(+resourceEvent->typeId, 0xA54F35FDu);
  EXPECT_EQ(+resourceEvent->kind, 17u);
  ASSERT_EQ(+resourceEvent->fieldCount, 3u);
  EXPECT_STREQ(resourceEvent->fields[1].name, "eventType");
  EXPECT_EQ(+resourceEvent->fields[1].typeId, 16u);
  ASSERT_EQ(+resourceEvent->tagCount, 1u);
  EXPECT_STREQ(resourceEvent->tags[0], "kclient");
  ASSERT_NE(own, nullptr);
  ASSERT_EQ(+own->tagCount, 2u);
  EXPECT_STREQ(own->tags[1], "Plugin mau-discord-rp");

  std::vector<std::string> events;
  for (const PluginEventEntry* event = exports.events; event != nullptr; event = event->next) {
    events.push_back(std::string(event->name) + ":" + event->payloadTypeName);
  }
  EXPECT_EQ(events, (std::vector<std::string>{
                        "OnCallback:BindingCallbackEvent",  // the help's builtin event
                        "OnJsonApiEvent:PluginResourceEvent",
                        "OnLcdsEvent:PluginLcdsEvent",
                        "OnServiceProxyUuidEvent:PluginServiceProxyResponse",
                        "OnServiceProxyMethodEvent:PluginServiceProxyResponse",
                        "OnServiceProxyAsyncEvent:PluginServiceProxyResponse",
                    }));
  EXPECT_EQ(+exports.eventCount, 6u);

  // The routing layer adds exposed functions to the same record the host holds.
  PluginFunctionEntry function;
  std::memset(&function, 0, sizeof(function));
  function.size = sizeof(function);
  function.name = "Ping";
  plugin->ExportTables().AddFunction(function);
  ASSERT_EQ(+api.exports->functionCount, 1u);
  EXPECT_STREQ(api.exports->functions[0].name, "Ping");
  api.callbacks->StopPlugin(api.pluginContext);
}

TEST(PluginHandshake, MemoryStatsCopyTheCountersAndZeroTheLastWord) {
  MemoryStats stats;
  std::memset(&stats, 0xAB, sizeof(stats));
  PluginBase::GetMemoryStats(nullptr, &stats);
  EXPECT_EQ(+stats.reserved, 0u);
  EXPECT_GT(+stats.allocations, 0u) << "the test program allocates through the hooks";
  EXPECT_GE(+stats.bytesAllocated, +stats.bytesFreed);
  EXPECT_GE(+stats.peakBytesInUse, stats.bytesAllocated - stats.bytesFreed);
  PluginBase::GetMemoryStats(nullptr, nullptr);  // nothing to fill: nothing happens
}

struct ThrowingPlugin : PluginBase {
  ThrowingPlugin() { throw std::runtime_error("no room for a plug-in"); }
};

TEST(PluginHandshake, APluginThatCannotBeCreatedLeavesTheRecordUnchanged) {
  HostApi api = HostAt(18, 0, 0);
  RunPluginExport(&api, "mau-discord-rp", []() -> PluginBase* { return new ThrowingPlugin; });
  RunPluginExport(&api, "mau-discord-rp", []() -> PluginBase* { return nullptr; });
  RunPluginExport(nullptr, "mau-discord-rp", []() -> PluginBase* { return nullptr; });
  EXPECT_EQ(+api.callbacks, nullptr);
  EXPECT_EQ(+api.pluginContext, nullptr);
}

TEST(PluginLifecycle, StartRunsOnInitializeAndStopUnsubscribesEverything) {
  TestHost host;
  host.answers["/mau-chat/v1/me"].value.MemberForWriting("availability") = "chat";
  StartedPlugin<TestPlugin> plugin(host);
  ASSERT_TRUE(plugin.started);
  EXPECT_EQ(plugin->events, 1) << "the initial fetch arrives as an event";
  ASSERT_GE(host.logs.size(), 2u);
  EXPECT_EQ(host.logs[0], (std::pair<int32_t, std::string>{3, "mau-discord-rp: initialized"}));
  EXPECT_EQ(host.logs[1].second, "mau-discord-rp: /mau-chat/v1/me is chat (0)");

  ASSERT_EQ(host.timers.size(), 1u);
  EXPECT_EQ(host.timers[0].name, "Timer: Tick");
  EXPECT_NEAR(host.timers[0].delay, 1.0, 0.25);
  EXPECT_EQ(host.timers[0].reserved, 0);
  host.FireTimer(0);
  EXPECT_EQ(plugin->ticks, 1);
  EXPECT_EQ(host.timers.size(), 2u) << "each tick schedules the next";

  plugin.Stop();
  std::vector<std::string> unsubscribed = host.unsubscribed;
  std::sort(unsubscribed.begin(), unsubscribed.end());
  EXPECT_EQ(unsubscribed,
            (std::vector<std::string>{"OnJsonApiEvent_mau-chat_v1_me", "OnServiceProxyAsyncEvent",
                                      "OnServiceProxyMethodEvent", "OnServiceProxyUuidEvent"}));
  EXPECT_EQ(host.responsesReleased, host.responsesFilled);
}

TEST(PluginLifecycle, StartAnswersWithOnInitializeAndRefusesAMissingContext) {
  struct Refusing : TestPlugin {
    Refusing() { initializeResult = false; }
  };
  TestHost host;
  StartedPlugin<Refusing> refusing(host);
  EXPECT_FALSE(refusing.started);
  EXPECT_EQ(PluginBase::StartPlugin(refusing.plugin, nullptr), 0);
  EXPECT_EQ(PluginBase::StartPlugin(nullptr, host.context()), 0);
}

TEST(PluginLifecycle, BeforeTheStartRequestsFailAndNothingReachesTheHost) {
  TestHost host;
  PluginBase plugin;
  const RequestResult<BindingValue> result = plugin.RequestValue(RequestMethod::Get, "/x");
  EXPECT_EQ(result.error.message, "Error response for GET /x: The plug-in is not started.");
  plugin.ObserveResource("/mau-chat/v1/me", [](const PluginResourceEvent&) {});
  plugin.WaitYield();
  EXPECT_TRUE(host.requests.empty());
  EXPECT_EQ(host.subscribeCalls, 0);
  EXPECT_TRUE(host.calls.empty());
}

// A plug-in whose code throws everywhere the host calls in.
struct ThrowingCallbacksPlugin : PluginBase {
  bool OnInitialize() override {
    ObserveResource("/mau-chat/v1/*",
                    [](const PluginResourceEvent&) { throw std::runtime_error("handler"); });
    StartRepeatingTimer("Boom", 0.5, [] { throw std::runtime_error("timer"); });
    return true;
  }
  void OnShutdown() override { throw std::runtime_error("shutdown"); }
};

struct ThrowingStartPlugin : PluginBase {
  bool OnInitialize() override { throw std::bad_alloc(); }
};

TEST(PluginLifecycle, NoExceptionUnwindsIntoTheHost) {
  TestHost host;
  StartedPlugin<ThrowingCallbacksPlugin> plugin(host);
  ASSERT_TRUE(plugin.started);
  BindingValue data;
  EXPECT_TRUE(
      host.PublishResource("OnJsonApiEvent_mau-chat_v1_*", "/mau-chat/v1/me", "Update", data));
  ASSERT_EQ(host.timers.size(), 1u);
  host.FireTimer(0);
  plugin.Stop();

  TestHost other;
  StartedPlugin<ThrowingStartPlugin> refused(other);
  EXPECT_FALSE(refused.started) << "a start that throws answers 0";
}

}  // namespace
}  // namespace mau
