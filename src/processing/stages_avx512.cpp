// Kernels for processors with AVX-512 (F, BW, VBMI): byte permutes do the table lookups and the
// 24-bit packing, masks do the row tails. Only these functions use the instructions; the rest of the
// program stays baseline x86-64.
// GCC 12 takes the deliberately undefined registers inside its AVX-512 intrinsics for uninitialised values.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>

#include "processing/stages.h"

#define ULMORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,popcnt,bmi,bmi2")))

namespace ulmora {
namespace {

ULMORA_AVX512 inline __mmask64 Lanes(size_t n) { return n >= 64 ? ~__mmask64(0) : _bzhi_u64(~0ULL, unsigned(n)); }

ULMORA_AVX512 inline uint64_t Popcount(__mmask64 m) { return uint64_t(_mm_popcnt_u64(m)); }

ULMORA_AVX512 inline uint32_t MaxByte(__m512i v) {
  alignas(64) uint8_t b[64];
  _mm512_store_si512(b, v);
  uint32_t m = 0;
  for (int i = 0; i < 64; ++i) m = b[i] > m ? b[i] : m;
  return m;
}

// Sum of squares of 64 bytes into 16 lanes of 32 bits (each lane at most 4 x 255^2).
ULMORA_AVX512 inline __m512i Squares(__m512i o) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lo = _mm512_unpacklo_epi8(o, zero), hi = _mm512_unpackhi_epi8(o, zero);
  return _mm512_add_epi32(_mm512_madd_epi16(lo, lo), _mm512_madd_epi16(hi, hi));
}

ULMORA_AVX512 inline __m512i Widen64(__m512i acc32, __m512i acc64) {
  acc64 = _mm512_add_epi64(acc64, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(acc32)));
  return _mm512_add_epi64(acc64, _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(acc32, 1)));
}

// 32-bit lanes are folded into 64 bits before 4096 blocks can overflow them.
constexpr size_t kFoldBlocks = 4096;

ULMORA_AVX512 __m512i Index(int start, int step, int div) {
  alignas(64) uint8_t idx[64];
  for (int k = 0; k < 64; ++k) idx[k] = uint8_t(((start + k) * step / div) & 0x7F);
  return _mm512_load_si512(idx);
}

