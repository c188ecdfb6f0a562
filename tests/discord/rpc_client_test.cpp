#include "discord/rpc_client.h"

#include <algorithm>
#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "discord/reconnect_backoff.h"
#include "discord/rpc_client_test_seam.h"
#include "fake_discord_core.h"
#include "ipc_server.h"
#include "ipc_test_support.h"
#include "os_faults.h"
#include "support/test_support.h"

namespace mau::discord {
namespace {

using fake_discord::FakeDiscord;
using fake_discord::FakeDiscordOptions;
using fake_discord::ReceivedActivity;
using fake_discord::ReceivedFrame;
using std::chrono::milliseconds;
using std::chrono::seconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kApplicationId[] = "901274638105567233";
constexpr int64_t kTicksPerMs = 10000;

// The client's clock: either it jumps an hour at every reading (every connection step is
// due at once), or it stands still where the test puts it.
std::atomic<int64_t> clock_now{0};
std::atomic<bool> clock_runs{true};
int64_t TestNow() {
  return clock_runs ? clock_now.fetch_add(3600 * 1000 * kTicksPerMs) : clock_now.load();
}

// The clock of the connection's timeouts: it stands where the test puts it.
std::atomic<int64_t> timeout_clock{0};
int64_t TimeoutNow() { return timeout_clock.load(); }

// The backoff's draws: a list, whose last entry repeats.
std::vector<double> draws = {0.0};
std::atomic<size_t> draw_index{0};
double TestDraw() { return draws[std::min(draw_index++, draws.size() - 1)]; }

// Every handler, logging what it was called with.
struct Events {
  static inline std::vector<std::string> log;

  static void Ready() { log.push_back("ready"); }
  static void Disconnected(int32_t code, const char* message) {
    log.push_back("disconnected " + std::to_string(code) + " " + message);
  }
  static void Error(int32_t code, const char* message) {
    log.push_back("error " + std::to_string(code) + " " + message);
  }
  static void Join(const char* secret) { log.push_back(std::string("join ") + secret); }
  static void Spectate(const char* secret) { log.push_back(std::string("spectate ") + secret); }
  static void JoinRequest(const JoinRequestUser* user) {
    log.push_back(std::string("request ") + user->id + "/" + user->username + "/" +
                  user->discriminator + "/" + user->avatar);
  }
  static RpcEventHandlers All() {
    return {&Ready, &Disconnected, &Error, &Join, &Spectate, &JoinRequest};
  }
};

DiscordPresence WithState(const char* state) {
  DiscordPresence presence;
  presence.state = state;
  return presence;
}

// The command name and "evt" of a command frame.
std::string Describe(const ReceivedFrame& frame) {
  std::string text = frame.payload;
  auto message = std::make_unique<RpcMessage>();
  ParseMessage(text.data(), *message);
  std::string out(StringMember(message->root(), "cmd").value_or("?"));
  if (auto evt = StringMember(message->root(), "evt")) out += " " + std::string(*evt);
  return out;
}

class RpcClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_now = 1000000 * kTicksPerMs;
    clock_runs = true;
    timeout_clock = 1000000 * kTicksPerMs;
    draws = {0.0};
    draw_index = 0;
    Events::log.clear();
    SetHooks(5);
  }

  void TearDown() override {
    RpcClient::Stop();
    if (discord_) discord_->Stop();
    test_seam::SetClientHooks({});
    test_seam::ResetClient();
  }

  void SetHooks(int32_t pass_interval_ms) {
    test_seam::ClientHooks hooks;
    hooks.now = &TestNow;
    hooks.timeout_now = &TimeoutNow;
    hooks.draw = &TestDraw;
    hooks.pass_interval_ms = pass_interval_ms;
    test_seam::SetClientHooks(hooks);
    test_seam::ResetClient();
  }

  void StartDiscord(FakeDiscordOptions options = {}) {
    options.directory = ipc_.path();
    discord_ = std::make_unique<FakeDiscord>(std::move(options));
    std::string error;
    ASSERT_TRUE(discord_->Start(&error)) << error;
  }

  // Starts the client and waits until it is Ready.
  void Connect(const RpcEventHandlers& handlers = {}) {
    RpcClient::Start(kApplicationId, &handlers, false, nullptr);
    ASSERT_TRUE(WaitForState(RpcConnection::State::Ready));
  }

