#include "simcam/lowlight_scene.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace ulmora {
namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in [lo, hi].
int32_t Pick(uint64_t& state, int32_t lo, int32_t hi) {
  if (hi <= lo) return lo;
  return lo + static_cast<int32_t>(SplitMix(state) % static_cast<uint64_t>(hi - lo + 1));
}

uint8_t Clamp8(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

constexpr double kTwoPi = 6.283185307179586;
// Cycles per frame: the banding pattern creeps along, as on a warming sensor.
constexpr double kRowDrift = 0.004;
constexpr double kColDrift = 0.003;

}  // namespace

LowLightScene::LowLightScene(const SceneParams& params) : params_(params) {
  params_.nWidth = std::max(params_.nWidth, 1);
  params_.nHeight = std::max(params_.nHeight, 1);
  const int32_t w = params_.nWidth, h = params_.nHeight;
  base_.assign(static_cast<size_t>(w) * h, Clamp8(params_.nBackground));

  uint64_t state = 0xA5A5u ^ (static_cast<uint64_t>(params_.nSeed) << 17);
  rowPhase_ = static_cast<double>(Pick(state, 0, 999)) / 1000.0;
  colPhase_ = static_cast<double>(Pick(state, 0, 999)) / 1000.0;
  rowPeriod_ = std::max(8, Pick(state, h / 6, h / 3 + 8));
  colPeriod_ = std::max(8, Pick(state, w / 5, w / 2 + 8));

  for (int32_t s = 0; s < params_.nShapes; ++s) {
    const int32_t lift = Pick(state, 4, 12);
    const int32_t cx = Pick(state, 0, w - 1), cy = Pick(state, 0, h - 1);
    const int32_t r = std::max(2, Pick(state, std::min(w, h) / 16, std::min(w, h) / 5));
    const bool disc = (s % 2) == 0;
    for (int32_t y = std::max(0, cy - r); y <= std::min(h - 1, cy + r); ++y) {
      for (int32_t x = std::max(0, cx - r); x <= std::min(w - 1, cx + r); ++x) {
        const int32_t dx = x - cx, dy = y - cy;
        if (disc && dx * dx + dy * dy > r * r) continue;
        uint8_t& p = base_[static_cast<size_t>(y) * w + x];
        p = Clamp8(p + lift);
      }
    }
  }
  for (int32_t s = 0; s < params_.nStars; ++s) {
    const int32_t peak = Pick(state, 200, 255);
    const int32_t cx = Pick(state, 0, w - 1), cy = Pick(state, 0, h - 1);
    for (int32_t dy = -1; dy <= 1; ++dy) {
      for (int32_t dx = -1; dx <= 1; ++dx) {
        const int32_t x = cx + dx, y = cy + dy;
        if (x < 0 || y < 0 || x >= w || y >= h) continue;
        const int32_t v = (dx == 0 && dy == 0) ? peak : peak / 3;
        uint8_t& p = base_[static_cast<size_t>(y) * w + x];
        p = std::max(p, Clamp8(v));
      }
    }
  }
}

void LowLightScene::BandOffsets(int64_t nFrame, std::vector<int32_t>& rows, std::vector<int32_t>& cols) const {
  rows.resize(static_cast<size_t>(params_.nHeight));
  cols.resize(static_cast<size_t>(params_.nWidth));
  const double amp = params_.nBandAmp;
  const double t = static_cast<double>(nFrame);
  for (int32_t y = 0; y < params_.nHeight; ++y)
    rows[y] = static_cast<int32_t>(std::lround(amp * std::sin(kTwoPi * (y / rowPeriod_ + rowPhase_ + t * kRowDrift))));
  for (int32_t x = 0; x < params_.nWidth; ++x)
    cols[x] =
        static_cast<int32_t>(std::lround(amp * 0.75 * std::sin(kTwoPi * (x / colPeriod_ + colPhase_ + t * kColDrift))));
}

void LowLightScene::RenderLuma(int64_t nFrame, uint8_t* dst, int32_t nStride) const {
  const int32_t w = params_.nWidth, h = params_.nHeight;
  std::vector<int32_t> rows, cols;
  BandOffsets(nFrame, rows, cols);
  const int32_t amp = std::max(params_.nNoiseAmp, 0);
  uint64_t seedState = (static_cast<uint64_t>(params_.nSeed) << 32) ^ static_cast<uint64_t>(nFrame) * 0x2545F491ull;
  for (int32_t y = 0; y < h; ++y) {
    uint32_t rnd = static_cast<uint32_t>(SplitMix(seedState)) | 1u;
    const uint8_t* src = &base_[static_cast<size_t>(y) * w];
    uint8_t* out = dst + static_cast<ptrdiff_t>(y) * nStride;
    const int32_t rowOff = rows[y];
    for (int32_t x = 0; x < w; ++x) {
      int32_t noise = 0;
      if (amp > 0) {
        rnd ^= rnd << 13;
        rnd ^= rnd >> 17;
        rnd ^= rnd << 5;
        // Triangular noise in [-amp, amp] from two bytes of one draw.
        noise = ((static_cast<int32_t>(rnd & 0xFF) + static_cast<int32_t>((rnd >> 8) & 0xFF)) * amp) / 255 - amp;
      }
      out[x] = Clamp8(src[x] + rowOff + cols[x] + noise);
    }
  }
}

void LowLightScene::PackYUY2(const uint8_t* luma, int32_t nLumaStride, int32_t nWidth, int32_t nHeight, uint8_t* dst,
                             int32_t nStride) {
  for (int32_t y = 0; y < nHeight; ++y) {
    const uint8_t* s = luma + static_cast<ptrdiff_t>(y) * nLumaStride;
    uint8_t* d = dst + static_cast<ptrdiff_t>(y) * nStride;
    for (int32_t x = 0; x + 1 < nWidth; x += 2) {
      d[2 * x + 0] = s[x];
      d[2 * x + 1] = 128;
      d[2 * x + 2] = s[x + 1];
      d[2 * x + 3] = 128;
    }
    if (nWidth & 1) {  // a lone last pixel keeps its chroma byte
      d[2 * (nWidth - 1) + 0] = s[nWidth - 1];
      d[2 * (nWidth - 1) + 1] = 128;
    }
  }
}

void LowLightScene::PackBGR(const uint8_t* luma, int32_t nLumaStride, int32_t nWidth, int32_t nHeight, uint8_t* dst,
                            int32_t nStride) {
  for (int32_t y = 0; y < nHeight; ++y) {
    const uint8_t* s = luma + static_cast<ptrdiff_t>(y) * nLumaStride;
    uint8_t* d = dst + static_cast<ptrdiff_t>(y) * nStride;
    for (int32_t x = 0; x < nWidth; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
  }
}

}  // namespace ulmora
