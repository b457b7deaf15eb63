// The live capture graph on the simulated camera, through real pipelines: both build attempts, the
// subtype order, converters and decoders in automatic mode, missing, remembered-but-gone and busy
// devices, a camera unplugged during a capture run, inputs and remembered controls.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "devices/cap_state.h"
#include "devices/controls_store.h"
#include "devices/device_list.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"
#include "graph/tests/graph_fixture.h"
#include "settings/profile_keys.h"

namespace ulmora::test {
namespace {

constexpr const char* kNoDevice =
    "No video capture device was detected on your system.\r\n\r\nThis sample requires a functional video capture "
    "device, such\r\nas a USB web camera.  Video capture will be disabled.";
constexpr const char* kBusy = "Can't build the graph, capture device busy?..";

// Mean of every byte of the last sample, and how many samples came.
struct MeanProbe {
  CSG* session = nullptr;
  std::atomic<int> calls{0};
  std::atomic<double> mean{0.0};
  static int Thunk(void* self, double t, const Sample* s) {
    auto* p = static_cast<MeanProbe*>(self);
    if (s && s->data && s->length > 0) {
      uint64_t sum = 0;
      for (int32_t i = 0; i < s->length; ++i) sum += s->data[i];
      p->mean.store(static_cast<double>(sum) / s->length);
    }
    ++p->calls;
    return p->session->SampleCB(t, s);
  }
};

class LiveGraphTest : public GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    graph = std::make_unique<CCapGraph>();
    graph->Session().Processor().SetWindows(&window, &window);
    devices = std::make_unique<CDeviceList>(Hooks());
    graph->SetDeviceList(devices.get());
  }
  // The device list over this fixture's graph, as the program hooks it to its live graph.
  DeviceListHooks Hooks() {
    DeviceListHooks hooks;
    hooks.buildCaptureGraph = [this] { return graph->BuildCaptureGraph(); };
    hooks.stopGraph = [this] { return SUCCEEDED(graph->StopGraph()); };
    hooks.runGraph = [this] { return SUCCEEDED(graph->RunGraph()); };
    hooks.warning = [](const char* text) { GraphWarning(text); };
    return hooks;
  }
  void TearDown() override {
    ClearLiveGraphEntries();
    graph.reset();
    devices.reset();
    DisableSimCamera();
    GraphTest::TearDown();
  }
  void Enable(const char* setup) {
    std::string error;
    ASSERT_TRUE(EnableSimCamera(setup, &error)) << error;
  }
  bool HasElement(const char* factory) const {
    bool found = false;
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(graph->Pipeline()));
    GValue v = G_VALUE_INIT;
    while (gst_iterator_next(it, &v) == GST_ITERATOR_OK) {
      GstElementFactory* f = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&v)));
      found = found || (f && std::string(gst_plugin_feature_get_name(f)) == factory);
      g_value_unset(&v);
    }
    gst_iterator_free(it);
    return found;
  }
  // Runs until n more samples came (bounded).
  bool WaitSamples(MeanProbe& probe, int n, int timeoutMs = 10000) {
    const int target = probe.calls.load() + n;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (probe.calls.load() < target && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return probe.calls.load() >= target;
  }
  std::string LastStatus(int field) const {
    std::string s;
    for (const auto& [f, text] : ui.status)
      if (f == field) s = text;
    return s;
  }

  CountingWindow window;
  std::unique_ptr<CCapGraph> graph;
  std::unique_ptr<CDeviceList> devices;
};