  // Connects with every handler and waits until the three subscriptions have reached
  // Discord, so that a dropped connection is found by a read, not by a failing write.
  void ConnectSubscribed() {
    Connect(Events::All());
    ASSERT_EQ(NextFrames(4).size(), 4u);
  }

  // Waits until attempt number `attempt` has been made and its deadline stored (the
  // attempt counts before its deadline is stored), and reads the back-off then.
  static bool WaitForAttempt(int32_t attempt, test_seam::BackoffView& view) {
    return test::WaitUntil([&] {
      view = test_seam::ReadBackoff();
      return view.attempts == attempt && view.next_attempt > clock_now;
    });
  }

  static bool WaitForState(RpcConnection::State state) {
    return test::WaitUntil([&] { return test_seam::ConnectionState() == state; });
  }

  ReceivedActivity NextActivity() {
    std::optional<ReceivedActivity> activity = discord_->WaitForActivity(seconds(10));
    EXPECT_TRUE(activity.has_value()) << "no SET_ACTIVITY arrived";
    return activity.value_or(ReceivedActivity{});
  }

  // Descriptions of the next `count` frames received.
  std::vector<std::string> NextFrames(size_t count) {
    std::vector<std::string> frames;
    while (frames.size() < count) {
      std::optional<ReceivedFrame> frame = discord_->WaitForFrame(seconds(10));
      if (!frame) break;
      frames.push_back(frame->opcode == 0 ? "handshake" : Describe(*frame));
    }
    return frames;
  }

  // Descriptions of the frames received until the next SET_ACTIVITY (included).
  std::vector<std::string> FramesThroughNextActivity() {
    std::vector<std::string> frames;
    while (std::optional<ReceivedFrame> frame = discord_->WaitForFrame(seconds(10))) {
      frames.push_back(frame->opcode == 0 ? "handshake" : Describe(*frame));
      if (frames.back() == "SET_ACTIVITY") break;
    }
    return frames;
  }

  test::PrivateIpcDirectory ipc_;
  std::unique_ptr<FakeDiscord> discord_;
};

TEST(ReconnectBackoffTest, DelayGrowsByARandomFactorUpToTheCap) {
  const struct {
    double u;
    std::vector<int64_t> delays;
  } cases[] = {
      {0.0, {500, 500, 500}},
      {0.9999999, {1499}},
      {0.5, {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000}},
      {0.75, {1250, 3125, 7812, 19530, 48825, 60000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.u);
    ReconnectBackoff backoff(1);
    std::vector<int64_t> delays;
    for (size_t i = 0; i < c.delays.size(); ++i) delays.push_back(backoff.Advance(c.u));
    EXPECT_EQ(delays, c.delays);
    EXPECT_EQ(backoff.attempts(), static_cast<int32_t>(c.delays.size()));
    backoff.Reset();
    EXPECT_EQ(backoff.current(), 500);
    EXPECT_EQ(backoff.attempts(), 0);
  }

  ReconnectBackoff backoff(42);
  for (int i = 0; i < 10000; ++i) {
    const double u = backoff.Draw();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
  }
}

TEST_F(RpcClientTest, WithoutDiscordAttemptsWaitForTheBackoffAndReportNothing) {
  clock_runs = false;
  draws = {0.0, 0.5, 0.9999999};
  SetHooks(5);
  RpcEventHandlers handlers = Events::All();
  RpcClient::Start(kApplicationId, &handlers, false, nullptr);

  std::vector<int64_t> delays;
  for (int32_t attempt = 1; attempt <= 12; ++attempt) {
    test_seam::BackoffView view{};
    ASSERT_TRUE(WaitForAttempt(attempt, view)) << "attempt " << attempt;
    EXPECT_EQ(view.next_attempt, clock_now + view.current_ms * kTicksPerMs);
    delays.push_back(view.current_ms);

    clock_now = view.next_attempt - 1;
    std::this_thread::sleep_for(milliseconds(20));  // a few passes
    EXPECT_EQ(test_seam::ReadBackoff().attempts, attempt) << "attempted before the delay ran out";
    clock_now = view.next_attempt;
  }
  EXPECT_THAT(std::vector<int64_t>(delays.begin(), delays.begin() + 4),
              ElementsAre(500, 1000, 2999, 8996));
  EXPECT_EQ(delays.back(), 60000);
  EXPECT_TRUE(std::all_of(delays.begin(), delays.end(), [](int64_t d) { return d <= 60000; }));

  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, IsEmpty());
}

