#include "processing/tone.h"

#include <cmath>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/report.h"

namespace ulmora {

double GammaFactor(uint32_t v) {
  if (v == 0) ReportAssert("bad algoritm", __LINE__, "tone");
  const int64_t n = v;
  if (n == 128) return 1.0;
  if (n < 128) return static_cast<double>(n) / 128.0;
  return static_cast<double>(n - 128) / 128.0 * 5.0 + 1.0;
}

void BuildToneTable(ToneTable& table, float g) {
  if (g == 1.0f) {
    for (int i = 0; i < 255; ++i) table.entry[i] = ToneEntry{static_cast<uint8_t>(i), {0, 0, 0}};
    return;
  }
  if (!(g > 0.0f)) ReportAssert("bad algoritm", __LINE__, "tone");
  const float e = static_cast<float>(1.0 / g);
  for (int i = 0; i < 255; ++i) {
    const double x = i * 0.00392156862745098;
    const double v = std::pow(x, static_cast<double>(e));
    const double scaled = v * 255.0 + 0.5;
    // A curve past white (or not a number for a nonsense factor) ends at 255.
    const int r = scaled < 255.0 ? static_cast<int>(scaled) : 255;
    table.entry[i] = ToneEntry{static_cast<uint8_t>(r < 255 ? r : 255), {0, 0, 0}};
  }
}

namespace {

// Pixels [first, pairs*2 (+1 when odd)) of one row, one at a time.
void Yuy2RowScalar(uint8_t* d, const uint8_t* s, int32_t firstPair, int32_t pairs, bool odd) {
  s += 4 * firstPair;
  d += 6 * firstPair;
  for (int32_t i = firstPair; i < pairs; ++i, s += 4, d += 6) {
    d[0] = d[1] = d[2] = s[0];
    d[3] = d[4] = d[5] = s[2];
  }
  if (odd) d[0] = d[1] = d[2] = s[0];
}

using Yuy2RowFn = int32_t (*)(uint8_t* d, const uint8_t* s, int32_t pairs);

int32_t Yuy2RowNone(uint8_t*, const uint8_t*, int32_t) { return 0; }

#if defined(__x86_64__) || defined(__i386__)
// 16 pixels a step: two 16-byte loads of Y0 U Y1 V, three shuffled 16-byte stores of B G R.
// Returns the pairs done; the scalar loop finishes the row.
__attribute__((target("ssse3"))) int32_t Yuy2RowSsse3(uint8_t* d, const uint8_t* s, int32_t pairs) {
  const __m128i m0 = _mm_setr_epi8(0, 0, 0, 2, 2, 2, 4, 4, 4, 6, 6, 6, 8, 8, 8, 10);
  const __m128i m1a = _mm_setr_epi8(10, 10, 12, 12, 12, 14, 14, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i m1b = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 2, 2, 2, 4, 4);
  const __m128i m2 = _mm_setr_epi8(4, 6, 6, 6, 8, 8, 8, 10, 10, 10, 12, 12, 12, 14, 14, 14);
  int32_t i = 0;
  for (; i + 8 <= pairs; i += 8, s += 32, d += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_shuffle_epi8(a, m0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_or_si128(_mm_shuffle_epi8(a, m1a), _mm_shuffle_epi8(b, m1b)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_shuffle_epi8(b, m2));
  }
  return i;
}

Yuy2RowFn PickYuy2Row() { return __builtin_cpu_supports("ssse3") ? Yuy2RowSsse3 : Yuy2RowNone; }
#else
Yuy2RowFn PickYuy2Row() { return Yuy2RowNone; }
#endif

}  // namespace

void YUY2ToGrey(uint8_t* dst, int32_t dstPad, const uint8_t* src, int32_t srcStride, int32_t width, int32_t height) {
  if (!dst || !src || width < 1 || height < 1) return;
  static const Yuy2RowFn wide = PickYuy2Row();
  const int32_t pairs = width / 2;
  const bool odd = (width & 1) != 0;
  if (srcStride <= 0) srcStride = (pairs + (odd ? 1 : 0)) * 4;
  const std::ptrdiff_t dstStride = 3 * static_cast<std::ptrdiff_t>(width) + dstPad;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = src + static_cast<std::ptrdiff_t>(y) * srcStride;
    uint8_t* d = dst + static_cast<std::ptrdiff_t>(y) * dstStride;
    Yuy2RowScalar(d, s, wide(d, s, pairs), pairs, odd);
  }
}

}  // namespace ulmora
