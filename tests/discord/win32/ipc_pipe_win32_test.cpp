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

BOOL WINAPI FailingPeek(HANDLE, LPVOID, DWORD, LPDWORD, LPDWORD, LPDWORD) {
  SetLastError(ERROR_BROKEN_PIPE);
  return FALSE;
}

class IpcPipeTest : public ::testing::Test {
 protected:
  void Listen(int index) {
    std::string error;
    ASSERT_TRUE(server_.Listen("", index, &error)) << error;
  }

  fake_discord::IpcServer server_;
  PipeRecorder recorder_;
  IpcConnection connection_;
};

TEST_F(IpcPipeTest, MissingNamesMoveOnToTheNextDigit) {
  Listen(3);
  ASSERT_TRUE(connection_.Open());
  EXPECT_THAT(PipeRecorder::opened,
              ElementsAre(PipeName(0), PipeName(1), PipeName(2), PipeName(3)));
  EXPECT_TRUE(server_.Accept(std::chrono::seconds(5)));
}

TEST_F(IpcPipeTest, NoPipeAtAllFailsAfterTenNames) {
  EXPECT_FALSE(connection_.Open());
  EXPECT_FALSE(connection_.IsOpen());
  EXPECT_EQ(PipeRecorder::opened.size(), 10u);
}

TEST_F(IpcPipeTest, BusyNameIsWaitedForAndTriedAgain) {
  Listen(0);
  PipeRecorder::busy_times = 1;
  ASSERT_TRUE(connection_.Open());
  EXPECT_THAT(PipeRecorder::opened, ElementsAre(PipeName(0), PipeName(0)));
  EXPECT_THAT(PipeRecorder::waited, ElementsAre(std::make_pair(PipeName(0), DWORD{10000})));
}

TEST_F(IpcPipeTest, FailedWaitOrOtherErrorEndsTheSearch) {
  PipeRecorder::busy_times = 1;
  PipeRecorder::wait_succeeds = false;
  EXPECT_FALSE(connection_.Open());
  EXPECT_EQ(PipeRecorder::opened.size(), 1u);

  PipeRecorder::opened.clear();
  PipeRecorder::fail_with = ERROR_ACCESS_DENIED;
  EXPECT_FALSE(connection_.Open());
  EXPECT_EQ(PipeRecorder::opened.size(), 1u);
  EXPECT_FALSE(connection_.IsOpen());
}

TEST_F(IpcPipeTest, FailedPeekClosesThePipe) {
  Listen(0);
  ASSERT_TRUE(connection_.Open());
  ASSERT_TRUE(server_.Accept(std::chrono::seconds(5)));
  char header[8];
  EXPECT_FALSE(connection_.Read(header, sizeof header));
  EXPECT_TRUE(connection_.IsOpen()) << "nothing waiting is no failure";

  PipeCallTable().peek_named_pipe = &FailingPeek;
  EXPECT_FALSE(connection_.Read(header, sizeof header));
  EXPECT_FALSE(connection_.IsOpen());
}

}  // namespace
}  // namespace mau::discord
