// Kernels for processors with AVX-512 (F, BW, VBMI): the shared kernel bodies on 64-byte
// registers. Byte permutes do the table lookups and the 24-bit packing, masks do the row tails.
// Only what follows the target switch uses the instructions; the rest of the program stays
// baseline x86-64.
// GCC 12 takes the deliberately undefined registers inside its AVX-512 intrinsics for uninitialised values;
// clang does not, and knows no -Wmaybe-uninitialized.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include "processing/stages.h"
#include "processing/stages_target.h"

ULMORA_TARGET_BEGIN("avx512f,avx512bw,avx512vl,avx512vbmi,popcnt,bmi,bmi2")

namespace ulmora {
namespace {

using Vec = __m512i;
constexpr bool kMaskedTails = true;

// The first n of 64 lanes; a whole register is loaded and stored without a mask.
inline __mmask64 Lanes(size_t n) { return n >= 64 ? ~__mmask64(0) : _bzhi_u64(~0ULL, unsigned(n)); }

inline __m256i Lo(Vec v) { return _mm512_castsi512_si256(v); }
inline __m256i Hi(Vec v) { return _mm512_extracti64x4_epi64(v, 1); }
template <int kPart>
inline __m128i Quarter(Vec v) {
  return _mm512_extracti32x4_epi32(v, kPart);
}

inline Vec Load8(const uint8_t* p, size_t n) {
  return n >= 64 ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8(Lanes(n), p);
}
inline Vec Load16(const uint16_t* p, size_t n) {
  return n >= 32 ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi16(__mmask32(Lanes(n)), p);
}
inline Vec Load32(const uint32_t* p, size_t n) {
  return n >= 16 ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi32(__mmask16(Lanes(n)), p);
}
inline void Store8(uint8_t* p, Vec v, size_t n) {
  if (n >= 64)
    _mm512_storeu_si512(p, v);
  else
    _mm512_mask_storeu_epi8(p, Lanes(n), v);
}
inline void Store16(uint16_t* p, Vec v, size_t n) {
  if (n >= 32)
    _mm512_storeu_si512(p, v);
  else
    _mm512_mask_storeu_epi16(p, __mmask32(Lanes(n)), v);
}
inline void Store32(uint32_t* p, Vec v, size_t n) {
  if (n >= 16)
    _mm512_storeu_si512(p, v);
  else
    _mm512_mask_storeu_epi32(p, __mmask16(Lanes(n)), v);
}

// Byte predicates are mask registers, limited to the first n lanes.
using Mask = __mmask64;

inline Mask InRange8(Vec v, Vec lo, Vec hi, size_t n) {
  return _mm512_mask_cmple_epu8_mask(_mm512_mask_cmpge_epu8_mask(Lanes(n), v, lo), v, hi);
}
inline Mask AtLeast8(Vec v, Vec lo, size_t n) { return _mm512_mask_cmpge_epu8_mask(Lanes(n), v, lo); }
inline uint64_t Count(Mask m) { return uint64_t(_mm_popcnt_u64(m)); }
inline Vec Keep(Mask m, Vec v) { return _mm512_maskz_mov_epi8(m, v); }
inline Vec KeepLanes(Vec v, size_t n) { return n >= 64 ? v : _mm512_maskz_mov_epi8(Lanes(n), v); }
inline uint64_t CountAbove32(Vec a, Vec b, size_t n) {
  return uint64_t(_mm_popcnt_u32(_mm512_mask_cmpgt_epi32_mask(__mmask16(Lanes(n)), a, b)));
}

inline Vec FixQuotient(Vec q, Vec r, Vec n, Vec) {
  const __m512i one = _mm512_set1_epi32(1);
  q = _mm512_mask_sub_epi32(q, _mm512_cmplt_epi32_mask(r, _mm512_setzero_si512()), q, one);
  return _mm512_mask_add_epi32(q, _mm512_cmpge_epi32_mask(r, n), q, one);
}

// Levels clamped to 0..255 as bytes, in order.
inline Vec Narrow(const Vec level[4]) {
  __m128i c[4];
  for (int g = 0; g < 4; ++g) c[g] = _mm512_cvtusepi32_epi8(_mm512_max_epi32(level[g], _mm512_setzero_si512()));
  __m512i r = _mm512_castsi128_si512(c[0]);
  r = _mm512_inserti32x4(r, c[1], 1);
  r = _mm512_inserti32x4(r, c[2], 2);
  return _mm512_inserti32x4(r, c[3], 3);
}

struct Table {
  __m512i q[4];
};

inline void MakeTable(Table& t, const uint8_t* lut) {
  for (int i = 0; i < 4; ++i) t.q[i] = _mm512_loadu_si512(lut + 64 * i);
}

inline Vec Lookup(const Table& t, Vec s) {
  const __m512i lo = _mm512_permutex2var_epi8(t.q[0], s, t.q[1]), hi = _mm512_permutex2var_epi8(t.q[2], s, t.q[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(s), lo, hi);
}

// Byte k of the register is byte (start + k) x step / div of a run.
inline __m512i Index(int start, int step, int div) {
  alignas(64) uint8_t idx[64];
  for (int k = 0; k < 64; ++k) idx[k] = uint8_t(((start + k) * step / div) & 0x7F);
  return _mm512_load_si512(idx);
}

// Lanes 0..42 of a pick come from the first 128 source bytes, lanes 43..63 from the third register.
struct PickIndex {
  __m512i ab, c;
};

inline PickIndex MakePickIndex() {
  alignas(64) uint8_t c[64];
  for (int k = 0; k < 64; ++k) c[k] = uint8_t(k >= 43 ? 3 * k - 128 : 0);
  return {Index(0, 3, 1), _mm512_load_si512(c)};
}

inline Vec Pick(const uint8_t* s, const PickIndex& m, size_t n) {
  const size_t bytes = 3 * (n < 64 ? n : 64);
  const __m512i a = Load8(s, bytes), b = Load8(s + 64, bytes > 64 ? bytes - 64 : 0);
  const __m512i c = Load8(s + 128, bytes > 128 ? bytes - 128 : 0);
  return _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(a, m.ab, b), ~__mmask64(0) << 43, m.c, c);
}

struct SpreadIndex {
  __m512i i0, i1, i2;
};

inline SpreadIndex MakeSpreadIndex() { return {Index(0, 1, 3), Index(64, 1, 3), Index(128, 1, 3)}; }

inline void Spread(uint8_t* out, Vec v, const SpreadIndex& m, size_t n) {
  const size_t bytes = 3 * (n < 64 ? n : 64);
  Store8(out, _mm512_permutexvar_epi8(m.i0, v), bytes);
  if (bytes > 64) Store8(out + 64, _mm512_permutexvar_epi8(m.i1, v), bytes - 64);
  if (bytes > 128) Store8(out + 128, _mm512_permutexvar_epi8(m.i2, v), bytes - 128);
}

constexpr char kSetName[] = "avx512";

}  // namespace
}  // namespace ulmora

#define ULMORA_MM(op) _mm512_##op
#include "processing/stages_kernels.h"

ULMORA_TARGET_END()

namespace ulmora {

const PixelKernels* Avx512Kernels() { return &kKernelSet; }

}  // namespace ulmora

#pragma GCC diagnostic pop
