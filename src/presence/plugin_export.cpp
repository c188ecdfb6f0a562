// The library's one export, load_mau_discord_rp.
#include "plugin/plugin_entry.h"
#include "presence/discord_presence_plugin.h"

MAU_DEFINE_PLUGIN_EXPORT(mau::DiscordPresencePlugin, "mau-discord-rp");
