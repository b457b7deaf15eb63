// The pixel store the processing stages work on and the windows draw from.
#pragma once

#include <cstdint>

namespace ulmora {

// The pixel store the processing stages take: rows of B, G, R, each padded to a multiple of 4 bytes.
struct CImageBuf {
  uint8_t* bits = nullptr;  // 64-byte aligned
  int32_t pad = 0;          // stride - 3 x width
  int32_t size = 0;         // stride x height
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  int32_t capacity = 0;  // bytes allocated; only grows
};

}  // namespace ulmora
