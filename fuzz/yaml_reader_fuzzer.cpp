// Fuzzes the YAML reader with arbitrary text: any input must end in a value or a clear
// error within the nesting and alias bounds, and every value it builds must copy into an
// equal tree.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "binding/binding_result.h"
#include "binding/yaml_reader.h"
#include "same_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  mau::BindingResult result;
  mau::ReadYaml(result, text);
  if (!result.ok()) {
    if (result.ErrorText().empty()) std::abort();
    return 0;
  }
  const mau::BindingValue copy = result.value();
  if (!mau::fuzz::SameTree(copy, result.value())) std::abort();
  return 0;
}
