#include "test_host.h"

#include <cstring>
#include <stdexcept>

#include "binding/host_value.h"

namespace mau::test {

namespace {
TestHost* activeHost = nullptr;
}  // namespace

TestHost::TestHost() {
  table_.host = this;
  HostInterface& api = table_.api;
  api.SendRequest = SendRequest;
  api.HostOperation1 = HostOperation1;
  api.HostOperation2 = HostOperation2;
  api.SubscribeEvent = SubscribeEvent;
  api.UnsubscribeEvent = UnsubscribeEvent;
  api.StartTimer = StartTimer;
  api.YieldToHost = YieldToHost;
  api.BeginWait = BeginWait;
  api.EndWait = EndWait;
  api.WriteLog = WriteLog;
  context_.api = &table_.api;
  context_.hostHandle = kHostHandle;
  activeHost = this;
}

TestHost::~TestHost() {
  if (activeHost == this) activeHost = nullptr;
}

void MAU_ABI TestHost::SendRequest(HostInterface* api, HostCallResponse* response,
                                   const HostCallRequest* request) {
  TestHost& host = Self(api);
  Request seen;
  seen.method = request->method;
  seen.url = request->url != nullptr ? request->url : "";
  seen.requestId = request->requestId;
  if (host.recordArguments) {
    for (uint32_t i = 0; i < request->argumentCount; ++i) {
      const HostTypedArgument& argument = request->arguments[i];
      BindingResult value;
      if (!HostValueToBinding(value, argument.value, "argument")) throw std::logic_error("arg");
      seen.arguments.emplace_back(argument.name != nullptr ? argument.name : "",
                                  std::move(value.value()));
    }
  }
  host.requests.push_back(std::move(seen));

  ++host.responsesFilled;
  response->release = ReleaseResponse;
  const auto it = host.answers.find(host.requests.back().url);
  if (it == host.answers.end()) {
    response->errorText = "Not found";
    response->hasError = 1;
    response->status = 404;
    return;
  }
  const Answer& answer = it->second;
  response->status = answer.status;
  if (answer.error != nullptr) {
    response->errorText = answer.error;
    response->hasError = 1;
    return;
  }
  if (answer.streamed) {
    response->streamRead = StreamRead;
    response->streamRelease = StreamRelease;
    response->stream = new Stream{&host, &answer.chunks, 0, answer.streamFails};
    response->bodyLength = answer.bodyLength;
    return;
  }
  if (answer.rawType != 0) {
    response->result.type = answer.rawType;
    return;
  }
  if (!BindingToHostValue(answer.value, response->result, nullptr)) {
    throw std::logic_error("the test host could not build its answer");
  }
}

void MAU_ABI TestHost::ReleaseResponse(HostCallResponse* response) {
  if (activeHost != nullptr) ++activeHost->responsesReleased;
  if (response->stream != nullptr) delete static_cast<Stream*>(response->stream);
  ClearHostValue(response->result);
  std::memset(response, 0, sizeof(*response));
}

uint8_t MAU_ABI TestHost::StreamRead(void* stream, void* buffer, uint32_t* length, uint8_t* more) {
  auto* state = static_cast<Stream*>(stream);
  state->host->calls.push_back("read");
  if (state->next >= state->chunks->size()) {
    *length = 0;
    *more = 0;
    return state->fails ? 0 : 1;
  }
  const std::string& chunk = (*state->chunks)[state->next++];
  const uint32_t n = chunk.size() < *length ? static_cast<uint32_t>(chunk.size()) : *length;
  std::memcpy(buffer, chunk.data(), n);
  *length = n;
  *more = state->next < state->chunks->size() || state->fails ? 1 : 0;
  return 1;
}

void MAU_ABI TestHost::StreamRelease(void* stream) {
  auto* state = static_cast<Stream*>(stream);
  ++state->host->streamsReleased;  // the stream object itself goes with the response
}

void MAU_ABI TestHost::SubscribeEvent(HostInterface* api, const char* name, uint32_t handle,
                                      HostEventCallback callback, void* userData, int32_t flag) {
  TestHost& host = Self(api);
  ++host.subscribeCalls;
  host.subscriptions[name] = Subscription{name, handle, callback, userData, flag};
}

void MAU_ABI TestHost::UnsubscribeEvent(HostInterface* api, const char* name, uint32_t handle) {
  TestHost& host = Self(api);
  (void)handle;
  host.unsubscribed.emplace_back(name);
  host.subscriptions.erase(name);
}

void MAU_ABI TestHost::StartTimer(HostInterface* api, const char* name, HostTimerCallback callback,
                                  void* userData, double delay, int32_t reserved) {
  Self(api).timers.push_back(Timer{name, callback, userData, delay, reserved});
}

void MAU_ABI TestHost::YieldToHost(HostInterface* api) { Self(api).calls.push_back("YieldToHost"); }

void MAU_ABI TestHost::BeginWait(HostInterface* api, const char* label, int32_t reserved) {
  Self(api).calls.push_back(std::string("BeginWait:") + label + ":" + std::to_string(reserved));
}

void MAU_ABI TestHost::EndWait(HostInterface* api) { Self(api).calls.push_back("EndWait"); }

void MAU_ABI TestHost::WriteLog(HostInterface* api, int32_t level, const char* message) {
  Self(api).logs.emplace_back(level, message);
}

bool TestHost::Publish(const std::string& eventName, const HostValue& payload) {
  const auto it = subscriptions.find(eventName);
  if (it == subscriptions.end()) return false;
  HostEventMessage message;
  std::memset(&message, 0, sizeof(message));
  message.eventName = eventName.c_str();
  message.payload = payload;
  message.userData = it->second.userData;
  it->second.callback(&message);
  return true;
}

bool TestHost::PublishResource(const std::string& eventName, const std::string& uri,
                               const char* eventType, const BindingValue& data) {
  BindingValue event;
  event.MemberForWriting("uri") = uri;
  event.MemberForWriting("eventType") = eventType;
  event.MemberForWriting("data") = data;
  HostValue payload{};
  if (!BindingToHostValue(event, payload, nullptr)) return false;
  const bool delivered = Publish(eventName, payload);
  ClearHostValue(payload);
  return delivered;
}

void TestHost::FireTimer(size_t index) {
  const Timer timer = timers.at(index);
  timer.callback(timer.userData);
}

}  // namespace mau::test
