// Kernels for processors with AVX2. Table lookups use 16 in-lane byte shuffles whose indices are
// biased so that exactly the tables at or above a pixel's high nibble answer; the tables are stored
// as differences of neighbours, so the XOR of the answers telescopes to the wanted entry.
#include <immintrin.h>

#include "processing/stages.h"

#define ULMORA_AVX2 __attribute__((target("avx2,popcnt,bmi,bmi2")))

namespace ulmora {
namespace {

inline uint8_t SatStep(uint8_t v, uint8_t sub, uint8_t add) {
  const int r = int(v) - sub + add;
  return uint8_t(r < 0 ? 0 : (r > 255 ? 255 : r));
}

ULMORA_AVX2 inline __m256i Load2(const uint8_t* lo, const uint8_t* hi) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

ULMORA_AVX2 inline __m256i Bytes(const uint8_t (&b)[16]) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
}

ULMORA_AVX2 inline uint32_t MaxByte(__m256i v) {
  alignas(32) uint8_t b[32];
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), v);
  uint32_t m = 0;
  for (int i = 0; i < 32; ++i) m = b[i] > m ? b[i] : m;
  return m;
}

ULMORA_AVX2 inline uint64_t Sum64(__m256i v) {
  alignas(32) uint64_t q[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(q), v);
  return q[0] + q[1] + q[2] + q[3];
}

ULMORA_AVX2 inline __m256i Squares(__m256i o) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_unpacklo_epi8(o, zero), hi = _mm256_unpackhi_epi8(o, zero);
  return _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi));
}

ULMORA_AVX2 inline __m256i Widen64(__m256i acc32, __m256i acc64) {
  acc64 = _mm256_add_epi64(acc64, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(acc32)));
  return _mm256_add_epi64(acc64, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(acc32, 1)));
}

constexpr size_t kFoldBlocks = 4096;

// Shuffles that pick the first byte of each 24-bit pixel from 48 bytes (three 16-byte pieces).
struct PickMasks {
  uint8_t a[16], b[16], c[16];
  constexpr PickMasks() : a(), b(), c() {
    for (int k = 0; k < 16; ++k) {
      const int src = 3 * k;
      a[k] = src < 16 ? uint8_t(src) : 0x80;
      b[k] = src >= 16 && src < 32 ? uint8_t(src - 16) : 0x80;
      c[k] = src >= 32 ? uint8_t(src - 32) : 0x80;
    }
  }
};
constexpr PickMasks kPick;

// Shuffles that spread 16 grey bytes over 48 bytes, three per pixel.
struct SpreadMasks {
  uint8_t m[3][16];
  constexpr SpreadMasks() : m() {
    for (int part = 0; part < 3; ++part)
      for (int k = 0; k < 16; ++k) m[part][k] = uint8_t((16 * part + k) / 3);
  }
};
constexpr SpreadMasks kSpread;

// 32 grey bytes from 96 bytes of 24-bit pixels.
ULMORA_AVX2 inline __m256i Pick32(const uint8_t* s, __m256i ma, __m256i mb, __m256i mc) {
  const __m256i a = Load2(s, s + 48), b = Load2(s + 16, s + 64), c = Load2(s + 32, s + 80);
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, ma), _mm256_shuffle_epi8(b, mb)),
                         _mm256_shuffle_epi8(c, mc));
}

ULMORA_AVX2 void Extract(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  const __m256i ma = Bytes(kPick.a), mb = Bytes(kPick.b), mc = Bytes(kPick.c);
  for (int32_t y = 0; y < height; ++y) {
    int32_t x = 0;
    for (; x + 32 <= width; x += 32)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), Pick32(src + 3 * x, ma, mb, mc));
    for (; x < width; ++x) dst[x] = src[3 * x];
    dst += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

