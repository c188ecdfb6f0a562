// The MessagePack reader: decodes one MessagePack value from the start of a byte buffer
// into a BindingValue, for call bodies of type "application/x-msgpack".
//
// Both fixint forms and every int form give signed, every uint form unsigned, float 32 and
// 64 give float, nil empty, str a string (interned), bin a blob (copied), array a
// collection and map a structure whose keys must be strings. ext and fixext types and the
// unused byte 0xc1 are errors. A later duplicate key stores its value into the same member:
// a scalar replaces, a map or array merges into a member that already is one. Containers
// nest at most kMaxReaderNesting deep. Only the first value is decoded; the caller decides
// what trailing bytes mean.
//
//   mau::BindingResult result;
//   size_t consumed = 0;
//   mau::ReadMsgpack(result, consumed, bytes.data(), bytes.size());
//   if (!result.ok()) ...result.ErrorText()...
//   else if (consumed < bytes.size()) ...extra data after the value...
//
// Every failure names a byte position counted from 0: "Invalid MessagePack data at
// position 1." for an unsupported type byte (the position just after it), "Invalid
// MessagePack data. 16-bit integer value at position 1 is truncated." when a number or
// length runs past the end (the position of its first byte). Input that ends between two
// items of an announced container is not an error: the containers keep what was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "binding/binding_result.h"

namespace mau {

// Decodes one value from bytes[0, size); result receives the value or the failure and
// consumed the position reached (on failure, where decoding stopped). An empty buffer
// gives an empty value. result should be fresh: a failed result stays failed.
void ReadMsgpack(BindingResult& result, size_t& consumed, const uint8_t* bytes, size_t size);
inline void ReadMsgpack(BindingResult& result, size_t& consumed, std::span<const uint8_t> bytes) {
  ReadMsgpack(result, consumed, bytes.data(), bytes.size());
}

}  // namespace mau
