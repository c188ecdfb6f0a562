// Limits shared by the JSON, MessagePack and YAML readers, which turn outside bytes into
// BindingValue trees.
//
// Nesting is bounded so that neither the parsers (rapidjson's reader recurses once per
// level) nor the tree operations that recurse once per level (copy, comparison, host
// conversion) can exhaust a 1 MiB 32-bit thread stack, and so that every tree a reader
// produces can be handed to the host (kMaxHostValueNesting is the same bound).
#pragma once

#include <cstddef>

namespace mau {

// The most containers a reader nests inside one another; a container opened at this depth
// (the 513th level) fails the read.
inline constexpr size_t kMaxReaderNesting = 512;

}  // namespace mau
