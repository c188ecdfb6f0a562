#include "plugin/plugin_log_target.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "log/log_core.h"

namespace mau {
namespace {

// A host that only keeps its log lines.
struct LogHost {
  HostInterface api{};
  std::vector<std::pair<int32_t, std::string>> lines;

  LogHost() { api.WriteLog = WriteLog; }
  static void MAU_ABI WriteLog(HostInterface* self, int32_t level, const char* message) {
    reinterpret_cast<LogHost*>(self)->lines.emplace_back(level, message);
  }
};

class HostLogTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogInit();
    LogShutdown();  // start from a fresh core with its console targets
    LogInit();
  }
  void TearDown() override {
    target.reset();
    LogShutdown();
  }
  LogHost host;
  std::unique_ptr<PluginLogTarget> target;
};

TEST_F(HostLogTargetTest, ForwardsTheMessageTextOnly) {
  Log(kLogOkay, 1, 0, "dropped: the core's default level is WARN");
  InstallHostLogTarget(&host.api, target);
  ASSERT_NE(target, nullptr);
  EXPECT_FALSE(StdErrTarget()->callbacks.isRegistered(StdErrTarget()));
  EXPECT_FALSE(DebuggerTarget()->callbacks.isRegistered(DebuggerTarget()));
  EXPECT_EQ(FindLogTarget("PluginLogTarget"), target->Interface());
  EXPECT_EQ(GetLogMinLevel(), kLogOkay);

  Log(kLogAlways, 1, 0, "Discord RPC ready.");
  Log(kLogOkay, 1, 0, "level 0 now reaches the host");
  Log(kLogAlways, 4, 0, "XTR never does");
  Log(kLogError, 1 | 4, 0, "nor anything that carries XTR");
  Log(kLogAlways, 1, 0, "Discord RPC: disconnected (%d: %s)\n", 1, "Pipe closed");
  const std::vector<std::pair<int32_t, std::string>> expected = {
      {3, "Discord RPC ready."},
      {0, "level 0 now reaches the host"},
      {3, "Discord RPC: disconnected (1: Pipe closed)\n"},
  };
  EXPECT_EQ(host.lines, expected);
}

TEST_F(HostLogTargetTest, ASecondPluginLeavesTheCoreAlone) {
  InstallHostLogTarget(&host.api, target);
  LogHost second;
  std::unique_ptr<PluginLogTarget> secondTarget;
  SetLogMinLevel(kLogError);
  InstallHostLogTarget(&second.api, secondTarget);
  EXPECT_EQ(secondTarget, nullptr);
  EXPECT_EQ(GetLogMinLevel(), kLogError) << "settings unchanged";
  Log(kLogAlways, 1, 0, "one line");
  EXPECT_EQ(host.lines.size(), 1u);
  EXPECT_TRUE(second.lines.empty());
}

TEST_F(HostLogTargetTest, DestroyingTheTargetUnregistersIt) {
  InstallHostLogTarget(&host.api, target);
  target.reset();
  EXPECT_EQ(FindLogTarget("PluginLogTarget"), nullptr);
  Log(kLogAlways, 1, 0, "nobody hears this");
  EXPECT_TRUE(host.lines.empty());
}

}  // namespace
}  // namespace mau
