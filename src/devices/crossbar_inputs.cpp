#include "devices/crossbar_inputs.h"

#include <cerrno>
#include <linux/videodev2.h>

#include "common/log.h"
#include "devices/v4l2_describe.h"
#include "devices/v4l2_query.h"

namespace ulmora {

CInputCrossbar::CInputCrossbar(V4l2NodeRef nodeIn) : node(std::move(nodeIn)) {
  std::vector<v4l2_input> inputs;
  if (!node) return;
  if (int err = V4l2EnumInputs(*node, &inputs)) {
    LogPrintf("V4L2: VIDIOC_ENUMINPUT on %s: %s", node->Path().c_str(), V4l2ErrorText(err).c_str());
    return;
  }
  for (const v4l2_input& input : inputs) {
    inputTypes.push_back(InputPhysicalType(input));
    inputNames.push_back(InputName(input));
  }
}

HRESULT CInputCrossbar::GetPinCounts(int* pnOutputs, int* pnInputs) {
  if (!pnOutputs || !pnInputs) return E_POINTER;
  *pnOutputs = 1;
  *pnInputs = InputCount();
  return S_OK;
}

HRESULT CInputCrossbar::GetPinInfo(bool bIsInput, int nIndex, int* pnRelated, int* pnPhysicalType) {
  if (!pnRelated || !pnPhysicalType) return E_POINTER;
  *pnRelated = -1;
  if (!bIsInput) {
    if (nIndex != 0) return E_FAIL;
    *pnPhysicalType = PhysConn_Video_VideoDecoder;
    return S_OK;
  }
  if (nIndex < 0 || nIndex >= InputCount()) return E_FAIL;
  *pnPhysicalType = inputTypes[static_cast<size_t>(nIndex)];
  return S_OK;
}

HRESULT CInputCrossbar::CanRoute(int nOutput, int nInput) {
  return nOutput == 0 && nInput >= 0 && nInput < InputCount() ? S_OK : S_FALSE;
}

HRESULT CInputCrossbar::Route(int nOutput, int nInput) {
  if (CanRoute(nOutput, nInput) != S_OK) return E_FAIL;
  int nIndex = nInput;
  int err = node->Ioctl(VIDIOC_S_INPUT, &nIndex);
  if (err == EBUSY) return VFW_E_NOT_STOPPED;
  if (err != 0) {
    LogPrintf("V4L2: VIDIOC_S_INPUT %d on %s: %s", nInput, node->Path().c_str(), V4l2ErrorText(err).c_str());
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CInputCrossbar::GetIsRoutedTo(int nOutput, int* pnInput) {
  if (!pnInput) return E_POINTER;
  if (nOutput != 0 || !node) return E_FAIL;
  int nIndex = -1;
  if (node->Ioctl(VIDIOC_G_INPUT, &nIndex) != 0) return E_FAIL;
  *pnInput = nIndex;
  return S_OK;
}

CrossbarRef CInputCrossbar::Upstream(int, int*) { return nullptr; }

std::string CInputCrossbar::PinName(bool bIsInput, int nIndex) {
  if (bIsInput && nIndex >= 0 && nIndex < InputCount()) return inputNames[static_cast<size_t>(nIndex)];
  return bIsInput ? "" : "Video Decoder";
}

bool InputsOfferAChoice(const CInputCrossbar& inputs) {
  if (inputs.InputCount() >= 2) return true;
  return inputs.InputCount() == 1 && inputs.InputType(0) == PhysConn_Video_Tuner;
}

CrossbarFeed OpenDeviceCrossbar(const char* szPath) {
  std::string error;
  V4l2NodeRef node = OpenV4l2Node(szPath, &error);
  if (!node) {
    LogPrintf("Crossbar: %s", error.c_str());
    return {};
  }
  auto xbar = std::make_shared<CInputCrossbar>(node);
  if (!InputsOfferAChoice(*xbar)) return {};
  return {xbar, 0};
}

}  // namespace ulmora
