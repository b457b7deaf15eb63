#include "aligned_alloc.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "report.h"

namespace {

// Blocks at least this large are frame-sized: they get a mapping of their own in transparent huge
// pages. A virtual machine's first touch of each small page is costly (about 2.7 ms per MiB here, so
// 20 ms for one 1080p work area); huge pages take that down severalfold and spare the TLB while the
// chain sweeps them.
constexpr size_t kHugePage = size_t(2) << 20;
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kHugeFrom = SIZE_MAX;  // the address sanitizer guards only malloc's blocks
#else
constexpr size_t kHugeFrom = kHugePage;
#endif

// Just below every aligned address: where the block starts and, for a mapping of its own, its length.
struct Header {
  void* start;
  size_t mapped;  // 0: from malloc
};

void* Place(unsigned char* start, uintptr_t aligned, size_t mapped) {
  const Header h{start, mapped};
  memcpy(reinterpret_cast<void*>(aligned - sizeof h), &h, sizeof h);
  return reinterpret_cast<void*>(aligned);
}

void* MapHuge(size_t size) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  const size_t length = (size + kHugePage + page - 1) / page * page;
  void* map = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return nullptr;
  auto* start = static_cast<unsigned char*>(map);
  const uintptr_t aligned =
      (reinterpret_cast<uintptr_t>(start) + sizeof(Header) + kHugePage - 1) & ~(uintptr_t(kHugePage) - 1);
  // Advice only: where huge pages are switched off the block works the same with small ones.
  madvise(reinterpret_cast<void*>(aligned), length - (aligned - reinterpret_cast<uintptr_t>(start)), MADV_HUGEPAGE);
  return Place(start, aligned, length);
}

}  // namespace

void* __AlignedMalloc(size_t size, size_t alignment, const char* file, int line) {
  (void)file, (void)line;
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
    ReportAssert("alignment must be a power of 2", __LINE__, "aligned_alloc");
    return nullptr;
  }
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  if (size >= kHugeFrom && alignment <= kHugePage) {
    if (void* p = MapHuge(size)) return p;
  }
  if (size > SIZE_MAX - alignment - sizeof(Header)) return nullptr;
  auto* block = static_cast<unsigned char*>(malloc(size + alignment + sizeof(Header)));
  if (!block) return nullptr;
  const uintptr_t first = reinterpret_cast<uintptr_t>(block) + sizeof(Header);
  return Place(block, (first + alignment - 1) & ~(uintptr_t(alignment) - 1), 0);
}

void __AlignedFree(void* block) {
  if (!block) return;
  Header h;
  memcpy(&h, static_cast<unsigned char*>(block) - sizeof h, sizeof h);
  if (h.mapped)
    munmap(h.start, h.mapped);
  else
    free(h.start);
}
