#include "aligned_alloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "report.h"

// The block start is kept as a whole pointer just below the aligned address.
void* __AlignedMalloc(size_t size, size_t alignment, const char* file, int line) {
  (void)file, (void)line;
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
    ReportAssert("alignment must be a power of 2", __LINE__, "aligned_alloc");
    return nullptr;
  }
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  if (size > SIZE_MAX - alignment - sizeof(void*)) return nullptr;
  auto* block = static_cast<unsigned char*>(malloc(size + alignment + sizeof(void*)));
  if (!block) return nullptr;
  uintptr_t first = reinterpret_cast<uintptr_t>(block) + sizeof(void*);
  uintptr_t aligned = (first + alignment - 1) & ~(uintptr_t(alignment) - 1);
  void* start = block;
  memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &start, sizeof start);
  return reinterpret_cast<void*>(aligned);
}

void __AlignedFree(void* block) {
  if (!block) return;
  uintptr_t slot = (reinterpret_cast<uintptr_t>(block) & ~(uintptr_t(sizeof(void*)) - 1)) - sizeof(void*);
  void* start = nullptr;
  memcpy(&start, reinterpret_cast<void*>(slot), sizeof start);
  free(start);
}
