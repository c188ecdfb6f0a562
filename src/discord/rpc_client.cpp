#include "discord/rpc_client.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>

#include "discord/presence_rate_limit.h"
#include "discord/protocol_registration.h"
#include "discord/reconnect_backoff.h"
#include "discord/rpc_client_test_seam.h"
#include "discord/rpc_connection.h"
#include "discord/text_copy.h"
#include "log/log_core.h"
#include "platform/clock.h"
#include "platform/process_info.h"

namespace mau::discord {

namespace {

constexpr size_t kMailboxTextCapacity = 256;
constexpr uint32_t kQueueSlots = 8;
constexpr uint32_t kJoinRequestSlots = 8;
constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();
// For this long after a working connection was lost, attempts come at least this often, so
// that a Discord that restarts is found again within moments; later the back-off alone
// spaces them.
constexpr int64_t kQuickRetryPeriodMs = 10000;
constexpr int64_t kQuickRetryDelayMs = 1000;
// Environment variables that replace Discord's rate limit, for a stand-in that applies
// another one: "N/SECONDS" and "SECONDS". RpcClient::SetPresenceRateLimit wins over them.
constexpr char kRateLimitVariable[] = "MAU_DISCORD_RATE_LIMIT";
constexpr char kResendAfterVariable[] = "MAU_DISCORD_RESEND_AFTER";
// "DBG" and "NET".
constexpr uint32_t kDiscordLogCategories = 65;

struct CommandSlot {
  uint32_t length = 0;
  char bytes[kCommandCapacity];
};

struct JoinRequestSlot {
  char id[32];
  char username[344];
  char discriminator[8];
  char avatar[128];
};

// A mailbox of one text (and a code): the I/O thread posts, the caller's thread takes.
// The flag says whether something waits; the texts are written and copied under the
// mailbox mutex, so a post that races with a take never tears the text.
struct TextMailbox {
  std::atomic<bool> flag{false};
  int32_t code = 0;
  char text[kMailboxTextCapacity] = {};
};

// The caller's handlers. Atomic because Start and Stop replace them while the I/O thread
// may be looking at them (it subscribes only to the events that have a handler).
struct AtomicHandlers {
  std::atomic<void (*)()> on_ready{nullptr};
  std::atomic<void (*)(int32_t, const char*)> on_disconnected{nullptr};
  std::atomic<void (*)(int32_t, const char*)> on_error{nullptr};
  std::atomic<void (*)(const char*)> on_join_game{nullptr};
  std::atomic<void (*)(const char*)> on_spectate_game{nullptr};
  std::atomic<void (*)(const JoinRequestUser*)> on_join_request{nullptr};

  void Store(const RpcEventHandlers& h) {
    on_ready = h.on_ready;
    on_disconnected = h.on_disconnected;
    on_error = h.on_error;
    on_join_game = h.on_join_game;
    on_spectate_game = h.on_spectate_game;
    on_join_request = h.on_join_request;
  }
};

struct ClientState {
  ClientState()
      : backoff(static_cast<uint64_t>(ReadSystemTimeTicks() / 10000000)),
        next_attempt(MonotonicTicks()),
        process_id(CurrentProcessId()) {}

  // Owned by the caller's thread: created by Start, destroyed by Stop after the I/O
  // thread has ended. The I/O thread uses it only while it runs.
  std::unique_ptr<RpcConnection> connection;
  AtomicHandlers handlers;

  ReconnectBackoff backoff;  // I/O thread (ResetClient while stopped)
  std::atomic<int64_t> next_attempt;
  // When the last working connection was lost (I/O thread).
  bool lost_recently = false;
  int64_t lost_at = 0;
  std::atomic<uint32_t> process_id;
  std::atomic<int32_t> nonce_counter{1};

  // The pending presence command; 0 = nothing pending.
  std::mutex presence_mutex;
  size_t pending_length = 0;
  char pending[kCommandCapacity];
  // The most recent presence command the I/O thread took, kept to send it again to a
  // Discord that restarted, or once more for convergence. I/O thread only.
  size_t outgoing_length = 0;
  char outgoing[kCommandCapacity];

