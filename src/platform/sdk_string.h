// SdkString: the SDK's small owning string, on the allocation hooks.
//
// Owned blocks always have an odd size, (needed + 1) | 1 bytes, so that one 32-bit word
// is both the block size and the owned flag (bit 0). An empty string points at one
// shared empty text and owns nothing.
//
//   mau::SdkString name("mau");
//   name.Append("-discord-rp");
//   name.Equals("mau-discord-rp");  // true
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mau {

class SdkString {
 public:
  SdkString() noexcept;
  explicit SdkString(const char* text);
  SdkString(const char* text, size_t length);
  SdkString(const SdkString& other);
  SdkString(SdkString&& other) noexcept;
  ~SdkString();

  SdkString& operator=(const SdkString& other);
  SdkString& operator=(SdkString&& other) noexcept;

  void Assign(const SdkString& other);
  void Assign(const char* text, size_t length);
  void Assign(const char* text);
  void Append(const char* text);
  void Append(const char* text, size_t length);
  // Sets the length, growing the block when needed; new characters are NUL bytes.
  void Resize(size_t length);
  // printf-style formatting; on a formatting error the string becomes empty.
  void Format(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  void FormatV(const char* format, va_list args);

  bool Equals(const SdkString& other) const noexcept;
  bool Equals(const char* text) const noexcept;
  bool BeginsWith(const char* text) const noexcept;
  void ToLowerAscii() noexcept;

  const char* c_str() const noexcept { return data_; }
  size_t size() const noexcept { return length_; }
  bool empty() const noexcept { return length_ == 0; }
  size_t capacity() const noexcept { return capacityWord_ & ~uint32_t{1}; }
  // The raw capacity word: block size with bit 0 as the owned flag.
  uint32_t capacity_word() const noexcept { return capacityWord_; }
  bool owns_block() const noexcept { return (capacityWord_ & 1u) != 0; }
  std::string_view view() const noexcept { return {data_, length_}; }

 private:
  void Grow(size_t needed);  // keeps the characters
  void ReleaseBlock() noexcept;

  char* data_;
  uint32_t length_ = 0;
  uint32_t capacityWord_ = 0;
};

}  // namespace mau