TEST_F(RpcClientTest, EveryFrameAndPresenceIsHandledWithoutWaitingForAPass) {
  // The thread may wait an hour between passes: only the channel and wake-ups make it move.
  SetHooks(3600 * 1000);
  StartDiscord();
  static const DiscordPresence first = WithState("first");
  static const DiscordPresence second = WithState("second");
  // Write 1 is the handshake, write 2 the first presence; while that write is under
  // way, the second presence comes in.
  test::ScopedWriteFaults faults(0, [](int call) {
    if (call == 2) RpcClient::SetPresence(second);
  });
  RpcClient::Start(kApplicationId, nullptr, false, nullptr);
  ASSERT_TRUE(discord_->WaitForReady(1, seconds(10)));
  EXPECT_TRUE(WaitForState(RpcConnection::State::Ready)) << "READY is read as it arrives";

  RpcClient::SetPresence(first);
  EXPECT_EQ(NextActivity().state, "first");
  EXPECT_EQ(NextActivity().state, "second");
}

TEST_F(RpcClientTest, OnlyTheLatestPendingPresenceIsSent) {
  StartDiscord();
  RpcClient::SetPresence(WithState("old"));     // nonce 1
  RpcClient::SetPresence(WithState("latest"));  // nonce 2
  Connect();
  ReceivedActivity activity = NextActivity();
  EXPECT_EQ(activity.state, "latest");
  EXPECT_EQ(activity.nonce, "2");

  RpcClient::Stop();
  RpcClient::SetPresence(WithState("set"));
  RpcClient::ResetPresence();
  Connect();
  activity = NextActivity();
  EXPECT_TRUE(activity.cleared);
  EXPECT_EQ(activity.connection, 2);

  RpcClient::SetPresence(WithState("next"));
  EXPECT_EQ(NextActivity().state, "next") << "nothing else was sent in between";
}

TEST_F(RpcClientTest, PresenceIsSentAgainWhenDiscordComesBack) {
  StartDiscord();
  Connect();
  RpcClient::SetPresence(WithState("In game"));
  const ReceivedActivity before = NextActivity();
  ASSERT_EQ(before.connection, 1);

  ASSERT_TRUE(discord_->DropConnection());
  const ReceivedActivity after = NextActivity();
  EXPECT_EQ(after.connection, 2);
  EXPECT_EQ(after.payload, before.payload);
}

TEST_F(RpcClientTest, ANewerPresenceIsSentInsteadOfTheOldOne) {
  StartDiscord();
  Connect();
  RpcClient::SetPresence(WithState("In game"));
  NextActivity();

  clock_runs = false;  // hold the reconnection
  ASSERT_TRUE(discord_->DropConnection());
  ASSERT_TRUE(test::WaitUntil([] { return test_seam::ReadMailboxes().disconnected; }));
  RpcClient::ResetPresence();
  clock_runs = true;

  const ReceivedActivity activity = NextActivity();
  EXPECT_EQ(activity.connection, 2);
  EXPECT_TRUE(activity.cleared);
  RpcClient::SetPresence(WithState("next"));
  EXPECT_EQ(NextActivity().state, "next");
}

TEST_F(RpcClientTest, PresenceWhoseWriteFailedIsSentAfterReconnecting) {
  StartDiscord();
  RpcEventHandlers handlers = Events::All();
  handlers.on_join_game = nullptr;  // no subscriptions: the presence is the next write
  handlers.on_spectate_game = nullptr;
  handlers.on_join_request = nullptr;
  Connect(handlers);
  test::ScopedWriteFaults faults(1);
  RpcClient::SetPresence(WithState("In game"));

  const ReceivedActivity activity = NextActivity();
  EXPECT_EQ(activity.connection, 2);
  EXPECT_EQ(activity.state, "In game");
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, ElementsAre("disconnected 0 ", "ready"));
}

TEST_F(RpcClientTest, ReadySubscribesToTheEventsThatHaveHandlers) {
  StartDiscord();
  Connect(Events::All());
  EXPECT_THAT(NextFrames(4),
              ElementsAre("handshake", "SUBSCRIBE ACTIVITY_JOIN", "SUBSCRIBE ACTIVITY_SPECTATE",
                          "SUBSCRIBE ACTIVITY_JOIN_REQUEST"));
}

