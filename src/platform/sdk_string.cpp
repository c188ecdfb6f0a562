#include "platform/sdk_string.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/alloc_hooks.h"

namespace mau {

namespace {

// Written only when a string with this data pointer needs no block, which Assign and
// Resize avoid: the shared text stays empty.
char g_emptyText[1] = {'\0'};

uint32_t BlockSizeFor(size_t characters) {
  if (characters >= UINT32_MAX - 1) throw std::length_error("SdkString too long");
  return static_cast<uint32_t>((characters + 1) | 1u);
}

char* AllocateBlock(uint32_t size) {
  void* block = HookAllocate(size);
  if (block == nullptr) ThrowAllocationFailure();
  return static_cast<char*>(block);
}

}  // namespace

SdkString::SdkString() noexcept : data_(g_emptyText) {}

SdkString::SdkString(const char* text) : SdkString() { Assign(text); }

SdkString::SdkString(const char* text, size_t length) : SdkString() { Assign(text, length); }

SdkString::SdkString(const SdkString& other) : SdkString() { Assign(other); }

SdkString::SdkString(SdkString&& other) noexcept
    : data_(other.data_), length_(other.length_), capacityWord_(other.capacityWord_) {
  other.data_ = g_emptyText;
  other.length_ = 0;
  other.capacityWord_ = 0;
}

SdkString::~SdkString() { ReleaseBlock(); }

SdkString& SdkString::operator=(const SdkString& other) {
  if (this != &other) Assign(other);
  return *this;
}

SdkString& SdkString::operator=(SdkString&& other) noexcept {
  if (this != &other) {
    ReleaseBlock();
    data_ = other.data_;
    length_ = other.length_;
    capacityWord_ = other.capacityWord_;
    other.data_ = g_emptyText;
    other.length_ = 0;
    other.capacityWord_ = 0;
  }
  return *this;
}

void SdkString::ReleaseBlock() noexcept {
  if (owns_block()) HookRelease(data_);
  data_ = g_emptyText;
  length_ = 0;
  capacityWord_ = 0;
}

void SdkString::Assign(const SdkString& other) {
  if (this != &other) Assign(other.data_, other.length_);
}

void SdkString::Assign(const char* text) { Assign(text, text == nullptr ? 0 : std::strlen(text)); }

void SdkString::Assign(const char* text, size_t length) {
  if (capacity() < length) {
    const uint32_t size = BlockSizeFor(length);
    char* block = AllocateBlock(size);
    // The source may live inside the old block; copy before releasing it.
    std::memcpy(block, text, length);
    ReleaseBlock();
    data_ = block;
    capacityWord_ = size;
  } else if (length != 0) {
    std::memmove(data_, text, length);
  }
  length_ = static_cast<uint32_t>(length);
  if (data_ != g_emptyText) data_[length_] = '\0';
}

void SdkString::Grow(size_t needed) {
  if (capacity() >= needed) return;
  const size_t grown = std::max<size_t>(capacityWord_ / 2 * 3, needed);
  const uint32_t size = BlockSizeFor(grown);
  char* block = AllocateBlock(size);
  std::memcpy(block, data_, length_);
  block[length_] = '\0';
  const uint32_t length = length_;
  ReleaseBlock();
  data_ = block;
  length_ = length;
  capacityWord_ = size;
}

void SdkString::Append(const char* text) { Append(text, text == nullptr ? 0 : std::strlen(text)); }

void SdkString::Append(const char* text, size_t length) {
  if (length == 0) return;
  if (length > UINT32_MAX - length_) throw std::length_error("SdkString too long");
  if (capacity() < length_ + length) {
    // The text may point into this string: keep the old block until it is copied.
    const size_t grown = std::max<size_t>(capacityWord_ / 2 * 3, length_ + length);
    const uint32_t size = BlockSizeFor(grown);
    char* block = AllocateBlock(size);
    std::memcpy(block, data_, length_);
    std::memcpy(block + length_, text, length);
    const uint32_t total = length_ + static_cast<uint32_t>(length);
    ReleaseBlock();
    data_ = block;
    length_ = total;
    capacityWord_ = size;
  } else {
    std::memmove(data_ + length_, text, length);
    length_ += static_cast<uint32_t>(length);
  }
  data_[length_] = '\0';
}

void SdkString::Resize(size_t length) {
  if (length > length_) {
    Grow(length);
    std::memset(data_ + length_, 0, length - length_);
  }
  length_ = static_cast<uint32_t>(length);
  if (data_ != g_emptyText) data_[length_] = '\0';
}

void SdkString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void SdkString::FormatV(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed <= 0) {
    Resize(0);
    return;
  }
  if (capacity() < static_cast<size_t>(needed)) {
    ReleaseBlock();
    Grow(static_cast<size_t>(needed));
  }
  const int written = std::vsnprintf(data_, capacity() + 1, format, args);
  if (written != needed) {
    Resize(0);
    return;
  }
  length_ = static_cast<uint32_t>(written);
}

bool SdkString::Equals(const SdkString& other) const noexcept {
  return length_ == other.length_ && std::memcmp(data_, other.data_, length_) == 0;
}

bool SdkString::Equals(const char* text) const noexcept {
  if (text == nullptr) return length_ == 0;
  return std::strlen(text) == length_ && std::memcmp(data_, text, length_) == 0;
}

bool SdkString::BeginsWith(const char* text) const noexcept {
  if (text == nullptr) return true;
  const size_t n = std::strlen(text);
  return n <= length_ && std::memcmp(data_, text, n) == 0;
}

void SdkString::ToLowerAscii() noexcept {
  for (uint32_t i = 0; i < length_; ++i) {
    if (data_[i] >= 'A' && data_[i] <= 'Z') data_[i] = static_cast<char>(data_[i] - 'A' + 'a');
  }
}

}  // namespace mau
