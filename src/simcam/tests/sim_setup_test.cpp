#include <gtest/gtest.h>

#include "simcam/sim_camera.h"
#include "simcam/sim_setup.h"

namespace ulmora {
namespace {

TEST(SimSpec, DefaultsAndOne) {
  SimCameraSetup setup;
  std::string error;
  ASSERT_TRUE(ParseSimCameraSetup("1", &setup, &error)) << error;
  EXPECT_EQ(setup.nWidth, 640);
  EXPECT_EQ(setup.nHeight, 480);
  EXPECT_EQ(setup.nFps, 30);
  ASSERT_EQ(setup.formats.size(), 2u);
  EXPECT_EQ(setup.formats[0], SimPixelFormat::kYUY2);
  EXPECT_EQ(setup.formats[1], SimPixelFormat::kBGR);
  EXPECT_EQ(setup.nCount, 1);
  EXPECT_FALSE(setup.bControls);
  EXPECT_EQ(setup.nUnplugAfterMs, -1);
}

TEST(SimSpec, EveryItem) {
  SimCameraSetup setup;
  std::string error;
  ASSERT_TRUE(ParseSimCameraSetup(
      "1280x720@25,formats=mjpeg|i420, inputs=3,controls,count=2,unplug-after=3,replug-after=0.5,plug-after=1,busy,"
      "freeze-after=2,unfreeze-after=1.5,drop-every=7",
      &setup, &error))
      << error;
  EXPECT_EQ(setup.nWidth, 1280);
  EXPECT_EQ(setup.nHeight, 720);
  EXPECT_EQ(setup.nFps, 25);
  ASSERT_EQ(setup.formats.size(), 2u);
  EXPECT_EQ(setup.formats[0], SimPixelFormat::kMJPEG);
  EXPECT_EQ(setup.formats[1], SimPixelFormat::kI420);
  EXPECT_EQ(setup.nInputs, 3);
  EXPECT_TRUE(setup.bControls);
  EXPECT_EQ(setup.nCount, 2);
  EXPECT_EQ(setup.nUnplugAfterMs, 3000);
  EXPECT_EQ(setup.nReplugAfterMs, 500);
  EXPECT_EQ(setup.nPlugAfterMs, 1000);
  EXPECT_TRUE(setup.bBusy);
  EXPECT_EQ(setup.nFreezeAfterMs, 2000);
  EXPECT_EQ(setup.nUnfreezeAfterMs, 1500);
  EXPECT_EQ(setup.nDropEvery, 7);
  EXPECT_FALSE(setup.bAnalog || setup.bLinks || setup.bFlaky);
  EXPECT_EQ(setup.nLatencyMs, 0);
}

TEST(SimSpec, HardwareLikeItems) {
  SimCameraSetup setup;
  std::string error;
  ASSERT_TRUE(ParseSimCameraSetup("analog,links,latency=50,flaky,formats=y16|yuy2", &setup, &error)) << error;
  ASSERT_EQ(setup.formats.size(), 2u);
  EXPECT_EQ(setup.formats[0], SimPixelFormat::kY16);
  EXPECT_TRUE(setup.bAnalog);
  EXPECT_TRUE(setup.bLinks);
  EXPECT_TRUE(setup.bFlaky);
  EXPECT_EQ(setup.nLatencyMs, 50);
  EXPECT_FALSE(ParseSimCameraSetup("latency=9999", &setup, &error));
  EXPECT_NE(error.find("\"latency=9999\""), std::string::npos) << error;
}

TEST(SimSpec, ErrorsNameTheBadItem) {
  const char* const bad[][2] = {
      {"640x480@30,formats=yuy2|rgb", "formats=yuy2|rgb"}, {"count=0", "count=0"},
      {"641x480", "641x480"},          {"640x480@0", "640x480@0"},
      {"inputs=x", "inputs=x"},        {"unplug-after=-1", "unplug-after=-1"},
      {"1,frobnicate", "frobnicate"},  {"formats=yuy2|yuy2", "formats=yuy2|yuy2"},
      {"replug-after=2", "replug-after"}, {"count=99", "count=99"},
      {"unfreeze-after=1", "unfreeze-after"}, {"freeze-after=x", "freeze-after=x"},
      {"drop-every=0", "drop-every=0"}, {"drop-every=x", "drop-every=x"},
  };
  for (const auto& b : bad) {
    SimCameraSetup setup;
    std::string error;
    EXPECT_FALSE(ParseSimCameraSetup(b[0], &setup, &error)) << b[0];
    EXPECT_NE(error.find(std::string("\"") + b[1] + "\""), std::string::npos) << b[0] << " -> " << error;
  }
}

TEST(SimSpec, OptionAndPaths) {
  std::string setup;
  EXPECT_TRUE(IsSimCameraOption("--sim-camera", &setup));
  EXPECT_EQ(setup, "1");
  EXPECT_TRUE(IsSimCameraOption("--sim-camera=count=2", &setup));
  EXPECT_EQ(setup, "count=2");
  EXPECT_FALSE(IsSimCameraOption("--sim-cameras", &setup));
  int device = -1;
  EXPECT_TRUE(IsSimDevicePath("sim:3", &device));
  EXPECT_EQ(device, 3);
  EXPECT_FALSE(IsSimDevicePath("sim:", &device));
  EXPECT_FALSE(IsSimDevicePath("sim:-1", &device));
  EXPECT_FALSE(IsSimDevicePath("/dev/video0", &device));
  EXPECT_EQ(SimDeviceName(0), "Ulmora Simulated Camera");
  EXPECT_EQ(SimDeviceName(1), "Ulmora Simulated Camera #2");
}

}  // namespace
}  // namespace ulmora
