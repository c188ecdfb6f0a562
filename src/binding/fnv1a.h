// The 32-bit FNV-1a hash (offset basis 0x811c9dc5, prime 0x01000193) over the bytes of a
// text. It keys the interned strings of a value context, the field descriptors' names and
// the static type ids derived from type names, so it must stay the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mau {

inline constexpr uint32_t kFnv1aOffsetBasis = 0x811c9dc5u;
inline constexpr uint32_t kFnv1aPrime = 0x01000193u;

constexpr uint32_t Fnv1a32(std::string_view text) noexcept {
  uint32_t hash = kFnv1aOffsetBasis;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= kFnv1aPrime;
  }
  return hash;
}

}  // namespace mau