TEST_F(RpcClientTest, ReadyWithoutEventHandlersSubscribesToNothing) {
  StartDiscord();
  RpcEventHandlers handlers{};
  handlers.on_ready = &Events::Ready;
  Connect(handlers);
  RpcClient::SetPresence(WithState("x"));
  EXPECT_THAT(FramesThroughNextActivity(), ElementsAre("handshake", "SET_ACTIVITY"));
  RpcClient::SetPresence(WithState("y"));
  EXPECT_THAT(FramesThroughNextActivity(), ElementsAre("SET_ACTIVITY"));
}

TEST_F(RpcClientTest, CommandQueueHoldsEightCommands) {
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(test_seam::Subscribe("ACTIVITY_JOIN")) << i;
  EXPECT_FALSE(test_seam::Subscribe("ACTIVITY_SPECTATE")) << "a ninth command is dropped";
  StartDiscord();
  Connect();
  std::vector<std::string> expected(9, "SUBSCRIBE ACTIVITY_JOIN");
  expected[0] = "handshake";
  EXPECT_EQ(NextFrames(9), expected);
}

TEST_F(RpcClientTest, DisconnectionBeforeTheNewConnectionComesBeforeReady) {
  StartDiscord();
  ConnectSubscribed();
  RpcClient::DispatchCallbacks();
  ASSERT_THAT(Events::log, ElementsAre("ready"));
  EXPECT_EQ(test_seam::ReadBackoff().current_ms, 500);
  EXPECT_EQ(test_seam::ReadBackoff().attempts, 0);

  draws = {0.5};
  draw_index = 0;
  ASSERT_TRUE(discord_->DropConnection());
  ASSERT_TRUE(test::WaitUntil([] {
    const test_seam::MailboxView m = test_seam::ReadMailboxes();
    return m.disconnected && m.connected;
  }));
  ASSERT_TRUE(WaitForState(RpcConnection::State::Ready));
  Events::log.clear();
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, ElementsAre("disconnected 1 Pipe closed", "ready"));
}

TEST_F(RpcClientTest, DisconnectionThatLastsComesAfterEverythingElse) {
  StartDiscord();
  ConnectSubscribed();
  clock_runs = false;  // no reconnection
  draws = {0.5};
  draw_index = 0;
  for (
      const char* event : {
          R"({"cmd":"SET_ACTIVITY","data":{"code":4000,"message":"bad"},"evt":"ERROR","nonce":"5"})",
          R"({"cmd":"DISPATCH","data":{"secret":"join-secret"},"evt":"ACTIVITY_JOIN"})",
          R"({"cmd":"DISPATCH","data":{"secret":"watch-secret"},"evt":"ACTIVITY_SPECTATE"})",
          R"({"cmd":"DISPATCH","data":{"user":{"id":"7","username":"ana"}},"evt":"ACTIVITY_JOIN_REQUEST"})",
      }) {
    ASSERT_TRUE(discord_->SendFrame(1, event));
  }
  ASSERT_TRUE(test::WaitUntil([] { return test_seam::ReadMailboxes().join_requests == 1; }));
  ASSERT_TRUE(discord_->DropConnection());
  ASSERT_TRUE(test::WaitUntil([] {
    const test_seam::BackoffView view = test_seam::ReadBackoff();
    return view.attempts == 1 && view.current_ms == 1000;
  })) << "the disconnection advances the backoff to 1000 ms";

  Events::log.clear();
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log,
              ElementsAre("ready", "error 4000 bad", "join join-secret", "spectate watch-secret",
                          "request 7/ana//", "disconnected 1 Pipe closed"));
  Events::log.clear();
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, IsEmpty()) << "each mailbox is delivered once";
}

