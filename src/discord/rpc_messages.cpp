#include "discord/rpc_messages.h"

#include <rapidjson/reader.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>

#include "discord/utf8_units.h"
#include "platform/alloc_hooks.h"

namespace mau::discord {

namespace {

// Discord's limits on the texts of an activity shown on the card (state, details and the
// images' texts), in characters, and on image keys, in bytes.
constexpr size_t kDisplayTextMaxCharacters = 128;
constexpr size_t kDisplayTextMinCharacters = 2;
constexpr size_t kImageKeyMaxBytes = 256;
// Party id and secrets are cut to this many characters only when the command would not
// fit its buffer otherwise.
constexpr size_t kShortenedTextCharacters = 128;
constexpr size_t kWholeText = SIZE_MAX;
// U+200B ZERO WIDTH SPACE: makes a one-character text two characters long without
// showing, where a space might be trimmed away again.
constexpr char kZeroWidthSpace[] = "\xE2\x80\x8B";

// rapidjson output stream over a fixed buffer: stores a byte while there is room and
// notes when one had to be dropped, so that a writer can tell a command that did not fit.
class FixedOutputStream {
 public:
  using Ch = char;
  FixedOutputStream(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  void Put(char c) {
    if (length_ < capacity_) {
      buffer_[length_++] = c;
    } else {
      overflowed_ = true;
    }
  }
  void Flush() {}
  // The bytes written, or 0 when the text did not fit.
  size_t result() const { return overflowed_ ? 0 : length_; }

 private:
  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
  bool overflowed_ = false;
};

// UTF-8 whose validation never fails: the writer (with kWriteValidateEncodingFlag) hands
// every byte of a string that needs no escape to Validate, which copies a well-formed
// character and writes U+FFFD for each invalid sequence.
struct SanitizingUtf8 : rapidjson::UTF8<char> {
  template <typename InputStream, typename OutputStream>
  static bool Validate(InputStream& in, OutputStream& out) {
    if (static_cast<unsigned char>(in.Peek()) < 0x80) {
      out.Put(in.Take());
      return true;
    }
    unsigned char bytes[4];
    const int length = TakeUtf8Unit(in, bytes);
    if (length < 0) {
      for (size_t i = 0; i + 1 < sizeof kReplacementCharacter; ++i) {
        out.Put(kReplacementCharacter[i]);
      }
      return true;
    }
    for (int i = 0; i < length; ++i) out.Put(static_cast<char>(bytes[i]));
    return true;
  }
};

using CommandWriter = rapidjson::Writer<FixedOutputStream, SanitizingUtf8, SanitizingUtf8,
                                        FixedStackAllocator, rapidjson::kWriteValidateEncodingFlag>;

bool IsSet(const char* text) { return text != nullptr && text[0] != '\0'; }

// The length of a NUL-terminated text when it is at most `limit` bytes, else `limit` + 1;
// reads no further than that.
size_t LengthUpTo(const char* text, size_t limit) {
  const void* end = std::memchr(text, '\0', limit + 1);
  return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : limit + 1;
}

bool IsImageKey(const char* text) {
  return IsSet(text) && LengthUpTo(text, kImageKeyMaxBytes) <= kImageKeyMaxBytes;
}

// The first `max_characters` characters of a NUL-terminated text (each invalid sequence
// counts as the one U+FFFD it is written as): their length in bytes and their number.
struct TextPrefix {
  size_t bytes;
  size_t characters;
};

TextPrefix Prefix(const char* text, size_t max_characters) {
  Utf8Cursor cursor(text);
  size_t characters = 0;
  unsigned char bytes[4];
  for (; characters < max_characters && !cursor.AtEnd(); ++characters) {
    if (static_cast<unsigned char>(cursor.Peek()) < 0x80) {
      cursor.Take();
    } else {
      (void)TakeUtf8Unit(cursor, bytes);
    }
  }
  return {cursor.Offset(), characters};
}

void Key(CommandWriter& writer, std::string_view key) {
  writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
}

// A text written whole, or cut to its first `max_characters` characters.
void TextMember(CommandWriter& writer, std::string_view key, const char* text,
                size_t max_characters = kWholeText) {
  if (!IsSet(text)) return;
  Key(writer, key);
  if (max_characters == kWholeText) {
    writer.String(text);
    return;
  }
  const TextPrefix prefix = Prefix(text, max_characters);
  writer.String(text, static_cast<rapidjson::SizeType>(prefix.bytes));
}

// A text shown on the card, made to take Discord's 2 to 128 characters.
void DisplayTextMember(CommandWriter& writer, std::string_view key, const char* text) {
  if (!IsSet(text)) return;
  Key(writer, key);
  // At most 128 bytes are at most 128 characters, and five bytes or more hold two
  // characters at least (one takes four bytes at most): most texts need no counting.
  const size_t bytes = LengthUpTo(text, kDisplayTextMaxCharacters);
  if (bytes <= kDisplayTextMaxCharacters && bytes > 4) {
    writer.String(text, static_cast<rapidjson::SizeType>(bytes));
    return;
  }
  const TextPrefix prefix = Prefix(text, kDisplayTextMaxCharacters);
  if (prefix.characters >= kDisplayTextMinCharacters) {
    writer.String(text, static_cast<rapidjson::SizeType>(prefix.bytes));
    return;
  }
  // One character (at most four bytes) and an invisible second one.
  char padded[4 + sizeof kZeroWidthSpace];
  std::memcpy(padded, text, prefix.bytes);
  std::memcpy(padded + prefix.bytes, kZeroWidthSpace, sizeof kZeroWidthSpace);
  writer.String(padded,
                static_cast<rapidjson::SizeType>(prefix.bytes + sizeof kZeroWidthSpace - 1));
}

void ImageKeyMember(CommandWriter& writer, std::string_view key, const char* text) {
  if (IsImageKey(text)) TextMember(writer, key, text);
}

// Opens a command's object with its "nonce" and "cmd".
void StartCommand(CommandWriter& writer, int32_t nonce, const char* cmd) {
  char text[kNonceTextCapacity];
  const size_t length = FormatNonce(nonce, text);
  writer.StartObject();
  Key(writer, "nonce");
  writer.String(text, static_cast<rapidjson::SizeType>(length));
  Key(writer, "cmd");
  writer.String(cmd);
}

// `free_text_characters` limits the texts without a limit of their own: party id and
// secrets.
void Activity(CommandWriter& writer, const DiscordPresence& p, size_t free_text_characters) {
  Key(writer, "activity");
  writer.StartObject();
  DisplayTextMember(writer, "state", p.state);
  DisplayTextMember(writer, "details", p.details);
  if (p.start != 0 || p.end != 0) {
    Key(writer, "timestamps");
    writer.StartObject();
    if (p.start != 0) {
      Key(writer, "start");
      writer.Int64(p.start);
    }
    if (p.end != 0) {
      Key(writer, "end");
      writer.Int64(p.end);
    }
    writer.EndObject();
  }
  if (IsImageKey(p.large_image) || IsSet(p.large_text) || IsImageKey(p.small_image) ||
      IsSet(p.small_text)) {
    Key(writer, "assets");
    writer.StartObject();
    ImageKeyMember(writer, "large_image", p.large_image);
    DisplayTextMember(writer, "large_text", p.large_text);
    ImageKeyMember(writer, "small_image", p.small_image);
    DisplayTextMember(writer, "small_text", p.small_text);
    writer.EndObject();
  }
  if (IsSet(p.party_id) || p.party_size != 0 || p.party_max != 0) {
    Key(writer, "party");
    writer.StartObject();
    TextMember(writer, "id", p.party_id, free_text_characters);
    if (p.party_size != 0) {
      Key(writer, "size");
      writer.StartArray();
      writer.Int(p.party_size);
      if (p.party_max > 0) writer.Int(p.party_max);
      writer.EndArray();
    }
    writer.EndObject();
  }
  if (IsSet(p.match_secret) || IsSet(p.join_secret) || IsSet(p.spectate_secret)) {
    Key(writer, "secrets");
    writer.StartObject();
    TextMember(writer, "match", p.match_secret, free_text_characters);
    TextMember(writer, "join", p.join_secret, free_text_characters);
    TextMember(writer, "spectate", p.spectate_secret, free_text_characters);
    writer.EndObject();
  }
  Key(writer, "instance");
  writer.Bool(p.instance);
  writer.EndObject();
}

// Parser front of the document: forwards every event but refuses (ending the parse) one
// that would push more values than the fixed stack holds. The document pushes exactly one
// value per scalar, key or container start and pops them when a container ends.
class BoundedDocumentBuilder {
 public:
  using Ch = char;
  static constexpr size_t kMaxValues = FixedStackAllocator::kCapacity / sizeof(JsonValue);

