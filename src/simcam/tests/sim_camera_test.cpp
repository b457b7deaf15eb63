#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/handover_notes.h"
#include "devices/v4l2_node.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"

namespace ulmora {
namespace {

struct Pipeline {
  GstElement* p = nullptr;
  explicit Pipeline(const std::string& desc) {
    GError* err = nullptr;
    p = gst_parse_launch(desc.c_str(), &err);
    if (err) {
      ADD_FAILURE() << desc << ": " << err->message;
      g_error_free(err);
    }
  }
  ~Pipeline() {
    if (!p) return;
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
  }
  GstElement* Get(const char* name) const { return gst_bin_get_by_name(GST_BIN(p), name); }  // caller unrefs
  // Next ERROR on the bus within the time, or null.
  GstMessage* WaitError(GstClockTime timeout) const {
    GstBus* bus = gst_element_get_bus(p);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, timeout, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    return m;
  }
};

struct Monitor {
  GstDeviceMonitor* m = gst_device_monitor_new();
  GstBus* bus = nullptr;
  Monitor() {
    gst_device_monitor_add_filter(m, "Video/Source", nullptr);
    bus = gst_device_monitor_get_bus(m);
    EXPECT_TRUE(gst_device_monitor_start(m));
    gst_bus_set_flushing(bus, TRUE);  // only what happens from now on
    gst_bus_set_flushing(bus, FALSE);
  }
  ~Monitor() {
    gst_device_monitor_stop(m);
    gst_object_unref(bus);
    gst_object_unref(m);
  }
  std::vector<std::string> SimNames() const {
    std::vector<std::string> names;
    GList* list = gst_device_monitor_get_devices(m);
    for (GList* l = list; l; l = l->next) {
      GstDevice* d = GST_DEVICE(l->data);
      GstStructure* props = gst_device_get_properties(d);
      if (props && g_strcmp0(gst_structure_get_string(props, "api"), "sim") == 0) {
        gchar* name = gst_device_get_display_name(d);
        names.push_back(std::string(name) + "|" + gst_structure_get_string(props, "device.path"));
        g_free(name);
      }
      if (props) gst_structure_free(props);
    }
    g_list_free_full(list, gst_object_unref);
    return names;
  }
  // Waits for an added or removed message of a simulated device; returns "added|NAME|PATH" or "".
  std::string Next(GstClockTime timeout) const {
    const GstClockTime end = gst_util_get_timestamp() + timeout;
    while (true) {
      const GstClockTime now = gst_util_get_timestamp();
      if (now >= end) return "";
      GstMessage* msg = gst_bus_timed_pop_filtered(
          bus, end - now, static_cast<GstMessageType>(GST_MESSAGE_DEVICE_ADDED | GST_MESSAGE_DEVICE_REMOVED));
      if (!msg) return "";
      GstDevice* d = nullptr;
      const bool added = GST_MESSAGE_TYPE(msg) == GST_MESSAGE_DEVICE_ADDED;
      if (added) gst_message_parse_device_added(msg, &d);
      else gst_message_parse_device_removed(msg, &d);
      GstStructure* props = gst_device_get_properties(d);
      std::string text;
      if (props && g_strcmp0(gst_structure_get_string(props, "api"), "sim") == 0) {
        gchar* name = gst_device_get_display_name(d);
        text = std::string(added ? "added|" : "removed|") + name + "|" + gst_structure_get_string(props, "device.path");
        g_free(name);
      }
      if (props) gst_structure_free(props);
      gst_object_unref(d);
      gst_message_unref(msg);
      if (!text.empty()) return text;
    }
  }
};

void Enable(const char* setup) {
  std::string error;
  ASSERT_TRUE(EnableSimCamera(setup, &error)) << error;
}

// Pulls n samples from the appsink "out" of a playing pipeline.
std::vector<GstSample*> Pull(const Pipeline& pipe, int n) {
  std::vector<GstSample*> samples;
  GstElement* sink = pipe.Get("out");
  for (int i = 0; i < n; ++i) {
    GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
    if (!s) break;
    NoteStreamingSettled();  // the sample's bits were written on the camera's thread
    samples.push_back(s);
  }
  gst_object_unref(sink);
  return samples;
}

double MeanOfEvenBytes(GstSample* sample) {  // the luma of a YUY2 frame
  GstMapInfo map;
  GstBuffer* b = gst_sample_get_buffer(sample);
  EXPECT_TRUE(gst_buffer_map(b, &map, GST_MAP_READ));
  double sum = 0;
  for (gsize i = 0; i < map.size; i += 2) sum += map.data[i];
  gst_buffer_unmap(b, &map);
  return sum / (map.size / 2);
}

TEST(SimCamera, NothingListedWhenOff) {
  gst_init(nullptr, nullptr);
  DisableSimCamera();
  Monitor mon;
  EXPECT_TRUE(mon.SimNames().empty());
  EXPECT_EQ(SimDeviceCount(), 0);
}

TEST(SimCamera, ListsCountDevicesThatMakeTheirElement) {
  Enable("count=3");
  Monitor mon;
  const std::vector<std::string> names = mon.SimNames();
  ASSERT_EQ(names.size(), 3u);
  EXPECT_NE(std::find(names.begin(), names.end(), "Ulmora Simulated Camera|sim:0"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Ulmora Simulated Camera #3|sim:2"), names.end());
  GList* list = gst_device_monitor_get_devices(mon.m);
  for (GList* l = list; l; l = l->next) {
    GstStructure* props = gst_device_get_properties(GST_DEVICE(l->data));
    if (g_strcmp0(gst_structure_get_string(props, "api"), "sim") == 0) {
      EXPECT_TRUE(gst_device_has_classes(GST_DEVICE(l->data), "Video/Source"));
      GstElement* e = gst_device_create_element(GST_DEVICE(l->data), nullptr);
      ASSERT_NE(e, nullptr);
      gchar* path = nullptr;
      g_object_get(e, "device", &path, nullptr);
      EXPECT_STREQ(path, gst_structure_get_string(props, "device.path"));
      g_free(path);
      gst_object_unref(e);
    }
    gst_structure_free(props);
  }
  g_list_free_full(list, gst_object_unref);
}

TEST(SimCamera, EveryFormatNegotiatesInSpecOrder) {
  Enable("320x240@30,formats=yuy2|bgr|i420|mjpeg");
  {  // a converter downstream takes the first format offered
    Pipeline pipe("ulmorasimsrc ! videoconvert ! video/x-raw,format=GRAY8 ! appsink name=out");
    ASSERT_NE(gst_element_set_state(pipe.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    auto s = Pull(pipe, 1);
    ASSERT_EQ(s.size(), 1u);
    gst_sample_unref(s[0]);
    GstIterator* it = gst_bin_iterate_sources(GST_BIN(pipe.p));
    GValue v = G_VALUE_INIT;
    ASSERT_EQ(gst_iterator_next(it, &v), GST_ITERATOR_OK);
    GstPad* pad = gst_element_get_static_pad(GST_ELEMENT(g_value_get_object(&v)), "src");
    GstCaps* caps = gst_pad_get_current_caps(pad);
    EXPECT_STREQ(gst_structure_get_string(gst_caps_get_structure(caps, 0), "format"), "YUY2");
    gst_caps_unref(caps);
    gst_object_unref(pad);
    g_value_unset(&v);
    gst_iterator_free(it);
  }
  const char* const formats[][2] = {
      {"video/x-raw,format=YUY2", "YUY2"}, {"video/x-raw,format=BGR", "BGR"}, {"video/x-raw,format=I420", "I420"}};
  for (const auto& f : formats) {
    Pipeline pipe(std::string("ulmorasimsrc ! ") + f[0] + " ! appsink name=out");
    ASSERT_NE(gst_element_set_state(pipe.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    auto s = Pull(pipe, 2);
    ASSERT_EQ(s.size(), 2u) << f[1];
    GstStructure* st = gst_caps_get_structure(gst_sample_get_caps(s[0]), 0);
    EXPECT_STREQ(gst_structure_get_string(st, "format"), f[1]);
    for (GstSample* x : s) gst_sample_unref(x);
  }
  // MJPEG: real JPEG pictures that a decoder turns back into the scene
  Pipeline pipe("ulmorasimsrc ! image/jpeg ! tee name=t ! queue ! appsink name=out "
                "t. ! queue ! jpegdec ! videoconvert ! video/x-raw,format=GRAY8 ! appsink name=dec");
  ASSERT_NE(gst_element_set_state(pipe.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  auto s = Pull(pipe, 2);
  ASSERT_EQ(s.size(), 2u);
  GstMapInfo map;
  GstBuffer* b = gst_sample_get_buffer(s[0]);
  ASSERT_TRUE(gst_buffer_map(b, &map, GST_MAP_READ));
  ASSERT_GT(map.size, 4u);
  EXPECT_EQ(map.data[0], 0xFF);
  EXPECT_EQ(map.data[1], 0xD8);
  gst_buffer_unmap(b, &map);
  for (GstSample* x : s) gst_sample_unref(x);
  GstElement* dec = pipe.Get("dec");
  GstSample* picture = gst_app_sink_try_pull_sample(GST_APP_SINK(dec), 5 * GST_SECOND);
  gst_object_unref(dec);
  ASSERT_NE(picture, nullptr);
  ASSERT_TRUE(gst_buffer_map(gst_sample_get_buffer(picture), &map, GST_MAP_READ));
  double sum = 0;
  for (gsize i = 0; i < map.size; ++i) sum += map.data[i];
  EXPECT_GT(sum / map.size, 8.0);
  EXPECT_LT(sum / map.size, 45.0);
  gst_buffer_unmap(gst_sample_get_buffer(picture), &map);
  gst_sample_unref(picture);
}

TEST(SimCamera, SlowSinkMakesTheCameraDropFramesOnTheClockGrid) {
  Enable("160x120@30");
  Pipeline pipe("ulmorasimsrc name=cam ! identity sleep-time=100000 ! appsink name=out sync=false");
  ASSERT_NE(gst_element_set_state(pipe.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  auto s = Pull(pipe, 12);
  ASSERT_EQ(s.size(), 12u);
  GstElement* cam = pipe.Get("cam");
  guint64 dropped = 0;
  g_object_get(cam, "dropped-frames", &dropped, nullptr);
  gst_object_unref(cam);
  EXPECT_GT(dropped, 5u);
  const GstClockTime first = GST_BUFFER_PTS(gst_sample_get_buffer(s[0]));
  for (size_t i = 1; i < s.size(); ++i) {
    const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(s[i]));
    ASSERT_GT(pts, first);
    const guint64 n = gst_util_uint64_scale_round(pts - first, 30, GST_SECOND);
    const GstClockTime grid = gst_util_uint64_scale(n, GST_SECOND, 30);
    EXPECT_LE(std::max(grid, pts - first) - std::min(grid, pts - first), 1u) << i;
  }
  // Stopped first: a buffer given back while the camera runs is reused by its thread, through a pool
  // whose locks the thread checker cannot see.
  gst_element_set_state(pipe.p, GST_STATE_NULL);
  NoteStreamingSettled();
  for (GstSample* x : s) gst_sample_unref(x);
}

TEST(SimCamera, ControlsAndInputsChangeTheLivePicture) {
  Enable("160x120@30,inputs=3,controls");
  ASSERT_EQ(SimInputCount(0), 3);
  v4l2_input in{};
  ASSERT_TRUE(SimEnumInput(0, 1, &in));
  EXPECT_STREQ(reinterpret_cast<const char*>(in.name), "S-Video");
  ASSERT_TRUE(SimEnumInput(0, 2, &in));
  EXPECT_EQ(in.type, static_cast<uint32_t>(V4L2_INPUT_TYPE_TUNER));
  ASSERT_EQ(SimControlCount(0), 9);
  v4l2_query_ext_ctrl q{};
  ASSERT_TRUE(SimQueryControl(0, 4, &q));
  EXPECT_EQ(q.type, static_cast<uint32_t>(V4L2_CTRL_TYPE_MENU));
  v4l2_querymenu item{};
  ASSERT_TRUE(SimQueryMenu(0, q.id, 2, &item));
  EXPECT_STREQ(reinterpret_cast<const char*>(item.name), "60 Hz");
  EXPECT_FALSE(SimSetControl(0, V4L2_CID_BRIGHTNESS, 1000));

  Pipeline pipe("ulmorasimsrc ! video/x-raw,format=YUY2 ! appsink name=out max-buffers=1 drop=true");
  ASSERT_NE(gst_element_set_state(pipe.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  auto before = Pull(pipe, 2);
  ASSERT_EQ(before.size(), 2u);
  const double dark = MeanOfEvenBytes(before[1]);
  ASSERT_TRUE(SimSetControl(0, V4L2_CID_BRIGHTNESS, 50));
  auto after = Pull(pipe, 3);  // one may have been drawn before the change
  ASSERT_EQ(after.size(), 3u);
  EXPECT_NEAR(MeanOfEvenBytes(after[2]) - dark, 50.0, 5.0);
  ASSERT_TRUE(SimSetControl(0, V4L2_CID_BRIGHTNESS, 0));
  ASSERT_TRUE(SimSetInput(0, 1));
  auto other = Pull(pipe, 3);
  ASSERT_EQ(other.size(), 3u);
  EXPECT_GT(MeanOfEvenBytes(other[2]) - dark, 6.0);  // the S-Video scene is lighter
  EXPECT_EQ(SimGetInput(0), 1);
  for (auto* v : {&before, &after, &other})
    for (GstSample* x : *v) gst_sample_unref(x);
}

TEST(SimCamera, UnplugFailsTheStreamAndReplugBringsItBack) {
  Enable("160x120@30,unplug-after=0.3,replug-after=0.4");
  Monitor mon;
  ASSERT_EQ(mon.SimNames().size(), 1u);
  Pipeline pipe("ulmorasimsrc device=sim:0 ! fakesink");
  ASSERT_NE(gst_element_set_state(pipe.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  GstMessage* err = pipe.WaitError(5 * GST_SECOND);
  ASSERT_NE(err, nullptr);
  GError* e = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(err, &e, &debug);
  EXPECT_TRUE(g_error_matches(e, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ)) << e->message;
  EXPECT_NE(std::string(debug ? debug : "").find("poll error"), std::string::npos);
  g_error_free(e);
  g_free(debug);
  gst_message_unref(err);
  EXPECT_EQ(mon.Next(2 * GST_SECOND), "removed|Ulmora Simulated Camera|sim:0");
  EXPECT_FALSE(SimIsPlugged(0));
  EXPECT_EQ(mon.Next(3 * GST_SECOND), "added|Ulmora Simulated Camera|sim:0");
  EXPECT_TRUE(SimIsPlugged(0));
  // The same device streams again after the replug.
  gst_element_set_state(pipe.p, GST_STATE_NULL);
  Pipeline again("ulmorasimsrc device=sim:0 ! appsink name=out");
  ASSERT_NE(gst_element_set_state(again.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  auto s = Pull(again, 1);
  ASSERT_EQ(s.size(), 1u);
  gst_sample_unref(s[0]);
}

TEST(SimCamera, PlugAfterAppearsLater) {
  Enable("plug-after=0.8");
  Monitor mon;
  EXPECT_TRUE(mon.SimNames().empty());
  EXPECT_EQ(mon.Next(3 * GST_SECOND), "added|Ulmora Simulated Camera|sim:0");
  EXPECT_EQ(mon.SimNames().size(), 1u);
}

// A missing device fails at open; a busy one, as a V4L2 node, only when buffers are asked for.
TEST(SimCamera, BusyAndMissingDevicesFailToOpen) {
  Enable("busy");
  struct Case {
    const char* path;
    GstResourceError code;
    const char* text;
    GstState failsAt;
  };
  const Case cases[] = {{"sim:0", GST_RESOURCE_ERROR_BUSY, "Device 'sim:0' is busy", GST_STATE_PAUSED},
                        {"sim:4", GST_RESOURCE_ERROR_NOT_FOUND, "Cannot identify device 'sim:4'.", GST_STATE_READY}};
  for (const Case& c : cases) {
    Pipeline pipe(std::string("ulmorasimsrc device=") + c.path + " ! fakesink");
    if (c.failsAt == GST_STATE_PAUSED) {
      EXPECT_NE(gst_element_set_state(pipe.p, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    }
    EXPECT_EQ(gst_element_set_state(pipe.p, c.failsAt), GST_STATE_CHANGE_FAILURE);
    GstMessage* err = pipe.WaitError(GST_SECOND);
    ASSERT_NE(err, nullptr);
    GError* e = nullptr;
    gst_message_parse_error(err, &e, nullptr);
    EXPECT_TRUE(g_error_matches(e, GST_RESOURCE_ERROR, c.code));
    EXPECT_STREQ(e->message, c.text);
    g_error_free(e);
    gst_message_unref(err);
  }
  // A second stream on a device already streaming is refused as V4L2 refuses it.
  Enable("1");
  Pipeline first("ulmorasimsrc ! fakesink");
  ASSERT_NE(gst_element_set_state(first.p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  Pipeline second("ulmorasimsrc ! fakesink");
  gst_element_set_state(second.p, GST_STATE_PLAYING);
  GstMessage* err = second.WaitError(2 * GST_SECOND);
  ASSERT_NE(err, nullptr);
  GError* e = nullptr;
  gst_message_parse_error(err, &e, nullptr);
  EXPECT_TRUE(g_error_matches(e, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY));
  g_error_free(e);
  gst_message_unref(err);
}

TEST(SimCamera, ToolOptionIsTakenOutOfTheArguments) {
  char a0[] = "tool", a1[] = "-n", a2[] = "3", a3[] = "--sim-camera=count=2", a4[] = "file";
  char* argv[] = {a0, a1, a3, a2, a4, nullptr};
  int argc = 5;
  std::string error;
  ASSERT_TRUE(EnableSimCameraFromArgs(&argc, argv, &error)) << error;
  ASSERT_EQ(argc, 4);
  EXPECT_STREQ(argv[2], "3");
  EXPECT_EQ(argv[4], nullptr);
  EXPECT_EQ(SimDeviceCount(), 2);
  char b3[] = "--sim-camera=count=zero";
  char* bad[] = {a0, b3, nullptr};
  argc = 2;
  EXPECT_FALSE(EnableSimCameraFromArgs(&argc, bad, &error));
  EXPECT_NE(error.find("count=zero"), std::string::npos);
  // Without the option the environment decides; a bad SPEC there is named too.
  char* none[] = {a0, nullptr};
  argc = 1;
  g_setenv("ULMORA_SIM_CAMERA", "count=3", TRUE);
  ASSERT_TRUE(EnableSimCameraFromArgs(&argc, none, &error)) << error;
  EXPECT_EQ(SimDeviceCount(), 3);
  g_setenv("ULMORA_SIM_CAMERA", "formats=rgb", TRUE);
  EXPECT_FALSE(EnableSimCameraFromEnv(&error));
  EXPECT_NE(error.find("ULMORA_SIM_CAMERA"), std::string::npos);
  EXPECT_NE(error.find("formats=rgb"), std::string::npos);
  g_unsetenv("ULMORA_SIM_CAMERA");
  EXPECT_TRUE(EnableSimCameraFromEnv(&error));
  EXPECT_EQ(SimDeviceCount(), 3);
}

// The "sim:" opener is registered while another thread opens nodes: each open finds either no
// opener (a file that is not there) or the simulated camera, and the camera once it is on.
TEST(SimCamera, NodesOpenedWhileTheCameraIsSwitchedOnFindItOrNothing) {
  const std::string kNoFile = "Cannot open device 'sim:0': No such file or directory.";
  const std::string kNoDevice = "Cannot open device 'sim:0': No such device.";
  std::atomic<int> attempts{0};
  std::string card;                     // written by the opening thread, read after the join
  std::vector<std::string> unexpected;  // likewise
  std::thread opening([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
      std::string error;
      V4l2NodeRef node = OpenV4l2Node("sim:0", &error);
      attempts.fetch_add(1);
      if (node) {
        v4l2_capability cap{};
        if (node->Ioctl(VIDIOC_QUERYCAP, &cap) == 0) card = reinterpret_cast<const char*>(cap.card);
        return;
      }
      if (error != kNoFile && error != kNoDevice) unexpected.push_back(error);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (attempts.load() == 0 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
  Enable("1");
  opening.join();
  EXPECT_GT(attempts.load(), 0);
  EXPECT_EQ(card, "Ulmora Simulated Camera");
  EXPECT_TRUE(unexpected.empty()) << unexpected.front();
}

}  // namespace
}  // namespace ulmora