TEST_F(RpcClientTest, RepliesAndEventsTheClientReads) {
  StartDiscord();
  Connect(Events::All());
  RpcClient::DispatchCallbacks();
  Events::log.clear();
  const std::string long_text(300, 'x');
  for (const std::string& event : {
           // Only an ERROR reply counts; code and message default to 0 and empty.
           std::string(R"({"cmd":"SET_ACTIVITY","data":{"code":1},"evt":null,"nonce":"1"})"),
           std::string(R"({"cmd":"SET_ACTIVITY","data":{},"evt":"ERROR","nonce":"2"})"),
           // An event without nonce; ERROR without nonce is no reply and is ignored.
           std::string(R"({"cmd":"DISPATCH","data":{"code":5},"evt":"ERROR"})"),
           std::string(R"({"cmd":"DISPATCH","data":{},"evt":"ACTIVITY_JOIN"})"),
           std::string(R"({"cmd":"DISPATCH","evt":"UNKNOWN_EVENT"})"),
           // The latest secret wins; texts are cut to 255 bytes.
           std::string(R"({"cmd":"DISPATCH","data":{"secret":"old"},"evt":"ACTIVITY_SPECTATE"})"),
           R"({"cmd":"DISPATCH","data":{"secret":")" + long_text +
               R"("},"evt":"ACTIVITY_SPECTATE"})",
       }) {
    ASSERT_TRUE(discord_->SendFrame(1, event));
  }
  ASSERT_TRUE(discord_->SendFrame(1, R"({"evt":"ACTIVITY_JOIN","data":{"secret":"marker"}})"));
  ASSERT_TRUE(test::WaitUntil([] { return test_seam::ReadMailboxes().join; }));
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log,
              ElementsAre("error 0 ", "join marker", "spectate " + std::string(255, 'x')));
}

TEST_F(RpcClientTest, JoinRequestsWaitInEightSlots) {
  StartDiscord();
  Connect(Events::All());
  RpcClient::DispatchCallbacks();
  Events::log.clear();
  auto request = [](const std::string& user) {
    return R"({"cmd":"DISPATCH","data":{"user":)" + user + R"(},"evt":"ACTIVITY_JOIN_REQUEST"})";
  };
  ASSERT_TRUE(discord_->SendFrame(1, request(R"({"id":"0","avatar":"a"})")));  // no username
  ASSERT_TRUE(discord_->SendFrame(
      1, request(R"({"id":")" + std::string(40, '9') +
                 R"(","username":"first","discriminator":"123456789","avatar":"av"})")));
  for (int i = 2; i <= 9; ++i) {
    ASSERT_TRUE(
        discord_->SendFrame(1, request(R"({"id":")" + std::to_string(i) + R"(","username":"u)" +
                                       std::to_string(i) + R"("})")));
  }
  ASSERT_TRUE(discord_->SendFrame(1, R"({"evt":"ACTIVITY_JOIN","data":{"secret":"marker"}})"));
  ASSERT_TRUE(test::WaitUntil([] { return test_seam::ReadMailboxes().join; }));
  EXPECT_EQ(test_seam::ReadMailboxes().join_requests, 8);

  RpcClient::DispatchCallbacks();
  std::vector<std::string> expected = {"join marker",
                                       "request " + std::string(31, '9') + "/first/1234567/av"};
  for (int i = 2; i <= 8; ++i) {
    expected.push_back("request " + std::to_string(i) + "/u" + std::to_string(i) + "//");
  }
  EXPECT_EQ(Events::log, expected);

  // The slots are free again.
  Events::log.clear();
  ASSERT_TRUE(discord_->SendFrame(1, request(R"({"id":"10","username":"u10"})")));
  ASSERT_TRUE(test::WaitUntil([] { return test_seam::ReadMailboxes().join_requests == 1; }));
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, ElementsAre("request 10/u10//"));
}

TEST_F(RpcClientTest, SecondStartOnlyReplacesTheHandlers) {
  StartDiscord();
  Connect();
  RpcEventHandlers handlers = Events::All();
  RpcClient::Start(kApplicationId, &handlers, false, nullptr);
  RpcClient::SetPresence(WithState("x"));
  EXPECT_EQ(NextActivity().connection, 1);
  EXPECT_EQ(discord_->connection_count(), 1);
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, ElementsAre("ready")) << "the new handlers get what waits";
}

TEST_F(RpcClientTest, StopEndsTheConnectionAndKeepsThePendingPresence) {
  StartDiscord();
  RpcEventHandlers handlers = Events::All();
  Connect(handlers);
  RpcClient::Stop();
  EXPECT_EQ(test_seam::ConnectionState(), RpcConnection::State::Closed);
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, IsEmpty()) << "handlers are gone with Stop";

  RpcClient::SetPresence(WithState("after stop"));
  Connect(handlers);
  const ReceivedActivity activity = NextActivity();
  EXPECT_EQ(activity.connection, 2);
  EXPECT_EQ(activity.state, "after stop");
}

