// The chain on a streaming thread while the GUI thread changes parameters: nothing tears, nothing waits.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "test_support.h"

namespace ulmora::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Concurrency, RenderAlwaysSeesAWholeToneTable) {
  TempProfile profile;
  RecordingWindow win;
  CFrameProcessor p;
  p.SetWindows(&win, &win);
  Neutral(p);
  // One column per level: a picture shows the whole table it was rendered with.
  const int32_t w = 255, h = 2;
  ASSERT_TRUE(Configure(p, w, h));
  View frame(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) frame.SetGrey(x, y, uint8_t(x));
  const int32_t gammas[] = {1, 40, 64, 128, 200, 256};
  ToneTable tables[6];
  for (int i = 0; i < 6; ++i) RefToneTable(tables[i], gammas[i]);

  std::atomic<bool> stop{false};
  std::atomic<int> changes{0};
  std::thread gui([&] {
    for (int i = 0; !stop.load(); ++i) {
      p.SetGamma(gammas[i % 6]);
      changes.fetch_add(1);
    }
  });
  std::atomic<int32_t> first{0};
  int torn = 0, pictures = 0;
  bool seen[6] = {};
  const auto end = Clock::now() + std::chrono::milliseconds(600);
  while (Clock::now() < end || pictures < 200) {
    ASSERT_EQ(p.ProcessFrame(frame.img, first), FrameResult::kPicture);
    ++pictures;
    int match = -1;
    for (int t = 0; t < 6 && match < 0; ++t) {
      bool all = true;
      for (int32_t y = 0; y < h && all; ++y)
        for (int32_t x = 1; x < w && all; ++x)
          all = p.frProc.img.bits[y * p.frProc.img.stride + 3 * x] == tables[t].entry[x].out;
      if (all) match = t;
    }
    if (match < 0)
      ++torn;
    else
      seen[match] = true;
  }
  stop.store(true);
  gui.join();
  EXPECT_EQ(torn, 0) << "of " << pictures << " pictures";
  EXPECT_GT(changes.load(), 10);
  int distinct = 0;
  for (bool s : seen) distinct += s ? 1 : 0;
  EXPECT_GE(distinct, 2);
}

TEST(Concurrency, EveryParameterChangesWhileTheChainRuns) {
  TempProfile profile;
  RecordingWindow win;
  CFrameProcessor p;
  p.SetWindows(&win, &win);
  ASSERT_TRUE(Configure(p, 67, 41));
  p.SetAuto(15);
  p.SetNRH(true);
  p.SetNRV(true);
  View frame(67, 41);
  std::mt19937 frameRng(5);
  FillNoisy(frame, frameRng, 40, 20, 8);

  std::atomic<bool> stop{false};
  std::thread gui([&] {
    std::mt19937 rng(11);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    while (!stop.load()) {
      switch (pick(0, 12)) {
        case 0:
          p.SetGamma(pick(1, 256));
          break;
        case 1:
          p.SetAmp(pick(1, 128));
          break;
        case 2:
          p.SetBlackLevel(pick(-200, 200));
          break;
        case 3:
          p.SetTimeDelay(uint32_t(pick(0, 3) * 40));
          break;
        case 4:
          p.SetCountAccum(pick(1, 6));
          break;
        case 5:
          p.SetFrameRate(pick(5, 120));
          break;
        case 6:
          p.SetRmsH(pick(-100, 800) * 0.01f);
          break;
        case 7:
          p.SetRmsV(pick(-100, 800) * 0.01f);
          break;
        case 8:
          p.SetNRH(pick(0, 1));
          break;
        case 9:
          p.SetNRV(pick(0, 1));
          break;
        case 10:
          p.SetAuto(uint32_t(pick(0, 15)));
          break;
        case 11:
          p.Restart();
          break;
        default:
          p.ResetDefaults();
          break;
      }
    }
  });
  std::atomic<int32_t> first{1};
  int pictures = 0, frames = 0;
  std::string fault;
  const auto end = Clock::now() + std::chrono::milliseconds(800);
  while (Clock::now() < end && fault.empty()) {
    const FrameResult r = p.ProcessFrame(frame.img, first);
    ++frames;
    if (r == FrameResult::kPicture) {
      ++pictures;
      if (p.stats.nPeakLevel < 0 || p.stats.nPeakLevel > 255) fault = "peak level";
      if (!(p.stats.fMean >= 0.0f && p.stats.fMean <= 255.0f)) fault = "mean";
    }
    // The automatic control may leave a count of 258 - 0 for a moment before its own step down.
    const int32_t k = p.Settings().nCountAccum.load();
    if (k < 1 || k > 258) fault = "count " + std::to_string(k);
    const int32_t a = p.Settings().nAmp.load();
    if (a < 1 || a > 128) fault = "amplification " + std::to_string(a);
  }
  stop.store(true);
  gui.join();
  EXPECT_EQ(fault, "") << "after " << frames << " frames";
  EXPECT_GT(pictures, 10) << frames << " frames";
}

}  // namespace
}  // namespace ulmora::test
