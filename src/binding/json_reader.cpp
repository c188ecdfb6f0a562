#include "binding/json_reader.h"

#include <rapidjson/encodings.h>
#include <rapidjson/error/error.h>
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "binding/reader_limits.h"
#include "platform/alloc_hooks.h"
#include "platform/format.h"

namespace mau {

namespace {

// rapidjson's reader copies each string into a stack of its own; that stack lives on the
// allocation hooks like every other heap block.
class ReaderStackAllocator {
 public:
  static const bool kNeedFree = true;
  void* Malloc(size_t size) {
    if (size == 0) return nullptr;
    void* block = HookAllocate(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  void* Realloc(void* block, size_t, size_t newSize) {
    if (newSize == 0) {
      HookRelease(block);
      return nullptr;
    }
    void* grown = block != nullptr ? HookReallocate(block, newSize) : HookAllocate(newSize);
    if (grown == nullptr) throw std::bad_alloc();
    return grown;
  }
  static void Free(void* block) { HookRelease(block); }
};

using JsonReader =
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, ReaderStackAllocator>;

// The text up to its first NUL: JSON strings may carry "\u0000", BindingValue strings end
// there.
std::string_view UpToNul(const char* text, rapidjson::SizeType length) {
  const void* nul = std::memchr(text, 0, length);
  return {text, nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text)
                               : static_cast<size_t>(length)};
}

// A parsed string holds a NUL only when the document spells one as an escape; most
// documents have none, and their strings need no search.
bool MayEscapeNul(std::string_view document) {
  return document.find("\\u0000") != std::string_view::npos;
}

// Builds the value from rapidjson's events. The open containers sit on a stack of
// pointers, as deep as a document may nest, so a parse takes no heap block for it; a
// pointer stays valid while its container is open because only the innermost open
// container ever grows. An object's members are appended as they come and put in name
// order when it ends, where a repeated name keeps its last value; an object left open by a
// failure is dropped with the whole value.
class ValueBuilder {
 public:
  ValueBuilder(BindingValue& root, bool mayHoldNul) : pending_(&root), mayHoldNul_(mayHoldNul) {}