TEST_F(RpcClientTest, BudgetHoldsTheLatestPresenceAndConvergenceSendsItOnceMore) {
  clock_runs = false;
  StartDiscord();
  Connect();
  const int64_t t0 = clock_now;
  auto at = [&](int64_t ms) { clock_now = t0 + ms * kTicksPerMs; };
  // The client records a send after writing it: the clock moves only once it has.
  int sends = 0;
  auto Next = [&] {
    ReceivedActivity activity = NextActivity();
    ++sends;
    EXPECT_TRUE(test::WaitUntil([&] { return test_seam::PresenceSends() >= sends; }));
    return activity;
  };
  auto nothing_for_a_while = [&] { return !discord_->WaitForActivity(milliseconds(100)); };
  // `sent` goes once more exactly `ms` after t0, not a tick before.
  auto expect_resend_at = [&](int64_t ms, const ReceivedActivity& sent) {
    clock_now = t0 + ms * kTicksPerMs - 1;
    EXPECT_TRUE(nothing_for_a_while()) << "sent again before " << ms << " ms";
    at(ms);
    EXPECT_EQ(Next().payload, sent.payload) << "not sent again at " << ms << " ms";
  };

  // Five in a burst go at once; a reset counts as a presence.
  RpcClient::ResetPresence();
  EXPECT_TRUE(Next().cleared);
  for (const char* state : {"one", "two", "three", "four"}) {
    RpcClient::SetPresence(WithState(state));
    EXPECT_EQ(Next().state, state);
  }
  // The budget is spent: the next one waits, and a newer one replaces it.
  RpcClient::SetPresence(WithState("five"));
  RpcClient::SetPresence(WithState("six"));
  EXPECT_TRUE(nothing_for_a_while());
  at(15000);  // no convergence re-send of "four" while a newer presence waits
  EXPECT_TRUE(nothing_for_a_while());
  at(20499);  // the window, and a margin for the time the first took to arrive
  EXPECT_TRUE(nothing_for_a_while());
  at(20500);
  const ReceivedActivity latest = Next();
  EXPECT_EQ(latest.state, "six");

  // It went at the edge of the window: once more 15 s later, and only once.
  expect_resend_at(35500, latest);
  at(100000);
  EXPECT_TRUE(nothing_for_a_while());

  // After a quiet spell the next goes at once; one close behind it is sent once more.
  RpcClient::SetPresence(WithState("seven"));
  EXPECT_EQ(Next().state, "seven");
  at(101000);
  RpcClient::SetPresence(WithState("eight"));
  const ReceivedActivity eight = Next();
  EXPECT_EQ(eight.state, "eight");
  expect_resend_at(116000, eight);
  EXPECT_EQ(discord_->connection_count(), 1);
}

TEST_F(RpcClientTest, RateLimitComesFromTheCallerOrTheEnvironment) {
  const PresenceRateLimit discord;
  const struct {
    const char* rate;
    const char* resend;
    PresenceRateLimit expected;
  } cases[] = {
      {nullptr, nullptr, discord},
      {"2/1.5", "0.5", {2, 1500, 500}},
      {"64/0.001", nullptr, {64, 1, 15000}},
      {nullptr, "0", {5, 20000, 0}},
      {"65/1", "x", discord},
      {"0/1", "-1", discord},
      {"5 per 20 s", "1e3", discord},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rate ? c.rate : "-") + " " + (c.resend ? c.resend : "-"));
    test_seam::ResetClient();
    mau::test::ScopedEnv rate("MAU_DISCORD_RATE_LIMIT",
                              c.rate ? std::optional<std::string>(c.rate) : std::nullopt);
    mau::test::ScopedEnv resend("MAU_DISCORD_RESEND_AFTER",
                                c.resend ? std::optional<std::string>(c.resend) : std::nullopt);
    RpcClient::Start(kApplicationId, nullptr, false, nullptr);
    RpcClient::Stop();
    const PresenceRateLimit limit = RpcClient::presence_rate_limit();
    EXPECT_EQ(limit.sends, c.expected.sends);
    EXPECT_EQ(limit.window_ms, c.expected.window_ms);
    EXPECT_EQ(limit.resend_after_ms, c.expected.resend_after_ms);
  }

  // The caller's limit wins over the environment; one out of range changes nothing.
  test_seam::ResetClient();
  EXPECT_TRUE(RpcClient::SetPresenceRateLimit({3, 1000, 0}));
  EXPECT_FALSE(RpcClient::SetPresenceRateLimit({0, 1000, 0}));
  mau::test::ScopedEnv rate("MAU_DISCORD_RATE_LIMIT", "2/2");
  RpcClient::Start(kApplicationId, nullptr, false, nullptr);
  RpcClient::Stop();
  EXPECT_EQ(RpcClient::presence_rate_limit().sends, 3);
  EXPECT_EQ(RpcClient::presence_rate_limit().window_ms, 1000);
}

