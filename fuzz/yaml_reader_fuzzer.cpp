// Fuzzes the YAML reader with arbitrary text: any input must end in a value or a clear
// error within the nesting and alias bounds, and every value it builds must copy into an
// equal tree.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "binding/binding_result.h"
#include "binding/yaml_reader.h"

namespace {

// Deep equality in which NaN equals NaN: "!!float nan" is a value the reader may build.
bool SameTree(const mau::BindingValue& a, const mau::BindingValue& b) {
  if (a.kind() != b.kind() || a.size() != b.size()) return false;
  switch (a.kind()) {
    case mau::BindingValueKind::Float:
      return a.AsDouble() == b.AsDouble() || (std::isnan(a.AsDouble()) && std::isnan(b.AsDouble()));
    case mau::BindingValueKind::Collection:
      for (size_t i = 0; i < a.size(); ++i) {
        if (!SameTree(a.Element(i), b.Element(i))) return false;
      }
      return true;
    case mau::BindingValueKind::Structure:
      for (const mau::BindingMember member : a.Members()) {
        if (!b.HasMember(member.name) || !SameTree(member.value, b.Member(member.name))) {
          return false;
        }
      }
      return true;
    default:
      return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  mau::BindingResult result;
  mau::ReadYaml(result, text);
  if (!result.ok()) {
    if (result.ErrorText().empty()) std::abort();
    return 0;
  }
  const mau::BindingValue copy = result.value();
  if (!SameTree(copy, result.value())) std::abort();
  return 0;
}
