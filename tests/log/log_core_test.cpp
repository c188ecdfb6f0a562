#include "log/log_core.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace mau {
namespace {

// Records what reaches it: level, categories and the line rendered through its pattern.
class RecordingTarget : public LogTarget {
 public:
  explicit RecordingTarget(const LogTargetSettings& settings) {
    RouteWritesToWrite();
    Configure(settings);
  }
  ~RecordingTarget() override { Unregister(); }
  const char* TypeName() const override { return "RecordingTarget"; }
  bool Write(const LogRecord& record) override {
    char line[kLogMessageCapacity];
    Render(line, sizeof line, record);
    lines.emplace_back(line);
    return true;
  }
  std::vector<std::string> lines;
};

// A target that keeps only a count, so the logging path can be checked for allocations.
class CountingTarget : public LogTarget {
 public:
  CountingTarget() {
    RouteWritesToWrite();
    Configure(LogTargetSettings{kLogOkay, 0, 0, "#D| #L| #G| #E #T #H| #M"});
  }
  ~CountingTarget() override { Unregister(); }
  bool Write(const LogRecord& record) override {
    char line[kLogMessageCapacity];
    written += Render(line, sizeof line, record) > 0 ? 1 : 0;
    return true;
  }
  int written = 0;
};

// Every test starts with a fresh core with its default settings.
class LogCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogInit();
    LogShutdown();  // destroys whatever core earlier tests left
    LogInit();
    // Keep the console quiet: the built-in targets are checked by their settings.
    RemoveLogTarget(StdErrTarget());
    RemoveLogTarget(DebuggerTarget());
  }
  void TearDown() override { LogShutdown(); }
};

TEST_F(LogCoreTest, BuiltInTargetsHaveTheirSettings) {
  LogInit();
  LogShutdown();
  LogShutdown();  // a fresh core with all three built-in targets as created
  LogInit();
  struct Case {
    LogTargetInterface* target;
    const char* typeName;
    uint64_t accepted;
    uint64_t suppressed;
    const char* pattern;
    bool registered;
  };
  const Case cases[] = {
      {StdErrTarget(), "StdErrLogTarget", kLogDbg, kLogGen, "#E(#T): #L| #M", true},
      {StdOutTarget(), "StdOutLogTarget", kLogGen, kLogDbg, "#M", false},
      {DebuggerTarget(), "DebuggerConsoleLogTarget", kLogDbg, 0, "#E(#T): #L| #M", true},
  };
  LogRecord record;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typeName);
    ASSERT_NE(c.target, nullptr);
    EXPECT_STREQ(c.target->callbacks.typeName(c.target), c.typeName);
    EXPECT_EQ(c.target->callbacks.interfaceVersion(c.target), 1);
    EXPECT_EQ(c.target->callbacks.getLevel(c.target), kLogWarn);
    EXPECT_EQ(c.target->callbacks.getAcceptedCategories(c.target), c.accepted);
    EXPECT_EQ(c.target->callbacks.getSuppressedCategories(c.target), c.suppressed);
    EXPECT_STREQ(c.target->callbacks.pattern(c.target, &record), c.pattern);
    EXPECT_EQ(c.target->callbacks.isRegistered(c.target), c.registered);
  }
  EXPECT_EQ(FindLogTarget("StdErrLogTarget"), StdErrTarget());
  EXPECT_EQ(FindLogTarget("StdOutLogTarget"), nullptr) << "found only when registered";
  EXPECT_EQ(GetLogMinLevel(), kLogWarn);
  EXPECT_EQ(GetLogSuppressedCategories(), kLogXtr);
  RemoveLogTarget(StdErrTarget());
  RemoveLogTarget(DebuggerTarget());
}

