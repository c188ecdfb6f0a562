// Fuzzes the Discord message writer with arbitrary bytes in every text of a presence (and
// in the event name and application id of the other two commands): whatever the input, a
// command is either not written (length 0, only when a buffer smaller than the client's
// is given) or is one JSON object in valid UTF-8 within its buffer, whose texts are those
// given (cut, or with an invisible second character) whenever they were valid UTF-8, and
// whose card texts take 2 to 128 characters and image keys at most 256 bytes.
//
// Input: one byte of switches, two of a small capacity, 32 of numbers (nonce, pid, start,
// end, party size and max), then the texts separated by NUL bytes in the order of
// kTextNames (missing ones are empty).
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discord/rpc_messages.h"

namespace {

using mau::discord::DiscordPresence;
using mau::discord::kCommandCapacity;

constexpr const char* kTextNames[] = {"state",       "details",    "large_image", "large_text",
                                      "small_image", "small_text", "party_id",    "match",
                                      "join",        "spectate",   "event",       "client_id"};
constexpr size_t kTexts = sizeof kTextNames / sizeof kTextNames[0];
constexpr size_t kCanary = 16;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "discord-writer: %s\n", what);
  std::abort();
}

void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// The number of characters of strictly valid UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF), or nullopt. Written apart from the writer's own reading.
std::optional<size_t> Characters(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    size_t extra;
    uint32_t value;
    if (b(i) < 0x80) {
      extra = 0;
      value = b(i);
    } else if ((b(i) & 0xE0) == 0xC0) {
      extra = 1;
      value = b(i) & 0x1F;
    } else if ((b(i) & 0xF0) == 0xE0) {
      extra = 2;
      value = b(i) & 0x0F;
    } else if ((b(i) & 0xF8) == 0xF0) {
      extra = 3;
      value = b(i) & 0x07;
    } else {
      return std::nullopt;
    }
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (b(i + k) & 0xC0) != 0x80) return std::nullopt;
      value = value << 6 | (b(i + k) & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return std::nullopt;
    }
    i += extra + 1;
  }
  return count;
}

