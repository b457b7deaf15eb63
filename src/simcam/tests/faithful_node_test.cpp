// What real drivers do to the devices code, on the simulated node answering as they do: values the
// device applied instead of those asked for, an automatic mode ruling its manual partner, write-only
// relative controls, bitmasks using bit 31, requests that fail now and then, and analog cards without
// frame-size enumeration whose standard sets the picture's lines and rate.
#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <string>

#include "common/tests/log_capture.h"
#include "devices/controls_dialogs.h"
#include "devices/controls_store.h"
#include "devices/crossbar_inputs.h"
#include "devices/v4l2_node.h"
#include "devices/tests/temp_profile.h"
#include "settings/profile.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"

using namespace ulmora;

namespace {

constexpr uint32_t kSensorFlags = V4L2_CID_USER_BASE | 0x1001;

class FaithfulNode : public ::testing::Test {
 protected:
  void Enable(const char* setup) {
    std::string error;
    ASSERT_TRUE(EnableSimCamera(setup, &error)) << error;
    dialogs = CDeviceDialogs::Open("sim:0", &error);
    ASSERT_NE(dialogs, nullptr) << error;
  }
  void TearDown() override {
    dialogs.reset();
    DisableSimCamera();
  }
  static const ControlDescription* Find(const std::vector<ControlGroupDescription>& groups, uint32_t id) {
    for (auto& g : groups)
      for (auto& c : g.controls)
        if (c.nId == id) return &c;
    return nullptr;
  }
  static int64_t Remembered(uint32_t id) {
    for (const RememberedControl& c : ReadRememberedControls("sim:0"))
      if (c.nId == id) return c.nValue;
    return -1;
  }
  static int64_t Device(uint32_t id) {
    int64_t v = -1;
    SimGetControl(0, id, &v);
    return v;
  }

  test::TempProfile profile;
  test::LogCapture log;
  std::unique_ptr<CDeviceDialogs> dialogs;
  std::string error;
};

}  // namespace

TEST_F(FaithfulNode, TheValueTheDeviceAppliedIsTheOneRememberedAndShown) {
  Enable("controls");
  // Rounded to the step of 4, clamped to the range: the device says what it took.
  ASSERT_TRUE(dialogs->SetControl(V4L2_CID_CONTRAST, 102, &error)) << error;
  EXPECT_EQ(Device(V4L2_CID_CONTRAST), 104);
  EXPECT_EQ(Remembered(V4L2_CID_CONTRAST), 104);
  ASSERT_TRUE(dialogs->SetControl(V4L2_CID_GAIN, 1000, &error)) << error;
  EXPECT_EQ(Remembered(V4L2_CID_GAIN), 64);

  // Bit 31 of a bitmask is a flag like any other, never a sign.
  std::vector<ControlGroupDescription> groups;
  ASSERT_TRUE(dialogs->DescribeControls(&groups, &error)) << error;
  const ControlDescription* flags = Find(groups, kSensorFlags);
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(flags->kind, ControlKind::Bitmask);
  EXPECT_EQ(flags->nValue, 0x80000000LL);
  EXPECT_EQ(flags->nMaximum, 0x80000003LL);
  ASSERT_TRUE(dialogs->SetControl(kSensorFlags, 0x80000005LL, &error)) << error;
  EXPECT_EQ(Device(kSensorFlags), 0x80000001LL);  // masked by the device
  EXPECT_EQ(Remembered(kSensorFlags), 0x80000001LL);
  ASSERT_TRUE(dialogs->ResetControls(&error)) << error;
  EXPECT_EQ(Device(kSensorFlags), 0x80000000LL);
}