TEST_F(LogCoreTest, CoreAndTargetFiltersDecideWhoGetsARecord) {
  // Two targets with the standard-error and standard-output settings, and one at level 0.
  RecordingTarget errLike({kLogWarn, kLogDbg, kLogGen, "#M"});
  RecordingTarget outLike({kLogWarn, kLogGen, kLogDbg, "#M"});
  RecordingTarget okay({kLogOkay, 0, 0, "#M"});
  struct Case {
    const char* what;
    LogLevel minLevel;
    LogLevel level;
    uint64_t categories;
    size_t err, out, ok;
  };
  const Case cases[] = {
      {"level 0 is dropped by the core by default", kLogWarn, kLogOkay, kLogDbg, 0, 0, 0},
      {"with minLevel 0 it reaches only level-0 targets", kLogOkay, kLogOkay, kLogDbg, 0, 0, 1},
      {"XTR is suppressed by the core", kLogOkay, kLogError, kLogXtr, 0, 0, 0},
      {"categories 0 pass every category filter", kLogWarn, kLogWarn, 0, 1, 1, 1},
      {"GEN skips the DBG target and reaches the GEN one", kLogWarn, kLogWarn, kLogGen, 0, 1, 1},
      {"DBG;NET reaches the DBG target only", kLogWarn, kLogError, kLogDbg | kLogNet, 1, 0, 1},
      {"an unaccepted category is skipped", kLogWarn, kLogError, kLogNet, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (RecordingTarget* t : {&errLike, &outLike, &okay}) t->lines.clear();
    SetLogMinLevel(c.minLevel);
    Log(c.level, static_cast<uint32_t>(c.categories), static_cast<uint32_t>(c.categories >> 32),
        "%s", "m");
    EXPECT_EQ(errLike.lines.size(), c.err);
    EXPECT_EQ(outLike.lines.size(), c.out);
    EXPECT_EQ(okay.lines.size(), c.ok);
  }
}

TEST_F(LogCoreTest, MutedCoreLogsNothingAndHighCategoryWordsCount) {
  RecordingTarget target({kLogOkay, 0, 0, "#G|#M"});
  MuteLog();
  Log(kLogAlways, 1, 0, "muted");
  UnmuteLog();
  const uint64_t mine = uint64_t{1} << 40;
  SetLogSuppressedCategories(mine);
  Log(kLogAlways, 0, 1u << 8, "suppressed by the high word");
  SetLogSuppressedCategories(kLogXtr);
  Log(kLogAlways, 1, 0, "ok %d", 7);
  ASSERT_EQ(target.lines.size(), 1u);
  EXPECT_EQ(target.lines[0], "DBG|ok 7\n");
}

TEST_F(LogCoreTest, ConfigureStoresAcceptedWithoutSuppressed) {
  RecordingTarget target({kLogError, kLogDbg | kLogNet, kLogNet, "#L|#M"});
  LogTargetInterface* i = target.Interface();
  EXPECT_TRUE(i->callbacks.isRegistered(i));
  EXPECT_EQ(i->callbacks.getAcceptedCategories(i), kLogDbg);
  EXPECT_EQ(i->callbacks.getSuppressedCategories(i), kLogNet);
  i->callbacks.setCategories(i, 0xFF, 1, 0x0F, 0);
  EXPECT_EQ(i->callbacks.getAcceptedCategories(i), (uint64_t{1} << 32) | 0xF0);
  i->callbacks.unregisterTarget(i);
  EXPECT_FALSE(i->callbacks.isRegistered(i));
  Log(kLogAlways, 0, 0, "not delivered");
  i->callbacks.registerTarget(i);
  i->callbacks.registerTarget(i);  // registering twice adds it once
  Log(kLogAlways, 0, 0, "delivered");
  EXPECT_EQ(target.lines, std::vector<std::string>{"ALWAYS|delivered\n"});
}

TEST_F(LogCoreTest, LoggingAllocatesNothingOnceTheCoreExists) {
  CountingTarget target;
  SetLogMinLevel(kLogOkay);
  const std::string text(300, 'x');
  test::AllocationProbe probe;
  for (int i = 0; i < 100; ++i) {
    Log(kLogAlways, 65, 0, "%s: Couldn't find timer named %s (%d)", "mau-discord-rp", text.c_str(),
        i);
  }
  EXPECT_EQ(probe.Blocks(), 0u);
  EXPECT_EQ(target.written, 100);
}

TEST_F(LogCoreTest, OverlongMessagesAreCut) {
  RecordingTarget target({kLogOkay, 0, 0, "#M"});
  const std::string text(5000, 'y');
  Log(kLogAlways, 0, 0, "%s", text.c_str());
  ASSERT_EQ(target.lines.size(), 1u);
  EXPECT_EQ(target.lines[0], std::string(4094, 'y') + "\n") << "4094 characters and the newline";
}

TEST_F(LogCoreTest, ShutdownUnregistersTargetsAndALaterLogCreatesAFreshCore) {
  RecordingTarget target({kLogOkay, 0, 0, "#M"});
  SetLogMinLevel(kLogOkay);
  LogShutdown();
  EXPECT_FALSE(LogCoreExists());
  EXPECT_FALSE(target.IsRegistered());
  MuteLog();  // creates a fresh core; keep it quiet
  EXPECT_EQ(GetLogMinLevel(), kLogWarn);
  Log(kLogAlways, 0, 0, "x");
  EXPECT_TRUE(target.lines.empty());
  UnmuteLog();
  LogInit();
}

TEST(FormatLogLine, Tokens) {
  LogRecord record;
  record.time = LocalTime{2026, 12, 10, 3, 4, 5, 6};
  record.level = kLogError;
  record.categories = kLogDbg | kLogNet;
  record.message = "hello";
  struct Case {
    const char* pattern;
    std::string expected;
  };
  const Case cases[] = {
      {"#D| #L| #G| #M", "2026-12-10T03:04:05.006|  ERROR| DBG;NET| hello\n"},
      {"#M", "hello\n"},
      {"##M #Q #", "#M Q \n"},
      {"", "\n"},
      {"x#", "x\n"},
  };
  char buffer[256];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const size_t n = FormatLogLine(buffer, sizeof buffer, c.pattern, record);
    EXPECT_EQ(std::string(buffer, n), c.expected);
  }
  record.message = "ends with newline\n";
  EXPECT_EQ(FormatLogLine(buffer, sizeof buffer, "#M", record), 18u);
  EXPECT_STREQ(buffer, "ends with newline\n");

  const size_t n = FormatLogLine(buffer, 8, "#M", record);
  EXPECT_EQ(std::string(buffer, n), "ends w\n") << "cut to the buffer, still one newline";

  char small[64];
  FormatLogLine(small, sizeof small, "#E|#T|#H", record);
  const std::string line(small);
  EXPECT_NE(line.find('|'), std::string::npos);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(std::strchr(LogExecutableName(), '/'), nullptr);
  EXPECT_EQ(std::strchr(LogExecutableName(), '\\'), nullptr);
}

