// The request layer over a node that replays hand-filled V4L2 records, as a driver would answer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/tests/log_capture.h"
#include "devices/controls_store.h"
#include "devices/crossbar.h"
#include "devices/crossbar_inputs.h"
#include "devices/v4l2_query.h"
#include "devices/tests/temp_profile.h"
#include "settings/profile.h"

using namespace ulmora;

namespace {

// A driver-private 64-bit control of the user class.
constexpr uint32_t kUserInt64 = V4L2_CTRL_CLASS_USER | 0x1001;

class ScriptedNode : public IV4l2Node {
 public:
  std::vector<v4l2_input> inputs;
  int nInput = 0;
  int nSetInputErr = 0;
  std::vector<v4l2_query_ext_ctrl> controls;  // in id order
  std::map<uint32_t, int64_t> values;
  std::map<uint32_t, int> setErrs;  // errno for the next set of that id
  std::vector<uint32_t> setOrder;
  std::vector<std::string> audios;
  int nAudio = 0;
  std::vector<std::string> calls;
  std::vector<v4l2_tuner> tuners;
  std::vector<uint32_t> menuHoles;  // QUERYMENU indexes the driver refuses
  bool bStuck = false;              // NEXT_CTRL keeps answering the same id
  bool bMultiPlanar = false;        // formats only for the multi-planar buffer type
  bool bLegacy = false;             // only the control requests of old drivers

  const std::string& Path() const override { return path; }
  // The script is the device: every descriptor answers from it.
  V4l2NodeRef OpenAgain(std::string*) override { return V4l2NodeRef(V4l2NodeRef(), this); }
  int Ioctl(unsigned long req, void* arg) override {
    if (bLegacy && (req == VIDIOC_QUERY_EXT_CTRL || req == VIDIOC_G_EXT_CTRLS || req == VIDIOC_S_EXT_CTRLS))
      return ENOTTY;
    switch (req) {
      case VIDIOC_ENUMINPUT: {
        auto* in = static_cast<v4l2_input*>(arg);
        if (in->index >= inputs.size()) return EINVAL;
        *in = inputs[in->index];
        return 0;
      }
      case VIDIOC_G_INPUT: *static_cast<int*>(arg) = nInput; return 0;
      case VIDIOC_S_INPUT:
        if (nSetInputErr) return nSetInputErr;
        nInput = *static_cast<int*>(arg);
        calls.push_back("input " + std::to_string(nInput));
        return 0;
      case VIDIOC_ENUMAUDIO: {
        auto* a = static_cast<v4l2_audio*>(arg);
        if (audios.empty()) return ENOTTY;
        if (a->index >= audios.size()) return EINVAL;
        strncpy(reinterpret_cast<char*>(a->name), audios[a->index].c_str(), sizeof a->name - 1);
        return 0;
      }
      case VIDIOC_S_AUDIO:
        nAudio = static_cast<int>(static_cast<v4l2_audio*>(arg)->index);
        calls.push_back("audio " + std::to_string(nAudio));
        return 0;
      case VIDIOC_G_AUDIO: static_cast<v4l2_audio*>(arg)->index = static_cast<uint32_t>(nAudio); return 0;
      case VIDIOC_QUERY_EXT_CTRL: return Answer(static_cast<v4l2_query_ext_ctrl*>(arg));
      case VIDIOC_QUERYCTRL: {
        if (!bLegacy) return ENOTTY;
        auto* legacy = static_cast<v4l2_queryctrl*>(arg);
        v4l2_query_ext_ctrl q{};
        q.id = legacy->id;
        if (int err = Answer(&q)) return err;
        legacy->id = q.id;
        legacy->type = q.type;
        memcpy(legacy->name, q.name, sizeof legacy->name);
        legacy->minimum = static_cast<int32_t>(q.minimum);
        legacy->maximum = static_cast<int32_t>(q.maximum);
        legacy->step = 1;
        legacy->flags = q.flags;
        return 0;
      }
      case VIDIOC_G_CTRL: {
        auto* c = static_cast<v4l2_control*>(arg);
        c->value = static_cast<int32_t>(values[c->id]);
        return 0;
      }
      case VIDIOC_S_CTRL: {
        auto* c = static_cast<v4l2_control*>(arg);
        values[c->id] = c->value;
        setOrder.push_back(c->id);
        return 0;
      }
      case VIDIOC_QUERYMENU: {
        auto* m = static_cast<v4l2_querymenu*>(arg);
        for (uint32_t h : menuHoles)
          if (h == m->index) return EINVAL;
        snprintf(reinterpret_cast<char*>(m->name), sizeof m->name, "Item %u", m->index);
        return 0;
      }
      case VIDIOC_G_EXT_CTRLS: {
        auto* cs = static_cast<v4l2_ext_controls*>(arg);
        cs->controls[0].value64 = values[cs->controls[0].id];
        return 0;
      }
      case VIDIOC_S_EXT_CTRLS: {
        auto* cs = static_cast<v4l2_ext_controls*>(arg);
        uint32_t id = cs->controls[0].id;
        if (int e = setErrs[id]) {
          setErrs[id] = 0;
          return e;
        }
        setOrder.push_back(id);
        values[id] = id == kUserInt64 ? cs->controls[0].value64 : cs->controls[0].value;
        return 0;
      }
      case VIDIOC_G_TUNER: {
        auto* t = static_cast<v4l2_tuner*>(arg);
        if (t->index >= tuners.size()) return EINVAL;
        *t = tuners[t->index];
        return 0;
      }
      case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(arg);
        cap->device_caps = bMultiPlanar ? V4L2_CAP_VIDEO_CAPTURE_MPLANE : V4L2_CAP_VIDEO_CAPTURE;
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
      }
      case VIDIOC_ENUM_FMT: {
        auto* f = static_cast<v4l2_fmtdesc*>(arg);
        if (!bMultiPlanar || f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE || f->index > 0) return EINVAL;
        f->pixelformat = V4L2_PIX_FMT_NV12;
        return 0;
      }
      case VIDIOC_G_FMT: {
        auto* f = static_cast<v4l2_format*>(arg);
        if (!bMultiPlanar || f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) return EINVAL;
        f->fmt.pix_mp.pixelformat = V4L2_PIX_FMT_NV12;
        f->fmt.pix_mp.width = 1280;
        f->fmt.pix_mp.height = 720;
        return 0;
      }
      case VIDIOC_G_FREQUENCY: static_cast<v4l2_frequency*>(arg)->frequency = 1000; return 0;
      default: return ENOTTY;
    }
  }

