// Kernels for processors with SSSE3 and SSE4.1 (every x86-64 processor of the last fifteen years):
// the same byte shuffles as the AVX2 set, on 16-byte vectors.
#include <immintrin.h>

#include "processing/stages.h"

#define ULMORA_SSE4 __attribute__((target("ssse3,sse4.1,popcnt")))

namespace ulmora {
namespace {

inline uint8_t SatStep(uint8_t v, uint8_t sub, uint8_t add) {
  const int r = int(v) - sub + add;
  return uint8_t(r < 0 ? 0 : (r > 255 ? 255 : r));
}

ULMORA_SSE4 inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
ULMORA_SSE4 inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

ULMORA_SSE4 inline uint32_t MaxByte(__m128i v) {
  alignas(16) uint8_t b[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(b), v);
  uint32_t m = 0;
  for (int i = 0; i < 16; ++i) m = b[i] > m ? b[i] : m;
  return m;
}

ULMORA_SSE4 inline uint64_t Sum64(__m128i v) {
  return uint64_t(_mm_cvtsi128_si64(v)) + uint64_t(_mm_extract_epi64(v, 1));
}

ULMORA_SSE4 inline __m128i Squares(__m128i o) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_unpacklo_epi8(o, zero), hi = _mm_unpackhi_epi8(o, zero);
  return _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi));
}

ULMORA_SSE4 inline __m128i Widen64(__m128i acc32, __m128i acc64) {
  acc64 = _mm_add_epi64(acc64, _mm_cvtepu32_epi64(acc32));
  return _mm_add_epi64(acc64, _mm_cvtepu32_epi64(_mm_srli_si128(acc32, 8)));
}

constexpr size_t kFoldBlocks = 8192;

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

struct SpreadMasks {
  uint8_t m[3][16];
  constexpr SpreadMasks() : m() {
    for (int part = 0; part < 3; ++part)
      for (int k = 0; k < 16; ++k) m[part][k] = uint8_t((16 * part + k) / 3);
  }
};
constexpr SpreadMasks kSpread;

ULMORA_SSE4 inline __m128i Pick16(const uint8_t* s, __m128i ma, __m128i mb, __m128i mc) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(Load(s), ma), _mm_shuffle_epi8(Load(s + 16), mb)),
                      _mm_shuffle_epi8(Load(s + 32), mc));
}

ULMORA_SSE4 void Extract(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  const __m128i ma = Load(kPick.a), mb = Load(kPick.b), mc = Load(kPick.c);
  for (int32_t y = 0; y < height; ++y) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) Store(dst + x, Pick16(src + 3 * x, ma, mb, mc));
    for (; x < width; ++x) dst[x] = src[3 * x];
    dst += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

template <bool kFirst>
ULMORA_SSE4 inline void AddRows(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height,
                                int32_t pad) {
  const __m128i ma = Load(kPick.a), mb = Load(kPick.b), mc = Load(kPick.c);
  for (int32_t y = 0; y < height; ++y) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
      const __m128i g = Pick16(src + 3 * x, ma, mb, mc);
      __m128i lo = _mm_cvtepu8_epi16(g), hi = _mm_cvtepu8_epi16(_mm_srli_si128(g, 8));
      auto* out = reinterpret_cast<__m128i*>(sum + x);
      if (kFirst) {
        const __m128i f = Load(first + x);
        lo = _mm_add_epi16(lo, _mm_cvtepu8_epi16(f));
        hi = _mm_add_epi16(hi, _mm_cvtepu8_epi16(_mm_srli_si128(f, 8)));
      } else {
        lo = _mm_add_epi16(lo, _mm_loadu_si128(out));
        hi = _mm_add_epi16(hi, _mm_loadu_si128(out + 1));
      }
      _mm_storeu_si128(out, lo);
      _mm_storeu_si128(out + 1, hi);
    }
    for (; x < width; ++x) sum[x] = uint16_t((kFirst ? first[x] : sum[x]) + src[3 * x]);
    sum += width;
    if (kFirst) first += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

ULMORA_SSE4 void AddFirst(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height,
                          int32_t pad) {
  AddRows<true>(sum, first, src, width, height, pad);
}

ULMORA_SSE4 void Add(uint16_t* sum, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  AddRows<false>(sum, nullptr, src, width, height, pad);
}

