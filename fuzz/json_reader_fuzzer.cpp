// Fuzzes the JSON reader with arbitrary text: any input must end in a value or a clear
// error, and every value it builds must copy and compare equal within the nesting bound.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "binding/binding_result.h"
#include "binding/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  mau::BindingResult result;
  mau::ParseJson(result, text);
  if (!result.ok()) {
    if (result.ErrorText().rfind("Error: ", 0) != 0) std::abort();
    return 0;
  }
  const mau::BindingValue copy = result.value();
  if (!(copy == result.value())) std::abort();
  return 0;
}
