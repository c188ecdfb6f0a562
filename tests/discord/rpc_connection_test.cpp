#include "discord/rpc_connection.h"

#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ipc_server.h"
#include "ipc_test_support.h"
#include "os_faults.h"

namespace mau::discord {
namespace {

using fake_discord::IoResult;
using std::chrono::seconds;
using ::testing::ElementsAre;
using WriteResult = RpcConnection::WriteResult;

constexpr char kReady[] = R"({"cmd":"DISPATCH","data":{"v":1},"evt":"READY","nonce":null})";
constexpr int64_t kTicksPerMs = 10000;

// The connection's clock for its timeouts: it stands where the test puts it.
std::atomic<int64_t> clock_now{0};
int64_t TestClock() { return clock_now.load(); }
void AdvanceClockMs(int64_t ms) { clock_now += ms * kTicksPerMs; }

// What the connection reported through its notifications.
struct Notifications {
  static inline int connected = 0;
  static inline std::vector<std::pair<int32_t, std::string>> closed;

  static void OnConnected() { ++connected; }
  static void OnClosed(int32_t code, const char* message) { closed.emplace_back(code, message); }
};

class RpcConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Notifications::connected = 0;
    Notifications::closed.clear();
    clock_now = 1000000 * kTicksPerMs;
    connection_->set_clock(&TestClock);
    connection_->set_on_connected(&Notifications::OnConnected);
    connection_->set_on_closed(&Notifications::OnClosed);
    std::string error;
    ASSERT_TRUE(server_.Listen(ipc_.path(), 0, &error)) << error;
  }

  // Opens the connection and lets the server take it and its handshake.
  std::pair<uint32_t, std::string> OpenAndAccept() {
    connection_->Open();
    EXPECT_EQ(connection_->state(), RpcConnection::State::HandshakeSent);
    EXPECT_TRUE(server_.Accept(seconds(5)));
    return ReadFrame();
  }

  void MakeReady() {
    OpenAndAccept();
    Send(test::Frame(OP_FRAME, kReady));
    connection_->Open();
    ASSERT_EQ(connection_->state(), RpcConnection::State::Ready);
  }

  void Send(const std::string& bytes) { ASSERT_TRUE(server_.Write(bytes.data(), bytes.size())); }

  // The next frame the server receives; opcode 0xFFFFFFFF when none came.
  std::pair<uint32_t, std::string> ReadFrame() {
    unsigned char header[8];
    if (server_.Read(header, 8, seconds(5)) != IoResult::Ok) return {0xFFFFFFFF, ""};
    const uint32_t opcode =
        header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
    const uint32_t length =
        header[4] | header[5] << 8 | header[6] << 16 | uint32_t{header[7]} << 24;
    std::string payload(length, '\0');
    if (length != 0 && server_.Read(payload.data(), length, seconds(5)) != IoResult::Ok) {
      return {0xFFFFFFFF, ""};
    }
    return {opcode, payload};
  }

  test::PrivateIpcDirectory ipc_;
  fake_discord::IpcServer server_;
  IpcWakeup wakeup_;
  std::unique_ptr<RpcConnection> connection_ = std::make_unique<RpcConnection>("123");
};

TEST_F(RpcConnectionTest, HandshakeIsTheFirstFrame) {
  EXPECT_EQ(OpenAndAccept(),
            std::make_pair(uint32_t{OP_HANDSHAKE}, std::string(R"({"v":1,"client_id":"123"})")));
  EXPECT_TRUE(Notifications::closed.empty());
}

TEST_F(RpcConnectionTest, LongApplicationIdIsCutTo63Bytes) {
  connection_ = std::make_unique<RpcConnection>(std::string(100, '7').c_str());
  EXPECT_EQ(OpenAndAccept().second, R"({"v":1,"client_id":")" + std::string(63, '7') + R"("})");
}

