#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "simcam/sim_render.h"

namespace ulmora {
namespace {

constexpr int32_t kW = 160, kH = 120;

std::vector<uint8_t> Luma(SimFrameRenderer& r, int64_t frame, int32_t input, const SimControlValues& c) {
  std::vector<uint8_t> y(kW * kH), u(kW * kH / 4), v(kW * kH / 4);
  uint8_t* planes[3] = {y.data(), u.data(), v.data()};
  const int32_t strides[3] = {kW, kW / 2, kW / 2};
  r.Render(frame, input, c, SimPixelFormat::kI420, planes, strides);
  return y;
}

double Mean(const std::vector<uint8_t>& p) {
  double s = 0;
  for (uint8_t v : p) s += v;
  return s / p.size();
}

double MeanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double s = 0;
  for (size_t i = 0; i < a.size(); ++i) s += std::abs(a[i] - b[i]);
  return s / a.size();
}

TEST(SimRender, LowLightPictureWithMovingNoise) {
  SimFrameRenderer r(kW, kH, 0, 1);
  const auto f0 = Luma(r, 0, 0, {}), f1 = Luma(r, 1, 0, {});
  EXPECT_GT(Mean(f0), 10.0);
  EXPECT_LT(Mean(f0), 40.0);                                   // dark
  EXPECT_GE(*std::max_element(f0.begin(), f0.end()), 200);     // stars
  EXPECT_GT(MeanAbsDiff(f0, f1), 1.0);                         // noise changes every frame
  EXPECT_EQ(Luma(r, 7, 0, {}), Luma(r, 7, 0, {}));             // a frame is a function of its number
}

TEST(SimRender, ControlsAndInputsChangeThePicture) {
  SimFrameRenderer r(kW, kH, 0, 3);
  const SimControlValues neutral;
  const auto base = Luma(r, 5, 0, neutral);
  SimControlValues bright = neutral;
  bright.nBrightness = 40;
  EXPECT_NEAR(Mean(Luma(r, 5, 0, bright)) - Mean(base), 40.0, 3.0);
  SimControlValues gain = neutral;
  gain.nGain = 32;  // four times
  EXPECT_GT(Mean(Luma(r, 5, 0, gain)), 2.5 * Mean(base));
  SimControlValues flip = neutral;
  flip.bHFlip = true;
  const auto flipped = Luma(r, 5, 0, flip);
  for (int32_t y = 0; y < kH; y += 17)
    for (int32_t x = 0; x < kW; ++x) ASSERT_EQ(flipped[y * kW + x], base[y * kW + kW - 1 - x]);
  SimControlValues flicker = neutral;
  flicker.nPowerLine = 0;
  EXPECT_GT(MeanAbsDiff(Luma(r, 5, 0, flicker), base), 3.0);
  EXPECT_GT(MeanAbsDiff(Luma(r, 5, 1, neutral), base), 8.0);
  EXPECT_GT(MeanAbsDiff(Luma(r, 5, 2, neutral), base), 6.0);
}

TEST(SimRender, PackedFormatsCarryTheSameLuma) {
  SimFrameRenderer r(kW, kH, 0, 1);
  const auto y = Luma(r, 3, 0, {});
  std::vector<uint8_t> yuy2(kW * 2 * kH), bgr(kW * 3 * kH);
  uint8_t* p1[3] = {yuy2.data(), nullptr, nullptr};
  const int32_t s1[3] = {kW * 2, 0, 0};
  r.Render(3, 0, {}, SimPixelFormat::kYUY2, p1, s1);
  uint8_t* p2[3] = {bgr.data(), nullptr, nullptr};
  const int32_t s2[3] = {kW * 3, 0, 0};
  r.Render(3, 0, {}, SimPixelFormat::kBGR, p2, s2);
  for (int32_t i = 0; i < kW * kH; ++i) {
    ASSERT_EQ(yuy2[2 * i], y[i]);
    ASSERT_EQ(yuy2[2 * i + 1], 128);
    ASSERT_EQ(bgr[3 * i], y[i]);
    ASSERT_EQ(bgr[3 * i + 2], y[i]);
  }
}

}  // namespace
}  // namespace ulmora