template <bool kFirst>
ULMORA_AVX2 inline void AddRows(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height,
                                int32_t pad) {
  const __m256i ma = Bytes(kPick.a), mb = Bytes(kPick.b), mc = Bytes(kPick.c);
  for (int32_t y = 0; y < height; ++y) {
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
      const __m256i g = Pick32(src + 3 * x, ma, mb, mc);
      __m256i lo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(g));
      __m256i hi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(g, 1));
      auto* out = reinterpret_cast<__m256i*>(sum + x);
      if (kFirst) {
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + x));
        lo = _mm256_add_epi16(lo, _mm256_cvtepu8_epi16(_mm256_castsi256_si128(f)));
        hi = _mm256_add_epi16(hi, _mm256_cvtepu8_epi16(_mm256_extracti128_si256(f, 1)));
      } else {
        lo = _mm256_add_epi16(lo, _mm256_loadu_si256(out));
        hi = _mm256_add_epi16(hi, _mm256_loadu_si256(out + 1));
      }
      _mm256_storeu_si256(out, lo);
      _mm256_storeu_si256(out + 1, hi);
    }
    for (; x < width; ++x) sum[x] = uint16_t((kFirst ? first[x] : sum[x]) + src[3 * x]);
    sum += width;
    if (kFirst) first += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

ULMORA_AVX2 void AddFirst(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height,
                          int32_t pad) {
  AddRows<true>(sum, first, src, width, height, pad);
}

ULMORA_AVX2 void Add(uint16_t* sum, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  AddRows<false>(sum, nullptr, src, width, height, pad);
}

// The 256-entry table as two telescoping halves of 8 shuffle tables each.
struct ShuffleTable {
  __m256i u[16];
};

ULMORA_AVX2 inline void MakeShuffleTable(ShuffleTable& t, const uint8_t* lut) {
  for (int i = 0; i < 16; ++i) {
    alignas(16) uint8_t d[16];
    const bool last = i == 7 || i == 15;
    for (int k = 0; k < 16; ++k) d[k] = uint8_t(lut[16 * i + k] ^ (last ? 0 : lut[16 * (i + 1) + k]));
    t.u[i] = Bytes(d);
  }
}

ULMORA_AVX2 inline __m256i Lookup(const ShuffleTable& t, __m256i s) {
  const __m256i sixteen = _mm256_set1_epi8(16);
  __m256i lo = _mm256_adds_epu8(s, _mm256_set1_epi8(0x70));
  __m256i hi = _mm256_adds_epu8(_mm256_xor_si256(s, _mm256_set1_epi8(char(0x80))), _mm256_set1_epi8(0x70));
  __m256i r = _mm256_xor_si256(_mm256_shuffle_epi8(t.u[0], lo), _mm256_shuffle_epi8(t.u[8], hi));
  for (int i = 1; i < 8; ++i) {
    lo = _mm256_subs_epu8(lo, sixteen);
    hi = _mm256_subs_epu8(hi, sixteen);
    r = _mm256_xor_si256(r, _mm256_xor_si256(_mm256_shuffle_epi8(t.u[i], lo), _mm256_shuffle_epi8(t.u[8 + i], hi)));
  }
  return r;
}

ULMORA_AVX2 RenderResult Render8(uint8_t* plane, const uint8_t* src, size_t n, const uint8_t* lut, RenderBounds bounds,
                                 bool stats) {
  ShuffleTable t;
  MakeShuffleTable(t, lut);
  const size_t whole = n & ~size_t(31);
  RenderResult r;
  if (!stats) {
    for (size_t i = 0; i < whole; i += 32) {
      const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(plane + i), Lookup(t, s));
    }
    for (size_t i = whole; i < n; ++i) plane[i] = lut[src[i]];
    return r;
  }
  const bool allOver = bounds.sOverflow < 0, noneOver = bounds.sOverflow >= 255;
  const bool anyInRange = bounds.sLo <= bounds.sHi;
  // s > sOverflow  <=>  max(s, sOverflow + 1) == s
  const __m256i vOver = _mm256_set1_epi8(char(allOver || noneOver ? 0 : bounds.sOverflow + 1));
  const __m256i vLo = _mm256_set1_epi8(char(anyInRange ? bounds.sLo : 0));
  const __m256i vHi = _mm256_set1_epi8(char(anyInRange ? bounds.sHi : 0));
  const __m256i zero = _mm256_setzero_si256();
  __m256i bright = zero, smax = zero, s1 = zero, s2 = zero, s2w = zero;
  uint64_t over = allOver ? whole : 0;
  size_t blocks = 0;
  for (size_t i = 0; i < whole; i += 32) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i o = Lookup(t, s);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(plane + i), o);
    if (!allOver && !noneOver)
      over += uint64_t(_mm_popcnt_u32(uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(s, vOver), s)))));
    if (anyInRange) {
      const __m256i in = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(s, vLo), s),
                                          _mm256_cmpeq_epi8(_mm256_min_epu8(s, vHi), s));
      bright = _mm256_max_epu8(bright, _mm256_and_si256(o, in));
    }
    smax = _mm256_max_epu8(smax, s);
    s1 = _mm256_add_epi64(s1, _mm256_sad_epu8(o, zero));
    s2w = _mm256_add_epi32(s2w, Squares(o));
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
  r.s1 = Sum64(s1);
  r.s2 = Sum64(s2);
  if (whole < n) {
    const RenderResult tail = PortableKernels().render8(plane + whole, src + whole, n - whole, lut, bounds, true);
    r.overflow += tail.overflow;
    r.brightest = tail.brightest > r.brightest ? tail.brightest : r.brightest;
    r.sumMax = tail.sumMax > r.sumMax ? tail.sumMax : r.sumMax;
    r.s1 += tail.s1;
    r.s2 += tail.s2;
  }
  return r;
}

