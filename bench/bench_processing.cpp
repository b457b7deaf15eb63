// The processing stages and the whole chain on a generated noisy, banded frame, next to a memcpy of it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_session.h"
#include "common/aligned_alloc.h"
#include "processing/frame_processor.h"
#include "processing/stages.h"

namespace ulmora {
namespace {

struct Size {
  int32_t w, h;
};
constexpr Size kSizes[] = {{640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}};

// A 24-bit grey frame as a faint camera gives it: dark scene, sensor noise, row and column offsets,
// a few bright points.
struct Frame {
  AlignedBytes store;
  CImageBuf img;
  explicit Frame(Size s) {
    img.width = s.w;
    img.height = s.h;
    img.stride = (3 * s.w + 3) & ~3;
    img.pad = img.stride - 3 * s.w;
    img.size = img.capacity = img.stride * s.h;
    store = MakeAlignedBytes(size_t(img.size));
    img.bits = store.get();
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 6.0);
    std::uniform_int_distribution<int> row(-6, 6), col(-4, 4), spot(0, 4000);
    std::vector<int> colOff(size_t(s.w));
    for (int& c : colOff) c = col(rng);
    memset(img.bits, 0, size_t(img.size));
    for (int32_t y = 0; y < s.h; ++y) {
      const int r = row(rng);
      for (int32_t x = 0; x < s.w; ++x) {
        int v = 40 + (x * 30) / s.w + r + colOff[size_t(x)] + int(noise(rng));
        if (spot(rng) == 0) v = 230;
        uint8_t* p = img.bits + y * img.stride + 3 * x;
        p[0] = p[1] = p[2] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
  }
};

// A processor with settings a user would have: amplification 24, black level -10, gamma 160,
// default thresholds, both banding stages on, one frame per sum.
struct Setup {
  BenchProfile profile;
  Frame frame;
  CFrameProcessor p;
  std::atomic<int32_t> firstSum{0};
  explicit Setup(Size s) : frame(s) {
    p.ConfigureFormat(frame.img, true, false);
    p.SetTimeDelay(0);
    p.SetCountAccum(1);
    p.SetAmp(24);
    p.SetBlackLevel(-10);
    p.SetGamma(160);
    p.SetRmsH(2.0f);
    p.SetRmsV(0.5f);
    p.SetNRH(true);
    p.SetNRV(true);
    p.SetAuto(0);
    p.ProcessFrame(frame.img, firstSum);
  }
};

void Done(benchmark::State& st, const CImageBuf& img) { st.SetBytesProcessed(int64_t(st.iterations()) * img.size); }

void BM_Memcpy(benchmark::State& st, Size size) {
  Frame a(size), b(size);
  for (auto _ : st) {
    memcpy(b.img.bits, a.img.bits, size_t(a.img.size));
    benchmark::ClobberMemory();
  }
  Done(st, a.img);
}

void BM_Accumulate(benchmark::State& st, Size size) {
  Setup s(size);
  for (auto _ : st) benchmark::DoNotOptimize(s.p.Accumulate(s.frame.img.bits, s.frame.img.pad));
  Done(st, s.frame.img);
}

void BM_RenderWithStats(benchmark::State& st, Size size) {
  Setup s(size);
  ProcStats stats;
  for (auto _ : st) s.p.RenderWithStats(stats);
  Done(st, s.frame.img);
}

void BM_MeasureNoise(benchmark::State& st, Size size) {
  Setup s(size);
  ProcStats stats;
  s.p.RenderWithStats(stats);
  s.p.Rerender();  // leaves no cached sums: both passes run
  for (auto _ : st) s.p.MeasureNoise(stats);
  Done(st, s.frame.img);
}

void BM_RemoveRidgeH(benchmark::State& st, Size size) {
  Setup s(size);
  ProcStats stats;
  s.p.RenderWithStats(stats);
  s.p.MeasureNoise(stats);
  for (auto _ : st) s.p.RemoveRidgeH(stats);
  Done(st, s.frame.img);
}

void BM_RemoveRidgeV(benchmark::State& st, Size size) {
  Setup s(size);
  ProcStats stats;
  s.p.RenderWithStats(stats);
  s.p.MeasureNoise(stats);
  for (auto _ : st) s.p.RemoveRidgeV(stats);
  Done(st, s.frame.img);
}

void BM_Chain(benchmark::State& st, Size size) {
  Setup s(size);
  for (auto _ : st) benchmark::DoNotOptimize(s.p.ProcessFrame(s.frame.img, s.firstSum));
  Done(st, s.frame.img);
}

// The automatic control raises the amplification of this dark frame on every call, so every frame
// pays the re-render and the banding passes after it.
void BM_ChainAuto(benchmark::State& st, Size size) {
  Setup s(size);
  s.p.SetAuto(kAutoOn | kAutoAmp);
  for (auto _ : st) {
    StageAccess::Settings(s.p).nAmp.store(24);
    StageAccess::Counters(s.p).nAutoSign.store(0);
    benchmark::DoNotOptimize(s.p.ProcessFrame(s.frame.img, s.firstSum));
  }
  Done(st, s.frame.img);
}

// The default of four frames per sum: three frames are added, the fourth finishes a picture.
void BM_ChainSum4(benchmark::State& st, Size size) {
  Setup s(size);
  s.p.SetCountAccum(4);
  for (auto _ : st) benchmark::DoNotOptimize(s.p.ProcessFrame(s.frame.img, s.firstSum));
  Done(st, s.frame.img);
}

using BenchFn = void (*)(benchmark::State&, Size);

// Names of the form Stage/WIDTHxHEIGHT, each size's memcpy first so the ratios read in order.
const bool kRegistered = [] {
  const std::pair<const char*, BenchFn> stages[] = {
      {"Memcpy", BM_Memcpy},
      {"Accumulate", BM_Accumulate},
      {"RenderWithStats", BM_RenderWithStats},
      {"MeasureNoise", BM_MeasureNoise},
      {"RemoveRidgeH", BM_RemoveRidgeH},
      {"RemoveRidgeV", BM_RemoveRidgeV},
      {"Chain", BM_Chain},
      {"ChainAuto", BM_ChainAuto},
      {"ChainSum4", BM_ChainSum4},
  };
  for (const Size& size : kSizes)
    for (const auto& [name, fn] : stages) {
      const std::string full = std::string(name) + "/" + std::to_string(size.w) + "x" + std::to_string(size.h);
      benchmark::RegisterBenchmark(full.c_str(), fn, size)->Unit(benchmark::kMicrosecond);
    }
  return true;
}();

}  // namespace
}  // namespace ulmora
