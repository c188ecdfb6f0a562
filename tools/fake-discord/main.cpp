// fake-discord: a stand-in for the Discord desktop application's local RPC channel. It
// shows every activity it receives as a readable card, or with --jsonl prints one JSON
// object per received frame, can apply Discord's rate limit, and can inject the faults a
// real Discord may produce. A command it refuses as Discord would (with an ERROR event)
// shows as a refused card, or with "error" in its JSON line, and is counted; the count is
// printed at exit.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <thread>

#include "discord/presence_rate_limit.h"
#include "fake_discord_core.h"
#include "shallow_json.h"

namespace {

using mau::fake_discord::FakeDiscord;
using mau::fake_discord::FakeDiscordOptions;
using mau::fake_discord::ReceivedActivity;
using mau::fake_discord::ReceivedFrame;

std::atomic<bool> interrupted{false};
std::atomic<bool> first_connection_ended{false};
std::atomic<int> refusals{0};  // refused commands shown as cards so far

const char kUsage[] =
    "usage: fake-discord [options]\n"
    "\n"
    "Listens where the Discord desktop application does and answers its local RPC\n"
    "protocol. Every activity received is shown as a card on standard output; a\n"
    "command Discord would refuse is answered with an ERROR event, shown and counted.\n"
    "\n"
    "  --dir DIR            put the socket into DIR (POSIX; default: Discord's directory)\n"
    "  --pipe N             listen on discord-ipc-N, N from 0 to 9 (default 0)\n"
    "  --jsonl              print one JSON object per received frame instead of cards\n"
    "  --ping-every N       send a ping after every Nth received frame\n"
    "  --close-after N      send OP_CLOSE after answering the Nth frame of a connection\n"
    "  --close-code C       code of that OP_CLOSE (default 1000)\n"
    "  --close-message M    message of that OP_CLOSE\n"
    "  --drop-after N       hang up on receiving the Nth frame of a connection\n"
    "  --every-connection   repeat --close-after, --drop-after and --stall-after on every\n"
    "                       connection (default: the first connection only)\n"
    "  --error-on-activity  answer every SET_ACTIVITY with an ERROR event\n"
    "  --rate-limit N/SECONDS\n"
    "                       ignore, silently and with a success reply, every SET_ACTIVITY\n"
    "                       beyond N accepted in the last SECONDS, as Discord does (5/20)\n"
    "  --split-frames       write every frame in three pieces, header split, 20 ms apart\n"
    "  --silent             never answer the handshake\n"
    "  --stall-after N      stop reading after answering the Nth frame of a connection\n"
    "  --once               exit when the first connection ends\n"
    "  -h, --help           show this text\n";

void OnSignal(int) { interrupted = true; }

bool ParseCount(const char* text, int minimum, int maximum, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < minimum || parsed > maximum) return false;
  value = static_cast<int>(parsed);
  return true;
}

std::string Elapsed(int64_t seconds) {
  const bool negative = seconds < 0;
  if (negative) seconds = -seconds;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return negative ? std::string("in ") + text : std::string(text);
}

void PrintLine(const char* label, const std::string& value) {
  if (!value.empty()) std::printf("| %-9s %s\n", label, value.c_str());
}

void PrintImage(const char* label, const std::string& key, const std::string& text) {
  if (key.empty() && text.empty()) return;
  std::string value = key.empty() ? "(no image)" : key;
  if (!text.empty()) value += "  \"" + text + "\"";
  PrintLine(label, value);
}

void PrintCard(const ReceivedActivity& activity) {
  if (activity.rate_limited) {
    std::printf("+-- connection %d, nonce %s (ignored: rate limit)\n", activity.connection,
                activity.nonce.empty() ? "(none)" : activity.nonce.c_str());
    std::fflush(stdout);
    return;
  }
  std::printf("+-- connection %d, nonce %s, pid %lld\n", activity.connection,
              activity.nonce.empty() ? "(none)" : activity.nonce.c_str(),
              static_cast<long long>(activity.pid));
  if (!activity.error.empty()) {
    std::printf("| refused   %s  [refusal %d]\n", activity.error.c_str(), ++refusals);
  } else if (activity.cleared) {
    std::printf("| (presence cleared)\n");
  } else {
    PrintLine("details", activity.details);
    PrintLine("state", activity.state);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (activity.start != 0) PrintLine("elapsed", Elapsed(now - activity.start));
    if (activity.end != 0) PrintLine("remaining", Elapsed(activity.end - now));
    PrintImage("large", activity.large_image, activity.large_text);
    PrintImage("small", activity.small_image, activity.small_text);
  }
  std::printf("+--\n");
  std::fflush(stdout);
}

// A refused frame that is no activity (not JSON, an unknown command) still gets a card;
// refused activities have theirs from PrintCard.
void PrintRefusedFrame(const ReceivedFrame& frame) {
  if (frame.error.empty() || frame.command == "SET_ACTIVITY") return;
  std::printf("+-- connection %d, %s command\n", frame.connection,
              frame.command.empty() ? "unreadable" : frame.command.c_str());
  std::printf("| refused   %s  [refusal %d]\n+--\n", frame.error.c_str(), ++refusals);
  std::fflush(stdout);
}

const char* OpcodeName(uint32_t opcode) {
  static const char* const kNames[] = {"HANDSHAKE", "FRAME", "CLOSE", "PING", "PONG"};
  return opcode < 5 ? kNames[opcode] : "UNKNOWN";
}

