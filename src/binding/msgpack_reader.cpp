#include "binding/msgpack_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "binding/reader_limits.h"
#include "platform/format.h"

namespace mau {

namespace {

// What a first byte announces.
enum class ByteClass : uint8_t {
  PositiveFixint,
  FixMap,
  FixArray,
  FixStr,
  Nil,
  Invalid,  // 0xc1, ext 8/16/32, fixext 1..16
  False,
  True,
  Bin8,
  Bin16,
  Bin32,
  Float32,
  Float64,
  Uint8,
  Uint16,
  Uint32,
  Uint64,
  Int8,
  Int16,
  Int32,
  Int64,
  Str8,
  Str16,
  Str32,
  Array16,
  Array32,
  Map16,
  Map32,
  NegativeFixint,
};

constexpr std::array<ByteClass, 256> MakeClassTable() {
  std::array<ByteClass, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    ByteClass c = ByteClass::Invalid;
    if (b <= 0x7f) {
      c = ByteClass::PositiveFixint;
    } else if (b <= 0x8f) {
      c = ByteClass::FixMap;
    } else if (b <= 0x9f) {
      c = ByteClass::FixArray;
    } else if (b <= 0xbf) {
      c = ByteClass::FixStr;
    } else if (b >= 0xe0) {
      c = ByteClass::NegativeFixint;
    } else {
      switch (b) {
        case 0xc0:
          c = ByteClass::Nil;
          break;
        case 0xc2:
          c = ByteClass::False;
          break;
        case 0xc3:
          c = ByteClass::True;
          break;
        case 0xc4:
          c = ByteClass::Bin8;
          break;
        case 0xc5:
          c = ByteClass::Bin16;
          break;
        case 0xc6:
          c = ByteClass::Bin32;
          break;
        case 0xca:
          c = ByteClass::Float32;
          break;
        case 0xcb:
          c = ByteClass::Float64;
          break;
        case 0xcc:
          c = ByteClass::Uint8;
          break;
        case 0xcd:
          c = ByteClass::Uint16;
          break;
        case 0xce:
          c = ByteClass::Uint32;
          break;
        case 0xcf:
          c = ByteClass::Uint64;
          break;
        case 0xd0:
          c = ByteClass::Int8;
          break;
        case 0xd1:
          c = ByteClass::Int16;
          break;
        case 0xd2:
          c = ByteClass::Int32;
          break;
        case 0xd3:
          c = ByteClass::Int64;
          break;
        case 0xd9:
          c = ByteClass::Str8;
          break;
        case 0xda:
          c = ByteClass::Str16;
          break;
        case 0xdb:
          c = ByteClass::Str32;
          break;
        case 0xdc:
          c = ByteClass::Array16;
          break;
        case 0xdd:
          c = ByteClass::Array32;
          break;
        case 0xde:
          c = ByteClass::Map16;
          break;
        case 0xdf:
          c = ByteClass::Map32;
          break;
        default:
          break;  // 0xc1, ext, fixext
      }
    }
    table[b] = c;
  }
  return table;
}

constexpr std::array<ByteClass, 256> kByteClass = MakeClassTable();

constexpr uint64_t kMaxReservedItems = 1024;

constexpr uint32_t FromBigEndian(uint32_t raw) noexcept {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(raw);
  return raw;
}

constexpr uint64_t FromBigEndian(uint64_t raw) noexcept {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(raw);
  return raw;
}

class Decoder {
 public:
  Decoder(BindingResult& result, const uint8_t* bytes, size_t size)
      : result_(result), bytes_(bytes), size_(size), reserveBudget_(size) {
    open_.reserve(16);
  }

  size_t position() const noexcept { return position_; }

  void Run(BindingValue& root) {
    if (position_ < size_) ReadValue(root);
    while (result_.ok() && !open_.empty() && position_ < size_) {
      OpenContainer& top = open_.back();
      if (top.next == top.count) {
        open_.pop_back();
        continue;
      }
      BindingValue* slot;
      if (top.elements != nullptr) {
        slot = top.elements + top.next++;
      } else if (!top.isMap) {
        slot = &top.value->ElementForWriting(static_cast<size_t>(top.next++));
      } else {
        // A pair: its key, then (unless the input ends after the key) its value.
        ++top.next;
        std::string_view key;
        if (!ReadKey(key) || position_ == size_) break;
        slot = &top.value->MemberForWriting(key);
      }
      ReadValue(*slot);
    }
    // Input that ends inside arrays whose elements were all created at once leaves them
    // with the elements read, like any other container.
    for (OpenContainer& open : open_) {
      if (open.elements != nullptr) open.value->TruncateElements(static_cast<size_t>(open.next));
    }
  }

