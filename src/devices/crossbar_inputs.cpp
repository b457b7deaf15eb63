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
  for (uint32_t i = 0; i < 32; ++i) {
    v4l2_audio audio{};
    audio.index = i;
    if (node->Ioctl(VIDIOC_ENUMAUDIO, &audio) != 0) break;  // EINVAL past the end, ENOTTY without audio
    const std::string name = FieldText(audio.name);
    audioNames.push_back(name);
    audioTypes.push_back(AudioPhysicalType(name));
  }
  const int nVideo = static_cast<int>(inputs.size());
  for (const v4l2_input& input : inputs) {
    inputTypes.push_back(InputPhysicalType(input));
    inputNames.push_back(InputName(input));
    int nRelated = -1;
    for (int j = 0; j < AudioInputCount() && j < 32; ++j)
      if (input.audioset & (1u << j)) {
        nRelated = nVideo + j;
        break;
      }
    inputAudio.push_back(nRelated);
  }
}

HRESULT CInputCrossbar::GetPinCounts(int* pnOutputs, int* pnInputs) {
  if (!pnOutputs || !pnInputs) return E_POINTER;
  *pnOutputs = AudioInputCount() > 0 ? 2 : 1;
  *pnInputs = InputCount() + AudioInputCount();
  return S_OK;
}

HRESULT CInputCrossbar::GetPinInfo(bool bIsInput, int nIndex, int* pnRelated, int* pnPhysicalType) {
  if (!pnRelated || !pnPhysicalType) return E_POINTER;
  *pnRelated = -1;
  const bool bAudio = AudioInputCount() > 0;
  if (!bIsInput) {
    if (nIndex == 0) {
      *pnPhysicalType = PhysConn_Video_VideoDecoder;
      *pnRelated = bAudio ? 1 : -1;
      return S_OK;
    }
    if (nIndex != 1 || !bAudio) return E_FAIL;
    *pnPhysicalType = PhysConn_Audio_AudioDecoder;
    *pnRelated = 0;
    return S_OK;
  }
  if (nIndex >= 0 && nIndex < InputCount()) {
    *pnPhysicalType = inputTypes[static_cast<size_t>(nIndex)];
    *pnRelated = inputAudio[static_cast<size_t>(nIndex)];
    return S_OK;
  }
  if (!IsAudioPin(nIndex)) return E_FAIL;
  *pnPhysicalType = audioTypes[static_cast<size_t>(nIndex - InputCount())];
  for (int i = 0; i < InputCount(); ++i)
    if (inputAudio[static_cast<size_t>(i)] == nIndex) {
      *pnRelated = i;
      break;
    }
  return S_OK;
}

HRESULT CInputCrossbar::CanRoute(int nOutput, int nInput) {
  if (nOutput == 0) return nInput >= 0 && nInput < InputCount() ? S_OK : S_FALSE;
  if (nOutput == 1) return IsAudioPin(nInput) ? S_OK : S_FALSE;
  return S_FALSE;
}

HRESULT CInputCrossbar::Route(int nOutput, int nInput) {
  if (CanRoute(nOutput, nInput) != S_OK) return E_FAIL;
  int nNow = -1;
  if (SUCCEEDED(GetIsRoutedTo(nOutput, &nNow)) && nNow == nInput) return S_OK;
  // uvcvideo gives the descriptor that sets the input the streaming rights until it closes: a
  // descriptor of its own, closed at once, so the streaming element can still set its format.
  std::string why;
  V4l2NodeRef once = node->OpenAgain(&why);
  if (!once) {
    LogPrintf("V4L2: %s", why.c_str());
    return E_FAIL;
  }
  int err = 0;
  if (nOutput == 0) {
    int nIndex = nInput;
    err = once->Ioctl(VIDIOC_S_INPUT, &nIndex);
  } else {
    v4l2_audio audio{};
    audio.index = static_cast<uint32_t>(nInput - InputCount());
    err = once->Ioctl(VIDIOC_S_AUDIO, &audio);
  }
  if (err == EBUSY) return VFW_E_NOT_STOPPED;
  if (err != 0) {
    LogPrintf("V4L2: %s %d on %s: %s", nOutput == 0 ? "VIDIOC_S_INPUT" : "VIDIOC_S_AUDIO", nInput,
              node->Path().c_str(), V4l2ErrorText(err).c_str());
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CInputCrossbar::GetIsRoutedTo(int nOutput, int* pnInput) {
  if (!pnInput) return E_POINTER;
  if (!node) return E_FAIL;
  if (nOutput == 0) {
    int nIndex = -1;
    if (node->Ioctl(VIDIOC_G_INPUT, &nIndex) != 0) return E_FAIL;
    *pnInput = nIndex;
    return S_OK;
  }
  v4l2_audio audio{};
  if (nOutput != 1 || AudioInputCount() == 0 || node->Ioctl(VIDIOC_G_AUDIO, &audio) != 0) return E_FAIL;
  *pnInput = InputCount() + static_cast<int>(audio.index);
  return S_OK;
}

CrossbarRef CInputCrossbar::Upstream(int, int*) { return nullptr; }

std::string CInputCrossbar::PinName(bool bIsInput, int nIndex) {
  if (bIsInput && nIndex >= 0 && nIndex < InputCount()) return inputNames[static_cast<size_t>(nIndex)];
  if (bIsInput && IsAudioPin(nIndex)) return audioNames[static_cast<size_t>(nIndex - InputCount())];
  if (bIsInput) return "";
  return nIndex == 0 ? "Video Decoder" : "Audio Decoder";
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
