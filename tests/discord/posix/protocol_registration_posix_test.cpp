// URL-protocol registration through XDG desktop entries. Only POSIX code belongs in this
// file.
#include "discord/posix/protocol_registration_posix.h"

#include <sys/stat.h>

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

#include "discord/protocol_registration.h"
#include "discord/rpc_client.h"
#include "discord/rpc_client_test_seam.h"
#include "ipc_test_support.h"
#include "platform/process_info.h"
#include "support/test_support.h"

namespace mau::discord {
namespace {

using ::testing::HasSubstr;

std::string Entry(const std::string& exec, const std::string& id = "123") {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=URL:Run game " +
         id +
         " protocol\n"
         "NoDisplay=true\n"
         "Exec=" +
         exec +
         "\n"
         "MimeType=x-scheme-handler/discord-" +
         id + ";\n";
}

class ProtocolRegistrationTest : public ::testing::Test {
 protected:
  std::string EntryFile(const std::string& id = "123") const {
    return mau::test::ReadFile(data_home_.path() / "applications" / ("discord-" + id + ".desktop"));
  }

  // Puts a stand-in xdg-mime on the PATH that writes its arguments into a file.
  void InstallXdgMime() {
    const auto script = bin_.path() / "xdg-mime";
    std::ofstream(script) << "#!/bin/sh\necho \"$@\" > \"" << (bin_.path() / "args").string()
                          << "\"\n";
    chmod(script.c_str(), 0755);
  }
  std::string XdgMimeArguments() const { return mau::test::ReadFile(bin_.path() / "args"); }

  mau::test::TempDir data_home_;
  mau::test::TempDir bin_;
  mau::test::ScopedEnv data_home_env_{"XDG_DATA_HOME", data_home_.str()};
  mau::test::ScopedEnv path_env_{"PATH", bin_.str()};  // no real xdg-mime runs
};

TEST_F(ProtocolRegistrationTest, EntryLaunchesTheRunningProgram) {
  char path[4096];
  ASSERT_TRUE(ReadExecutablePath(path, sizeof path));
  RegisterUrlProtocol("123", nullptr);
  EXPECT_EQ(EntryFile(), Entry(DesktopExecArgument(path)));
  RegisterUrlProtocol("123", "");
  EXPECT_EQ(EntryFile(), Entry(DesktopExecArgument(path))) << "an empty command is no command";
}

TEST_F(ProtocolRegistrationTest, EntryLaunchesTheGivenCommand) {
  RegisterUrlProtocol("901274638105567233", "/opt/mau/game --from-discord");
  EXPECT_EQ(EntryFile("901274638105567233"),
            Entry("/opt/mau/game --from-discord", "901274638105567233"));
}

TEST_F(ProtocolRegistrationTest, SteamGameLaunchesThroughSteam) {
  RegisterSteamGame("123", "42");
  EXPECT_EQ(EntryFile(), Entry("xdg-open steam://rungameid/42"));
}

TEST_F(ProtocolRegistrationTest, XdgMimeMakesTheEntryTheDefaultHandler) {
  InstallXdgMime();
  RegisterUrlProtocol("123", "game");
  EXPECT_EQ(XdgMimeArguments(), "default discord-123.desktop x-scheme-handler/discord-123\n");
}

TEST_F(ProtocolRegistrationTest, DataHomeDefaultsToTheHomeDirectory) {
  mau::test::ScopedEnv no_data_home("XDG_DATA_HOME", std::nullopt);
  mau::test::ScopedEnv home("HOME", data_home_.str());
  RegisterUrlProtocol("123", "game");
  EXPECT_EQ(
      mau::test::ReadFile(data_home_.path() / ".local/share/applications/discord-123.desktop"),
      Entry("game"));
}

TEST_F(ProtocolRegistrationTest, FailuresPrintOneLine) {
  const std::string file = (data_home_.path() / "file").string();
  std::ofstream(file) << "not a directory";
  const struct {
    const char* name;
    const char* id;
    const char* command;
    const char* data_home;
    const char* line;
  } cases[] = {
      {"data home is a file", "123", "game", file.c_str(), "Error creating key\n"},
      {"id with a slash", "../123", "game", nullptr, "Error converting application id\n"},
      {"empty id", "", "game", nullptr, "Error converting application id\n"},
      {"id too long", "12345678901234567890123456789012", "game", nullptr,
       "Error converting application id\n"},
      {"command over two lines", "123", "game\nrm -rf", nullptr, "Error writing command\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mau::test::ScopedEnv data_home("XDG_DATA_HOME",
                                   c.data_home ? std::string(c.data_home) : data_home_.str());
    ::testing::internal::CaptureStderr();
    RegisterUrlProtocol(c.id, c.command);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
    EXPECT_EQ(EntryFile(), "");
  }
}

TEST_F(ProtocolRegistrationTest, ClientStartRegistersWhenAsked) {
  test::PrivateIpcDirectory ipc;  // no Discord to find
  RpcClient::Start("123", nullptr, false, nullptr);
  RpcClient::Stop();
  EXPECT_EQ(EntryFile(), "") << "not asked";
  RpcClient::Start("123", nullptr, true, "42");
  RpcClient::Stop();
  EXPECT_EQ(EntryFile(), Entry("xdg-open steam://rungameid/42"));
  RpcClient::Start("123", nullptr, true, "");
  RpcClient::Stop();
  EXPECT_THAT(EntryFile(), HasSubstr("Exec=/")) << "no Steam id: the running program";
  test_seam::ResetClient();
}

TEST(DesktopExecArgumentTest, QuotesAndEscapes) {
  const struct {
    const char* argument;
    const char* expected;
  } cases[] = {
      {"/usr/bin/game", "/usr/bin/game"},
      {"/home/me/My Games/run", "\"/home/me/My Games/run\""},
      {"/opt/100%/game", "/opt/100%%/game"},
      {"/opt/$HOME/\"x\"", "\"/opt/\\\\$HOME/\\\\\"x\\\\\"\""},
      {"/opt/a\\b", "\"/opt/a\\\\\\\\b\""},
      {"", "\"\""},
  };
  for (const auto& c : cases) EXPECT_EQ(DesktopExecArgument(c.argument), c.expected) << c.argument;
}

}  // namespace
}  // namespace mau::discord