TEST_F(FaithfulNode, DefaultPutsManualValuesBackBeforeTheirAutomaticMode) {
  Enable("controls");
  ASSERT_TRUE(dialogs->SetControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL, &error)) << error;
  ASSERT_TRUE(dialogs->SetControl(V4L2_CID_EXPOSURE_ABSOLUTE, 900, &error)) << error;
  ASSERT_TRUE(dialogs->ResetControls(&error)) << error;
  EXPECT_EQ(Device(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
  EXPECT_EQ(Device(V4L2_CID_EXPOSURE_ABSOLUTE), 250);
  // Ruled by the automatic mode again: shown inactive, and the device refuses a manual value.
  std::vector<ControlGroupDescription> groups;
  ASSERT_TRUE(dialogs->DescribeControls(&groups, &error)) << error;
  ASSERT_NE(Find(groups, V4L2_CID_EXPOSURE_ABSOLUTE), nullptr);
  EXPECT_TRUE(Find(groups, V4L2_CID_EXPOSURE_ABSOLUTE)->bInactive);
  EXPECT_FALSE(dialogs->SetControl(V4L2_CID_EXPOSURE_ABSOLUTE, 900, &error));
}

TEST_F(FaithfulNode, RelativeMotorControlsAreMomentaryAndNeverReplayed) {
  Enable("controls");
  ASSERT_TRUE(dialogs->SetControl(V4L2_CID_PAN_RELATIVE, 5, &error)) << error;
  EXPECT_EQ(SimPanMoves(0), 1u);
  EXPECT_EQ(Remembered(V4L2_CID_PAN_RELATIVE), -1);
  std::vector<ControlGroupDescription> groups;
  ASSERT_TRUE(dialogs->DescribeControls(&groups, &error)) << error;
  const ControlDescription* pan = Find(groups, V4L2_CID_PAN_RELATIVE);
  ASSERT_NE(pan, nullptr);
  EXPECT_TRUE(pan->bWriteOnly);
  EXPECT_EQ(pan->nValue, 0);

  // A value an earlier version stored would start the motor at every choice of the camera.
  ASSERT_TRUE(RememberControl("sim:0", V4L2_CID_PAN_RELATIVE, 7));
  ASSERT_TRUE(RememberControl("sim:0", V4L2_CID_BRIGHTNESS, 9));
  EXPECT_EQ(ApplyRememberedControls(std::string("sim:0")), 1);
  EXPECT_EQ(SimPanMoves(0), 1u);
  EXPECT_EQ(Device(V4L2_CID_BRIGHTNESS), 9);
  ASSERT_TRUE(dialogs->ResetControls(&error)) << error;
  EXPECT_EQ(SimPanMoves(0), 1u);
}

TEST_F(FaithfulNode, ARequestThatFailsNowAndThenNeverShowsAMadeUpValue) {
  Enable("controls,flaky");
  ASSERT_TRUE(SimSetControl(0, V4L2_CID_CONTRAST, 120));
  ASSERT_TRUE(SimSetControl(0, V4L2_CID_GAIN, 30));
  for (int round = 0; round < 5; ++round) {
    std::vector<ControlGroupDescription> groups;
    if (!dialogs->DescribeControls(&groups, &error)) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    for (const auto& g : groups)
      for (const auto& c : g.controls) {
        if (c.bWriteOnly || c.bUnknownValue) continue;
        EXPECT_EQ(c.nValue, Device(c.nId)) << c.name << " in round " << round;
      }
  }
}

TEST_F(FaithfulNode, AnAnalogCardOffersTheSizesItTakesAtItsStandardsRate) {
  Enable("analog,inputs=2");
  VideoSourceDescription source;
  ASSERT_TRUE(dialogs->DescribeSource(&source, &error)) << error;
  ASSERT_EQ(source.standards.size(), 2u);
  EXPECT_EQ(source.nCurrentStandard, static_cast<uint64_t>(V4L2_STD_PAL));  // the card says PAL-B/G
  ASSERT_FALSE(source.formats.empty());
  ASSERT_EQ(source.formats[0].sizes.size(), 1u);
  const FrameSizeDescription& pal = source.formats[0].sizes[0];
  EXPECT_TRUE(pal.bRange);
  EXPECT_EQ(pal.nWidth, 720u);
  EXPECT_EQ(pal.nHeight, 576u);
  EXPECT_EQ(pal.nMinWidth, 48u);
  EXPECT_DOUBLE_EQ(pal.dMaxFrameRate, 25.0);
  EXPECT_EQ(source.nCurrentHeight, 576u);

  ASSERT_TRUE(dialogs->SetStandard(V4L2_STD_NTSC, &error)) << error;
  ASSERT_TRUE(dialogs->DescribeSource(&source, &error)) << error;
  EXPECT_EQ(source.nCurrentStandard, static_cast<uint64_t>(V4L2_STD_NTSC));
  EXPECT_EQ(source.nCurrentHeight, 480u);
  ASSERT_EQ(source.formats[0].sizes.size(), 1u);
  EXPECT_EQ(source.formats[0].sizes[0].nHeight, 480u);
  EXPECT_NEAR(source.formats[0].sizes[0].dMaxFrameRate, 29.97, 0.01);
  ASSERT_TRUE(dialogs->ChooseFrameFormat({V4L2_PIX_FMT_YUYV, 640, 480, 0.0}, &error)) << error;
}

TEST_F(FaithfulNode, AnInputSwitchGivesTheStreamingRightsBackWhenItIsDone) {
  Enable("inputs=3");
  auto inputs = std::make_shared<CInputCrossbar>(OpenV4l2Node("sim:0", &error));
  ASSERT_EQ(inputs->Route(0, 2), S_OK);
  EXPECT_EQ(SimGetInput(0), 2);
  // Another descriptor (the streaming element's) may now set the format.
  V4l2NodeRef other = OpenV4l2Node("sim:0", &error);
  ASSERT_NE(other, nullptr);
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  ASSERT_EQ(other->Ioctl(VIDIOC_G_FMT, &fmt), 0);
  EXPECT_EQ(other->Ioctl(VIDIOC_S_FMT, &fmt), 0);
}
