#include "gui/frame_scaler.h"

#include <algorithm>
#include <cstring>

namespace ulmora {

void CFrameScaler::Prepare(int srcW, int srcH, int dstW, int dstH, bool smooth) {
  if (srcW == srcW_ && srcH == srcH_ && dstW == dstW_ && dstH == dstH_ && smooth == smooth_) return;
  srcW_ = srcW, srcH_ = srcH, dstW_ = dstW, dstH_ = dstH, smooth_ = smooth;
  xOffset_.assign(static_cast<size_t>(dstW), 0);
  yRow_.assign(static_cast<size_t>(dstH), 0);
  xWeight_.assign(static_cast<size_t>(dstW), 0);
  yWeight_.assign(static_cast<size_t>(dstH), 0);
  // Pixel centres map onto pixel centres; 8 fraction bits are plenty for a picture.
  auto fill = [smooth](int src, int dst, std::vector<int32_t>& index, std::vector<uint16_t>& weight) {
    for (int i = 0; i < dst; ++i) {
      if (!smooth) {
        index[i] = static_cast<int32_t>((static_cast<int64_t>(2 * i + 1) * src) / (2 * dst));
        continue;
      }
      const int64_t pos256 = ((static_cast<int64_t>(2 * i + 1) * src * 256) / (2 * dst)) - 128;
      int64_t p = std::clamp<int64_t>(pos256, 0, static_cast<int64_t>(src - 1) * 256);
      int32_t i0 = static_cast<int32_t>(p >> 8);
      uint16_t w = static_cast<uint16_t>(p & 255);
      if (i0 >= src - 1) i0 = src - 1, w = 0;
      index[i] = i0;
      weight[i] = w;
    }
  };
  fill(srcW, dstW, xOffset_, xWeight_);
  fill(srcH, dstH, yRow_, yWeight_);
  for (int32_t& x : xOffset_) x *= 3;
}

void CFrameScaler::Scale(const CImageBuf& src, bool grey, bool flip, bool smooth, uint32_t* dst, int dstW,
                         int dstH, int dstStride) {
  if (!src.bits || src.width <= 0 || src.height <= 0 || dstW <= 0 || dstH <= 0) return;
  Prepare(src.width, src.height, dstW, dstH, smooth);
  const int32_t* xo = xOffset_.data();
  const uint16_t* xw = xWeight_.data();
  const int32_t lastRow = src.height - 1;
  for (int y = 0; y < dstH; ++y) {
    uint32_t* out = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(dst) + static_cast<int64_t>(y) * dstStride);
    const int32_t sy = yRow_[y];
    const uint8_t* row = src.bits + static_cast<int64_t>(flip ? lastRow - sy : sy) * src.stride;
    if (!smooth) {
      // A picture shown larger repeats source rows: the row above is this one already.
      if (y > 0 && sy == yRow_[y - 1]) {
        std::memcpy(out, reinterpret_cast<const uint8_t*>(out) - dstStride, static_cast<size_t>(dstW) * 4);
        continue;
      }
      if (grey) {
        for (int x = 0; x < dstW; ++x) out[x] = 0xFF000000u | (row[xo[x]] * 0x010101u);
      } else {
        for (int x = 0; x < dstW; ++x) {
          const uint8_t* p = row + xo[x];
          out[x] = 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
      }
      continue;
    }
    // Bilinear: the second row is the next one down the picture as shown.
    const int32_t sy1 = std::min(sy + 1, lastRow);
    const uint8_t* row1 = src.bits + static_cast<int64_t>(flip ? lastRow - sy1 : sy1) * src.stride;
    const uint32_t wy = yWeight_[y], wy0 = 256 - wy;
    const int32_t lastX = (src.width - 1) * 3;
    for (int x = 0; x < dstW; ++x) {
      const int32_t o0 = xo[x], o1 = std::min(o0 + 3, lastX);
      const uint32_t wx = xw[x], wx0 = 256 - wx;
      auto lerp = [&](int c) {
        const uint32_t top = row[o0 + c] * wx0 + row[o1 + c] * wx;
        const uint32_t bottom = row1[o0 + c] * wx0 + row1[o1 + c] * wx;
        return (top * wy0 + bottom * wy + 32768) >> 16;
      };
      if (grey) {
        out[x] = 0xFF000000u | (lerp(0) * 0x010101u);
      } else {
        out[x] = 0xFF000000u | (lerp(2) << 16) | (lerp(1) << 8) | lerp(0);
      }
    }
  }
}

}  // namespace ulmora
