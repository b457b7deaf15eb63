// The simulated camera's frame generation per pixel format, each with the best time of a memcpy of
// the same frame beside it (counter memcpy_us).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "simcam/sim_render.h"

namespace ulmora {
namespace {

struct Size {
  int32_t w, h;
};
constexpr Size kSimSizes[] = {{640, 480}, {1920, 1080}};

struct Target {
  std::vector<uint8_t> bytes;
  uint8_t* planes[3] = {nullptr, nullptr, nullptr};
  int32_t strides[3] = {0, 0, 0};
  Target(Size s, SimPixelFormat f) {
    if (f == SimPixelFormat::kI420) {
      const int32_t cw = s.w / 2, ch = s.h / 2;
      bytes.resize(size_t(s.w) * s.h + 2 * size_t(cw) * ch);
      planes[0] = bytes.data();
      planes[1] = planes[0] + size_t(s.w) * s.h;
      planes[2] = planes[1] + size_t(cw) * ch;
      strides[0] = s.w;
      strides[1] = strides[2] = cw;
    } else {
      strides[0] = f == SimPixelFormat::kYUY2 ? 2 * s.w : (3 * s.w + 3) & ~3;
      bytes.resize(size_t(strides[0]) * s.h);
      planes[0] = bytes.data();
    }
  }
};

double MemcpyMicros(size_t n) {
  std::vector<uint8_t> a(n, 1), b(n, 2);
  double best = 1e30;
  for (int i = 0; i < 30; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    std::memcpy(b.data(), a.data(), n);
    benchmark::ClobberMemory();
    best = std::min(best, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void BM_SimCam(benchmark::State& st, Size size, SimPixelFormat format) {
  SimFrameRenderer r(size.w, size.h, 0, 1);
  Target t(size, format);
  SimControlValues controls;
  int64_t frame = 0;
  r.Render(frame++, 0, controls, format, t.planes, t.strides);  // scene made outside the timing
  for (auto _ : st) {
    r.Render(frame++, 0, controls, format, t.planes, t.strides);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(t.bytes.size()));
  st.counters["memcpy_us"] = MemcpyMicros(t.bytes.size());
}

const bool kRegistered = [] {
  const std::pair<const char*, SimPixelFormat> formats[] = {
      {"SimCamYUY2", SimPixelFormat::kYUY2}, {"SimCamBGR", SimPixelFormat::kBGR}, {"SimCamI420", SimPixelFormat::kI420}};
  for (const Size& size : kSimSizes)
    for (const auto& [name, format] : formats) {
      const std::string full = std::string(name) + "/" + std::to_string(size.w) + "x" + std::to_string(size.h);
      benchmark::RegisterBenchmark(full.c_str(), BM_SimCam, size, format)->Unit(benchmark::kMicrosecond);
    }
  return true;
}();

}  // namespace
}  // namespace ulmora
