// Kernels for processors with SSSE3 and SSE4.1 (every x86-64 processor of the last fifteen years):
// the shared kernel bodies on 16-byte registers. Only what follows the target switch uses the
// instructions; the headers above it stay baseline x86-64.
#include <immintrin.h>

#include "processing/stages.h"
#include "processing/stages_target.h"

ULMORA_TARGET_BEGIN("ssse3,sse4.1,popcnt")

namespace ulmora {
namespace {

using Vec = __m128i;

inline __m128i Lo(Vec v) { return v; }
inline __m128i Hi(Vec v) { return _mm_srli_si128(v, 8); }
template <int kPart>
inline __m128i Quarter(Vec v) {
  return _mm_srli_si128(v, 4 * kPart);
}

// One lane: the hooks of the shuffle kernels are plain loads and stores.
inline Vec Broadcast16(const uint8_t* b) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)); }
template <int kPart>
inline Vec Piece(const uint8_t* s) {
  return Broadcast16(s + 16 * kPart);
}
inline Vec InOrder(Vec packed) { return packed; }
inline void StoreSpread(uint8_t* out, Vec r0, Vec r1, Vec r2) {
  auto* o = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(o, r0);
  _mm_storeu_si128(o + 1, r1);
  _mm_storeu_si128(o + 2, r2);
}

constexpr char kSetName[] = "sse4";

}  // namespace
}  // namespace ulmora

#define ULMORA_MM(op) _mm_##op
#include "processing/stages_kernels_shuffle.h"
#include "processing/stages_kernels.h"

ULMORA_TARGET_END()

namespace ulmora {

const PixelKernels* Sse4Kernels() { return &kKernelSet; }

}  // namespace ulmora
