// The process-wide client of the Discord desktop application's local RPC channel.
//
// One background I/O thread connects (and reconnects, at randomised growing intervals
// of up to a minute), reads what Discord sends as it arrives and writes what the caller
// asked for, keeping to Discord's rate limit on presence updates. The caller's operations
// never wait for Discord: they serialise a command into a fixed buffer and wake the I/O
// thread. What Discord reports is parked in mailboxes and handed to the handlers only by
// DispatchCallbacks, on the caller's thread.
//
//   RpcEventHandlers handlers{};
//   handlers.on_ready = &OnDiscordReady;
//   RpcClient::Start("901274638105567233", &handlers, false, nullptr);
//   RpcClient::SetPresence(presence);       // reaches Discord within milliseconds
//   RpcClient::DispatchCallbacks();         // from a timer, once a second
//   RpcClient::Stop();
//
// Threads: Start, Stop, SetPresence, ResetPresence and DispatchCallbacks belong to the
// caller's thread (one thread; SetPresence and ResetPresence may also come from others).
// Handlers run inside DispatchCallbacks and may call any of these, Stop included.
#pragma once

#include <cstdint>

#include "discord/presence_rate_limit.h"
#include "discord/rpc_messages.h"

namespace mau::discord {

// A request to join the player's game. The texts point into the client's own storage
// and are valid only during the on_join_request call.
struct JoinRequestUser {
  const char* id;
  const char* username;
  const char* discriminator;
  const char* avatar;
};

// What the client reports, each entry optional. All run on the thread that calls
// DispatchCallbacks; texts are valid during the call.
struct RpcEventHandlers {
  void (*on_ready)() = nullptr;
  // The connection was lost, or failed after the handshake was sent.
  void (*on_disconnected)(int32_t code, const char* message) = nullptr;
  // Discord answered a command with an ERROR event.
  void (*on_error)(int32_t code, const char* message) = nullptr;
  void (*on_join_game)(const char* join_secret) = nullptr;
  void (*on_spectate_game)(const char* spectate_secret) = nullptr;
  void (*on_join_request)(const JoinRequestUser* user) = nullptr;
};

class RpcClient {
 public:
  RpcClient() = delete;

  // Registers the URL protocol when asked (through Steam when `steam_game_id` is given
  // and not empty), takes the process id, copies `handlers` (null: none), and, unless
  // the client already runs, creates the connection for `application_id` (at most 63
  // bytes are kept) and starts the I/O thread; its first pass tries to connect at once.
  // A second Start while running only replaces the handlers. When the thread or the
  // connection cannot be created, the client stays stopped.
  static void Start(const char* application_id, const RpcEventHandlers* handlers,
                    bool register_protocol, const char* steam_game_id);

  // Removes the handlers, ends the I/O thread and closes the connection. The thread never
  // blocks on Discord, so this takes milliseconds whatever Discord does. Does nothing when
  // the client is not running. What is pending (the latest presence) stays for the next
  // Start.
  static void Stop();

  // Replaces the pending presence command with one for `presence` (not kept) and wakes
  // the I/O thread. Only the newest pending presence is ever sent: at once while the send
  // budget allows, else as soon as it does (see SetPresenceRateLimit).
  static void SetPresence(const DiscordPresence& presence);

  // The same with no activity, which clears the player's presence in Discord. It counts
  // as a presence for the rate limit.
  static void ResetPresence();

  // Replaces the rate limit the client keeps to: by default Discord's own, 5 presence
  // commands in any 20 s and the latest presence once more 15 s after a send that came
  // close behind another or was held back (see presence_rate_limit.h). Before the first
  // call, Start takes a limit from the environment when one is set there:
  // MAU_DISCORD_RATE_LIMIT=N/SECONDS and MAU_DISCORD_RESEND_AFTER=SECONDS, for a Discord
  // stand-in with another limit. False, changing nothing, for a value out of range. Any
  // thread, at any time; the limit stays across Stop and Start.
  [[nodiscard]] static bool SetPresenceRateLimit(const PresenceRateLimit& limit);
  static PresenceRateLimit presence_rate_limit();

  // Delivers what Discord reported since the last call, in this order: a disconnection
  // that preceded the present connection, ready, error, join, spectate, join requests
  // (oldest first), and last a disconnection that left the client without a connection.
  // Does nothing when the client is not running.
  static void DispatchCallbacks();
};

}  // namespace mau::discord
