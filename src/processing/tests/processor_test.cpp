// The processor object: keys, derived rates, parameter changes, format changes and the chain's framing.
#include <gtest/gtest.h>

#include <cmath>

#include "common/tests/log_capture.h"
#include "settings/profile_keys.h"
#include "test_support.h"

namespace ulmora::test {
namespace {

class CountingOwner : public IProcOwner {
 public:
  void OnOutRateChanged() override { ++calls; }
  int calls = 0;
};

TEST(ProcessorKeys, DefaultsWhenTheProfileIsEmpty) {
  TempProfile profile;
  CFrameProcessor p;
  EXPECT_EQ(p.Settings().nAuto.load(), 15u);
  EXPECT_EQ(p.Settings().nAutoSaved, 15u);
  EXPECT_EQ(p.Settings().bNRH.load(), 0);
  EXPECT_EQ(p.Settings().bNRV.load(), 0);
  EXPECT_EQ(p.Settings().fRmsH.load(), 2.0f);
  EXPECT_EQ(p.Settings().fRmsV.load(), 0.5f);
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 0u);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 4);
  EXPECT_EQ(p.Counters().nSumDivisor.load(), 4);
  EXPECT_EQ(p.Settings().nAmp.load(), 16);
  EXPECT_EQ(p.Settings().nBlackLevel.load(), 0);
  EXPECT_EQ(p.Settings().nGamma.load(), 128);
  EXPECT_EQ(p.Settings().bColor, 0);
  EXPECT_EQ(p.Settings().bFlipV.load(), 0);
  EXPECT_EQ(p.Counters().dFrameRate.load(), 29.97);
  EXPECT_EQ(p.Counters().dOutRate.load(), 29.97 / 4);
  EXPECT_EQ(p.Counters().nDelayFrames.load(), 0);
  EXPECT_EQ(p.frProc.nStretchMode, 3);
  ASSERT_NE(p.Tone(), nullptr);
  for (int i = 0; i < 255; ++i) EXPECT_EQ(p.Tone()->entry[i].out, i);
  EXPECT_FALSE(p.HasChain());
}

TEST(ProcessorKeys, LoadsStoredValues) {
  TempProfile profile;
  profile.Set("ProcAuto", "6");
  profile.Set("ProcNRH", "1");
  profile.Set("ProcNRV", "1");
  profile.Set("ProcRMSH", "350");
  profile.Set("ProcRMSV", "-25");
  profile.Set("ProcTimeDelay", "100");
  profile.Set("ProcCountAccum", "12");
  profile.Set("ProcAmp", "40");
  profile.Set("ProcBlackLevel", "-30");
  profile.Set("ProcGamma", "256");
  profile.Set("ProcFlipH", "1");
  profile.Set("ProcFlipV", "1");
  CFrameProcessor p;
  EXPECT_EQ(p.Settings().nAuto.load(), 6u);
  EXPECT_EQ(p.Settings().nAutoSaved, 6u);
  EXPECT_EQ(p.Settings().bNRH.load(), 1);
  EXPECT_EQ(p.Settings().bNRV.load(), 1);
  EXPECT_EQ(p.Settings().fRmsH.load(), static_cast<float>(350 * 0.01));
  EXPECT_EQ(p.Settings().fRmsV.load(), static_cast<float>(-25 * 0.01));
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 100u);
  EXPECT_EQ(p.Counters().nDelayFrames.load(), 3);  // 2.997 frames, rounded up
  EXPECT_EQ(p.Counters().nDelayCountdown.load(), 3);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 12);
  EXPECT_EQ(p.Settings().nAmp.load(), 40);
  EXPECT_EQ(p.Settings().nBlackLevel.load(), -30);
  EXPECT_EQ(p.Settings().nGamma.load(), 256);
  EXPECT_EQ(p.Tone()->entry[1].out, 101);
  EXPECT_EQ(p.Settings().bFlipH.load(), 1);
  EXPECT_EQ(p.Settings().bFlipV.load(), 1);
  EXPECT_DOUBLE_EQ(p.Counters().dOutRate.load(), 29.97 / 12 / 3);
}

TEST(ProcessorKeys, GammaIsClampedOnLoad) {
  TempProfile profile;
  profile.Set("ProcGamma", "0");
  {
    CFrameProcessor p;
    EXPECT_EQ(p.Settings().nGamma.load(), 1);
    EXPECT_EQ(p.Tone()->entry[254].out, 154);
  }
  profile.Set("ProcGamma", "300");
  CFrameProcessor p;
  EXPECT_EQ(p.Settings().nGamma.load(), 256);
}

