#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/tests/log_capture.h"
#include "devices/controls_dialogs.h"
#include "devices/crossbar.h"
#include "devices/tests/temp_profile.h"
#include "devices/tests/test_crossbar.h"
#include "settings/profile.h"
#include "settings/profile_keys.h"

using namespace ulmora;
using ulmora::test::TestCrossbar;

namespace {

class Crossbar : public ::testing::Test {
 protected:
  test::TempProfile profile;
  test::LogCapture log;
};

// Tuner, composite, S-Video and an audio line input, all routable to one video output.
std::shared_ptr<TestCrossbar> CardCrossbar() {
  auto x = std::make_shared<TestCrossbar>("card");
  x->AddInput(PhysConn_Video_Tuner);
  x->AddInput(PhysConn_Video_Composite);
  x->AddInput(PhysConn_Video_SVideo);
  x->AddInput(PhysConn_Audio_Line);
  x->AddOutput(PhysConn_Video_VideoDecoder);
  return x;
}

std::vector<int> Types(const CCrossbar& c) {
  int n = 0;
  EXPECT_EQ(c.GetInputCount(&n), S_OK);
  std::vector<int> types;
  for (int i = 0; i < n; ++i) {
    int t = 0;
    EXPECT_EQ(c.GetInputType(i, &t), S_OK);
    types.push_back(t);
  }
  return types;
}

}  // namespace

TEST_F(Crossbar, OneCrossbarGivesItsVideoInputsInOrderAndNeverTheAudioOne) {
  HRESULT hr = E_FAIL;
  CCrossbar c({CardCrossbar(), 0}, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Types(c), (std::vector<int>{1, 2, 3}));
  char name[64];
  ASSERT_EQ(c.GetInputName(2, name, sizeof name), S_OK);
  EXPECT_STREQ(name, "Video SVideo");
  char small[6];
  ASSERT_EQ(c.GetInputName(0, small, sizeof small), S_OK);
  EXPECT_STREQ(small, "Video");
  EXPECT_EQ(c.GetInputName(3, name, sizeof name), E_FAIL);
  EXPECT_EQ(c.GetInputName(0, nullptr, 10), E_FAIL);
  int t = 0;
  EXPECT_EQ(c.GetInputType(3, &t), E_FAIL);
  EXPECT_EQ(c.GetInputType(0, nullptr), E_POINTER);
  EXPECT_EQ(c.GetInputCount(nullptr), E_POINTER);
}

TEST_F(Crossbar, ChainedCrossbarsAreSearchedDepthFirstAndRoutedFromUpstreamDown) {
  std::vector<std::string> calls;
  auto up = std::make_shared<TestCrossbar>("up");
  up->AddInput(PhysConn_Video_Tuner);
  up->AddInput(PhysConn_Video_SVideo);
  up->AddOutput(PhysConn_Video_Composite);
  auto down = std::make_shared<TestCrossbar>("down");
  down->AddInput(PhysConn_Video_USB, -1, up, 0);
  down->AddInput(PhysConn_Video_Composite);
  down->AddOutput(PhysConn_Video_VideoDecoder);
  up->sharedLog = down->sharedLog = &calls;

  HRESULT hr = E_FAIL;
  CCrossbar c({down, 0}, &hr);
  ASSERT_EQ(hr, S_OK);
  // Input 0 of the downstream crossbar first, and within it the upstream inputs in order.
  EXPECT_EQ(Types(c), (std::vector<int>{1, 3, 2}));
  const CrossbarRoute* r = c.Route(1);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->size(), 2u);
  EXPECT_EQ((*r)[0].pXbar.get(), up.get());
  EXPECT_EQ((*r)[0].Depth, 1);
  EXPECT_EQ((*r)[1].pXbar.get(), down.get());
  EXPECT_EQ(c.Route(2)->size(), 1u);

  EXPECT_EQ(c.SetInputIndex(1), S_OK);
  EXPECT_EQ(calls, (std::vector<std::string>{"up:0<-1", "down:0<-0"}));
  EXPECT_EQ(c.CurrentRoute(), 1);
  calls.clear();
  EXPECT_EQ(c.SetInputIndex(3), E_FAIL);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(c.CurrentRoute(), 1);
}

