// Fuzzes the MessagePack reader with arbitrary bytes: any input must end in a value or a
// clear error, never read past its end, and report a position inside the input; every
// value it builds must copy and compare equal within the nesting bound.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "binding/binding_result.h"
#include "binding/msgpack_reader.h"
#include "same_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mau::BindingResult result;
  size_t consumed = 0;
  mau::ReadMsgpack(result, consumed, data, size);
  if (consumed > size) std::abort();
  if (!result.ok()) {
    if (result.ErrorText().rfind("Invalid MessagePack data", 0) != 0) std::abort();
    return 0;
  }
  if (size > 0 && consumed == 0) std::abort();
  const mau::BindingValue copy = result.value();
  if (!mau::fuzz::SameTree(copy, result.value())) std::abort();
  return 0;
}
