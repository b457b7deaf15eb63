// A slider dragged over 40 values of a camera that takes 50 ms per control request: the time the GUI
// thread spends handing the 40 steps to the control worker, beside the time one step takes when the
// request is made on the GUI thread itself (counter direct_step_ms), and the requests the drag cost
// (counter requests_per_drag).
#include <benchmark/benchmark.h>

#include <linux/videodev2.h>

#include <chrono>
#include <string>

#include "devices/control_worker.h"
#include "devices/v4l2_node.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"

namespace ulmora {
namespace {

constexpr int kDragSteps = 40;

void BM_SliderDragOnASlowCamera(benchmark::State& state) {
  std::string error;
  if (!EnableSimCamera("controls,latency=50", &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  V4l2NodeRef node = OpenV4l2Node("sim:0", &error);
  if (!node) {
    state.SkipWithError(error.c_str());
    return;
  }
  // One step as the dialog made it before: the request on the GUI thread.
  v4l2_ext_control c{};
  c.id = V4L2_CID_GAIN;
  c.value = 5;
  v4l2_ext_controls cs{};
  cs.which = V4L2_CTRL_WHICH_CUR_VAL;
  cs.count = 1;
  cs.controls = &c;
  const auto t0 = std::chrono::steady_clock::now();
  node->Ioctl(VIDIOC_S_EXT_CTRLS, &cs);
  const double directMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();

  double requests = 0;
  {
    CControlWorker worker(node);
    for (auto _ : state) {
      const uint32_t before = SimControlWrites(0);
      for (int v = 1; v <= kDragSteps; ++v) worker.Set(V4L2_CID_GAIN, 10 + v);
      state.PauseTiming();
      worker.Drain();
      requests += SimControlWrites(0) - before;
      worker.TakeOutcomes();
      state.ResumeTiming();
    }
  }
  state.counters["direct_step_ms"] = directMs;
  state.counters["requests_per_drag"] = requests / static_cast<double>(state.iterations());
  DisableSimCamera();
}
BENCHMARK(BM_SliderDragOnASlowCamera)->Iterations(10)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ulmora
