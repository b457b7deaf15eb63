#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "devices/controls_store.h"
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
