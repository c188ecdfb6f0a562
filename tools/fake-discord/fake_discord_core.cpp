#include "fake_discord_core.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "ipc_server.h"
#include "shallow_json.h"

namespace mau::fake_discord {

namespace {

using std::chrono::milliseconds;

constexpr uint32_t kOpHandshake = 0;
constexpr uint32_t kOpFrame = 1;
constexpr uint32_t kOpClose = 2;
constexpr uint32_t kOpPing = 3;
constexpr uint32_t kOpPong = 4;

constexpr size_t kMaxPayload = 64 * 1024;
// Discord's limits on an activity: its texts, its image keys, its times (in seconds, from
// the epoch to the end of the year 9999).
constexpr size_t kMinTextCharacters = 2;
constexpr size_t kMaxTextCharacters = 128;
constexpr size_t kMaxImageKeyCharacters = 256;
constexpr int64_t kLatestUnixTime = 253402300799;
constexpr size_t kMaxKept = 10000;  // received frames and activities kept for the waiters
constexpr milliseconds kPollInterval{10};
constexpr milliseconds kFrameTimeout{2000};
constexpr milliseconds kSplitPause{20};

// RPC error codes of Discord's documentation.
constexpr int kInvalidPayload = 4000;
constexpr int kInvalidCommand = 4002;
constexpr int kInvalidEvent = 4004;
// Close codes.
constexpr int kCloseInvalidClientId = 4000;
constexpr int kCloseInvalidVersion = 4004;
constexpr int kCloseUnsupported = 1003;

}  // namespace

std::optional<size_t> Utf8Length(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t extra;
    uint32_t value;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      value = lead & 0x07u;
    } else {
      return std::nullopt;
    }
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (byte(i + k) & 0x3Fu);
    }
    if ((extra == 2 && value < 0x800) || (extra == 3 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF)) {
      return std::nullopt;
    }
    i += extra + 1;
  }
  return count;
}

namespace {

std::string_view Text(const rapidjson::Value& value) {
  return {value.GetString(), value.GetStringLength()};
}

const rapidjson::Value* Member(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  const auto found = object.FindMember(name);
  return found != object.MemberEnd() ? &found->value : nullptr;
}

std::string StringOr(const rapidjson::Value& object, const char* name, std::string fallback = {}) {
  const rapidjson::Value* value = Member(object, name);
  return value != nullptr && value->IsString() ? std::string(Text(*value)) : fallback;
}

int64_t IntegerOr(const rapidjson::Value& object, const char* name, int64_t fallback = 0) {
  const rapidjson::Value* value = Member(object, name);
  return value != nullptr && value->IsInt64() ? value->GetInt64() : fallback;
}

// Every string below `value`, member names included, must be valid UTF-8; the first that
// is not is named by its path below the command's "args", as Discord names fields
// ("activity.state"); texts beside "args" are named as they are ("nonce").
std::string CheckUtf8(const rapidjson::Value& value, const std::string& path) {
  if (value.IsString()) {
    return Utf8Length(Text(value)) ? std::string() : "\"" + path + "\" is not valid UTF-8";
  }
  if (value.IsObject()) {
    for (auto m = value.MemberBegin(); m != value.MemberEnd(); ++m) {
      const std::string_view name = Text(m->name);
      if (!Utf8Length(name)) {
        return path.empty() ? "A member name is not valid UTF-8"
                            : "A member name of \"" + path + "\" is not valid UTF-8";
      }
      const bool below_args = path.empty() && name == "args";
      std::string error =
          CheckUtf8(m->value, below_args ? std::string()
                                         : (path.empty() ? "" : path + ".") + std::string(name));
      if (!error.empty()) return error;
    }
  }
  if (value.IsArray()) {
    for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
      std::string error = CheckUtf8(value[i], path + "[" + std::to_string(i) + "]");
      if (!error.empty()) return error;
    }
  }
  return {};
}