TEST_F(Crossbar, AnUpstreamCrossbarWithoutRoutableVideoAddsNoRoute) {
  auto up = std::make_shared<TestCrossbar>("up");
  up->AddInput(PhysConn_Video_Tuner);
  up->AddInput(PhysConn_Audio_Tuner);
  up->AddOutput(PhysConn_Video_Composite);
  up->ForbidRoute(0, 0);
  auto down = CardCrossbar();
  down->inputs[1].pUpstream = up;
  HRESULT hr = E_FAIL;
  CCrossbar c({down, 0}, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Types(c), (std::vector<int>{1, 3}));
}

TEST_F(Crossbar, RelatedAudioPinsAreRoutedOnlyWhenBothExist) {
  std::vector<std::string> calls;
  auto x = std::make_shared<TestCrossbar>("x");
  x->AddInput(PhysConn_Video_Composite, 2);  // its audio is input 2
  x->AddInput(PhysConn_Video_SVideo);        // no audio partner
  x->AddInput(PhysConn_Audio_Line, 0);
  x->AddOutput(PhysConn_Video_VideoDecoder, 1);
  x->AddOutput(PhysConn_Audio_AudioDecoder, 0);
  x->sharedLog = &calls;
  HRESULT hr = E_FAIL;
  CCrossbar c({x, 0}, &hr);
  ASSERT_EQ(Types(c), (std::vector<int>{2, 3}));
  EXPECT_EQ(c.Route(0)->front().AudioInputIndex, 2);
  EXPECT_EQ(c.Route(0)->front().AudioOutputIndex, 1);
  EXPECT_EQ(c.SetInputIndex(0), S_OK);
  EXPECT_EQ(calls, (std::vector<std::string>{"x:0<-0", "x:1<-2"}));
  calls.clear();
  EXPECT_EQ(c.SetInputIndex(1), S_OK);
  EXPECT_EQ(calls, (std::vector<std::string>{"x:0<-1"}));
}

TEST_F(Crossbar, NothingFeedingTheDeviceFailsWithNoRoutesAndStoresNothing) {
  {
    HRESULT hr = S_OK;
    CCrossbar c(CrossbarFeed{}, &hr);
    EXPECT_EQ(hr, E_FAIL);
    int n = -1;
    EXPECT_EQ(c.GetInputCount(&n), S_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ChooseInitialRoute(c), -1);
    EXPECT_EQ(c.SetInputIndex(0), E_FAIL);
  }
  char text[32];
  EXPECT_EQ(ProfileGetString(kSectionNocta, "CrosInPhysicalType", "none", text, sizeof text), 4u);
}

TEST_F(Crossbar, TheRouteTypeInUseIsRememberedAndPreselectedNextTime) {
  {
    HRESULT hr = E_FAIL;
    CCrossbar c({CardCrossbar(), 0}, &hr);
    int t = 0;
    ASSERT_EQ(c.GetPreferredInputType(&t), S_OK);
    EXPECT_EQ(t, PhysConn_Video_Composite);  // nothing stored yet
    EXPECT_EQ(ChooseInitialRoute(c), 1);
    ASSERT_EQ(c.SetInputIndex(2), S_OK);
  }
  EXPECT_EQ(ProfileReadInt(ProfileKey::CrosInPhysicalType), 3);
  HRESULT hr = E_FAIL;
  CCrossbar again({CardCrossbar(), 0}, &hr);
  int t = 0;
  EXPECT_EQ(again.GetPreferredInputType(&t), S_OK);
  EXPECT_EQ(t, 3);
  EXPECT_EQ(ChooseInitialRoute(again), 2);
}

TEST_F(Crossbar, AStoredTypeOfZeroOrBelowMeansCompositeAndATunerOnlyCardTakesTheTuner) {
  ProfileWriteString(kSectionNocta, "CrosInPhysicalType", "-4");
  auto x = std::make_shared<TestCrossbar>("tv");
  x->AddInput(PhysConn_Video_SVideo);
  x->AddInput(PhysConn_Video_Tuner);
  x->AddOutput(PhysConn_Video_VideoDecoder);
  HRESULT hr = E_FAIL;
  CCrossbar c({x, 0}, &hr);
  int t = 0;
  EXPECT_EQ(c.GetPreferredInputType(&t), S_OK);
  EXPECT_EQ(t, PhysConn_Video_Composite);
  EXPECT_EQ(ChooseInitialRoute(c), 1);
}