  int Answer(v4l2_query_ext_ctrl* q) {
    bool bNext = q->id & V4L2_CTRL_FLAG_NEXT_CTRL;
    uint32_t id = q->id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
    for (auto& c : controls)
      if (bNext ? (c.id > id || (bStuck && c.id == controls.front().id)) : c.id == id) {
        *q = c;
        return 0;
      }
    return EINVAL;
  }

  void AddControl(uint32_t id, uint32_t type, const char* name, int64_t lo, int64_t hi, uint32_t flags = 0) {
    v4l2_query_ext_ctrl q{};
    q.id = id;
    q.type = type;
    strncpy(q.name, name, sizeof q.name - 1);
    q.minimum = lo;
    q.maximum = hi;
    q.step = 1;
    q.flags = flags;
    controls.push_back(q);
  }
  void AddInput(uint32_t type, const char* name, uint32_t tuner = 0, uint32_t audioset = 0) {
    v4l2_input in{};
    in.audioset = audioset;
    in.index = static_cast<uint32_t>(inputs.size());
    in.type = type;
    in.tuner = tuner;
    strncpy(reinterpret_cast<char*>(in.name), name, sizeof in.name - 1);
    inputs.push_back(in);
  }

 private:
  std::string path = "/dev/video-scripted";
};

}  // namespace