// See the AVX2 set: two telescoping halves of 8 shuffle tables.
struct ShuffleTable {
  __m128i u[16];
};

ULMORA_SSE4 inline void MakeShuffleTable(ShuffleTable& t, const uint8_t* lut) {
  for (int i = 0; i < 16; ++i) {
    alignas(16) uint8_t d[16];
    const bool last = i == 7 || i == 15;
    for (int k = 0; k < 16; ++k) d[k] = uint8_t(lut[16 * i + k] ^ (last ? 0 : lut[16 * (i + 1) + k]));
    t.u[i] = Load(d);
  }
}

ULMORA_SSE4 inline __m128i Lookup(const ShuffleTable& t, __m128i s) {
  const __m128i sixteen = _mm_set1_epi8(16);
  __m128i lo = _mm_adds_epu8(s, _mm_set1_epi8(0x70));
  __m128i hi = _mm_adds_epu8(_mm_xor_si128(s, _mm_set1_epi8(char(0x80))), _mm_set1_epi8(0x70));
  __m128i r = _mm_xor_si128(_mm_shuffle_epi8(t.u[0], lo), _mm_shuffle_epi8(t.u[8], hi));
  for (int i = 1; i < 8; ++i) {
    lo = _mm_subs_epu8(lo, sixteen);
    hi = _mm_subs_epu8(hi, sixteen);
    r = _mm_xor_si128(r, _mm_xor_si128(_mm_shuffle_epi8(t.u[i], lo), _mm_shuffle_epi8(t.u[8 + i], hi)));
  }
  return r;
}

ULMORA_SSE4 RenderResult Render8(uint8_t* plane, const uint8_t* src, size_t n, const uint8_t* lut, RenderBounds bounds,
                                 bool stats) {
  ShuffleTable t;
  MakeShuffleTable(t, lut);
  const size_t whole = n & ~size_t(15);
  RenderResult r;
  if (!stats) {
    for (size_t i = 0; i < whole; i += 16) Store(plane + i, Lookup(t, Load(src + i)));
    for (size_t i = whole; i < n; ++i) plane[i] = lut[src[i]];
    return r;
  }
  const bool allOver = bounds.sOverflow < 0, noneOver = bounds.sOverflow >= 255;
  const bool anyInRange = bounds.sLo <= bounds.sHi;
  const __m128i vOver = _mm_set1_epi8(char(allOver || noneOver ? 0 : bounds.sOverflow + 1));
  const __m128i vLo = _mm_set1_epi8(char(anyInRange ? bounds.sLo : 0));
  const __m128i vHi = _mm_set1_epi8(char(anyInRange ? bounds.sHi : 0));
  const __m128i zero = _mm_setzero_si128();
  __m128i bright = zero, smax = zero, s1 = zero, s2 = zero, s2w = zero;
  uint64_t over = allOver ? whole : 0;
  size_t blocks = 0;
  for (size_t i = 0; i < whole; i += 16) {
    const __m128i s = Load(src + i);
    const __m128i o = Lookup(t, s);
    Store(plane + i, o);
    if (!allOver && !noneOver)
      over += uint64_t(_mm_popcnt_u32(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(s, vOver), s)))));
    if (anyInRange) {
      const __m128i in =
          _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(s, vLo), s), _mm_cmpeq_epi8(_mm_min_epu8(s, vHi), s));
      bright = _mm_max_epu8(bright, _mm_and_si128(o, in));
    }
    smax = _mm_max_epu8(smax, s);
    s1 = _mm_add_epi64(s1, _mm_sad_epu8(o, zero));
    s2w = _mm_add_epi32(s2w, Squares(o));
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

// Levels of 4 sums, as in the wider sets.
ULMORA_SSE4 inline __m128i Levels4(__m128i s32, __m128i va, __m128i half, __m128i vn, __m128i vn1, __m128 inv,
                                   __m128i vb) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i num = _mm_add_epi32(_mm_srli_epi32(_mm_mullo_epi32(s32, va), 4), half);
  __m128i q = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(num), inv));
  const __m128i r = _mm_sub_epi32(num, _mm_mullo_epi32(q, vn));
  q = _mm_add_epi32(q, _mm_cmpgt_epi32(zero, r));
  q = _mm_sub_epi32(q, _mm_cmpgt_epi32(r, vn1));
  return _mm_add_epi32(q, vb);
}

