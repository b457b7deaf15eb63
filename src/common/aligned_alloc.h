// Aligned heap blocks for frame buffers and work areas.
#pragma once

#include <cstddef>

// alignment: a power of two; smaller than a pointer is raised to a pointer's size. Null on failure.
void* __AlignedMalloc(size_t size, size_t alignment, const char* file, int line);
void __AlignedFree(void* block);

namespace ulmora {
constexpr size_t kFrameAlignment = 64;
}
