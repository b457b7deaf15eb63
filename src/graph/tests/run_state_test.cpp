// Run, pause and stop follow the state table; stop rewinds and cues the first frame; teardown.
#include <algorithm>
#include <thread>

#include "simcam/lowlight_scene.h"
#include "graph/tests/graph_fixture.h"

namespace ulmora::test {
namespace {

class RunStateTest : public GraphTest {
 protected:
  void Build(int frames = 20) {
    clip = MakeClip(dir, "clip.avi", "-W 64 -H 48 -r 25 -n " + std::to_string(frames));
    ASSERT_FALSE(clip.empty());
    ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
    g.Session().Processor().SetWindows(&win, &win);
    rec.Attach(g);
  }
  // The recorder and the window outlive the graph that calls them.
  std::string clip;
  CountingWindow win;
  SampleRecorder rec;
  CCapGraph g;
};

TEST_F(RunStateTest, WithoutAGraphEveryCommandIsUnexpected) {
  CCapGraph empty;
  EXPECT_EQ(empty.RunGraph(), E_UNEXPECTED);
  EXPECT_EQ(empty.PauseGraph(), E_UNEXPECTED);
  EXPECT_EQ(empty.StopGraph(), E_UNEXPECTED);
  EXPECT_EQ(empty.SetGraphNotifyWindow(&win), E_UNEXPECTED);
  EXPECT_EQ(empty.RunState(), kRunStopped);
  empty.DestroyGraph();  // only clears the media type
  EXPECT_FALSE(empty.HasGraph());
  EXPECT_EQ(empty.Session().Format().mtConnected.formattype, GUID_NULL);
}

TEST_F(RunStateTest, StateTableTransitions) {
  Build();
  EXPECT_EQ(g.PauseGraph(), S_FALSE);  // a stopped graph is not paused
  EXPECT_EQ(g.RunState(), kRunStopped);
  EXPECT_EQ(g.StopGraph(), S_FALSE);
  EXPECT_EQ(g.RunState(), kRunStopped);
  EXPECT_EQ(g.RunGraph(), S_OK);
  EXPECT_EQ(g.RunState(), kRunRunning);
  EXPECT_EQ(g.RunGraph(), S_FALSE);
  EXPECT_EQ(g.PauseGraph(), S_OK);
  EXPECT_EQ(g.RunState(), kRunPaused);
  EXPECT_EQ(g.PauseGraph(), S_OK);  // toggles back
  EXPECT_EQ(g.RunState(), kRunRunning);
  EXPECT_EQ(g.PauseGraph(), S_OK);
  EXPECT_EQ(g.RunGraph(), S_OK);  // from paused: stop, reset, run
  EXPECT_EQ(g.RunState(), kRunRunning);
  EXPECT_EQ(g.StopGraph(), S_OK);
  EXPECT_EQ(g.RunState(), kRunStopped);
  EXPECT_EQ(g.StopGraph(), S_FALSE);
}

TEST_F(RunStateTest, StopRewindsAndCuesTheFirstFrameAndRunPlaysAllAgain) {
  Build(16);
  g.Session().SetPacing(true);  // 25 fps: the run lasts long enough to stop it part way
  ASSERT_EQ(g.RunGraph(), S_OK);
  for (int i = 0; i < 200 && rec.calls.load() < 4; ++i) g_usleep(5000);
  ASSERT_GE(rec.calls.load(), 4);
  rec.Clear();
  ASSERT_EQ(g.StopGraph(), S_OK);
  // The stopped graph shows its first frame again.
  const auto cued = rec.Times();
  ASSERT_FALSE(cued.empty());
  EXPECT_DOUBLE_EQ(cued.back(), 0.0);
  gint64 pos = -1;
  ASSERT_TRUE(gst_element_query_position(g.Pipeline(), GST_FORMAT_TIME, &pos));
  EXPECT_EQ(pos, 0);
  // The live frame is the clip's first picture again.
  SceneParams sp;
  sp.nWidth = 64;
  sp.nHeight = 48;
  const LowLightScene scene(sp);
  std::vector<uint8_t> luma(64 * 48);
  scene.RenderLuma(0, luma.data(), 64);
  const CImageBuf& live = g.Session().FrLive().img;
  ASSERT_EQ(live.width, 64);
  ASSERT_EQ(live.height, 48);
  int differing = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      if (live.bits[y * live.stride + 3 * x] != luma[y * 64 + x]) ++differing;
  EXPECT_EQ(differing, 0);

  g.Session().SetPacing(false);
  rec.Clear();
  ASSERT_EQ(g.RunGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  const auto times = rec.Times();
  ASSERT_EQ(times.size(), 16u);  // a clip of N frames yields N calls per run
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GT(times[i], times[i - 1]);
  EXPECT_DOUBLE_EQ(times.front(), 0.0);
}

// The frame cued at build time is delivered again when the run starts, without reading the file anew.
TEST_F(RunStateTest, FirstRunDeliversTheCuedFrameWithoutReadingItTwice) {
  Build(6);
  g.Session().SetPacing(false);
  GstRef<GstElement> decoder = Adopt(gst_bin_get_by_name(GST_BIN(g.Pipeline()), "Decoder"));
  ASSERT_TRUE(decoder);
  GstRef<GstPad> out = Adopt(gst_element_get_static_pad(decoder.get(), "src_0"));
  ASSERT_TRUE(out);
  std::atomic<int> decoded{0};
  gst_pad_add_probe(
      out.get(), GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer n) {
        CallbackScope scope;  // the counter was made before GStreamer's threads saw it
        static_cast<std::atomic<int>*>(n)->fetch_add(1);
        return GST_PAD_PROBE_OK;
      },
      &decoded, nullptr);
  rec.Clear();
  ASSERT_EQ(g.RunGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  const auto times = rec.Times();
  ASSERT_EQ(times.size(), 6u);
  EXPECT_DOUBLE_EQ(times.front(), 0.0);
  EXPECT_EQ(decoded.load(), 5);  // the first frame came through at build time
}

TEST_F(RunStateTest, PausedGraphDeliversNothingUntilResumed) {
  Build(40);
  g.Session().SetPacing(true);
  ASSERT_EQ(g.RunGraph(), S_OK);
  for (int i = 0; i < 200 && rec.calls.load() < 2; ++i) g_usleep(5000);
  ASSERT_EQ(g.PauseGraph(), S_OK);
  g_usleep(100000);
  const int atPause = rec.calls.load();
  g_usleep(200000);  // 5 frame periods
  EXPECT_LE(rec.calls.load(), atPause + 1);
  g.Session().SetPacing(false);
  ASSERT_EQ(g.PauseGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  EXPECT_EQ(rec.Times().back(), 39 / 25.0);
}

TEST_F(RunStateTest, NotifyWindowGetsGraphEvents) {
  Build(5);
  ASSERT_EQ(g.SetGraphNotifyWindow(&win), S_OK);
  g.Session().SetPacing(false);
  ASSERT_EQ(g.RunGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  EXPECT_GT(win.graphNotify.load(), 0);
}

TEST_F(RunStateTest, DestroyStopsFramesAndEmptiesTheObject) {
  Build(200);
  g.Session().SetPacing(true);
  ASSERT_EQ(g.RunGraph(), S_OK);
  for (int i = 0; i < 200 && rec.calls.load() < 2; ++i) g_usleep(5000);
  g.DestroyGraph();
  const int after = rec.calls.load();
  g_usleep(100000);
  EXPECT_EQ(rec.calls.load(), after);
  EXPECT_FALSE(g.HasGraph());
  EXPECT_EQ(g.Grabber(), nullptr);
  EXPECT_EQ(g.RunState(), kRunStopped);
  EXPECT_EQ(g.Session().Format().mtConnected.formattype, GUID_NULL);
  EXPECT_EQ(g.RunGraph(), E_UNEXPECTED);
  // The object can build again.
  ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
}

TEST_F(RunStateTest, OnlyTheActiveInstanceWritesItsKeys) {
  const std::string ini = dir + "/profile.ini";
  {
    CCapGraph a;
    a.bTouchGraph = 0;
  }
  EXPECT_EQ(ReadFile(ini).find("TouchGraph"), std::string::npos);
  {
    CCapGraph a;
    a.SetActive(true);
    a.bTouchGraph = 0;
    a.bActivateGraph = 1;
  }
  const std::string text = ReadFile(ini);
  EXPECT_NE(text.find("TouchGraph=0"), std::string::npos) << text;
  EXPECT_NE(text.find("ActivateGraph=1"), std::string::npos) << text;
  CCapGraph b;
  EXPECT_EQ(b.bTouchGraph, 0);
  EXPECT_EQ(b.bActivateGraph, 1);
}

// Replaying, pausing, changing settings and toggling banding removal while the machine is busy: a
// running graph never goes quiet. The GUI's own loop is played here: ends of stream stop and rewind.
TEST_F(RunStateTest, ARunningGraphNeverStallsWhateverTheCommands) {
  Build(30);
  g.Session().SetPacing(true);
  std::atomic<bool> stop{false};
  std::vector<std::thread> load;
  // One core kept busy: the other tests running beside this one load the machine further.
  for (int i = 0; i < 1; ++i)
    load.emplace_back([&stop] {
      volatile uint64_t x = 0;
      while (!stop.load(std::memory_order_relaxed)) x = x + 1;
    });
  CFrameProcessor& p = g.Session().Processor();
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) { return (seed = seed * 1103515245u + 12345u) / 65536u % n; };
  int lastCalls = rec.calls.load();
  auto lastFrame = std::chrono::steady_clock::now();
  int64_t worstMs = 0;
  const auto end = lastFrame + std::chrono::seconds(4);
  ASSERT_EQ(g.RunGraph(), S_OK);
  while (std::chrono::steady_clock::now() < end) {
    if (g.HandleGraphNotify(5) == GraphEvent::kEndOfStream && g.RunState() != kRunStopped) g.StopGraph();
    switch (next(40)) {
      case 0: g.PauseGraph(); break;
      case 1: g.RunGraph(); break;
      case 2: p.SetNRH(next(2) == 0); p.SetNRV(next(2) == 0); break;
      case 3: p.SetAmp(1 + static_cast<int32_t>(next(128))); break;
      case 4: p.SetCountAccum(1 + static_cast<int32_t>(next(8))); break;
      default: break;
    }
    // A stopped or paused graph may rest; a running one must deliver within a second.
    if (g.RunState() == kRunStopped) g.RunGraph();
    const auto now = std::chrono::steady_clock::now();
    const int calls = rec.calls.load();
    if (calls != lastCalls || g.RunState() != kRunRunning) {
      lastCalls = calls;
      lastFrame = now;
    }
    worstMs = std::max<int64_t>(worstMs, std::chrono::duration_cast<std::chrono::milliseconds>(now - lastFrame).count());
    if (worstMs > 3000) break;
  }
  stop.store(true);
  for (std::thread& t : load) t.join();
  EXPECT_LT(worstMs, 3000) << "a running graph delivered nothing for " << worstMs << " ms";
  EXPECT_GT(rec.calls.load(), 30);
  g.DestroyGraph();
}

}  // namespace
}  // namespace ulmora::test
