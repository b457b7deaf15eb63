// A simulated low-light scene: dark background, faint shapes, bright points, sensor noise and
// slowly drifting row and column banding. Plain C++ so the clip generator and the simulated
// camera share it; every frame is a pure function of (parameters, seed, frame index).
#pragma once

#include <cstdint>
#include <vector>

namespace ulmora {

struct SceneParams {
  int32_t nWidth = 640;
  int32_t nHeight = 480;
  uint32_t nSeed = 1;
  int32_t nBackground = 18;  // luma of the dark background
  int32_t nNoiseAmp = 6;     // peak-to-peak half width of the sensor noise (0 = none)
  int32_t nBandAmp = 4;      // peak row / column banding offset (0 = none)
  int32_t nShapes = 4;       // faint filled discs and rectangles
  int32_t nStars = 12;       // bright points
};

class LowLightScene {
 public:
  explicit LowLightScene(const SceneParams& params);

  const SceneParams& Params() const { return params_; }
  // The picture before noise and banding; the constructor draws it, whatever the amplitudes.
  const std::vector<uint8_t>& Base() const { return base_; }

  // Luma of frame n, width x height bytes per row at the given stride.
  void RenderLuma(int64_t nFrame, uint8_t* dst, int32_t nStride) const;

  // Row and column banding offsets of frame n (the values RenderLuma adds).
  void BandOffsets(int64_t nFrame, std::vector<int32_t>& rows, std::vector<int32_t>& cols) const;

  // Packs a luma plane: YUY2 with neutral chroma, or 24-bit BGR grey; strides in bytes.
  static void PackYUY2(const uint8_t* luma, int32_t nLumaStride, int32_t nWidth, int32_t nHeight, uint8_t* dst,
                       int32_t nStride);
  static void PackBGR(const uint8_t* luma, int32_t nLumaStride, int32_t nWidth, int32_t nHeight, uint8_t* dst,
                      int32_t nStride);

 private:
  SceneParams params_;
  std::vector<uint8_t> base_;  // background, shapes and stars without noise or banding
  double rowPhase_ = 0, colPhase_ = 0, rowPeriod_ = 1, colPeriod_ = 1;
};

}  // namespace ulmora
