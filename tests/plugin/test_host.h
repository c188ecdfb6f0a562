// A host for plug-in tests and benchmarks, written against plugin_abi.h alone: a C function
// table that records every request, subscription, timer, wait and log line, answers
// requests from a map by URL and counts every release of what it handed out.
//
//   mau::test::TestHost host;
//   host.answers["/mau-chat/v1/me"].value = ...;        // a BindingValue the host serves
//   HostApi api{18, 0, 0};
//   load_mau_discord_rp(&api);
//   api.callbacks->StartPlugin(api.pluginContext, host.context());
//   host.Publish("OnJsonApiEvent_mau-chat_v1_me", payload);
//
// One TestHost at a time: the release functions find it through a process-wide pointer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_value.h"
#include "mau/plugin_abi.h"

namespace mau::test {

class TestHost {
 public:
  // How the host answers one URL.
  struct Answer {
    BindingValue value;           // the result, as a host value
    uint32_t rawType = 0;         // when not 0: the result's type code, with a zero payload
    const char* error = nullptr;  // when set: the request fails with this text
    uint32_t status = 0;
    bool streamed = false;  // the body comes as a stream of chunks
    std::vector<std::string> chunks;
    bool streamFails = false;  // the read after the last chunk reports failure
    uint64_t bodyLength = 0;
  };
  struct Request {
    uint32_t method = 0;
    std::string url;
    std::vector<std::pair<std::string, BindingValue>> arguments;
    uint32_t requestId = 0;
  };
  struct Subscription {
    std::string name;
    uint32_t hostHandle = 0;
    HostEventCallback callback = nullptr;
    void* userData = nullptr;
    int32_t flag = 0;
  };
  struct Timer {
    std::string name;
    HostTimerCallback callback = nullptr;
    void* userData = nullptr;
    double delay = 0;
    int32_t reserved = 0;
  };

  static constexpr uint32_t kHostHandle = 0x5eed;

  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  HostContext* context() { return &context_; }
  HostInterface* api() { return &table_.api; }

  // Delivers an event to the subscription of that name; false when there is none.
  bool Publish(const std::string& eventName, const HostValue& payload);
  // Delivers a resource event {uri, eventType, data} under eventName.
  bool PublishResource(const std::string& eventName, const std::string& uri, const char* eventType,
                       const BindingValue& data);
  // Fires timers[index].
  void FireTimer(size_t index);

  std::map<std::string, Answer> answers;
  std::vector<Request> requests;
  std::map<std::string, Subscription> subscriptions;  // active ones by name
  int subscribeCalls = 0;
  std::vector<std::string> unsubscribed;
  std::vector<Timer> timers;
  std::vector<std::pair<int32_t, std::string>> logs;
  // "read", "BeginWait:<label>", "YieldToHost", "EndWait", in order.
  std::vector<std::string> calls;
  int responsesFilled = 0;
  int responsesReleased = 0;
  int streamsReleased = 0;
  bool recordArguments = true;

 private:
  struct Table {
    HostInterface api;
    TestHost* host;
  };
  struct Stream {
    TestHost* host;
    const std::vector<std::string>* chunks;  // the answer's
    size_t next = 0;
    bool fails = false;
  };

  static TestHost& Self(HostInterface* api) { return *reinterpret_cast<Table*>(api)->host; }
  static void MAU_ABI SendRequest(HostInterface* api, HostCallResponse* response,
                                  const HostCallRequest* request);
  static void MAU_ABI HostOperation1(HostInterface*, uint32_t, uint32_t) {}
  static void MAU_ABI HostOperation2(HostInterface*, uint32_t) {}
  static void MAU_ABI SubscribeEvent(HostInterface* api, const char* name, uint32_t handle,
                                     HostEventCallback callback, void* userData, int32_t flag);
  static void MAU_ABI UnsubscribeEvent(HostInterface* api, const char* name, uint32_t handle);
  static void MAU_ABI StartTimer(HostInterface* api, const char* name, HostTimerCallback callback,
                                 void* userData, double delay, int32_t reserved);
  static void MAU_ABI YieldToHost(HostInterface* api);
  static void MAU_ABI BeginWait(HostInterface* api, const char* label, int32_t reserved);
  static void MAU_ABI EndWait(HostInterface* api);
  static void MAU_ABI WriteLog(HostInterface* api, int32_t level, const char* message);
  static uint8_t MAU_ABI StreamRead(void* stream, void* buffer, uint32_t* length, uint8_t* more);
  static void MAU_ABI StreamRelease(void* stream);
  static void MAU_ABI ReleaseResponse(HostCallResponse* response);

  Table table_{};
  HostContext context_{};
};

}  // namespace mau::test
