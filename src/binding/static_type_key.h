// Static type keys: one constant per native type that the binding layer describes.
//
// A key carries a 32-bit id that is fixed at compile time and distinct between the native
// types of one build, and the id's display text "#XXXXXXXX". The type registry indexes its
// descriptors by that id: a nested record field finds its descriptor through it, and a
// BindingValue of kind enum, which carries its enum's key, is named through it.
//
//   const mau::StaticTypeKey& key = mau::StaticTypeKeyOf<Champion>();
//   key.id;              // FNV-1a of the compiler's name for Champion
//   key.displayName();   // for example "#7DFB1102"
//
// The SDK's own records have ids that the host knows. A header that defines such a record
// pins its id right after the definition, before any use of StaticTypeKeyOf for it:
//
//   template <>
//   struct mau::PinnedStaticTypeId<PluginResourceEvent>
//       : std::integral_constant<uint32_t, 0xA54F35FD> {};
//
// Keys are constant-initialised objects that live for the whole process; compare keys by
// address or by id (the registry refuses a second type with an id already in use).
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "binding/fnv1a.h"

namespace mau {

struct StaticTypeKey {
  uint32_t id;
  char text[10];  // "#%08X" of id, NUL-terminated

  constexpr const char* displayName() const noexcept { return text; }
};

// Specialise with a `value` member to give a native type a fixed id.
template <typename T>
struct PinnedStaticTypeId {};

// The key of records that are never looked up by type id; the registry keeps types
// registered with it out of its by-id index.
inline constexpr uint32_t kReservedStaticTypeId = 0x1be7ef8eu;

namespace static_type_key_internal {

constexpr StaticTypeKey MakeKey(uint32_t id) noexcept {
  constexpr char kDigits[] = "0123456789ABCDEF";
  StaticTypeKey key{id, {}};
  key.text[0] = '#';
  for (int i = 0; i < 8; ++i) key.text[1 + i] = kDigits[(id >> (28 - 4 * i)) & 0xFu];
  key.text[9] = '\0';
  return key;
}

// GCC spells the template argument inside the function's signature; the whole signature
// is distinct per type and stable within a build.
template <typename T>
constexpr std::string_view Signature() noexcept {
  return __PRETTY_FUNCTION__;
}

template <typename T>
constexpr uint32_t IdOf() noexcept {
  if constexpr (requires { PinnedStaticTypeId<T>::value; }) {
    return static_cast<uint32_t>(PinnedStaticTypeId<T>::value);
  } else {
    return Fnv1a32(Signature<T>());
  }
}

template <typename T>
inline constexpr StaticTypeKey kKey = MakeKey(IdOf<T>());

struct ReservedKeyTag {};
template <>
inline constexpr StaticTypeKey kKey<ReservedKeyTag> = MakeKey(kReservedStaticTypeId);

}  // namespace static_type_key_internal

// The key of T (cv-qualifiers ignored). One object per type for the whole program.
template <typename T>
constexpr const StaticTypeKey& StaticTypeKeyOf() noexcept {
  return static_type_key_internal::kKey<std::remove_cv_t<T>>;
}

constexpr const StaticTypeKey& ReservedStaticTypeKey() noexcept {
  return static_type_key_internal::kKey<static_type_key_internal::ReservedKeyTag>;
}

}  // namespace mau
