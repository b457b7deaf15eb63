// Inputs, controls, formats and tuner of the simulated camera, through the same code as a V4L2 node's.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <unistd.h>

#include "common/tests/log_capture.h"
#include "devices/controls_dialogs.h"
#include "devices/controls_store.h"
#include "devices/crossbar.h"
#include "devices/crossbar_inputs.h"
#include "devices/v4l2_node.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"
#include "devices/tests/temp_profile.h"
#include "settings/profile.h"
#include "settings/profile_keys.h"

using namespace ulmora;

namespace {

class SimDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(EnableSimCamera("320x240@15,formats=yuy2|mjpeg,inputs=3,controls,count=2", &error)) << error;
  }
  void TearDown() override {
    DisableSimCamera();
  }
  const ControlDescription* Find(const std::vector<ControlGroupDescription>& groups, uint32_t id) {
    for (auto& g : groups)
      for (auto& c : g.controls)
        if (c.nId == id) return &c;
    return nullptr;
  }
  test::TempProfile profile;
  test::LogCapture log;
};

}  // namespace

TEST_F(SimDevice, InputsAreRoutesOfOneCrossbarAndRoutingSwitchesTheCamera) {
  HRESULT hr = E_FAIL;
  CCrossbar xbar(OpenDeviceCrossbar("sim:0"), &hr);
  ASSERT_EQ(hr, S_OK);
  int n = 0;
  ASSERT_EQ(xbar.GetInputCount(&n), S_OK);
  ASSERT_EQ(n, 3);
  int types[3] = {};
  for (int i = 0; i < 3; ++i) xbar.GetInputType(i, &types[i]);
  EXPECT_EQ(types[0], PhysConn_Video_Composite);
  EXPECT_EQ(types[1], PhysConn_Video_SVideo);
  EXPECT_EQ(types[2], PhysConn_Video_Tuner);
  EXPECT_EQ(ChooseInitialRoute(xbar), 0);
  EXPECT_EQ(xbar.SetInputIndex(2), S_OK);
  EXPECT_EQ(SimGetInput(0), 2);
  EXPECT_EQ(SimGetInput(1), 0);
}

TEST_F(SimDevice, AWebcamLikeCameraHasNoCrossbar) {
  std::string error;
  ASSERT_TRUE(EnableSimCamera("1", &error));
  EXPECT_EQ(OpenDeviceCrossbar("sim:0").pXbar, nullptr);
  auto dialogs = CDeviceDialogs::Open("sim:0", &error);
  ASSERT_NE(dialogs, nullptr) << error;
  DeviceDialogEntries e = dialogs->Entries();
  EXPECT_TRUE(e.bVideoSource);
  EXPECT_FALSE(e.bCaptureFilter);  // no controls in this SPEC
  EXPECT_FALSE(e.bCrossbar);
  EXPECT_FALSE(e.bTvTuner);
  VideoSourceDescription source;
  ASSERT_TRUE(dialogs->DescribeSource(&source, &error));
  EXPECT_TRUE(source.standards.empty());
}