TEST(ProcessorKeys, NonsenseValuesAreBroughtIntoRangeAndLogged) {
  TempProfile profile;
  LogCapture log;
  profile.Set("ProcCountAccum", "0");
  profile.Set("ProcAmp", "5000");
  profile.Set("ProcBlackLevel", "-99999");
  profile.Set("ProcTimeDelay", "-5");
  CFrameProcessor p;
  EXPECT_EQ(p.Settings().nCountAccum.load(), 1);
  EXPECT_EQ(p.Counters().nSumDivisor.load(), 1);
  EXPECT_EQ(p.Settings().nAmp.load(), 128);
  EXPECT_EQ(p.Settings().nBlackLevel.load(), -200);
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 0u);
  EXPECT_TRUE(log.Contains("Setting ProcCountAccum = 0 is out of range 1..256, 1 used"));
  EXPECT_TRUE(log.Contains("Setting ProcAmp = 5000 is out of range 1..128, 128 used"));
  EXPECT_TRUE(log.Contains("Setting ProcTimeDelay = -5 is out of range 0..6000, 0 used"));
}

TEST(ProcessorKeys, WrittenOnlyWhenSavingIsEnabled) {
  TempProfile profile;
  {
    CFrameProcessor p;
    p.SetAmp(77);
  }
  EXPECT_EQ(profile.Get("ProcAmp"), "<none>");
  {
    CFrameProcessor p;
    p.EnableSaving(true);
    p.SetAmp(77);
    p.SetBlackLevel(-12);
    p.SetGamma(200);
    p.SetTimeDelay(300);
    p.SetCountAccum(9);
    p.SetAuto(3);
    p.SetNRH(true);
    p.SetRmsV(-1.0f);
    p.SetFlipV(true);
  }
  EXPECT_EQ(profile.Get("ProcAmp"), "77");
  EXPECT_EQ(profile.Get("ProcBlackLevel"), "-12");
  EXPECT_EQ(profile.Get("ProcGamma"), "200");
  EXPECT_EQ(profile.Get("ProcTimeDelay"), "300");
  EXPECT_EQ(profile.Get("ProcCountAccum"), "9");
  EXPECT_EQ(profile.Get("ProcAuto"), "3");
  EXPECT_EQ(profile.Get("ProcNRH"), "1");
  EXPECT_EQ(profile.Get("ProcNRV"), "0");
  EXPECT_EQ(profile.Get("ProcRMSH"), "200");
  EXPECT_EQ(profile.Get("ProcRMSV"), "-100");
  EXPECT_EQ(profile.Get("ProcColor"), "0");
  EXPECT_EQ(profile.Get("ProcFlipH"), "0");
  EXPECT_EQ(profile.Get("ProcFlipV"), "1");
  // What was saved loads back as it was.
  CFrameProcessor again;
  EXPECT_EQ(again.Settings().nAmp.load(), 77);
  EXPECT_EQ(again.Settings().fRmsV.load(), -1.0f);
  EXPECT_EQ(again.Settings().nAuto.load(), 3u);
}

// The processed view's mode is saved with the processor, and only from a persisting view.
TEST(ProcessorKeys, TheViewModeIsSavedOnlyWhenPersisting) {
  TempProfile profile;
  { CFrameProcessor p; }
  EXPECT_EQ(profile.Get("ViewMode"), "<none>");
  {
    CFrameProcessor p;
    p.frProc.bPersist = 1;
    p.frProc.nViewMode = 5;
  }
  EXPECT_EQ(profile.Get("ViewMode"), "5");
}

TEST(ProcessorKeys, ThresholdsRoundTripThroughHundredths) {
  TempProfile profile;
  profile.Set("ProcRMSH", "200");
  profile.Set("ProcRMSV", "29");
  {
    CFrameProcessor p;
    EXPECT_EQ(p.Settings().fRmsH.load(), 2.0f);
    p.EnableSaving(true);
  }
  EXPECT_EQ(profile.Get("ProcRMSH"), "200");
  EXPECT_EQ(profile.Get("ProcRMSV"), "29");
}

