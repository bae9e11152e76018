// The C runtime's heap additions, next to the system's own <malloc.h>.
#pragma once

#include_next <malloc.h>

#include <cstddef>

// The usable size of a block from malloc, calloc or realloc, at least the size asked for.
inline std::size_t _msize(void* block) { return block != nullptr ? malloc_usable_size(block) : 0; }