  explicit BoundedDocumentBuilder(MessageDocument& document) : document_(document) {}

  bool Null() { return Push() && document_.Null(); }
  bool Bool(bool b) { return Push() && document_.Bool(b); }
  bool Int(int i) { return Push() && document_.Int(i); }
  bool Uint(unsigned u) { return Push() && document_.Uint(u); }
  bool Int64(int64_t i) { return Push() && document_.Int64(i); }
  bool Uint64(uint64_t u) { return Push() && document_.Uint64(u); }
  bool Double(double d) { return Push() && document_.Double(d); }
  bool RawNumber(const Ch* text, rapidjson::SizeType length, bool copy) {
    return Push() && document_.RawNumber(text, length, copy);
  }
  bool String(const Ch* text, rapidjson::SizeType length, bool copy) {
    return Push() && document_.String(text, length, copy);
  }
  bool Key(const Ch* text, rapidjson::SizeType length, bool copy) {
    return Push() && document_.Key(text, length, copy);
  }
  bool StartObject() { return Push() && document_.StartObject(); }
  bool EndObject(rapidjson::SizeType members) {
    values_ -= 2 * static_cast<size_t>(members);
    return document_.EndObject(members);
  }
  bool StartArray() { return Push() && document_.StartArray(); }
  bool EndArray(rapidjson::SizeType elements) {
    values_ -= elements;
    return document_.EndArray(elements);
  }