TEST(ProcessorRates, DelayInFramesAndPictureRate) {
  TempProfile profile;
  CFrameProcessor p;
  CountingOwner owner;
  p.SetOwner(&owner);
  EXPECT_TRUE(p.SetTimeDelay(100));
  EXPECT_EQ(p.Counters().nDelayFrames.load(), 3);
  EXPECT_EQ(owner.calls, 1);
  EXPECT_FALSE(p.SetTimeDelay(100));  // unchanged: nothing recomputed
  EXPECT_EQ(owner.calls, 1);
  EXPECT_DOUBLE_EQ(p.Counters().dOutRate.load(), 29.97 / 4 / 3);
  p.SetCountAccum(1);
  EXPECT_DOUBLE_EQ(p.Counters().dOutRate.load(), 29.97 / 3);
  EXPECT_EQ(owner.calls, 2);
  p.SetTimeDelay(30);  // 0.9 frames: one frame of delay does not divide the rate
  EXPECT_EQ(p.Counters().nDelayFrames.load(), 1);
  EXPECT_DOUBLE_EQ(p.Counters().dOutRate.load(), 29.97);
  p.SetFrameRate(0.5);
  EXPECT_EQ(p.Counters().dFrameRate.load(), 29.97);
  p.SetFrameRate(std::nan(""));
  EXPECT_EQ(p.Counters().dFrameRate.load(), 29.97);
  p.SetFrameRate(100.0);
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 30u);
  EXPECT_EQ(p.Counters().nDelayFrames.load(), 3);
  EXPECT_EQ(p.Counters().nDelayCountdown.load(), 3);
  p.SetTimeDelay(0);
  EXPECT_EQ(p.Counters().nDelayFrames.load(), 0);
  EXPECT_DOUBLE_EQ(p.Counters().dOutRate.load(), 100.0);
}

TEST(ProcessorRates, ChangesFromTheGuiClearTheAutomaticMemory) {
  TempProfile profile;
  CFrameProcessor p;
  auto check = [&p](const char* what, auto change) {
    StageAccess::Counters(p).nAutoSign.store(5);
    StageAccess::Counters(p).nSummed.store(2);
    change();
    EXPECT_EQ(p.Counters().nAutoSign.load(), 0) << what;
  };
  check("gamma", [&] { p.SetGamma(100); });
  check("delay", [&] { p.SetTimeDelay(250); });
  check("count", [&] { p.SetCountAccum(7); });
  check("rate", [&] { p.SetFrameRate(25.0); });
  check("amp", [&] { p.SetAmp(20); });
  check("black", [&] { p.SetBlackLevel(3); });
  StageAccess::Counters(p).nSummed.store(2);
  p.SetCountAccum(5);
  EXPECT_EQ(p.Counters().nSummed.load(), 0);
  EXPECT_EQ(p.Counters().nSumDivisor.load(), 5);
}

TEST(ProcessorParameters, RestartBringsTheAutomaticSubModesBack) {
  TempProfile profile;
  CFrameProcessor p;
  RecordingWindow win;
  p.SetWindows(&win, &win);
  p.SetAuto(15);
  p.SetTimeDelay(200);
  p.SetCountAccum(10);
  StageAccess::Settings(p).nAmp.store(40);
  StageAccess::Counters(p).nAutoSign.store(3);
  StageAccess::Counters(p).nSummed.store(2);
  p.Restart();
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 0u);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 4);
  EXPECT_EQ(p.Settings().nAmp.load(), 16);
  EXPECT_EQ(p.Counters().nSumDivisor.load(), 4);
  EXPECT_EQ(p.Counters().nSummed.load(), 0);
  EXPECT_EQ(p.Counters().nAutoSign.load(), 0);
  EXPECT_EQ(win.delay.load(), 1);
  EXPECT_EQ(win.count.load(), 1);
  EXPECT_EQ(win.amp.load(), 1);
  // Nothing to bring back: no messages.
  p.Restart();
  EXPECT_EQ(win.total.load(), 3);
  // Without automatic mode the user's values stay.
  p.SetAuto(14);
  p.SetTimeDelay(200);
  p.SetCountAccum(10);
  StageAccess::Settings(p).nAmp.store(40);
  p.Restart();
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 200u);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 10);
  EXPECT_EQ(p.Settings().nAmp.load(), 40);
  EXPECT_EQ(p.Counters().nDelayCountdown.load(), p.Counters().nDelayFrames.load());
  EXPECT_EQ(win.total.load(), 3);
}

