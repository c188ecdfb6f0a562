// mau-host as a user runs it: the exit status and the messages of whole runs, with the
// test plug-in library, which logs each chat change it sees, and one run of the real
// plug-in under valgrind.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../discord/ipc_test_support.h"
#include "child_process.h"
#include "fake_discord_core.h"
#include "plugin_library.h"
#include "support/test_support.h"

namespace mau {
namespace {

using namespace std::chrono_literals;

std::filesystem::path BinFolder() { return host::ExecutableFolder(); }

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// The program of that name in a folder of $PATH.
std::optional<std::filesystem::path> FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    const std::filesystem::path candidate =
        std::filesystem::path(folders.substr(start, end - start)) / name;
    std::error_code ec;
    if (end > start && std::filesystem::is_regular_file(candidate, ec)) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}
#endif

std::filesystem::path MauHost() { return BinFolder() / MAU_HOST_FILE; }
std::string TestPlugin() { return (BinFolder() / MAU_TEST_PLUGIN_FILE).string(); }

constexpr const char* kAway =
    R"({"at": 0, "uri": "/mau-chat/v1/me", "data": {"availability": "away"}})";
constexpr const char* kDnd =
    R"({"at": 0.05, "uri": "/mau-chat/v1/me", "data": {"availability": "dnd"}})";

class MauHostProgram : public ::testing::Test {
 protected:
  MauHostProgram() {
    std::filesystem::create_directories(resources() / "mau-chat" / "v1");
    std::ofstream(resources() / "mau-chat" / "v1" / "me.json") << R"({"availability": "chat"})";
    std::ofstream{input()};
  }

  std::filesystem::path resources() const { return dir_.path() / "resources"; }
  std::filesystem::path session() const { return dir_.path() / "session.jsonl"; }
  std::filesystem::path input() const { return dir_.path() / "input.jsonl"; }
  std::filesystem::path output() const { return dir_.path() / "output.txt"; }

  static void Write(const std::filesystem::path& path, const std::vector<std::string>& lines) {
    std::ofstream file(path, std::ios::trunc | std::ios::binary);
    for (const std::string& line : lines) file << line << '\n';
  }

  bool Start(std::vector<std::string> args) {
    std::string error;
    if (!child_.Start(MauHost(), args, input(), output(), &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  // Runs mau-host to its end: its exit status, and its output in output_.
  int Run(std::vector<std::string> args) {
    if (!Start(std::move(args))) return -1;
    const int status = child_.Wait(60s);
    output_ = test::ReadFile(output());
    return status;
  }

  // The standard arguments: the test plug-in, the resources, no lingering.
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> args{"--plugin",           TestPlugin(), "--resources",
                                  resources().string(), "--linger",   "0"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  bool Shows(const std::string& text) const { return output_.find(text) != std::string::npos; }

  test::TempDir dir_;
  test::ChildProcess child_;
  std::string output_;
};

TEST_F(MauHostProgram, ASessionThatPlaysInFullExitsZero) {
  Write(session(), {kAway, "", kDnd});
  EXPECT_EQ(Run(Args({"--session", session().string()})), 0) << output_;
  EXPECT_TRUE(Shows("mau-test-plugin: /mau-chat/v1/me is dnd (1)")) << output_;
  EXPECT_FALSE(Shows("rejected")) << output_;
}

// Rejected lines are reported as they are read, the rest plays, and the status says so.
TEST_F(MauHostProgram, RejectedLinesExitTwoAfterTheSessionPlayed) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::vector<std::string> args;
    std::vector<std::string> shown;
    const char* summary;
  };
  const Case cases[] = {
      {"every line rejected",
       {R"({"uri": 5, "data": 1})", R"({"at": "x", "uri": "/a", "data": 1})"},
       {},
       {"mau-host: session line 1: uri must be a string (skipped)",
        "mau-host: session line 2: at must be a number of seconds, 0 or more (skipped)",
        "mau-test-plugin: initialized"},
       "mau-host: 2 session lines were rejected"},
      {"one bad line among good ones",
       {kAway, R"({"uri": "/a", "delete": "yes"})", kDnd},
       {},
       {"mau-host: session line 2: delete must be true or false (skipped)",
        "mau-test-plugin: /mau-chat/v1/me is away (1)"},
       "mau-host: 1 session line was rejected"},
      {"a time the clock cannot hold",
       {R"({"at": 1e12, "uri": "/a", "data": 1})", kDnd},
       {},
       {"mau-host: session line 1: at 1000000000000 lies more than 1000000000 seconds ahead "
        "(skipped)"},
       "mau-host: 1 session line was rejected"},
      {"a time the clock cannot hold at the chosen speed",
       {R"({"at": 2, "uri": "/a", "data": 1})", R"({"uri": "/mau-chat/v1/me", "data": {}})",
        R"({"at": 1e-12, "uri": "/mau-chat/v1/me", "data": {"availability": "dnd"}})"},
       {"--speed", "1e-9"},
       {"mau-host: session line 1: at 2 at --speed 1e-09 lies more than 1000000000 seconds "
        "ahead (skipped)"},
       "mau-host: 1 session line was rejected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(session(), c.lines);
    std::vector<std::string> args = Args({"--session", session().string()});
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), 2) << output_;
    for (const std::string& text : c.shown) EXPECT_TRUE(Shows(text)) << text << "\n" << output_;
    // The summary comes last, after the plug-in has seen the session's last change.
    const size_t last = output_.rfind("mau-test-plugin: /mau-chat/v1/me is");
    EXPECT_NE(last, std::string::npos) << output_;
    EXPECT_GT(output_.find(c.summary), last) << output_;
  }
}

TEST_F(MauHostProgram, RejectedLinesOnStandardInputExitTwo) {
  Write(input(), {kAway, R"({"uri": "/mau-chat/v1/me"})", kDnd});
  EXPECT_EQ(Run(Args({})), 2) << output_;
  EXPECT_TRUE(Shows("mau-host: session line 2: lacks \"data\" (or \"delete\": true) (skipped)"))
      << output_;
  EXPECT_TRUE(Shows("mau-test-plugin: /mau-chat/v1/me is dnd (1)")) << output_;
  EXPECT_TRUE(Shows("mau-host: 1 session line was rejected")) << output_;
}

// What the command line names is checked before the plug-in is loaded: none of these runs
// shows the plug-in.
TEST_F(MauHostProgram, BadArgumentsExitTwoBeforeLoading) {
  std::ofstream(dir_.path() / "file.json") << "{}";
  const std::string missing = (dir_.path() / "missing").string();
  const std::string file = (dir_.path() / "file.json").string();
  const std::string folder = dir_.path().string();
  const std::string linger = "mau-host: --linger needs a number of seconds from 0 to 1000000000";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--resources", missing, "--plugin", missing},
       "mau-host: the resource folder " + missing + " does not exist"},
      {{"--resources", file}, "mau-host: the resource folder " + file + " is not a folder"},
      {Args({"--session", folder}),
       "mau-host: cannot read the session " + folder + ": it is a folder"},
      {Args({"--session", missing}), "mau-host: cannot read the session " + missing},
      {Args({"--linger", "1e10"}), linger},
      {Args({"--linger", "1e300"}), linger},
      {Args({"--linger", "inf"}), linger},
      {Args({"--linger", "nan"}), linger},
      {Args({"--linger", "-1"}), linger},
      {Args({"--speed", "0"}), "mau-host: --speed needs a positive number"},
      {Args({"--speed", "inf"}), "mau-host: --speed needs a positive number"},
      {Args({"--speed", "1e-12", "--linger", "2"}),
       "mau-host: --linger 2 at --speed 1e-12 lasts more than 1000000000 seconds"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& arg : c.args) line += arg + ' ';
    SCOPED_TRACE(line);
    EXPECT_EQ(Run(c.args), 2) << output_;
    EXPECT_TRUE(Shows(c.message)) << output_;
    EXPECT_FALSE(Shows("mau-test-plugin")) << output_;
  }
}