// Levels of 8 sums, as in the AVX-512 set: float reciprocal, then one integer correction.
ULMORA_AVX2 inline __m256i Levels8(__m256i s32, __m256i va, __m256i half, __m256i vn, __m256i vn1, __m256 inv,
                                   __m256i vb) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i num = _mm256_add_epi32(_mm256_srli_epi32(_mm256_mullo_epi32(s32, va), 4), half);
  __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(num), inv));
  const __m256i r = _mm256_sub_epi32(num, _mm256_mullo_epi32(q, vn));
  q = _mm256_add_epi32(q, _mm256_cmpgt_epi32(zero, r));  // r < 0: one less
  q = _mm256_sub_epi32(q, _mm256_cmpgt_epi32(r, vn1));   // r >= n: one more
  return _mm256_add_epi32(q, vb);
}

ULMORA_AVX2 RenderResult Render16(uint8_t* plane, const uint16_t* sum, size_t n, const uint8_t* lut16,
                                  const LevelParams& lp, RenderBounds bounds, bool stats) {
  if (lp.a < 0 || lp.a > 128 || lp.n < 1) return PortableKernels().render16(plane, sum, n, lut16, lp, bounds, stats);
  ShuffleTable t;
  MakeShuffleTable(t, lp.tone2);
  const __m256i va = _mm256_set1_epi32(lp.a), half = _mm256_set1_epi32(lp.n >> 1), vn = _mm256_set1_epi32(lp.n);
  const __m256i vn1 = _mm256_set1_epi32(lp.n - 1), vb = _mm256_set1_epi32(lp.b), white = _mm256_set1_epi32(255);
  const __m256 inv = _mm256_set1_ps(1.0f / float(lp.n));
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i zero = _mm256_setzero_si256(), one8 = _mm256_set1_epi8(1), top8 = _mm256_set1_epi8(char(254));
  __m256i bright = zero, smax = zero, s1 = zero, s2 = zero, s2w = zero;
  uint64_t over = 0;
  size_t blocks = 0;
  const size_t whole = n & ~size_t(31);
  for (size_t i = 0; i < whole; i += 32) {
    const __m256i sa = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i));
    const __m256i sb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i + 16));
    const __m256i s32[4] = {
        _mm256_cvtepu16_epi32(_mm256_castsi256_si128(sa)), _mm256_cvtepu16_epi32(_mm256_extracti128_si256(sa, 1)),
        _mm256_cvtepu16_epi32(_mm256_castsi256_si128(sb)), _mm256_cvtepu16_epi32(_mm256_extracti128_si256(sb, 1))};
    __m256i c[4];
    for (int g = 0; g < 4; ++g) {
      const __m256i level = Levels8(s32[g], va, half, vn, vn1, inv, vb);
      if (stats)
        over += uint64_t(
            _mm_popcnt_u32(uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(level, white))))));
      c[g] = _mm256_min_epi32(_mm256_max_epi32(level, zero), white);
    }
    const __m256i packed = _mm256_packus_epi16(_mm256_packus_epi32(c[0], c[1]), _mm256_packus_epi32(c[2], c[3]));
    const __m256i cl = _mm256_permutevar8x32_epi32(packed, order);
    const __m256i o = Lookup(t, cl);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(plane + i), o);
    if (!stats) continue;
    const __m256i in = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(cl, one8), cl),
                                        _mm256_cmpeq_epi8(_mm256_min_epu8(cl, top8), cl));
    bright = _mm256_max_epu8(bright, _mm256_and_si256(o, in));
    smax = _mm256_max_epu16(smax, _mm256_max_epu16(sa, sb));
    s1 = _mm256_add_epi64(s1, _mm256_sad_epu8(o, zero));
    s2w = _mm256_add_epi32(s2w, Squares(o));
    if (++blocks == kFoldBlocks) {
      s2 = Widen64(s2w, s2);
      s2w = zero;
      blocks = 0;
    }
  }
  RenderResult r;
  if (whole < n) r = PortableKernels().render16(plane + whole, sum + whole, n - whole, lut16, lp, bounds, stats);
  if (!stats) return r;
  s2 = Widen64(s2w, s2);
  alignas(32) uint16_t m[16];
  _mm256_store_si256(reinterpret_cast<__m256i*>(m), smax);
  for (uint16_t v : m) r.sumMax = v > r.sumMax ? v : r.sumMax;
  const uint32_t b = MaxByte(bright);
  r.brightest = b > r.brightest ? b : r.brightest;
  r.overflow += uint32_t(over);
  r.s1 += Sum64(s1);
  r.s2 += Sum64(s2);
  return r;
}