TEST(ProcessorParameters, DefaultLeavesModesThresholdsAndFlipsAlone) {
  TempProfile profile;
  CFrameProcessor p;
  p.SetAuto(5);
  p.SetRmsH(3.5f);
  p.SetRmsV(-0.5f);
  p.SetNRH(true);
  p.SetNRV(true);
  p.SetFlipV(true);
  p.SetTimeDelay(500);
  p.SetCountAccum(30);
  p.SetAmp(90);
  p.SetBlackLevel(-50);
  p.SetGamma(30);
  p.ResetDefaults();
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 0u);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 4);
  EXPECT_EQ(p.Settings().nAmp.load(), 16);
  EXPECT_EQ(p.Settings().nBlackLevel.load(), 0);
  EXPECT_EQ(p.Settings().nGamma.load(), 128);
  EXPECT_EQ(p.Tone()->entry[77].out, 77);
  EXPECT_EQ(p.Settings().nAuto.load(), 5u);
  EXPECT_EQ(p.Settings().fRmsH.load(), 3.5f);
  EXPECT_EQ(p.Settings().fRmsV.load(), -0.5f);
  EXPECT_EQ(p.Settings().bNRH.load(), 1);
  EXPECT_EQ(p.Settings().bNRV.load(), 1);
  EXPECT_EQ(p.Settings().bFlipV.load(), 1);
}

TEST(ProcessorParameters, GammaChangeDuringARebuildIsDropped) {
  TempProfile profile;
  CFrameProcessor p;
  p.SetGamma(64);
  const ToneTable* before = p.Tone();
  EXPECT_EQ(before->entry[128].out, 64);
  StageAccess::Counters(p).nAutoSign.store(4);
  StageAccess::Counters(p).bGammaBusy.store(1);  // a rebuild on another thread is under way
  p.SetGamma(256);
  EXPECT_EQ(p.Settings().nGamma.load(), 64);
  EXPECT_EQ(p.Tone(), before);
  EXPECT_EQ(p.Tone()->entry[128].out, 64);
  EXPECT_EQ(p.Counters().nAutoSign.load(), 4);
  StageAccess::Counters(p).bGammaBusy.store(0);
  p.SetGamma(256);
  EXPECT_EQ(p.Settings().nGamma.load(), 256);
  EXPECT_NE(p.Tone(), before);
  EXPECT_EQ(p.Tone()->entry[1].out, 101);
  EXPECT_EQ(p.Counters().bGammaBusy.load(), 0);
  p.SetGamma(999);
  EXPECT_EQ(p.Settings().nGamma.load(), 256);
}

TEST(ProcessorFormat, SizesTheViewAndTheWorkBuffer) {
  TempProfile profile;
  CFrameProcessor p;
  View raw(641, 3);
  ASSERT_TRUE(p.ConfigureFormat(raw.img, true, true));
  EXPECT_TRUE(p.HasChain());
  EXPECT_EQ(p.frProc.img.width, 641);
  EXPECT_EQ(p.frProc.img.height, 3);
  EXPECT_EQ(p.frProc.img.stride, 1924);
  EXPECT_EQ(p.frProc.img.pad, 1);
  EXPECT_EQ(p.frProc.nHeightSigned, -3);
  for (int32_t i = 0; i < p.frProc.img.size; ++i) ASSERT_EQ(p.frProc.img.bits[i], 0);
  // A smaller format keeps the buffers; a larger one grows them.
  const uint8_t* bits = p.frProc.img.bits;
  View small(10, 2);
  ASSERT_TRUE(p.ConfigureFormat(small.img, true, false));
  EXPECT_EQ(p.frProc.img.bits, bits);
  EXPECT_EQ(p.frProc.nHeightSigned, 2);
  View big(800, 600);
  ASSERT_TRUE(p.ConfigureFormat(big.img, true, false));
  EXPECT_GE(p.frProc.img.capacity, 2400 * 600);
}

TEST(ProcessorFormat, WithoutAllocationTheChainIsOff) {
  TempProfile profile;
  CFrameProcessor p;
  View raw(16, 8);
  ASSERT_TRUE(p.ConfigureFormat(raw.img, true, false));
  EXPECT_FALSE(p.ConfigureFormat(raw.img, false, false));
  EXPECT_FALSE(p.HasChain());
  std::atomic<int32_t> first{1};
  EXPECT_EQ(p.ProcessFrame(raw.img, first), FrameResult::kPassThrough);
  // The ridge and automatic slots survive; the next good format brings the chain back.
  ASSERT_TRUE(p.ConfigureFormat(raw.img, true, false));
  EXPECT_TRUE(p.HasChain());
  EXPECT_NE(p.Slots().pfnRidgeH.load(), nullptr);
  EXPECT_NE(p.Slots().pfnAutoControl.load(), nullptr);
}

