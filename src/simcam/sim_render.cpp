#include "simcam/sim_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ulmora {
namespace {

constexpr uint32_t kNoiseSpan = 1u << 16;  // start positions of a row in the noise table
constexpr int32_t kNoiseAmp = 6;
constexpr double kTwoPi = 6.283185307179586;

uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

SceneParams InputParams(int32_t w, int32_t h, int32_t nDevice, int32_t nInput) {
  SceneParams p;
  p.nWidth = w;
  p.nHeight = h;
  p.nSeed = 1u + 977u * static_cast<uint32_t>(nDevice) + 131u * static_cast<uint32_t>(nInput);
  // Each input its own light level and sky, so switching inputs is plain to see.
  static const int32_t kBackground[] = {18, 30, 10};
  p.nBackground = kBackground[nInput % 3] + 2 * (nInput / 3);
  p.nShapes = 4 + 2 * (nInput % 4);
  p.nStars = 12 + 9 * (nInput % 3);
  p.nNoiseAmp = kNoiseAmp;
  return p;
}

}  // namespace

SimFrameRenderer::SimFrameRenderer(int32_t nWidth, int32_t nHeight, int32_t nDevice, int32_t nInputs)
    : nWidth_(std::max(nWidth, 2)), nHeight_(std::max(nHeight, 2)), nDevice_(nDevice) {
  inputs_.resize(static_cast<size_t>(std::max(nInputs, 1)));
  noise_.resize(kNoiseSpan + static_cast<size_t>(nWidth_));
  uint32_t state = 0x1234567u + static_cast<uint32_t>(nDevice);
  for (int8_t& n : noise_) {
    state = Mix(state + 0x9E3779B9u);
    // Triangular in [-amp, amp], like the scene's own noise.
    const int32_t v = ((static_cast<int32_t>(state & 0xFF) + static_cast<int32_t>((state >> 8) & 0xFF)) * kNoiseAmp) / 255;
    n = static_cast<int8_t>(v - kNoiseAmp);
  }
  line_.resize(static_cast<size_t>(nWidth_));
}

const LowLightScene& SimFrameRenderer::Scene(int32_t nInput) {
  nInput = std::clamp<int32_t>(nInput, 0, static_cast<int32_t>(inputs_.size()) - 1);
  std::unique_ptr<LowLightScene>& scene = inputs_[static_cast<size_t>(nInput)];
  if (!scene) scene = std::make_unique<LowLightScene>(InputParams(nWidth_, nHeight_, nDevice_, nInput));
  return *scene;
}

// ThreadSanitizer instruments the loader's pick (an ifunc resolver), which runs before the tool is up.
#if defined(__SANITIZE_THREAD__)
#define ULMORA_AVX2_CLONES
#else
#define ULMORA_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// One row: scene + column banding + noise, through the controls' multiply and add. Built twice, for
// AVX2 and plain x86-64; the loader picks one (the row is most of the frame's cost).
static ULMORA_AVX2_CLONES void ComposeRow(const uint8_t* b, const int32_t* c, const int8_t* n, int32_t w, int32_t nMul,
                                          int32_t nAdd, uint8_t* out) {
  for (int32_t x = 0; x < w; ++x) {
    int32_t v = ((b[x] + c[x] + n[x]) * nMul + nAdd) >> 8;
    v = v < 0 ? 0 : v;
    v = v > 255 ? 255 : v;
    out[x] = static_cast<uint8_t>(v);
  }
}

