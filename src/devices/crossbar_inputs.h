// A capture device's inputs presented as one crossbar: its video inputs routed to output 0 and, when
// the driver lists audio inputs, those routed to output 1, each video input related to the first
// audio input it can take, so choosing a video input brings its sound along.
#pragma once

#include <string>
#include <vector>

#include "devices/crossbar_iface.h"
#include "devices/v4l2_node.h"

namespace ulmora {

class CInputCrossbar : public ICrossbar {
 public:
  // Reads the node's inputs once; their list does not change while the device is open.
  explicit CInputCrossbar(V4l2NodeRef node);

  // Video inputs; the audio inputs follow them in the pin numbering.
  int InputCount() const { return static_cast<int>(inputTypes.size()); }
  int AudioInputCount() const { return static_cast<int>(audioNames.size()); }
  // The input's physical type, 0 outside the list.
  int InputType(int nIndex) const {
    return nIndex >= 0 && nIndex < InputCount() ? inputTypes[static_cast<size_t>(nIndex)] : 0;
  }

  HRESULT GetPinCounts(int* pnOutputs, int* pnInputs) override;
  HRESULT GetPinInfo(bool bIsInput, int nIndex, int* pnRelated, int* pnPhysicalType) override;
  HRESULT CanRoute(int nOutput, int nInput) override;
  // On a descriptor opened for the switch and closed again; nothing is asked when the input is routed
  // already. VFW_E_NOT_STOPPED while the device streams.
  HRESULT Route(int nOutput, int nInput) override;
  HRESULT GetIsRoutedTo(int nOutput, int* pnInput) override;
  CrossbarRef Upstream(int nInput, int* pnOutput) override;
  std::string PinName(bool bIsInput, int nIndex) override;

 private:
  bool IsAudioPin(int nInput) const { return nInput >= InputCount() && nInput < InputCount() + AudioInputCount(); }

  V4l2NodeRef node;
  std::vector<int> inputTypes;
  std::vector<std::string> inputNames;
  std::vector<int> inputAudio;  // the related audio input (its pin number), -1 when none
  std::vector<std::string> audioNames;
  std::vector<int> audioTypes;
};

// Whether the inputs amount to a choice: two or more, or a tuner. A webcam's single
// "Camera 1" input offers none, so it gets no crossbar and no "Video Input" menu.
bool InputsOfferAChoice(const CInputCrossbar& inputs);

// The crossbar feeding the capture device at szPath (a node, a link to one, or "sim:N"), opened on a
// descriptor of its own; an empty feed when the device has no input choice or cannot be opened.
CrossbarFeed OpenDeviceCrossbar(const char* szPath);

}  // namespace ulmora