  // Discord's rate limit, set from any thread; the I/O thread applies it.
  std::atomic<int32_t> limit_sends{PresenceRateLimit().sends};
  std::atomic<int32_t> limit_window_ms{PresenceRateLimit().window_ms};
  std::atomic<int32_t> limit_resend_after_ms{PresenceRateLimit().resend_after_ms};
  std::atomic<bool> limit_set_by_caller{false};
  // I/O thread only: the sends of the present connection, and whether the budget holds
  // the pending presence back.
  PresenceRateLimiter limiter;
  bool presence_held = false;
  // Presence commands sent and counted, for tests to see; written by the I/O thread.
  std::atomic<int32_t> presence_sends{0};

  // Filled and emptied by the I/O thread only.
  CommandSlot queue[kQueueSlots];
  std::atomic<uint32_t> queue_write{0};
  std::atomic<uint32_t> queue_read{0};
  std::atomic<uint32_t> queue_count{0};

  std::mutex mailbox_mutex;
  std::atomic<bool> connected{false};
  TextMailbox disconnected;
  TextMailbox error;
  TextMailbox join;
  TextMailbox spectate;
  // Single producer (I/O thread), single consumer (DispatchCallbacks).
  JoinRequestSlot join_requests[kJoinRequestSlots];
  std::atomic<uint32_t> join_write{0};
  std::atomic<uint32_t> join_read{0};
  std::atomic<uint32_t> join_count{0};

  // The I/O thread. It waits on the connection's channel and on its wake-up together.
  // The wake-up lives from Start to Stop; the mutex guards it against a Wake from another
  // thread and is never held during I/O.
  std::atomic<bool> keep_running{false};
  std::mutex thread_mutex;
  std::unique_ptr<IpcWakeup> wakeup;
  std::thread thread;

