#include <gtest/gtest.h>

#include <cstring>

#include "devices/v4l2_describe.h"

using namespace ulmora;

namespace {

v4l2_input Input(uint32_t type, const char* name) {
  v4l2_input in{};
  in.type = type;
  strncpy(reinterpret_cast<char*>(in.name), name, sizeof in.name - 1);
  return in;
}

v4l2_query_ext_ctrl Query(uint32_t id, uint32_t type, const char* name, int64_t lo, int64_t hi) {
  v4l2_query_ext_ctrl q{};
  q.id = id;
  q.type = type;
  strncpy(q.name, name, sizeof q.name - 1);
  q.minimum = lo;
  q.maximum = hi;
  q.step = 1;
  q.default_value = lo;
  q.elems = 1;
  return q;
}

}  // namespace

TEST(V4l2Describe, InputTypesComeFromTheTypeAndTheName) {
  EXPECT_EQ(InputPhysicalType(Input(V4L2_INPUT_TYPE_TUNER, "Television")), 1);
  EXPECT_EQ(InputPhysicalType(Input(V4L2_INPUT_TYPE_CAMERA, "S-Video")), 3);
  EXPECT_EQ(InputPhysicalType(Input(V4L2_INPUT_TYPE_CAMERA, "Composite1 / S-video 2")), 3);
  EXPECT_EQ(InputPhysicalType(Input(V4L2_INPUT_TYPE_CAMERA, "SVIDEO")), 3);
  EXPECT_EQ(InputPhysicalType(Input(V4L2_INPUT_TYPE_CAMERA, "Composite")), 2);
  EXPECT_EQ(InputPhysicalType(Input(V4L2_INPUT_TYPE_CAMERA, "Camera 1")), 2);
  // A name filling its whole field has no terminator.
  v4l2_input full = Input(V4L2_INPUT_TYPE_CAMERA, "");
  memset(full.name, 'x', sizeof full.name);
  EXPECT_EQ(InputName(full).size(), sizeof full.name);
  EXPECT_EQ(InputPhysicalType(full), 2);
}

TEST(V4l2Describe, ControlsDialogsCanShowAreDescribed) {
  v4l2_query_ext_ctrl q = Query(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64);
  q.step = 2;
  q.default_value = 0;
  q.flags = V4L2_CTRL_FLAG_SLIDER | V4L2_CTRL_FLAG_INACTIVE;
  ControlDescription d;
  ASSERT_TRUE(DescribeControl(q, &d));
  EXPECT_EQ(d.nId, static_cast<uint32_t>(V4L2_CID_BRIGHTNESS));
  EXPECT_EQ(d.nClass, static_cast<uint32_t>(V4L2_CTRL_CLASS_USER));
  EXPECT_EQ(d.name, "Brightness");
  EXPECT_EQ(d.kind, ControlKind::Integer);
  EXPECT_EQ(d.nMinimum, -64);
  EXPECT_EQ(d.nMaximum, 64);
  EXPECT_EQ(d.nStep, 2);
  EXPECT_TRUE(d.bInactive);
  EXPECT_FALSE(d.bReadOnly);

  ASSERT_TRUE(DescribeControl(Query(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3), &d));
  EXPECT_EQ(d.kind, ControlKind::Menu);
  EXPECT_EQ(d.nClass, static_cast<uint32_t>(V4L2_CTRL_CLASS_CAMERA));
  q = Query(V4L2_CID_AUTOGAIN, V4L2_CTRL_TYPE_BOOLEAN, "Gain, Automatic", 0, 1);
  q.flags = V4L2_CTRL_FLAG_GRABBED;
  ASSERT_TRUE(DescribeControl(q, &d));
  EXPECT_EQ(d.kind, ControlKind::Boolean);
  EXPECT_TRUE(d.bReadOnly);
  q = Query(V4L2_CID_PAN_RESET, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0);
  q.step = 0;
  ASSERT_TRUE(DescribeControl(q, &d));
  EXPECT_EQ(d.kind, ControlKind::Button);
  EXPECT_TRUE(d.bWriteOnly);
  EXPECT_EQ(d.nStep, 1);
}

TEST(V4l2Describe, ControlsWithoutADialogRowAreLeftOut) {
  ControlDescription d;
  EXPECT_FALSE(DescribeControl(Query(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0), &d));
  EXPECT_FALSE(DescribeControl(Query(V4L2_CID_BASE + 50, V4L2_CTRL_TYPE_STRING, "Name", 0, 32), &d));
  v4l2_query_ext_ctrl q = Query(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255);
  q.flags = V4L2_CTRL_FLAG_DISABLED;
  EXPECT_FALSE(DescribeControl(q, &d));
  q.flags = 0;
  q.nr_of_dims = 1;
  EXPECT_FALSE(DescribeControl(q, &d));
}