ULMORA_AVX2 void Window(const uint8_t* plane, size_t n, uint8_t lo, uint8_t hi, uint64_t& count, uint64_t& sum1,
                        uint64_t& sum2) {
  const __m256i vLo = _mm256_set1_epi8(char(lo)), vHi = _mm256_set1_epi8(char(hi));
  const __m256i zero = _mm256_setzero_si256();
  __m256i s1 = zero, s2 = zero, s2w = zero;
  uint64_t c = 0;
  size_t blocks = 0;
  const size_t whole = n & ~size_t(31);
  for (size_t i = 0; i < whole; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plane + i));
    const __m256i in =
        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(v, vLo), v), _mm256_cmpeq_epi8(_mm256_min_epu8(v, vHi), v));
    const __m256i o = _mm256_and_si256(v, in);
    c += uint64_t(_mm_popcnt_u32(uint32_t(_mm256_movemask_epi8(in))));
    s1 = _mm256_add_epi64(s1, _mm256_sad_epu8(o, zero));
    s2w = _mm256_add_epi32(s2w, Squares(o));
    if (++blocks == kFoldBlocks) {
      s2 = Widen64(s2w, s2);
      s2w = zero;
      blocks = 0;
    }
  }
  s2 = Widen64(s2w, s2);
  uint64_t a = Sum64(s1), q = Sum64(s2);
  for (size_t i = whole; i < n; ++i) {
    const uint32_t v = plane[i];
    if (v >= lo && v <= hi) {
      ++c;
      a += v;
      q += v * v;
    }
  }
  count = c;
  sum1 = a;
  sum2 = q;
}

ULMORA_AVX2 void RowSums(uint32_t* rows, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const __m256i vt = _mm256_set1_epi8(char(t)), zero = _mm256_setzero_si256();
  for (int32_t y = 0; y < height; ++y, plane += width) {
    __m256i acc = zero;
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plane + x));
      acc = _mm256_add_epi64(acc, _mm256_sad_epu8(_mm256_min_epu8(v, vt), zero));
    }
    uint64_t s = Sum64(acc);
    for (; x < width; ++x) s += plane[x] < t ? plane[x] : t;
    rows[y] = uint32_t(s);
  }
}

ULMORA_AVX2 inline void AddColumns32(uint32_t* cols, __m256i m) {
  const __m128i lo = _mm256_castsi256_si128(m), hi = _mm256_extracti128_si256(m, 1);
  auto* c = reinterpret_cast<__m256i*>(cols);
  _mm256_storeu_si256(c, _mm256_add_epi32(_mm256_loadu_si256(c), _mm256_cvtepu8_epi32(lo)));
  _mm256_storeu_si256(c + 1, _mm256_add_epi32(_mm256_loadu_si256(c + 1), _mm256_cvtepu8_epi32(_mm_srli_si128(lo, 8))));
  _mm256_storeu_si256(c + 2, _mm256_add_epi32(_mm256_loadu_si256(c + 2), _mm256_cvtepu8_epi32(hi)));
  _mm256_storeu_si256(c + 3, _mm256_add_epi32(_mm256_loadu_si256(c + 3), _mm256_cvtepu8_epi32(_mm_srli_si128(hi, 8))));
}

