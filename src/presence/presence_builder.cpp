#include "presence/presence_builder.h"

#include <initializer_list>

namespace mau {

namespace {

constexpr size_t kWorkingBufferSize = 256;

const char* TextOrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

PresenceBuilder::PresenceBuilder() {
  for (std::string* text : {&key_, &state_, &queue_, &map_, &details_, &image_, &large_text_}) {
    text->reserve(kWorkingBufferSize);
  }
}

const discord::DiscordPresence& PresenceBuilder::Build(const ChatPresenceState& state,
                                                       const LocalizedStrings& strings,
                                                       const GameDataChampionSummary* champion) {
  presence_ = {};
  for (std::string* text : {&state_, &queue_, &map_, &details_, &image_, &large_text_}) {
    text->clear();
  }

  key_.assign("Disc_Pres_State_").append(state.game_status);
  LookupLocalized(strings, key_, kPresenceTextLimit, state_);

  if (state.queue != QueueKind::None) {
    key_.assign("Disc_Pres_QueueType_").append(QueueKeyWord(state.queue));
    LookupLocalized(strings, key_, kPresenceTextLimit, queue_);
  }
  if (state.map_id != 0) {
    key_.assign("Disc_Pres_Map_").append(std::to_string(state.map_id));
    LookupLocalized(strings, key_, kPresenceTextLimit, map_);
  }
  if (!map_.empty() && !queue_.empty()) {
    details_.assign(map_).append(" (").append(queue_).append(")");
  } else {
    details_.assign(map_.empty() ? queue_ : map_);
  }
  details_.resize(Utf8CutLength(details_, kPresenceTextLimit));

  if (champion != nullptr) {
    image_.assign("champ_").append(champion->alias);
    for (char& c : image_) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    // A cut key would name another asset or none: the logo shows instead.
    if (image_.size() > kImageKeyLimit) image_.clear();
    large_text_.assign(champion->name, 0, Utf8CutLength(champion->name, kPresenceTextLimit));
  }
  if (image_.empty()) image_.assign("logo");

  presence_.state = TextOrNull(state_);
  presence_.details = TextOrNull(details_);
  presence_.large_image = image_.c_str();
  presence_.large_text = TextOrNull(large_text_);
  if (state.game_status == "inGame" || state.game_status == "inQueue") {
    presence_.start = static_cast<int64_t>(state.start_time);
  }
  return presence_;
}

}  // namespace mau
