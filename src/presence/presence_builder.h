// Turns the stored chat presence into the Discord presence shown for it: the localized
// state line, the details line (map and queue), the start time and the large image with
// its text. The presence points into the builder's buffers and stays valid until the next
// Build.
#pragma once

#include <cstddef>
#include <string>

#include "discord/rpc_messages.h"
#include "presence/chat_presence.h"
#include "presence/game_data.h"

namespace mau {

// The longest state, queue, map, details or champion name text sent, in bytes, so that
// no text passes Discord's limit of 128 characters.
inline constexpr size_t kPresenceTextLimit = 128;
// The longest image key Discord takes, in bytes; a longer one names no asset.
inline constexpr size_t kImageKeyLimit = 256;

class PresenceBuilder {
 public:
  PresenceBuilder();

  // The presence of state; champion is the summary of state.champion_id when one was
  // found. Missing localized texts leave their lines out; texts are cut to
  // kPresenceTextLimit bytes at a whole character, and a champion whose image key would
  // be longer than kImageKeyLimit shows the "logo" image.
  const discord::DiscordPresence& Build(const ChatPresenceState& state,
                                        const LocalizedStrings& strings,
                                        const GameDataChampionSummary* champion);

  // The text of the last state line, empty when there was none.
  const std::string& state_text() const noexcept { return state_; }

 private:
  discord::DiscordPresence presence_;
  std::string key_;
  std::string state_;
  std::string queue_;
  std::string map_;
  std::string details_;
  std::string image_;
  std::string large_text_;
};

}  // namespace mau
