// POSIX has no system event-tracing provider library: tracing stays off. Only POSIX code
// belongs in this file.
#include "platform/trace_provider.h"

namespace mau {

bool LoadSystemTraceFunctions(TraceFunctions* functions) {
  if (functions != nullptr) *functions = TraceFunctions{};
  return false;
}

}  // namespace mau
