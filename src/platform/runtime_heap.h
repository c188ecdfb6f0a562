// The C runtime heap behind the default allocation hooks: the platform's name for the
// usable size of a block (_msize / malloc_usable_size) and for duplicating a text.
#pragma once

#include <cstddef>

namespace mau {

size_t RuntimeUsableSize(void* block);
char* RuntimeDuplicateText(const char* text);

}  // namespace mau