TEST_F(RpcClientTest, FramesInPiecesAreAssembled) {
  FakeDiscordOptions options;
  options.split_frames = true;
  options.ping_every = 2;
  StartDiscord(options);
  ConnectSubscribed();
  for (const char* state : {"one", "two", "three"}) {
    RpcClient::SetPresence(WithState(state));
    EXPECT_EQ(NextActivity().state, state);
  }
  ASSERT_TRUE(discord_->SendFrame(1, R"({"evt":"ACTIVITY_JOIN","data":{"secret":"marker"}})"));
  ASSERT_TRUE(test::WaitUntil([] { return test_seam::ReadMailboxes().join; }));
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, ElementsAre("ready", "join marker")) << "no disconnection";
  EXPECT_EQ(discord_->connection_count(), 1);
}

// On name 0, a listener that takes one handshake, sends only the first five bytes of a
// frame and then nothing, holding the connection open.
class FiveBytesThenSilence {
 public:
  explicit FiveBytesThenSilence(const std::string& directory) {
    std::string error;
    EXPECT_TRUE(server_.Listen(directory, 0, &error)) << error;
    thread_ = std::thread([this] {
      while (!done_ && !server_.Accept(milliseconds(20))) {
      }
      unsigned char header[8];
      std::string payload;
      if (done_ || server_.Read(header, 8, seconds(5)) != fake_discord::IoResult::Ok) return;
      payload.resize(header[4] | header[5] << 8);
      if (server_.Read(payload.data(), payload.size(), seconds(5)) != fake_discord::IoResult::Ok)
        return;
      const std::string ready = test::Frame(OP_FRAME, R"({"cmd":"DISPATCH","evt":"READY"})");
      if (server_.Write(ready.data(), 5)) handshaken_ = true;
      while (!done_) std::this_thread::sleep_for(milliseconds(10));
    });
  }
  ~FiveBytesThenSilence() {
    done_ = true;
    thread_.join();
  }
  bool handshaken() const { return handshaken_; }

 private:
  fake_discord::IpcServer server_;
  std::atomic<bool> done_{false};
  std::atomic<bool> handshaken_{false};
  std::thread thread_;
};

TEST_F(RpcClientTest, ASilentDiscordDoesNotHideAWorkingOne) {
  for (const bool five_bytes : {false, true}) {
    SCOPED_TRACE(five_bytes ? "five bytes of a header, then silence" : "no answer at all");
    SetUp();
    // Name 0 takes the handshake and never completes READY; name 1 works.
    FakeDiscordOptions silent_options;
    silent_options.directory = ipc_.path();
    silent_options.silent = true;
    std::unique_ptr<FakeDiscord> silent;
    std::unique_ptr<FiveBytesThenSilence> partial;
    if (five_bytes) {
      partial = std::make_unique<FiveBytesThenSilence>(ipc_.path());
    } else {
      silent = std::make_unique<FakeDiscord>(silent_options);
      std::string error;
      ASSERT_TRUE(silent->Start(&error)) << error;
    }
    FakeDiscordOptions options;
    options.pipe_index = 1;
    StartDiscord(options);

    RpcEventHandlers handlers = Events::All();
    RpcClient::Start(kApplicationId, &handlers, false, nullptr);
    ASSERT_TRUE(test::WaitUntil([&] {
      return five_bytes ? partial->handshaken() : silent->WaitForFrame(milliseconds(0)).has_value();
    })) << "the handshake reached name 0";
    // The clock moves only once the client has timed its handshake and taken in what came.
    ASSERT_TRUE(WaitForState(RpcConnection::State::HandshakeSent));
    if (five_bytes) {
      ASSERT_TRUE(test::WaitUntil([] { return test_seam::PartialFrameBytes() == 5; }));
    }

    timeout_clock += RpcConnection::kReadyTimeoutMs * kTicksPerMs;
    ASSERT_TRUE(WaitForState(RpcConnection::State::Ready));
    RpcClient::SetPresence(WithState("found"));
    EXPECT_EQ(NextActivity().state, "found");
    RpcClient::DispatchCallbacks();
    EXPECT_THAT(Events::log, ElementsAre(five_bytes ? "disconnected 2 Partial data in frame"
                                                    : "disconnected 3 Handshake timed out",
                                         "ready"));

    // Lost and found again without another timeout: the working name comes first now.
    ASSERT_TRUE(discord_->DropConnection());
    EXPECT_TRUE(discord_->WaitForReady(2, seconds(10)));
    TearDown();
    Events::log.clear();
  }
}

