// Our record of a connected video format, filled by the capture graph from the negotiated caps.
#pragma once

#include <cstdint>
#include <cstring>

#include "frames/dib_frame.h"

namespace ulmora {

// A 128-bit type identifier in the usual 4-2-2-8 layout; all zero is the null identifier.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};

  bool operator==(const Guid& o) const {
    return data1 == o.data1 && data2 == o.data2 && data3 == o.data3 && memcmp(data4, o.data4, 8) == 0;
  }
  bool operator!=(const Guid& o) const { return !(*this == o); }
};

// Subtypes of uncompressed video are built from their four-character code.
constexpr Guid GuidFromFourcc(uint32_t fourcc) {
  return Guid{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

constexpr uint32_t kFourccYUY2 = 0x32595559;  // 'Y','U','Y','2' little-endian

struct Rect32 {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The video-info format block: source and target rectangles, rates and the picture's bitmap header.
struct VideoInfoHeader {
  Rect32 rcSource;
  Rect32 rcTarget;
  uint32_t dwBitRate = 0;
  uint32_t dwBitErrorRate = 0;
  int64_t AvgTimePerFrame = 0;  // 100-ns units; 0 when the rate is unknown
  BitmapInfoHeader bmiHeader;
};

// The connected media type. The format block lives inside the record: cbFormat says how many of its
// bytes are valid (sizeof(VideoInfoHeader) when formattype is the video-info type, else 0).
struct MediaType {
  Guid majortype;
  Guid subtype;
  int32_t bFixedSizeSamples = 0;
  int32_t bTemporalCompression = 0;
  uint32_t lSampleSize = 0;
  Guid formattype;
  uint32_t cbFormat = 0;
  VideoInfoHeader vih;
};

}  // namespace ulmora
