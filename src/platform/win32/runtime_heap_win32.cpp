// Win32 C runtime heap queries. Only Win32 code belongs in this file.
#include <malloc.h>

#include <cstring>

#include "platform/runtime_heap.h"

namespace mau {

size_t RuntimeUsableSize(void* block) { return block == nullptr ? 0 : _msize(block); }

char* RuntimeDuplicateText(const char* text) { return text == nullptr ? nullptr : _strdup(text); }

}  // namespace mau
