// Registers the per-user URL protocol "discord-<application id>", through which the
// Discord desktop application launches the game: registry keys under HKEY_CURRENT_USER
// on Windows, an XDG desktop entry with an x-scheme-handler MIME type elsewhere.
//
//   RegisterUrlProtocol("901274638105567233", nullptr);  // launches this program
//   RegisterSteamGame("901274638105567233", "4242");     // launches through Steam
//
// Neither reports a result: a failure prints one line on standard error (for instance
// "Error creating key") and is otherwise ignored. Texts are UTF-8; over-long texts are
// cut to the fixed buffers of the registration.
#pragma once

namespace mau::discord {

// `command` is the launch command line; null or empty means the running program itself.
void RegisterUrlProtocol(const char* application_id, const char* command);

// Registers a command that starts the game through the Steam client.
void RegisterSteamGame(const char* application_id, const char* steam_game_id);

}  // namespace mau::discord
