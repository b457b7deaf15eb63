// ulmora-gui-bench: drawing a processed 1920x1080 picture into a 1280x720 window, as "Processing" does
// for every picture, next to a memcpy of the same frame. CPU time counts every thread of the process
// (Qt scales on a thread pool), so it stays meaningful on a loaded machine where real time does not.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "frames/dib_frame.h"
#include "gui/video_window.h"

namespace {

using ulmora::CDibFrame;
using ulmora::CFramePainter;

constexpr int kSrcW = 1920, kSrcH = 1080, kDstW = 1280, kDstH = 720;

// Fits a grey frame into a 1280x720 client through the frame's own fit, as the window does.
struct Fixture : ulmora::IWindow {
  CDibFrame frame;
  QImage target{kDstW, kDstH, QImage::Format_RGB32};  // what a window's backing store holds
  CFramePainter painter;
  Fixture() {
    frame.AllocFrame(kSrcW, kSrcH);
    frame.SetFlipV(false);
    uint32_t seed = 1;
    for (int32_t i = 0; i < frame.img.size; i += 3) {
      seed = seed * 1664525u + 1013904223u;
      std::memset(frame.img.bits + i, static_cast<int>(seed >> 24), 3);
    }
    frame.AttachWindow(this);
  }
  ~Fixture() override { frame.DetachWindow(); }
  void PostMsg(unsigned) override {}
  void GetClientSize(int& w, int& h) override { w = kDstW, h = kDstH; }
  void Invalidate(bool) override {}
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void Memcpy(benchmark::State& state) {
  const size_t n = static_cast<size_t>(kSrcW) * 3 * kSrcH;
  std::vector<uint8_t> a(n, 1), b(n);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), n);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void Paint(benchmark::State& state, bool grey, bool smooth, bool flip) {
  Fixture& f = Shared();
  f.frame.SetFlipV(flip);
  // The picture as the frame path hands it to the window.
  f.frame.shown.Publish(f.frame.img, grey);
  const ulmora::ShownPicture* picture = f.frame.shown.Take();
  for (auto _ : state) {
    QPainter p(&f.target);
    f.painter.Paint(p, picture, f.frame, kDstW, kDstH, smooth);
    p.end();
    benchmark::DoNotOptimize(f.target.constBits());
  }
  f.frame.SetFlipV(false);
}

void PaintFast(benchmark::State& s) { Paint(s, true, false, false); }
void PaintSmooth(benchmark::State& s) { Paint(s, true, true, false); }
void PaintFastFlipped(benchmark::State& s) { Paint(s, true, false, true); }
// A colour live frame: three bytes read per pixel.
void PaintFastColour(benchmark::State& s) { Paint(s, false, false, false); }
void PaintSmoothColour(benchmark::State& s) { Paint(s, false, true, false); }

BENCHMARK(Memcpy)->Name("Memcpy/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(PaintFast)->Name("PaintFast/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(PaintSmooth)->Name("PaintSmooth/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(PaintFastFlipped)->Name("PaintFastFlipped/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(PaintFastColour)->Name("PaintFastColour/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
// What the window did before: QPainter scaling a BGR888 / RGB888 image over the frame's bits.
void QtScaled(benchmark::State& state, QImage::Format format, bool smooth) {
  Fixture& f = Shared();
  const QImage src(f.frame.img.bits, kSrcW, kSrcH, f.frame.img.stride, format);
  for (auto _ : state) {
    QPainter p(&f.target);
    p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    p.drawImage(QRect(0, 0, kDstW, kDstH), src);
    p.end();
    benchmark::DoNotOptimize(f.target.constBits());
  }
}
void QtFastBGR888(benchmark::State& s) { QtScaled(s, QImage::Format_BGR888, false); }
void QtFastRGB888(benchmark::State& s) { QtScaled(s, QImage::Format_RGB888, false); }
void QtSmoothRGB888(benchmark::State& s) { QtScaled(s, QImage::Format_RGB888, true); }
BENCHMARK(QtFastBGR888)->Name("QtFastBGR888/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(QtFastRGB888)->Name("QtFastRGB888/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(QtSmoothRGB888)->Name("QtSmoothRGB888/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(PaintSmoothColour)->Name("PaintSmoothColour/1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