// Why Discord would refuse an activity (valid UTF-8 already) for its texts, image keys or
// times; empty when it would not.
std::string CheckLimits(const rapidjson::Value& body) {
  const rapidjson::Value* assets = Member(body, "assets");
  const rapidjson::Value* timestamps = Member(body, "timestamps");
  const struct {
    const rapidjson::Value* object;
    const char* name;
    const char* path;
    size_t min;
    size_t max;
  } texts[] = {
      {&body, "state", "activity.state", kMinTextCharacters, kMaxTextCharacters},
      {&body, "details", "activity.details", kMinTextCharacters, kMaxTextCharacters},
      {assets, "large_image", "activity.assets.large_image", 1, kMaxImageKeyCharacters},
      {assets, "large_text", "activity.assets.large_text", kMinTextCharacters, kMaxTextCharacters},
      {assets, "small_image", "activity.assets.small_image", 1, kMaxImageKeyCharacters},
      {assets, "small_text", "activity.assets.small_text", kMinTextCharacters, kMaxTextCharacters},
  };
  const std::string quote = "\"";
  for (const auto& text : texts) {
    const rapidjson::Value* value =
        text.object != nullptr ? Member(*text.object, text.name) : nullptr;
    if (value == nullptr || value->IsNull()) continue;
    if (!value->IsString()) return quote + text.path + "\" must be a string";
    const size_t length = Utf8Length(Text(*value)).value_or(0);
    if (length < text.min) {
      return quote + text.path + "\" must be at least " + std::to_string(text.min) + " characters";
    }
    if (length > text.max) {
      return quote + text.path + "\" must be at most " + std::to_string(text.max) + " characters";
    }
  }
  for (const char* name : {"start", "end"}) {
    const rapidjson::Value* time = timestamps != nullptr ? Member(*timestamps, name) : nullptr;
    if (time == nullptr || time->IsNull()) continue;
    if (!time->IsInt64() || time->GetInt64() < 1 || time->GetInt64() > kLatestUnixTime) {
      return quote + "activity.timestamps." + name +
             "\" must be a Unix time in seconds between 1970 and 9999";
    }
  }
  return {};
}

// Reads a SET_ACTIVITY command whose texts are valid UTF-8; `error` says why Discord would
// refuse it.
ReceivedActivity ReadActivity(const rapidjson::Value& command) {
  ReceivedActivity activity;
  activity.nonce = StringOr(command, "nonce");
  const rapidjson::Value* args = Member(command, "args");
  if (args == nullptr || !args->IsObject()) {
    activity.error = "\"args\" must be an object";
    return activity;
  }
  const rapidjson::Value* pid = Member(*args, "pid");
  if (pid == nullptr || !pid->IsInt64()) {
    activity.error = "\"pid\" must be an integer";
    return activity;
  }
  activity.pid = pid->GetInt64();
  const rapidjson::Value* body = Member(*args, "activity");
  if (body == nullptr || body->IsNull()) {
    activity.cleared = true;
    return activity;
  }
  if (!body->IsObject()) {
    activity.error = "\"activity\" must be an object";
    return activity;
  }
  activity.error = CheckLimits(*body);
  if (!activity.error.empty()) return activity;

  activity.state = StringOr(*body, "state");
  activity.details = StringOr(*body, "details");
  activity.instance = Member(*body, "instance") != nullptr && Member(*body, "instance")->IsTrue();
  if (const rapidjson::Value* timestamps = Member(*body, "timestamps")) {
    activity.start = IntegerOr(*timestamps, "start");
    activity.end = IntegerOr(*timestamps, "end");
  }
  if (const rapidjson::Value* assets = Member(*body, "assets")) {
    activity.large_image = StringOr(*assets, "large_image");
    activity.large_text = StringOr(*assets, "large_text");
    activity.small_image = StringOr(*assets, "small_image");
    activity.small_text = StringOr(*assets, "small_text");
  }
  return activity;
}

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteNonce(JsonWriter& writer, const std::string& nonce) {
  writer.Key("nonce");
  if (nonce.empty()) {
    writer.Null();
  } else {
    writer.String(nonce.c_str(), static_cast<rapidjson::SizeType>(nonce.size()));
  }
}