TEST_F(RpcConnectionTest, OnlyDispatchReadyCompletesTheConnection) {
  OpenAndAccept();
  connection_->Open();  // nothing there yet
  Send(test::Frame(OP_FRAME, R"({"cmd":"DISPATCH","evt":"ERROR"})"));
  connection_->Open();
  Send(test::Frame(OP_FRAME, R"({"cmd":"SET_ACTIVITY","evt":"READY"})"));
  connection_->Open();
  EXPECT_EQ(connection_->state(), RpcConnection::State::HandshakeSent);
  EXPECT_EQ(Notifications::connected, 0);

  Send(test::Frame(OP_FRAME, kReady));
  connection_->Open();
  EXPECT_EQ(connection_->state(), RpcConnection::State::Ready);
  EXPECT_EQ(Notifications::connected, 1);
  connection_->Open();  // Ready: nothing more to do
  EXPECT_EQ(Notifications::connected, 1);
}

TEST_F(RpcConnectionTest, FindsTheServerOnTheFourthName) {
  server_.Stop();
  std::string error;
  ASSERT_TRUE(server_.Listen(ipc_.path(), 3, &error)) << error;
  EXPECT_EQ(OpenAndAccept().first, uint32_t{OP_HANDSHAKE});
}

TEST_F(RpcConnectionTest, NoServerIsSilent) {
  server_.Stop();
  connection_->Open();
  EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
  EXPECT_TRUE(Notifications::closed.empty());
}

TEST_F(RpcConnectionTest, FailedHandshakeWriteIsSilent) {
  test::ScopedWriteFaults faults(1);
  connection_->Open();
  EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
  EXPECT_TRUE(Notifications::closed.empty());
}

TEST_F(RpcConnectionTest, PingIsAnsweredWithItsPayloadBeforeTheNextFrame) {
  MakeReady();
  Send(test::Frame(OP_PING, "0123456789") + test::Frame(OP_PONG, "ignored") +
       test::Frame(OP_FRAME, R"({"evt":"ACTIVITY_JOIN"})"));
  const JsonValue* message = connection_->Read();
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(StringMember(*message, "evt"), "ACTIVITY_JOIN");
  EXPECT_EQ(ReadFrame(), std::make_pair(uint32_t{OP_PONG}, std::string("0123456789")));
}

TEST_F(RpcConnectionTest, APingFloodYieldsToTheCaller) {
  MakeReady();
  std::string flood;
  for (int n = 0; n < 3 * RpcConnection::kMessagesPerStep; ++n) flood += test::Frame(OP_PONG, "");
  Send(flood + test::Frame(OP_FRAME, R"({"evt":"ACTIVITY_JOIN"})"));
  int calls = 0;
  const JsonValue* message = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] {
    ++calls;
    return (message = connection_->Read()) != nullptr;
  }));
  EXPECT_EQ(StringMember(*message, "evt"), "ACTIVITY_JOIN");
  EXPECT_GE(calls, 4) << "each call handles at most kMessagesPerStep pongs";
  EXPECT_EQ(connection_->state(), RpcConnection::State::Ready);
}

TEST_F(RpcConnectionTest, NothingWaitingChangesNothing) {
  MakeReady();
  EXPECT_EQ(connection_->Read(), nullptr);
  Send(test::Frame(OP_FRAME, "{}").substr(0, 5));  // part of a header
  EXPECT_EQ(connection_->Read(), nullptr);
  EXPECT_EQ(connection_->state(), RpcConnection::State::Ready);
  EXPECT_EQ(connection_->last_error_code(), 0);
  EXPECT_STREQ(connection_->last_error_message(), "");
  EXPECT_TRUE(Notifications::closed.empty());
}

TEST_F(RpcConnectionTest, FrameArrivingInPiecesIsAssembled) {
  MakeReady();
  const std::string bytes =
      test::Frame(OP_PING, "0123456789") + test::Frame(OP_FRAME, R"({"evt":"ACTIVITY_JOIN"})");
  // Cuts inside the ping's header and payload, between the frames, and inside the next
  // frame's header and payload; the pauses add up to more than one timeout, but no frame
  // stays incomplete for that long (two pauses at most).
  const size_t cuts[] = {3, 13, 18, 23, 30, bytes.size()};
  size_t sent = 0;
  for (const size_t cut : cuts) {
    SCOPED_TRACE(cut);
    Send(bytes.substr(sent, cut - sent));
    sent = cut;
    connection_->Wait(wakeup_, 5000);
    if (cut == bytes.size()) break;
    EXPECT_EQ(connection_->Read(), nullptr);
    AdvanceClockMs(RpcConnection::kPartialFrameTimeoutMs / 2 - 1);
  }
  const JsonValue* message = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (message = connection_->Read()) != nullptr; }));
  EXPECT_EQ(StringMember(*message, "evt"), "ACTIVITY_JOIN");
  EXPECT_EQ(ReadFrame(), std::make_pair(uint32_t{OP_PONG}, std::string("0123456789")));
  EXPECT_TRUE(Notifications::closed.empty());
}