  test_seam::ClientHooks hooks;
};

// The client lives for the whole process and is never destroyed: a host that ends
// without stopping it must not meet a joinable std::thread in a static destructor.
alignas(ClientState) unsigned char client_storage[sizeof(ClientState)];
ClientState& client = *new (client_storage) ClientState();

int64_t Now() { return client.hooks.now != nullptr ? client.hooks.now() : MonotonicTicks(); }

void AdvanceBackoff() {
  const double u = client.hooks.draw != nullptr ? client.hooks.draw() : client.backoff.Draw();
  int64_t delay = client.backoff.Advance(u);
  const int64_t now = Now();
  if (client.lost_recently && now - client.lost_at < kQuickRetryPeriodMs * kTicksPerMillisecond &&
      delay > kQuickRetryDelayMs) {
    delay = kQuickRetryDelayMs;
  }
  // Released after the back-off's own fields, so a reader that sees the new deadline sees
  // the attempt and delay that go with it.
  client.next_attempt.store(now + delay * kTicksPerMillisecond, std::memory_order_release);
}

// Makes the I/O thread run a pass as soon as it can; a wake-up given while the thread is
// busy makes its next wait return at once.
void Wake() {
  std::lock_guard<std::mutex> lock(client.thread_mutex);
  if (client.wakeup) client.wakeup->Signal();
}

PresenceRateLimit CurrentRateLimit() {
  PresenceRateLimit limit;
  limit.sends = client.limit_sends.load(std::memory_order_relaxed);
  limit.window_ms = client.limit_window_ms.load(std::memory_order_relaxed);
  limit.resend_after_ms = client.limit_resend_after_ms.load(std::memory_order_relaxed);
  return limit;
}

void StoreRateLimit(const PresenceRateLimit& limit) {
  client.limit_sends.store(limit.sends, std::memory_order_relaxed);
  client.limit_window_ms.store(limit.window_ms, std::memory_order_relaxed);
  client.limit_resend_after_ms.store(limit.resend_after_ms, std::memory_order_relaxed);
}

// The rate limit the environment asks for, where it asks for a valid one.
void ReadRateLimitFromEnvironment() {
  PresenceRateLimit limit = CurrentRateLimit();
  int64_t count = 0;
  int64_t milliseconds = 0;
  if (const char* text = std::getenv(kRateLimitVariable);
      text != nullptr && ParseRateText(text, count, milliseconds) && count >= 1 &&
      count <= kMaxSendsPerWindow && milliseconds <= kMaxRateLimitMs) {
    limit.sends = static_cast<int32_t>(count);
    limit.window_ms = static_cast<int32_t>(milliseconds);
  }
  if (const char* text = std::getenv(kResendAfterVariable);
      text != nullptr && ParseSecondsText(text, milliseconds) && milliseconds <= kMaxRateLimitMs) {
    limit.resend_after_ms = static_cast<int32_t>(milliseconds);
  }
  if (IsValid(limit)) StoreRateLimit(limit);
}

void Post(TextMailbox& mailbox, int32_t code, std::string_view text) {
  std::lock_guard<std::mutex> lock(client.mailbox_mutex);
  mailbox.code = code;
  CopyCut(mailbox.text, text);
  mailbox.flag.store(true, std::memory_order_release);
}

// Takes what waits in `mailbox` into `code` and `text`; false when nothing waits.
bool Take(TextMailbox& mailbox, int32_t& code, char (&text)[kMailboxTextCapacity]) {
  if (!mailbox.flag.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(client.mailbox_mutex);
  if (!mailbox.flag.exchange(false, std::memory_order_acq_rel)) return false;
  code = mailbox.code;
  std::memcpy(text, mailbox.text, sizeof text);
  return true;
}

bool Subscribe(const char* event_name) {
  if (client.queue_count.load(std::memory_order_acquire) >= kQueueSlots) return false;
  CommandSlot& slot = client.queue[client.queue_write.fetch_add(1) % kQueueSlots];
  const int32_t nonce = client.nonce_counter.fetch_add(1);
  slot.length =
      static_cast<uint32_t>(WriteSubscribe(slot.bytes, kCommandCapacity, nonce, event_name));
  client.queue_count.fetch_add(1, std::memory_order_release);
  Wake();
  return true;
}

void StorePresence(const DiscordPresence* presence) {
  bool written;
  {
    std::lock_guard<std::mutex> lock(client.presence_mutex);
    const int32_t nonce = client.nonce_counter.fetch_add(1);
    client.pending_length = WriteSetActivity(client.pending, kCommandCapacity, nonce,
                                             client.process_id.load(), presence);
    written = client.pending_length != 0;
  }
  if (!written) {
    // Never a command cut in the middle: Discord would get invalid JSON and show nothing.
    Log(kLogError, kDiscordLogCategories, 0,
        "Discord RPC: a presence does not fit the %d-byte command buffer; not sent\n",
        static_cast<int>(kCommandCapacity));
    return;
  }
  Wake();
}

// The connection reached Ready (I/O thread).
void OnConnected() {
  client.connected.store(true, std::memory_order_release);
  client.backoff.Reset();
  client.lost_recently = false;
  client.limiter.Reset();
  client.presence_held = false;
  if (client.handlers.on_join_game.load() != nullptr) Subscribe("ACTIVITY_JOIN");
  if (client.handlers.on_spectate_game.load() != nullptr) Subscribe("ACTIVITY_SPECTATE");
  if (client.handlers.on_join_request.load() != nullptr) Subscribe("ACTIVITY_JOIN_REQUEST");
  {
    // A Discord that restarted has forgotten the presence; send the latest one again
    // unless a newer one waits anyway.
    std::lock_guard<std::mutex> lock(client.presence_mutex);
    if (client.pending_length == 0 && client.outgoing_length != 0) {
      std::memcpy(client.pending, client.outgoing, client.outgoing_length);
      client.pending_length = client.outgoing_length;
    }
  }
  Wake();
}

// A connection that had sent its handshake closed (I/O thread).
void OnDisconnected(int32_t code, const char* message) {
  Post(client.disconnected, code, message);
  if (client.connection->state() == RpcConnection::State::Ready) {
    client.lost_recently = true;
    client.lost_at = Now();
  }
  AdvanceBackoff();
}

void HandleJoinRequest(const JsonValue* data) {
  const JsonValue* user = data != nullptr ? ObjectMember(*data, "user") : nullptr;
  if (user == nullptr) return;
  if (client.join_count.load(std::memory_order_acquire) >= kJoinRequestSlots) return;
  const std::optional<std::string_view> id = StringMember(*user, "id");
  const std::optional<std::string_view> username = StringMember(*user, "username");
  if (!id || !username) return;
  JoinRequestSlot& slot = client.join_requests[client.join_write.fetch_add(1) % kJoinRequestSlots];
  CopyCut(slot.id, *id);
  CopyCut(slot.username, *username);
  CopyCut(slot.discriminator, StringMember(*user, "discriminator").value_or(""));
  CopyCut(slot.avatar, StringMember(*user, "avatar").value_or(""));
  client.join_count.fetch_add(1, std::memory_order_release);
}

void HandleMessage(const JsonValue& message) {
  const std::optional<std::string_view> evt = StringMember(message, "evt");
  const JsonValue* data = ObjectMember(message, "data");
  if (StringMember(message, "nonce")) {  // a reply to one of our commands
    if (evt == "ERROR") {
      const int32_t code = data != nullptr ? Int32Member(*data, "code").value_or(0) : 0;
      const std::string_view text =
          data != nullptr ? StringMember(*data, "message").value_or("") : std::string_view();
      Post(client.error, code, text);
    }
    return;
  }
  if (!evt) return;
  if (*evt == "ACTIVITY_JOIN" || *evt == "ACTIVITY_SPECTATE") {
    const std::optional<std::string_view> secret =
        data != nullptr ? StringMember(*data, "secret") : std::nullopt;
    if (secret) Post(*evt == "ACTIVITY_JOIN" ? client.join : client.spectate, 0, *secret);
  } else if (*evt == "ACTIVITY_JOIN_REQUEST") {
    HandleJoinRequest(data);
  }
}

// Puts the presence the I/O thread took back, unless a newer one arrived meanwhile.
void KeepOutgoingPending() {
  std::lock_guard<std::mutex> lock(client.presence_mutex);
  if (client.pending_length == 0) {
    std::memcpy(client.pending, client.outgoing, client.outgoing_length);
    client.pending_length = client.outgoing_length;
  }
}

// Sends the pending presence as far as Discord's rate limit allows, or the latest one once
// more when convergence asks for it. Returns when it next has something to do by itself
// (kNoDeadline: only when woken, or when the connection has room for output again).
int64_t SendPresence(RpcConnection& connection) {
  const PresenceRateLimit limit = CurrentRateLimit();
  const int64_t now = Now();
  bool pending;
  {
    std::lock_guard<std::mutex> lock(client.presence_mutex);
    pending = client.pending_length != 0;
  }
  if (pending) {
    const int64_t allowed_at = client.limiter.NextSendAt(limit, now);
    if (allowed_at > now) {
      client.presence_held = true;
      return allowed_at;
    }
    {
      std::lock_guard<std::mutex> lock(client.presence_mutex);
      std::memcpy(client.outgoing, client.pending, client.pending_length);
      client.outgoing_length = client.pending_length;
      client.pending_length = 0;
    }
    if (connection.Write(client.outgoing, client.outgoing_length) !=
        RpcConnection::WriteResult::Queued) {
      // Output full: again once it has drained. Connection lost: after the next READY.
      KeepOutgoingPending();
      return kNoDeadline;
    }
    // Counted from when it has gone: Discord counts from when it arrives.
    client.limiter.RecordSend(limit, Now(), client.presence_held);
    client.presence_held = false;
    client.presence_sends.fetch_add(1, std::memory_order_release);
  } else if (client.limiter.resend_pending()) {
    const int64_t due = std::max(client.limiter.resend_at(), client.limiter.NextSendAt(limit, now));
    if (due > now) return due;
    switch (connection.Write(client.outgoing, client.outgoing_length)) {
      case RpcConnection::WriteResult::Queued:
        client.limiter.RecordResend(Now());
        client.presence_sends.fetch_add(1, std::memory_order_release);
        break;
      case RpcConnection::WriteResult::Busy:
        return kNoDeadline;
      case RpcConnection::WriteResult::Failed:  // READY sends the latest presence again
        break;
    }
  }
  return client.limiter.resend_pending() ? client.limiter.resend_at() : kNoDeadline;
}

void DrainQueue(RpcConnection& connection) {
  while (client.queue_count.load(std::memory_order_acquire) != 0) {
    const CommandSlot& slot = client.queue[client.queue_read.load() % kQueueSlots];
    // A command whose write fails is dropped; one that finds the output full waits.
    if (connection.Write(slot.bytes, slot.length) == RpcConnection::WriteResult::Busy) return;
    client.queue_read.fetch_add(1);
    client.queue_count.fetch_sub(1, std::memory_order_release);
  }
}

// Milliseconds from now until the connection attempt is due.
int32_t UntilNextAttempt() {
  return WaitMilliseconds(client.next_attempt.load(std::memory_order_relaxed) - Now());
}

// One pass of the I/O thread: everything that can be done now. Returns how long the
// thread may wait before the client has something to do by itself (-1: no limit); the
// connection adds its own timeouts and what it waits for on the channel.
int32_t ServiceConnection(RpcConnection& connection) {
  connection.Flush();
  if (connection.state() == RpcConnection::State::Closed) {
    // Attempts to connect are spaced by the back-off.
    if (Now() < client.next_attempt.load(std::memory_order_relaxed)) return UntilNextAttempt();
    AdvanceBackoff();
    connection.Open();
    if (connection.state() == RpcConnection::State::Closed) return UntilNextAttempt();
  }
  if (connection.state() == RpcConnection::State::HandshakeSent) {
    // READY is read as soon as it arrives.
    connection.Open();
    if (connection.state() == RpcConnection::State::Closed) return UntilNextAttempt();
    if (connection.state() == RpcConnection::State::HandshakeSent) return -1;
  }
  for (int n = 0; n < RpcConnection::kMessagesPerStep; ++n) {
    const JsonValue* message = connection.Read();
    if (message == nullptr) break;
    HandleMessage(*message);
  }
  // After a lost connection these writes fail quietly: the presence stays pending and
  // queued commands are dropped.
  const int64_t presence_due = SendPresence(connection);
  DrainQueue(connection);
  if (connection.state() == RpcConnection::State::Closed) return UntilNextAttempt();
  return presence_due == kNoDeadline ? -1 : WaitMilliseconds(presence_due - Now());
}

void RunIoThread() {
  RpcConnection& connection = *client.connection;
  while (client.keep_running.load(std::memory_order_acquire)) {
    int32_t wait_ms = ServiceConnection(connection);
    const int32_t longest = client.hooks.pass_interval_ms;
    if (longest > 0 && (wait_ms < 0 || wait_ms > longest)) wait_ms = longest;
    connection.Wait(*client.wakeup, wait_ms);
  }
}

template <typename Handler, typename... Args>
void Call(const std::atomic<Handler>& handler, Args... args) {
  if (const Handler h = handler.load()) h(args...);
}

}  // namespace

void RpcClient::Start(const char* application_id, const RpcEventHandlers* handlers,
                      bool register_protocol, const char* steam_game_id) {
  if (register_protocol) {
    if (steam_game_id != nullptr && steam_game_id[0] != '\0') {
      RegisterSteamGame(application_id, steam_game_id);
    } else {
      RegisterUrlProtocol(application_id, nullptr);
    }
  }
  client.process_id = CurrentProcessId();
  client.handlers.Store(handlers != nullptr ? *handlers : RpcEventHandlers{});
  if (client.connection) return;
  if (!client.limit_set_by_caller.load()) ReadRateLimitFromEnvironment();

  std::unique_ptr<RpcConnection> connection(new (std::nothrow) RpcConnection(application_id));
  std::unique_ptr<IpcWakeup> wakeup(new (std::nothrow) IpcWakeup());
  if (!connection || !wakeup || !wakeup->valid()) return;
  connection->set_clock(client.hooks.timeout_now);
  connection->set_on_connected(&OnConnected);
  connection->set_on_closed(&OnDisconnected);
  {
    std::lock_guard<std::mutex> lock(client.thread_mutex);
    client.wakeup = std::move(wakeup);
  }
  client.connection = std::move(connection);
  client.keep_running = true;
  try {
    client.thread = std::thread(&RunIoThread);
  } catch (const std::system_error&) {
    client.keep_running = false;
    client.connection.reset();
    std::lock_guard<std::mutex> lock(client.thread_mutex);
    client.wakeup.reset();
  }
}

void RpcClient::Stop() {
  if (!client.connection) return;
  client.connection->set_on_connected(nullptr);
  client.handlers.Store(RpcEventHandlers{});
  client.connection->set_on_closed(nullptr);
  client.keep_running = false;
  Wake();
  if (client.thread.joinable()) client.thread.join();
  client.connection->Close();
  client.connection.reset();
  std::lock_guard<std::mutex> lock(client.thread_mutex);
  client.wakeup.reset();
}

void RpcClient::SetPresence(const DiscordPresence& presence) { StorePresence(&presence); }

void RpcClient::ResetPresence() { StorePresence(nullptr); }

bool RpcClient::SetPresenceRateLimit(const PresenceRateLimit& limit) {
  if (!IsValid(limit)) return false;
  StoreRateLimit(limit);
  client.limit_set_by_caller = true;
  Wake();
  return true;
}

PresenceRateLimit RpcClient::presence_rate_limit() { return CurrentRateLimit(); }

void RpcClient::DispatchCallbacks() {
  if (!client.connection) return;
  int32_t disconnect_code = 0;
  char disconnect_message[kMailboxTextCapacity];
  const bool disconnected = Take(client.disconnected, disconnect_code, disconnect_message);
  const bool ready = client.connection->state() == RpcConnection::State::Ready;

  // A disconnection before the present connection comes before its on_ready.
  if (ready && disconnected)
    Call(client.handlers.on_disconnected, disconnect_code, disconnect_message);
  if (client.connected.exchange(false, std::memory_order_acq_rel)) Call(client.handlers.on_ready);

  int32_t code = 0;
  char text[kMailboxTextCapacity];
  if (Take(client.error, code, text)) Call(client.handlers.on_error, code, text);
  if (Take(client.join, code, text)) Call(client.handlers.on_join_game, text);
  if (Take(client.spectate, code, text)) Call(client.handlers.on_spectate_game, text);

  while (client.join_count.load(std::memory_order_acquire) != 0) {
    const JoinRequestSlot& slot =
        client.join_requests[client.join_read.fetch_add(1) % kJoinRequestSlots];
    const JoinRequestUser user{slot.id, slot.username, slot.discriminator, slot.avatar};
    Call(client.handlers.on_join_request, &user);
    client.join_count.fetch_sub(1, std::memory_order_release);
  }

  if (!ready && disconnected)
    Call(client.handlers.on_disconnected, disconnect_code, disconnect_message);
}

namespace test_seam {

void SetClientHooks(const ClientHooks& hooks) { client.hooks = hooks; }

void ResetClient() {
  {
    std::lock_guard<std::mutex> lock(client.presence_mutex);
    client.pending_length = 0;
  }
  client.outgoing_length = 0;
  client.queue_write = client.queue_read = client.queue_count = 0;
  client.connected = false;
  client.disconnected.flag = client.error.flag = client.join.flag = client.spectate.flag = false;
  client.join_write = client.join_read = client.join_count = 0;
  client.backoff.Reset();
  client.next_attempt = Now();
  client.lost_recently = false;
  client.nonce_counter = 1;
  StoreRateLimit(PresenceRateLimit());
  client.limit_set_by_caller = false;
  client.limiter.Reset();
  client.presence_held = false;
  client.presence_sends = 0;
}

int32_t PresenceSends() { return client.presence_sends.load(std::memory_order_acquire); }

BackoffView ReadBackoff() {
  const int64_t next_attempt = client.next_attempt.load(std::memory_order_acquire);
  return {client.backoff.current(), client.backoff.attempts(), next_attempt};
}

MailboxView ReadMailboxes() {
  return {client.connected.load(),     client.disconnected.flag.load(),
          client.error.flag.load(),    client.join.flag.load(),
          client.spectate.flag.load(), static_cast<int32_t>(client.join_count.load())};
}

RpcConnection::State ConnectionState() {
  return client.connection ? client.connection->state() : RpcConnection::State::Closed;
}

size_t OutputPending() { return client.connection ? client.connection->output_pending_seen() : 0; }

size_t PartialFrameBytes() {
  return client.connection ? client.connection->partial_frame_seen() : 0;
}

bool Subscribe(const char* event_name) { return mau::discord::Subscribe(event_name); }

}  // namespace test_seam

}  // namespace mau::discord
