#include "presence/discord_presence_plugin.h"

#include "discord/rpc_client.h"
#include "log/log_core.h"

namespace mau {

namespace {

using discord::RpcClient;

// Every line of the plug-in goes out at the highest level with the first category.
constexpr uint32_t kPluginCategory = 1;

void OnDiscordReady() { Log(kLogAlways, kPluginCategory, 0, "Discord RPC ready."); }
void OnDiscordDisconnected(int32_t code, const char* message) {
  Log(kLogAlways, kPluginCategory, 0, "Discord RPC: disconnected (%d: %s)\n", code, message);
}
void OnDiscordError(int32_t code, const char* message) {
  Log(kLogAlways, kPluginCategory, 0, "Discord RPC: error (%d: %s)\n", code, message);
}

}  // namespace

void DiscordPresencePlugin::OnShutdown() { RpcClient::Stop(); }

void DiscordPresencePlugin::RegisterTypes() {
  RegisterGameDataTypes(Registry(), TypeNamePrefix(), TypeTags());
}

bool DiscordPresencePlugin::OnInitialize() {
  if (!LoadLocalizedStrings()) return false;
  ObserveResource(kEnabledSwitchUri,
                  [this](const PluginResourceEvent& event) { OnEnabledChanged(event); });
  ObserveResource(kChatPresenceUri,
                  [this](const PluginResourceEvent& event) { OnChatPresenceChanged(event); });

  discord::RpcEventHandlers handlers{};
  handlers.on_ready = OnDiscordReady;
  handlers.on_disconnected = OnDiscordDisconnected;
  handlers.on_error = OnDiscordError;
  RpcClient::Start(kDiscordApplicationId, &handlers, false, nullptr);
  RpcClient::DispatchCallbacks();
  StartRepeatingTimer("UpdateDiscordCallbacks", 1.0, [] { RpcClient::DispatchCallbacks(); });
  RefreshPresence();
  return true;
}

void DiscordPresencePlugin::OnEnabledChanged(const PluginResourceEvent& event) {
  const bool was_enabled = enabled_;
  if (event.eventType == PluginResourceEventType::Delete) {
    enabled_ = true;
  } else {
    enabled_ = event.data.kind() == BindingValueKind::Bool ? event.data.AsBool() : true;
  }
  // A switched switch shows at once rather than at the next chat change.
  if (enabled_ != was_enabled) RefreshPresence();
}

void DiscordPresencePlugin::OnChatPresenceChanged(const PluginResourceEvent& event) {
  if (event.eventType == PluginResourceEventType::Delete) return;
  ChatPresenceState next = ParseChatPresence(event.data);
  if (SameComparedFields(next, chat_state_)) return;
  chat_state_ = std::move(next);
  RefreshPresence();
}

void DiscordPresencePlugin::RefreshPresence() {
  if (!enabled_ || chat_state_.game_status == "outOfGame") {
    RpcClient::ResetPresence();
    return;
  }
  std::optional<std::vector<GameDataChampionSummary>> champions;
  const GameDataChampionSummary* champion = nullptr;
  if (chat_state_.champion_id != 0) {
    champions = FetchChampionSummaries();
    if (champions) champion = FindChampion(*champions, chat_state_.champion_id);
  }
  const discord::DiscordPresence& presence =
      builder_.Build(chat_state_, localized_strings_, champion);
  if (presence.state != nullptr) {
    Log(kLogAlways, kPluginCategory, 0, "Discord: setting state to \"%s\"\n", presence.state);
  }
  RpcClient::SetPresence(presence);
}

bool DiscordPresencePlugin::LoadLocalizedStrings() {
  RequestResult<BindingValue> table = RequestValue(RequestMethod::Get, kLocalizedStringsUri);
  if (!table.ok()) {
    Log(kLogAlways, kPluginCategory, 0, "Could not get localized strings from game data!");
    return false;
  }
  StoreLocalizedStrings(table.value, localized_strings_);
  return true;
}

std::optional<std::vector<GameDataChampionSummary>>
DiscordPresencePlugin::FetchChampionSummaries() {
  RequestResult<std::vector<GameDataChampionSummary>> list =
      RequestRecord<std::vector<GameDataChampionSummary>>(RequestMethod::Get, kChampionSummaryUri);
  if (!list.ok()) return std::nullopt;
  return std::move(list.value);
}

}  // namespace mau
