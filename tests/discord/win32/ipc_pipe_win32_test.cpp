// The named-pipe transport's search for Discord. Only Win32 code belongs in this file.
#include "discord/win32/ipc_pipe_win32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "discord/ipc_connection.h"
#include "ipc_server.h"

namespace mau::discord {
namespace {

using ::testing::ElementsAre;

std::wstring PipeName(int digit) { return L"\\\\?\\pipe\\discord-ipc-" + std::to_wstring(digit); }

// Records the names the transport opens and waits for, and can make them busy or fail.
struct PipeRecorder {
  static inline std::vector<std::wstring> opened;
  static inline std::vector<std::pair<std::wstring, DWORD>> waited;
  static inline int busy_times = 0;   // how many opens report ERROR_PIPE_BUSY first
  static inline DWORD fail_with = 0;  // an error every open reports, when not 0
  static inline bool wait_succeeds = true;
  static inline PipeCalls saved;

  PipeRecorder() {
    opened.clear();
    waited.clear();
    busy_times = 0;
    fail_with = 0;
    wait_succeeds = true;
    saved = PipeCallTable();
    PipeCallTable().create_file = &CreateFile;
    PipeCallTable().wait_named_pipe = &WaitNamedPipe;
  }
  ~PipeRecorder() { PipeCallTable() = saved; }

  static HANDLE WINAPI CreateFile(LPCWSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE model) {
    opened.emplace_back(name);
    if (busy_times > 0) {
      --busy_times;
      SetLastError(ERROR_PIPE_BUSY);
      return INVALID_HANDLE_VALUE;
    }
    if (fail_with != 0) {
      SetLastError(fail_with);
      return INVALID_HANDLE_VALUE;
    }
    return saved.create_file(name, access, share, security, disposition, flags, model);
  }

  static BOOL WINAPI WaitNamedPipe(LPCWSTR name, DWORD timeout) {
    waited.emplace_back(name, timeout);
    if (!wait_succeeds) SetLastError(ERROR_SEM_TIMEOUT);
    return wait_succeeds ? TRUE : FALSE;
  }
};

BOOL WINAPI FailingRead(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  SetLastError(ERROR_BROKEN_PIPE);
  return FALSE;
}

// Each instance of a server's pipe takes one client; Accept makes the next instance.
class IpcPipeTest : public ::testing::Test {
 protected:
  void Listen(fake_discord::IpcServer& server, int index) {
    std::string error;
    ASSERT_TRUE(server.Listen("", index, &error)) << error;
  }
  void Listen(int index) { Listen(server_, index); }

  fake_discord::IpcServer server_;
  PipeRecorder recorder_;
  IpcConnection connection_;
};

TEST_F(IpcPipeTest, MissingNamesMoveOnToTheNextDigit) {
  Listen(3);
  ASSERT_EQ(connection_.Open(0), 3);
  EXPECT_THAT(PipeRecorder::opened,
              ElementsAre(PipeName(0), PipeName(1), PipeName(2), PipeName(3)));
  EXPECT_TRUE(server_.Accept(std::chrono::seconds(5)));
}

TEST_F(IpcPipeTest, NoPipeAtAllFailsAfterTenNames) {
  EXPECT_EQ(connection_.Open(0), -1);
  EXPECT_FALSE(connection_.IsOpen());
  EXPECT_EQ(PipeRecorder::opened.size(), 10u);
}

TEST_F(IpcPipeTest, SearchStartsAtTheGivenNameAndWrapsAround) {
  fake_discord::IpcServer five;
  Listen(2);
  Listen(five, 5);
  const struct {
    int first;
    int connected;
    size_t tried;
  } cases[] = {{0, 2, 3}, {3, 5, 3}, {6, 2, 7}, {12, 2, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    PipeRecorder::opened.clear();
    IpcConnection connection;
    EXPECT_EQ(connection.Open(c.first), c.connected);
    EXPECT_EQ(PipeRecorder::opened.size(), c.tried);
    // Taking the client makes the server's next instance wait for the next one.
    EXPECT_TRUE((c.connected == 2 ? server_ : five).Accept(std::chrono::seconds(5)));
  }
}

TEST_F(IpcPipeTest, BusyNameIsWaitedForBrieflyOnce) {
  fake_discord::IpcServer one;
  Listen(0);
  Listen(one, 1);
  const struct {
    const char* name;
    int busy_times;
    bool wait_succeeds;
    std::vector<std::wstring> opened;
    int connected;
  } cases[] = {
      {"busy, then free", 1, true, {PipeName(0), PipeName(0)}, 0},
      {"busy after the wait: the next name", 2, true, {PipeName(0), PipeName(0), PipeName(1)}, 1},
      {"the wait fails: the next name", 1, false, {PipeName(0), PipeName(1)}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PipeRecorder::opened.clear();
    PipeRecorder::waited.clear();
    PipeRecorder::busy_times = c.busy_times;
    PipeRecorder::wait_succeeds = c.wait_succeeds;
    IpcConnection connection;
    EXPECT_EQ(connection.Open(0), c.connected);
    EXPECT_EQ(PipeRecorder::opened, c.opened);
    EXPECT_THAT(PipeRecorder::waited, ElementsAre(std::make_pair(PipeName(0), kBusyPipeWaitMs)));
    EXPECT_TRUE((c.connected == 0 ? server_ : one).Accept(std::chrono::seconds(5)));
  }
}

TEST_F(IpcPipeTest, OtherErrorsEndTheSearch) {
  PipeRecorder::fail_with = ERROR_ACCESS_DENIED;
  EXPECT_EQ(connection_.Open(0), -1);
  EXPECT_EQ(PipeRecorder::opened.size(), 1u);
  EXPECT_FALSE(connection_.IsOpen());
}

TEST_F(IpcPipeTest, FailedReadClosesThePipe) {
  Listen(0);
  ASSERT_EQ(connection_.Open(0), 0);
  ASSERT_TRUE(server_.Accept(std::chrono::seconds(5)));
  char header[8];
  EXPECT_EQ(connection_.Receive(header, sizeof header), 0);
  EXPECT_TRUE(connection_.IsOpen()) << "nothing waiting is no failure";
  connection_.Close();

  ASSERT_EQ(connection_.Open(0), 0);
  ASSERT_TRUE(server_.Accept(std::chrono::seconds(5)));
  PipeCallTable().read_file = &FailingRead;
  EXPECT_EQ(connection_.Receive(header, sizeof header), -1);
  EXPECT_FALSE(connection_.IsOpen());
}

}  // namespace
}  // namespace mau::discord
