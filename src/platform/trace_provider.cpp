#include "platform/trace_provider.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/process_info.h"

namespace mau {

namespace {

// The library's four provider GUIDs.
constexpr TraceGuid kProviderGuids[kTraceProviderCount] = {
    {0x6f1d8a3c, 0x2b4e, 0x4c7a, {0x9d, 0x15, 0x3e, 0x8b, 0x7a, 0x0c, 0x5f, 0x21}},
    {0xa2c4e6f8, 0x1b3d, 0x4f5a, {0x8c, 0x7e, 0x9d, 0x0b, 0x2a, 0x4c, 0x6e, 0x81}},
    {0x3b9e1f7d, 0x5c2a, 0x4e8b, {0xa6, 0xd4, 0x0f, 0x1e, 0x3c, 0x5b, 0x7a, 0x92}},
    {0xd4f60a2b, 0x8e1c, 0x4b3d, {0x9f, 0x7a, 0x5c, 0x6e, 0x8d, 0x0b, 0x1a, 0x43}},
};

// Events of the library's providers: the thread-name event of provider 2, and one
// informational event each for providers 1 and 3 and two for provider 4.
constexpr TraceEventDescriptor kLoadEvent = {101, 0, 0, 4, 0, 1, 0x1};
constexpr TraceEventDescriptor kPluginEvent = {105, 0, 0, 4, 0, 3, 0x1};
constexpr TraceEventDescriptor kDiscordEvent = {107, 0, 0, 4, 0, 4, 0x1};
constexpr TraceEventDescriptor kDiscordDetailEvent = {108, 0, 0, 5, 0, 4, 0x2};

int64_t g_cachedFrequency = 0;

bool EventEnabled(const TraceProvider& p, const TraceEventDescriptor& e) {
  if (p.level != 0 && p.level < e.level) return false;
  if (e.keyword != 0 &&
      ((e.keyword & p.anyKeyword) == 0 || (e.keyword & p.allKeyword) != p.allKeyword)) {
    return false;
  }
  return true;
}

}  // namespace

TraceProviders::TraceProviders() {
  for (int i = 0; i < kTraceProviderCount; ++i) providers_[i].guid = kProviderGuids[i];
  providers_[0].events[0] = kLoadEvent;
  providers_[0].eventCount = 1;
  providers_[1].events[0] = kThreadNameEvent;
  providers_[1].eventCount = 1;
  providers_[2].events[0] = kPluginEvent;
  providers_[2].eventCount = 1;
  providers_[3].events[0] = kDiscordEvent;
  providers_[3].events[1] = kDiscordDetailEvent;
  providers_[3].eventCount = 2;
}

void TraceProviders::OnEnableControl(uint32_t controlCode, uint8_t level, uint64_t anyKeyword,
                                     uint64_t allKeyword, void* context) {
  auto* p = static_cast<TraceProvider*>(context);
  if (p == nullptr) return;
  if (controlCode == 1) {
    p->level = level;
    p->anyKeyword = anyKeyword;
    p->allKeyword = allKeyword;
    p->enabled = true;
    p->enabledEvents = 0;
    for (int i = 0; i < p->eventCount; ++i) {
      if (EventEnabled(*p, p->events[i])) p->enabledEvents |= 1u << i;
    }
  } else if (controlCode == 0) {
    p->enabled = false;
    p->level = 0;
    p->anyKeyword = 0;
    p->allKeyword = 0;
    p->enabledEvents = 0;
  }
}

void TraceProviders::Load(const TraceFunctions& functions) {
  g_cachedFrequency = ReadPerformanceFrequency();
  functions_ = functions;
  for (TraceProvider& p : providers_) {
    if (p.handle != 0 || functions_.registerProvider == nullptr) continue;
    uint64_t handle = 0;
    if (functions_.registerProvider(&p.guid, OnEnableControl, &p, &handle) == 0) p.handle = handle;
  }
  WriteThreadName(CurrentThreadNumber(), "Main thread");
}

void TraceProviders::Unload() {
  for (int i = kTraceProviderCount - 1; i >= 0; --i) {
    TraceProvider& p = providers_[i];
    if (p.handle != 0 && functions_.unregisterProvider != nullptr) {
      functions_.unregisterProvider(p.handle);
    }
    p.handle = 0;
  }
}

void TraceProviders::WriteThreadName(uint32_t threadId, const char* name) {
  const TraceProvider& p = providers_[1];
  if ((p.enabledEvents & 1u) == 0 || p.handle == 0 || functions_.writeEvent == nullptr) return;
  const char* text = name != nullptr ? name : "NULL";
  TraceEventData data[2] = {};
  data[0].pointer = reinterpret_cast<uintptr_t>(&threadId);
  data[0].size = sizeof threadId;
  data[1].pointer = reinterpret_cast<uintptr_t>(text);
  data[1].size = static_cast<uint32_t>(std::strlen(text) + 1);
  TraceEventDescriptor event = p.events[0];
  functions_.writeEvent(p.handle, &event, 2, data);
}

TraceProviders& LibraryTraceProviders() {
  static TraceProviders providers;
  return providers;
}

}  // namespace mau
