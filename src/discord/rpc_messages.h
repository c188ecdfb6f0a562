// The JSON texts of the Discord client: the writers of the three commands it sends
// (handshake, SET_ACTIVITY, SUBSCRIBE), the nonce text, and the in-place reading of
// what Discord sends back.
//
// Writers emit compact JSON in valid UTF-8 into a caller's fixed buffer and never touch
// the heap: each invalid UTF-8 sequence of a text is written as U+FFFD, and a command is
// either written whole or not at all (length 0), never cut in the middle. Reading parses
// a writable, NUL-terminated payload in place into an RpcMessage, whose first 32 KiB of
// value storage and whose 2 KiB parser stack are its own.
//
//   char command[kCommandCapacity];
//   size_t length = WriteSetActivity(command, sizeof command, nonce, pid, &presence);
//   if (length == 0) ...  // it did not fit
//
//   RpcMessage message;
//   ParseMessage(payload, message);  // payload is rewritten; keep it until done
//   if (std::optional<std::string_view> evt = StringMember(message.root(), "evt")) ...
#pragma once

#include <rapidjson/allocators.h>
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace mau::discord {

// The presence handed to RpcClient::SetPresence. Texts are borrowed, NUL-terminated
// UTF-8; an absent (null) or empty text means "not set" and is left out of the command.
// The command takes them the way Discord accepts them: state, details and the images'
// texts are cut to 128 characters, and one of one character gets an invisible second
// (U+200B); an image key longer than 256 bytes names no asset and is left out.
struct DiscordPresence {
  const char* state = nullptr;
  const char* details = nullptr;
  int64_t start = 0;  // seconds since the Unix epoch; 0 = none
  int64_t end = 0;    // seconds since the Unix epoch; 0 = none
  const char* large_image = nullptr;
  const char* large_text = nullptr;
  const char* small_image = nullptr;
  const char* small_text = nullptr;
  const char* party_id = nullptr;
  int32_t party_size = 0;  // 0 = none
  int32_t party_max = 0;   // written only when greater than 0
  const char* match_secret = nullptr;
  const char* join_secret = nullptr;
  const char* spectate_secret = nullptr;
  bool instance = false;
};

// Capacity of a SET_ACTIVITY or SUBSCRIBE command buffer.
inline constexpr size_t kCommandCapacity = 16384;
// The only handshake version there is.
inline constexpr int kHandshakeVersion = 1;
// Room for the decimal text of any 32-bit nonce ("-2147483648").
inline constexpr size_t kNonceTextCapacity = 12;

// Each writer stores at most `capacity` bytes (no NUL) and returns how many it stored,
// or 0 when the command does not fit `capacity` (the buffer's contents are then unspecified).
[[nodiscard]] size_t WriteHandshake(char* buffer, size_t capacity, int version,
                                    const char* application_id);
// `presence` null writes the command without an "activity", which clears the presence.
// A command that does not fit is written again with the party id and secrets cut to 128
// characters; 0 when it still does not fit.
[[nodiscard]] size_t WriteSetActivity(char* buffer, size_t capacity, int32_t nonce, uint32_t pid,
                                      const DiscordPresence* presence);
[[nodiscard]] size_t WriteSubscribe(char* buffer, size_t capacity, int32_t nonce,
                                    const char* event_name);

// Writes the decimal digits of a nonce (no NUL) and returns their count.
size_t FormatNonce(int32_t nonce, char (&text)[kNonceTextCapacity]);

// Heap chunks of a message's value pool, on the allocation hooks. Allocation failure
// throws std::bad_alloc, which ParseMessage turns into an empty message.
class MessageChunkAllocator {
 public:
  static const bool kNeedFree = true;
  void* Malloc(size_t size);
  void* Realloc(void* block, size_t old_size, size_t new_size);
  static void Free(void* block);
};

// The parser's value stack: one fixed buffer, never the heap. ParseMessage stops a
// parse before the stack would outgrow it, so the buffer is always big enough.
class FixedStackAllocator {
 public:
  static const bool kNeedFree = false;
  static constexpr size_t kCapacity = 2048;
  void* Malloc(size_t size) { return size <= kCapacity ? storage_ : nullptr; }
  void* Realloc(void*, size_t, size_t new_size) { return Malloc(new_size); }
  static void Free(void*) {}

 private:
  alignas(std::max_align_t) unsigned char storage_[kCapacity];
};

using MessagePool = rapidjson::MemoryPoolAllocator<MessageChunkAllocator>;
using MessageDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, MessagePool, FixedStackAllocator>;
using JsonValue = MessageDocument::ValueType;

// One received message. Its strings point into the payload it was parsed from, so that
// payload must stay valid and unchanged while the message is in use. Not copyable;
// about 34 KiB, so keep it in long-lived storage rather than on a small stack.
class RpcMessage {
 public:
  static constexpr size_t kFirstChunkSize = 32 * 1024;

  RpcMessage();
  RpcMessage(const RpcMessage&) = delete;
  RpcMessage& operator=(const RpcMessage&) = delete;

  // The message's root: an empty object until a payload parses.
  const JsonValue& root() const { return document_; }

 private:
  friend void ParseMessage(char* payload, RpcMessage& message);

  alignas(std::max_align_t) unsigned char first_chunk_[kFirstChunkSize];
  MessageChunkAllocator chunk_allocator_;
  MessagePool pool_;
  FixedStackAllocator stack_allocator_;
  MessageDocument document_;
};

// Replaces the message with the parse of `payload` (NUL-terminated, rewritten in place).
// A payload that is not one JSON value, or that needs more than the fixed parser stack
// (about 128 pending values: deep nesting or very long arrays and objects), leaves an
// empty object.
void ParseMessage(char* payload, RpcMessage& message);

// Member lookups on an object. Anything other than the stated kind, a missing member or
// a value that is not an object counts as absent. Names are compared byte for byte.
std::optional<std::string_view> StringMember(const JsonValue& object, std::string_view name);
// An integer that fits a signed 32-bit value.
std::optional<int32_t> Int32Member(const JsonValue& object, std::string_view name);
const JsonValue* ObjectMember(const JsonValue& object, std::string_view name);

}  // namespace mau::discord
