#include "host_runtime.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "host_value_json.h"

namespace mau::host {

namespace {

constexpr uint32_t kHostHandle = 0x4D415548;  // "HUAM": any value the host recognises
constexpr size_t kStreamThreshold = 64 * 1024;
constexpr uint32_t kStreamChunk = 4096;
constexpr const char* kTelemetryPrefix = "/telemetry/v1/events/";

// A streamed response body: the resource's text, handed out in chunks.
struct BodyStream {
  std::string text;
  size_t position = 0;
};

uint8_t MAU_ABI ReadStream(void* stream, void* buffer, uint32_t* length, uint8_t* more) {
  auto* body = static_cast<BodyStream*>(stream);
  if (body == nullptr || buffer == nullptr || length == nullptr || more == nullptr) return 0;
  size_t n = std::min<size_t>({*length, kStreamChunk, body->text.size() - body->position});
  std::memcpy(buffer, body->text.data() + body->position, n);
  body->position += n;
  *length = static_cast<uint32_t>(n);
  *more = body->position < body->text.size() ? 1 : 0;
  return 1;
}

void MAU_ABI ReleaseStream(void* stream) { delete static_cast<BodyStream*>(stream); }

char* CopyText(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) std::abort();
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Releases what the host put into a response; the stream has its own release.
void MAU_ABI ReleaseResponse(HostCallResponse* response) {
  if (response == nullptr) return;
  FreeHostValue(&response->result);
  std::free(const_cast<char*>(response->errorText));
  std::memset(response, 0, sizeof *response);
}

void Fail(HostCallResponse* response, uint32_t status, const std::string& text) {
  response->errorText = CopyText(text);
  response->hasError = 1;
  response->status = status;
}

}  // namespace

bool ToClockDuration(double seconds, Clock::duration* out) {
  if (!(seconds >= 0 && seconds <= kMaxScheduleSeconds)) return false;
  *out = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  return true;
}

HostRuntime::HostRuntime(ResourceStore& store, OutputSink output)
    : store_(store), output_(std::move(output)) {
  table_.api =
      HostInterface{SendRequest, HostOperation1, HostOperation2, SubscribeEvent, UnsubscribeEvent,
                    StartTimer,  YieldToHost,    BeginWait,      EndWait,        WriteLog};
  table_.runtime = this;
  context_.api = &table_.api;
  context_.hostHandle = kHostHandle;
}

HostRuntime::~HostRuntime() { Stop(); }

bool HostRuntime::Load(const std::string& path, std::string* error) {
  if (!library_.Load(path, error)) return false;
  api_ = HostApi{MAU_PLUGIN_API_MAJOR,
                 MAU_PLUGIN_API_MINOR,
                 MAU_PLUGIN_API_PATCH,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr};
  library_.Export()(&api_);
  if (api_.callbacks == nullptr) {
    if (error != nullptr) *error = "the plug-in's export filled no entry points";
    library_.Unload();
    return false;
  }
  return true;
}

bool HostRuntime::Start() {
  if (!Loaded()) return false;
  started_ = api_.callbacks->StartPlugin(api_.pluginContext, &context_) != 0;
  return started_;
}

void HostRuntime::Stop() {
  if (Loaded()) {
    api_.callbacks->StopPlugin(api_.pluginContext);
    api_ = HostApi{};
  }
  // The plug-in's pointers are gone: forget its subscriptions and timers.
  subscriptions_.clear();
  timers_.clear();
  started_ = false;
  library_.Unload();
}

MemoryStats HostRuntime::Stats() const {
  MemoryStats stats{};
  if (Loaded()) api_.callbacks->GetMemoryStats(api_.pluginContext, &stats);
  return stats;
}

std::string HostRuntime::EventNameForUri(const std::string& uri) {
  std::vector<std::string> parts{"OnJsonApiEvent"};
  std::stringstream pieces(uri);
  std::string piece;
  while (std::getline(pieces, piece, '/')) {
    if (!piece.empty()) parts.push_back(piece);
  }
  const size_t keep = parts.size() >= 2 && parts[1] == "mau-platform-config" ? 6 : 4;
  std::string name;
  for (size_t i = 0; i < parts.size() && i < keep; ++i) {
    if (i != 0) name += '_';
    name += parts[i];
  }
  return name;
}

void HostRuntime::Apply(const SessionStep& step) {
  const bool existed = store_.Exists(step.uri);
  if (step.remove) {
    store_.Delete(step.uri);
    Publish(step.uri, "Delete", "null");
  } else {
    store_.Set(step.uri, step.dataJson);
    Publish(step.uri, existed ? "Update" : "Create", step.dataJson);
  }
}

void HostRuntime::Publish(const std::string& uri, const char* eventType,
                          const std::string& dataJson) {
  const std::string name = EventNameForUri(uri);
  const auto it = subscriptions_.find(name);
  if (it == subscriptions_.end()) return;
  HostValue data;
  std::string error;
  if (!JsonToHostValue(dataJson, &data, &error)) {
    Notice("cannot publish " + uri + ": " + error);
    return;
  }
  HostEventMessage message{};
  message.eventName = name.c_str();
  message.payload = MakeHostStructure(
      {{"uri", MakeHostString(uri)}, {"eventType", MakeHostString(eventType)}, {"data", data}});
  message.userData = it->second.userData;
  it->second.callback(&message);
  FreeHostValue(&message.payload);
}

void HostRuntime::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> guard(inboxLock_);
    inbox_.push_back(std::move(work));
  }
  inboxSignal_.notify_one();
}

