// Pixel kernels: a portable set, and wider sets picked at run time from the processor's features.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "processing/stages.h"

namespace ulmora {
namespace {

inline uint8_t SatSub(uint8_t v, uint8_t d) { return v > d ? static_cast<uint8_t>(v - d) : 0; }
inline uint8_t SatAdd(uint8_t v, uint8_t d) {
  const unsigned r = unsigned(v) + d;
  return r > 255 ? 255 : static_cast<uint8_t>(r);
}

// ---------------------------------------------------------------- portable

void ExtractPortable(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) dst[x] = src[3 * x];
    dst += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

void AddFirstPortable(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height,
                      int32_t pad) {
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) sum[x] = static_cast<uint16_t>(first[x] + src[3 * x]);
    sum += width;
    first += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

void AddPortable(uint16_t* sum, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) sum[x] = static_cast<uint16_t>(sum[x] + src[3 * x]);
    sum += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

template <typename T>
RenderResult RenderTable(uint8_t* plane, const T* src, size_t n, const uint8_t* lut, RenderBounds b, bool stats) {
  RenderResult r;
  if (!stats) {
    for (size_t i = 0; i < n; ++i) plane[i] = lut[src[i]];
    return r;
  }
  uint32_t ovf = 0, smax = 0, bright = 0;
  uint64_t s1 = 0, s2 = 0;
  const uint32_t sOvf = static_cast<uint32_t>(b.sOverflow);  // -1 wraps: every sum overflows
  const uint32_t lo = static_cast<uint32_t>(b.sLo), span = static_cast<uint32_t>(b.sHi - b.sLo);
  const bool anyInRange = b.sHi >= b.sLo;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t s = src[i];
    const uint8_t o = lut[s];
    plane[i] = o;
    ovf += (b.sOverflow < 0 || s > sOvf) ? 1u : 0u;
    if (anyInRange && s - lo <= span && o > bright) bright = o;
    smax = s > smax ? s : smax;
    s1 += o;
    s2 += uint32_t(o) * o;
  }
  r.overflow = ovf;
  r.sumMax = smax;
  r.brightest = bright;
  r.s1 = s1;
  r.s2 = s2;
  return r;
}

RenderResult Render8Portable(uint8_t* plane, const uint8_t* src, size_t n, const uint8_t* lut, RenderBounds b,
                             bool stats) {
  return RenderTable(plane, src, n, lut, b, stats);
}

RenderResult Render16Portable(uint8_t* plane, const uint16_t* sum, size_t n, const uint8_t* lut16, const LevelParams&,
                              RenderBounds b, bool stats) {
  return RenderTable(plane, sum, n, lut16, b, stats);
}

void RowSumsPortable(uint32_t* rows, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  for (int32_t y = 0; y < height; ++y, plane += width) {
    uint32_t s = 0;
    for (int32_t x = 0; x < width; ++x) s += std::min(plane[x], t);
    rows[y] = s;
  }
}

void ColSumsPortable(uint32_t* cols, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  std::fill(cols, cols + width, 0u);
  for (int32_t y = 0; y < height; ++y, plane += width)
    for (int32_t x = 0; x < width; ++x) cols[x] += std::min(plane[x], t);
}

void WindowPortable(const uint8_t* plane, size_t n, uint8_t lo, uint8_t hi, uint64_t& count, uint64_t& s1,
                    uint64_t& s2) {
  uint64_t c = 0, a = 0, q = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t v = plane[i];
    const uint32_t in = (v >= lo && v <= hi) ? 1u : 0u;
    c += in;
    a += in * v;
    q += in * v * v;
  }
  count = c;
  s1 = a;
  s2 = q;
}

void ApplyRowsPortable(uint8_t* plane, int32_t width, int32_t height, const LineCorrection* rows, uint32_t* cols,
                       uint8_t t) {
  if (cols) std::fill(cols, cols + width, 0u);
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const uint8_t sub = rows[y].sub, add = rows[y].add;
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t v = SatAdd(SatSub(plane[x], sub), add);
      plane[x] = v;
      if (cols) cols[x] += std::min(v, t);
    }
  }
}

void ApplyColsPortable(uint8_t* plane, int32_t width, int32_t height, const uint8_t* colSub, const uint8_t* colAdd) {
  for (int32_t y = 0; y < height; ++y, plane += width)
    for (int32_t x = 0; x < width; ++x) plane[x] = SatAdd(SatSub(plane[x], colSub[x]), colAdd[x]);
}

void ExpandPortable(uint8_t* view, int32_t pad, const uint8_t* plane, int32_t width, int32_t height,
                    const LineCorrection* rows, const uint8_t* colSub, const uint8_t* colAdd) {
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const uint8_t sub = rows ? rows[y].sub : 0, add = rows ? rows[y].add : 0;
    for (int32_t x = 0; x < width; ++x) {
      uint8_t v = SatAdd(SatSub(plane[x], sub), add);
      if (colSub) v = SatAdd(SatSub(v, colSub[x]), colAdd[x]);
      view[0] = view[1] = view[2] = v;
      view += 3;
    }
    view += pad;
  }
}

constexpr PixelKernels kPortable = {
    "portable",      ExtractPortable, AddFirstPortable, AddPortable,       Render8Portable,   Render16Portable,
    RowSumsPortable, ColSumsPortable, WindowPortable,   ApplyRowsPortable, ApplyColsPortable, ExpandPortable,
};

}  // namespace

const PixelKernels& PortableKernels() { return kPortable; }

// Wider sets live in their own translation units, compiled for their instruction sets.
const PixelKernels* Sse4Kernels();
const PixelKernels* Avx2Kernels();
const PixelKernels* Avx512Kernels();

namespace {

struct KernelList {
  const PixelKernels* sets[4] = {};
  size_t count = 0;
  size_t best = 0;
  KernelList() {
    sets[count++] = &kPortable;
    __builtin_cpu_init();
    if (const PixelKernels* k = Sse4Kernels();
        k && __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("popcnt"))
      sets[count++] = k;
    if (const PixelKernels* k = Avx2Kernels(); k && __builtin_cpu_supports("avx2")) sets[count++] = k;
    if (const PixelKernels* k = Avx512Kernels();
        k && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
      sets[count++] = k;
    best = count - 1;
    // ULMORA_KERNELS=portable|sse4|avx2|avx512 picks a narrower set, to compare them on one machine.
    if (const char* want = getenv("ULMORA_KERNELS"))
      for (size_t i = 0; i < count; ++i)
        if (strcmp(sets[i]->name, want) == 0) best = i;
  }
};

const KernelList& List() {
  static const KernelList list;
  return list;
}

std::atomic<const PixelKernels*> g_forced{nullptr};

}  // namespace

size_t KernelSetCount() { return List().count; }
const PixelKernels& KernelSet(size_t i) { return *List().sets[i < List().count ? i : 0]; }
void UseKernelSet(size_t i) { g_forced.store(i < List().count ? List().sets[i] : nullptr); }

const PixelKernels& Kernels() {
  if (const PixelKernels* k = g_forced.load(std::memory_order_relaxed)) return *k;
  return *List().sets[List().best];
}

}  // namespace ulmora