TEST_F(Crossbar, ABusyDeviceIsStoppedSwitchedAndStartedAgain) {
  auto x = CardCrossbar();
  HRESULT hr = E_FAIL;
  CCrossbar c({x, 0}, &hr);
  ASSERT_EQ(c.SetInputIndex(0), S_OK);
  x->bBusy = true;
  EXPECT_EQ(c.SetInputIndex(2), VFW_E_NOT_STOPPED);
  EXPECT_EQ(c.CurrentRoute(), 0);
  EXPECT_EQ(x->routedTo[0], 0);

  int nStops = 0, nStarts = 0;
  auto stop = [&] { ++nStops; x->bBusy = false; return true; };
  auto start = [&] { ++nStarts; x->bBusy = true; return true; };
  EXPECT_EQ(SetInputIndexRestarting(c, 2, stop, start), S_OK);
  EXPECT_EQ(nStops, 1);
  EXPECT_EQ(nStarts, 1);
  EXPECT_EQ(x->routedTo[0], 2);
  EXPECT_EQ(c.CurrentRoute(), 2);

  // A graph that cannot be stopped keeps its input and is not started again.
  auto failStop = [&] { ++nStops; return false; };
  EXPECT_EQ(SetInputIndexRestarting(c, 1, failStop, start), VFW_E_NOT_STOPPED);
  EXPECT_EQ(nStarts, 1);
  EXPECT_EQ(x->routedTo[0], 2);
}

TEST_F(Crossbar, TheHardwareRoutingIsReadBack) {
  auto x = CardCrossbar();
  HRESULT hr = E_FAIL;
  CCrossbar c({x, 0}, &hr);
  EXPECT_EQ(SyncInputFromHardware(c, *x), -1);  // nothing routed yet
  x->routedTo[0] = 2;
  EXPECT_EQ(SyncInputFromHardware(c, *x), 2);
  EXPECT_EQ(c.CurrentRoute(), 2);
  x->routedTo[0] = 3;  // the audio input is no route
  EXPECT_EQ(SyncInputFromHardware(c, *x), -1);
  EXPECT_EQ(c.CurrentRoute(), 2);
}

TEST(CrossbarNames, EveryKnownTypeHasItsNameAndTheRestAreUnknown) {
  EXPECT_STREQ(PhysicalTypeName(1), "Video Tuner");
  EXPECT_STREQ(PhysicalTypeName(12), "Video Decoder");
  EXPECT_STREQ(PhysicalTypeName(13), "Video Encoder");
  EXPECT_STREQ(PhysicalTypeName(4096), "Audio Tuner");
  EXPECT_STREQ(PhysicalTypeName(4105), "Audio Decoder");
  EXPECT_STREQ(PhysicalTypeName(0), "Unknown");
  EXPECT_STREQ(PhysicalTypeName(14), "Unknown");
  EXPECT_STREQ(PhysicalTypeName(4106), "Unknown");
}

TEST_F(Crossbar, TheDialogsOfferTheSecondCrossbarOfAChain) {
  auto up = std::make_shared<TestCrossbar>("up");
  up->AddInput(PhysConn_Video_Tuner);
  up->AddInput(PhysConn_Video_SVideo);
  up->AddOutput(PhysConn_Video_Composite);
  auto down = CardCrossbar();
  down->inputs[1].pUpstream = up;
  CDeviceDialogs dialogs("chain", nullptr, down);
  DeviceDialogEntries e = dialogs.Entries();
  EXPECT_TRUE(e.bCrossbar);
  EXPECT_TRUE(e.bSecondCrossbar);
  CrossbarDescription second;
  std::string error;
  ASSERT_TRUE(dialogs.DescribeCrossbar(1, &second, &error));
  ASSERT_EQ(second.inputs.size(), 2u);
  EXPECT_EQ(second.inputs[1].typeName, "Video SVideo");
  EXPECT_EQ(second.inputs[1].name, "up in 1");
  EXPECT_EQ(dialogs.RouteCrossbar(1, 0, 1), S_OK);
  EXPECT_EQ(up->routedTo[0], 1);
  EXPECT_EQ(dialogs.RouteCrossbar(0, 0, 9), E_FAIL);
  EXPECT_EQ(dialogs.RouteCrossbar(2, 0, 0), E_POINTER);
}