std::string ErrorReply(const std::string& cmd, const std::string& nonce, int code,
                       const std::string& message) {
  rapidjson::StringBuffer out;
  JsonWriter writer(out);
  writer.StartObject();
  writer.Key("cmd");
  writer.String(cmd.c_str(), static_cast<rapidjson::SizeType>(cmd.size()));
  writer.Key("data");
  writer.StartObject();
  writer.Key("code");
  writer.Int(code);
  writer.Key("message");
  writer.String(message.c_str(), static_cast<rapidjson::SizeType>(message.size()));
  writer.EndObject();
  writer.Key("evt");
  writer.String("ERROR");
  WriteNonce(writer, nonce);
  writer.EndObject();
  return out.GetString();
}

std::string CloseText(int code, const std::string& message) {
  rapidjson::StringBuffer out;
  JsonWriter writer(out);
  writer.StartObject();
  writer.Key("code");
  writer.Int(code);
  writer.Key("message");
  writer.String(message.c_str(), static_cast<rapidjson::SizeType>(message.size()));
  writer.EndObject();
  return out.GetString();
}

std::string ReadyEvent() {
  return R"({"cmd":"DISPATCH","data":{"v":1,"config":{"cdn_host":"cdn.discordapp.com",)"
         R"("api_endpoint":"//discord.com/api","environment":"production"},)"
         R"("user":{"id":"381947265013458944","username":"tabby_cat","discriminator":"0",)"
         R"("global_name":"Tabby","avatar":null,"bot":false,"flags":0,"premium_type":0}},)"
         R"("evt":"READY","nonce":null})";
}

}  // namespace

struct FakeDiscord::State {
  explicit State(FakeDiscordOptions o) : options(std::move(o)) {}

  FakeDiscordOptions options;
  IpcServer server;  // the stand-in's thread only, once started
  std::thread thread;
  std::atomic<bool> stopping{false};

  mutable std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  std::deque<ReceivedFrame> frames;
  std::deque<ReceivedActivity> activities;
  std::deque<std::pair<uint32_t, std::string>> outbox;
  int connections = 0;
  int error_replies = 0;
  int ready_connection = 0;  // the latest connection that completed the handshake
  int ended_connection = 0;  // the latest connection that ended
  bool connected = false;
  bool drop_requested = false;
  std::string endpoint;
  // When the activities of the present connection that count for the rate limit were
  // accepted (the stand-in's thread only).
  std::deque<std::chrono::steady_clock::time_point> accepted;

  void Run();
  void Serve(int connection);
  bool WriteFrame(uint32_t opcode, const std::string& payload);
  // Answers one frame, noting a refusal in it; false when the connection must end (with
  // `reason`).
  bool Answer(ReceivedFrame& frame, bool& handshaken, std::string& reason);
  std::string AnswerCommand(ReceivedFrame& frame);
  // The ERROR event refusing `frame`'s command, counted and noted in the frame.
  std::string Refuse(ReceivedFrame& frame, const std::string& nonce, int code,
                     const std::string& message);
  // Hands a received frame to the observer and the waiters.
  void Report(ReceivedFrame frame);
  // Whether an activity accepted now would exceed the rate limit; records it when not.
  bool OverRateLimit();

  template <typename T>
  void Keep(std::deque<T>& queue, T item) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (queue.size() == kMaxKept) queue.pop_front();
      queue.push_back(std::move(item));
    }
    changed.notify_all();
  }

  template <typename T>
  std::optional<T> Take(std::deque<T>& queue, milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, timeout, [&] { return !queue.empty(); })) return std::nullopt;
    T item = std::move(queue.front());
    queue.pop_front();
    return item;
  }
};

FakeDiscord::FakeDiscord(FakeDiscordOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

FakeDiscord::~FakeDiscord() { Stop(); }

bool FakeDiscord::Start(std::string* error) {
  Stop();
  std::string ignored;
  if (!state_->server.Listen(state_->options.directory, state_->options.pipe_index,
                             error != nullptr ? error : &ignored)) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->endpoint = state_->server.endpoint();
  }
  state_->stopping = false;
  state_->thread = std::thread([state = state_.get()] { state->Run(); });
  return true;
}

