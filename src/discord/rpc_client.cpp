#include "discord/rpc_client.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>

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
constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int32_t kPassIntervalMs = 500;
// "DBG" and "NET".
constexpr uint32_t kDiscordLogCategories = 65;

// Monotonic time in 100-nanosecond ticks. Reconnection deadlines must not move when
// someone sets the wall clock.
int64_t MonotonicTicks() {
  const int64_t count = ReadPerformanceCounter();
  const int64_t frequency = ReadPerformanceFrequency();
  return count / frequency * 10000000 + count % frequency * 10000000 / frequency;
}

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
  std::atomic<uint32_t> process_id;
  std::atomic<int32_t> nonce_counter{1};

  // The pending presence command; 0 = nothing pending.
  std::mutex presence_mutex;
  size_t pending_length = 0;
  char pending[kCommandCapacity];
  // The most recent presence command the I/O thread took, kept to send it again to a
  // Discord that restarted. I/O thread only.
  size_t outgoing_length = 0;
  char outgoing[kCommandCapacity];

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

  // The I/O thread. The mutex guards wake_requested and serves the timed wait; it is
  // never held during I/O.
  std::atomic<bool> keep_running{false};
  std::mutex thread_mutex;
  std::condition_variable wake;
  bool wake_requested = false;
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
  const int64_t delay = client.backoff.Advance(u);
  // Released after the back-off's own fields, so a reader that sees the new deadline sees
  // the attempt and delay that go with it.
  client.next_attempt.store(Now() + delay * kTicksPerMillisecond, std::memory_order_release);
}

// Makes the I/O thread run a pass as soon as it can. The flag is set under the thread's
// mutex, so a request made while the thread is busy is seen before its next wait.
void Wake() {
  {
    std::lock_guard<std::mutex> lock(client.thread_mutex);
    client.wake_requested = true;
  }
  client.wake.notify_all();
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

void SendPendingPresence(RpcConnection& connection) {
  {
    std::lock_guard<std::mutex> lock(client.presence_mutex);
    if (client.pending_length == 0) return;
    std::memcpy(client.outgoing, client.pending, client.pending_length);
    client.outgoing_length = client.pending_length;
    client.pending_length = 0;
  }
  if (connection.Write(client.outgoing, client.outgoing_length)) return;
  // Keep it for the next connection, unless a newer presence arrived meanwhile.
  std::lock_guard<std::mutex> lock(client.presence_mutex);
  if (client.pending_length == 0) {
    std::memcpy(client.pending, client.outgoing, client.outgoing_length);
    client.pending_length = client.outgoing_length;
  }
}

void DrainQueue(RpcConnection& connection) {
  while (client.queue_count.load(std::memory_order_acquire) != 0) {
    const CommandSlot& slot = client.queue[client.queue_read.fetch_add(1) % kQueueSlots];
    (void)connection.Write(slot.bytes, slot.length);  // a command that fails is dropped
    client.queue_count.fetch_sub(1, std::memory_order_release);
  }
}

void ServiceConnection() {
  RpcConnection* connection = client.connection.get();
  if (connection == nullptr) return;
  if (connection->state() != RpcConnection::State::Ready) {
    // Every step of connecting, the wait for READY included, waits for the backoff.
    if (Now() >= client.next_attempt.load(std::memory_order_relaxed)) {
      AdvanceBackoff();
      connection->Open();
    }
    return;
  }
  while (const JsonValue* message = connection->Read()) HandleMessage(*message);
  // After a lost connection these writes fail quietly; the presence stays pending.
  SendPendingPresence(*connection);
  DrainQueue(*connection);
}

void RunIoThread() {
  while (client.keep_running.load(std::memory_order_acquire)) {
    ServiceConnection();
    const int32_t interval_ms =
        client.hooks.pass_interval_ms > 0 ? client.hooks.pass_interval_ms : kPassIntervalMs;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_ms);
    std::unique_lock<std::mutex> lock(client.thread_mutex);
    client.wake.wait_until(lock, deadline, [] { return client.wake_requested; });
    client.wake_requested = false;
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

  std::unique_ptr<RpcConnection> connection(new (std::nothrow) RpcConnection(application_id));
  if (!connection) return;
  connection->set_on_connected(&OnConnected);
  connection->set_on_closed(&OnDisconnected);
  client.connection = std::move(connection);
  client.keep_running = true;
  try {
    client.thread = std::thread(&RunIoThread);
  } catch (const std::system_error&) {
    client.keep_running = false;
    client.connection.reset();
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
}

void RpcClient::SetPresence(const DiscordPresence& presence) { StorePresence(&presence); }

void RpcClient::ResetPresence() { StorePresence(nullptr); }

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
  client.nonce_counter = 1;
}

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

bool Subscribe(const char* event_name) { return mau::discord::Subscribe(event_name); }

}  // namespace test_seam

}  // namespace mau::discord