template <typename T>
T Number(const uint8_t*& at, const uint8_t* end) {
  T value{};
  unsigned char bytes[sizeof(T)] = {};
  for (size_t i = 0; i < sizeof(T) && at < end; ++i) bytes[i] = *at++;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

// The command written into a buffer of `capacity` bytes, checked to stay inside it.
template <typename Write>
std::string Written(size_t capacity, Write write) {
  std::vector<char> buffer(capacity + kCanary, '\x5A');
  const size_t length = write(buffer.data(), capacity);
  Check(length <= capacity, "length beyond the capacity");
  for (size_t i = capacity; i < buffer.size(); ++i) Check(buffer[i] == '\x5A', "wrote past it");
  return std::string(buffer.data(), length);
}

// Parses a written command: one JSON object in valid UTF-8.
void Parse(const std::string& command, rapidjson::Document& document) {
  Check(Characters(command).has_value(), "command not valid UTF-8");
  document.Parse<rapidjson::kParseValidateEncodingFlag>(command.c_str(), command.size());
  Check(!document.HasParseError() && document.IsObject(), "command not a JSON object");
}

const rapidjson::Value* Member(const rapidjson::Value* object, const char* name) {
  if (object == nullptr || !object->IsObject()) return nullptr;
  const auto found = object->FindMember(name);
  return found != object->MemberEnd() ? &found->value : nullptr;
}

// A written text against the one given: present exactly when `expected_present`; when
// the given text is valid UTF-8, its start (or all of it with U+200B after one
// character) and never longer than `max_characters`.
void CheckText(const rapidjson::Value* written, const std::string& given, bool expected_present,
               size_t min_characters, size_t max_characters) {
  Check((written != nullptr) == expected_present, "text present or absent wrongly");
  if (written == nullptr) return;
  Check(written->IsString(), "text not a string");
  const std::string_view text(written->GetString(), written->GetStringLength());
  const std::optional<size_t> characters = Characters(text);
  Check(characters && *characters >= min_characters && *characters <= max_characters,
        "text outside its limits");
  if (!Characters(given)) return;
  const bool padded = text.size() == given.size() + 3 && text.ends_with("\xE2\x80\x8B");
  const std::string_view kept = padded ? text.substr(0, given.size()) : text;
  Check(std::string_view(given).starts_with(kept), "a valid text was changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* at = data;
  const uint8_t* end = data + size;
  const auto switches = Number<uint8_t>(at, end);
  const auto small_capacity = static_cast<size_t>(Number<uint16_t>(at, end) % 20000);
  const size_t capacity = (switches & 3) == 3 ? small_capacity : kCommandCapacity;
  const bool reset = (switches & 4) != 0;
  const size_t repeat = size_t{1} << ((switches >> 4) / 2);  // the state, up to 128 times

  const auto nonce = Number<int32_t>(at, end);
  const auto pid = Number<uint32_t>(at, end);
  DiscordPresence presence;
  presence.start = Number<int64_t>(at, end);
  presence.end = Number<int64_t>(at, end);
  presence.party_size = Number<int32_t>(at, end);
  presence.party_max = Number<int32_t>(at, end);
  presence.instance = (switches & 8) != 0;

  std::string texts[kTexts];
  for (std::string& text : texts) {
    const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(at, 0, end - at));
    if (stop == nullptr) stop = end;
    text.assign(reinterpret_cast<const char*>(at), stop - at);
    at = stop < end ? stop + 1 : end;
  }
  const std::string state = texts[0];
  for (size_t i = 1; i < repeat; ++i) texts[0] += state;
  const char** fields[] = {&presence.state,          &presence.details,      &presence.large_image,
                           &presence.large_text,     &presence.small_image,  &presence.small_text,
                           &presence.party_id,       &presence.match_secret, &presence.join_secret,
                           &presence.spectate_secret};
  for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) *fields[i] = texts[i].c_str();

  const std::string command = Written(capacity, [&](char* buffer, size_t room) {
    return mau::discord::WriteSetActivity(buffer, room, nonce, pid, reset ? nullptr : &presence);
  });
  if (command.empty()) {
    Check(capacity < kCommandCapacity, "a presence did not fit the client's buffer");
  } else {
    rapidjson::Document document;
    Parse(command, document);
    const rapidjson::Value* cmd = Member(&document, "cmd");
    Check(cmd != nullptr && cmd->IsString() && std::string_view(cmd->GetString()) == "SET_ACTIVITY",
          "no SET_ACTIVITY");
    const rapidjson::Value* written_nonce = Member(&document, "nonce");
    Check(written_nonce != nullptr && written_nonce->IsString() &&
              std::to_string(nonce) == written_nonce->GetString(),
          "wrong nonce");
    const rapidjson::Value* args = Member(&document, "args");
    const rapidjson::Value* written_pid = Member(args, "pid");
    Check(written_pid != nullptr && written_pid->IsInt() &&
              written_pid->GetInt() == static_cast<int32_t>(pid),
          "wrong pid");
    const rapidjson::Value* activity = Member(args, "activity");
    Check((activity != nullptr) == !reset, "activity present or absent wrongly");
    if (activity != nullptr) {
      const rapidjson::Value* assets = Member(activity, "assets");
      const auto set = [&](size_t i) { return !texts[i].empty(); };
      const auto key = [&](size_t i) { return set(i) && texts[i].size() <= 256; };
      CheckText(Member(activity, "state"), texts[0], set(0), 2, 128);
      CheckText(Member(activity, "details"), texts[1], set(1), 2, 128);
      CheckText(Member(assets, "large_image"), texts[2], key(2), 1, 256);
      CheckText(Member(assets, "large_text"), texts[3], set(3), 2, 128);
      CheckText(Member(assets, "small_image"), texts[4], key(4), 1, 256);
      CheckText(Member(assets, "small_text"), texts[5], set(5), 2, 128);
      CheckText(Member(Member(activity, "party"), "id"), texts[6], set(6), 1, SIZE_MAX);
      const rapidjson::Value* secrets = Member(activity, "secrets");
      CheckText(Member(secrets, "match"), texts[7], set(7), 1, SIZE_MAX);
      CheckText(Member(secrets, "join"), texts[8], set(8), 1, SIZE_MAX);
      CheckText(Member(secrets, "spectate"), texts[9], set(9), 1, SIZE_MAX);
    }
  }

  const std::string subscribe = Written(capacity, [&](char* buffer, size_t room) {
    return mau::discord::WriteSubscribe(buffer, room, nonce, texts[10].c_str());
  });
  if (!subscribe.empty()) {
    rapidjson::Document document;
    Parse(subscribe, document);
    CheckText(Member(&document, "evt"), texts[10], true, 0, SIZE_MAX);
  }
  const std::string handshake = Written(capacity, [&](char* buffer, size_t room) {
    return mau::discord::WriteHandshake(buffer, room, 1, texts[11].c_str());
  });
  if (!handshake.empty()) {
    rapidjson::Document document;
    Parse(handshake, document);
    CheckText(Member(&document, "client_id"), texts[11], true, 0, SIZE_MAX);
  }
  return 0;
}
