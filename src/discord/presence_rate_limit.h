// Discord's rate limit on presence updates, kept on the client's side. Discord takes at
// most a few activity updates in a time window from a client and silently drops the rest,
// so the client
//   - holds a presence back while its send budget is spent (at most `sends` presence
//     commands in any `window_ms`), the newest replacing any that waits, and sends the
//     first one after a quiet spell at once;
//   - sends the latest presence once more `resend_after_ms` after it went out when it
//     followed the one before it by less than that, or when the budget had held it back
//     (it then went out at the very edge of the window), unless another presence goes out
//     meanwhile. Should Discord have dropped one, the card still ends on the latest state.
//
//   PresenceRateLimiter limiter;
//   if (limiter.NextSendAt(limit, now) <= now && Send(latest)) limiter.RecordSend(limit, now,
//   held); if (limiter.resend_pending() && now >= limiter.resend_at() && Send(latest))
//     limiter.RecordResend(now);
//
// A send is counted from when it went out, Discord counts from when it arrived, which is
// a little later and not always by the same amount: so a held presence waits for the
// window and a margin (a quarter of the window, at most 500 ms) before it goes, or
// Discord could still count the send that leaves the window and drop it.
//
// Times are monotonic 100-nanosecond ticks. Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <string_view>

namespace mau::discord {

inline constexpr int32_t kMaxSendsPerWindow = 64;
inline constexpr int32_t kMaxRateLimitMs = 3600 * 1000;
inline constexpr int32_t kArrivalMarginMs = 500;

struct PresenceRateLimit {
  // Presence commands per window, 1 to kMaxSendsPerWindow.
  int32_t sends = 5;
  // The window, 0 to kMaxRateLimitMs; 0 sends every presence at once.
  int32_t window_ms = 20000;
  // The convergence re-send, 0 to kMaxRateLimitMs after the last send; 0 sends none.
  int32_t resend_after_ms = 15000;
};

// Whether every member is within its range.
[[nodiscard]] bool IsValid(const PresenceRateLimit& limit);

// Reads a budget written "N/SECONDS", as in "5/20" or "3/1.5": N a whole number, SECONDS
// with up to three decimals. False for anything else; ranges are the caller's to check.
[[nodiscard]] bool ParseRateText(std::string_view text, int64_t& count, int64_t& window_ms);

// Reads "SECONDS" with up to three decimals, as in "15" or "0.25", into milliseconds.
[[nodiscard]] bool ParseSecondsText(std::string_view text, int64_t& milliseconds);

class PresenceRateLimiter {
 public:
  // Forgets every send, as for a new connection: Discord counts per connection.
  void Reset();

  // When the next presence may go out under `limit`: at or before `now` when it may go
  // now, else the moment the oldest send that counts has left the window, and the
  // arrival margin after it.
  [[nodiscard]] int64_t NextSendAt(const PresenceRateLimit& limit, int64_t now) const;

  // A new presence went out at `now`; `held` when the budget had kept it waiting.
  void RecordSend(const PresenceRateLimit& limit, int64_t now, bool held);

  // The latest presence went out once more: it counts against the budget, and no further
  // re-send follows.
  void RecordResend(int64_t now);

  bool resend_pending() const { return resend_pending_; }
  // When the latest presence is due to go out once more; meaningful while resend_pending.
  int64_t resend_at() const { return resend_at_; }

 private:
  void Record(int64_t now);

  int64_t sends_[kMaxSendsPerWindow] = {};  // the latest sends, a ring
  int32_t recorded_ = 0;                    // how many entries of sends_ hold a send
  int32_t next_ = 0;                        // where the next send goes
  bool any_send_ = false;
  int64_t last_send_ = 0;
  bool resend_pending_ = false;
  int64_t resend_at_ = 0;
};

}  // namespace mau::discord
