// The socket transport's search for Discord and its POSIX-only behaviour. Only POSIX
// code belongs in this file.
#include "discord/posix/ipc_socket_posix.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "discord/ipc_connection.h"
#include "ipc_server.h"
#include "ipc_test_support.h"

namespace mau::discord {
namespace {

using std::chrono::seconds;

// Records the path of every connect the transport makes; `refuse_with` (when not 0)
// is returned as the error of every connect.
struct ConnectRecorder {
  static inline std::vector<std::string> paths;
  static inline int refuse_with = 0;
  static inline SocketCalls saved;

  ConnectRecorder() {
    paths.clear();
    refuse_with = 0;
    saved = SocketCallTable();
    SocketCallTable().connect = [](int fd, const sockaddr* address, socklen_t length) {
      paths.push_back(reinterpret_cast<const sockaddr_un*>(address)->sun_path);
      if (refuse_with != 0) {
        errno = refuse_with;
        return -1;
      }
      return saved.connect(fd, address, length);
    };
  }
  ~ConnectRecorder() { SocketCallTable() = saved; }
};

TEST(IpcSocketTest, DirectoryIsTheFirstExistingOfTheUsualVariables) {
  mau::test::TempDir a;
  mau::test::TempDir b;
  const std::string missing = a.str() + "/missing";
  const struct {
    const char* name;
    std::optional<std::string> xdg, tmpdir, tmp, temp;
    std::string expected;
  } cases[] = {
      {"runtime directory first", a.str(), b.str(), std::nullopt, std::nullopt, a.str()},
      {"missing directory skipped", missing, std::nullopt, b.str(), std::nullopt, b.str()},
      {"empty value skipped", std::string(), std::nullopt, std::nullopt, b.str(), b.str()},
      {"none set", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "/tmp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mau::test::ScopedEnv xdg("XDG_RUNTIME_DIR", c.xdg);
    mau::test::ScopedEnv tmpdir("TMPDIR", c.tmpdir);
    mau::test::ScopedEnv tmp("TMP", c.tmp);
    mau::test::ScopedEnv temp("TEMP", c.temp);
    EXPECT_EQ(DiscordSocketDirectory(), c.expected);
  }
}

TEST(IpcSocketTest, PathsArePlainThenFlatpakThenSnap) {
  const std::vector<std::string> paths = DiscordSocketPaths("/run/user/1000/");
  ASSERT_EQ(paths.size(), 30u);
  EXPECT_EQ(paths[0], "/run/user/1000/discord-ipc-0");
  EXPECT_EQ(paths[9], "/run/user/1000/discord-ipc-9");
  EXPECT_EQ(paths[10], "/run/user/1000/app/com.discordapp.Discord/discord-ipc-0");
  EXPECT_EQ(paths[29], "/run/user/1000/snap.discord/discord-ipc-9");

  // Names that do not fit a socket address are left out.
  EXPECT_EQ(DiscordSocketPaths("/" + std::string(90, 'd')).size(), 10u);
  EXPECT_THAT(DiscordSocketPaths("/" + std::string(120, 'd')), ::testing::IsEmpty());
}

TEST(IpcSocketTest, MissingAndRefusedNamesMoveOnToTheNext) {
  test::PrivateIpcDirectory ipc;
  // A stale socket file on digit 0: bound once, nobody listens there.
  {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (ipc.path() + "/discord-ipc-0").c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  fake_discord::IpcServer server;
  std::string error;
  ASSERT_TRUE(server.Listen(ipc.path(), 3, &error)) << error;

  ConnectRecorder recorder;
  IpcConnection connection;
  ASSERT_EQ(connection.Open(0), 3);
  EXPECT_THAT(ConnectRecorder::paths,
              ::testing::ElementsAre(ipc.path() + "/discord-ipc-0", ipc.path() + "/discord-ipc-1",
                                     ipc.path() + "/discord-ipc-2", ipc.path() + "/discord-ipc-3"));
  EXPECT_TRUE(server.Accept(seconds(5)));
}

TEST(IpcSocketTest, SearchStartsAtTheGivenNameAndWrapsAround) {
  test::PrivateIpcDirectory ipc;
  fake_discord::IpcServer two;
  fake_discord::IpcServer five;
  std::string error;
  ASSERT_TRUE(two.Listen(ipc.path(), 2, &error)) << error;
  ASSERT_TRUE(five.Listen(ipc.path(), 5, &error)) << error;
  ASSERT_EQ(IpcConnection::NameCount(), 30);
  const struct {
    int first;
    int connected;
    size_t tried;
  } cases[] = {{0, 2, 3}, {2, 2, 1}, {3, 5, 3}, {6, 2, 27}, {28, 2, 5}, {33, 5, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    ConnectRecorder recorder;
    IpcConnection connection;
    EXPECT_EQ(connection.Open(c.first), c.connected);
    EXPECT_EQ(ConnectRecorder::paths.size(), c.tried);
  }
}

TEST(IpcSocketTest, ListenerThatTakesNoConnectionNowIsPassedOver) {
  test::PrivateIpcDirectory ipc;
  // A listener on digit 0 that never accepts, its backlog filled up.
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, (ipc.path() + "/discord-ipc-0").c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  std::vector<int> waiting;
  for (;;) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ASSERT_EQ(errno, EAGAIN);
      close(fd);
      break;
    }
    waiting.push_back(fd);
    ASSERT_LT(waiting.size(), 100u);
  }
  fake_discord::IpcServer server;
  std::string error;
  ASSERT_TRUE(server.Listen(ipc.path(), 1, &error)) << error;

  IpcConnection connection;
  EXPECT_EQ(connection.Open(0), 1);
  for (const int fd : waiting) close(fd);
  close(listener);
}

TEST(IpcSocketTest, FindsAFlatpakDiscord) {
  test::PrivateIpcDirectory ipc;
  const std::string flatpak = ipc.path() + "/app/com.discordapp.Discord";
  ASSERT_EQ(mkdir((ipc.path() + "/app").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(flatpak.c_str(), 0700), 0);
  fake_discord::IpcServer server;
  std::string error;
  ASSERT_TRUE(server.Listen(flatpak, 0, &error)) << error;

  ConnectRecorder recorder;
  IpcConnection connection;
  ASSERT_EQ(connection.Open(0), 10);
  EXPECT_EQ(ConnectRecorder::paths.size(), 11u);
  EXPECT_TRUE(server.Accept(seconds(5)));
}

TEST(IpcSocketTest, OtherConnectErrorsEndTheSearch) {
  test::PrivateIpcDirectory ipc;
  ConnectRecorder recorder;
  ConnectRecorder::refuse_with = EACCES;
  IpcConnection connection;
  EXPECT_EQ(connection.Open(0), -1);
  EXPECT_FALSE(connection.IsOpen());
  EXPECT_EQ(ConnectRecorder::paths.size(), 1u);
}

TEST(IpcSocketTest, WritingToAVanishedPeerFailsWithoutASignal) {
  test::PrivateIpcDirectory ipc;
  fake_discord::IpcServer server;
  std::string error;
  ASSERT_TRUE(server.Listen(ipc.path(), 0, &error)) << error;
  IpcConnection connection;
  ASSERT_EQ(connection.Open(0), 0);
  ASSERT_TRUE(server.Accept(seconds(5)));
  server.Stop();

  // Without MSG_NOSIGNAL, SIGPIPE would end this test program here.
  const std::string bytes(64 * 1024, 'x');
  EXPECT_EQ(connection.Send(bytes.data(), bytes.size()), -1);
  char header[8];
  EXPECT_EQ(connection.Receive(header, sizeof header), -1);
  EXPECT_FALSE(connection.IsOpen());
}

TEST(IpcSocketTest, ReceiveTakesWhatHasArrivedAndSeesAPeerThatHungUp) {
  test::PrivateIpcDirectory ipc;
  fake_discord::IpcServer server;
  std::string error;
  ASSERT_TRUE(server.Listen(ipc.path(), 0, &error)) << error;
  IpcConnection connection;
  ASSERT_EQ(connection.Open(0), 0);
  ASSERT_TRUE(server.Accept(seconds(5)));
  char header[8];
  EXPECT_EQ(connection.Receive(header, sizeof header), 0) << "nothing waiting";
  ASSERT_TRUE(server.Write("\x01\x00\x00", 3));
  EXPECT_EQ(connection.Receive(header, sizeof header), 3);
  EXPECT_EQ(connection.Receive(header, sizeof header), 0);
  EXPECT_TRUE(connection.IsOpen()) << "the rest may still come";

  // The rest never comes: the peer is gone.
  server.CloseClient();
  EXPECT_EQ(connection.Receive(header, sizeof header), -1);
  EXPECT_FALSE(connection.IsOpen());
}

}  // namespace
}  // namespace mau::discord
