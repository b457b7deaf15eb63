#include "processing/tone.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace ulmora {
namespace {

ToneTable TableFor(uint32_t gamma) {
  ToneTable t{};
  BuildToneTable(t, static_cast<float>(GammaFactor(gamma)));
  return t;
}

TEST(GammaFactor, MapsTheSettingToTheCurveFactor) {
  EXPECT_EQ(GammaFactor(128), 1.0);
  EXPECT_EQ(GammaFactor(1), 1.0 / 128);
  EXPECT_LT(GammaFactor(127), 1.0);
  EXPECT_EQ(GammaFactor(64), 0.5);
  EXPECT_EQ(GammaFactor(256), 6.0);
  EXPECT_EQ(GammaFactor(160), 32.0 / 128 * 5.0 + 1.0);
}

TEST(ToneTable, LinearSettingGivesTheIdentity) {
  const ToneTable t = TableFor(128);
  for (int i = 0; i < 255; ++i) EXPECT_EQ(t.entry[i].out, i);
}

TEST(ToneTable, SteepestLiftAt256) {
  const ToneTable t = TableFor(256);
  EXPECT_EQ(t.entry[0].out, 0);
  EXPECT_EQ(t.entry[1].out, 101);
  EXPECT_EQ(t.entry[254].out, 255);
}

TEST(ToneTable, SquareCurveAt64) {
  const ToneTable t = TableFor(64);
  EXPECT_EQ(t.entry[128].out, 64);
  EXPECT_EQ(t.entry[254].out, 253);
}

TEST(ToneTable, HardestPressAt1) {
  const ToneTable t = TableFor(1);
  EXPECT_EQ(t.entry[253].out, 93);
  EXPECT_EQ(t.entry[254].out, 154);
  for (int i = 0; i <= 242; ++i) EXPECT_EQ(t.entry[i].out, 0) << i;
}

TEST(ToneTable, CurvesRiseWithTheLevelForEverySetting) {
  for (uint32_t g = 1; g <= 256; ++g) {
    const ToneTable t = TableFor(g);
    EXPECT_EQ(t.entry[0].out, 0) << g;
    for (int i = 1; i < 255; ++i) ASSERT_GE(t.entry[i].out, t.entry[i - 1].out) << g << " " << i;
  }
}

TEST(YUY2ToGrey, CopiesLumaIntoAllThreeBytes) {
  const uint8_t src[4] = {10, 200, 20, 50};
  uint8_t dst[6] = {};
  YUY2ToGrey(dst, 0, src, 0, 2, 1);
  const uint8_t want[6] = {10, 10, 10, 20, 20, 20};
  EXPECT_EQ(0, memcmp(dst, want, 6));
}

TEST(YUY2ToGrey, HonoursDestinationPaddingAndSourceStride) {
  // 3 x 2 frame: 24-bit rows of 9 bytes padded to 12; source rows of two macropixels plus 4 spare bytes.
  const int32_t w = 3, h = 2, srcStride = 12, dstStride = 12;
  uint8_t src[srcStride * h];
  for (int i = 0; i < srcStride * h; ++i) src[i] = uint8_t(100 + i);
  uint8_t dst[dstStride * h];
  memset(dst, 0xEE, sizeof dst);
  YUY2ToGrey(dst, dstStride - 3 * w, src, srcStride, w, h);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = dst + y * dstStride;
    const uint8_t* s = src + y * srcStride;
    const uint8_t lumas[3] = {s[0], s[2], s[4]};
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(row[3 * x + c], lumas[x]) << y << " " << x;
    for (int p = 3 * w; p < dstStride; ++p) EXPECT_EQ(row[p], 0xEE) << "padding overwritten";
  }
}

TEST(YUY2ToGrey, WideRowsMatchThePlainConversionAtEveryWidth) {
  std::mt19937 rng(7);
  for (int32_t w = 1; w <= 70; ++w) {
    const int32_t h = 3, srcStride = ((w + 1) / 2) * 4 + 4 * (w % 3), dstStride = (3 * w + 3) & ~3;
    std::vector<uint8_t> src(static_cast<size_t>(srcStride) * h);
    for (uint8_t& b : src) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> got(static_cast<size_t>(dstStride) * h + 64, 0xEE), want = got;
    YUY2ToGrey(got.data(), dstStride - 3 * w, src.data(), srcStride, w, h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) want[y * dstStride + 3 * x + c] = src[y * srcStride + 2 * x];
    ASSERT_EQ(got, want) << "width " << w;
  }
}

TEST(YUY2ToGrey, IgnoresEmptyOrMissingFrames) {
  uint8_t dst[6] = {1, 2, 3, 4, 5, 6};
  const uint8_t src[4] = {9, 9, 9, 9};
  YUY2ToGrey(dst, 0, src, 0, 0, 1);
  YUY2ToGrey(dst, 0, nullptr, 0, 2, 1);
  EXPECT_EQ(dst[0], 1);
}

}  // namespace
}  // namespace ulmora
