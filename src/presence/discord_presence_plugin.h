// DiscordPresencePlugin: the plug-in's own class. It follows the local player's chat
// presence (/mau-chat/v1/me) and the host's IsEnabled switch, and mirrors the presence into
// Discord through the process-wide RpcClient, whose callbacks it pumps from a one-second
// timer on the plug-in's main thread.
//
// Threads: everything here runs on the plug-in's main thread (event handlers, the timer,
// the host's entry points), so the members need no lock.
#pragma once

#include <optional>
#include <vector>

#include "plugin/plugin_base.h"
#include "plugin/plugin_records.h"
#include "presence/chat_presence.h"
#include "presence/game_data.h"
#include "presence/presence_builder.h"

namespace mau {

// The Discord application whose assets ("logo", "champ_<alias>") the presence names. A
// vendor with their own application sets MAU_DISCORD_APPLICATION_ID when configuring.
#ifndef MAU_DISCORD_APPLICATION_ID
#  error "MAU_DISCORD_APPLICATION_ID must be defined by the build"
#endif
inline constexpr const char* kDiscordApplicationId = MAU_DISCORD_APPLICATION_ID;

inline constexpr const char* kChatPresenceUri = "/mau-chat/v1/me";
inline constexpr const char* kEnabledSwitchUri =
    "/mau-platform-config/v1/namespaces/DiscordRP/IsEnabled";

class DiscordPresencePlugin final : public PluginBase {
 public:
  DiscordPresencePlugin() = default;
  ~DiscordPresencePlugin() override = default;

  // Stops the Discord client; the connection is closed without clearing the presence.
  void OnShutdown() override;
  // Registers GameDataChampionSummary.
  void RegisterTypes() override;
  // Reads the localized strings (false when they cannot be read: the plug-in then stays
  // inert), follows the two resources, starts the Discord client and its callback timer,
  // and shows the current presence.
  bool OnInitialize() override;

  void OnEnabledChanged(const PluginResourceEvent& event);
  void OnChatPresenceChanged(const PluginResourceEvent& event);
  // Sends the presence of chat_state to Discord, or clears it when presence is switched
  // off or the player is out of the game.
  void RefreshPresence();

  bool LoadLocalizedStrings();
  std::optional<std::vector<GameDataChampionSummary>> FetchChampionSummaries();

  const ChatPresenceState& chat_state() const noexcept { return chat_state_; }
  bool enabled() const noexcept { return enabled_; }

 private:
  ChatPresenceState chat_state_;
  LocalizedStrings localized_strings_;
  bool enabled_ = true;
  PresenceBuilder builder_;
};

}  // namespace mau
