// Event-tracing providers of the library. Loading the library registers four providers
// with the system's event tracing (Event Tracing for Windows, reached at run time through
// Advapi32.dll), so that external trace sessions can observe it, and announces the
// loading thread as the "Main thread". Where the tracing functions are missing (and on
// POSIX, which has none) tracing simply stays off; nothing else depends on it.
//
// The system's functions are reached through a TraceFunctions table, so tests can
// drive registration and the enable callback with functions of their own.
#pragma once

#include <cstdint>

namespace mau {

struct TraceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// Same layout as the system's event descriptor.
struct TraceEventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};

// Same layout as the system's event data descriptor: one payload field.
struct TraceEventData {
  uint64_t pointer;
  uint32_t size;
  uint32_t reserved;
};

// Called by the system when a session enables (code 1) or disables (code 0) a provider.
using TraceEnableCallback = void (*)(uint32_t controlCode, uint8_t level, uint64_t anyKeyword,
                                     uint64_t allKeyword, void* context);

struct TraceFunctions {
  // Registers a provider; may call callback at once when a session is already active.
  uint32_t (*registerProvider)(const TraceGuid* guid, TraceEnableCallback callback, void* context,
                               uint64_t* handle) = nullptr;
  uint32_t (*writeEvent)(uint64_t handle, const TraceEventDescriptor* event, uint32_t count,
                         TraceEventData* data) = nullptr;
  uint32_t (*unregisterProvider)(uint64_t handle) = nullptr;
};

// Resolves the system's tracing functions; false (tracing off) where there are none.
bool LoadSystemTraceFunctions(TraceFunctions* functions);

inline constexpr int kTraceProviderCount = 4;
inline constexpr int kTraceMaxEvents = 2;

// One provider's registration context.
struct TraceProvider {
  TraceGuid guid{};
  uint64_t handle = 0;  // 0 = not registered
  bool enabled = false;
  uint8_t level = 0;
  uint64_t anyKeyword = 0;
  uint64_t allKeyword = 0;
  int eventCount = 0;
  TraceEventDescriptor events[kTraceMaxEvents]{};
  uint32_t enabledEvents = 0;  // bit i: events[i] is enabled
};

// The thread-name event of provider 2 (index 1): thread id and name.
inline constexpr TraceEventDescriptor kThreadNameEvent = {103, 0, 0, 0, 14, 2, 0x1};

class TraceProviders {
 public:
  TraceProviders();

  // Caches the performance-counter frequency, registers providers 1 to 4 (skipping
  // one that is registered already) and, when the thread-name event is enabled, writes
  // it for the calling thread as "Main thread".
  void Load(const TraceFunctions& functions);
  // Unregisters providers 4, 3, 2, 1 and clears their handles.
  void Unload();

  const TraceProvider& Provider(int index) const { return providers_[index]; }
  // Writes the thread-name event when it is enabled; a null name is sent as "NULL".
  void WriteThreadName(uint32_t threadId, const char* name);

  // The common enable callback; context is the provider.
  static void OnEnableControl(uint32_t controlCode, uint8_t level, uint64_t anyKeyword,
                              uint64_t allKeyword, void* context);

 private:
  TraceFunctions functions_;
  TraceProvider providers_[kTraceProviderCount];
};

// The library's own providers, registered at load and unregistered at exit.
TraceProviders& LibraryTraceProviders();

}  // namespace mau
