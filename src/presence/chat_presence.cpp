#include "presence/chat_presence.h"

#include <limits>

namespace mau {

namespace {

constexpr std::string_view kHostingPrefix = "hosting_";

// The member's text when it is a string, else the empty text.
std::string_view TextMember(const BindingValue& record, std::string_view name) noexcept {
  const BindingValue& member = record.Member(name);
  return member.kind() == BindingValueKind::String ? member.AsString() : std::string_view();
}

}  // namespace

QueueKind QueueKindFromText(std::string_view text) noexcept {
  if (text.starts_with("RANKED")) return QueueKind::Ranked;
  if (text.starts_with("ARAM")) return QueueKind::Aram;
  if (text == "CUSTOM" || text == "NONE") return QueueKind::Custom;
  if (text.starts_with("NORMAL")) return QueueKind::Normal;
  if (text.starts_with("BOT")) return QueueKind::Bot;
  return QueueKind::None;
}

std::string_view QueueKeyWord(QueueKind queue) noexcept {
  switch (queue) {
    case QueueKind::Ranked:
      return "RANKED";
    case QueueKind::Bot:
      return "BOT";
    case QueueKind::Aram:
      return "ARAM";
    case QueueKind::Normal:
      return "NORMAL";
    case QueueKind::Custom:
      return "CUSTOM";
    case QueueKind::None:
      break;
  }
  return {};
}

int32_t LeadingInt32(std::string_view text) noexcept {
  size_t i = 0;
  auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<int32_t>(-value);
  return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

uint64_t StartTimeFromStamp(const BindingValue& stamp) noexcept {
  if (stamp.kind() == BindingValueKind::String) {
    // strtoull negates a "-" text into a huge value (or, for the largest ones, a small one).
    const std::string_view text = stamp.AsString();
    const size_t first = text.find_first_not_of(" \t\n\v\f\r");
    if (first != std::string_view::npos && text[first] == '-') return 0;
  }
  // Negative numbers read as values of 2^63 and more, saturated texts as 2^64 - 1: both
  // lie far beyond the year 9999.
  const uint64_t seconds = stamp.ReadUInt64Lenient() / 1000;
  return seconds <= kLatestStartTime ? seconds : 0;
}

ChatPresenceState ParseChatPresence(const BindingValue& data) {
  ChatPresenceState state;
  if (!data.HasMember("mau")) return state;
  const BindingValue& mau = data.Member("mau");
  if (mau.HasMember("gameStatus")) {
    std::string_view status = TextMember(mau, "gameStatus");
    // Every "hosting_..." status is shown as one: "hosting".
    if (status.starts_with(kHostingPrefix)) status = status.substr(0, kHostingPrefix.size() - 1);
    state.game_status.assign(status);
  }
  if (mau.HasMember("gameQueueType")) {
    state.queue = QueueKindFromText(TextMember(mau, "gameQueueType"));
  }
  if (mau.HasMember("gameId")) state.game_id.assign(TextMember(mau, "gameId"));
  if (mau.HasMember("championId")) {
    const std::string_view text = TextMember(mau, "championId");
    if (!text.empty()) state.champion_id = LeadingInt32(text);
  }
  if (mau.HasMember("mapId")) state.map_id = LeadingInt32(TextMember(mau, "mapId"));
  if (mau.HasMember("timeStamp")) {
    state.start_time = StartTimeFromStamp(mau.Member("timeStamp"));
  }
  return state;
}

bool SameComparedFields(const ChatPresenceState& a, const ChatPresenceState& b) noexcept {
  return a.game_status == b.game_status && a.queue == b.queue && a.game_id == b.game_id &&
         a.champion_id == b.champion_id && a.map_id == b.map_id && a.start_time == b.start_time;
}

}  // namespace mau
