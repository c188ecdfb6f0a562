// The local player's chat presence as the plug-in keeps it, and how one published value of
// /mau-chat/v1/me is read into it.
//
//   mau::ChatPresenceState next = mau::ParseChatPresence(event.data);
//   if (!mau::SameComparedFields(next, current)) current = std::move(next);
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_value.h"

namespace mau {

// Category of the queue the player is in. The numbers matter only inside the plug-in.
enum class QueueKind : int32_t { Ranked = 0, Bot = 1, Aram = 2, Normal = 3, Custom = 4, None = 5 };

struct ChatPresenceState {
  std::string game_status = "outOfGame";
  QueueKind queue = QueueKind::None;
  std::string game_id;  // as the host sends it, never interpreted
  int32_t champion_id = 0;
  int32_t map_id = 0;
  uint64_t start_time = 0;  // whole seconds since the Unix epoch; 0 = none
};

// The last second of the year 9999 (UTC): a later start time is no time at all.
inline constexpr uint64_t kLatestStartTime = 253402300799;

// The queue kind of a "gameQueueType" text: the first of RANKED*, ARAM*, CUSTOM, NONE
// (a custom game), NORMAL*, BOT* that matches; anything else is None.
QueueKind QueueKindFromText(std::string_view text) noexcept;

// The word of a queue kind in "Disc_Pres_QueueType_" keys; empty for None.
std::string_view QueueKeyWord(QueueKind queue) noexcept;

// The decimal value of text's leading digits as atoi reads them (spaces, a sign, digits);
// 0 when there are none. Values beyond the 32-bit range are clamped instead of wrapping.
int32_t LeadingInt32(std::string_view text) noexcept;

// The start time of a "timeStamp" value counting milliseconds (a number, or a text read
// as strtoull reads it), in whole seconds; 0 for a negative stamp, one that does not fit
// 64 bits or one beyond the year 9999, so that no wrapped or saturated value is shown.
uint64_t StartTimeFromStamp(const BindingValue& stamp) noexcept;

// Reads a chat presence value: its member "mau" holds text members gameStatus,
// gameQueueType, gameId, championId, mapId and timeStamp (milliseconds). Members that are
// missing or not strings read as empty text; a value without "mau" is the initial state.
ChatPresenceState ParseChatPresence(const BindingValue& data);

// Whether two states agree on every field that is shown: status, queue, game id, champion,
// map and start time. A champion swapped in champion select is a change like any other.
bool SameComparedFields(const ChatPresenceState& a, const ChatPresenceState& b) noexcept;

}  // namespace mau
