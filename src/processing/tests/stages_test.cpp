// The worked examples of the sum, render, noise and banding stages, on the processor's own stages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "test_support.h"

namespace ulmora::test {
namespace {

class Stages : public ::testing::Test {
 protected:
  void SetUp() override {
    p.SetWindows(&win, &win);
    Neutral(p);
  }
  // Puts a picture into the processor as a one-frame sum rendered unchanged.
  void Picture(int32_t w, int32_t h, const std::function<uint8_t(int32_t, int32_t)>& grey) {
    ASSERT_TRUE(Configure(p, w, h));
    p.SetCountAccum(1);
    View frame(w, h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) frame.SetGrey(x, y, grey(x, y));
    ASSERT_TRUE(p.Accumulate(frame.img.bits, frame.img.pad));
    p.RenderWithStats(stats);
    view = std::make_unique<View>(w, h);
    memcpy(view->img.bits, p.frProc.img.bits, size_t(view->img.size));
  }
  uint8_t Out(int32_t x, int32_t y) const { return p.frProc.img.bits[y * p.frProc.img.stride + 3 * x]; }
  bool Unchanged() const { return memcmp(view->img.bits, p.frProc.img.bits, size_t(view->img.size)) == 0; }
  // Sets the threshold so that rms x sigma + mean rounds to t.
  float RmsFor(int32_t t) const {
    const float rms = (float(t) - stats.fMean) / stats.fSigma;
    EXPECT_EQ(std::nearbyint(rms * stats.fSigma + stats.fMean), float(t));
    return rms;
  }

