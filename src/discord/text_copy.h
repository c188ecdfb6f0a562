// Copying texts into the Discord client's fixed buffers.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace mau::discord {

// Copies at most Capacity - 1 bytes of `text` and NUL-terminates the copy.
template <size_t Capacity>
void CopyCut(char (&buffer)[Capacity], std::string_view text) {
  static_assert(Capacity > 0);
  const size_t length = text.size() < Capacity - 1 ? text.size() : Capacity - 1;
  if (length != 0) std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace mau::discord
