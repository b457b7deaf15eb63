#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <cerrno>
#include <memory>
#include <string>

#include "common/tests/log_capture.h"
#include "devices/controls_dialogs.h"
#include "devices/controls_store.h"
#include "devices/crossbar.h"
#include "devices/crossbar_inputs.h"
#include "devices/v4l2_node.h"

using namespace ulmora;

TEST(V4l2Node, AMissingNodeIsAPlainMessageWithTheCauseInTheLog) {
  test::LogCapture log;
  std::string error;
  EXPECT_EQ(OpenV4l2Node("/dev/video-ulmora-none", &error), nullptr);
  EXPECT_EQ(error, "Cannot open device '/dev/video-ulmora-none': No such file or directory.");
  EXPECT_TRUE(log.Contains("open /dev/video-ulmora-none"));
  EXPECT_EQ(OpenV4l2Node("", &error), nullptr);
  EXPECT_EQ(OpenV4l2Node(nullptr, &error), nullptr);
  EXPECT_EQ(error, "No device was named.");
}

TEST(V4l2Node, NodesThatAreNoCaptureDevicesAreRefused) {
  test::LogCapture log;
  std::string error;
  EXPECT_EQ(OpenV4l2Node("/dev/null", &error), nullptr);
  EXPECT_EQ(error, "'/dev/null' is not a video capture device.");
  EXPECT_TRUE(log.Contains("VIDIOC_QUERYCAP on /dev/null"));
  char file[] = "/tmp/ulmora-node-XXXXXX";
  int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(OpenV4l2Node(file, &error), nullptr);
  EXPECT_EQ(error, std::string("'") + file + "' is not a device.");
  unlink(file);
  EXPECT_EQ(OpenV4l2Node("/tmp", &error), nullptr);
  EXPECT_FALSE(error.empty());
}

// A node that answers nothing, to see which paths reach a registered opener.
class MuteNode : public IV4l2Node {
 public:
  explicit MuteNode(std::string path) : path(std::move(path)) {}
  int Ioctl(unsigned long, void*) override { return ENOTTY; }
  const std::string& Path() const override { return path; }

 private:
  std::string path;
};

V4l2NodeRef OpenMute(const char* szPath, std::string*) { return std::make_shared<MuteNode>(szPath); }

V4l2NodeRef RefuseMute(const char* szPath, std::string* error) {
  *error = std::string("refused ") + szPath;
  return nullptr;
}

TEST(V4l2Node, PathsWithARegisteredPrefixGoToItsOpener) {
  test::LogCapture log;
  std::string error;
  EXPECT_EQ(OpenV4l2Node("mute:1", &error), nullptr);  // nothing registered: a file that is not there
  EXPECT_EQ(error, "Cannot open device 'mute:1': No such file or directory.");
  RegisterV4l2NodeOpener("mute:", RefuseMute);
  EXPECT_EQ(OpenV4l2Node("mute:1", &error), nullptr);
  EXPECT_EQ(error, "refused mute:1");
  RegisterV4l2NodeOpener("mute:", OpenMute);  // replaces the first
  V4l2NodeRef node = OpenV4l2Node("mute:1", &error);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Path(), "mute:1");
  int input = 0;
  EXPECT_EQ(node->Ioctl(VIDIOC_G_INPUT, &input), ENOTTY);
  EXPECT_EQ(OpenV4l2Node("mut", &error), nullptr);  // shorter than the prefix: the file system's
  EXPECT_EQ(error, "Cannot open device 'mut': No such file or directory.");
  RegisterV4l2NodeOpener("", OpenMute);  // refused: it would take device files too
  EXPECT_EQ(OpenV4l2Node("/dev/video-ulmora-none", &error), nullptr);
  EXPECT_EQ(error, "Cannot open device '/dev/video-ulmora-none': No such file or directory.");
}

TEST(V4l2Node, AMissingDeviceHasNoCrossbarNoDialogsAndAppliesNothing) {
  test::LogCapture log;
  CrossbarFeed feed = OpenDeviceCrossbar("/dev/null");
  EXPECT_EQ(feed.pXbar, nullptr);
  HRESULT hr = S_OK;
  CCrossbar xbar(feed, &hr);
  EXPECT_EQ(hr, E_FAIL);
  std::string error;
  EXPECT_EQ(CDeviceDialogs::Open("/dev/video-ulmora-none", &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ApplyRememberedControls(std::string("/dev/video-ulmora-none")), 0);
  CDeviceDialogs without("sim:3", nullptr, nullptr);
  DeviceDialogEntries e = without.Entries();
  EXPECT_FALSE(e.bVideoSource || e.bCaptureFilter || e.bCrossbar || e.bSecondCrossbar || e.bTvTuner);
  EXPECT_FALSE(without.SetControl(V4L2_CID_GAIN, 1, &error));
  EXPECT_EQ(error, "The device is no longer connected.");
  // An input crossbar over no node lists nothing and routes nothing.
  CInputCrossbar none(nullptr);
  EXPECT_EQ(none.InputCount(), 0);
  EXPECT_EQ(none.Route(0, 0), E_FAIL);
  int n = 0;
  EXPECT_EQ(none.GetIsRoutedTo(0, &n), E_FAIL);
}
