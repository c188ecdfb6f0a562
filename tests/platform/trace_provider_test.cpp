#include "platform/trace_provider.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/process_info.h"

namespace mau {
namespace {

// Stands in for the system's tracing functions and records what the library asks of them.
struct FakeTracing {
  struct Registration {
    TraceEnableCallback callback;
    void* context;
  };
  std::vector<Registration> registered;
  std::vector<uint64_t> unregistered;
  std::vector<std::string> written;  // "id:thread:name"
  // When set, provider 2 is enabled from inside its registration, as an active session does.
  bool sessionActive = false;

  static FakeTracing* current;

  static uint32_t Register(const TraceGuid*, TraceEnableCallback callback, void* context,
                           uint64_t* handle) {
    current->registered.push_back({callback, context});
    *handle = current->registered.size();
    if (current->sessionActive && current->registered.size() == 2) callback(1, 0, 1, 0, context);
    return 0;
  }
  static uint32_t Write(uint64_t, const TraceEventDescriptor* event, uint32_t count,
                        TraceEventData* data) {
    if (count != 2) return 1;
    uint32_t thread = 0;
    std::memcpy(&thread, reinterpret_cast<const void*>(static_cast<uintptr_t>(data[0].pointer)), 4);
    const char* name = reinterpret_cast<const char*>(static_cast<uintptr_t>(data[1].pointer));
    current->written.push_back(std::to_string(event->id) + ":" + std::to_string(thread) + ":" +
                               std::string(name, data[1].size));
    return 0;
  }
  static uint32_t Unregister(uint64_t handle) {
    current->unregistered.push_back(handle);
    return 0;
  }
  TraceFunctions Functions() {
    current = this;
    TraceFunctions f;
    f.registerProvider = Register;
    f.writeEvent = Write;
    f.unregisterProvider = Unregister;
    return f;
  }
};
FakeTracing* FakeTracing::current = nullptr;

TEST(TraceProviders, EnableCallbackComputesEachEventsBit) {
  struct Case {
    const char* what;
    uint32_t code;
    uint8_t level;
    uint64_t any;
    uint64_t all;
    bool enabled;
    uint32_t provider4Events;  // bits of provider 4's two events (levels 4, 5; keywords 1, 2)
  };
  const Case cases[] = {
      {"everything", 1, 0, ~uint64_t{0}, 0, true, 0b11},
      {"level 4 keeps level-4 events only", 1, 4, ~uint64_t{0}, 0, true, 0b01},
      {"any-keyword 2 only", 1, 0, 2, 0, true, 0b10},
      {"all-keyword 3 matches neither single-keyword event", 1, 0, ~uint64_t{0}, 3, true, 0b00},
      {"no keyword in common", 1, 0, 4, 0, true, 0b00},
      {"disable", 0, 0, 0, 0, false, 0b00},
  };
  TraceProviders providers;
  FakeTracing fake;
  providers.Load(fake.Functions());
  ASSERT_EQ(fake.registered.size(), 4u);
  const FakeTracing::Registration& p4 = fake.registered[3];
  EXPECT_EQ(p4.context, &providers.Provider(3));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    p4.callback(c.code, c.level, c.any, c.all, p4.context);
    EXPECT_EQ(providers.Provider(3).enabled, c.enabled);
    EXPECT_EQ(providers.Provider(3).enabledEvents, c.provider4Events);
  }
  p4.callback(1, 0, ~uint64_t{0}, 0, p4.context);
  p4.callback(7, 0, 0, 0, p4.context);  // other codes change nothing
  EXPECT_EQ(providers.Provider(3).enabledEvents, 0b11u);
  providers.Unload();
}

TEST(TraceProviders, LoadAnnouncesTheMainThreadOnlyWhenItsEventIsEnabled) {
  for (const bool session : {false, true}) {
    SCOPED_TRACE(session ? "session active" : "no session");
    TraceProviders providers;
    FakeTracing fake;
    fake.sessionActive = session;
    providers.Load(fake.Functions());
    if (session) {
      ASSERT_EQ(fake.written.size(), 1u);
      EXPECT_EQ(fake.written[0], "103:" + std::to_string(CurrentThreadNumber()) + ":" +
                                     std::string("Main thread", 12));
    } else {
      EXPECT_TRUE(fake.written.empty());
    }
    providers.WriteThreadName(7, nullptr);
    if (session) {
      EXPECT_EQ(fake.written.back(), "103:7:" + std::string("NULL", 5));
    }
    providers.Unload();
  }
}

TEST(TraceProviders, RegistrationIsSkippedForRegisteredProvidersAndUnloadGoesBackwards) {
  TraceProviders providers;
  FakeTracing fake;
  providers.Load(fake.Functions());
  providers.Load(fake.Functions());
  EXPECT_EQ(fake.registered.size(), 4u) << "registered providers are not registered again";
  providers.Unload();
  EXPECT_EQ(fake.unregistered, (std::vector<uint64_t>{4, 3, 2, 1}));
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(providers.Provider(i).handle, 0u);

  TraceProviders withoutFunctions;
  withoutFunctions.Load(TraceFunctions{});
  EXPECT_EQ(withoutFunctions.Provider(0).handle, 0u);
  withoutFunctions.Unload();
}

TEST(TraceProviders, SystemFunctions) {
  TraceFunctions functions;
  const bool available = LoadSystemTraceFunctions(&functions);
#ifdef _WIN32
  // Advapi32 is there (also under wine): the providers really register.
  ASSERT_TRUE(available);
  TraceProviders providers;
  providers.Load(functions);
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_NE(providers.Provider(i).handle, 0u) << i;
  providers.Unload();
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(providers.Provider(i).handle, 0u) << i;
#else
  EXPECT_FALSE(available) << "POSIX has no provider library";
  EXPECT_EQ(functions.registerProvider, nullptr);
#endif
}

}  // namespace
}  // namespace mau
