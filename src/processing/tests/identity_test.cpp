// The production stages against the plain ones, bit for bit, on random sizes, settings and frames,
// for every kernel set this processor can run.
#include <gtest/gtest.h>

#include <cstring>

#include "processing/stages.h"
#include "test_support.h"

namespace ulmora::test {
namespace {

struct Trial {
  int32_t w, h, count, amp, black, gamma;
  float rmsH, rmsV;
  bool nrh, nrv, autoAmp, firstSum;
  int kind;  // 0 noisy, 1 uniform random, 2 saturated, 3 black, 4 mixed extremes
};

Trial RandomTrial(std::mt19937& rng, int i) {
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Trial t{};
  const int shape = i % 8;
  if (shape == 0) {
    t.w = t.h = 1;
  } else if (shape == 1) {
    t.w = pick(1, 5);
    t.h = pick(1, 5);
  } else if (shape == 2) {
    t.w = pick(60, 260) | 1;  // odd widths: rows padded
    t.h = pick(2, 40);
  } else {
    t.w = pick(1, 140);
    t.h = pick(1, 90);
  }
  const int c = pick(0, 9);
  t.count = c < 4 ? 1 : (c < 7 ? pick(2, 6) : pick(7, 256));
  if (size_t(t.w) * t.h * t.count > 400000) t.count = pick(1, 4);
  t.amp = pick(0, 5) == 0 ? 16 : pick(1, 128);
  t.black = pick(0, 3) == 0 ? 0 : pick(-200, 200);
  t.gamma = pick(0, 4) == 0 ? 128 : pick(1, 256);
  t.rmsH = pick(-100, 800) * 0.01f;
  t.rmsV = pick(-100, 800) * 0.01f;
  t.nrh = pick(0, 3) != 0;
  t.nrv = pick(0, 3) != 0;
  t.autoAmp = pick(0, 4) == 0;
  t.firstSum = pick(0, 3) == 0;
  t.kind = pick(0, 4);
  return t;
}

void FillFrame(View& v, std::mt19937& rng, int kind) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& b : v.store) b = uint8_t(byte(rng));  // padding and spare bytes hold junk
  if (kind == 0) {
    FillNoisy(v, rng, byte(rng), 30, 12);
  } else if (kind == 1) {
    for (int32_t y = 0; y < v.img.height; ++y)
      for (int32_t x = 0; x < v.img.width; ++x) v.SetGrey(x, y, uint8_t(byte(rng)));
  } else if (kind == 2 || kind == 3) {
    for (int32_t y = 0; y < v.img.height; ++y)
      for (int32_t x = 0; x < v.img.width; ++x) v.SetGrey(x, y, kind == 2 ? 255 : 0);
  } else {
    for (int32_t y = 0; y < v.img.height; ++y)
      for (int32_t x = 0; x < v.img.width; ++x) v.SetGrey(x, y, byte(rng) < 128 ? 0 : 255);
  }
}

void ExpectSameStats(const ProcStats& a, const ProcStats& b, const char* where) {
  EXPECT_EQ(a.nOverflow, b.nOverflow) << where;
  EXPECT_EQ(a.nPeakLevel, b.nPeakLevel) << where;
  EXPECT_EQ(a.nBrightest, b.nBrightest) << where;
  EXPECT_EQ(std::memcmp(&a.fMean, &b.fMean, sizeof(float)), 0) << where << " mean " << a.fMean << " " << b.fMean;
  EXPECT_EQ(std::memcmp(&a.fSigma, &b.fSigma, sizeof(float)), 0) << where << " sigma " << a.fSigma << " " << b.fSigma;
}

bool SameView(const CImageBuf& a, const CImageBuf& b) {
  return a.size == b.size && std::memcmp(a.bits, b.bits, size_t(a.size)) == 0;
}

class Identity : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override { UseKernelSet(GetParam()); }
  void TearDown() override { UseKernelSet(~size_t(0)); }
  TempProfile profile;
};

