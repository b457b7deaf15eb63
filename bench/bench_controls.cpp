// A slider dragged over 40 values of a camera that takes 50 ms per control request: the time the GUI
// thread spends handing the 40 steps to the control worker, beside the time one step takes when the
// request is made on the GUI thread itself (counter direct_step_ms), and the requests the drag cost
// (counter requests_per_drag).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "devices/control_worker.h"
#include "devices/controls_dialogs.h"
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
  // The camera's Gain, found by name as the dialog lists it.
  std::unique_ptr<CDeviceDialogs> dialogs = CDeviceDialogs::Open("sim:0", &error);
  uint32_t gain = 0;
  std::vector<ControlGroupDescription> groups;
  if (dialogs) dialogs->DescribeControls(&groups, &error);
  for (const ControlGroupDescription& g : groups)
    for (const ControlDescription& c : g.controls)
      if (c.name == "Gain") gain = c.nId;
  if (!gain) {
    state.SkipWithError("the simulated camera lists no Gain control");
    return;
  }
  // One step as the dialog made it before: the request on the GUI thread.
  const auto t0 = std::chrono::steady_clock::now();
  dialogs->SetControl(gain, 5, &error);
  const double directMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();

  double requests = 0;
  {
    CControlWorker worker(node);
    for (auto _ : state) {
      const uint32_t before = SimControlWrites(0);
      for (int v = 1; v <= kDragSteps; ++v) worker.Set(gain, 10 + v);
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
