// Positional message formatting: templates refer to their arguments by number
// ("Unknown argument '%1' for '%2'."), optionally with a printf specification
// ("%1$05d"), and each argument's type picks a sensible conversion when the template
// gives none. The formatter never fails: a bad placeholder ends the output there.
//
//   std::string text = mau::FormatText("%2 of %1", 3, "page");   // "page of 3"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace mau {

class SdkString;

enum class FormatArgKind : uint8_t {
  Text,        // NUL-terminated C string
  TextObject,  // characters with a length
  Char,
  Int32,
  UInt32,
  Int64,
  UInt64,
  Double,
};

// One argument with its kind. Texts are borrowed for the duration of the call.
struct FormatArg {
  FormatArgKind kind;
  union {
    const char* text;
    int64_t i64;
    uint64_t u64;
    double f64;
  };
  size_t length = 0;  // TextObject only

  FormatArg(const char* value) : kind(FormatArgKind::Text), text(value != nullptr ? value : "") {}
  FormatArg(const std::string& value)
      : kind(FormatArgKind::TextObject), text(value.data()), length(value.size()) {}
  FormatArg(std::string_view value)
      : kind(FormatArgKind::TextObject),
        text(value.data() != nullptr ? value.data() : ""),
        length(value.size()) {}
  FormatArg(const SdkString& value);
  FormatArg(char value) : kind(FormatArgKind::Char), i64(value) {}
  FormatArg(double value) : kind(FormatArgKind::Double), f64(value) {}
  FormatArg(float value) : kind(FormatArgKind::Double), f64(value) {}
  FormatArg(bool) = delete;  // say what a flag means in words instead

  template <typename T,
            typename = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                        !std::is_same_v<T, char>>>
  FormatArg(T value) : kind(KindOf<T>()) {
    if constexpr (std::is_signed_v<T>) {
      i64 = static_cast<int64_t>(value);
    } else {
      u64 = static_cast<uint64_t>(value);
    }
  }

 private:
  template <typename T>
  static constexpr FormatArgKind KindOf() {
    if constexpr (std::is_signed_v<T>) {
      return sizeof(T) <= 4 ? FormatArgKind::Int32 : FormatArgKind::Int64;
    } else {
      return sizeof(T) <= 4 ? FormatArgKind::UInt32 : FormatArgKind::UInt64;
    }
  }
};

// The engine: formats into buffer (always NUL-terminated when size > 0) and returns the
// number of characters written, at most size - 1. No heap allocation.
size_t FormatInto(char* buffer, size_t size, const char* pattern, const FormatArg* args,
                  size_t count);

// Formats into a 4096-byte stack buffer and returns the text (at most 4095 characters).
template <typename... Args>
std::string FormatText(const char* pattern, const Args&... args) {
  char buffer[4096];
  const FormatArg list[] = {FormatArg(args)..., FormatArg("")};
  const size_t n = FormatInto(buffer, sizeof buffer, pattern, list, sizeof...(Args));
  return std::string(buffer, n);
}

}  // namespace mau