ULMORA_AVX512 void Extract(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  // Lanes 0..42 come from the first 128 source bytes, lanes 43..63 from the third vector.
  const __m512i idxAB = Index(0, 3, 1);
  alignas(64) uint8_t c[64];
  for (int k = 0; k < 64; ++k) c[k] = uint8_t(k >= 43 ? 3 * k - 128 : 0);
  const __m512i idxC = _mm512_load_si512(c);
  const __mmask64 fromC = ~__mmask64(0) << 43;
  for (int32_t y = 0; y < height; ++y) {
    int32_t x = 0;
    for (; x + 64 <= width; x += 64) {
      const uint8_t* s = src + 3 * x;
      const __m512i a = _mm512_loadu_si512(s), b = _mm512_loadu_si512(s + 64), cc = _mm512_loadu_si512(s + 128);
      __m512i r = _mm512_permutex2var_epi8(a, idxAB, b);
      r = _mm512_mask_permutexvar_epi8(r, fromC, idxC, cc);
      _mm512_storeu_si512(dst + x, r);
    }
    if (const size_t left = size_t(width - x)) {
      const uint8_t* s = src + 3 * x;
      const size_t bytes = 3 * left;
      const __m512i a = _mm512_maskz_loadu_epi8(Lanes(bytes), s);
      const __m512i b = _mm512_maskz_loadu_epi8(bytes > 64 ? Lanes(bytes - 64) : 0, s + 64);
      const __m512i cc = _mm512_maskz_loadu_epi8(bytes > 128 ? Lanes(bytes - 128) : 0, s + 128);
      __m512i r = _mm512_permutex2var_epi8(a, idxAB, b);
      r = _mm512_mask_permutexvar_epi8(r, fromC, idxC, cc);
      _mm512_mask_storeu_epi8(dst + x, Lanes(left), r);
    }
    dst += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

// Sums of 2..257 frames in 16-bit words: the frame's grey bytes are picked out as in Extract.
template <bool kFirst>
ULMORA_AVX512 inline void AddRow(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, __m512i idxAB,
                                 __m512i idxC, __mmask64 fromC) {
  int32_t x = 0;
  for (; x < width; x += 64) {
    const size_t left = size_t(width - x) < 64 ? size_t(width - x) : 64;
    const uint8_t* s = src + 3 * x;
    const size_t bytes = 3 * left;
    const __m512i a = _mm512_maskz_loadu_epi8(Lanes(bytes), s);
    const __m512i b = _mm512_maskz_loadu_epi8(bytes > 64 ? Lanes(bytes - 64) : 0, s + 64);
    const __m512i cc = _mm512_maskz_loadu_epi8(bytes > 128 ? Lanes(bytes - 128) : 0, s + 128);
    __m512i g = _mm512_permutex2var_epi8(a, idxAB, b);
    g = _mm512_mask_permutexvar_epi8(g, fromC, idxC, cc);
    const __mmask32 k0 = __mmask32(Lanes(left)), k1 = left > 32 ? __mmask32(Lanes(left - 32)) : 0;
    __m512i lo = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(g));
    __m512i hi = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(g, 1));
    if (kFirst) {
      const __m512i f = _mm512_maskz_loadu_epi8(Lanes(left), first + x);
      lo = _mm512_add_epi16(lo, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(f)));
      hi = _mm512_add_epi16(hi, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(f, 1)));
    } else {
      lo = _mm512_add_epi16(lo, _mm512_maskz_loadu_epi16(k0, sum + x));
      hi = _mm512_add_epi16(hi, _mm512_maskz_loadu_epi16(k1, sum + x + 32));
    }
    _mm512_mask_storeu_epi16(sum + x, k0, lo);
    _mm512_mask_storeu_epi16(sum + x + 32, k1, hi);
  }
}

