#include "plugin/plugin_timers.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "log/log_core.h"

namespace mau {
namespace {

// Stands in for the host's StartTimer: keeps every timer so the test fires them itself.
struct HostTimers {
  struct Started {
    std::string name;
    HostTimerCallback callback;
    void* userData;
    double delay;
  };
  std::vector<Started> started;

  PluginTimers::StartHostTimer Starter() {
    return [this](const char* name, HostTimerCallback callback, void* userData, double delay) {
      started.push_back({name, callback, userData, delay});
    };
  }
  void Fire(size_t i) { started.at(i).callback(started.at(i).userData); }
};

class PluginTimersTest : public ::testing::Test {
 protected:
  HostTimers host;
  std::string displayName = "mau-discord-rp";
  PluginTimers timers{host.Starter(), displayName};
};

TEST_F(PluginTimersTest, OneShotTimersHaveGrowingIdsAndRunOnce) {
  int runs = 0;
  const int64_t now = PluginTimers::Now();
  EXPECT_EQ(timers.ScheduleOnce(
                "a", [&] { ++runs; }, now - 1000000000),
            1u);
  EXPECT_EQ(timers.ScheduleOnce(
                "b", [&] { ++runs; }, now + 2000000000),
            2u);
  ASSERT_EQ(host.started.size(), 2u);
  EXPECT_EQ(host.started[0].delay, 0.0) << "a due time in the past starts with delay 0";
  EXPECT_NEAR(host.started[1].delay, 2.0, 0.5);
  host.Fire(0);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(timers.PendingOnceTimers(), 1u) << "a fired timer leaves the table";
  EXPECT_EQ(timers.ScheduleOnce(
                "c", [] {}, now),
            3u)
      << "ids are never reused";
}

TEST_F(PluginTimersTest, ACallableMayScheduleAnotherTimer) {
  int inner = 0;
  timers.ScheduleOnce(
      "outer",
      [&] {
        timers.ScheduleOnce(
            "inner", [&] { ++inner; }, 0);
      },
      0);
  host.Fire(0);
  ASSERT_EQ(host.started.size(), 2u);
  host.Fire(1);
  EXPECT_EQ(inner, 1);
  EXPECT_EQ(timers.PendingOnceTimers(), 0u);
}

TEST_F(PluginTimersTest, RepeatingTimerReschedulesAfterEachTick) {
  int ticks = 0;
  timers.StartRepeatingTimer("UpdateDiscordCallbacks", 1.0, [&] { ++ticks; });
  ASSERT_EQ(host.started.size(), 1u);
  EXPECT_EQ(host.started[0].name, "Timer: UpdateDiscordCallbacks");
  EXPECT_NEAR(host.started[0].delay, 1.0, 0.25);
  for (size_t i = 0; i < 3; ++i) host.Fire(i);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(host.started.size(), 4u);
  EXPECT_NEAR(host.started[3].delay, 1.0, 0.25);
}

TEST_F(PluginTimersTest, ARestartSupersedesTheEarlierChain) {
  int first = 0;
  int second = 0;
  timers.StartRepeatingTimer("t", 1.0, [&] { ++first; });
  timers.StartRepeatingTimer("t", 1.0, [&] { ++second; });
  EXPECT_EQ(timers.Generation("t"), 2u);
  ASSERT_EQ(host.started.size(), 2u);
  host.Fire(0);  // the first chain's tick sees a newer generation
  EXPECT_EQ(first, 0);
  EXPECT_EQ(host.started.size(), 2u) << "the superseded chain ends";
  host.Fire(1);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(host.started.size(), 3u);
}

TEST_F(PluginTimersTest, ATickOfAClearedTimerWarns) {
  struct Catcher : LogTarget {
    Catcher() {
      RouteWritesToWrite();
      Configure(LogTargetSettings{kLogOkay, 0, 0, "#L|#G|#M"});
    }
    ~Catcher() override { Unregister(); }
    bool Write(const LogRecord& record) override {
      char line[kLogMessageCapacity];
      Render(line, sizeof line, record);
      text += line;
      return true;
    }
    std::string text;
  } catcher;
  int ticks = 0;
  timers.StartRepeatingTimer("gone", 0.5, [&] { ++ticks; });
  timers.ClearRepeatingTimers();
  host.Fire(0);
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(catcher.text, "  WARN|DBG;NET|mau-discord-rp: Couldn't find timer named gone\n");
}

}  // namespace
}  // namespace mau