 private:
  struct OpenContainer {
    BindingValue* value;
    // The elements of an array opened empty with room for all it announces, created at
    // once; otherwise null and each element is reached through the value.
    BindingValue* elements;
    uint64_t count;  // items announced; a map counts pairs
    uint64_t next;   // index of the next item
    bool isMap;
  };

  size_t Remaining() const noexcept { return size_ - position_; }

  void Fail(std::string_view message) { result_.Fail(message); }

  // Reads a big-endian number of width bytes, or fails with the truncation message of its
  // width and leaves the position on its first byte.
  bool ReadNumber(size_t width, uint64_t& out) {
    if (Remaining() < width) {
      Fail(FormatText("Invalid MessagePack data. %1-bit integer value at position %2 is truncated.",
                      static_cast<unsigned>(width * 8), position_));
      return false;
    }
    const uint8_t* at = bytes_ + position_;
    position_ += width;
    switch (width) {
      case 1:
        out = at[0];
        break;
      case 2:
        out = static_cast<uint64_t>(at[0]) << 8 | at[1];
        break;
      case 4: {
        uint32_t raw;
        std::memcpy(&raw, at, sizeof raw);
        out = FromBigEndian(raw);
        break;
      }
      default: {
        uint64_t raw;
        std::memcpy(&raw, at, sizeof raw);
        out = FromBigEndian(raw);
        break;
      }
    }
    return true;
  }

  // Reads length bytes of a string or blob body, or fails with its truncation message.
  bool ReadBody(uint64_t length, bool isString, const uint8_t*& out) {
    if (length > Remaining()) {
      Fail(FormatText(
          isString ? "Invalid MessagePack data. String of size %1 at position %2 is truncated."
                   : "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.",
          length, position_));
      return false;
    }
    out = bytes_ + position_;
    position_ += static_cast<size_t>(length);
    return true;
  }

  bool ReadKey(std::string_view& key) {
    const ByteClass c = kByteClass[bytes_[position_]];
    const uint8_t first = bytes_[position_++];
    uint64_t length = 0;
    switch (c) {
      case ByteClass::FixStr:
        length = first & 0x1f;
        break;
      case ByteClass::Str8:
        if (!ReadNumber(1, length)) return false;
        break;
      case ByteClass::Str16:
        if (!ReadNumber(2, length)) return false;
        break;
      case ByteClass::Str32:
        if (!ReadNumber(4, length)) return false;
        break;
      default:
        Fail(FormatText("Invalid MessagePack data at position %1. Map keys must be strings.",
                        position_));
        return false;
    }
    const uint8_t* text = nullptr;
    if (!ReadBody(length, true, text)) return false;
    key = std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
    return true;
  }

  void ReadString(BindingValue& target, size_t width) {
    uint64_t length = 0;
    if (!ReadNumber(width, length)) return;
    const uint8_t* text = nullptr;
    if (!ReadBody(length, true, text)) return;
    target.SetString(
        std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(length)));
  }

  void ReadBlob(BindingValue& target, size_t width) {
    uint64_t length = 0;
    if (!ReadNumber(width, length)) return;
    const uint8_t* data = nullptr;
    if (!ReadBody(length, false, data)) return;
    target.SetBlob(std::span<const uint8_t>(data, static_cast<size_t>(length)));
  }

  // Room for the items a container announces, as far as the input could still hold them
  // (an element takes at least one byte, a member two), at most kMaxReservedItems (longer
  // containers grow by doubling), and within the document's budget: however many headers
  // announce 2^32 - 1 items, the reserved items never outnumber the input's bytes, and a
  // container that the input ends short of filling keeps little unused room.
  size_t Reservation(uint64_t announced, size_t bytesPerItem) {
    const auto items = static_cast<size_t>(std::min<uint64_t>(
        {announced, Remaining() / bytesPerItem, kMaxReservedItems, reserveBudget_}));
    reserveBudget_ -= items;
    return items;
  }

  // Fills the new entry in place: a whole entry built aside and copied in would be read
  // back before its narrower stores have landed.
  void Open(BindingValue* value, BindingValue* elements, uint64_t count, bool isMap) {
    OpenContainer& entry = open_.emplace_back();
    entry.value = value;
    entry.elements = elements;
    entry.count = count;
    entry.next = 0;
    entry.isMap = isMap;
  }

  void OpenArray(BindingValue& target, uint64_t count) {
    target.EnsureCollection();
    BindingValue* elements = nullptr;
    if (target.size() == 0 && count > 0) {
      const size_t room = Reservation(count, 1);
      if (room == count) {
        elements = &target.ElementForWriting(room - 1) - (room - 1);
      } else {
        target.Reserve(room);
      }
    }
    Open(&target, elements, count, false);
  }

  void OpenMap(BindingValue& target, uint64_t pairs) {
    target.EnsureStructure();
    if (target.size() == 0 && pairs > 0) target.ReserveMembers(Reservation(pairs, 2));
    Open(&target, nullptr, pairs, true);
  }

