#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "plugin/plugin_core.h"
#include "plugin_fixture.h"

namespace mau {
namespace {

using test::StartedPlugin;
using test::TestHost;

TEST(EventNameForUri, KeepsThreeSegmentsOrFiveBelowPlatformConfig) {
  const struct {
    const char* uri;
    const char* name;
  } cases[] = {
      {"/mau-chat/v1/me", "OnJsonApiEvent_mau-chat_v1_me"},
      {"mau-chat/v1/me", "OnJsonApiEvent_mau-chat_v1_me"},
      {"/mau-chat/v1/me/extra", "OnJsonApiEvent_mau-chat_v1_me"},
      {"//mau-chat//v1/me/", "OnJsonApiEvent_mau-chat_v1_me"},
      {"/mau-platform-config/v1/namespaces/DiscordRP/IsEnabled",
       "OnJsonApiEvent_mau-platform-config_v1_namespaces_DiscordRP_IsEnabled"},
      {"/mau-game-data/assets/v1/champion-summary.json", "OnJsonApiEvent_mau-game-data_assets_v1"},
      {"/mau-chat", "OnJsonApiEvent_mau-chat"},
      {"", "OnJsonApiEvent"},
      {"/mau-chat/v1/*", "OnJsonApiEvent_mau-chat_v1_*"},
  };
  for (const auto& c : cases) EXPECT_EQ(EventNameForUri(c.uri), c.name) << c.uri;
}

TEST(WildcardMatch, AStarStandsForTheRestOfOneSegment) {
  const struct {
    const char* pattern;
    const char* uri;
    bool match;
  } cases[] = {
      {"/a/*/c", "/a/b/c", true}, {"/a/*", "/a/bc", true},    {"/a/*", "/a/b/c", false},
      {"/a/*", "/a/", false},     {"/a/*x", "/a/bx", false},  {"/a/b", "/a/b", true},
      {"/a/b", "/a/B", false},    {"/a/*/*", "/a/b/c", true}, {"*", "abc", true},
      {"/a/b", "/a/bc", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.uri), c.match) << c.pattern << " vs " << c.uri;
  }
}

BindingValue Chat(const char* availability) {
  BindingValue value;
  value.MemberForWriting("availability") = availability;
  return value;
}

class ResourceEventsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(plugin.started); }

  // Records "handler:uri:type:availability" for each event a handler receives.
  PluginCore::ResourceHandler Recorder(const char* handler) {
    return [this, handler](const PluginResourceEvent& event) {
      seen.push_back(std::string(handler) + ":" + event.uri + ":" +
                     std::to_string(static_cast<int>(event.eventType)) + ":" +
                     std::string(event.data.Member("availability").AsString()));
    };
  }

  static constexpr const char* kChatEvent = "OnJsonApiEvent_mau-chat_v1_me";
  TestHost host;
  StartedPlugin<> plugin{host};
  std::vector<std::string> seen;
};

TEST_F(ResourceEventsTest, AnExactUriDeliversItsCurrentValueAtOnceAPatternDoesNot) {
  host.answers["/mau-chat/v1/me"].value = Chat("chat");
  plugin->ObserveResource("/mau-chat/v1/me", Recorder("exact"));
  plugin->ObserveResource("/mau-chat/v1/me/*", Recorder("pattern"));
  plugin->ObserveResource("/mau-lobby/v2/lobby", Recorder("absent"));  // 404: no event
  EXPECT_EQ(seen, (std::vector<std::string>{"exact:/mau-chat/v1/me:0:chat"}));
  EXPECT_EQ(host.requests.size(), 2u) << "a pattern fetches nothing";
  EXPECT_TRUE(host.subscriptions.count("OnJsonApiEvent_mau-lobby_v2_lobby"))
      << "a failed fetch keeps the subscription";
  EXPECT_EQ(host.responsesReleased, host.responsesFilled);
}