TEST_F(SimDevice, DialogsDescribeControlsSourceCrossbarAndTuner) {
  std::string error;
  auto dialogs = CDeviceDialogs::Open("sim:0", &error);
  ASSERT_NE(dialogs, nullptr) << error;
  DeviceDialogEntries e = dialogs->Entries();
  EXPECT_TRUE(e.bVideoSource);
  EXPECT_TRUE(e.bCaptureFilter);
  EXPECT_TRUE(e.bCrossbar);
  EXPECT_FALSE(e.bSecondCrossbar);
  EXPECT_TRUE(e.bTvTuner);

  std::vector<ControlGroupDescription> groups;
  ASSERT_TRUE(dialogs->DescribeControls(&groups, &error)) << error;
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].name, "User Controls");
  EXPECT_EQ(groups[0].controls.size(), 6u);
  EXPECT_EQ(groups[1].name, "Camera Controls");
  const ControlDescription* power = Find(groups, V4L2_CID_POWER_LINE_FREQUENCY);
  ASSERT_NE(power, nullptr);
  EXPECT_EQ(power->kind, ControlKind::Menu);
  ASSERT_EQ(power->menu.size(), 3u);
  EXPECT_EQ(power->nValue, 1);
  const ControlDescription* flip = Find(groups, V4L2_CID_HFLIP);
  ASSERT_NE(flip, nullptr);
  EXPECT_EQ(flip->kind, ControlKind::Boolean);

  VideoSourceDescription source;
  ASSERT_TRUE(dialogs->DescribeSource(&source, &error));
  ASSERT_EQ(source.formats.size(), 2u);
  EXPECT_EQ(source.formats[0].fourcc, "YUYV");
  EXPECT_TRUE(source.formats[1].bCompressed);
  ASSERT_EQ(source.formats[0].sizes.size(), 1u);
  EXPECT_EQ(source.formats[0].sizes[0].nWidth, 320u);
  ASSERT_EQ(source.formats[0].sizes[0].frameRates.size(), 1u);
  EXPECT_DOUBLE_EQ(source.formats[0].sizes[0].frameRates[0], 15.0);
  ASSERT_EQ(source.standards.size(), 2u);
  EXPECT_TRUE(dialogs->SetStandard(source.standards[1].nId, &error));
  ASSERT_TRUE(dialogs->DescribeSource(&source, &error));
  EXPECT_EQ(source.nCurrentStandard, static_cast<uint64_t>(V4L2_STD_NTSC));

  CrossbarDescription xbar;
  ASSERT_TRUE(dialogs->DescribeCrossbar(0, &xbar, &error));
  ASSERT_EQ(xbar.inputs.size(), 3u);
  EXPECT_EQ(xbar.inputs[1].typeName, "Video SVideo");
  EXPECT_EQ(xbar.inputs[1].name, "S-Video");
  ASSERT_EQ(xbar.outputs.size(), 1u);
  EXPECT_EQ(xbar.outputs[0].routableFrom, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(dialogs->RouteCrossbar(0, 0, 1), S_OK);
  ASSERT_TRUE(dialogs->DescribeCrossbar(0, &xbar, &error));
  EXPECT_EQ(xbar.outputs[0].nRoutedTo, 1);
  EXPECT_FALSE(dialogs->DescribeCrossbar(1, &xbar, &error));

  TunerDescription tuner;
  ASSERT_TRUE(dialogs->DescribeTuner(&tuner, &error));
  EXPECT_FALSE(tuner.bRadio);
  EXPECT_EQ(tuner.nFrequencyHz, 175250000u);
  EXPECT_TRUE(dialogs->SetFrequency(503250000, &error));
  ASSERT_TRUE(dialogs->DescribeTuner(&tuner, &error));
  EXPECT_EQ(tuner.nFrequencyHz, 503250000u);
  EXPECT_TRUE(dialogs->SetAudioMode(V4L2_TUNER_MODE_MONO, &error));
  EXPECT_FALSE(dialogs->SetAudioMode(V4L2_TUNER_MODE_LANG2, &error));
}