ULMORA_AVX512 void AddFirst(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height,
                            int32_t pad) {
  const __m512i idxAB = Index(0, 3, 1);
  alignas(64) uint8_t c[64];
  for (int k = 0; k < 64; ++k) c[k] = uint8_t(k >= 43 ? 3 * k - 128 : 0);
  const __m512i idxC = _mm512_load_si512(c);
  for (int32_t y = 0; y < height; ++y) {
    AddRow<true>(sum, first, src, width, idxAB, idxC, ~__mmask64(0) << 43);
    sum += width;
    first += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

ULMORA_AVX512 void Add(uint16_t* sum, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  const __m512i idxAB = Index(0, 3, 1);
  alignas(64) uint8_t c[64];
  for (int k = 0; k < 64; ++k) c[k] = uint8_t(k >= 43 ? 3 * k - 128 : 0);
  const __m512i idxC = _mm512_load_si512(c);
  for (int32_t y = 0; y < height; ++y) {
    AddRow<false>(sum, nullptr, src, width, idxAB, idxC, ~__mmask64(0) << 43);
    sum += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

ULMORA_AVX512 RenderResult Render8(uint8_t* plane, const uint8_t* src, size_t n, const uint8_t* lut,
                                   RenderBounds bounds, bool stats) {
  const __m512i l0 = _mm512_loadu_si512(lut), l1 = _mm512_loadu_si512(lut + 64);
  const __m512i l2 = _mm512_loadu_si512(lut + 128), l3 = _mm512_loadu_si512(lut + 192);
  RenderResult r;
  if (!stats) {
    for (size_t i = 0; i < n; i += 64) {
      const __mmask64 k = Lanes(n - i);
      const __m512i s = _mm512_maskz_loadu_epi8(k, src + i);
      const __m512i lo = _mm512_permutex2var_epi8(l0, s, l1), hi = _mm512_permutex2var_epi8(l2, s, l3);
      _mm512_mask_storeu_epi8(plane + i, k, _mm512_mask_blend_epi8(_mm512_movepi8_mask(s), lo, hi));
    }
    return r;
  }
  const bool allOver = bounds.sOverflow < 0, noneOver = bounds.sOverflow >= 255;
  const bool anyInRange = bounds.sLo <= bounds.sHi;
  const __m512i vOver = _mm512_set1_epi8(char(noneOver || allOver ? 0 : bounds.sOverflow));
  const __m512i vLo = _mm512_set1_epi8(char(anyInRange ? bounds.sLo : 0));
  const __m512i vHi = _mm512_set1_epi8(char(anyInRange ? bounds.sHi : 0));
  const __m512i zero = _mm512_setzero_si512();
  __m512i bright = zero, smax = zero, s1 = zero, s2 = zero, s2w = zero;
  uint64_t over = 0;
  size_t blocks = 0;
  for (size_t i = 0; i < n; i += 64) {
    const __mmask64 k = Lanes(n - i);
    const __m512i s = _mm512_maskz_loadu_epi8(k, src + i);
    const __m512i lo = _mm512_permutex2var_epi8(l0, s, l1), hi = _mm512_permutex2var_epi8(l2, s, l3);
    const __m512i o = _mm512_maskz_mov_epi8(k, _mm512_mask_blend_epi8(_mm512_movepi8_mask(s), lo, hi));
    _mm512_mask_storeu_epi8(plane + i, k, o);
    if (allOver)
      over += Popcount(k);
    else if (!noneOver)
      over += Popcount(_mm512_mask_cmpgt_epu8_mask(k, s, vOver));
    if (anyInRange) {
      const __mmask64 in = _mm512_mask_cmple_epu8_mask(_mm512_mask_cmpge_epu8_mask(k, s, vLo), s, vHi);
      bright = _mm512_max_epu8(bright, _mm512_maskz_mov_epi8(in, o));
    }
    smax = _mm512_max_epu8(smax, s);
    s1 = _mm512_add_epi64(s1, _mm512_sad_epu8(o, zero));
    s2w = _mm512_add_epi32(s2w, Squares(o));
    if (++blocks == kFoldBlocks) {
      s2 = Widen64(s2w, s2);
      s2w = zero;
      blocks = 0;
    }
  }
  s2 = Widen64(s2w, s2);
  r.overflow = uint32_t(over);
  r.brightest = MaxByte(bright);
  r.sumMax = MaxByte(smax);
  r.s1 = uint64_t(_mm512_reduce_add_epi64(s1));
  r.s2 = uint64_t(_mm512_reduce_add_epi64(s2));
  return r;
}

// Levels of 16 sums: ((S x A) >> 4 + N / 2) / N + B. The quotient comes from a float reciprocal,
// which for numerators below 2^20 is off by at most one, and one integer step puts it right.
ULMORA_AVX512 inline __m512i Levels16(__m512i s32, __m512i va, __m512i half, __m512i vn, __m512 inv, __m512i vb) {
  const __m512i one = _mm512_set1_epi32(1), zero = _mm512_setzero_si512();
  const __m512i num = _mm512_add_epi32(_mm512_srli_epi32(_mm512_mullo_epi32(s32, va), 4), half);
  __m512i q = _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(num), inv));
  const __m512i r = _mm512_sub_epi32(num, _mm512_mullo_epi32(q, vn));
  q = _mm512_mask_sub_epi32(q, _mm512_cmplt_epi32_mask(r, zero), q, one);
  q = _mm512_mask_add_epi32(q, _mm512_cmpge_epi32_mask(r, vn), q, one);
  return _mm512_add_epi32(q, vb);
}

ULMORA_AVX512 RenderResult Render16(uint8_t* plane, const uint16_t* sum, size_t n, const uint8_t* lut16,
                                    const LevelParams& lp, RenderBounds bounds, bool stats) {
  if (lp.a < 0 || lp.a > 128 || lp.n < 1) return PortableKernels().render16(plane, sum, n, lut16, lp, bounds, stats);
  const __m512i l0 = _mm512_loadu_si512(lp.tone2), l1 = _mm512_loadu_si512(lp.tone2 + 64);
  const __m512i l2 = _mm512_loadu_si512(lp.tone2 + 128), l3 = _mm512_loadu_si512(lp.tone2 + 192);
  const __m512i va = _mm512_set1_epi32(lp.a), half = _mm512_set1_epi32(lp.n >> 1), vn = _mm512_set1_epi32(lp.n);
  const __m512i vb = _mm512_set1_epi32(lp.b), white = _mm512_set1_epi32(255);
  const __m512 inv = _mm512_set1_ps(1.0f / float(lp.n));
  const __m512i zero = _mm512_setzero_si512(), one8 = _mm512_set1_epi8(1), top8 = _mm512_set1_epi8(char(254));
  __m512i bright = zero, smax = zero, s1 = zero, s2 = zero, s2w = zero;
  uint64_t over = 0;
  size_t blocks = 0;
  RenderResult r;
  for (size_t i = 0; i < n; i += 64) {
    const __mmask64 k = Lanes(n - i);
    const __m512i sa = _mm512_maskz_loadu_epi16(__mmask32(k), sum + i);
    const __m512i sb = _mm512_maskz_loadu_epi16(__mmask32(k >> 32), sum + i + 32);
    const __m512i s32[4] = {
        _mm512_cvtepu16_epi32(_mm512_castsi512_si256(sa)), _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(sa, 1)),
        _mm512_cvtepu16_epi32(_mm512_castsi512_si256(sb)), _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(sb, 1))};
    __m128i c[4];
    for (int g = 0; g < 4; ++g) {
      const __m512i level = Levels16(s32[g], va, half, vn, inv, vb);
      if (stats) over += Popcount(_mm512_mask_cmpgt_epi32_mask(__mmask16(k >> (16 * g)), level, white));
      c[g] = _mm512_cvtusepi32_epi8(_mm512_max_epi32(level, zero));
    }
    __m512i cl = _mm512_castsi128_si512(c[0]);
    cl = _mm512_inserti32x4(cl, c[1], 1);
    cl = _mm512_inserti32x4(cl, c[2], 2);
    cl = _mm512_inserti32x4(cl, c[3], 3);
    const __m512i lo = _mm512_permutex2var_epi8(l0, cl, l1), hi = _mm512_permutex2var_epi8(l2, cl, l3);
    const __m512i o = _mm512_maskz_mov_epi8(k, _mm512_mask_blend_epi8(_mm512_movepi8_mask(cl), lo, hi));
    _mm512_mask_storeu_epi8(plane + i, k, o);
    if (!stats) continue;
    const __mmask64 in = _mm512_mask_cmple_epu8_mask(_mm512_mask_cmpge_epu8_mask(k, cl, one8), cl, top8);
    bright = _mm512_max_epu8(bright, _mm512_maskz_mov_epi8(in, o));
    smax = _mm512_max_epu16(smax, _mm512_max_epu16(sa, sb));
    s1 = _mm512_add_epi64(s1, _mm512_sad_epu8(o, zero));
    s2w = _mm512_add_epi32(s2w, Squares(o));
    if (++blocks == kFoldBlocks) {
      s2 = Widen64(s2w, s2);
      s2w = zero;
      blocks = 0;
    }
  }
  if (!stats) return r;
  s2 = Widen64(s2w, s2);
  alignas(64) uint16_t m[32];
  _mm512_store_si512(m, smax);
  uint32_t top = 0;
  for (uint16_t v : m) top = v > top ? v : top;
  r.overflow = uint32_t(over);
  r.brightest = MaxByte(bright);
  r.sumMax = top;
  r.s1 = uint64_t(_mm512_reduce_add_epi64(s1));
  r.s2 = uint64_t(_mm512_reduce_add_epi64(s2));
  return r;
}

