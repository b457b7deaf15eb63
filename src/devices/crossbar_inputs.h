// A capture device's video inputs presented as one crossbar with a single output.
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

  int InputCount() const { return static_cast<int>(inputTypes.size()); }
  // The input's physical type, 0 outside the list.
  int InputType(int nIndex) const {
    return nIndex >= 0 && nIndex < InputCount() ? inputTypes[static_cast<size_t>(nIndex)] : 0;
  }

  HRESULT GetPinCounts(int* pnOutputs, int* pnInputs) override;
  HRESULT GetPinInfo(bool bIsInput, int nIndex, int* pnRelated, int* pnPhysicalType) override;
  HRESULT CanRoute(int nOutput, int nInput) override;
  HRESULT Route(int nOutput, int nInput) override;
  HRESULT GetIsRoutedTo(int nOutput, int* pnInput) override;
  CrossbarRef Upstream(int nInput, int* pnOutput) override;
  std::string PinName(bool bIsInput, int nIndex) override;

 private:
  V4l2NodeRef node;
  std::vector<int> inputTypes;
  std::vector<std::string> inputNames;
};

// Whether the inputs amount to a choice: two or more, or a tuner. A webcam's single
// "Camera 1" input offers none, so it gets no crossbar and no "Video Input" menu.
bool InputsOfferAChoice(const CInputCrossbar& inputs);

// The crossbar feeding the capture device at szPath (a node, a link to one, or "sim:N"), opened on a
// descriptor of its own; an empty feed when the device has no input choice or cannot be opened.
CrossbarFeed OpenDeviceCrossbar(const char* szPath);

}  // namespace ulmora