ULMORA_SSE4 RenderResult Render16(uint8_t* plane, const uint16_t* sum, size_t n, const uint8_t* lut16,
                                  const LevelParams& lp, RenderBounds bounds, bool stats) {
  if (lp.a < 0 || lp.a > 128 || lp.n < 1) return PortableKernels().render16(plane, sum, n, lut16, lp, bounds, stats);
  ShuffleTable t;
  MakeShuffleTable(t, lp.tone2);
  const __m128i va = _mm_set1_epi32(lp.a), half = _mm_set1_epi32(lp.n >> 1), vn = _mm_set1_epi32(lp.n);
  const __m128i vn1 = _mm_set1_epi32(lp.n - 1), vb = _mm_set1_epi32(lp.b), white = _mm_set1_epi32(255);
  const __m128 inv = _mm_set1_ps(1.0f / float(lp.n));
  const __m128i zero = _mm_setzero_si128(), one8 = _mm_set1_epi8(1), top8 = _mm_set1_epi8(char(254));
  __m128i bright = zero, smax = zero, s1 = zero, s2 = zero, s2w = zero;
  uint64_t over = 0;
  size_t blocks = 0;
  const size_t whole = n & ~size_t(15);
  for (size_t i = 0; i < whole; i += 16) {
    const __m128i sa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i));
    const __m128i sb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i + 8));
    const __m128i s32[4] = {_mm_cvtepu16_epi32(sa), _mm_cvtepu16_epi32(_mm_srli_si128(sa, 8)), _mm_cvtepu16_epi32(sb),
                            _mm_cvtepu16_epi32(_mm_srli_si128(sb, 8))};
    __m128i c[4];
    for (int g = 0; g < 4; ++g) {
      const __m128i level = Levels4(s32[g], va, half, vn, vn1, inv, vb);
      if (stats)
        over += uint64_t(_mm_popcnt_u32(uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(level, white))))));
      c[g] = _mm_min_epi32(_mm_max_epi32(level, zero), white);
    }
    const __m128i cl = _mm_packus_epi16(_mm_packus_epi32(c[0], c[1]), _mm_packus_epi32(c[2], c[3]));
    const __m128i o = Lookup(t, cl);
    Store(plane + i, o);
    if (!stats) continue;
    const __m128i in =
        _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(cl, one8), cl), _mm_cmpeq_epi8(_mm_min_epu8(cl, top8), cl));
    bright = _mm_max_epu8(bright, _mm_and_si128(o, in));
    smax = _mm_max_epu16(smax, _mm_max_epu16(sa, sb));
    s1 = _mm_add_epi64(s1, _mm_sad_epu8(o, zero));
    s2w = _mm_add_epi32(s2w, Squares(o));
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
  alignas(16) uint16_t m[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(m), smax);
  for (uint16_t v : m) r.sumMax = v > r.sumMax ? v : r.sumMax;
  const uint32_t b = MaxByte(bright);
  r.brightest = b > r.brightest ? b : r.brightest;
  r.overflow += uint32_t(over);
  r.s1 += Sum64(s1);
  r.s2 += Sum64(s2);
  return r;
}

ULMORA_SSE4 void Window(const uint8_t* plane, size_t n, uint8_t lo, uint8_t hi, uint64_t& count, uint64_t& sum1,
                        uint64_t& sum2) {
  const __m128i vLo = _mm_set1_epi8(char(lo)), vHi = _mm_set1_epi8(char(hi));
  const __m128i zero = _mm_setzero_si128();
  __m128i s1 = zero, s2 = zero, s2w = zero;
  uint64_t c = 0;
  size_t blocks = 0;
  const size_t whole = n & ~size_t(15);
  for (size_t i = 0; i < whole; i += 16) {
    const __m128i v = Load(plane + i);
    const __m128i in = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, vLo), v), _mm_cmpeq_epi8(_mm_min_epu8(v, vHi), v));
    const __m128i o = _mm_and_si128(v, in);
    c += uint64_t(_mm_popcnt_u32(uint32_t(_mm_movemask_epi8(in))));
    s1 = _mm_add_epi64(s1, _mm_sad_epu8(o, zero));
    s2w = _mm_add_epi32(s2w, Squares(o));
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