ULMORA_AVX512 void Window(const uint8_t* plane, size_t n, uint8_t lo, uint8_t hi, uint64_t& count, uint64_t& sum1,
                          uint64_t& sum2) {
  const __m512i vLo = _mm512_set1_epi8(char(lo)), vHi = _mm512_set1_epi8(char(hi));
  const __m512i zero = _mm512_setzero_si512();
  __m512i s1 = zero, s2 = zero, s2w = zero;
  uint64_t c = 0;
  size_t blocks = 0;
  for (size_t i = 0; i < n; i += 64) {
    const __mmask64 k = Lanes(n - i);
    const __m512i v = _mm512_maskz_loadu_epi8(k, plane + i);
    const __mmask64 in = _mm512_mask_cmple_epu8_mask(_mm512_mask_cmpge_epu8_mask(k, v, vLo), v, vHi);
    const __m512i o = _mm512_maskz_mov_epi8(in, v);
    c += Popcount(in);
    s1 = _mm512_add_epi64(s1, _mm512_sad_epu8(o, zero));
    s2w = _mm512_add_epi32(s2w, Squares(o));
    if (++blocks == kFoldBlocks) {
      s2 = Widen64(s2w, s2);
      s2w = zero;
      blocks = 0;
    }
  }
  s2 = Widen64(s2w, s2);
  count = c;
  sum1 = uint64_t(_mm512_reduce_add_epi64(s1));
  sum2 = uint64_t(_mm512_reduce_add_epi64(s2));
}