void FakeDiscord::Stop() {
  state_->stopping = true;
  if (state_->thread.joinable()) state_->thread.join();
  state_->server.Stop();
}

std::optional<ReceivedFrame> FakeDiscord::WaitForFrame(milliseconds timeout) {
  return state_->Take(state_->frames, timeout);
}

std::optional<ReceivedActivity> FakeDiscord::WaitForActivity(milliseconds timeout) {
  return state_->Take(state_->activities, timeout);
}

bool FakeDiscord::WaitForReady(int connection, milliseconds timeout) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout,
                                  [&] { return state_->ready_connection >= connection; });
}

bool FakeDiscord::SendFrame(uint32_t opcode, const std::string& payload) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->connected) return false;
  state_->outbox.emplace_back(opcode, payload);
  return true;
}

bool FakeDiscord::DropConnection() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (!state_->connected) return false;
  state_->drop_requested = true;
  // A client may be connected again before this thread looks: wait for the end of the
  // connection that was dropped.
  const int dropped = state_->connections;
  return state_->changed.wait_for(lock, std::chrono::seconds(5),
                                  [&] { return state_->ended_connection >= dropped; });
}

int FakeDiscord::connection_count() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->connections;
}

int FakeDiscord::error_reply_count() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->error_replies;
}

std::string FakeDiscord::endpoint() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->endpoint;
}

void FakeDiscord::State::Run() {
  while (!stopping) {
    if (!server.Accept(milliseconds(50))) continue;
    int connection;
    {
      std::lock_guard<std::mutex> lock(mutex);
      connection = ++connections;
      connected = true;
      drop_requested = false;
      outbox.clear();
    }
    Serve(connection);
  }
}

void FakeDiscord::State::Serve(int connection) {
  const bool faults = options.faults_on_every_connection || connection == 1;
  bool handshaken = false;
  bool stalled = false;
  int frames_received = 0;
  int frames_for_ping = 0;
  std::string reason;
  accepted.clear();
  while (reason.empty()) {
    if (stopping) {
      reason = "fake-discord stopped";
      break;
    }
    // Frames queued by SendFrame go out first, also ahead of a requested drop.
    std::deque<std::pair<uint32_t, std::string>> pending;
    bool drop;
    {
      std::lock_guard<std::mutex> lock(mutex);
      pending.swap(outbox);
      drop = drop_requested;
    }
    for (const auto& [opcode, payload] : pending) {
      if (!WriteFrame(opcode, payload)) reason = "the client went away";
    }
    if (reason.empty() && drop) reason = "dropped on request";
    if (!reason.empty()) break;
    if (stalled) {
      std::this_thread::sleep_for(kPollInterval);
      continue;
    }

    const IoResult readable = server.WaitReadable(kPollInterval);
    if (readable == IoResult::Timeout) continue;
    unsigned char header[8];
    if (readable == IoResult::Closed || server.Read(header, 8, kFrameTimeout) != IoResult::Ok) {
      reason = "the client hung up";
      break;
    }
    const uint32_t opcode =
        header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
    const uint32_t length =
        header[4] | header[5] << 8 | header[6] << 16 | uint32_t{header[7]} << 24;
    if (length > kMaxPayload) {
      reason = "a frame of " + std::to_string(length) + " bytes";
      break;
    }
    std::string payload(length, '\0');
    if (length != 0 && server.Read(payload.data(), length, kFrameTimeout) != IoResult::Ok) {
      reason = "an incomplete frame";
      break;
    }
    ++frames_received;
    ReceivedFrame frame;
    frame.connection = connection;
    frame.opcode = opcode;
    frame.payload = std::move(payload);
    if (faults && options.drop_after > 0 && frames_received == options.drop_after) {
      Report(std::move(frame));
      reason = "dropped after " + std::to_string(frames_received) + " frames";
      break;
    }
    const bool answered = Answer(frame, handshaken, reason);
    Report(std::move(frame));
    if (!answered) break;
    if (faults && options.close_after > 0 && frames_received == options.close_after) {
      WriteFrame(kOpClose, CloseText(options.close_code, options.close_message));
      reason = "closed after " + std::to_string(frames_received) + " frames";
      break;
    }
    if (opcode != kOpPong && options.ping_every > 0 &&
        ++frames_for_ping % options.ping_every == 0) {
      WriteFrame(kOpPing, R"({"ping":)" + std::to_string(frames_for_ping) + "}");
    }
    stalled = faults && options.stall_after > 0 && frames_received >= options.stall_after;
  }
  server.CloseClient();
  {
    std::lock_guard<std::mutex> lock(mutex);
    connected = false;
    drop_requested = false;
    ended_connection = connection;
  }
  changed.notify_all();
  if (options.observer.on_disconnected) options.observer.on_disconnected(connection, reason);
}

