// POSIX C runtime heap queries. Only POSIX code belongs in this file.
#include <malloc.h>

#include <cstring>

#include "platform/runtime_heap.h"

namespace mau {

size_t RuntimeUsableSize(void* block) { return block == nullptr ? 0 : malloc_usable_size(block); }

char* RuntimeDuplicateText(const char* text) { return text == nullptr ? nullptr : strdup(text); }

}  // namespace mau