TEST_F(ResourceEventsTest, UrisOfOneEventShareOneSubscriptionAndHandlersSortEventsByUri) {
  plugin->ObserveResource("/mau-chat/v1/me", Recorder("exact"));
  plugin->ObserveResource("/mau-chat/v1/me/*", Recorder("pattern"));
  plugin->ObserveResource("/mau-chat/v1/me/extra", Recorder("extra"));
  const int resourceSubscriptions = host.subscribeCalls - 3;  // the service-proxy events
  EXPECT_EQ(resourceSubscriptions, 1);
  ASSERT_TRUE(host.subscriptions.count(kChatEvent));
  EXPECT_EQ(host.subscriptions[kChatEvent].flag, 0);
  EXPECT_EQ(host.subscriptions[kChatEvent].hostHandle, TestHost::kHostHandle);
  EXPECT_EQ(plugin->EventSubscriptionCount(kChatEvent), 3u);

  ASSERT_TRUE(host.PublishResource(kChatEvent, "mau-chat/v1/me", "Update", Chat("away")));
  ASSERT_TRUE(host.PublishResource(kChatEvent, "/mau-chat/v1/me/extra", "Delete", Chat("dnd")));
  ASSERT_TRUE(host.PublishResource(kChatEvent, "/mau-chat/v1/me/other", "Create", Chat("mobile")));
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "exact:mau-chat/v1/me:1:away",  // no leading slash, event passed unchanged
                      "extra:/mau-chat/v1/me/extra:2:dnd",  // the exact handler runs first
                      "pattern:/mau-chat/v1/me/extra:2:dnd",
                      "pattern:/mau-chat/v1/me/other:0:mobile",
                  }));
}

TEST_F(ResourceEventsTest, TheLastRemovalUnsubscribes) {
  plugin->ObserveResource("/mau-chat/v1/me/*", Recorder("pattern"));
  plugin->AddEventSubscription("/mau-chat/v1/me");
  plugin->RemoveEventSubscription("/mau-chat/v1/me");
  EXPECT_TRUE(host.unsubscribed.empty());
  plugin->RemoveEventSubscription("/mau-chat/v1/me/*");
  EXPECT_EQ(host.unsubscribed, (std::vector<std::string>{kChatEvent}));
  EXPECT_FALSE(plugin->HasEventHandler(kChatEvent));

  plugin->RemoveEventSubscription("/mau-lobby/v2/lobby");  // unmatched: nothing happens
  EXPECT_EQ(host.unsubscribed.size(), 1u);
}

TEST_F(ResourceEventsTest, EventsThatDoNotConvertOrHaveNoHandlerAreDropped) {
  plugin->ObserveResource("/mau-chat/v1/me/*", Recorder("pattern"));
  const HostEventCallback callback = host.subscriptions[kChatEvent].callback;

  HostValue unknownType{};
  unknownType.type = 99;
  HostValue text{};
  text.type = MAU_HOST_VALUE_STRING_BORROWED;
  text.payload.string.text = "not an event";
  BindingValue badType;
  badType.MemberForWriting("uri") = "/mau-chat/v1/me/x";
  badType.MemberForWriting("eventType") = "Renamed";
  HostValue wrongEnum{};
  ASSERT_TRUE(BindingToHostValue(badType, wrongEnum, nullptr));
  for (const HostValue* payload : {&unknownType, &text, &wrongEnum}) {
    EXPECT_TRUE(host.Publish(kChatEvent, *payload));
  }
  ClearHostValue(wrongEnum);

  HostEventMessage message{};
  message.eventName = "OnJsonApiEvent_unknown";
  message.userData = plugin.plugin;
  callback(&message);
  message.eventName = nullptr;
  callback(&message);
  callback(nullptr);
  EXPECT_TRUE(seen.empty());
}

TEST_F(ResourceEventsTest, AHandlerMayObserveMoreAndTheBaseShutdownUnsubscribesAll) {
  plugin->ObserveResource("/mau-chat/v1/*", [this](const PluginResourceEvent&) {
    for (int i = 0; i < 50; ++i) {  // enough to rehash the handler tables
      plugin->ObserveResource("/mau-chat/v1/x" + std::to_string(i) + "/*", Recorder("late"));
    }
  });
  ASSERT_TRUE(host.PublishResource("OnJsonApiEvent_mau-chat_v1_*", "/mau-chat/v1/me", "Update",
                                   Chat("away")));
  EXPECT_TRUE(seen.empty());

  plugin->OnShutdown();
  std::vector<std::string> expected{"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                    "OnServiceProxyAsyncEvent"};
  for (int i = 0; i < 50; ++i)
    expected.push_back("OnJsonApiEvent_mau-chat_v1_x" + std::to_string(i));
  expected.push_back("OnJsonApiEvent_mau-chat_v1_*");
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> unsubscribed = host.unsubscribed;
  std::sort(unsubscribed.begin(), unsubscribed.end());
  EXPECT_EQ(unsubscribed, expected);
  EXPECT_TRUE(host.subscriptions.empty());
}

}  // namespace
}  // namespace mau