TEST(V4l2Query, ControlsAreGroupedUnderTheDriversClassNamesWithMenusAndValues) {
  ScriptedNode node;
  node.AddControl(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0);
  node.AddControl(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255);
  node.AddControl(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255, V4L2_CTRL_FLAG_DISABLED);
  node.AddControl(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 3);
  node.AddControl(kUserInt64, V4L2_CTRL_TYPE_INTEGER64, "Pixel Rate", 0, INT64_MAX);
  node.AddControl(V4L2_CID_CAMERA_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "Camera Controls", 0, 0);
  node.AddControl(V4L2_CID_PAN_RESET, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0);
  node.AddControl(V4L2_CID_FLASH_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "Flash Controls", 0, 0);
  node.values[V4L2_CID_BRIGHTNESS] = 77;
  node.values[kUserInt64] = int64_t{1} << 40;
  node.menuHoles = {1};
  std::vector<ControlGroupDescription> groups;
  ASSERT_EQ(V4l2DescribeControls(node, &groups), 0);
  ASSERT_EQ(groups.size(), 2u);  // the flash class has nothing to show
  EXPECT_EQ(groups[0].name, "User Controls");
  ASSERT_EQ(groups[0].controls.size(), 3u);
  EXPECT_EQ(groups[0].controls[0].nValue, 77);
  const ControlDescription& menu = groups[0].controls[1];
  ASSERT_EQ(menu.menu.size(), 3u);
  EXPECT_EQ(menu.menu[1].nIndex, 2);
  EXPECT_EQ(menu.menu[1].text, "Item 2");
  EXPECT_EQ(groups[0].controls[2].nValue, int64_t{1} << 40);
  EXPECT_EQ(groups[1].name, "Camera Controls");
  EXPECT_EQ(groups[1].controls[0].kind, ControlKind::Button);

  EXPECT_EQ(V4l2SetControl(node, kUserInt64, int64_t{3} << 33), 0);
  EXPECT_EQ(node.values[kUserInt64], int64_t{3} << 33);
  EXPECT_EQ(V4l2SetControl(node, V4L2_CID_BRIGHTNESS, int64_t{1} << 33), ERANGE);
  EXPECT_EQ(V4l2SetControl(node, V4L2_CID_CONTRAST, 5), EACCES);
  int64_t v = 0;
  EXPECT_EQ(V4l2GetControl(node, V4L2_CID_PAN_RESET, &v), EACCES);
  EXPECT_EQ(V4l2SetControl(node, V4L2_CID_PAN_RESET, 0), 0);
  EXPECT_EQ(V4l2SetControl(node, V4L2_CID_GAMMA, 0), EINVAL);
}

TEST(V4l2Query, OldDriversAreAskedWithTheOldRequests) {
  ScriptedNode node;
  node.bLegacy = true;
  node.AddControl(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255);
  node.AddControl(V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -128, 127);
  node.values[V4L2_CID_HUE] = -3;
  std::vector<ControlGroupDescription> groups;
  ASSERT_EQ(V4l2DescribeControls(node, &groups), 0);
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].controls.size(), 2u);
  EXPECT_EQ(groups[0].controls[1].name, "Hue");
  EXPECT_EQ(groups[0].controls[1].nMinimum, -128);
  EXPECT_EQ(groups[0].controls[1].nValue, -3);
  EXPECT_EQ(V4l2SetControl(node, V4L2_CID_BRIGHTNESS, 200), 0);
  EXPECT_EQ(node.values[V4L2_CID_BRIGHTNESS], 200);
}

TEST(V4l2Query, ADriverThatDoesNotMoveOnEndsTheList) {
  ScriptedNode node;
  node.AddControl(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255);
  node.bStuck = true;
  std::vector<ControlGroupDescription> groups;
  EXPECT_EQ(V4l2DescribeControls(node, &groups), 0);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].controls.size(), 1u);
}