TEST(V4l2Describe, MenuItemsAreNamesOrIntegerValues) {
  v4l2_querymenu m{};
  m.index = 1;
  strncpy(reinterpret_cast<char*>(m.name), "50 Hz", sizeof m.name - 1);
  ControlMenuEntry e = DescribeMenuEntry(Query(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "", 0, 2), m);
  EXPECT_EQ(e.nIndex, 1);
  EXPECT_EQ(e.text, "50 Hz");
  v4l2_querymenu im{};
  im.index = 3;
  im.value = -2000000;
  e = DescribeMenuEntry(Query(V4L2_CID_LINK_FREQ, V4L2_CTRL_TYPE_INTEGER_MENU, "", 0, 5), im);
  EXPECT_EQ(e.nIndex, 3);
  EXPECT_EQ(e.text, "-2000000");
}

TEST(V4l2Describe, NamesFormatsStandardsAndRates) {
  EXPECT_STREQ(ControlClassName(V4L2_CTRL_CLASS_USER), "User Controls");
  EXPECT_STREQ(ControlClassName(V4L2_CTRL_CLASS_CAMERA), "Camera Controls");
  EXPECT_STREQ(ControlClassName(0x00ff0000), "Controls");
  EXPECT_EQ(FourccText(V4L2_PIX_FMT_YUYV), "YUYV");
  EXPECT_EQ(FourccText(V4L2_PIX_FMT_MJPEG), "MJPG");
  EXPECT_EQ(FourccText(v4l2_fourcc('Y', '8', ' ', ' ')), "Y8");
  EXPECT_EQ(FourccText(0x01020304u), "????");
  EXPECT_DOUBLE_EQ(FrameRateOf({1001, 30000}), 30000.0 / 1001.0);
  EXPECT_DOUBLE_EQ(FrameRateOf({0, 30}), 0.0);
  v4l2_standard s{};
  s.id = V4L2_STD_PAL_BG;
  strncpy(reinterpret_cast<char*>(s.name), "PAL-BG", sizeof s.name - 1);
  s.frameperiod = {1, 25};
  s.framelines = 625;
  VideoStandardDescription d = DescribeStandard(s);
  EXPECT_EQ(d.nId, static_cast<uint64_t>(V4L2_STD_PAL_BG));
  EXPECT_EQ(d.name, "PAL-BG");
  EXPECT_DOUBLE_EQ(d.dFrameRate, 25.0);
  EXPECT_EQ(d.nLines, 625u);
}

TEST(V4l2Describe, TunerFrequenciesFollowTheTunerUnit) {
  v4l2_tuner tv{};
  tv.rangelow = 44 * 16;
  tv.rangehigh = 958 * 16;
  EXPECT_EQ(TunerHz(tv, 2804), 175250000u);  // 62.5 kHz units
  EXPECT_EQ(TunerUnits(tv, 175250000), 2804u);
  EXPECT_EQ(TunerUnits(tv, 175280000), 2804u);  // rounded to the nearest unit
  EXPECT_EQ(TunerUnits(tv, 175290000), 2805u);
  EXPECT_EQ(TunerUnits(tv, 1000), 44u * 16);        // kept in range
  EXPECT_EQ(TunerUnits(tv, 5000000000ull), 958u * 16);
  v4l2_tuner radio{};
  radio.type = V4L2_TUNER_RADIO;
  radio.capability = V4L2_TUNER_CAP_LOW | V4L2_TUNER_CAP_STEREO;
  radio.rangelow = 87500000 / 125 * 2;
  radio.rangehigh = 108000000 / 125 * 2;
  EXPECT_EQ(TunerHz(radio, TunerUnits(radio, 101700000)), 101700000u);
  radio.signal = 0xffff;
  radio.audmode = V4L2_TUNER_MODE_STEREO;
  TunerDescription d = DescribeTuner(radio);
  EXPECT_TRUE(d.bRadio);
  EXPECT_EQ(d.nMinHz, 87500000u);
  EXPECT_EQ(d.nMaxHz, 108000000u);
  EXPECT_EQ(d.nSignalPercent, 100);
  ASSERT_EQ(d.audioModes.size(), 2u);
  EXPECT_EQ(d.audioModes[1].name, "Stereo");
  EXPECT_EQ(d.nAudioMode, static_cast<uint32_t>(V4L2_TUNER_MODE_STEREO));
  v4l2_tuner hz{};
  hz.capability = V4L2_TUNER_CAP_1HZ;
  hz.rangehigh = UINT32_MAX;
  EXPECT_EQ(TunerHz(hz, 123456789), 123456789u);
}
