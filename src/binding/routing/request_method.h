// Request method codes shared with the host's call records, and their names.
#pragma once

#include <cstdint>

namespace mau {

enum class RequestMethod : uint32_t {
  None = 0,  // a registration with None accepts every method
  Delete = 1,
  Get = 2,
  Head = 3,
  Options = 4,
  Patch = 5,
  Post = 6,
  Put = 7,
  Custom = 8,  // the method's name travels separately
};

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"; the empty text for every
// other code (Custom included).
const char* RequestMethodName(RequestMethod method);

// A host method code as the plug-in takes it: unchanged in 1..8, None otherwise.
RequestMethod RequestMethodFromCode(uint32_t code);

}  // namespace mau
