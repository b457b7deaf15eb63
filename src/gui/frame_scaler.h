// Scales a 24-bit frame into 32-bit pixels (0xFFRRGGBB) of the size the window shows it at: nearest
// pixel (fast) or bilinear (smooth). Single-threaded and allocation-free per picture: the tables are
// rebuilt only when a size changes, so the paint costs about one pass over the window's pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "frames/dib_frame.h"

namespace ulmora {

class CFrameScaler {
 public:
  // src: rows of B, G, R; grey: B = G = R (one byte read per pixel); flip: the last row on top.
  // dst: dstH rows of dstW pixels, dstStride bytes apart.
  void Scale(const CImageBuf& src, bool grey, bool flip, bool smooth, uint32_t* dst, int dstW, int dstH,
             int dstStride);

 private:
  void Prepare(int srcW, int srcH, int dstW, int dstH, bool smooth);

  int srcW_ = 0, srcH_ = 0, dstW_ = 0, dstH_ = 0;
  bool smooth_ = false;
  std::vector<int32_t> xOffset_;  // byte offset of the (left) source pixel per destination column
  std::vector<int32_t> yRow_;     // (upper) source row per destination row
  std::vector<uint16_t> xWeight_;  // smooth: weight of the right pixel, 0..256
  std::vector<uint16_t> yWeight_;  // smooth: weight of the lower row, 0..256
};

}  // namespace ulmora
