#include "discord/presence_rate_limit.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mau::discord {
namespace {

constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kSecond = 1000 * kTicksPerMs;
constexpr int64_t kNow = -1;

TEST(PresenceRateLimitTest, BudgetCountsTheSendsOfTheLastWindow) {
  const PresenceRateLimit discord;  // 5 in 20 s
  const struct {
    const char* name;
    PresenceRateLimit limit;
    std::vector<int64_t> sends_ms;
    int64_t now_ms;
    int64_t next_ms;  // when the next presence may go; kNow: at once
  } cases[] = {
      {"nothing sent yet", discord, {}, 0, kNow},
      {"four sent: the fifth goes at once", discord, {0, 1000, 2000, 3000}, 3000, kNow},
      {"five in a burst: the sixth waits for the first to leave, and 500 ms more",
       discord,
       {0, 0, 0, 0, 100},
       100,
       20500},
      {"the window and the margin have passed the first",
       discord,
       {0, 1000, 2000, 3000, 4000},
       20500,
       kNow},
      {"then the second one counts", discord, {0, 1000, 2000, 3000, 4000, 20000}, 20000, 21500},
      {"a quiet spell: at once", discord, {0, 1000, 2000, 3000, 4000}, 60000, kNow},
      {"one in a second: a margin of a quarter second", {1, 1000, 0}, {5000}, 5200, 6250},
      {"no window: always at once", {1, 0, 0}, {0, 0, 0}, 0, kNow},
      {"the most sends a window may hold",
       {kMaxSendsPerWindow, 1000, 0},
       std::vector<int64_t>(kMaxSendsPerWindow, 7),
       7,
       1257},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PresenceRateLimiter limiter;
    for (const int64_t at : c.sends_ms) limiter.RecordSend(c.limit, at * kTicksPerMs, false);
    const int64_t next = limiter.NextSendAt(c.limit, c.now_ms * kTicksPerMs);
    if (c.next_ms == kNow) {
      EXPECT_LE(next, c.now_ms * kTicksPerMs);
    } else {
      EXPECT_EQ(next, c.next_ms * kTicksPerMs);
    }
  }

  // Forgetting the sends, as for a new connection, frees the budget.
  PresenceRateLimiter limiter;
  for (int n = 0; n < 5; ++n) limiter.RecordSend(discord, 0, false);
  limiter.Reset();
  EXPECT_EQ(limiter.NextSendAt(discord, kSecond), kSecond);
}

TEST(PresenceRateLimitTest, ConvergenceResendsOnceAfterACloseOrHeldSend) {
  const PresenceRateLimit discord;  // re-send 15 s after
  struct Send {
    int64_t at_ms;
    bool held;
  };
  const struct {
    const char* name;
    PresenceRateLimit limit;
    std::vector<Send> sends;
    bool pending;
    int64_t resend_ms;
  } cases[] = {
      {"one send alone", discord, {{0, false}}, false, 0},
      {"close behind the one before", discord, {{0, false}, {14999, false}}, true, 29999},
      {"15 s after the one before", discord, {{0, false}, {15000, false}}, false, 0},
      {"a newer send moves the re-send",
       discord,
       {{0, false}, {1000, false}, {2000, false}},
       true,
       17000},
      {"a newer send long after cancels it",
       discord,
       {{0, false}, {1000, false}, {40000, false}},
       false,
       0},
      {"held back by the budget", discord, {{0, false}, {20000, true}}, true, 35000},
      {"no re-send configured", {5, 20000, 0}, {{0, false}, {1, true}}, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PresenceRateLimiter limiter;
    for (const Send& send : c.sends)
      limiter.RecordSend(c.limit, send.at_ms * kTicksPerMs, send.held);
    EXPECT_EQ(limiter.resend_pending(), c.pending);
    if (c.pending) {
      EXPECT_EQ(limiter.resend_at(), c.resend_ms * kTicksPerMs);
    }
  }

  // The re-send ends it, even when it came close behind, and counts against the budget.
  PresenceRateLimiter limiter;
  const PresenceRateLimit two_in_a_minute{2, 60000, 15000};
  limiter.RecordSend(two_in_a_minute, 0, false);
  limiter.RecordSend(two_in_a_minute, kSecond, false);
  ASSERT_TRUE(limiter.resend_pending());
  limiter.RecordResend(16 * kSecond);
  EXPECT_FALSE(limiter.resend_pending());
  EXPECT_EQ(limiter.NextSendAt(two_in_a_minute, 16 * kSecond), 61 * kSecond + kSecond / 2);
}

TEST(PresenceRateLimitTest, LimitsAreCheckedForRange) {
  EXPECT_TRUE(IsValid(PresenceRateLimit()));
  EXPECT_TRUE(IsValid({kMaxSendsPerWindow, kMaxRateLimitMs, kMaxRateLimitMs}));
  EXPECT_TRUE(IsValid({1, 0, 0}));
  for (const PresenceRateLimit& limit : std::vector<PresenceRateLimit>{
           {0, 20000, 15000},
           {kMaxSendsPerWindow + 1, 20000, 15000},
           {5, -1, 15000},
           {5, kMaxRateLimitMs + 1, 15000},
           {5, 20000, -1},
           {5, 20000, kMaxRateLimitMs + 1},
       }) {
    EXPECT_FALSE(IsValid(limit)) << limit.sends << "/" << limit.window_ms << " "
                                 << limit.resend_after_ms;
  }
}

TEST(PresenceRateLimitTest, ReadsTheTextForms) {
  const struct {
    const char* text;
    bool ok;
    int64_t count;
    int64_t window_ms;
  } rates[] = {
      {"5/20", true, 5, 20000},
      {"3/1.5", true, 3, 1500},
      {"64/0.001", true, 64, 1},
      {"1/0.25", true, 1, 250},
      {"5/", false, 0, 0},
      {"/20", false, 0, 0},
      {"5", false, 0, 0},
      {"5/20s", false, 0, 0},
      {"-5/20", false, 0, 0},
      {"5/1.2345", false, 0, 0},
      {"5/.5", false, 0, 0},
      {"5/20/15", false, 0, 0},
      {"9999999999/1", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const auto& r : rates) {
    SCOPED_TRACE(r.text);
    int64_t count = 0;
    int64_t window_ms = 0;
    EXPECT_EQ(ParseRateText(r.text, count, window_ms), r.ok);
    if (r.ok) {
      EXPECT_EQ(count, r.count);
      EXPECT_EQ(window_ms, r.window_ms);
    }
  }
  int64_t ms = 0;
  EXPECT_TRUE(ParseSecondsText("15", ms));
  EXPECT_EQ(ms, 15000);
  EXPECT_TRUE(ParseSecondsText("0.1", ms));
  EXPECT_EQ(ms, 100);
  EXPECT_FALSE(ParseSecondsText("1e3", ms));
  EXPECT_FALSE(ParseSecondsText("1.", ms));
}

}  // namespace
}  // namespace mau::discord