void FakeDiscord::State::Report(ReceivedFrame frame) {
  if (options.observer.on_frame) options.observer.on_frame(frame);
  Keep(frames, std::move(frame));
}

bool FakeDiscord::State::Answer(ReceivedFrame& frame, bool& handshaken, std::string& reason) {
  const int connection = frame.connection;
  const std::string& payload = frame.payload;
  switch (frame.opcode) {
    case kOpHandshake: {
      if (options.silent) return true;
      rapidjson::Document handshake;
      const bool parsed = ParseShallowJson(payload, handshake) && handshake.IsObject();
      const int64_t version = parsed ? IntegerOr(handshake, "v", -1) : -1;
      const std::string client_id = parsed ? StringOr(handshake, "client_id") : std::string();
      if (handshaken || version != 1) {
        WriteFrame(kOpClose, CloseText(kCloseInvalidVersion, "Invalid version"));
        reason = "a bad handshake";
        return false;
      }
      if (client_id.empty()) {
        WriteFrame(kOpClose, CloseText(kCloseInvalidClientId, "Invalid Client ID"));
        reason = "a handshake without a client id";
        return false;
      }
      handshaken = true;
      if (!WriteFrame(kOpFrame, ReadyEvent())) {
        reason = "the client went away";
        return false;
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        ready_connection = connection;
      }
      changed.notify_all();
      if (options.observer.on_ready) options.observer.on_ready(connection, client_id);
      return true;
    }
    case kOpFrame:
      if (!handshaken) {
        WriteFrame(kOpClose, CloseText(kCloseUnsupported, "Handshake expected"));
        reason = "a frame before the handshake";
        return false;
      }
      if (!WriteFrame(kOpFrame, AnswerCommand(frame))) {
        reason = "the client went away";
        return false;
      }
      return true;
    case kOpClose:
      reason = "the client closed the connection";
      return false;
    case kOpPing:
      if (!WriteFrame(kOpPong, payload)) {
        reason = "the client went away";
        return false;
      }
      return true;
    case kOpPong:
      return true;
    default:
      WriteFrame(kOpClose, CloseText(kCloseUnsupported, "Unknown opcode"));
      reason = "opcode " + std::to_string(frame.opcode);
      return false;
  }
}

std::string FakeDiscord::State::Refuse(ReceivedFrame& frame, const std::string& nonce, int code,
                                       const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    ++error_replies;
  }
  frame.error_code = code;
  frame.error = message;
  return ErrorReply(frame.command, nonce, code, message);
}

