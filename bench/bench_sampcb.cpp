// The frame callback on generated YUY2 frames (conversion, chain, repaint posts; capture off), next to
// a memcpy of the same sample.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_session.h"
#include "common/aligned_alloc.h"
#include "pipeline/sg.h"
#include "processing/tone.h"

namespace ulmora {
namespace {

struct Size {
  int32_t w, h;
};
constexpr Size kSizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};

// A YUY2 sample as a faint camera delivers it: dark noisy luma with row and column offsets, flat chroma.
struct Yuy2Sample {
  AlignedBytes store;
  uint8_t* bits = nullptr;
  int32_t stride = 0;
  int32_t size = 0;
  explicit Yuy2Sample(Size s) {
    stride = 2 * ((s.w + 1) & ~1);
    size = stride * s.h;
    store = MakeAlignedBytes(size_t(size));
    bits = store.get();
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 6.0);
    std::uniform_int_distribution<int> row(-6, 6), col(-4, 4);
    std::vector<int> colOff(size_t(s.w));
    for (int& c : colOff) c = col(rng);
    for (int32_t y = 0; y < s.h; ++y) {
      const int r = row(rng);
      uint8_t* p = bits + y * stride;
      for (int32_t x = 0; x < s.w; ++x) {
        int v = 40 + (x * 30) / s.w + r + colOff[size_t(x)] + int(noise(rng));
        p[2 * x] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
        p[2 * x + 1] = 128;
      }
    }
  }
  Yuy2Sample(const Yuy2Sample&) = delete;
  Yuy2Sample& operator=(const Yuy2Sample&) = delete;
};

void BM_MemcpyYUY2(benchmark::State& st, Size size) {
  Yuy2Sample a(size), b(size);
  for (auto _ : st) {
    memcpy(b.bits, a.bits, size_t(a.size));
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * a.size);
}

// The conversion step alone, to show its share of the callback.
void BM_Yuy2ToGrey(benchmark::State& st, Size size) {
  Yuy2Sample sample(size);
  CDibFrame live;
  if (!live.AllocFrame(size.w, size.h)) {
    st.SkipWithError("no memory for the frame");
    return;
  }
  for (auto _ : st) {
    YUY2ToGrey(live.img.bits, live.img.pad, sample.bits, sample.stride, size.w, size.h);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * sample.size);
}

// Settings a user would have for a faint camera: amplification 24, black level -10, gamma 160, both
// banding stages on, automatic mode off; count frames per sum.
void RunSampleCB(benchmark::State& st, Size size, int32_t count, bool windowsBusy = false) {
  SessionSetup setup;
  setup.proc.busy = setup.live.busy = windowsBusy;
  Yuy2Sample sample(size);
  CSG sg;
  sg.SetPacing(false);
  sg.SetSubtype(kFourccYUY2);
  if (sg.SetVideoSize(size.w, size.h) != 1) {
    st.SkipWithError("no memory for the frames");
    return;
  }
  CFrameProcessor& p = sg.Processor();
  p.SetWindows(&setup.main, &setup.proc);
  sg.FrLive().AttachWindow(&setup.live);
  p.SetTimeDelay(0);
  p.SetCountAccum(count);
  p.SetAmp(24);
  p.SetBlackLevel(-10);
  p.SetGamma(160);
  p.SetNRH(true);
  p.SetNRV(true);
  p.SetAuto(0);
  sg.RequestReprocess();
  const Sample s{sample.bits, sample.size, sample.stride};
  double t = 0.0;
  for (auto _ : st) {
    sg.SampleCB(t, &s);
    t += 1 / 29.97;
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * sample.size);
  sg.FrLive().DetachWindow();
  sg.FrProc().DetachWindow();
}

void BM_SampleCB(benchmark::State& st, Size size) { RunSampleCB(st, size, 1); }
void BM_SampleCBSum4(benchmark::State& st, Size size) { RunSampleCB(st, size, 4); }
// Both windows ready for every frame (a copy for each) against both always behind (no copy).
void BM_SampleCBNoHandover(benchmark::State& st, Size size) { RunSampleCB(st, size, 1, true); }

using BenchFn = void (*)(benchmark::State&, Size);

const bool kRegistered = [] {
  const std::pair<const char*, BenchFn> cases[] = {
      {"MemcpyYUY2", BM_MemcpyYUY2}, {"Yuy2ToGrey", BM_Yuy2ToGrey}, {"SampleCB", BM_SampleCB},
      {"SampleCBNoHandover", BM_SampleCBNoHandover}, {"SampleCBSum4", BM_SampleCBSum4}};
  for (const Size& size : kSizes)
    for (const auto& [name, fn] : cases) {
      const std::string full = std::string(name) + "/" + std::to_string(size.w) + "x" + std::to_string(size.h);
      benchmark::RegisterBenchmark(full.c_str(), fn, size)->Unit(benchmark::kMicrosecond);
    }
  return true;
}();

}  // namespace
}  // namespace ulmora