  bool Null() {
    Slot().Reset();
    return true;
  }
  bool Bool(bool value) {
    Slot().SetBool(value);
    return true;
  }
  bool Int(int value) {
    Slot().SetSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    Slot().SetUnsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    Slot().SetSigned(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    Slot().SetUnsigned(value);
    return true;
  }
  bool Double(double value) {
    Slot().SetDouble(value);
    return true;
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not requested
  bool String(const char* text, rapidjson::SizeType length, bool) {
    Slot().SetString(Text(text, length));
    return true;
  }
  bool StartObject() { return Open(false); }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    pending_ = &Innermost().value->AppendMemberUnsorted(Text(text, length));
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    Innermost().value->SortMembers();
    --depth_;
    return true;
  }
  bool StartArray() { return Open(true); }
  bool EndArray(rapidjson::SizeType) {
    --depth_;
    return true;
  }

 private:
  struct OpenContainer {
    BindingValue* value;
    bool isCollection;
  };

  OpenContainer& Innermost() { return open_[depth_ - 1]; }

  std::string_view Text(const char* text, rapidjson::SizeType length) const {
    return mayHoldNul_ ? UpToNul(text, length) : std::string_view(text, length);
  }

  // The value the next event fills: a new element of an open collection, else the member
  // named by the last key (or the root).
  BindingValue& Slot() {
    if (depth_ != 0 && Innermost().isCollection) return Innermost().value->AppendElement();
    return *pending_;
  }

  bool Open(bool collection) {
    if (depth_ == kMaxReaderNesting) return false;
    BindingValue& slot = Slot();
    if (collection) {
      slot.EnsureCollection();
    } else {
      slot.EnsureStructure();
    }
    open_[depth_++] = {&slot, collection};
    return true;
  }

  BindingValue* pending_;
  bool mayHoldNul_;
  size_t depth_ = 0;
  OpenContainer open_[kMaxReaderNesting];  // [0, depth_) are open
};

void Fail(BindingResult& result, unsigned code, size_t offset) {
  result.Fail(FormatText("Error: %1 at offset %2.", JsonParseErrorText(code), offset));
}

// Parses the text that stream reads. document is that text: up to its first NUL, or whole,
// when a NUL before its end is a character after the root value. skipped bytes (a
// byte-order mark) came before it: offsets count from the start of the caller's text.
template <unsigned kFlags, typename Stream>
void Parse(BindingResult& result, Stream& stream, std::string_view document, bool whole,
           size_t skipped) {
  if (!result.ok()) return;
  BindingValue value;
  ReaderStackAllocator stackAllocator;
  JsonReader reader(&stackAllocator);
  size_t offset = 0;
  try {
    ValueBuilder builder(value, MayEscapeNul(document));
    const rapidjson::ParseResult parsed = reader.Parse<kFlags>(stream, builder);
    if (parsed.IsError()) return Fail(result, parsed.Code(), skipped + parsed.Offset());
    offset = stream.Tell();
  } catch (const std::bad_alloc&) {
    return result.Fail(FormatText("Error: Out of memory. at offset %1.", skipped + stream.Tell()));
  } catch (const std::length_error& e) {
    return result.Fail(FormatText("Error: %1 at offset %2.", e.what(), skipped + stream.Tell()));
  }
  // rapidjson stops at a NUL; inside a string object that NUL is a stray character.
  if (whole && offset < document.size())
    return Fail(result, rapidjson::kParseErrorDocumentRootNotSingular, skipped + offset);
  result.value() = std::move(value);
}

// Editors on Windows start a UTF-8 text with a byte-order mark; one is skipped.
size_t ByteOrderMarkLength(std::string_view document) {
  return document.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// Reads a text it must not change: rapidjson copies each string before decoding it.
void ParseCopying(BindingResult& result, const char* text, std::string_view document, bool whole) {
  const size_t skipped = ByteOrderMarkLength(document);
  rapidjson::StringStream stream(text + skipped);
  Parse<rapidjson::kParseDefaultFlags>(result, stream, document.substr(skipped), whole, skipped);
}

// Decodes each string where it stands; the text is garbage afterwards.
void ParseInPlace(BindingResult& result, char* text, std::string_view document, bool whole) {
  const size_t skipped = ByteOrderMarkLength(document);
  rapidjson::InsituStringStream stream(text + skipped);
  Parse<rapidjson::kParseInsituFlag>(result, stream, document.substr(skipped), whole, skipped);
}

}  // namespace

std::string_view JsonParseErrorText(unsigned code) noexcept {
  static constexpr std::string_view kTexts[] = {
      "No error.",
      "The document is empty.",
      "The document root must not be followed by other values.",
      "Invalid value.",
      "Missing a name for object member.",
      "Missing a colon after a name of object member.",
      "Missing a comma or '}' after an object member.",
      "Missing a comma or ']' after an array element.",
      "Incorrect hex digit after \\u escape in string.",
      "The surrogate pair in string is invalid.",
      "Invalid escape character in string.",
      "Missing a closing quotation mark in string.",
      "Invalid encoding in string.",
      "Number too big to be stored in double.",
      "Miss fraction part in number.",
      "Miss exponent in number.",
      "Terminate parsing due to Handler error.",
      "Unspecific syntax error.",
  };
  return code < std::size(kTexts) ? kTexts[code] : std::string_view("Unknown error.");
}

void ParseJson(BindingResult& result, const char* text) {
  if (text == nullptr) text = "";
  ParseCopying(result, text, text, false);
}

void ParseJson(BindingResult& result, const std::string& text) {
  ParseCopying(result, text.c_str(), text, true);
}

void ParseJsonInPlace(BindingResult& result, char* text) {
  ParseInPlace(result, text, text, false);
}

void ParseJsonInPlace(BindingResult& result, std::string& text) {
  ParseInPlace(result, text.data(), text, true);
}

}  // namespace mau
