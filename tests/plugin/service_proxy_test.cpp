#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "plugin_fixture.h"

namespace mau {
namespace {

using test::StartedPlugin;
using test::TestHost;

PluginServiceProxyResponse Message(const char* uuid, const char* service, const char* method,
                                   const char* payload) {
  PluginServiceProxyResponse response;
  response.uuid = uuid;
  response.serviceName = service;
  response.methodName = method;
  response.payload = payload;
  return response;
}

// Reaches the pending-request table directly, as a plug-in registering several requests at
// once under the service-proxy mutex would.
class ProbePlugin : public PluginBase {
 public:
  void AddPendingWithoutPass(const std::string& key, ServiceProxyHandler handler) {
    std::lock_guard<std::mutex> guard(serviceProxyLock_);
    pending_requests[key] = std::move(handler);
  }
};

class ServiceProxyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(plugin.started); }

  PluginCore::ServiceProxyHandler Recorder(const char* name) {
    return [this, name](const PluginServiceProxyResponse& response) {
      seen.push_back(std::string(name) + ":" + response.payload);
    };
  }
  // Delivers message through the host as the payload of eventName.
  void Publish(const char* eventName, const PluginServiceProxyResponse& message) {
    BindingValue value;
    value.MemberForWriting("uuid") = message.uuid;
    value.MemberForWriting("serviceName") = message.serviceName;
    value.MemberForWriting("methodName") = message.methodName;
    value.MemberForWriting("payload") = message.payload;
    HostValue payload{};
    ASSERT_TRUE(BindingToHostValue(value, payload, nullptr));
    EXPECT_TRUE(host.Publish(eventName, payload));
    ClearHostValue(payload);
  }

  TestHost host;
  StartedPlugin<ProbePlugin> plugin{host};
  std::vector<std::string> seen;
};

TEST_F(ServiceProxyTest, StartSubscribesTheThreeEventsWithFlagOne) {
  for (const char* name :
       {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
    ASSERT_TRUE(host.subscriptions.count(name)) << name;
    EXPECT_EQ(host.subscriptions[name].flag, 1) << name;
  }
}

TEST_F(ServiceProxyTest, MessagesWaitUnderTheirKeyUntilARequestOfThatKeyIsPending) {
  Publish("OnServiceProxyMethodEvent", Message("", "store", "balance", "first"));
  Publish("OnServiceProxyMethodEvent", Message("", "store", "balance", "second"));  // replaces
  Publish("OnServiceProxyUuidEvent", Message("u-1", "store", "buy", "bought"));
  EXPECT_EQ(plugin->StoredServiceProxyResponses(), 2u);

  plugin->AddPendingServiceProxyRequest("store.balance", Recorder("balance"));
  plugin->AddPendingServiceProxyRequest("u-2", Recorder("other"));
  plugin->AddPendingServiceProxyRequest("u-1", Recorder("uuid"));
  EXPECT_EQ(seen, (std::vector<std::string>{"balance:second", "uuid:bought"}));
  EXPECT_EQ(plugin->StoredServiceProxyResponses(), 0u);

  Publish("OnServiceProxyUuidEvent", Message("u-2", "", "", "late"));
  EXPECT_EQ(seen.back(), "other:late");
  Publish("OnServiceProxyUuidEvent", Message("u-2", "", "", "again"));
  EXPECT_EQ(seen.size(), 3u) << "a fulfilled request is gone";
  EXPECT_EQ(plugin->StoredServiceProxyResponses(), 1u);
}

TEST_F(ServiceProxyTest, OnePassFulfilsAtMostOneRequest) {
  plugin->OnServiceProxyMethodMessage(Message("", "a", "x", "ax"));
  plugin->OnServiceProxyMethodMessage(Message("", "b", "y", "by"));
  plugin->AddPendingWithoutPass("a.x", Recorder("a"));
  plugin->AddPendingWithoutPass("b.y", Recorder("b"));
  plugin->FulfilPendingRequests();
  EXPECT_EQ(seen.size(), 1u);
  plugin->OnServiceProxyUuidMessage(Message("unrelated", "", "", ""));  // a later message
  EXPECT_EQ(seen.size(), 2u);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"a:ax", "b:by"}));
  EXPECT_EQ(plugin->StoredServiceProxyResponses(), 1u) << "the unrelated message stays";
}

TEST_F(ServiceProxyTest, AsyncMessagesGoToTheirHandlerOrAreLoggedAndDropped) {
  plugin->SetAsyncServiceProxyHandler("lobby.invite", Recorder("invite"));
  Publish("OnServiceProxyAsyncEvent", Message("", "lobby", "invite", "from Ash"));
  EXPECT_EQ(seen, (std::vector<std::string>{"invite:from Ash"}));

  host.logs.clear();
  Publish("OnServiceProxyAsyncEvent", Message("", "lobby", "kick", "by Ash"));
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(plugin->StoredServiceProxyResponses(), 0u);
  ASSERT_EQ(host.logs.size(), 1u);
  EXPECT_EQ(host.logs[0].first, 2);
  EXPECT_EQ(host.logs[0].second,
            "mau-discord-rp: Could not find registered handler for async service proxy event "
            "lobby.kick");
}

TEST_F(ServiceProxyTest, TheBaseShutdownEmptiesTheTables) {
  plugin->OnServiceProxyUuidMessage(Message("u-9", "", "", "kept"));
  plugin->AddPendingServiceProxyRequest("u-10", Recorder("pending"));
  plugin->OnShutdown();
  EXPECT_EQ(plugin->StoredServiceProxyResponses(), 0u);
  plugin->OnServiceProxyUuidMessage(Message("u-10", "", "", "too late"));
  EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace mau