ULMORA_AVX512 void RowSums(uint32_t* rows, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const __m512i vt = _mm512_set1_epi8(char(t)), zero = _mm512_setzero_si512();
  for (int32_t y = 0; y < height; ++y, plane += width) {
    __m512i acc = zero;
    for (int32_t x = 0; x < width; x += 64) {
      const __m512i v = _mm512_maskz_loadu_epi8(Lanes(size_t(width - x)), plane + x);
      acc = _mm512_add_epi64(acc, _mm512_sad_epu8(_mm512_min_epu8(v, vt), zero));
    }
    rows[y] = uint32_t(_mm512_reduce_add_epi64(acc));
  }
}

// Adds 64 clipped bytes into the next column words (left of them exist).
ULMORA_AVX512 inline void AddColumns64(uint32_t* cols, __m512i m, size_t left) {
  const __m256i h0 = _mm512_castsi512_si256(m), h1 = _mm512_extracti64x4_epi64(m, 1);
  const __m128i q0 = _mm256_castsi256_si128(h0), q1 = _mm256_extracti128_si256(h0, 1);
  const __m128i q2 = _mm256_castsi256_si128(h1), q3 = _mm256_extracti128_si256(h1, 1);
  const __m128i q[4] = {q0, q1, q2, q3};
  for (int part = 0; part < 4; ++part) {
    const size_t base = size_t(part) * 16;
    if (left <= base) break;
    const __mmask16 k = __mmask16(Lanes(left - base));
    uint32_t* c = cols + base;
    const __m512i old = _mm512_maskz_loadu_epi32(k, c);
    _mm512_mask_storeu_epi32(c, k, _mm512_add_epi32(old, _mm512_cvtepu8_epi32(q[part])));
  }
}

ULMORA_AVX512 void ColSums(uint32_t* cols, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const __m512i vt = _mm512_set1_epi8(char(t));
  for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width)
    for (int32_t x = 0; x < width; x += 64) {
      const size_t left = size_t(width - x);
      const __m512i v = _mm512_maskz_loadu_epi8(Lanes(left), plane + x);
      AddColumns64(cols + x, _mm512_min_epu8(v, vt), left);
    }
}