TEST_P(Identity, ChainMatchesPlainStagesOnRandomInput) {
  std::mt19937 rng(1234 + unsigned(GetParam()));
  RecordingWindow win;
  for (int i = 0; i < 260; ++i) {
    const Trial t = RandomTrial(rng, i);
    SCOPED_TRACE(testing::Message() << "trial " << i << " " << t.w << "x" << t.h << " K=" << t.count << " A=" << t.amp
                                    << " B=" << t.black << " g=" << t.gamma << " kind=" << t.kind);
    CFrameProcessor p;
    p.SetWindows(&win, &win);
    Neutral(p);
    ASSERT_TRUE(Configure(p, t.w, t.h));
    p.SetCountAccum(t.count);
    p.SetAmp(t.amp);
    p.SetBlackLevel(t.black);
    p.SetGamma(t.gamma);
    p.SetRmsH(t.rmsH);
    p.SetRmsV(t.rmsV);
    p.SetNRH(t.nrh);
    p.SetNRV(t.nrv);
    p.SetAuto(t.autoAmp ? (kAutoOn | kAutoAmp) : 0);
    std::atomic<int32_t> firstSum{t.firstSum ? 1 : 0};

    RefSum sum(t.w, t.h);
    sum.nCountAccum = sum.nSumDivisor = t.count;
    ToneTable tone;
    RefToneTable(tone, t.gamma);
    View expect(t.w, t.h);
    ProcStats rs;
    int32_t refFirst = firstSum.load();
    View frame(t.w, t.h);
    const int frames = t.count + (t.firstSum ? 1 : 0);
    for (int f = 0; f < frames; ++f) {
      FillFrame(frame, rng, t.kind);
      const int32_t ampBefore = p.Settings().nAmp.load();
      const FrameResult r = p.ProcessFrame(frame.img, firstSum);
      const bool done = RefAccumulate(sum, frame.img.bits, frame.img.pad);
      if (done) refFirst = 0;
      if (!done && !refFirst) {
        ASSERT_EQ(r, FrameResult::kSumPending);
        continue;
      }
      ASSERT_EQ(r, FrameResult::kPicture);
      ASSERT_EQ(firstSum.load(), refFirst);
      RefRender(sum, ampBefore, t.black, tone, expect.img, &rs);
      RefMeasureNoise(expect.img, rs);
      ExpectSameStats(p.stats, rs, "render and noise");
      const int32_t ampAfter = p.Settings().nAmp.load();
      if (ampAfter != ampBefore) {
        ASSERT_TRUE(t.autoAmp && !refFirst);
        RefRender(sum, ampAfter, t.black, tone, expect.img, nullptr);
      }
      if (t.nrh) RefRemoveRidgeH(expect.img, t.rmsH, rs);
      if (t.nrv) RefRemoveRidgeV(expect.img, t.rmsV, rs);
      ASSERT_TRUE(SameView(p.frProc.img, expect.img)) << "frame " << f;
    }
    // Single stages after the chain start from the picture it showed.
    ProcStats ps = p.stats;
    p.MeasureNoise(ps);
    RefMeasureNoise(expect.img, rs);
    ExpectSameStats(ps, rs, "noise after the chain");
    p.RemoveRidgeV(ps);
    RefRemoveRidgeV(expect.img, t.rmsV, rs);
    ASSERT_TRUE(SameView(p.frProc.img, expect.img)) << "columns after the chain";
  }
}