TEST(ProcessorFormat, AFrameOfAnotherSizeIsNotProcessed) {
  TempProfile profile;
  CFrameProcessor p;
  Neutral(p);
  ASSERT_TRUE(Configure(p, 8, 8));
  View other(9, 8);
  std::atomic<int32_t> first{0};
  EXPECT_EQ(p.ProcessFrame(other.img, first), FrameResult::kPassThrough);
}

TEST(ProcessorChain, DelayOfTwoFramesWithThreePerSumCompletesEveryNinth) {
  TempProfile profile;
  CFrameProcessor p;
  Neutral(p);
  ASSERT_TRUE(Configure(p, 4, 4));
  p.SetFrameRate(10.0);
  p.SetTimeDelay(200);  // 2 frames at 10 fps
  ASSERT_EQ(p.Counters().nDelayFrames.load(), 2);
  p.SetCountAccum(3);
  View frame(4, 4, 50);
  std::atomic<int32_t> first{0};
  std::vector<FrameResult> seen;
  for (int i = 0; i < 27; ++i) seen.push_back(p.ProcessFrame(frame.img, first));
  int pictures = 0;
  for (int i = 0; i < 27; ++i) {
    const bool taken = i % 3 == 2;  // the countdown starts full: two dropped, one taken
    if (!taken) {
      EXPECT_EQ(seen[size_t(i)], FrameResult::kDropped) << i;
    } else if (i % 9 == 8) {
      EXPECT_EQ(seen[size_t(i)], FrameResult::kPicture) << i;
      ++pictures;
    } else {
      EXPECT_EQ(seen[size_t(i)], FrameResult::kSumPending) << i;
    }
  }
  EXPECT_EQ(pictures, 3);
}

TEST(ProcessorChain, WithoutDelayEveryFrameIsTakenAndOnePerSumFinishesEach) {
  TempProfile profile;
  CFrameProcessor p;
  Neutral(p);
  ASSERT_TRUE(Configure(p, 3, 3));
  View frame(3, 3, 7);
  std::atomic<int32_t> first{0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p.ProcessFrame(frame.img, first), FrameResult::kPicture);
  EXPECT_EQ(p.frProc.img.bits[0], 7);
}

TEST(ProcessorChain, ACountChangeRestartsTheSum) {
  TempProfile profile;
  CFrameProcessor p;
  Neutral(p);
  ASSERT_TRUE(Configure(p, 2, 2));
  p.SetCountAccum(4);
  View bright(2, 2, 200), dim(2, 2, 20);
  std::atomic<int32_t> first{0};
  EXPECT_EQ(p.ProcessFrame(bright.img, first), FrameResult::kSumPending);
  EXPECT_EQ(p.ProcessFrame(bright.img, first), FrameResult::kSumPending);
  p.SetCountAccum(4);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(p.ProcessFrame(dim.img, first), FrameResult::kSumPending);
  EXPECT_EQ(p.ProcessFrame(dim.img, first), FrameResult::kPicture);
  EXPECT_EQ(p.frProc.img.bits[0], 20);  // the bright frames were dropped from the sum
}

TEST(ProcessorChain, PartialSumsBrightenUntilTheFirstSumCompletes) {
  TempProfile profile;
  CFrameProcessor p;
  Neutral(p);
  ASSERT_TRUE(Configure(p, 5, 3));
  p.SetCountAccum(4);
  p.Restart();
  View frame(5, 3, 100);
  std::atomic<int32_t> first{1};
  const uint8_t expect[4] = {25, 50, 75, 100};  // (k x 100 + 2) / 4
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(p.ProcessFrame(frame.img, first), FrameResult::kPicture);
    EXPECT_EQ(p.frProc.img.bits[0], expect[k]) << k;
    EXPECT_EQ(first.load(), k < 3 ? 1 : 0);
  }
  EXPECT_EQ(p.ProcessFrame(frame.img, first), FrameResult::kSumPending);
}

TEST(ProcessorChain, FlipIsInForceAfterAFormatChange) {
  TempProfile profile;
  CFrameProcessor p;
  p.SetFlipV(true);
  ASSERT_TRUE(Configure(p, 6, 4));
  EXPECT_EQ(p.frProc.DisplayHeight(), -4);
  EXPECT_EQ(p.frProc.FileHeader().biHeight, 4);
}

}  // namespace
}  // namespace ulmora::test