  TempProfile profile;
  RecordingWindow win;
  CFrameProcessor p;
  ProcStats stats;
  std::unique_ptr<View> view;
};

TEST_F(Stages, FourFramesOfHundredRenderAsHundred) {
  ASSERT_TRUE(Configure(p, 6, 5));
  p.SetCountAccum(4);
  View frame(6, 5, 100);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(p.Accumulate(frame.img.bits, frame.img.pad));
  EXPECT_TRUE(p.Accumulate(frame.img.bits, frame.img.pad));
  EXPECT_EQ(p.Counters().nSummed.load(), 0);
  EXPECT_EQ(p.Counters().nSumDivisor.load(), 4);
  p.RenderWithStats(stats);
  EXPECT_EQ(Out(0, 0), 100);
  EXPECT_EQ(Out(5, 4), 100);
  EXPECT_EQ(stats.nPeakLevel, 100);
  EXPECT_EQ(stats.nOverflow, 0);
  EXPECT_EQ(stats.nBrightest, 100);

  // Times three: every pixel overflows and no pixel lies in 1..254.
  StageAccess::Settings(p).nAmp.store(48);
  p.RenderWithStats(stats);
  EXPECT_EQ(Out(3, 2), 255);
  EXPECT_EQ(stats.nOverflow, 30);
  EXPECT_EQ(stats.nBrightest, 0);
  EXPECT_EQ(stats.nPeakLevel, 100);
}

TEST_F(Stages, LevelOf255IsWhiteWithoutOverflow) {
  Picture(3, 2, [](int32_t, int32_t) { return uint8_t(255); });
  EXPECT_EQ(Out(1, 1), 255);
  EXPECT_EQ(stats.nOverflow, 0);
  EXPECT_EQ(stats.nPeakLevel, 255);
  EXPECT_EQ(stats.nBrightest, 0);
}

TEST_F(Stages, DeepBlackLevelGivesBlack) {
  ASSERT_TRUE(Configure(p, 4, 4));
  p.SetBlackLevel(-200);
  View frame(4, 4, 199);
  p.Accumulate(frame.img.bits, frame.img.pad);
  p.RenderWithStats(stats);
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(Out(i, i), 0);
  EXPECT_EQ(stats.nBrightest, 0);
}

TEST_F(Stages, ToneTableShapesTheLevels) {
  p.SetGamma(64);
  Picture(2, 1, [](int32_t x, int32_t) { return uint8_t(x ? 128 : 254); });
  EXPECT_EQ(Out(0, 0), 253);
  EXPECT_EQ(Out(1, 0), 64);
  EXPECT_EQ(stats.nBrightest, 253);
}

TEST_F(Stages, RerenderUsesTheCurrentAmplification) {
  Picture(4, 3, [](int32_t x, int32_t y) { return uint8_t(10 * (x + y)); });
  StageAccess::Settings(p).nAmp.store(32);
  p.Rerender();
  EXPECT_EQ(Out(3, 2), 100);
  EXPECT_EQ(stats.nPeakLevel, 50);  // the statistics are not touched
}

TEST_F(Stages, ConstantPictureHasNoNoiseAndStaysAsItIs) {
  Picture(7, 5, [](int32_t, int32_t) { return uint8_t(50); });
  p.MeasureNoise(stats);
  EXPECT_EQ(stats.fMean, 50.0f);
  EXPECT_EQ(stats.fSigma, 0.0f);
  p.SetRmsH(2.0f);
  p.SetRmsV(0.5f);
  p.RemoveRidgeH(stats);
  p.RemoveRidgeV(stats);
  EXPECT_TRUE(Unchanged());
}

TEST_F(Stages, NoiseWindowLeavesOutTheBrightTail) {
  // 99 pixels of 10 and one star of 250: the star lies above mean + 2 sigma and is left out.
  Picture(10, 10, [](int32_t x, int32_t y) { return uint8_t(x == 3 && y == 7 ? 250 : 10); });
  p.MeasureNoise(stats);
  EXPECT_EQ(stats.fMean, 10.0f);
  EXPECT_LT(stats.fSigma, 1e-6f);  // only the rounding of the sums remains
}

TEST_F(Stages, TwoRowExampleBecomesNineteenAndTwenty) {
  Picture(4, 2, [](int32_t, int32_t y) { return uint8_t(y ? 30 : 10); });
  p.MeasureNoise(stats);
  EXPECT_EQ(stats.fMean, 20.0f);
  EXPECT_EQ(stats.fSigma, 10.0f);
  p.SetRmsH(2.0f);
  p.RemoveRidgeH(stats);
  for (int32_t x = 0; x < 4; ++x) {
    EXPECT_EQ(Out(x, 0), 19);
    EXPECT_EQ(Out(x, 1), 20);
  }
}

TEST_F(Stages, ThresholdBelowOneLeavesThePicture) {
  Picture(5, 4, [](int32_t x, int32_t y) { return uint8_t(20 + 10 * y + x); });
  p.MeasureNoise(stats);
  p.SetRmsH(-1.0f);
  p.SetRmsV(-1.0f);
  ASSERT_GT(stats.fSigma, 1.0f);
  stats.fMean = 0.4f;  // T = -sigma + 0.4 rounds below 1
  p.RemoveRidgeH(stats);
  p.RemoveRidgeV(stats);
  EXPECT_TRUE(Unchanged());
}

// A picture whose bright columns and rows decide whether clipping takes effect.
uint8_t Banded(int32_t x, int32_t y) {
  if (x % 5 == 0 || y % 4 == 0) return 255;
  return uint8_t(100 + 7 * (x % 3) + 11 * (y % 2));
}

TEST_F(Stages, RowStageRunsUnclippedFrom254) {
  Picture(23, 17, Banded);
  p.MeasureNoise(stats);
  View clipped(23, 17), unclipped(23, 17);
  memcpy(clipped.store.data(), view->store.data(), view->store.size());
  memcpy(unclipped.store.data(), view->store.data(), view->store.size());
  RefRows(clipped.img, 254);
  RefRows(unclipped.img, -1);
  ASSERT_NE(memcmp(clipped.img.bits, unclipped.img.bits, size_t(clipped.img.size)), 0);
  p.SetRmsH(RmsFor(254));
  p.RemoveRidgeH(stats);
  EXPECT_EQ(memcmp(p.frProc.img.bits, unclipped.img.bits, size_t(unclipped.img.size)), 0);
  // One level lower the clip is in force.
  Picture(23, 17, Banded);
  p.MeasureNoise(stats);
  View at253(23, 17);
  memcpy(at253.store.data(), view->store.data(), view->store.size());
  RefRows(at253.img, 253);
  p.SetRmsH(RmsFor(253));
  p.RemoveRidgeH(stats);
  EXPECT_EQ(memcmp(p.frProc.img.bits, at253.img.bits, size_t(at253.img.size)), 0);
}

TEST_F(Stages, ColumnStageRunsUnclippedFrom253) {
  Picture(23, 17, Banded);
  p.MeasureNoise(stats);
  View clipped(23, 17), unclipped(23, 17);
  memcpy(clipped.store.data(), view->store.data(), view->store.size());
  memcpy(unclipped.store.data(), view->store.data(), view->store.size());
  RefCols(clipped.img, 253);
  RefCols(unclipped.img, -1);
  ASSERT_NE(memcmp(clipped.img.bits, unclipped.img.bits, size_t(clipped.img.size)), 0);
  p.SetRmsV(RmsFor(253));
  p.RemoveRidgeV(stats);
  EXPECT_EQ(memcmp(p.frProc.img.bits, unclipped.img.bits, size_t(unclipped.img.size)), 0);
  Picture(23, 17, Banded);
  p.MeasureNoise(stats);
  View at252(23, 17);
  memcpy(at252.store.data(), view->store.data(), view->store.size());
  RefCols(at252.img, 252);
  p.SetRmsV(RmsFor(252));
  p.RemoveRidgeV(stats);
  EXPECT_EQ(memcmp(p.frProc.img.bits, at252.img.bits, size_t(at252.img.size)), 0);
}

TEST_F(Stages, CorrectionsClampAtBlackAndWhite) {
  // Unclipped (T = 254): rows sum 510 and 0, avg 255, d = 85 and -84.
  Picture(3, 2, [](int32_t x, int32_t y) { return uint8_t(y == 0 && x > 0 ? 255 : 0); });
  stats.fMean = 254.0f;
  stats.fSigma = 0.0f;
  p.SetRmsH(0.0f);
  p.RemoveRidgeH(stats);
  EXPECT_EQ(Out(0, 0), 0);  // 0 - 85
  EXPECT_EQ(Out(1, 0), 170);
  EXPECT_EQ(Out(0, 1), 84);
  // Rows 765 and 255: d = 85 and -84, so 255 + 84 stops at white.
  Picture(3, 2, [](int32_t x, int32_t y) { return uint8_t(y == 0 || x == 2 ? 255 : 0); });
  p.RemoveRidgeH(stats);
  EXPECT_EQ(Out(0, 0), 170);
  EXPECT_EQ(Out(0, 1), 84);
  EXPECT_EQ(Out(2, 1), 255);
  // The same for columns.
  Picture(2, 3, [](int32_t x, int32_t y) { return uint8_t(x == 0 && y > 0 ? 255 : 0); });
  p.SetRmsV(0.0f);
  p.RemoveRidgeV(stats);
  EXPECT_EQ(Out(0, 0), 0);
  EXPECT_EQ(Out(0, 1), 170);
  EXPECT_EQ(Out(1, 2), 84);
}

TEST_F(Stages, SumOfManyFramesRendersWithItsDivisor) {
  ASSERT_TRUE(Configure(p, 3, 3));
  p.SetCountAccum(256);
  View frame(3, 3, 255);
  for (int i = 0; i < 255; ++i) ASSERT_FALSE(p.Accumulate(frame.img.bits, frame.img.pad));
  ASSERT_TRUE(p.Accumulate(frame.img.bits, frame.img.pad));
  p.RenderWithStats(stats);
  EXPECT_EQ(Out(2, 2), 255);
  EXPECT_EQ(stats.nPeakLevel, 255);
  EXPECT_EQ(stats.nOverflow, 0);
}

}  // namespace
}  // namespace ulmora::test
