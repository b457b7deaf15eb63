// The automatic control's two branches, its memory of the last moves, the delay table and its messages.
#include <gtest/gtest.h>

#include "common/tests/log_capture.h"
#include "test_support.h"

namespace ulmora::test {
namespace {

class Auto : public ::testing::Test {
 protected:
  void SetUp() override {
    p.SetWindows(&win, &win);
    p.SetTimeDelay(0);
    p.SetCountAccum(4);
    StageAccess::Settings(p).nAmp.store(16);
    StageAccess::Counters(p).nAutoSign.store(0);
    p.SetAuto(kAutoOn | kAutoAmp);
  }
  bool Run(int32_t over, int32_t peak, int32_t bright) {
    s.nOverflow = over;
    s.nPeakLevel = peak;
    s.nBrightest = bright;
    return p.AutoControl(s);
  }
  TempProfile profile;
  RecordingWindow win;
  CFrameProcessor p;
  ProcStats s;
};

TEST_F(Auto, RaisesTheAmplificationTowardsWhite) {
  EXPECT_TRUE(Run(0, 50, 100));
  EXPECT_EQ(p.Settings().nAmp.load(), 40);  // step (155 x 16) / 100 = 24
  EXPECT_EQ(p.Counters().nAutoSign.load(), 24);
  EXPECT_EQ(win.amp.load(), 1);
  EXPECT_EQ(win.total.load(), 1);
}

TEST_F(Auto, StepIsCutAt128AndNeverPassesIt) {
  StageAccess::Settings(p).nAmp.store(120);
  EXPECT_TRUE(Run(0, 50, 120));
  EXPECT_EQ(p.Settings().nAmp.load(), 128);
  EXPECT_FALSE(Run(0, 50, 100));
  EXPECT_EQ(p.Settings().nAmp.load(), 128);
}

TEST_F(Auto, SmallestStepsAreOne) {
  EXPECT_TRUE(Run(0, 50, 0));  // nothing bright: step 1
  EXPECT_EQ(p.Settings().nAmp.load(), 17);
  StageAccess::Settings(p).nAmp.store(16);
  EXPECT_TRUE(Run(0, 50, 249));  // (6 x 16) / 249 = 0 becomes 1
  EXPECT_EQ(p.Settings().nAmp.load(), 17);
}

TEST_F(Auto, BrightPicturesRaiseOnlyAfterDecreasesOrLongSums) {
  EXPECT_FALSE(Run(0, 50, 250));
  StageAccess::Counters(p).nAutoSign.store(-2);
  EXPECT_TRUE(Run(0, 50, 250));
  EXPECT_EQ(p.Counters().nAutoSign.load(), 1);  // cleared, then the step of 1
  StageAccess::Counters(p).nAutoSign.store(3);
  StageAccess::Settings(p).nCountAccum.store(11);
  EXPECT_TRUE(Run(0, 50, 252));
  StageAccess::Settings(p).nCountAccum.store(10);
  EXPECT_FALSE(Run(0, 50, 252));
}

TEST_F(Auto, ManyOverflowsLowerTheAmplification) {
  StageAccess::Settings(p).nAmp.store(30);
  StageAccess::Counters(p).nAutoSign.store(5);
  EXPECT_TRUE(Run(201, 200, 0));
  EXPECT_EQ(p.Settings().nAmp.load(), 29);
  EXPECT_EQ(p.Counters().nAutoSign.load(), -1);
  EXPECT_TRUE(Run(201, 200, 0));
  EXPECT_EQ(p.Counters().nAutoSign.load(), -2);
  StageAccess::Settings(p).nAmp.store(1);
  EXPECT_FALSE(Run(5000, 255, 0));
  EXPECT_EQ(p.Settings().nAmp.load(), 1);
}

TEST_F(Auto, OneSingleIncreaseIsNotUndoneAtOnce) {
  p.SetAuto(kAutoOn | kAutoAmp | kAutoAccum | kAutoDelay);
  p.SetTimeDelay(200);  // what the table gives for P = 200: no change, so the memory stays
  StageAccess::Counters(p).nAutoSign.store(1);
  StageAccess::Settings(p).nAmp.store(50);
  EXPECT_FALSE(Run(300, 200, 0));
  EXPECT_EQ(p.Settings().nAmp.load(), 50);
  EXPECT_EQ(p.Counters().nAutoSign.load(), 1);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 258 - 200 - 5);  // the other sub-modes still act
  EXPECT_EQ(win.delay.load(), 0);
}

TEST_F(Auto, ARealDelayChangeClearsTheMemory) {
  p.SetAuto(kAutoOn | kAutoAmp | kAutoDelay);
  StageAccess::Counters(p).nAutoSign.store(1);
  StageAccess::Settings(p).nAmp.store(50);
  EXPECT_FALSE(Run(300, 200, 0));
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 200u);
  EXPECT_EQ(p.Counters().nAutoSign.load(), 0);
  EXPECT_EQ(win.delay.load(), 1);
}

