#include "discord/presence_rate_limit.h"

#include <algorithm>

#include "discord/rpc_connection.h"

namespace mau::discord {

namespace {

// Reads whole digits, at most nine of them (no overflow); false when there are none.
bool ParseDigits(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool IsValid(const PresenceRateLimit& limit) {
  return limit.sends >= 1 && limit.sends <= kMaxSendsPerWindow && limit.window_ms >= 0 &&
         limit.window_ms <= kMaxRateLimitMs && limit.resend_after_ms >= 0 &&
         limit.resend_after_ms <= kMaxRateLimitMs;
}

bool ParseSecondsText(std::string_view text, int64_t& milliseconds) {
  const size_t point = text.find('.');
  int64_t whole = 0;
  if (!ParseDigits(text.substr(0, point), whole)) return false;
  int64_t fraction = 0;
  if (point != std::string_view::npos) {
    const std::string_view decimals = text.substr(point + 1);
    if (decimals.size() > 3 || !ParseDigits(decimals, fraction)) return false;
    for (size_t n = decimals.size(); n < 3; ++n) fraction *= 10;
  }
  milliseconds = whole * 1000 + fraction;
  return true;
}

bool ParseRateText(std::string_view text, int64_t& count, int64_t& window_ms) {
  const size_t slash = text.find('/');
  return slash != std::string_view::npos && ParseDigits(text.substr(0, slash), count) &&
         ParseSecondsText(text.substr(slash + 1), window_ms);
}

void PresenceRateLimiter::Reset() { *this = PresenceRateLimiter(); }

int64_t PresenceRateLimiter::NextSendAt(const PresenceRateLimit& limit, int64_t now) const {
  if (limit.window_ms == 0 || recorded_ < limit.sends) return now;
  // The send `sends` places back must have left the window.
  const int32_t oldest = (next_ - limit.sends + kMaxSendsPerWindow) % kMaxSendsPerWindow;
  const int64_t margin_ms = std::min(kArrivalMarginMs, limit.window_ms / 4);
  return sends_[oldest] + (limit.window_ms + margin_ms) * kTicksPerMillisecond;
}

void PresenceRateLimiter::RecordSend(const PresenceRateLimit& limit, int64_t now, bool held) {
  const int64_t resend_after = limit.resend_after_ms * kTicksPerMillisecond;
  const bool close_behind = any_send_ && now - last_send_ < resend_after;
  Record(now);
  resend_pending_ = limit.resend_after_ms > 0 && (held || close_behind);
  resend_at_ = now + resend_after;
}

void PresenceRateLimiter::RecordResend(int64_t now) {
  Record(now);
  resend_pending_ = false;
}

void PresenceRateLimiter::Record(int64_t now) {
  sends_[next_] = now;
  next_ = (next_ + 1) % kMaxSendsPerWindow;
  if (recorded_ < kMaxSendsPerWindow) ++recorded_;
  any_send_ = true;
  last_send_ = now;
}

}  // namespace mau::discord