TEST(LogCategories, RegisterFormatAndTheFullTable) {
  // Runs once per process: it fills the category table.
  EXPECT_EQ(RegisterCategory("NET"), kLogNet);
  EXPECT_EQ(RegisterCategory("ABC"), uint64_t{1} << 8);
  EXPECT_EQ(RegisterCategory("ABCD"), uint64_t{1} << 8);
  char buffer[64];
  EXPECT_STREQ(FormatCategories(buffer, sizeof buffer, 65), "DBG;NET");
  EXPECT_STREQ(FormatCategories(buffer, sizeof buffer, 0), "");
  EXPECT_STREQ(FormatCategories(buffer, sizeof buffer, uint64_t{1} << 9), "???");
  EXPECT_STREQ(FormatCategories(buffer, 6, 65), "DBG;N");
  for (int i = 9; i < 64; ++i) {
    const char tag[4] = {'Q', static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26), 0};
    EXPECT_EQ(RegisterCategory(tag), uint64_t{1} << i) << tag;
  }
  EXPECT_EQ(RegisterCategory("ZZZ"), 0u) << "a 65th category has no bit";
  EXPECT_EQ(RegisterCategory("ABC"), uint64_t{1} << 8) << "the table is unchanged";
  EXPECT_STREQ(FormatCategories(buffer, sizeof buffer, uint64_t{1} << 63), "QCL");
}

TEST(LogInterfaceTable, EntriesInOrder) {
  const LogInterface* log = GetLogInterface();
  EXPECT_EQ(log->interfaceVersion(), 1);
  log->init();
  log->setMinLevel(kLogError);
  EXPECT_EQ(log->getMinLevel(), kLogError);
  log->setSuppressedCategories(4, 1);
  EXPECT_EQ(log->getSuppressedCategories(), (uint64_t{1} << 32) | 4);
  log->setSuppressedCategories(4, 0);
  EXPECT_EQ(log->stdErrTarget(), StdErrTarget());
  EXPECT_EQ(log->findTarget("DebuggerConsoleLogTarget"), DebuggerTarget());
  EXPECT_STREQ(log->levelName(3), "ALWAYS");
  EXPECT_STREQ(log->levelName(4), "");
  LocalTime t{2026, 1, 2, 3, 4, 5, 678};
  char buffer[64];
  EXPECT_STREQ(log->formatTime(buffer, sizeof buffer, &t), "2026-01-02T03:04:05.678");
  EXPECT_STREQ(log->formatFileTime(buffer, sizeof buffer, &t), "2026-01-02T03-04-05");
  log->shutdown();
}

}  // namespace
}  // namespace mau
