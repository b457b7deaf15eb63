// What the SSE4.1 and AVX2 kernel sets share: whole-register loads and stores (the rest of a row
// is done element by element), byte predicates held in registers, table lookups by byte shuffles,
// and 24-bit pixels taken apart and put together by shuffles within 16-byte lanes. Included by
// their files after ULMORA_MM, Vec, Lo/Hi and the lane hooks: Broadcast16 (16 bytes into
// every lane), Piece<k> (the k-th of three source registers a Pick reads), InOrder (packed bytes
// in order across the lanes) and StoreSpread (three spread registers stored as 3 x kLanes bytes).
#pragma once

namespace ulmora {
namespace {

constexpr bool kMaskedTails = false;

// A register at any address, as the loadu/storeu intrinsics see it.
typedef Vec UnalignedVec __attribute__((__may_alias__, __aligned__(1)));

inline Vec Load8(const uint8_t* p, size_t) { return *reinterpret_cast<const UnalignedVec*>(p); }
inline Vec Load16(const uint16_t* p, size_t) { return *reinterpret_cast<const UnalignedVec*>(p); }
inline Vec Load32(const uint32_t* p, size_t) { return *reinterpret_cast<const UnalignedVec*>(p); }
inline void Store8(uint8_t* p, Vec v, size_t) { *reinterpret_cast<UnalignedVec*>(p) = v; }
inline void Store16(uint16_t* p, Vec v, size_t) { *reinterpret_cast<UnalignedVec*>(p) = v; }
inline void Store32(uint32_t* p, Vec v, size_t) { *reinterpret_cast<UnalignedVec*>(p) = v; }

// A byte predicate: 0xFF where it holds.
using Mask = Vec;

inline Mask InRange8(Vec v, Vec lo, Vec hi, size_t) {
  return ULMORA_MM(cmpeq_epi8)(ULMORA_MM(max_epu8)(v, lo), v) & ULMORA_MM(cmpeq_epi8)(ULMORA_MM(min_epu8)(v, hi), v);
}
inline Mask AtLeast8(Vec v, Vec lo, size_t) { return ULMORA_MM(cmpeq_epi8)(ULMORA_MM(max_epu8)(v, lo), v); }
inline uint64_t Count(Mask m) { return uint64_t(_mm_popcnt_u32(uint32_t(ULMORA_MM(movemask_epi8)(m)))); }
inline Vec Keep(Mask m, Vec v) { return v & m; }
inline Vec KeepLanes(Vec v, size_t) { return v; }
// 32-bit lanes of a above b: four mask bits each.
inline uint64_t CountAbove32(Vec a, Vec b, size_t) { return Count(ULMORA_MM(cmpgt_epi32)(a, b)) >> 2; }

// q - (r < 0) + (r > n - 1): compares give -1 where they hold.
inline Vec FixQuotient(Vec q, Vec r, Vec, Vec n1) {
  q = ULMORA_MM(add_epi32)(q, ULMORA_MM(cmpgt_epi32)(Vec{}, r));
  return ULMORA_MM(sub_epi32)(q, ULMORA_MM(cmpgt_epi32)(r, n1));
}

// Levels clamped to 0..255 as bytes, in order.
inline Vec Narrow(const Vec level[4]) {
  const Vec white = ULMORA_MM(set1_epi32)(255);
  Vec c[4];
  for (int g = 0; g < 4; ++g) c[g] = ULMORA_MM(min_epi32)(ULMORA_MM(max_epi32)(level[g], Vec{}), white);
  return InOrder(ULMORA_MM(packus_epi16)(ULMORA_MM(packus_epi32)(c[0], c[1]), ULMORA_MM(packus_epi32)(c[2], c[3])));
}

// A 256-entry table as two halves of 8 shuffle tables. Shuffle indices are biased so that exactly
// the tables at or above a pixel's high nibble answer; the tables hold differences of neighbours,
// so the XOR of the answers telescopes to the wanted entry.
struct Table {
  Vec u[16];
};

inline void MakeTable(Table& t, const uint8_t* lut) {
  for (int i = 0; i < 16; ++i) {
    alignas(16) uint8_t d[16];
    const bool last = i == 7 || i == 15;
    for (int k = 0; k < 16; ++k) d[k] = uint8_t(lut[16 * i + k] ^ (last ? 0 : lut[16 * (i + 1) + k]));
    t.u[i] = Broadcast16(d);
  }
}

inline Vec Lookup(const Table& t, Vec s) {
  const Vec sixteen = ULMORA_MM(set1_epi8)(16), bias = ULMORA_MM(set1_epi8)(0x70);
  Vec lo = ULMORA_MM(adds_epu8)(s, bias);
  Vec hi = ULMORA_MM(adds_epu8)(s ^ ULMORA_MM(set1_epi8)(char(0x80)), bias);
  Vec r = ULMORA_MM(shuffle_epi8)(t.u[0], lo) ^ ULMORA_MM(shuffle_epi8)(t.u[8], hi);
  for (int i = 1; i < 8; ++i) {
    lo = ULMORA_MM(subs_epu8)(lo, sixteen);
    hi = ULMORA_MM(subs_epu8)(hi, sixteen);
    r ^= ULMORA_MM(shuffle_epi8)(t.u[i], lo) ^ ULMORA_MM(shuffle_epi8)(t.u[8 + i], hi);
  }
  return r;
}

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

struct PickIndex {
  Vec a, b, c;
};
inline PickIndex MakePickIndex() { return {Broadcast16(kPick.a), Broadcast16(kPick.b), Broadcast16(kPick.c)}; }

// A register of grey bytes from three registers of 24-bit pixels.
inline Vec Pick(const uint8_t* s, const PickIndex& m, size_t) {
  return ULMORA_MM(shuffle_epi8)(Piece<0>(s), m.a) | ULMORA_MM(shuffle_epi8)(Piece<1>(s), m.b) |
         ULMORA_MM(shuffle_epi8)(Piece<2>(s), m.c);
}

// Shuffles that spread 16 grey bytes over 48 bytes, three per pixel.
struct SpreadMasks {
  uint8_t m[3][16];
  constexpr SpreadMasks() : m() {
    for (int part = 0; part < 3; ++part)
      for (int k = 0; k < 16; ++k) m[part][k] = uint8_t((16 * part + k) / 3);
  }
};
constexpr SpreadMasks kSpread;

struct SpreadIndex {
  Vec m0, m1, m2;
};
inline SpreadIndex MakeSpreadIndex() {
  return {Broadcast16(kSpread.m[0]), Broadcast16(kSpread.m[1]), Broadcast16(kSpread.m[2])};
}

inline void Spread(uint8_t* out, Vec v, const SpreadIndex& m, size_t) {
  StoreSpread(out, ULMORA_MM(shuffle_epi8)(v, m.m0), ULMORA_MM(shuffle_epi8)(v, m.m1), ULMORA_MM(shuffle_epi8)(v, m.m2));
}

}  // namespace
}  // namespace ulmora
