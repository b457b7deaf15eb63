// Aligned heap blocks for frame buffers and work areas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// alignment: a power of two; smaller than a pointer is raised to a pointer's size. Null on failure.
void* __AlignedMalloc(size_t size, size_t alignment, const char* file, int line);
void __AlignedFree(void* block);

namespace ulmora {
constexpr size_t kFrameAlignment = 64;

struct AlignedFree {
  void operator()(void* block) const { __AlignedFree(block); }
};

// The one owner of an aligned block: freed once, whichever way its holder goes.
using AlignedBytes = std::unique_ptr<uint8_t[], AlignedFree>;

// Null when the block cannot be had.
inline AlignedBytes MakeAlignedBytes(size_t size, size_t alignment = kFrameAlignment) {
  return AlignedBytes(static_cast<uint8_t*>(__AlignedMalloc(size, alignment, __FILE__, __LINE__)));
}
}  // namespace ulmora
