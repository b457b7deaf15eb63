// The bodies of the wide pixel kernels, written once for every instruction set. Each
// stages_<set>.cpp includes this after it has switched its target on and defined:
//   ULMORA_MM(op)  its intrinsic for `op` (_mm_op, _mm256_op or _mm512_op);
//   Vec            its register; kSetName;
//   kMaskedTails   whether the part of a row short of a register is done with lane masks (else
//                  element by element);
//   the loads and stores Load8/16/32, Store8/16/32 of n lanes, Lo/Hi halves, Quarter<k>, the byte
//   predicates (Mask, InRange8, AtLeast8, Count, Keep, KeepLanes, CountAbove32), FixQuotient and
//   Narrow for levels, Table/MakeTable/Lookup, and Pick/Spread for 24-bit pixels.
// Everything lands in an unnamed namespace: one copy per set, none shared between targets. The
// macro ends with this file.
#pragma once

namespace ulmora {
namespace {

constexpr size_t kLanes = sizeof(Vec);
// A 32-bit lane of a square sum gains at most 4 x 255^2 a register: 8192 registers stay below 2^31,
// then the lanes are folded into 64 bits.
constexpr size_t kFoldBlocks = 8192;

inline uint8_t SatStep(uint8_t v, uint8_t sub, uint8_t add) {
  const int r = int(v) - sub + add;
  return uint8_t(r < 0 ? 0 : (r > 255 ? 255 : r));
}

// Lanes of a count that lie at or beyond `from`.
inline size_t After(size_t n, size_t from) { return n > from ? n - from : 0; }

// Runs step(i, lanes) over [0, count) a register at a time; the remainder short of a register is a
// masked step where the set has masks, else rest(i) from where the registers stopped.
template <class Step, class Rest>
inline void Chunks(size_t count, Step&& step, Rest&& rest) {
  const size_t whole = count - count % kLanes;
  for (size_t i = 0; i < whole; i += kLanes) step(i, kLanes);
  if (whole == count) return;
  if constexpr (kMaskedTails)
    step(whole, count - whole);
  else
    rest(whole);
}

inline Vec Zero() { return Vec{}; }
inline Vec Bytes1(uint8_t b) { return ULMORA_MM(set1_epi8)(char(b)); }
inline Vec SatStep(Vec v, Vec sub, Vec add) { return ULMORA_MM(adds_epu8)(ULMORA_MM(subs_epu8)(v, sub), add); }

// The largest of the register's lanes of type T, and the sum of its 64-bit lanes.
template <class T>
inline uint32_t MaxLane(Vec v) {
  alignas(64) T lane[kLanes / sizeof(T)];
  *reinterpret_cast<Vec*>(lane) = v;
  uint32_t m = 0;
  for (T x : lane) m = x > m ? x : m;
  return m;
}

inline uint64_t Sum64(Vec v) {
  alignas(64) uint64_t lane[kLanes / 8];
  *reinterpret_cast<Vec*>(lane) = v;
  uint64_t s = 0;
  for (uint64_t x : lane) s += x;
  return s;
}

// Sum of squares of the bytes into 32-bit lanes (each at most 4 x 255^2 a call).
inline Vec Squares(Vec o) {
  const Vec lo = ULMORA_MM(unpacklo_epi8)(o, Zero()), hi = ULMORA_MM(unpackhi_epi8)(o, Zero());
  return ULMORA_MM(add_epi32)(ULMORA_MM(madd_epi16)(lo, lo), ULMORA_MM(madd_epi16)(hi, hi));
}

inline Vec Widen64(Vec acc32, Vec acc64) {
  acc64 = ULMORA_MM(add_epi64)(acc64, ULMORA_MM(cvtepu32_epi64)(Lo(acc32)));
  return ULMORA_MM(add_epi64)(acc64, ULMORA_MM(cvtepu32_epi64)(Hi(acc32)));
}

// Sum and sum of squares of output bytes; the squares stay 32-bit until they could overflow.
// (A written constructor, so that it is compiled for the set's target.)
struct ByteSums {
  Vec s1, s2, s2w;
  size_t blocks = 0;
  ByteSums() : s1(Zero()), s2(Zero()), s2w(Zero()) {}
  void Add(Vec o) {
    s1 = ULMORA_MM(add_epi64)(s1, ULMORA_MM(sad_epu8)(o, Zero()));
    s2w = ULMORA_MM(add_epi32)(s2w, Squares(o));
    if (++blocks == kFoldBlocks) {
      s2 = Widen64(s2w, s2);
      s2w = Zero();
      blocks = 0;
    }
  }
  uint64_t Sum() const { return Sum64(s1); }
  uint64_t SumOfSquares() const { return Sum64(Widen64(s2w, s2)); }
};

void Extract(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  const PickIndex pick = MakePickIndex();
  for (int32_t y = 0; y < height; ++y) {
    Chunks(
        size_t(width), [&](size_t x, size_t n) { Store8(dst + x, Pick(src + 3 * x, pick, n), n); },
        [&](size_t x) {
          for (; x < size_t(width); ++x) dst[x] = src[3 * x];
        });
    dst += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

template <bool kFirst>
inline void AddRows(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height,
                    int32_t pad) {
  const PickIndex pick = MakePickIndex();
  constexpr size_t kWords = kLanes / 2;
  for (int32_t y = 0; y < height; ++y) {
    Chunks(
        size_t(width),
        [&](size_t x, size_t n) {
          const Vec g = Pick(src + 3 * x, pick, n);
          Vec lo = ULMORA_MM(cvtepu8_epi16)(Lo(g)), hi = ULMORA_MM(cvtepu8_epi16)(Hi(g));
          if (kFirst) {
            const Vec f = Load8(first + x, n);
            lo = ULMORA_MM(add_epi16)(lo, ULMORA_MM(cvtepu8_epi16)(Lo(f)));
            hi = ULMORA_MM(add_epi16)(hi, ULMORA_MM(cvtepu8_epi16)(Hi(f)));
          } else {
            lo = ULMORA_MM(add_epi16)(lo, Load16(sum + x, n));
            hi = ULMORA_MM(add_epi16)(hi, Load16(sum + x + kWords, After(n, kWords)));
          }
          Store16(sum + x, lo, n);
          Store16(sum + x + kWords, hi, After(n, kWords));
        },
        [&](size_t x) {
          for (; x < size_t(width); ++x) sum[x] = uint16_t((kFirst ? first[x] : sum[x]) + src[3 * x]);
        });
    sum += width;
    if (kFirst) first += width;
    src += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

void AddFirst(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  AddRows<true>(sum, first, src, width, height, pad);
}

void Add(uint16_t* sum, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  AddRows<false>(sum, nullptr, src, width, height, pad);
}

// Statistics of a render: what the wide part found, merged with what the plain kernel did with the
// rest (nothing where the set has masks).
inline void Merge(RenderResult& r, uint64_t over, Vec bright, uint32_t sumMax, const ByteSums& sums) {
  const uint32_t b = MaxLane<uint8_t>(bright);
  r.overflow += uint32_t(over);
  r.brightest = b > r.brightest ? b : r.brightest;
  r.sumMax = sumMax > r.sumMax ? sumMax : r.sumMax;
  r.s1 += sums.Sum();
  r.s2 += sums.SumOfSquares();
}

RenderResult Render8(uint8_t* plane, const uint8_t* src, size_t n, const uint8_t* lut, RenderBounds bounds,
                     bool stats) {
  Table t;
  MakeTable(t, lut);
  RenderResult r;
  if (!stats) {
    Chunks(
        n, [&](size_t i, size_t k) { Store8(plane + i, Lookup(t, Load8(src + i, k)), k); },
        [&](size_t i) {
          for (; i < n; ++i) plane[i] = lut[src[i]];
        });
    return r;
  }
  const bool allOver = bounds.sOverflow < 0, noneOver = bounds.sOverflow >= 255;
  const bool anyInRange = bounds.sLo <= bounds.sHi;
  // s > sOverflow  <=>  s >= sOverflow + 1
  const Vec vOver = Bytes1(uint8_t(allOver || noneOver ? 0 : bounds.sOverflow + 1));
  const Vec vLo = Bytes1(uint8_t(anyInRange ? bounds.sLo : 0));
  const Vec vHi = Bytes1(uint8_t(anyInRange ? bounds.sHi : 0));
  Vec bright = Zero(), smax = Zero();
  ByteSums sums;
  uint64_t over = 0;
  Chunks(
      n,
      [&](size_t i, size_t k) {
        const Vec s = Load8(src + i, k);
        const Vec o = KeepLanes(Lookup(t, s), k);
        Store8(plane + i, o, k);
        if (allOver)
          over += k;
        else if (!noneOver)
          over += Count(AtLeast8(s, vOver, k));
        if (anyInRange) bright = ULMORA_MM(max_epu8)(bright, Keep(InRange8(s, vLo, vHi, k), o));
        smax = ULMORA_MM(max_epu8)(smax, s);
        sums.Add(o);
      },
      [&](size_t i) { r = PortableKernels().render8(plane + i, src + i, n - i, lut, bounds, true); });
  Merge(r, over, bright, MaxLane<uint8_t>(smax), sums);
  return r;
}

// Levels of the sums in 32-bit lanes: ((S x A) >> 4 + N / 2) / N + B. The quotient comes from a float
// reciprocal, which for numerators below 2^20 is off by at most one, and one integer step puts it right.
struct LevelVecs {
  Vec a, half, n, n1, b;
  decltype(ULMORA_MM(set1_ps)(0.0f)) inv;
  explicit LevelVecs(const LevelParams& lp)
      : a(ULMORA_MM(set1_epi32)(lp.a)),
        half(ULMORA_MM(set1_epi32)(lp.n >> 1)),
        n(ULMORA_MM(set1_epi32)(lp.n)),
        n1(ULMORA_MM(set1_epi32)(lp.n - 1)),
        b(ULMORA_MM(set1_epi32)(lp.b)),
        inv(ULMORA_MM(set1_ps)(1.0f / float(lp.n))) {}
};

inline Vec Levels(Vec s32, const LevelVecs& v) {
  const Vec num = ULMORA_MM(add_epi32)(ULMORA_MM(srli_epi32)(ULMORA_MM(mullo_epi32)(s32, v.a), 4), v.half);
  const Vec q = ULMORA_MM(cvttps_epi32)(ULMORA_MM(mul_ps)(ULMORA_MM(cvtepi32_ps)(num), v.inv));
  const Vec r = ULMORA_MM(sub_epi32)(num, ULMORA_MM(mullo_epi32)(q, v.n));
  return ULMORA_MM(add_epi32)(FixQuotient(q, r, v.n, v.n1), v.b);
}

RenderResult Render16(uint8_t* plane, const uint16_t* sum, size_t n, const uint8_t* lut16, const LevelParams& lp,
                      RenderBounds bounds, bool stats) {
  if (lp.a < 0 || lp.a > 128 || lp.n < 1) return PortableKernels().render16(plane, sum, n, lut16, lp, bounds, stats);
  Table t;
  MakeTable(t, lp.tone2);
  const LevelVecs lv(lp);
  const Vec white = ULMORA_MM(set1_epi32)(255), one8 = Bytes1(1), top8 = Bytes1(254);
  constexpr size_t kWords = kLanes / 2, kWides = kLanes / 4;
  Vec bright = Zero(), smax = Zero();
  ByteSums sums;
  uint64_t over = 0;
  RenderResult r;
  Chunks(
      n,
      [&](size_t i, size_t k) {
        const Vec sa = Load16(sum + i, k), sb = Load16(sum + i + kWords, After(k, kWords));
        const Vec level[4] = {Levels(ULMORA_MM(cvtepu16_epi32)(Lo(sa)), lv),
                              Levels(ULMORA_MM(cvtepu16_epi32)(Hi(sa)), lv),
                              Levels(ULMORA_MM(cvtepu16_epi32)(Lo(sb)), lv),
                              Levels(ULMORA_MM(cvtepu16_epi32)(Hi(sb)), lv)};
        if (stats)
          for (size_t g = 0; g < 4; ++g) over += CountAbove32(level[g], white, After(k, g * kWides));
        const Vec cl = Narrow(level);
        const Vec o = KeepLanes(Lookup(t, cl), k);
        Store8(plane + i, o, k);
        if (!stats) return;
        bright = ULMORA_MM(max_epu8)(bright, Keep(InRange8(cl, one8, top8, k), o));
        smax = ULMORA_MM(max_epu16)(smax, ULMORA_MM(max_epu16)(sa, sb));
        sums.Add(o);
      },
      [&](size_t i) { r = PortableKernels().render16(plane + i, sum + i, n - i, lut16, lp, bounds, stats); });
  if (stats) Merge(r, over, bright, MaxLane<uint16_t>(smax), sums);
  return r;
}

void Window(const uint8_t* plane, size_t n, uint8_t lo, uint8_t hi, uint64_t& count, uint64_t& sum1,
            uint64_t& sum2) {
  const Vec vLo = Bytes1(lo), vHi = Bytes1(hi);
  ByteSums sums;
  uint64_t c = 0, a = 0, q = 0;
  Chunks(
      n,
      [&](size_t i, size_t k) {
        const Vec v = Load8(plane + i, k);
        const Mask in = InRange8(v, vLo, vHi, k);
        c += Count(in);
        sums.Add(Keep(in, v));
      },
      [&](size_t i) {
        for (; i < n; ++i) {
          const uint32_t v = plane[i];
          if (v >= lo && v <= hi) {
            ++c;
            a += v;
            q += v * v;
          }
        }
      });
  count = c;
  sum1 = a + sums.Sum();
  sum2 = q + sums.SumOfSquares();
}

void RowSums(uint32_t* rows, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const Vec vt = Bytes1(t);
  for (int32_t y = 0; y < height; ++y, plane += width) {
    Vec acc = Zero();
    uint64_t s = 0;
    Chunks(
        size_t(width),
        [&](size_t x, size_t n) {
          const Vec v = ULMORA_MM(min_epu8)(Load8(plane + x, n), vt);
          acc = ULMORA_MM(add_epi64)(acc, ULMORA_MM(sad_epu8)(v, Zero()));
        },
        [&](size_t x) {
          for (; x < size_t(width); ++x) s += plane[x] < t ? plane[x] : t;
        });
    rows[y] = uint32_t(s + Sum64(acc));
  }
}

// Adds a quarter of a register's bytes into the column words it covers (n of the register's lanes exist).
template <int kPart>
inline void AddColumnQuarter(uint32_t* cols, Vec m, size_t n) {
  constexpr size_t kBase = size_t(kPart) * (kLanes / 4);
  if (n <= kBase) return;
  uint32_t* c = cols + kBase;
  const size_t left = n - kBase;
  Store32(c, ULMORA_MM(add_epi32)(Load32(c, left), ULMORA_MM(cvtepu8_epi32)(Quarter<kPart>(m))), left);
}

inline void AddColumns(uint32_t* cols, Vec m, size_t n) {
  AddColumnQuarter<0>(cols, m, n);
  AddColumnQuarter<1>(cols, m, n);
  AddColumnQuarter<2>(cols, m, n);
  AddColumnQuarter<3>(cols, m, n);
}

void ColSums(uint32_t* cols, const uint8_t* plane, int32_t width, int32_t height, uint8_t t) {
  const Vec vt = Bytes1(t);
  for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width)
    Chunks(
        size_t(width),
        [&](size_t x, size_t n) { AddColumns(cols + x, ULMORA_MM(min_epu8)(Load8(plane + x, n), vt), n); },
        [&](size_t x) {
          for (; x < size_t(width); ++x) cols[x] += plane[x] < t ? plane[x] : t;
        });
}

void ApplyRows(uint8_t* plane, int32_t width, int32_t height, const LineCorrection* rows, uint32_t* cols,
               uint8_t t) {
  const Vec vt = Bytes1(t);
  if (cols)
    for (int32_t x = 0; x < width; ++x) cols[x] = 0;
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const uint8_t rs = rows[y].sub, ra = rows[y].add;
    const Vec sub = Bytes1(rs), add = Bytes1(ra);
    Chunks(
        size_t(width),
        [&](size_t x, size_t n) {
          const Vec v = SatStep(Load8(plane + x, n), sub, add);
          Store8(plane + x, v, n);
          if (cols) AddColumns(cols + x, ULMORA_MM(min_epu8)(v, vt), n);
        },
        [&](size_t x) {
          for (; x < size_t(width); ++x) {
            const uint8_t v = SatStep(plane[x], rs, ra);
            plane[x] = v;
            if (cols) cols[x] += v < t ? v : t;
          }
        });
  }
}

void ApplyCols(uint8_t* plane, int32_t width, int32_t height, const uint8_t* colSub, const uint8_t* colAdd) {
  for (int32_t y = 0; y < height; ++y, plane += width)
    Chunks(
        size_t(width),
        [&](size_t x, size_t n) {
          Store8(plane + x, SatStep(Load8(plane + x, n), Load8(colSub + x, n), Load8(colAdd + x, n)), n);
        },
        [&](size_t x) {
          for (; x < size_t(width); ++x) plane[x] = SatStep(plane[x], colSub[x], colAdd[x]);
        });
}

void Expand(uint8_t* view, int32_t pad, const uint8_t* plane, int32_t width, int32_t height,
            const LineCorrection* rows, const uint8_t* colSub, const uint8_t* colAdd) {
  const SpreadIndex spread = MakeSpreadIndex();
  for (int32_t y = 0; y < height; ++y, plane += width) {
    const uint8_t rs = rows ? rows[y].sub : 0, ra = rows ? rows[y].add : 0;
    const Vec sub = Bytes1(rs), add = Bytes1(ra);
    Chunks(
        size_t(width),
        [&](size_t x, size_t n) {
          Vec v = SatStep(Load8(plane + x, n), sub, add);
          if (colSub) v = SatStep(v, Load8(colSub + x, n), Load8(colAdd + x, n));
          Spread(view + 3 * x, v, spread, n);
        },
        [&](size_t x) {
          for (uint8_t* out = view + 3 * x; x < size_t(width); ++x, out += 3) {
            uint8_t v = SatStep(plane[x], rs, ra);
            if (colSub) v = SatStep(v, colSub[x], colAdd[x]);
            out[0] = out[1] = out[2] = v;
          }
        });
    view += 3 * static_cast<ptrdiff_t>(width) + pad;
  }
}

constexpr PixelKernels kKernelSet = {
    kSetName, Extract, AddFirst, Add, Render8, Render16, RowSums, ColSums, Window, ApplyRows, ApplyCols, Expand,
};

}  // namespace
}  // namespace ulmora

#undef ULMORA_MM