TEST_F(RpcConnectionTest, FrameIncompleteForTooLongClosesTheConnection) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"five bytes of a header", test::Frame(OP_FRAME, "{}").substr(0, 5)},
      {"half a payload", test::Frame(OP_FRAME, R"({"evt":"ACTIVITY_JOIN"})").substr(0, 18)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    connection_ = std::make_unique<RpcConnection>("123");
    SetUp();
    MakeReady();
    Send(c.bytes);
    connection_->Wait(wakeup_, 5000);
    EXPECT_EQ(connection_->Read(), nullptr);
    AdvanceClockMs(RpcConnection::kPartialFrameTimeoutMs - 1);
    EXPECT_EQ(connection_->Read(), nullptr);
    EXPECT_EQ(connection_->state(), RpcConnection::State::Ready);

    AdvanceClockMs(1);
    EXPECT_EQ(connection_->Read(), nullptr);
    EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
    EXPECT_THAT(Notifications::closed,
                ElementsAre(std::make_pair(2, std::string("Partial data in frame"))));
    server_.Stop();
  }
}

TEST_F(RpcConnectionTest, NoReadyInTimeClosesAndTheNextOpenTriesAnotherNameFirst) {
  fake_discord::IpcServer working;
  std::string error;
  ASSERT_TRUE(working.Listen(ipc_.path(), 1, &error)) << error;
  OpenAndAccept();  // name 0, which never answers
  AdvanceClockMs(RpcConnection::kReadyTimeoutMs - 1);
  connection_->Open();
  EXPECT_EQ(connection_->state(), RpcConnection::State::HandshakeSent);
  AdvanceClockMs(1);
  connection_->Open();
  EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
  EXPECT_THAT(Notifications::closed,
              ElementsAre(std::make_pair(3, std::string("Handshake timed out"))));

  // Name 1 first now; once it has answered, it stays first after a lost connection.
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    connection_->Open();
    ASSERT_EQ(connection_->state(), RpcConnection::State::HandshakeSent);
    ASSERT_TRUE(working.Accept(seconds(5)));
    EXPECT_FALSE(server_.Accept(std::chrono::milliseconds(100))) << "name 0 was tried again";
    const std::string ready = test::Frame(OP_FRAME, kReady);
    ASSERT_TRUE(working.Write(ready.data(), ready.size()));
    ASSERT_TRUE(test::WaitUntil([&] {
      connection_->Open();
      return connection_->state() == RpcConnection::State::Ready;
    }));
    working.CloseClient();
    ASSERT_TRUE(test::WaitUntil([&] {
      (void)connection_->Read();
      return connection_->state() == RpcConnection::State::Closed;
    }));
  }
}

TEST_F(RpcConnectionTest, OutputThePeerDoesNotTakeTimesOut) {
  MakeReady();  // from here on, the server reads nothing
  const std::string command(16000, 'x');
  int queued = 0;
  WriteResult result;
  while ((result = connection_->Write(command.data(), command.size())) == WriteResult::Queued &&
         queued < 10000) {
    ++queued;
  }
  EXPECT_EQ(result, WriteResult::Busy);
  EXPECT_GT(connection_->output_pending(), 0u);
  AdvanceClockMs(RpcConnection::kWriteTimeoutMs - 1);
  connection_->Flush();
  EXPECT_EQ(connection_->state(), RpcConnection::State::Ready);
  EXPECT_TRUE(Notifications::closed.empty());

  AdvanceClockMs(1);
  connection_->Flush();
  EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
  EXPECT_THAT(Notifications::closed,
              ElementsAre(std::make_pair(3, std::string("Write timed out"))));
}

