// Fuzzes the JSON reader with arbitrary text: any input must end in a value or a clear
// error, and every value it builds must copy and compare equal within the nesting bound.
// The in-place entry, which decodes strings inside the text, must reach the same value or
// the same error.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "binding/binding_result.h"
#include "binding/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  mau::BindingResult result;
  mau::ParseJson(result, text);
  std::string overwritten = text;
  mau::BindingResult inPlace;
  mau::ParseJsonInPlace(inPlace, overwritten);
  if (inPlace.ok() != result.ok() || inPlace.ErrorText() != result.ErrorText() ||
      !(inPlace.value() == result.value())) {
    std::abort();
  }
  if (!result.ok()) {
    if (result.ErrorText().rfind("Error: ", 0) != 0) std::abort();
    return 0;
  }
  const mau::BindingValue copy = result.value();
  if (!(copy == result.value())) std::abort();
  return 0;
}
