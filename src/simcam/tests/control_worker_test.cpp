// The controls dialog's worker on the simulated camera answering each request in 50 ms: values of a
// drag are coalesced to the newest, outcomes carry what the device applied, and Default runs there too.
#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <string>

#include "devices/control_worker.h"
#include "devices/v4l2_node.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"

namespace ulmora {
namespace {

class ControlWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(EnableSimCamera("controls,latency=50", &error)) << error;
    node = OpenV4l2Node("sim:0", &error);
    ASSERT_NE(node, nullptr) << error;
  }
  void TearDown() override {
    node.reset();
    DisableSimCamera();
  }
  V4l2NodeRef node;
};

TEST_F(ControlWorkerTest, ADragSendsTheNewestValueOnceTheDeviceIsFree) {
  const uint32_t before = SimControlWrites(0);
  CControlWorker worker(node);
  for (int v = 1; v <= 40; ++v) worker.Set(V4L2_CID_GAIN, v);
  worker.Set(V4L2_CID_CONTRAST, 102);
  EXPECT_TRUE(worker.Pending(V4L2_CID_GAIN));
  worker.Drain();
  EXPECT_FALSE(worker.Pending(V4L2_CID_GAIN));
  int64_t gain = 0;
  ASSERT_TRUE(SimGetControl(0, V4L2_CID_GAIN, &gain));
  EXPECT_EQ(gain, 40);
  // The first value went out at once; the 39 after it waited and only the last was sent.
  EXPECT_LE(SimControlWrites(0) - before, 3u);
  bool contrastSeen = false;
  for (const ControlOutcome& o : worker.TakeOutcomes()) {
    EXPECT_EQ(o.err, 0) << o.error;
    if (o.nId == V4L2_CID_CONTRAST) {
      contrastSeen = true;
      EXPECT_EQ(o.nApplied, 104);  // the device's step is 4
      EXPECT_TRUE(o.bRememberable);
    }
  }
  EXPECT_TRUE(contrastSeen);
}

TEST_F(ControlWorkerTest, DefaultAndRefusalsComeBackAsOutcomes) {
  CControlWorker worker(node);
  worker.Set(V4L2_CID_EXPOSURE_ABSOLUTE, 900);  // ruled by the automatic exposure: refused
  worker.Set(V4L2_CID_PAN_RELATIVE, 3);
  worker.Drain();
  std::vector<ControlOutcome> outcomes = worker.TakeOutcomes();
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].err, EIO);
  EXPECT_FALSE(outcomes[0].error.empty());
  EXPECT_EQ(outcomes[1].err, 0);
  EXPECT_FALSE(outcomes[1].bRememberable);  // an action, not a setting

  worker.Set(V4L2_CID_GAIN, 30);
  worker.Reset();
  worker.Drain();
  outcomes = worker.TakeOutcomes();
  ASSERT_FALSE(outcomes.empty());
  EXPECT_EQ(outcomes.back().kind, ControlOutcome::Kind::kReset);
  EXPECT_EQ(outcomes.back().err, 0) << outcomes.back().error;
  EXPECT_FALSE(outcomes.back().groups.empty());
  int64_t gain = 0;
  ASSERT_TRUE(SimGetControl(0, V4L2_CID_GAIN, &gain));
  EXPECT_EQ(gain, 8);
  EXPECT_EQ(SimPanMoves(0), 1u);
}

}  // namespace
}  // namespace ulmora