TEST_F(RpcConnectionTest, PongWaitsForRoomAndEverythingArrivesInOrder) {
  MakeReady();
  const std::string command(16000, 'x');
  int queued = 0;
  while (connection_->Write(command.data(), command.size()) == WriteResult::Queued) ++queued;
  // The ping's pong finds no room: nothing behind the ping is read until there is.
  const std::string ping(60000, 'p');
  Send(test::Frame(OP_PING, ping) + test::Frame(OP_FRAME, R"({"evt":"ACTIVITY_JOIN"})"));
  connection_->Wait(wakeup_, 5000);
  EXPECT_EQ(connection_->Read(), nullptr);

  // The server reads again.
  std::vector<std::pair<uint32_t, size_t>> frames;
  std::thread reader([&] {
    for (int n = 0; n <= queued; ++n) {
      const std::pair<uint32_t, std::string> frame = ReadFrame();
      frames.emplace_back(frame.first, frame.second.size());
    }
  });
  const JsonValue* message = nullptr;
  const bool read = test::WaitUntil([&] {
    connection_->Wait(wakeup_, 10);
    connection_->Flush();
    return (message = connection_->Read()) != nullptr;
  });
  const bool flushed = test::WaitUntil([&] {
    connection_->Flush();
    return connection_->output_pending() == 0;
  });
  reader.join();
  ASSERT_TRUE(read);
  ASSERT_TRUE(flushed);
  EXPECT_EQ(StringMember(*message, "evt"), "ACTIVITY_JOIN");
  std::vector<std::pair<uint32_t, size_t>> expected(static_cast<size_t>(queued),
                                                    {uint32_t{OP_FRAME}, command.size()});
  expected.emplace_back(OP_PONG, ping.size());
  EXPECT_EQ(frames, expected);
  EXPECT_TRUE(Notifications::closed.empty());
}

TEST_F(RpcConnectionTest, WaitEndsForTheWakeUpAndForArrivingBytes) {
  using Clock = std::chrono::steady_clock;
  const auto waited = [&](auto&& start_something) {
    const Clock::time_point begin = Clock::now();
    std::thread other(start_something);
    connection_->Wait(wakeup_, 20000);
    other.join();
    return Clock::now() - begin;
  };
  const auto sleep = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };

  wakeup_.Signal();  // a wake-up given before the wait is not lost
  EXPECT_LT(waited([] {}), seconds(10));
  EXPECT_LT(waited([&] {
              sleep();
              wakeup_.Signal();
            }),
            seconds(10))
      << "closed: the wake-up";
  MakeReady();
  EXPECT_LT(waited([&] {
              sleep();
              wakeup_.Signal();
            }),
            seconds(10))
      << "open: the wake-up";
  EXPECT_LT(waited([&] {
              sleep();
              Send(test::Frame(OP_FRAME, "{}"));
            }),
            seconds(10))
      << "open: arriving bytes";
  EXPECT_NE(connection_->Read(), nullptr);
}

TEST_F(RpcConnectionTest, EmptyOrInvalidPayloadReadsAsAnEmptyMessage) {
  MakeReady();
  for (const char* payload : {"", "not json"}) {
    SCOPED_TRACE(payload);
    Send(test::Frame(OP_FRAME, payload));
    const JsonValue* message = connection_->Read();
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->IsObject());
    EXPECT_EQ(message->MemberCount(), 0u);
  }
}