  // The container's count (width bytes, or the count of a fix form when width is 0), then
  // the container itself, unless that would nest too deep.
  void ReadContainer(BindingValue& target, size_t width, uint64_t fixCount, bool isMap) {
    if (open_.size() >= kMaxReaderNesting) {
      return Fail(
          FormatText("Invalid MessagePack data at position %1. Nesting is too deep.", position_));
    }
    uint64_t count = fixCount;
    if (width != 0 && !ReadNumber(width, count)) return;
    if (isMap) {
      OpenMap(target, count);
    } else {
      OpenArray(target, count);
    }
  }

  void ReadValue(BindingValue& target) {
    const uint8_t first = bytes_[position_++];
    uint64_t bits = 0;
    switch (kByteClass[first]) {
      case ByteClass::PositiveFixint:
        return target.SetSigned(first);
      case ByteClass::NegativeFixint:
        return target.SetSigned(static_cast<int8_t>(first));
      case ByteClass::FixMap:
        return ReadContainer(target, 0, first & 0x0f, true);
      case ByteClass::FixArray:
        return ReadContainer(target, 0, first & 0x0f, false);
      case ByteClass::FixStr: {
        const uint8_t* text = nullptr;
        if (!ReadBody(first & 0x1f, true, text)) return;
        return target.SetString(
            std::string_view(reinterpret_cast<const char*>(text), first & 0x1f));
      }
      case ByteClass::Nil:
        return target.Reset();
      case ByteClass::Invalid:
        return Fail(FormatText("Invalid MessagePack data at position %1.", position_));
      case ByteClass::False:
        return target.SetBool(false);
      case ByteClass::True:
        return target.SetBool(true);
      case ByteClass::Bin8:
        return ReadBlob(target, 1);
      case ByteClass::Bin16:
        return ReadBlob(target, 2);
      case ByteClass::Bin32:
        return ReadBlob(target, 4);
      case ByteClass::Float32: {
        if (!ReadNumber(4, bits)) return;
        const auto raw = static_cast<uint32_t>(bits);
        float value;
        std::memcpy(&value, &raw, sizeof value);
        return target.SetDouble(value);
      }
      case ByteClass::Float64: {
        if (!ReadNumber(8, bits)) return;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return target.SetDouble(value);
      }
      case ByteClass::Uint8:
        if (ReadNumber(1, bits)) target.SetUnsigned(bits);
        return;
      case ByteClass::Uint16:
        if (ReadNumber(2, bits)) target.SetUnsigned(bits);
        return;
      case ByteClass::Uint32:
        if (ReadNumber(4, bits)) target.SetUnsigned(bits);
        return;
      case ByteClass::Uint64:
        if (ReadNumber(8, bits)) target.SetUnsigned(bits);
        return;
      case ByteClass::Int8:
        if (ReadNumber(1, bits)) target.SetSigned(static_cast<int8_t>(bits));
        return;
      case ByteClass::Int16:
        if (ReadNumber(2, bits)) target.SetSigned(static_cast<int16_t>(bits));
        return;
      case ByteClass::Int32:
        if (ReadNumber(4, bits)) target.SetSigned(static_cast<int32_t>(bits));
        return;
      case ByteClass::Int64:
        if (ReadNumber(8, bits)) target.SetSigned(static_cast<int64_t>(bits));
        return;
      case ByteClass::Str8:
        return ReadString(target, 1);
      case ByteClass::Str16:
        return ReadString(target, 2);
      case ByteClass::Str32:
        return ReadString(target, 4);
      case ByteClass::Array16:
        return ReadContainer(target, 2, 0, false);
      case ByteClass::Array32:
        return ReadContainer(target, 4, 0, false);
      case ByteClass::Map16:
        return ReadContainer(target, 2, 0, true);
      case ByteClass::Map32:
        return ReadContainer(target, 4, 0, true);
    }
  }

  BindingResult& result_;
  const uint8_t* bytes_;
  size_t size_;
  size_t position_ = 0;
  size_t reserveBudget_;
  std::vector<OpenContainer> open_;
};

}  // namespace

void ReadMsgpack(BindingResult& result, size_t& consumed, const uint8_t* bytes, size_t size) {
  consumed = 0;
  if (!result.ok()) return;
  if (bytes == nullptr) size = 0;
  BindingValue value;
  Decoder decoder(result, bytes, size);
  try {
    decoder.Run(value);
  } catch (const std::bad_alloc&) {
    result.Fail(
        FormatText("Invalid MessagePack data at position %1. Out of memory.", decoder.position()));
  } catch (const std::length_error& e) {
    result.Fail(
        FormatText("Invalid MessagePack data at position %1. %2", decoder.position(), e.what()));
  }
  consumed = decoder.position();
  if (result.ok()) result.value() = std::move(value);
}

}  // namespace mau
