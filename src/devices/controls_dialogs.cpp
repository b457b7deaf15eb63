#include "devices/controls_dialogs.h"

#include <cerrno>
#include <linux/videodev2.h>

#include "common/log.h"
#include "devices/controls_store.h"
#include "devices/crossbar_inputs.h"
#include "devices/v4l2_describe.h"
#include "devices/v4l2_query.h"

namespace ulmora {

namespace {

// Stands in for a device that could not be given: every request finds it gone.
class AbsentNode : public IV4l2Node {
 public:
  int Ioctl(unsigned long, void*) override { return ENODEV; }
  const std::string& Path() const override { return path; }

 private:
  std::string path;
};

}  // namespace

std::unique_ptr<CDeviceDialogs> CDeviceDialogs::Open(const std::string& identity, std::string* error) {
  V4l2NodeRef node = OpenV4l2Node(identity.c_str(), error);
  if (!node) return nullptr;
  auto inputs = std::make_shared<CInputCrossbar>(node);
  CrossbarRef crossbar;
  if (InputsOfferAChoice(*inputs)) crossbar = inputs;
  return std::make_unique<CDeviceDialogs>(identity, node, crossbar);
}

CDeviceDialogs::CDeviceDialogs(std::string identityIn, V4l2NodeRef nodeIn, CrossbarRef crossbarIn)
    : identity(std::move(identityIn)), node(std::move(nodeIn)), crossbar(std::move(crossbarIn)) {
  if (!node) node = std::make_shared<AbsentNode>();
}

bool CDeviceDialogs::Check(int err, const char* what, std::string* error) {
  if (err == 0) return true;
  std::string text = std::string("The device did not accept ") + what + ": " + V4l2ErrorText(err) + ".";
  if (err == ENODEV) text = "The device is no longer connected.";
  LogPrintf("Device dialogs: %s on %s: %s", what, identity.c_str(), V4l2ErrorText(err).c_str());
  if (error) *error = text;
  return false;
}

DeviceDialogEntries CDeviceDialogs::Entries() {
  // Asked at every device choice: a USB camera answers each request over the bus, so only the
  // first answer of each kind is read here.
  DeviceDialogEntries e;
  e.bVideoSource = V4l2HasSourceChoices(*node);
  e.bCaptureFilter = V4l2HasControls(*node);
  e.bCrossbar = CrossbarAt(0) != nullptr;
  e.bSecondCrossbar = CrossbarAt(1) != nullptr;
  TunerDescription tuner;
  e.bTvTuner = V4l2DescribeTuner(*node, &tuner) == 0;
  return e;
}

bool CDeviceDialogs::DescribeControls(std::vector<ControlGroupDescription>* groups, std::string* error) {
  return Check(V4l2DescribeControls(*node, groups), "the control query", error);
}

bool CDeviceDialogs::ReadControl(uint32_t nId, int64_t* pnValue, std::string* error) {
  return Check(V4l2GetControl(*node, nId, pnValue), "reading the control", error);
}

bool CDeviceDialogs::SetControl(uint32_t nId, int64_t nValue, std::string* error, int64_t* pnApplied) {
  v4l2_query_ext_ctrl q{};
  q.id = nId;
  if (!Check(V4l2QueryControl(*node, &q), "the value", error)) return false;
  int64_t applied = nValue;
  if (!Check(V4l2SetQueriedControl(*node, q, nValue, &applied), "the value", error)) return false;
  if (pnApplied) *pnApplied = applied;
  if (IsRememberable(q)) RememberControl(identity, nId, applied);
  return true;
}

bool CDeviceDialogs::ResetControls(std::string* error) {
  bool bValueRefused = false;
  const int err = V4l2ResetControls(*node, &bValueRefused);
  if (err == 0 || bValueRefused) ForgetControls(identity);
  return Check(err, bValueRefused ? "a default value" : "the control query", error);
}

bool CDeviceDialogs::DescribeSource(VideoSourceDescription* source, std::string* error) {
  return Check(V4l2DescribeSource(*node, source), "the format query", error);
}

bool CDeviceDialogs::SetStandard(uint64_t nStandard, std::string* error) {
  v4l2_std_id id = nStandard;
  if (!Check(node->Ioctl(VIDIOC_S_STD, &id), "the video standard", error)) return false;
  RememberStandard(identity, nStandard);
  return true;
}

bool CDeviceDialogs::ChooseFrameFormat(const FrameFormatChoice& choice, std::string* error) {
  if (const char* refusal = FrameFormatRefusal(choice.nFourcc)) {
    if (error) *error = refusal;
    return false;
  }
  VideoSourceDescription source;
  if (!DescribeSource(&source, error)) return false;
  for (const FrameFormatDescription& f : source.formats) {
    if (f.nFourcc != choice.nFourcc) continue;
    for (const FrameSizeDescription& size : f.sizes) {
      bool bSize = size.bRange ? choice.nWidth >= size.nMinWidth && choice.nWidth <= size.nWidth &&
                                     choice.nHeight >= size.nMinHeight && choice.nHeight <= size.nHeight
                               : choice.nWidth == size.nWidth && choice.nHeight == size.nHeight;
      if (!bSize) continue;
      if (RememberFrameFormat(identity, choice)) return true;
      if (error) *error = "The format could not be stored in the settings file.";
      return false;
    }
  }
  if (error) *error = "The device does not offer that format.";
  return false;
}

CrossbarRef CDeviceDialogs::CrossbarAt(int nWhich) {
  if (nWhich == 0 || !crossbar) return crossbar;
  if (nWhich != 1) return nullptr;
  int nOutputs = 0, nInputs = 0;
  if (FAILED(crossbar->GetPinCounts(&nOutputs, &nInputs))) return nullptr;
  for (int i = 0; i < nInputs; ++i) {
    int nUpOutput = 0;
    if (CrossbarRef up = crossbar->Upstream(i, &nUpOutput)) return up;
  }
  return nullptr;
}

bool CDeviceDialogs::DescribeCrossbar(int nWhich, CrossbarDescription* out, std::string* error) {
  CrossbarRef x = CrossbarAt(nWhich);
  int nOutputs = 0, nInputs = 0;
  if (!x || FAILED(x->GetPinCounts(&nOutputs, &nInputs))) {
    if (error) *error = "The device has no such crossbar.";
    return false;
  }
  *out = {};
  for (int i = 0; i < nInputs; ++i) {
    CrossbarPinDescription p;
    p.nIndex = i;
    if (FAILED(x->GetPinInfo(true, i, &p.nRelated, &p.nPhysicalType))) continue;
    p.typeName = PhysicalTypeName(p.nPhysicalType);
    p.name = x->PinName(true, i);
    out->inputs.push_back(std::move(p));
  }
  for (int o = 0; o < nOutputs; ++o) {
    CrossbarPinDescription p;
    p.nIndex = o;
    if (FAILED(x->GetPinInfo(false, o, &p.nRelated, &p.nPhysicalType))) continue;
    p.typeName = PhysicalTypeName(p.nPhysicalType);
    p.name = x->PinName(false, o);
    if (FAILED(x->GetIsRoutedTo(o, &p.nRoutedTo))) p.nRoutedTo = -1;
    for (int i = 0; i < nInputs; ++i)
      if (x->CanRoute(o, i) == S_OK) p.routableFrom.push_back(i);
    out->outputs.push_back(std::move(p));
  }
  return true;
}

HRESULT CDeviceDialogs::RouteCrossbar(int nWhich, int nOutput, int nInput) {
  CrossbarRef x = CrossbarAt(nWhich);
  if (!x) return E_POINTER;
  if (x->CanRoute(nOutput, nInput) != S_OK) return E_FAIL;
  return x->Route(nOutput, nInput);
}

bool CDeviceDialogs::DescribeTuner(TunerDescription* tuner, std::string* error) {
  return Check(V4l2DescribeTuner(*node, tuner), "the tuner query", error);
}

bool CDeviceDialogs::SetFrequency(uint64_t nHz, std::string* error) {
  if (!Check(V4l2SetFrequency(*node, nHz), "the frequency", error)) return false;
  RememberFrequency(identity, nHz);
  return true;
}

bool CDeviceDialogs::SetAudioMode(uint32_t nMode, std::string* error) {
  return Check(V4l2SetAudioMode(*node, nMode), "the audio mode", error);
}

}  // namespace ulmora