TEST_F(RpcConnectionTest, ReadFailuresCloseAndReport) {
  const struct {
    const char* name;
    std::string bytes;
    bool hang_up;
    int32_t code;
    const char* message;
  } cases[] = {
      {"peer hung up with the payload not all there", test::Frame(OP_FRAME, "{}", 10), true, 2,
       "Partial data in frame"},
      {"peer hung up within a header", test::Frame(OP_FRAME, "{}").substr(0, 5), true, 1,
       "Pipe closed"},
      {"unknown opcode", test::Frame(7, "{}"), false, 2, "Bad ipc frame"},
      {"handshake from the server", test::Frame(OP_HANDSHAKE, "{}"), false, 2, "Bad ipc frame"},
      {"frame longer than the receive buffer", test::Frame(OP_FRAME, "", kFramePayloadCapacity),
       false, 2, "Bad ipc frame"},
      {"frame length 4 GiB", test::Frame(OP_FRAME, "", 0xFFFFFFFE), false, 2, "Bad ipc frame"},
      {"close with code and message",
       test::Frame(OP_CLOSE, R"({"code":4000,"message":"Invalid Client ID"})"), false, 4000,
       "Invalid Client ID"},
      {"close without members", test::Frame(OP_CLOSE, "{}"), false, 0, ""},
      {"close with members of other kinds", test::Frame(OP_CLOSE, R"({"code":"1","message":2})"),
       false, 0, ""},
      {"close message cut to 255 bytes",
       test::Frame(OP_CLOSE, R"({"code":1,"message":")" + std::string(300, 'm') + R"("})"), false,
       1, nullptr},
      {"peer hung up", "", true, 1, "Pipe closed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    connection_ = std::make_unique<RpcConnection>("123");
    SetUp();
    MakeReady();
    if (!c.bytes.empty()) Send(c.bytes);
    if (c.hang_up) server_.CloseClient();

    EXPECT_EQ(connection_->Read(), nullptr);
    EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
    const std::string expected = c.message != nullptr ? c.message : std::string(255, 'm');
    EXPECT_THAT(Notifications::closed, ::testing::ElementsAre(std::make_pair(c.code, expected)));
    EXPECT_EQ(connection_->last_error_code(), c.code);
    EXPECT_EQ(connection_->last_error_message(), expected);
    server_.Stop();
  }
}

TEST_F(RpcConnectionTest, WriteSendsOneFrame) {
  MakeReady();
  const std::string command = R"({"nonce":"1","cmd":"SUBSCRIBE","evt":"ACTIVITY_JOIN"})";
  ASSERT_EQ(connection_->Write(command.data(), command.size()), WriteResult::Queued);
  EXPECT_EQ(ReadFrame(), std::make_pair(uint32_t{OP_FRAME}, command));
  EXPECT_EQ(connection_->Write(command.data(), kFramePayloadCapacity + 1), WriteResult::Failed);
  EXPECT_EQ(connection_->state(), RpcConnection::State::Ready) << "an oversized command is refused";
}

TEST_F(RpcConnectionTest, FailedWriteClosesAndReportsTheLastErrorAsItStands) {
  MakeReady();
  test::ScopedWriteFaults faults(2);
  ASSERT_EQ(connection_->Write("{}", 2), WriteResult::Queued);
  EXPECT_EQ(connection_->Write("{}", 2), WriteResult::Failed);
  EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
  EXPECT_THAT(Notifications::closed, ::testing::ElementsAre(std::make_pair(0, std::string())));

  EXPECT_EQ(connection_->Write("{}", 2), WriteResult::Failed) << "writing to a closed connection";
  EXPECT_EQ(Notifications::closed.size(), 1u) << "a closed connection reports nothing more";
}

TEST_F(RpcConnectionTest, FailedPongClosesTheConnection) {
  MakeReady();
  Send(test::Frame(OP_PING, "0123456789"));
  test::ScopedWriteFaults faults(1);
  EXPECT_EQ(connection_->Read(), nullptr);
  EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);
  EXPECT_EQ(Notifications::closed.size(), 1u);
}

TEST_F(RpcConnectionTest, CloseReportsOnlyAfterTheHandshake) {
  connection_->Close();
  EXPECT_TRUE(Notifications::closed.empty());
  OpenAndAccept();
  connection_->Close();
  EXPECT_EQ(Notifications::closed.size(), 1u);
  EXPECT_EQ(connection_->state(), RpcConnection::State::Closed);

  // The connection can be opened again, and the server sees the new handshake.
  connection_->Open();
  ASSERT_TRUE(server_.Accept(seconds(5)));
  EXPECT_EQ(ReadFrame().first, uint32_t{OP_HANDSHAKE});
}

}  // namespace
}  // namespace mau::discord
