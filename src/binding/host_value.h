// Conversion between BindingValue and the host's flat value record HostValue
// (mau/plugin_abi.h), and the release of host-side memory.
//
// Host texts, blobs and arrays that the plug-in builds come from the allocation hooks and
// are freed by ClearHostValue. A host value tree is at most kMaxHostValueNesting
// containers deep in either direction: deeper input fails instead of exhausting the stack.
//
//   HostValue wire{};
//   if (!mau::BindingToHostValue(value, wire, &registry)) ...;  // wire is cleared on failure
//   ...hand wire to the host, or:
//   mau::ClearHostValue(wire);
//
//   mau::BindingResult result;
//   if (!mau::HostValueToBinding(result, message->payload, "<result>")) ...result.ErrorText()...
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "mau/plugin_abi.h"

namespace mau {

class BindingTypeRegistry;

inline constexpr size_t kMaxHostValueNesting = 512;

// "bool", "signed", "unsigned", "float", "string" (5, 6), "blob" (7, 8), "collection",
// "structure"; the empty text for any other code.
std::string_view HostValueTypeName(uint32_t type) noexcept;

// Frees what the value owns (codes 6, 8, 9, 10, recursively; 5 and 7 are borrowed) and
// zeroes the record.
void ClearHostValue(HostValue& value) noexcept;

// Converts a host value into out (reset first; this value may be an element of a tree).
// Texts are read up to their NUL and interned; blobs are copied; a later structure entry
// overwrites an earlier one of the same name; NULL texts and arrays read as empty. An
// unknown type code, or containers nested deeper than kMaxHostValueNesting, fail status
// with "Couldn't assign value to '%1' of type object because the input is of an
// incompatible type '%2'." or "Couldn't assign value to '%1' of type object because the
// input is nested deeper than %2 levels." (%1 = fieldName); out is then empty.
// out must not be part of status.
[[nodiscard]] bool HostValueToBinding(const HostValue& in, BindingValue& out,
                                      std::string_view fieldName, BindingResult& status);
// The same into result's value.
[[nodiscard]] bool HostValueToBinding(BindingResult& result, const HostValue& in,
                                      std::string_view fieldName);

// Converts value into out, which is cleared first. Strings and blobs become owned heap
// copies, structure member names owned copies in name order. An enum becomes the string of
// its enumerator's name when registry knows one for its value, else a signed number.
// Returns false, with out cleared, when the heap refuses memory or the tree is nested
// deeper than kMaxHostValueNesting containers.
[[nodiscard]] bool BindingToHostValue(const BindingValue& value, HostValue& out,
                                      const BindingTypeRegistry* registry);

}  // namespace mau