TEST(V4l2Query, InputsOfferAChoiceAndABusyDeviceAsksForARestart) {
  test::TempProfile profile;
  auto node = std::make_shared<ScriptedNode>();
  node->AddInput(V4L2_INPUT_TYPE_CAMERA, "Camera 1");
  EXPECT_FALSE(InputsOfferAChoice(CInputCrossbar(node)));
  node->inputs[0].type = V4L2_INPUT_TYPE_TUNER;
  EXPECT_TRUE(InputsOfferAChoice(CInputCrossbar(node)));
  node->AddInput(V4L2_INPUT_TYPE_CAMERA, "Composite1");
  node->AddInput(V4L2_INPUT_TYPE_CAMERA, "S-Video");
  auto inputs = std::make_shared<CInputCrossbar>(node);
  EXPECT_EQ(inputs->PinName(true, 2), "S-Video");
  HRESULT hr = E_FAIL;
  CCrossbar xbar({inputs, 0}, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(ChooseInitialRoute(xbar), 1);

  node->nSetInputErr = EBUSY;
  EXPECT_EQ(xbar.SetInputIndex(2), VFW_E_NOT_STOPPED);
  EXPECT_EQ(node->nInput, 0);
  auto stop = [&] { node->nSetInputErr = 0; return true; };
  auto start = [] { return true; };
  EXPECT_EQ(SetInputIndexRestarting(xbar, 2, stop, start), S_OK);
  EXPECT_EQ(node->nInput, 2);
  EXPECT_EQ(SyncInputFromHardware(xbar, *inputs), 2);

  test::LogCapture log;
  node->nSetInputErr = EIO;
  EXPECT_EQ(inputs->Route(0, 1), E_FAIL);
  EXPECT_TRUE(log.Contains("VIDIOC_S_INPUT 1 on /dev/video-scripted"));
}

TEST(V4l2Query, AudioInputsAreRelatedPinsThatFollowTheirVideoInput) {
  test::TempProfile profile;
  auto node = std::make_shared<ScriptedNode>();
  node->AddInput(V4L2_INPUT_TYPE_TUNER, "Television", 0, 0x1);
  node->AddInput(V4L2_INPUT_TYPE_CAMERA, "Composite", 0, 0x6);  // takes line 1 or 2: the first is related
  node->AddInput(V4L2_INPUT_TYPE_CAMERA, "S-Video");            // no sound of its own
  node->audios = {"TV Tuner", "Line In 1", "Line In 2"};
  auto inputs = std::make_shared<CInputCrossbar>(node);
  int nOut = 0, nIn = 0, nRelated = 0, nType = 0;
  ASSERT_EQ(inputs->GetPinCounts(&nOut, &nIn), S_OK);
  EXPECT_EQ(nOut, 2);
  EXPECT_EQ(nIn, 6);
  ASSERT_EQ(inputs->GetPinInfo(true, 3, &nRelated, &nType), S_OK);
  EXPECT_EQ(nType, PhysConn_Audio_Tuner);
  EXPECT_EQ(nRelated, 0);
  ASSERT_EQ(inputs->GetPinInfo(true, 5, &nRelated, &nType), S_OK);
  EXPECT_EQ(nType, PhysConn_Audio_Line);
  EXPECT_EQ(nRelated, -1);
  EXPECT_EQ(inputs->PinName(true, 4), "Line In 1");
  EXPECT_EQ(inputs->CanRoute(0, 3), S_FALSE);
  EXPECT_EQ(inputs->CanRoute(1, 4), S_OK);

  HRESULT hr = E_FAIL;
  CCrossbar xbar({inputs, 0}, &hr);
  int n = 0;
  ASSERT_EQ(xbar.GetInputCount(&n), S_OK);
  ASSERT_EQ(n, 3);  // the audio inputs are no routes
  EXPECT_EQ(xbar.SetInputIndex(1), S_OK);
  EXPECT_EQ(xbar.SetInputIndex(2), S_OK);
  EXPECT_EQ(xbar.SetInputIndex(0), S_OK);
  EXPECT_EQ(node->calls, (std::vector<std::string>{"input 1", "audio 1", "input 2", "input 0", "audio 0"}));
  int nRouted = -1;
  EXPECT_EQ(inputs->GetIsRoutedTo(1, &nRouted), S_OK);
  EXPECT_EQ(nRouted, 3);
}

TEST(V4l2Query, TheTunerIsTheCurrentInputsOne) {
  ScriptedNode node;
  node.AddInput(V4L2_INPUT_TYPE_CAMERA, "Composite");
  node.AddInput(V4L2_INPUT_TYPE_TUNER, "Television", 1);
  node.tuners.resize(2);
  strncpy(reinterpret_cast<char*>(node.tuners[1].name), "Second tuner", sizeof node.tuners[1].name - 1);
  node.tuners[1].rangehigh = 20000;
  node.nInput = 1;
  TunerDescription t;
  ASSERT_EQ(V4l2DescribeTuner(node, &t), 0);
  EXPECT_EQ(t.name, "Second tuner");
  EXPECT_EQ(t.nFrequencyHz, 62500000u);
  VideoSourceDescription source;
  EXPECT_EQ(V4l2DescribeSource(node, &source), EINVAL);
  node.bMultiPlanar = true;
  ASSERT_EQ(V4l2DescribeSource(node, &source), 0);
  ASSERT_EQ(source.formats.size(), 1u);
  EXPECT_EQ(source.formats[0].fourcc, "NV12");
  EXPECT_EQ(source.nCurrentWidth, 1280u);
}

TEST(V4l2Query, RememberedValuesAreAppliedInOrderAndARefusedOneIsRetried) {
  test::TempProfile profile;
  ScriptedNode node;
  node.AddControl(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3);
  node.AddControl(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure", 3, 2047);
  node.AddControl(V4L2_CID_PAN_RESET, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0);
  RememberControl("usb-cam", V4L2_CID_EXPOSURE_ABSOLUTE, 900);
  RememberControl("usb-cam", V4L2_CID_EXPOSURE_AUTO, 1);
  RememberControl("usb-cam", V4L2_CID_PAN_RESET, 0);
  node.setErrs[V4L2_CID_EXPOSURE_ABSOLUTE] = EACCES;  // still under automatic exposure
  EXPECT_EQ(ApplyRememberedControls(node, "usb-cam"), 2);
  EXPECT_EQ(node.setOrder,
            (std::vector<uint32_t>{V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE}));
  EXPECT_EQ(node.values[V4L2_CID_EXPOSURE_ABSOLUTE], 900);
}
