// Reading text that should be UTF-8, one unit at a time: a unit is either one well-formed
// character or one invalid sequence, the longest start of a well-formed character that the
// bytes offer (a lone byte when none), which is shown as one U+FFFD. Everything the Discord
// client writes passes through this, so that Discord only ever sees valid UTF-8.
//
//   Utf8Cursor text("Q\xFF");
//   unsigned char bytes[4];
//   TakeUtf8Unit(text, bytes);  // 1: "Q"
//   TakeUtf8Unit(text, bytes);  // -1: 0xFF, invalid, written as U+FFFD
#pragma once

#include <cstddef>

namespace mau::discord {

// U+FFFD REPLACEMENT CHARACTER, in UTF-8.
inline constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

// Takes the next unit from `in`, a stream with Peek() and Take() of chars whose Peek at
// the end of the text gives a byte that continues no character (a NUL terminator does),
// into `bytes`. Returns its length in bytes (1 to 4), negated for an invalid sequence. A
// byte that cannot continue the unit is left in the stream. Call only while Peek() is not
// at the end.
template <typename Stream>
int TakeUtf8Unit(Stream& in, unsigned char (&bytes)[4]) {
  const auto lead = static_cast<unsigned char>(in.Take());
  bytes[0] = lead;
  if (lead < 0x80) return 1;
  int needed;
  unsigned char low = 0x80;  // the range of the second byte; later bytes take 0x80 to 0xBF
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;  // a continuation byte, C0, C1 or F5 to FF
  }
  for (int length = 1; length < needed; ++length) {
    const auto next = static_cast<unsigned char>(in.Peek());
    if (next < low || next > high) return -length;
    bytes[length] = static_cast<unsigned char>(in.Take());
    low = 0x80;
    high = 0xBF;
  }
  return needed;
}

// A Peek/Take stream over a NUL-terminated text.
class Utf8Cursor {
 public:
  explicit Utf8Cursor(const char* text) : begin_(text), at_(text) {}
  char Peek() const { return *at_; }
  char Take() { return *at_++; }
  bool AtEnd() const { return *at_ == '\0'; }
  size_t Offset() const { return static_cast<size_t>(at_ - begin_); }

 private:
  const char* begin_;
  const char* at_;
};

}  // namespace mau::discord
