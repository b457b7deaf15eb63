// Opening a short clip and playing it through: the file graph (build, run to the end, teardown) next to
// GStreamer alone playing the same file into a fakesink, as `gst-launch-1.0 filesrc ! decodebin !
// fakesink` does.
#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <cstdlib>
#include <string>

#include "bench_session.h"
#include "graph/cap_graph.h"
#include "gst/gst_ref.h"

namespace ulmora {
namespace {

constexpr int kFrames = 3;

// A YUY2 AVI of a few 1080p frames, made by ulmora-sample and removed at exit.
struct Clip {
  std::string dir, path;
  Clip() {
    char pattern[] = "/tmp/ulmora-bench-open-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir = pattern;
    const std::string file = dir + "/clip.avi";
    const std::string cmd = std::string(ULMORA_SAMPLE_EXE) + " -q -W 1920 -H 1080 -n " + std::to_string(kFrames) +
                            " -o '" + file + "'";
    if (std::system(cmd.c_str()) == 0) path = file;
  }
  ~Clip() {
    if (!path.empty()) unlink(path.c_str());
    if (!dir.empty()) rmdir(dir.c_str());
  }
};

const Clip& TheClip() {
  static const Clip clip;
  return clip;
}

void BM_GstPlayFile(benchmark::State& st) {
  const std::string& path = TheClip().path;
  if (path.empty() || !EnsureGstInit()) return st.SkipWithError("no clip");
  const std::string launch = "filesrc location=\"" + path + "\" ! decodebin ! fakesink";
  for (auto _ : st) {
    GstRef<GstElement> p = Adopt(gst_parse_launch(launch.c_str(), nullptr));
    if (!p) return st.SkipWithError("cannot make the pipeline");
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    GstRef<GstBus> bus = Adopt(gst_element_get_bus(p.get()));
    GstMessage* m = gst_bus_timed_pop_filtered(bus.get(), 20 * GST_SECOND,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ended = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m) gst_message_unref(m);
    gst_element_set_state(p.get(), GST_STATE_NULL);
    if (!ended) return st.SkipWithError("the clip did not play to its end");
  }
}

void BM_OpenFile(benchmark::State& st) {
  const std::string& path = TheClip().path;
  if (path.empty()) return st.SkipWithError("no clip");
  SessionSetup setup;
  setup.main.draws = setup.proc.draws = setup.live.draws = false;
  for (auto _ : st) {
    CCapGraph g;
    CSG& sg = g.Session();
    sg.Processor().SetWindows(&setup.main, &setup.proc);
    sg.FrLive().AttachWindow(&setup.live);
    sg.SetPacing(false);
    if (FAILED(g.BuildFileGraph(path.c_str()))) return st.SkipWithError("cannot build the file graph");
    const bool ended = SUCCEEDED(g.RunGraph()) && g.WaitGraphEvent(20000) == GraphEvent::kEndOfStream;
    g.DestroyGraph();
    sg.FrLive().DetachWindow();
    sg.FrProc().DetachWindow();
    if (!ended) return st.SkipWithError("the clip did not play to its end");
  }
}

const std::string kSize = "/1920x1080x" + std::to_string(kFrames);
const bool kRegistered = [] {
  benchmark::RegisterBenchmark(("GstPlayFile" + kSize).c_str(), BM_GstPlayFile)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("OpenFile" + kSize).c_str(), BM_OpenFile)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
}  // namespace ulmora
