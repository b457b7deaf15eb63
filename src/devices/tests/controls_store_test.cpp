#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "devices/controls_store.h"

#include <linux/videodev2.h>
#include "devices/tests/temp_profile.h"
#include "settings/profile.h"

using namespace ulmora;

TEST(ControlsStore, ValuesRoundTripAndBadItemsAreSkipped) {
  std::vector<RememberedControl> in{{0x00980900, -12}, {0x009a0902, 250}, {0x00980918, 1}};
  std::string text = FormatRememberedControls(in);
  EXPECT_EQ(text, "00980900:-12,009a0902:250,00980918:1");
  auto out = ParseRememberedControls(text);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1].nId, 0x009a0902u);
  EXPECT_EQ(out[0].nValue, -12);
  out = ParseRememberedControls("zz:1,00980900:abc,:5,00980901:,00980901:7,,00980901:9,100000000:1,0:1");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].nId, 0x00980901u);
  EXPECT_EQ(out[0].nValue, 9);
  EXPECT_TRUE(ParseRememberedControls("").empty());
}

TEST(ControlsStore, KeysHoldOnlyWhatAnIniKeyCan) {
  EXPECT_EQ(RememberedControlsKey("sim:0"), "Controls:sim:0");
  EXPECT_EQ(RememberedControlsKey("/dev/v4l/by-id/usb-Cam_[x]=1 "), "Controls:/dev/v4l/by-id/usb-Cam__x__1_");
}

TEST(ControlsStore, RememberedValuesKeepTheirFirstOrderPerDevice) {
  test::TempProfile profile;
  EXPECT_TRUE(RememberControl("sim:0", 0x009a0901, 1));
  EXPECT_TRUE(RememberControl("sim:0", 0x009a0902, 300));
  EXPECT_TRUE(RememberControl("sim:0", 0x009a0901, 3));
  EXPECT_TRUE(RememberControl("/dev/v4l/by-id/usb-cam", 0x00980900, 5));
  auto sim = ReadRememberedControls("sim:0");
  ASSERT_EQ(sim.size(), 2u);
  EXPECT_EQ(sim[0].nId, 0x009a0901u);
  EXPECT_EQ(sim[0].nValue, 3);
  EXPECT_EQ(ReadRememberedControls("/dev/v4l/by-id/usb-cam").size(), 1u);
  EXPECT_TRUE(ReadRememberedControls("sim:1").empty());
  char text[128];
  ProfileGetString(kSectionBrisk, "Controls:sim:0", "", text, sizeof text);
  EXPECT_STREQ(text, "009a0901:3,009a0902:300");
}

TEST(ControlsStore, FrameFormatsBecomeCapsAndRoundTrip) {
  EXPECT_EQ(FrameFormatCaps({V4L2_PIX_FMT_YUYV, 640, 480, 30.0}),
            "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1");
  EXPECT_EQ(FrameFormatCaps({V4L2_PIX_FMT_MJPEG, 1920, 1080, 30000.0 / 1001}),
            "image/jpeg,width=1920,height=1080,framerate=30000/1001");
  EXPECT_EQ(FrameFormatCaps({V4L2_PIX_FMT_BGR24, 0, 0, 7.5}), "video/x-raw,format=BGR,framerate=7500/1000");
  EXPECT_EQ(FrameFormatCaps({V4L2_PIX_FMT_YUV420, 320, 240, 0.0}), "video/x-raw,format=I420,width=320,height=240");
  EXPECT_EQ(FrameFormatCaps({V4L2_PIX_FMT_H264, 640, 480, 30.0}), "");
  // Astronomy cameras' 16-bit grey in either byte order; raw Bayer colour is refused with a reason.
  EXPECT_EQ(FrameFormatCaps({V4L2_PIX_FMT_Y16, 1280, 960, 0.0}), "video/x-raw,format=GRAY16_LE,width=1280,height=960");
  EXPECT_EQ(FrameFormatCaps({V4L2_PIX_FMT_Y16_BE, 1280, 960, 0.0}), "video/x-raw,format=GRAY16_BE,width=1280,height=960");
  EXPECT_EQ(FrameFormatRefusal(V4L2_PIX_FMT_Y16), nullptr);
  for (uint32_t bayer : {V4L2_PIX_FMT_SRGGB8, V4L2_PIX_FMT_SBGGR16, V4L2_PIX_FMT_SGRBG10}) {
    EXPECT_EQ(FrameFormatCaps({bayer, 1280, 960, 0.0}), "");
    ASSERT_NE(FrameFormatRefusal(bayer), nullptr);
    EXPECT_NE(std::string(FrameFormatRefusal(bayer)).find("Bayer"), std::string::npos);
  }

  test::TempProfile profile;
  FrameFormatChoice choice;
  EXPECT_FALSE(ReadRememberedFrameFormat("cam", &choice));
  ASSERT_TRUE(RememberFrameFormat("cam", {V4L2_PIX_FMT_MJPEG, 1280, 720, 30000.0 / 1001}));
  ASSERT_TRUE(ReadRememberedFrameFormat("cam", &choice));
  EXPECT_EQ(choice.nFourcc, static_cast<uint32_t>(V4L2_PIX_FMT_MJPEG));
  EXPECT_EQ(choice.nWidth, 1280u);
  EXPECT_EQ(FrameFormatCaps(choice), "image/jpeg,width=1280,height=720,framerate=30000/1001");
  for (const char* bad : {"47504a4d:1280x720", "47504a4d:0x720@30.000", "zz:1x1@1", "47504a4d:1280x720@30.000 junk"}) {
    ProfileWriteString(kSectionBrisk, "Format:cam", bad);
    EXPECT_FALSE(ReadRememberedFrameFormat("cam", &choice)) << bad;
  }
  uint64_t v = 0;
  EXPECT_FALSE(ReadRememberedStandard("cam", &v));
  ASSERT_TRUE(RememberStandard("cam", V4L2_STD_NTSC));
  ASSERT_TRUE(ReadRememberedStandard("cam", &v));
  EXPECT_EQ(v, static_cast<uint64_t>(V4L2_STD_NTSC));
  ProfileWriteString(kSectionBrisk, "Frequency:cam", "-5");
  EXPECT_FALSE(ReadRememberedFrequency("cam", &v));
}