void HostRuntime::RunPosted() {
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> guard(inboxLock_);
      if (inbox_.empty()) return;
      work = std::move(inbox_.front());
      inbox_.pop_front();
    }
    work();
  }
}

bool HostRuntime::RunOneDueTimer() {
  if (timers_.empty() || timers_.begin()->first.first > Clock::now()) return false;
  const Timer timer = timers_.begin()->second;
  timers_.erase(timers_.begin());
  timer.callback(timer.userData);
  return true;
}

void HostRuntime::RunUntil(Clock::time_point deadline, const std::function<bool()>& stop) {
  for (;;) {
    RunPosted();
    while (RunOneDueTimer()) RunPosted();
    if (Clock::now() >= deadline || (stop && stop())) return;
    // Wake for the next timer, for posted work, or at least every 50 ms to see stop().
    Clock::time_point wake = std::min(deadline, Clock::now() + std::chrono::milliseconds(50));
    if (!timers_.empty()) wake = std::min(wake, timers_.begin()->first.first);
    std::unique_lock<std::mutex> lock(inboxLock_);
    inboxSignal_.wait_until(lock, wake, [this] { return !inbox_.empty(); });
  }
}

void HostRuntime::Notice(const std::string& text) {
  std::lock_guard<std::mutex> guard(outputLock_);
  if (output_) output_(-1, text);
}

// ---------------------------------------------------------------- the host's table

void MAU_ABI HostRuntime::SendRequest(HostInterface* api, HostCallResponse* response,
                                      const HostCallRequest* request) {
  if (response == nullptr || request == nullptr) return;
  Self(api).Answer(response, *request);
}

void HostRuntime::Answer(HostCallResponse* response, const HostCallRequest& request) {
  std::memset(response, 0, sizeof *response);
  response->release = ReleaseResponse;
  const std::string url = request.url != nullptr ? request.url : "";
  if (request.method == MAU_METHOD_POST && url.rfind(kTelemetryPrefix, 0) == 0) {
    Notice("telemetry event " + url.substr(std::strlen(kTelemetryPrefix)) + " with " +
           std::to_string(request.argumentCount) + " argument(s)");
    response->status = 200;
    return;
  }
  if (request.method != MAU_METHOD_GET) {
    Fail(response, 405, "Method not supported by this host: " + url);
    return;
  }
  std::optional<std::string> body = store_.Get(url);
  if (!body) {
    Fail(response, 404, "Resource not found: " + url);
    return;
  }
  response->status = 200;
  if (body->size() > kStreamThreshold) {
    auto* stream = new BodyStream{std::move(*body), 0};
    response->bodyLength = stream->text.size();
    response->stream = stream;
    response->streamRead = ReadStream;
    response->streamRelease = ReleaseStream;
    return;
  }
  std::string error;
  if (!JsonToHostValue(*body, &response->result, &error)) {
    Fail(response, 500, "Invalid JSON in resource " + url + ": " + error);
  }
}

void MAU_ABI HostRuntime::SubscribeEvent(HostInterface* api, const char* name, uint32_t,
                                         HostEventCallback callback, void* userData, int32_t) {
  if (name == nullptr || callback == nullptr) return;
  Self(api).subscriptions_[name] = Subscription{callback, userData};
}

void MAU_ABI HostRuntime::UnsubscribeEvent(HostInterface* api, const char* name, uint32_t) {
  if (name != nullptr) Self(api).subscriptions_.erase(name);
}

void MAU_ABI HostRuntime::StartTimer(HostInterface* api, const char* name,
                                     HostTimerCallback callback, void* userData, double delay,
                                     int32_t) {
  if (callback == nullptr) return;
  HostRuntime& self = Self(api);
  // A delay beyond what the host schedules is due never; one below 0 (or NaN) at once.
  Clock::duration wait{};
  Clock::time_point due = Clock::time_point::max();
  if (!(delay > 0)) {
    due = Clock::now();
  } else if (ToClockDuration(delay, &wait)) {
    due = Clock::now() + wait;
  }
  self.timers_.emplace(std::make_pair(due, self.timerSequence_++),
                       Timer{name != nullptr ? name : "", callback, userData});
}

void MAU_ABI HostRuntime::YieldToHost(HostInterface*) { std::this_thread::yield(); }

void MAU_ABI HostRuntime::BeginWait(HostInterface* api, const char*, int32_t) {
  ++Self(api).waitDepth_;
}

void MAU_ABI HostRuntime::EndWait(HostInterface* api) { --Self(api).waitDepth_; }

void MAU_ABI HostRuntime::WriteLog(HostInterface* api, int32_t level, const char* message) {
  HostRuntime& self = Self(api);
  std::string_view text = message != nullptr ? message : "";
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  std::lock_guard<std::mutex> guard(self.outputLock_);
  if (self.output_) self.output_(level, text);
}

}  // namespace mau::host