std::string FakeDiscord::State::AnswerCommand(ReceivedFrame& frame) {
  const std::string& payload = frame.payload;
  rapidjson::Document command;
  if (!ParseShallowJson(payload, command) || !command.IsObject()) {
    return Refuse(frame, "", kInvalidPayload, "Payload is not a JSON object of sane depth");
  }
  const std::string utf8_error = CheckUtf8(command, "");
  // What is echoed back stays valid UTF-8.
  frame.command = StringOr(command, "cmd");
  if (!Utf8Length(frame.command)) frame.command.clear();
  const std::string& cmd = frame.command;
  std::string nonce = StringOr(command, "nonce");
  if (!Utf8Length(nonce)) nonce.clear();

  if (cmd == "SET_ACTIVITY") {
    ReceivedActivity activity;
    if (utf8_error.empty()) {
      activity = ReadActivity(command);
    } else {
      activity.nonce = nonce;
      if (const rapidjson::Value* args = Member(command, "args")) {
        activity.pid = IntegerOr(*args, "pid");
      }
      activity.error = utf8_error;
    }
    activity.connection = frame.connection;
    activity.payload = payload;
    if (activity.error.empty() && options.error_on_set_activity) {
      activity.error = "Activity refused by fake-discord";
    }
    // Discord drops what is over its limit without a word: the reply is a success.
    if (activity.error.empty()) activity.rate_limited = frame.rate_limited = OverRateLimit();
    std::string reply;
    if (!activity.error.empty()) {
      reply = Refuse(frame, nonce, kInvalidPayload, activity.error);
    } else {
      rapidjson::StringBuffer out;
      JsonWriter writer(out);
      writer.StartObject();
      writer.Key("cmd");
      writer.String("SET_ACTIVITY");
      writer.Key("data");
      const rapidjson::Value* args = Member(command, "args");
      const rapidjson::Value* body = args != nullptr ? Member(*args, "activity") : nullptr;
      if (body != nullptr && body->IsObject()) {
        body->Accept(writer);
      } else {
        writer.Null();
      }
      writer.Key("evt");
      writer.Null();
      WriteNonce(writer, nonce);
      writer.EndObject();
      reply = out.GetString();
    }
    if (options.observer.on_activity) options.observer.on_activity(activity);
    Keep(activities, std::move(activity));
    return reply;
  }
  if (!utf8_error.empty()) return Refuse(frame, nonce, kInvalidPayload, utf8_error);
  if (cmd == "SUBSCRIBE") {
    const std::string evt = StringOr(command, "evt");
    if (evt != "ACTIVITY_JOIN" && evt != "ACTIVITY_SPECTATE" && evt != "ACTIVITY_JOIN_REQUEST") {
      return Refuse(frame, nonce, kInvalidEvent, "Invalid event: " + evt);
    }
    rapidjson::StringBuffer out;
    JsonWriter writer(out);
    writer.StartObject();
    writer.Key("cmd");
    writer.String("SUBSCRIBE");
    writer.Key("data");
    writer.StartObject();
    writer.Key("evt");
    writer.String(evt.c_str(), static_cast<rapidjson::SizeType>(evt.size()));
    writer.EndObject();
    writer.Key("evt");
    writer.Null();
    WriteNonce(writer, nonce);
    writer.EndObject();
    return out.GetString();
  }
  return Refuse(frame, nonce, kInvalidCommand, "Invalid command: " + cmd);
}

bool FakeDiscord::State::OverRateLimit() {
  if (options.rate_limit_count <= 0) return false;
  const auto now = std::chrono::steady_clock::now();
  while (!accepted.empty() && now - accepted.front() >= options.rate_limit_window) {
    accepted.pop_front();
  }
  if (accepted.size() >= static_cast<size_t>(options.rate_limit_count)) return true;
  accepted.push_back(now);
  return false;
}

bool FakeDiscord::State::WriteFrame(uint32_t opcode, const std::string& payload) {
  std::string frame(8, '\0');
  const uint32_t length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) {
    frame[i] = static_cast<char>(opcode >> (8 * i));
    frame[4 + i] = static_cast<char>(length >> (8 * i));
  }
  frame += payload;
  if (!options.split_frames) return server.Write(frame.data(), frame.size());
  // A reader that expects whole frames sees first a header that is not all there, then a
  // payload that is not.
  size_t written = 0;
  for (const size_t end : {size_t{5}, 8 + payload.size() / 2, frame.size()}) {
    if (end <= written) continue;
    if (written != 0) std::this_thread::sleep_for(kSplitPause);
    if (!server.Write(frame.data() + written, end - written)) return false;
    written = end;
  }
  return true;
}

}  // namespace mau::fake_discord
