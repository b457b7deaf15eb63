// Kernels for processors with AVX2: the shared kernel bodies on 32-byte registers. Byte shuffles
// and packs work within 16-byte lanes, so loads that feed them pair pieces from both halves of a
// run and results are put back in order across the lanes.
#include <immintrin.h>

#include "processing/stages.h"
#include "processing/stages_target.h"

ULMORA_TARGET_BEGIN("avx2,popcnt,bmi,bmi2")

namespace ulmora {
namespace {

using Vec = __m256i;

inline __m128i Lo(Vec v) { return _mm256_castsi256_si128(v); }
inline __m128i Hi(Vec v) { return _mm256_extracti128_si256(v, 1); }
// Bytes 8k.. of the register, counted across the lanes.
template <int kPart>
inline __m128i Quarter(Vec v) {
  const __m128i half = kPart < 2 ? Lo(v) : Hi(v);
  return kPart % 2 ? _mm_srli_si128(half, 8) : half;
}

inline Vec Broadcast16(const uint8_t* b) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
}
// Pixels 0..15 in the low lanes, 16..31 in the high ones.
template <int kPart>
inline Vec Piece(const uint8_t* s) {
  const auto* p = reinterpret_cast<const __m128i*>(s + 16 * kPart);
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(p)), _mm_loadu_si128(p + 3), 1);
}
// The packs leave 4-byte groups as 0 2 4 6 1 3 5 7.
inline Vec InOrder(Vec packed) {
  return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}
// Each register holds the spread of pixels 0..15 in its low lane and of 16..31 in its high one.
inline void StoreSpread(uint8_t* out, Vec r0, Vec r1, Vec r2) {
  auto* o = reinterpret_cast<__m256i*>(out);
  _mm256_storeu_si256(o, _mm256_permute2x128_si256(r0, r1, 0x20));
  _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(r2, r0, 0x30));
  _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(r1, r2, 0x31));
}

constexpr char kSetName[] = "avx2";

}  // namespace
}  // namespace ulmora

#define ULMORA_MM(op) _mm256_##op
#include "processing/stages_kernels_shuffle.h"
#include "processing/stages_kernels.h"

ULMORA_TARGET_END()

namespace ulmora {

const PixelKernels* Avx2Kernels() { return &kKernelSet; }

}  // namespace ulmora