 private:
  bool Push() {
    if (values_ == kMaxValues) return false;
    ++values_;
    return true;
  }

  MessageDocument& document_;
  size_t values_ = 0;
};

static_assert(BoundedDocumentBuilder::kMaxValues >= 64, "the parser stack holds too few values");

}  // namespace

size_t FormatNonce(int32_t nonce, char (&text)[kNonceTextCapacity]) {
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, nonce);
  return static_cast<size_t>(result.ptr - text);
}

size_t WriteHandshake(char* buffer, size_t capacity, int version, const char* application_id) {
  FixedOutputStream out(buffer, capacity);
  FixedStackAllocator stack;
  CommandWriter writer(out, &stack);
  writer.StartObject();
  Key(writer, "v");
  writer.Int(version);
  Key(writer, "client_id");
  writer.String(application_id != nullptr ? application_id : "");
  writer.EndObject();
  return out.result();
}

size_t WriteSetActivity(char* buffer, size_t capacity, int32_t nonce, uint32_t pid,
                        const DiscordPresence* presence) {
  // The first pass writes party id and secrets whole; only a command that does not fit
  // is written again with them shortened.
  for (const size_t free_text_characters : {kWholeText, kShortenedTextCharacters}) {
    FixedOutputStream out(buffer, capacity);
    FixedStackAllocator stack;
    CommandWriter writer(out, &stack);
    StartCommand(writer, nonce, "SET_ACTIVITY");
    Key(writer, "args");
    writer.StartObject();
    Key(writer, "pid");
    writer.Int(static_cast<int32_t>(pid));
    if (presence != nullptr) Activity(writer, *presence, free_text_characters);
    writer.EndObject();
    writer.EndObject();
    if (out.result() != 0 || presence == nullptr) return out.result();
  }
  return 0;
}

size_t WriteSubscribe(char* buffer, size_t capacity, int32_t nonce, const char* event_name) {
  FixedOutputStream out(buffer, capacity);
  FixedStackAllocator stack;
  CommandWriter writer(out, &stack);
  StartCommand(writer, nonce, "SUBSCRIBE");
  Key(writer, "evt");
  writer.String(event_name != nullptr ? event_name : "");
  writer.EndObject();
  return out.result();
}

void* MessageChunkAllocator::Malloc(size_t size) {
  if (size == 0) return nullptr;
  void* block = HookAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* MessageChunkAllocator::Realloc(void* block, size_t, size_t new_size) {
  if (new_size == 0) {
    HookRelease(block);
    return nullptr;
  }
  void* grown = HookReallocate(block, new_size);
  if (grown == nullptr) throw std::bad_alloc();
  return grown;
}

void MessageChunkAllocator::Free(void* block) { HookRelease(block); }

RpcMessage::RpcMessage()
    : pool_(first_chunk_, sizeof first_chunk_, kFirstChunkSize, &chunk_allocator_),
      document_(rapidjson::kObjectType, &pool_, FixedStackAllocator::kCapacity, &stack_allocator_) {
}

void ParseMessage(char* payload, RpcMessage& message) {
  // Values of the previous message live in the pool; drop the root before the pool.
  message.document_.SetObject();
  message.pool_.Clear();
  if (payload == nullptr) return;

  MessageChunkAllocator reader_stack_allocator;  // unused by in-place parsing
  auto parse = [&](MessageDocument& document) {
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, MessageChunkAllocator> reader(
        &reader_stack_allocator);
    rapidjson::GenericInsituStringStream<rapidjson::UTF8<>> stream(payload);
    BoundedDocumentBuilder builder(document);
    return !reader.Parse<rapidjson::kParseInsituFlag>(stream, builder).IsError();
  };
  try {
    message.document_.Populate(parse);
  } catch (const std::bad_alloc&) {
    message.document_.SetObject();
    message.pool_.Clear();
  }
}

namespace {

const JsonValue* FindMember(const JsonValue& object, std::string_view name) {
  if (!object.IsObject()) return nullptr;
  for (auto member = object.MemberBegin(); member != object.MemberEnd(); ++member) {
    const std::string_view key(member->name.GetString(), member->name.GetStringLength());
    if (key == name) return &member->value;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string_view> StringMember(const JsonValue& object, std::string_view name) {
  const JsonValue* value = FindMember(object, name);
  if (value == nullptr || !value->IsString()) return std::nullopt;
  return std::string_view(value->GetString(), value->GetStringLength());
}

std::optional<int32_t> Int32Member(const JsonValue& object, std::string_view name) {
  const JsonValue* value = FindMember(object, name);
  if (value == nullptr || !value->IsInt()) return std::nullopt;
  return value->GetInt();
}

const JsonValue* ObjectMember(const JsonValue& object, std::string_view name) {
  const JsonValue* value = FindMember(object, name);
  return value != nullptr && value->IsObject() ? value : nullptr;
}

}  // namespace mau::discord