TEST_F(LiveGraphTest, AutomaticModeTakesYuy2BeforeBgrAndLogsTheBuild) {
  Enable("formats=bgr|yuy2");
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  CSG& sg = graph->Session();
  EXPECT_EQ(sg.Format().fccSubtype, kFourccYUY2);
  EXPECT_EQ(sg.Modes().bLiveSource, 1);
  EXPECT_EQ(sg.Format().nVideoWidth, 640);
  EXPECT_DOUBLE_EQ(sg.GetFrameRate(), 30.0);
  EXPECT_EQ(graph->RunState(), kRunStopped);
  EXPECT_FALSE(HasElement("videoconvert"));
  for (const char* line : {"\tBuild capture filter graph", "Found media type: MEDIASUBTYPE_YUY2", "DumpGraph [",
                           "Filter [", "Out Video Format", "FPS=30.00"})
    EXPECT_TRUE(log.Contains(line)) << line;
  EXPECT_EQ(LastStatus(0), "Ulmora Simulated Camera");
  EXPECT_EQ(LastStatus(1), "Previewing Video");
  // The capture filter carries the device's name; g_Cap borrows it.
  GstRef<GstElement> cap = Adopt(gst_bin_get_by_name(GST_BIN(graph->Pipeline()), "Ulmora Simulated Camera"));
  ASSERT_TRUE(cap);
  EXPECT_EQ(g_Cap.pVCap, cap.get());
  EXPECT_EQ(g_Cap.szDevicePath, "sim:0");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(LiveGraphTest, ActivateGraphRunsTheGraphAsSoonAsItIsBuilt) {
  Enable("1");
  ProfileSetOverride(kSectionNocta, "ActivateGraph", "1");
  graph = std::make_unique<CCapGraph>();
  graph->SetDeviceList(devices.get());
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  EXPECT_EQ(graph->RunState(), kRunRunning);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (graph->Grabber()->FramesDelivered() < 3 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(graph->Grabber()->FramesDelivered(), 3u);
}

TEST_F(LiveGraphTest, ABgrCameraConnectsOnTheSecondSubtypeInBothModes) {
  Enable("formats=bgr");
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  EXPECT_EQ(graph->Session().Format().fccSubtype, 0u);
  EXPECT_FALSE(HasElement("videoconvert"));
  EXPECT_TRUE(log.Contains("Found media type: MEDIASUBTYPE_RGB24"));

  // Pin by pin: step 1 does not connect, step 2 does.
  ClearLiveGraphEntries();
  graph->DestroyGraph();
  graph->bAutoRender = 0;
  ASSERT_TRUE(SUCCEEDED(graph->MakeCaptureGraph()));
  EXPECT_TRUE(log.Contains("Can`t connect to media type: MEDIASUBTYPE_YUY2"));
  EXPECT_EQ(graph->Session().Format().fccSubtype, 0u);
}

TEST_F(LiveGraphTest, TheFormatChosenInTheSourceDialogIsTheOneUsed) {
  Enable("formats=yuy2|bgr");
  FrameFormatChoice choice;
  choice.nFourcc = V4L2_PIX_FMT_BGR24;
  choice.nWidth = 640;
  choice.nHeight = 480;
  choice.dFrameRate = 30.0;
  ASSERT_TRUE(RememberFrameFormat("sim:0", choice));
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  EXPECT_EQ(graph->Session().Format().fccSubtype, 0u);
  EXPECT_FALSE(HasElement("videoconvert"));
}

TEST_F(LiveGraphTest, AutomaticModeConvertsI420AndDecodesMjpegButManualModeDoesNot) {
  for (const char* setup : {"formats=i420", "formats=mjpeg"}) {
    SCOPED_TRACE(setup);
    Enable(setup);
    // A fresh list, so the camera set up now is chosen and built again.
    devices.reset();
    devices = std::make_unique<CDeviceList>(Hooks());
    graph->SetDeviceList(devices.get());
    devices->Restore();
    ASSERT_TRUE(graph->HasGraph());
    EXPECT_EQ(graph->Session().Format().fccSubtype, kFourccYUY2);
    EXPECT_TRUE(HasElement("videoconvert"));
    MeanProbe probe;
    probe.session = &graph->Session();
    graph->Grabber()->SetCallback(&MeanProbe::Thunk, &probe);
    ASSERT_TRUE(SUCCEEDED(graph->RunGraph()));
    EXPECT_TRUE(WaitSamples(probe, 5));
    EXPECT_GT(probe.mean.load(), 1.0);  // a picture, not a black buffer
    EXPECT_EQ(graph->HandleGraphNotify(0), GraphEvent::kNone);
    graph->StopGraph();

    ClearLiveGraphEntries();
    graph->DestroyGraph();
    graph->bAutoRender = 0;
    EXPECT_TRUE(FAILED(graph->MakeCaptureGraph()));
    EXPECT_TRUE(log.Contains("Could not connect to filter pins (1)"));
    ClearLiveGraphEntries();
    graph->DestroyGraph();
  }
}

TEST_F(LiveGraphTest, NoDeviceAtAllWarnsTwiceThenGivesUp) {
  EXPECT_TRUE(FAILED(graph->BuildCaptureGraph()));
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[0].first, kNoDevice);
  EXPECT_EQ(ui.boxes[1].first, kNoDevice);
  EXPECT_EQ(ui.boxes[2].first, kBusy);
  EXPECT_EQ(ui.boxes[2].second, "Warning...");
  EXPECT_FALSE(graph->HasGraph());
  EXPECT_EQ(graph->bTouchGraph, 0);  // the second attempt ran
}

TEST_F(LiveGraphTest, ABusyDeviceFailsBothAttempts) {
  Enable("busy");
  devices->Restore();
  EXPECT_FALSE(graph->HasGraph());
  ASSERT_FALSE(ui.boxes.empty());
  EXPECT_EQ(ui.boxes.back().first, kBusy);
  EXPECT_TRUE(log.Contains("Device 'sim:0' is busy"));
  EXPECT_TRUE(log.Contains("find Media Type step 1"));  // the manual attempt
  EXPECT_EQ(devices->Menu().Entries().size(), 1u);      // the device is listed but not current
  EXPECT_FALSE(devices->Menu().Entries()[0].checked && !devices->CurrentIdentity().empty());
}

TEST_F(LiveGraphTest, AGoneDeviceFallsBackToTheFirstListedOne) {
  Enable("count=2");
  ProfileWriteText(ProfileKey::VideoDevice2, "sim:1");
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  EXPECT_EQ(LastStatus(0), "Ulmora Simulated Camera #2");
  // The chosen camera vanishes; building again binds the first one that is listed.
  Enable("count=1");
  EXPECT_TRUE(SUCCEEDED(graph->BuildCaptureGraph()));
  EXPECT_EQ(LastStatus(0), "Ulmora Simulated Camera");
  EXPECT_EQ(g_Cap.szDevicePath, "sim:0");
  EXPECT_TRUE(log.Contains("Cannot identify device 'sim:1'"));
}

TEST_F(LiveGraphTest, UnpluggedDuringACaptureRunKeepsEveryFinishedFile) {
  Enable("unplug-after=1.5");
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  ASSERT_TRUE(SUCCEEDED(graph->SetGraphNotifyWindow(&window)));
  CSG& sg = graph->Session();
  sg.SetCapCount(100000);
  sg.StartCapture(1);
  ASSERT_TRUE(SUCCEEDED(graph->RunGraph()));
  GraphEvent ev = GraphEvent::kNone;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (ev == GraphEvent::kNone && std::chrono::steady_clock::now() < end) ev = graph->HandleGraphNotify(100);
  ASSERT_EQ(ev, GraphEvent::kError);
  EXPECT_GE(window.graphNotify.load(), 1);
  EXPECT_EQ(graph->RunState(), kRunStopped);
  EXPECT_EQ(sg.Capture().bCapture.load(), 0);
  ASSERT_FALSE(ui.boxes.empty());
  EXPECT_EQ(ui.boxes.back().first, "The capture device stopped sending pictures: it was unplugged or switched off.");
  EXPECT_TRUE(log.Contains("poll error 1: No such device"));

  // Every file is whole: header plus 640 x 480 rows of three bytes.
  int files = 0;
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() < 4 || name.substr(name.size() - 4) != ".bmp") continue;
    struct stat st {};
    ASSERT_EQ(stat((dir + "/" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 54 + 640 * 480 * 3) << name;
    ++files;
  }
  closedir(d);
  EXPECT_GT(files, 0);
  EXPECT_EQ(static_cast<uint32_t>(files), sg.Capture().nCaptured.load());
}

TEST_F(LiveGraphTest, ChoosingAnInputChangesThePicture) {
  Enable("inputs=3");
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  ASSERT_TRUE(g_Cap.pCrossbar);
  EXPECT_EQ(g_Cap.nVideoInputs, 3);
  const CDevMenu& menu = devices->Menu();
  ASSERT_GE(menu.iVideoInputMenuPos, 0);
  MeanProbe probe;
  probe.session = &graph->Session();
  graph->Grabber()->SetCallback(&MeanProbe::Thunk, &probe);
  ASSERT_TRUE(SUCCEEDED(graph->RunGraph()));
  ASSERT_TRUE(WaitSamples(probe, 3));
  const double before = probe.mean.load();
  const int current = SimGetInput(0);
  const int other = (current + 1) % 3;
  const SourcesCommand cmd = devices->MenuCommand(kDevMenuSourcesFirst + menu.iVideoInputMenuPos + 1 + other);
  EXPECT_EQ(cmd.action, SourcesAction::kVideoInput);
  EXPECT_EQ(SimGetInput(0), other);
  ASSERT_TRUE(WaitSamples(probe, 3));
  EXPECT_GT(std::abs(probe.mean.load() - before), 0.5);
  graph->StopGraph();
}

// Drivers refuse a standard while buffers exist and reset the size to the standard's lines: the
// remembered one is set before the device is opened for streaming, and the graph takes its size.
TEST_F(LiveGraphTest, ARememberedStandardGivesTheGraphItsLinesAndRate) {
  Enable("analog,inputs=2");
  ASSERT_TRUE(RememberStandard("sim:0", V4L2_STD_NTSC));
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  EXPECT_TRUE(SimStandard(0) & V4L2_STD_NTSC);
  CSG& sg = graph->Session();
  EXPECT_EQ(sg.Format().nVideoWidth, 720);
  EXPECT_EQ(sg.Format().nVideoHeight, 480);
  EXPECT_NEAR(sg.GetFrameRate(), 29.97, 0.01);
  MeanProbe probe;
  probe.session = &sg;
  graph->Grabber()->SetCallback(&MeanProbe::Thunk, &probe);
  ASSERT_TRUE(SUCCEEDED(graph->RunGraph()));
  EXPECT_TRUE(WaitSamples(probe, 3));
  graph->StopGraph();
}

// An astronomy camera's 16-bit grey reaches the chain as 8-bit grey, its high byte: the same picture
// as the camera sends in YUY2 (the simulated camera's low byte is a fixed 0xA5).
TEST_F(LiveGraphTest, SixteenBitGreyReachesTheChainAsItsHighByte) {
  double means[2] = {-1, -1};
  const char* setups[2] = {"320x240@15,formats=yuy2", "320x240@15,formats=y16"};
  for (int i = 0; i < 2; ++i) {
    Enable(setups[i]);
    devices = std::make_unique<CDeviceList>(Hooks());
    graph->SetDeviceList(devices.get());
    devices->Restore();
    ASSERT_TRUE(graph->HasGraph()) << setups[i];
    MeanProbe probe;
    probe.session = &graph->Session();
    graph->Grabber()->SetCallback(&MeanProbe::Thunk, &probe);
    ASSERT_TRUE(SUCCEEDED(graph->RunGraph()));
    ASSERT_TRUE(WaitSamples(probe, 5));
    means[i] = probe.mean.load();
    graph->StopGraph();
  }
  EXPECT_NEAR(means[1], means[0], 0.05);
}

TEST_F(LiveGraphTest, ControlsSetOnADeviceComeBackWhenItIsChosen) {
  Enable("controls,count=2");
  v4l2_query_ext_ctrl q{};
  ASSERT_TRUE(SimQueryControl(1, 0, &q));
  const int64_t value = q.default_value != q.maximum ? q.maximum : q.minimum;
  ASSERT_TRUE(RememberControl("sim:1", q.id, value));
  ProfileWriteText(ProfileKey::VideoDevice2, "sim:1");
  devices->Restore();
  ASSERT_TRUE(graph->HasGraph());
  int64_t now = 0;
  ASSERT_TRUE(SimGetControl(1, q.id, &now));
  EXPECT_EQ(now, value);
  ASSERT_TRUE(SimGetControl(0, q.id, &now));
  EXPECT_EQ(now, q.default_value);  // remembered per device
}

}  // namespace
}  // namespace ulmora::test