TEST_F(Auto, ModerateOverflowChangesNothing) {
  LogCapture log;
  p.SetAuto(15);
  StageAccess::Settings(p).nAmp.store(30);
  EXPECT_FALSE(Run(100, 200, 0));
  EXPECT_EQ(p.Settings().nAmp.load(), 30);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 4);
  EXPECT_EQ(win.total.load(), 0);
  if (kDebugBuild)
    EXPECT_TRUE(log.Contains("Amp decrement, amp = 1.875000, count=4, lCountOwer=100, lSignOne=0, a=200"));
  else
    EXPECT_FALSE(log.Contains("Amp decrement"));
}

TEST_F(Auto, IncrementLineCarriesTheValuesAfterTheCall) {
  LogCapture log;
  EXPECT_TRUE(Run(0, 77, 100));
  if (kDebugBuild)
    EXPECT_TRUE(log.Contains("Amp increment, amp = 2.500000:40, count=4, max=100, lCountOwer=0, lSignOne=24, a=77"));
  else
    EXPECT_FALSE(log.Contains("Amp increment"));
}

TEST_F(Auto, AccumulatorFollowsThePeakInTheFirstBranch) {
  p.SetAuto(kAutoOn | kAutoAccum);
  EXPECT_FALSE(Run(0, 100, 100));
  EXPECT_EQ(p.Settings().nCountAccum.load(), 37);  // 129 - 96 = 33, then + 4
  EXPECT_EQ(win.count.load(), 2);
  EXPECT_EQ(p.Settings().nAmp.load(), 16);
  Run(0, 170, 100);  // 129 - 168 is below 4: 4, then + 2
  EXPECT_EQ(p.Settings().nCountAccum.load(), 6);
  Run(0, 210, 100);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 5);
  Run(0, 240, 100);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 4);
}

TEST_F(Auto, AccumulatorShrinksInTheSecondBranch) {
  p.SetAuto(kAutoOn | kAutoAccum);
  StageAccess::Settings(p).nAmp.store(20);
  Run(3000, 255, 0);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 9);  // 258 - 248 = 10, then - 1
  Run(3000, 100, 0);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 152);  // 162 - 10
  Run(1000, 100, 0);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 157);  // 162 - 5
  Run(1000, 250, 0);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 9);  // 10 - 1
  EXPECT_EQ(p.Settings().nAmp.load(), 20);
}

TEST_F(Auto, DelayTableAndMessages) {
  p.SetAuto(kAutoOn | kAutoDelay);
  const std::pair<int32_t, uint32_t> table[] = {{0, 500},   {159, 500}, {160, 300}, {179, 300}, {180, 200},
                                                {244, 200}, {245, 134}, {249, 134}, {250, 0},   {255, 0}};
  int messages = 0;
  uint32_t last = p.Settings().nTimeDelay.load();
  for (const auto& [peak, ms] : table) {
    Run(0, peak, 100);
    EXPECT_EQ(p.Settings().nTimeDelay.load(), ms) << peak;
    if (ms != last) ++messages;
    last = ms;
    EXPECT_EQ(win.delay.load(), messages) << peak;
  }
  // P = 200 with the delay already at 200: no message, the memory is kept.
  p.SetTimeDelay(200);
  StageAccess::Counters(p).nAutoSign.store(7);
  const int before = win.delay.load();
  Run(0, 200, 100);
  EXPECT_EQ(win.delay.load(), before);
  EXPECT_EQ(p.Counters().nAutoSign.load(), 7);
}

TEST_F(Auto, WithoutSubModesNothingChanges) {
  p.SetAuto(kAutoOn);
  EXPECT_FALSE(Run(0, 100, 100));
  EXPECT_FALSE(Run(5000, 255, 0));
  EXPECT_EQ(p.Settings().nAmp.load(), 16);
  EXPECT_EQ(p.Settings().nCountAccum.load(), 4);
  EXPECT_EQ(p.Settings().nTimeDelay.load(), 0u);
  EXPECT_EQ(win.total.load(), 0);
}

TEST_F(Auto, RunsInTheChainOnlyOnFinishedSums) {
  ASSERT_TRUE(Configure(p, 8, 8));
  p.SetCountAccum(2);
  View frame(8, 8, 60);
  std::atomic<int32_t> first{1};
  EXPECT_EQ(p.ProcessFrame(frame.img, first), FrameResult::kPicture);  // partial: no control
  EXPECT_EQ(p.Settings().nAmp.load(), 16);
  EXPECT_EQ(p.ProcessFrame(frame.img, first), FrameResult::kPicture);
  EXPECT_EQ(first.load(), 0);
  // 60 rendered at 16: step (195 x 16) / 60 = 52, re-rendered at 68: (120 x 68 >> 4 + 1) / 2 = 255.
  EXPECT_EQ(p.Settings().nAmp.load(), 68);
  EXPECT_EQ(p.frProc.img.bits[0], 255);
}

}  // namespace
}  // namespace ulmora::test