TEST_F(SimDevice, ControlsSetLiveAreRememberedPerDeviceAndAppliedAgain) {
  std::string error;
  auto dialogs = CDeviceDialogs::Open("sim:1", &error);
  ASSERT_NE(dialogs, nullptr) << error;
  EXPECT_TRUE(dialogs->SetControl(V4L2_CID_GAIN, 40, &error));
  EXPECT_TRUE(dialogs->SetControl(V4L2_CID_HFLIP, 1, &error));
  int64_t v = 0;
  EXPECT_TRUE(SimGetControl(1, V4L2_CID_GAIN, &v));
  EXPECT_EQ(v, 40);
  EXPECT_TRUE(SimGetControl(0, V4L2_CID_GAIN, &v));
  EXPECT_EQ(v, 8);  // the other camera keeps its own
  // A value the device refuses is reported and not remembered.
  EXPECT_FALSE(dialogs->SetControl(V4L2_CID_POWER_LINE_FREQUENCY, 7, &error));
  EXPECT_EQ(error, "The device did not accept the value: Numerical result out of range.");
  ASSERT_EQ(ReadRememberedControls("sim:1").size(), 2u);
  EXPECT_EQ(ReadRememberedControls("sim:1")[0].nValue, 40);

  // The camera comes back with its defaults; choosing it again restores the user's values.
  ASSERT_TRUE(EnableSimCamera("320x240@15,inputs=3,controls,count=2", &error));
  EXPECT_TRUE(SimGetControl(1, V4L2_CID_GAIN, &v));
  EXPECT_EQ(v, 8);
  EXPECT_EQ(ApplyRememberedControls(std::string("sim:1")), 2);
  EXPECT_TRUE(SimGetControl(1, V4L2_CID_GAIN, &v));
  EXPECT_EQ(v, 40);
  EXPECT_TRUE(SimGetControl(1, V4L2_CID_HFLIP, &v));
  EXPECT_EQ(v, 1);
  EXPECT_EQ(ApplyRememberedControls(std::string("sim:0")), 0);

  // A remembered value outside the range the device has now is left alone, with a log line.
  ProfileWriteString(kSectionBrisk, "Controls:sim:0", "00980913:99,00980900:5");
  EXPECT_EQ(ApplyRememberedControls(std::string("sim:0")), 1);
  EXPECT_TRUE(log.Contains("outside 1..64"));
}

TEST_F(SimDevice, ResetStandardFrequencyAndFormatAreRememberedToo) {
  std::string error;
  auto dialogs = CDeviceDialogs::Open("sim:0", &error);
  ASSERT_NE(dialogs, nullptr) << error;
  ASSERT_TRUE(dialogs->SetControl(V4L2_CID_GAIN, 40, &error));
  ASSERT_TRUE(dialogs->ResetControls(&error)) << error;
  int64_t v = 0;
  EXPECT_TRUE(SimGetControl(0, V4L2_CID_GAIN, &v));
  EXPECT_EQ(v, 8);
  EXPECT_TRUE(ReadRememberedControls("sim:0").empty());

  ASSERT_TRUE(dialogs->SetStandard(V4L2_STD_NTSC, &error));
  ASSERT_TRUE(dialogs->SetFrequency(503250000, &error));
  ASSERT_TRUE(dialogs->SetStandard(V4L2_STD_PAL, &error));  // the last choice counts
  ProfileWriteString(kSectionBrisk, "Standard:sim:0", "000000000000b000");  // NTSC, as if chosen last run
  ASSERT_TRUE(dialogs->SetFrequency(175250000, &error));
  ProfileWriteString(kSectionBrisk, "Frequency:sim:0", "503250000");
  EXPECT_EQ(ApplyRememberedSource(std::string("sim:0")), 2);
  VideoSourceDescription source;
  ASSERT_TRUE(dialogs->DescribeSource(&source, &error));
  EXPECT_EQ(source.nCurrentStandard, static_cast<uint64_t>(V4L2_STD_NTSC));
  TunerDescription tuner;
  ASSERT_TRUE(dialogs->DescribeTuner(&tuner, &error));
  EXPECT_EQ(tuner.nFrequencyHz, 503250000u);

  EXPECT_FALSE(dialogs->ChooseFrameFormat({V4L2_PIX_FMT_YUYV, 640, 480, 15.0}, &error));
  EXPECT_EQ(error, "The device does not offer that format.");
  ASSERT_TRUE(dialogs->ChooseFrameFormat({V4L2_PIX_FMT_MJPEG, 320, 240, 15.0}, &error)) << error;
  FrameFormatChoice choice;
  ASSERT_TRUE(ReadRememberedFrameFormat("sim:0", &choice));
  EXPECT_EQ(FrameFormatCaps(choice), "image/jpeg,width=320,height=240,framerate=15/1");
}