static ULMORA_AVX2_CLONES void GreyToBgrRow(const uint8_t* l, int32_t w,
                                                                           uint8_t* d) {
  for (int32_t x = 0; x < w; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = l[x];
}

static ULMORA_AVX2_CLONES void GreyToYuy2Row(const uint8_t* l, int32_t w,
                                                                            uint8_t* d) {
  for (int32_t x = 0; x < w; ++x) {
    d[2 * x] = l[x];
    d[2 * x + 1] = 128;
  }
}

void SimFrameRenderer::RenderLine(const LowLightScene& scene, int32_t y, int32_t nMul, int32_t nAdd,
                                  uint32_t nNoiseStart, bool bFlip, uint8_t* out) {
  ComposeRow(scene.Base().data() + static_cast<size_t>(y) * nWidth_, cols_.data(), noise_.data() + nNoiseStart, nWidth_,
             nMul, nAdd, out);
  if (bFlip) std::reverse(out, out + nWidth_);
}

void SimFrameRenderer::Render(int64_t nFrame, int32_t nInput, const SimControlValues& controls,
                              SimPixelFormat format, uint8_t* const planes[3], const int32_t strides[3]) {
  const LowLightScene& scene = Scene(nInput);
  scene.BandOffsets(nFrame, rows_, cols_);

  // out = (s * gain / 8 - 16) * contrast / 100 + 16 + brightness, in 8.8 fixed point.
  const int32_t gain = std::clamp(controls.nGain, 1, 64);
  const int32_t contrast = std::clamp(controls.nContrast, 0, 200);
  const int32_t mul = gain * contrast * 8 / 25;
  const int32_t add = 16 * 256 - (16 * 256 * contrast) / 100 + std::clamp(controls.nBrightness, -255, 255) * 256 + 128;
  // Mains here is 50 Hz: without the matching anti-flicker setting a bright band rolls down the picture.
  const double flicker = controls.nPowerLine == 1 ? 0.0 : controls.nPowerLine == 0 ? 10.0 : 5.0;
  const double flickerPeriod = std::max(8.0, nHeight_ / 2.5);

  const int32_t w = nWidth_;  // a local, so the packing loops know their length and vectorise
  const uint32_t frameKey = Mix(static_cast<uint32_t>(nFrame) * 0x9E3779B1u + static_cast<uint32_t>(nFrame >> 32));
  for (int32_t y = 0; y < nHeight_; ++y) {
    int32_t rowOff = rows_[y];
    if (flicker > 0)
      rowOff += static_cast<int32_t>(std::lround(flicker * std::sin(kTwoPi * (y / flickerPeriod + nFrame * 0.13))));
    const uint32_t noiseStart = Mix(frameKey ^ static_cast<uint32_t>(y) * 0x85EBCA77u) & (kNoiseSpan - 1);
    const int32_t rowAdd = add + rowOff * mul;
    switch (format) {
      case SimPixelFormat::kYUY2: {
        RenderLine(scene, y, mul, rowAdd, noiseStart, controls.bHFlip, line_.data());
        GreyToYuy2Row(line_.data(), w, planes[0] + static_cast<ptrdiff_t>(y) * strides[0]);
        break;
      }
      case SimPixelFormat::kBGR: {
        RenderLine(scene, y, mul, rowAdd, noiseStart, controls.bHFlip, line_.data());
        GreyToBgrRow(line_.data(), w, planes[0] + static_cast<ptrdiff_t>(y) * strides[0]);
        break;
      }
      case SimPixelFormat::kY16: {
        // The picture in the high byte; the low byte a fixed 0xA5, so a chain that took the low bits
        // (or rounded them in) shows it.
        RenderLine(scene, y, mul, rowAdd, noiseStart, controls.bHFlip, line_.data());
        uint8_t* out = planes[0] + static_cast<ptrdiff_t>(y) * strides[0];
        for (int32_t x = 0; x < w; ++x) {
          out[2 * x] = 0xA5;
          out[2 * x + 1] = line_[static_cast<size_t>(x)];
        }
        break;
      }
      case SimPixelFormat::kI420:
      case SimPixelFormat::kMJPEG:
        RenderLine(scene, y, mul, rowAdd, noiseStart, controls.bHFlip,
                   planes[0] + static_cast<ptrdiff_t>(y) * strides[0]);
        break;
    }
  }
  if (format == SimPixelFormat::kI420 || format == SimPixelFormat::kMJPEG) {
    const int32_t cw = (nWidth_ + 1) / 2, ch = (nHeight_ + 1) / 2;
    for (int32_t p = 1; p <= 2; ++p)
      for (int32_t y = 0; y < ch; ++y) std::memset(planes[p] + static_cast<ptrdiff_t>(y) * strides[p], 128, cw);
  }
}

}  // namespace ulmora
