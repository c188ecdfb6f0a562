// Deep equality of two BindingValue trees in which NaN equals NaN, for fuzz targets that
// check a copy against its original: MessagePack floats and YAML's "!!float nan" may carry
// NaN, which BindingValue's own equality (rightly) finds unequal to itself.
#pragma once

#include <cmath>
#include <cstddef>

#include "binding/binding_value.h"

namespace mau::fuzz {

inline bool SameTree(const BindingValue& a, const BindingValue& b) {
  if (a.kind() != b.kind() || a.size() != b.size()) return false;
  switch (a.kind()) {
    case BindingValueKind::Float:
      return a.AsDouble() == b.AsDouble() || (std::isnan(a.AsDouble()) && std::isnan(b.AsDouble()));
    case BindingValueKind::Collection:
      for (size_t i = 0; i < a.size(); ++i) {
        if (!SameTree(a.Element(i), b.Element(i))) return false;
      }
      return true;
    case BindingValueKind::Structure:
      for (const BindingMember member : a.Members()) {
        if (!b.HasMember(member.name) || !SameTree(member.value, b.Member(member.name))) {
          return false;
        }
      }
      return true;
    default:
      return a == b;
  }
}

}  // namespace mau::fuzz