void PrintJsonLine(const ReceivedFrame& frame) {
  rapidjson::StringBuffer out;
  rapidjson::Writer<rapidjson::StringBuffer> writer(out);
  writer.StartObject();
  writer.Key("connection");
  writer.Int(frame.connection);
  writer.Key("opcode");
  writer.Uint(frame.opcode);
  writer.Key("opcode_name");
  writer.String(OpcodeName(frame.opcode));
  // Every line is valid JSON in valid UTF-8: a payload that is not UTF-8 is written in hex.
  rapidjson::Document payload;
  if (!mau::fake_discord::Utf8Length(frame.payload)) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : frame.payload) {
      hex += kHex[byte >> 4];
      hex += kHex[byte & 15];
    }
    writer.Key("payload_hex");
    writer.String(hex.c_str(), static_cast<rapidjson::SizeType>(hex.size()));
  } else if (mau::fake_discord::ParseShallowJson(frame.payload, payload)) {
    writer.Key("payload");
    payload.Accept(writer);
  } else {
    writer.Key("payload_text");
    writer.String(frame.payload.c_str(), static_cast<rapidjson::SizeType>(frame.payload.size()));
  }
  if (!frame.error.empty()) {
    writer.Key("error");
    writer.StartObject();
    writer.Key("code");
    writer.Int(frame.error_code);
    writer.Key("message");
    writer.String(frame.error.c_str(), static_cast<rapidjson::SizeType>(frame.error.size()));
    writer.EndObject();
  }
  if (frame.rate_limited) {
    writer.Key("ignored");
    writer.String("rate limit");
  }
  writer.EndObject();
  std::printf("%s\n", out.GetString());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  FakeDiscordOptions options;
  bool jsonl = false;
  bool once = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    auto count = [&](int minimum, int maximum, int& value) {
      if (!has_value || !ParseCount(argv[++i], minimum, maximum, value)) {
        std::fprintf(stderr, "fake-discord: %s needs a number from %d to %d\n", argv[i - 1],
                     minimum, maximum);
        std::exit(2);
      }
    };
    auto text = [&](std::string& value) {
      if (!has_value) {
        std::fprintf(stderr, "fake-discord: %s needs a value\n", argv[i]);
        std::exit(2);
      }
      value = argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--dir") {
      text(options.directory);
    } else if (arg == "--pipe") {
      count(0, 9, options.pipe_index);
    } else if (arg == "--jsonl") {
      jsonl = true;
    } else if (arg == "--ping-every") {
      count(1, 1000000, options.ping_every);
    } else if (arg == "--close-after") {
      count(1, 1000000, options.close_after);
    } else if (arg == "--close-code") {
      int code = 0;
      count(-2147483647, 2147483647, code);
      options.close_code = code;
    } else if (arg == "--close-message") {
      text(options.close_message);
    } else if (arg == "--drop-after") {
      count(1, 1000000, options.drop_after);
    } else if (arg == "--every-connection") {
      options.faults_on_every_connection = true;
    } else if (arg == "--error-on-activity") {
      options.error_on_set_activity = true;
    } else if (arg == "--rate-limit") {
      int64_t sends = 0;
      int64_t window_ms = 0;
      if (!has_value || !mau::discord::ParseRateText(argv[++i], sends, window_ms) || sends < 1 ||
          sends > 1000000 || window_ms < 1) {
        std::fprintf(stderr, "fake-discord: --rate-limit needs N/SECONDS, such as 5/20\n");
        std::exit(2);
      }
      options.rate_limit_count = static_cast<int>(sends);
      options.rate_limit_window = std::chrono::milliseconds(window_ms);
    } else if (arg == "--split-frames") {
      options.split_frames = true;
    } else if (arg == "--silent") {
      options.silent = true;
    } else if (arg == "--stall-after") {
      count(1, 1000000, options.stall_after);
    } else if (arg == "--once") {
      once = true;
    } else {
      std::fprintf(stderr, "fake-discord: unknown option %s\n\n%s", argv[i], kUsage);
      return 2;
    }
  }

  options.observer.on_ready = [](int connection, const std::string& client_id) {
    std::fprintf(stderr, "fake-discord: connection %d ready (client id %s)\n", connection,
                 client_id.c_str());
  };
  options.observer.on_disconnected = [](int connection, const std::string& reason) {
    std::fprintf(stderr, "fake-discord: connection %d ended: %s\n", connection, reason.c_str());
    if (connection == 1) first_connection_ended = true;
  };
  if (jsonl) {
    options.observer.on_frame = &PrintJsonLine;
  } else {
    options.observer.on_activity = &PrintCard;
    options.observer.on_frame = &PrintRefusedFrame;
  }

  FakeDiscord discord(options);
  std::string error;
  if (!discord.Start(&error)) {
    std::fprintf(stderr, "fake-discord: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "fake-discord: listening on %s\n", discord.endpoint().c_str());
  std::signal(SIGINT, &OnSignal);
  std::signal(SIGTERM, &OnSignal);
  while (!interrupted && !(once && first_connection_ended)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  discord.Stop();
  std::fprintf(stderr, "fake-discord: %d command%s refused with an ERROR event\n",
               discord.error_reply_count(), discord.error_reply_count() == 1 ? "" : "s");
  return 0;
}