TEST_F(SimDevice, AnUnpluggedDeviceSaysSo) {
  std::string error;
  auto dialogs = CDeviceDialogs::Open("sim:0", &error);
  ASSERT_NE(dialogs, nullptr);
  DisableSimCamera();
  EXPECT_FALSE(dialogs->SetControl(V4L2_CID_GAIN, 10, &error));
  EXPECT_EQ(error, "The device is no longer connected.");
  std::vector<ControlGroupDescription> groups;
  EXPECT_FALSE(dialogs->DescribeControls(&groups, &error));
  DeviceDialogEntries e = dialogs->Entries();
  EXPECT_FALSE(e.bVideoSource || e.bCaptureFilter || e.bTvTuner);
}

TEST_F(SimDevice, ASimulatedPathOpensAsNoDeviceWhenNoneIsThere) {
  std::string error;
  EXPECT_EQ(OpenV4l2Node("sim:7", &error), nullptr);  // beyond count=2
  EXPECT_EQ(error, "Cannot open device 'sim:7': No such device.");
  EXPECT_EQ(OpenV4l2Node("sim:x", &error), nullptr);
  EXPECT_EQ(error, "Cannot open device 'sim:x': No such device.");
  EXPECT_NE(OpenV4l2Node("sim:1", &error), nullptr) << error;
  DisableSimCamera();
  EXPECT_EQ(OpenV4l2Node("sim:7", &error), nullptr);  // no simulated camera switched on
  EXPECT_EQ(error, "Cannot open device 'sim:7': No such device.");
  EXPECT_EQ(OpenV4l2Node("sim:1", &error), nullptr);
  EXPECT_EQ(error, "Cannot open device 'sim:1': No such device.");
}

namespace {

// Mean luma of the next YUY2 frame an appsink gets, after letting `skip` frames pass.
double NextMean(GstElement* sink, int skip) {
  double mean = -1.0;
  for (int i = 0; i <= skip; ++i) {
    GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
    if (!s) return -1.0;
    if (i == skip) {
      GstMapInfo map;
      GstBuffer* b = gst_sample_get_buffer(s);
      if (gst_buffer_map(b, &map, GST_MAP_READ)) {
        double sum = 0;
        for (gsize k = 0; k < map.size; k += 2) sum += map.data[k];
        mean = sum / static_cast<double>(map.size / 2);
        gst_buffer_unmap(b, &map);
      }
    }
    gst_sample_unref(s);
  }
  return mean;
}

}  // namespace

// Controls change a streaming picture at once; an input switch is refused while buffers exist, as
// drivers refuse it, and the route stays where the hardware is.
TEST_F(SimDevice, RememberedControlsChangeTheStreamingPictureAndInputsWaitForTheStop) {
  GError* err = nullptr;
  GstElement* pipe = gst_parse_launch(
      "ulmorasimsrc device=sim:0 ! video/x-raw,format=YUY2 ! appsink name=out max-buffers=1 drop=true", &err);
  ASSERT_NE(pipe, nullptr) << (err ? err->message : "");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipe), "out");
  ASSERT_NE(gst_element_set_state(pipe, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  const double dark = NextMean(sink, 1);
  ASSERT_GE(dark, 0.0);

  RememberControl("sim:0", V4L2_CID_BRIGHTNESS, 50);
  EXPECT_EQ(ApplyRememberedControls(std::string("sim:0")), 1);
  EXPECT_NEAR(NextMean(sink, 2) - dark, 50.0, 5.0);

  HRESULT hr = E_FAIL;
  CCrossbar xbar(OpenDeviceCrossbar("sim:0"), &hr);
  ASSERT_EQ(xbar.SetInputIndex(1), VFW_E_NOT_STOPPED);
  EXPECT_EQ(SimGetInput(0), 0);
  EXPECT_EQ(xbar.CurrentRoute(), 0);
  GstState state = GST_STATE_NULL;
  gst_element_get_state(pipe, &state, nullptr, 0);
  EXPECT_EQ(state, GST_STATE_PLAYING);

  gst_object_unref(sink);
  gst_element_set_state(pipe, GST_STATE_NULL);
  gst_object_unref(pipe);
}