TEST_F(RpcClientTest, AStalledDiscordHoldsNeitherStopNorTheConnection) {
  FakeDiscordOptions options;
  options.stall_after = 1;  // answers the handshake, then reads nothing more
  options.faults_on_every_connection = true;
  StartDiscord(options);
  ASSERT_TRUE(RpcClient::SetPresenceRateLimit({5, 0, 0}));  // no budget: fill the channel
  RpcEventHandlers handlers{};
  handlers.on_disconnected = &Events::Disconnected;
  // Presences until the channel takes no more and output stays in the client: how many
  // that takes depends on the platform's socket or pipe buffer.
  auto stuck = [] {
    if (test_seam::OutputPending() == 0) return false;
    std::this_thread::sleep_for(milliseconds(100));
    return test_seam::OutputPending() != 0;
  };
  auto fill = [&] {
    for (int n = 0; n < 20000; ++n) {
      RpcClient::SetPresence(WithState(("presence " + std::to_string(n)).c_str()));
      std::this_thread::sleep_for(milliseconds(1));
      if (n % 50 == 49 && stuck()) return;
    }
    FAIL() << "the channel never filled";
  };

  Connect(handlers);
  fill();
  const auto begin = std::chrono::steady_clock::now();
  RpcClient::Stop();
  const auto stop_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
  RecordProperty("stop_ms_with_stalled_peer", std::to_string(stop_ms));
  EXPECT_LT(stop_ms, 1000.0) << "Stop waited for the stalled peer";
  ASSERT_TRUE(discord_->DropConnection());  // it would not notice, reading nothing

  // Output that the peer does not take for the write timeout ends the connection.
  Connect(handlers);
  fill();
  EXPECT_EQ(test_seam::ConnectionState(), RpcConnection::State::Ready);
  timeout_clock += RpcConnection::kWriteTimeoutMs * kTicksPerMs;
  ASSERT_TRUE(test::WaitUntil([] { return test_seam::ReadMailboxes().disconnected; }));
  RpcClient::DispatchCallbacks();
  EXPECT_THAT(Events::log, ElementsAre("disconnected 3 Write timed out"));
}

TEST_F(RpcClientTest, AttemptsComeQuicklyForTenSecondsAfterALostConnection) {
  clock_runs = false;
  draws = {0.9999999};  // the back-off grows as fast as it can
  StartDiscord();
  Connect();
  const int64_t lost_at = clock_now;
  discord_->Stop();
  ASSERT_TRUE(WaitForState(RpcConnection::State::Closed));

  std::vector<int64_t> delays;
  for (int32_t attempt = 1; attempt <= 12; ++attempt) {
    test_seam::BackoffView view{};
    ASSERT_TRUE(WaitForAttempt(attempt, view)) << "attempt " << attempt;
    delays.push_back((view.next_attempt - clock_now) / kTicksPerMs);
    clock_now = view.next_attempt;
  }
  // Every second while Discord has been away for less than ten seconds, then the
  // back-off's own delay, which has grown meanwhile.
  EXPECT_EQ(clock_now - lost_at, (10 * 1000 + 60000 + 60000) * kTicksPerMs);
  EXPECT_THAT(delays, ElementsAre(1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 60000,
                                  60000));
}

}  // namespace
}  // namespace mau::discord
