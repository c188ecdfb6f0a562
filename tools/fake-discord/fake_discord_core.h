// The Discord desktop application's local RPC side, as a stand-in that tests, benchmarks
// and the fake-discord program run in-process. It listens on discord-ipc-N, answers the
// handshake with DISPATCH/READY (for an invented user), answers SET_ACTIVITY and
// SUBSCRIBE with replies that carry the command's nonce, checks commands as Discord does
// (valid JSON in valid UTF-8; an activity's "state", "details", "large_text" and
// "small_text" 2 to 128 characters, image keys at most 256, start and end times plausible
// Unix times) and answers a violation with an ERROR event (code 4000, a message naming
// the field), which it counts. Like Discord, it can ignore activity updates beyond a rate
// limit. It can inject faults: pings, OP_CLOSE, dropped connections, ERROR replies,
// frames written in pieces, a handshake never answered, a peer that stops reading.
//
//   FakeDiscordOptions options;
//   options.directory = temp_dir;               // POSIX; Windows listens on the pipe
//   FakeDiscord discord(options);
//   std::string error;
//   if (!discord.Start(&error)) FAIL() << error;
//   ... the client connects and sets a presence ...
//   std::optional<ReceivedActivity> activity = discord.WaitForActivity(std::chrono::seconds(5));
//   EXPECT_EQ(activity->state, "In game");
//
// Threads: the stand-in runs its own thread; every public function may be called from
// any thread. Observer callbacks run on the stand-in's thread and must not call Stop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace mau::fake_discord {

// One frame as received. Connections are numbered from 1 in the order they were accepted.
struct ReceivedFrame {
  int connection = 0;
  uint32_t opcode = 0;
  std::string payload;
  std::string command;  // the "cmd" of a command frame, empty when it has none
  // The ERROR event the frame was answered with: its code and message; 0 and empty when
  // it was not refused.
  int32_t error_code = 0;
  std::string error;
  // A SET_ACTIVITY over the rate limit: answered with success and then ignored.
  bool rate_limited = false;
};

// One SET_ACTIVITY command as received, whether it was accepted or refused.
struct ReceivedActivity {
  int connection = 0;
  std::string nonce;
  int64_t pid = 0;
  bool cleared = false;  // no "activity": the command clears the presence
  std::string state;
  std::string details;
  int64_t start = 0;
  int64_t end = 0;
  std::string large_image;
  std::string large_text;
  std::string small_image;
  std::string small_text;
  bool instance = false;
  std::string error;  // why it was answered with an ERROR event; empty when accepted
  // Ignored for the rate limit, silently: answered as a success, not shown.
  bool rate_limited = false;
  std::string payload;
};

// Called on the stand-in's thread as things happen; each may be empty. A frame is
// reported once it has been answered.
struct FakeDiscordObserver {
  std::function<void(int connection, const std::string& client_id)> on_ready;
  std::function<void(const ReceivedFrame&)> on_frame;
  std::function<void(const ReceivedActivity&)> on_activity;
  std::function<void(int connection, const std::string& reason)> on_disconnected;
};

struct FakeDiscordOptions {
  // POSIX: the directory for the socket (empty: where Discord puts it). Ignored on Windows.
  std::string directory;
  // Listens on discord-ipc-<pipe_index>.
  int pipe_index = 0;

  // Faults. Frames are counted per connection, the handshake included.
  int ping_every = 0;   // after every Nth frame (pongs not counted), send an OP_PING
  int close_after = 0;  // after answering the Nth frame, send OP_CLOSE and hang up
  int32_t close_code = 1000;
  std::string close_message = "Closed by fake-discord";
  int drop_after = 0;  // on receiving the Nth frame, hang up without answering it
  // close_after, drop_after and stall_after hit only the first connection unless this is
  // set.
  bool faults_on_every_connection = false;
  bool error_on_set_activity = false;  // answer every SET_ACTIVITY with an ERROR event
  // Write each frame in three pieces, 20 ms apart: five bytes of the header, the rest of
  // the header with half the payload, the rest.
  bool split_frames = false;
  bool silent = false;  // never answer the handshake
  int stall_after = 0;  // after answering the Nth frame, read nothing more (and stay connected)

  // Discord's rate limit: a SET_ACTIVITY that would accept more than rate_limit_count
  // activities within rate_limit_window on one connection is ignored, silently and with a
  // success reply. 0: no limit.
  int rate_limit_count = 0;
  std::chrono::milliseconds rate_limit_window{0};

  FakeDiscordObserver observer;
};

// The number of characters (code points) of valid UTF-8 text, as Discord counts them for
// its limits; nullopt when the text is not valid UTF-8 (overlong forms, surrogates and
// values above U+10FFFF are not).
std::optional<size_t> Utf8Length(std::string_view text);

class FakeDiscord {
 public:
  explicit FakeDiscord(FakeDiscordOptions options = {});
  ~FakeDiscord();  // as Stop
  FakeDiscord(const FakeDiscord&) = delete;
  FakeDiscord& operator=(const FakeDiscord&) = delete;

  // Listens and starts the stand-in's thread. False, with a message, when the name
  // cannot be taken (for instance because a real Discord holds it).
  [[nodiscard]] bool Start(std::string* error);
  // Hangs up, stops listening and ends the thread. Received frames stay readable.
  void Stop();

  // The oldest received frame or activity not yet taken, waiting up to `timeout` for one.
  // The two streams are independent: every SET_ACTIVITY appears in both.
  [[nodiscard]] std::optional<ReceivedFrame> WaitForFrame(std::chrono::milliseconds timeout);
  [[nodiscard]] std::optional<ReceivedActivity> WaitForActivity(std::chrono::milliseconds timeout);

  // Waits until a client has completed the handshake on a connection numbered at least
  // `connection`.
  [[nodiscard]] bool WaitForReady(int connection, std::chrono::milliseconds timeout);

  // Sends one frame to the connected client (an event such as ACTIVITY_JOIN, or any
  // bytes a test needs); false when no client is connected.
  [[nodiscard]] bool SendFrame(uint32_t opcode, const std::string& payload);

  // Hangs up on the current client, as a restarting Discord would (frames queued by
  // SendFrame go out first), and returns once it is done; false when no client was
  // connected or it did not end within 5 seconds.
  bool DropConnection();

  // Accepted connections so far.
  int connection_count() const;
  // Commands answered with an ERROR event so far, for whatever reason (invalid JSON or
  // UTF-8, an activity Discord would refuse, an unknown command or event, or
  // error_on_set_activity).
  int error_reply_count() const;
  // The socket path or pipe name it listens on.
  std::string endpoint() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace mau::fake_discord