ULMORA_AVX2 void ColSums(uint32_t* cols, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const __m256i vt = _mm256_set1_epi8(char(t));
  for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width) {
    int32_t x = 0;
    for (; x + 32 <= width; x += 32)
      AddColumns32(cols + x, _mm256_min_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(plane + x)), vt));
    for (; x < width; ++x) cols[x] += plane[x] < t ? plane[x] : t;
  }
}

ULMORA_AVX2 void ApplyRows(uint8_t* plane, int32_t width, int32_t height, const LineCorrection* rows, uint32_t* cols,
                           uint8_t t) {
  const __m256i vt = _mm256_set1_epi8(char(t));
  if (cols)
    for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const __m256i sub = _mm256_set1_epi8(char(rows[y].sub)), add = _mm256_set1_epi8(char(rows[y].add));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
      auto* p = reinterpret_cast<__m256i*>(plane + x);
      const __m256i v = _mm256_adds_epu8(_mm256_subs_epu8(_mm256_loadu_si256(p), sub), add);
      _mm256_storeu_si256(p, v);
      if (cols) AddColumns32(cols + x, _mm256_min_epu8(v, vt));
    }
    for (; x < width; ++x) {
      const uint8_t v = SatStep(plane[x], rows[y].sub, rows[y].add);
      plane[x] = v;
      if (cols) cols[x] += v < t ? v : t;
    }
  }
}

ULMORA_AVX2 void ApplyCols(uint8_t* plane, int32_t width, int32_t height, const uint8_t* colSub,
                           const uint8_t* colAdd) {
  for (int32_t y = 0; y < height; ++y, plane += width) {
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
      auto* p = reinterpret_cast<__m256i*>(plane + x);
      const __m256i sub = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(colSub + x));
      const __m256i add = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(colAdd + x));
      _mm256_storeu_si256(p, _mm256_adds_epu8(_mm256_subs_epu8(_mm256_loadu_si256(p), sub), add));
    }
    for (; x < width; ++x) plane[x] = SatStep(plane[x], colSub[x], colAdd[x]);
  }
}

ULMORA_AVX2 void Expand(uint8_t* view, int32_t pad, const uint8_t* plane, int32_t width, int32_t height,
                        const LineCorrection* rows, const uint8_t* colSub, const uint8_t* colAdd) {
  const __m256i m0 = Bytes(kSpread.m[0]), m1 = Bytes(kSpread.m[1]), m2 = Bytes(kSpread.m[2]);
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const uint8_t rs = rows ? rows[y].sub : 0, ra = rows ? rows[y].add : 0;
    const __m256i sub = _mm256_set1_epi8(char(rs)), add = _mm256_set1_epi8(char(ra));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
      __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plane + x));
      v = _mm256_adds_epu8(_mm256_subs_epu8(v, sub), add);
      if (colSub)
        v = _mm256_adds_epu8(_mm256_subs_epu8(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(colSub + x))),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(colAdd + x)));
      const __m256i r0 = _mm256_shuffle_epi8(v, m0), r1 = _mm256_shuffle_epi8(v, m1), r2 = _mm256_shuffle_epi8(v, m2);
      auto* out = reinterpret_cast<__m256i*>(view + 3 * static_cast<ptrdiff_t>(x));
      _mm256_storeu_si256(out, _mm256_permute2x128_si256(r0, r1, 0x20));
      _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(r2, r0, 0x30));
      _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(r1, r2, 0x31));
    }
    uint8_t* out = view + 3 * static_cast<ptrdiff_t>(x);
    for (; x < width; ++x, out += 3) {
      uint8_t v = SatStep(plane[x], rs, ra);
      if (colSub) v = SatStep(v, colSub[x], colAdd[x]);
      out[0] = out[1] = out[2] = v;
    }
    view += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

constexpr PixelKernels kAvx2 = {
    "avx2", Extract, AddFirst, Add, Render8, Render16, RowSums, ColSums, Window, ApplyRows, ApplyCols, Expand,
};

}  // namespace

const PixelKernels* Avx2Kernels() { return &kAvx2; }

}  // namespace ulmora