TEST_P(Identity, SingleStagesMatchPlainStages) {
  std::mt19937 rng(99 + unsigned(GetParam()));
  RecordingWindow win;
  for (int i = 0; i < 200; ++i) {
    const Trial t = RandomTrial(rng, i);
    SCOPED_TRACE(testing::Message() << "trial " << i << " " << t.w << "x" << t.h << " K=" << t.count);
    CFrameProcessor p;
    p.SetWindows(&win, &win);
    Neutral(p);
    ASSERT_TRUE(Configure(p, t.w, t.h));
    p.SetCountAccum(t.count);
    p.SetAmp(t.amp);
    p.SetBlackLevel(t.black);
    p.SetGamma(t.gamma);
    p.SetRmsH(t.rmsH);
    p.SetRmsV(t.rmsV);
    RefSum sum(t.w, t.h);
    sum.nCountAccum = sum.nSumDivisor = t.count;
    ToneTable tone;
    RefToneTable(tone, t.gamma);
    View frame(t.w, t.h), expect(t.w, t.h);
    const int frames = t.firstSum ? 1 + int(rng() % unsigned(t.count)) : t.count;
    bool done = false;
    for (int f = 0; f < frames; ++f) {
      FillFrame(frame, rng, t.kind);
      done = p.Accumulate(frame.img.bits, frame.img.pad);
      ASSERT_EQ(done, RefAccumulate(sum, frame.img.bits, frame.img.pad));
    }
    ProcStats ps, rs;
    p.RenderWithStats(ps);
    RefRender(sum, t.amp, t.black, tone, expect.img, &rs);
    ASSERT_TRUE(SameView(p.frProc.img, expect.img)) << "render";
    p.MeasureNoise(ps);
    RefMeasureNoise(expect.img, rs);
    ExpectSameStats(ps, rs, "noise");
    p.RemoveRidgeH(ps);
    RefRemoveRidgeH(expect.img, t.rmsH, rs);
    ASSERT_TRUE(SameView(p.frProc.img, expect.img)) << "rows";
    p.RemoveRidgeV(ps);
    RefRemoveRidgeV(expect.img, t.rmsV, rs);
    ASSERT_TRUE(SameView(p.frProc.img, expect.img)) << "columns";
    // Noise measured again on the corrected picture, then a re-render with another amplification.
    p.MeasureNoise(ps);
    RefMeasureNoise(expect.img, rs);
    ExpectSameStats(ps, rs, "noise after removal");
    const int32_t a2 = 1 + int32_t(rng() % 128);
    StageAccess::Settings(p).nAmp.store(a2);
    p.Rerender();
    RefRender(sum, a2, t.black, tone, expect.img, nullptr);
    ASSERT_TRUE(SameView(p.frProc.img, expect.img)) << "re-render";
  }
}

// Frames large enough that the wide kernels fold their 32-bit square sums into 64 bits, white ones
// being the worst case for those sums.
TEST_P(Identity, LargeFramesFoldTheirSums) {
  std::mt19937 rng(7 + unsigned(GetParam()));
  RecordingWindow win;
  const Trial shapes[] = {
      {1921, 1080, 1, 16, 0, 128, 9.0f, 9.0f, true, true, false, false, 2},
      {1283, 1001, 3, 37, -20, 200, 2.0f, 0.5f, true, true, false, false, 1},
      {2048, 1200, 1, 128, 200, 1, 0.0f, 8.0f, true, true, false, false, 0},
  };
  for (const Trial& t : shapes) {
    SCOPED_TRACE(testing::Message() << t.w << "x" << t.h);
    CFrameProcessor p;
    p.SetWindows(&win, &win);
    Neutral(p);
    ASSERT_TRUE(Configure(p, t.w, t.h));
    p.SetCountAccum(t.count);
    p.SetAmp(t.amp);
    p.SetBlackLevel(t.black);
    p.SetGamma(t.gamma);
    p.SetRmsH(t.rmsH);
    p.SetRmsV(t.rmsV);
    p.SetNRH(1);
    p.SetNRV(1);
    RefSum sum(t.w, t.h);
    sum.nCountAccum = sum.nSumDivisor = t.count;
    ToneTable tone;
    RefToneTable(tone, t.gamma);
    View frame(t.w, t.h), expect(t.w, t.h);
    std::atomic<int32_t> first{0};
    for (int f = 0; f < t.count; ++f) {
      FillFrame(frame, rng, t.kind);
      p.ProcessFrame(frame.img, first);
      RefAccumulate(sum, frame.img.bits, frame.img.pad);
    }
    ProcStats rs;
    RefRender(sum, t.amp, t.black, tone, expect.img, &rs);
    RefMeasureNoise(expect.img, rs);
    ExpectSameStats(p.stats, rs, "large");
    RefRemoveRidgeH(expect.img, t.rmsH, rs);
    RefRemoveRidgeV(expect.img, t.rmsV, rs);
    EXPECT_TRUE(SameView(p.frProc.img, expect.img));
  }
}

std::string SetName(const testing::TestParamInfo<size_t>& info) { return KernelSet(info.param).name; }

INSTANTIATE_TEST_SUITE_P(KernelSets, Identity, ::testing::Range(size_t(0), KernelSetCount()), SetName);

}  // namespace
}  // namespace ulmora::test