ULMORA_AVX512 void ApplyRows(uint8_t* plane, int32_t width, int32_t height, const LineCorrection* rows, uint32_t* cols,
                             uint8_t t) {
  const __m512i vt = _mm512_set1_epi8(char(t));
  if (cols)
    for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const __m512i sub = _mm512_set1_epi8(char(rows[y].sub)), add = _mm512_set1_epi8(char(rows[y].add));
    for (int32_t x = 0; x < width; x += 64) {
      const size_t left = size_t(width - x);
      const __mmask64 k = Lanes(left);
      __m512i v = _mm512_maskz_loadu_epi8(k, plane + x);
      v = _mm512_adds_epu8(_mm512_subs_epu8(v, sub), add);
      _mm512_mask_storeu_epi8(plane + x, k, v);
      if (cols) AddColumns64(cols + x, _mm512_min_epu8(v, vt), left);
    }
  }
}

ULMORA_AVX512 void ApplyCols(uint8_t* plane, int32_t width, int32_t height, const uint8_t* colSub,
                             const uint8_t* colAdd) {
  for (int32_t y = 0; y < height; ++y, plane += width)
    for (int32_t x = 0; x < width; x += 64) {
      const __mmask64 k = Lanes(size_t(width - x));
      const __m512i v = _mm512_maskz_loadu_epi8(k, plane + x);
      const __m512i sub = _mm512_maskz_loadu_epi8(k, colSub + x), add = _mm512_maskz_loadu_epi8(k, colAdd + x);
      _mm512_mask_storeu_epi8(plane + x, k, _mm512_adds_epu8(_mm512_subs_epu8(v, sub), add));
    }
}

ULMORA_AVX512 void Expand(uint8_t* view, int32_t pad, const uint8_t* plane, int32_t width, int32_t height,
                          const LineCorrection* rows, const uint8_t* colSub, const uint8_t* colAdd) {
  const __m512i i0 = Index(0, 1, 3), i1 = Index(64, 1, 3), i2 = Index(128, 1, 3);
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const __m512i sub = _mm512_set1_epi8(char(rows ? rows[y].sub : 0));
    const __m512i add = _mm512_set1_epi8(char(rows ? rows[y].add : 0));
    for (int32_t x = 0; x < width; x += 64) {
      const size_t left = size_t(width - x) < 64 ? size_t(width - x) : 64;
      const __mmask64 k = Lanes(left);
      __m512i v = _mm512_maskz_loadu_epi8(k, plane + x);
      if (rows) v = _mm512_adds_epu8(_mm512_subs_epu8(v, sub), add);
      if (colSub)
        v = _mm512_adds_epu8(_mm512_subs_epu8(v, _mm512_maskz_loadu_epi8(k, colSub + x)),
                             _mm512_maskz_loadu_epi8(k, colAdd + x));
      uint8_t* out = view + 3 * static_cast<ptrdiff_t>(x);
      const size_t bytes = 3 * left;
      if (left == 64) {
        _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(~__mmask64(0), i0, v));
        _mm512_storeu_si512(out + 64, _mm512_maskz_permutexvar_epi8(~__mmask64(0), i1, v));
        _mm512_storeu_si512(out + 128, _mm512_maskz_permutexvar_epi8(~__mmask64(0), i2, v));
      } else {
        _mm512_mask_storeu_epi8(out, Lanes(bytes), _mm512_maskz_permutexvar_epi8(~__mmask64(0), i0, v));
        if (bytes > 64)
          _mm512_mask_storeu_epi8(out + 64, Lanes(bytes - 64), _mm512_maskz_permutexvar_epi8(~__mmask64(0), i1, v));
        if (bytes > 128)
          _mm512_mask_storeu_epi8(out + 128, Lanes(bytes - 128), _mm512_maskz_permutexvar_epi8(~__mmask64(0), i2, v));
      }
    }
    view += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

constexpr PixelKernels kAvx512 = {
    "avx512", Extract, AddFirst, Add, Render8, Render16, RowSums, ColSums, Window, ApplyRows, ApplyCols, Expand,
};

}  // namespace

const PixelKernels* Avx512Kernels() { return &kAvx512; }

}  // namespace ulmora

#pragma GCC diagnostic pop