// SIGINT and SIGTERM stop the plug-in and end with 128 + the signal's number.
TEST_F(MauHostProgram, SignalsStopThePluginAndExitWithTheirStatus) {
#ifdef _WIN32
  GTEST_SKIP() << "no signals on Windows; Ctrl+C reaches a console program's handler";
#else
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    SCOPED_TRACE(signal);
    ASSERT_TRUE(Start(Args({"--linger", "600"})));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (test::ReadFile(output()).find("mau-test-plugin: initialized") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(child_.Signal(signal));
    EXPECT_EQ(child_.Wait(30s), status);
    output_ = test::ReadFile(output());
    EXPECT_TRUE(Shows("mau-host: interrupted: stopping the plug-in")) << output_;
  }
#endif
}

// A whole run of the real plug-in, talking to the Discord stand-in, under valgrind: when
// mau-host has stopped and unloaded the library, no block of it is lost.
TEST_F(MauHostProgram, ARunUnderValgrindLosesNothing) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "valgrind runs POSIX programs built without sanitizers";
#else
  const std::optional<std::filesystem::path> valgrind = FindOnPath("valgrind");
  if (!valgrind) GTEST_SKIP() << "valgrind is not installed";
  discord::test::PrivateIpcDirectory ipc;
  fake_discord::FakeDiscordOptions options;
  options.directory = ipc.path();
  fake_discord::FakeDiscord discord(options);
  std::string error;
  ASSERT_TRUE(discord.Start(&error)) << error;
  Write(session(),
        {R"({"at": 0.5, "uri": "/mau-chat/v1/me", "data": {"mau": {"gameStatus": "inGame",)"
         R"( "gameQueueType": "ARAM_5x5", "championId": "3", "mapId": "12"}}})",
         R"({"at": 1, "uri": "/mau-chat/v1/me", "delete": true})"});
  std::string run;
  ASSERT_TRUE(child_.Start(*valgrind,
                           {"--leak-check=full", "--errors-for-leak-kinds=definite,indirect",
                            "--error-exitcode=99", "--keep-debuginfo=yes", MauHost().string(),
                            "--plugin", (BinFolder() / MAU_PLUGIN_FILE).string(), "--resources",
                            std::string(MAU_EXAMPLES_DIR) + "/resources", "--session",
                            session().string(), "--linger", "2"},
                           input(), output(), &error))
      << error;
  EXPECT_EQ(child_.Wait(300s), 0) << test::ReadFile(output());
  output_ = test::ReadFile(output());
  EXPECT_TRUE(Shows("All heap blocks were freed")) << output_;
  EXPECT_TRUE(discord.WaitForActivity(0ms).has_value()) << "the plug-in reached Discord";
#endif
}

}  // namespace
}  // namespace mau
