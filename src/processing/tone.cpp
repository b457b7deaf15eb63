#include "processing/tone.h"

#include <cmath>
#include <cstddef>

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

void YUY2ToGrey(uint8_t* dst, int32_t dstPad, const uint8_t* src, int32_t srcStride, int32_t width, int32_t height) {
  if (!dst || !src || width < 1 || height < 1) return;
  const int32_t pairs = width / 2;
  const bool odd = (width & 1) != 0;
  if (srcStride <= 0) srcStride = (pairs + (odd ? 1 : 0)) * 4;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = src + static_cast<std::ptrdiff_t>(y) * srcStride;
    for (int32_t i = 0; i < pairs; ++i, s += 4, dst += 6) {
      dst[0] = dst[1] = dst[2] = s[0];
      dst[3] = dst[4] = dst[5] = s[2];
    }
    if (odd) {
      dst[0] = dst[1] = dst[2] = s[0];
      dst += 3;
    }
    dst += dstPad;
  }
}

}  // namespace ulmora