ULMORA_SSE4 void RowSums(uint32_t* rows, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const __m128i vt = _mm_set1_epi8(char(t)), zero = _mm_setzero_si128();
  for (int32_t y = 0; y < height; ++y, plane += width) {
    __m128i acc = zero;
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_min_epu8(Load(plane + x), vt), zero));
    uint64_t s = Sum64(acc);
    for (; x < width; ++x) s += plane[x] < t ? plane[x] : t;
    rows[y] = uint32_t(s);
  }
}

ULMORA_SSE4 inline void AddColumns16(uint32_t* cols, __m128i m) {
  auto* c = reinterpret_cast<__m128i*>(cols);
  _mm_storeu_si128(c, _mm_add_epi32(_mm_loadu_si128(c), _mm_cvtepu8_epi32(m)));
  _mm_storeu_si128(c + 1, _mm_add_epi32(_mm_loadu_si128(c + 1), _mm_cvtepu8_epi32(_mm_srli_si128(m, 4))));
  _mm_storeu_si128(c + 2, _mm_add_epi32(_mm_loadu_si128(c + 2), _mm_cvtepu8_epi32(_mm_srli_si128(m, 8))));
  _mm_storeu_si128(c + 3, _mm_add_epi32(_mm_loadu_si128(c + 3), _mm_cvtepu8_epi32(_mm_srli_si128(m, 12))));
}

ULMORA_SSE4 void ColSums(uint32_t* cols, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const __m128i vt = _mm_set1_epi8(char(t));
  for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) AddColumns16(cols + x, _mm_min_epu8(Load(plane + x), vt));
    for (; x < width; ++x) cols[x] += plane[x] < t ? plane[x] : t;
  }
}

ULMORA_SSE4 void ApplyRows(uint8_t* plane, int32_t width, int32_t height, const LineCorrection* rows, uint32_t* cols,
                           uint8_t t) {
  const __m128i vt = _mm_set1_epi8(char(t));
  if (cols)
    for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const __m128i sub = _mm_set1_epi8(char(rows[y].sub)), add = _mm_set1_epi8(char(rows[y].add));
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
      const __m128i v = _mm_adds_epu8(_mm_subs_epu8(Load(plane + x), sub), add);
      Store(plane + x, v);
      if (cols) AddColumns16(cols + x, _mm_min_epu8(v, vt));
    }
    for (; x < width; ++x) {
      const uint8_t v = SatStep(plane[x], rows[y].sub, rows[y].add);
      plane[x] = v;
      if (cols) cols[x] += v < t ? v : t;
    }
  }
}

ULMORA_SSE4 void ApplyCols(uint8_t* plane, int32_t width, int32_t height, const uint8_t* colSub,
                           const uint8_t* colAdd) {
  for (int32_t y = 0; y < height; ++y, plane += width) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16)
      Store(plane + x, _mm_adds_epu8(_mm_subs_epu8(Load(plane + x), Load(colSub + x)), Load(colAdd + x)));
    for (; x < width; ++x) plane[x] = SatStep(plane[x], colSub[x], colAdd[x]);
  }
}

ULMORA_SSE4 void Expand(uint8_t* view, int32_t pad, const uint8_t* plane, int32_t width, int32_t height,
                        const LineCorrection* rows, const uint8_t* colSub, const uint8_t* colAdd) {
  const __m128i m0 = Load(kSpread.m[0]), m1 = Load(kSpread.m[1]), m2 = Load(kSpread.m[2]);
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const uint8_t rs = rows ? rows[y].sub : 0, ra = rows ? rows[y].add : 0;
    const __m128i sub = _mm_set1_epi8(char(rs)), add = _mm_set1_epi8(char(ra));
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
      __m128i v = _mm_adds_epu8(_mm_subs_epu8(Load(plane + x), sub), add);
      if (colSub) v = _mm_adds_epu8(_mm_subs_epu8(v, Load(colSub + x)), Load(colAdd + x));
      uint8_t* out = view + 3 * static_cast<ptrdiff_t>(x);
      Store(out, _mm_shuffle_epi8(v, m0));
      Store(out + 16, _mm_shuffle_epi8(v, m1));
      Store(out + 32, _mm_shuffle_epi8(v, m2));
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

constexpr PixelKernels kSse4 = {
    "sse4", Extract, AddFirst, Add, Render8, Render16, RowSums, ColSums, Window, ApplyRows, ApplyCols, Expand,
};

}  // namespace

const PixelKernels* Sse4Kernels() { return &kSse4; }

}  // namespace ulmora
