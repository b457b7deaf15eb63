// A crossbar built by hand for tests: pins, routability, upstream links, and a record of Route calls.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "devices/crossbar_iface.h"

namespace ulmora::test {

class TestCrossbar : public ICrossbar {
 public:
  struct Pin {
    int nType = PhysConn_Video_Composite;
    int nRelated = -1;
    CrossbarRef pUpstream;  // inputs only: the crossbar feeding it
    int nUpstreamOutput = 0;
    std::string name;
  };

  explicit TestCrossbar(std::string tag) : tag(std::move(tag)) {}

  int AddInput(int nType, int nRelated = -1, CrossbarRef pUp = nullptr, int nUpOut = 0) {
    inputs.push_back({nType, nRelated, std::move(pUp), nUpOut, ""});
    return static_cast<int>(inputs.size()) - 1;
  }
  int AddOutput(int nType, int nRelated = -1) {
    outputs.push_back({nType, nRelated, nullptr, 0, ""});
    routedTo.push_back(-1);
    return static_cast<int>(outputs.size()) - 1;
  }
  void ForbidRoute(int nOut, int nIn) { forbidden.emplace_back(nOut, nIn); }

  HRESULT GetPinCounts(int* pnOutputs, int* pnInputs) override {
    *pnOutputs = static_cast<int>(outputs.size());
    *pnInputs = static_cast<int>(inputs.size());
    return S_OK;
  }
  HRESULT GetPinInfo(bool bIsInput, int nIndex, int* pnRelated, int* pnType) override {
    const auto& pins = bIsInput ? inputs : outputs;
    if (nIndex < 0 || nIndex >= static_cast<int>(pins.size())) return E_FAIL;
    *pnRelated = pins[nIndex].nRelated;
    *pnType = pins[nIndex].nType;
    return S_OK;
  }
  HRESULT CanRoute(int nOut, int nIn) override {
    if (nOut < 0 || nOut >= static_cast<int>(outputs.size()) || nIn < 0 || nIn >= static_cast<int>(inputs.size()))
      return S_FALSE;
    for (auto& f : forbidden)
      if (f.first == nOut && f.second == nIn) return S_FALSE;
    return S_OK;
  }
  HRESULT Route(int nOut, int nIn) override {
    calls.push_back(tag + ":" + std::to_string(nOut) + "<-" + std::to_string(nIn));
    if (sharedLog) sharedLog->push_back(calls.back());
    if (bBusy) return VFW_E_NOT_STOPPED;
    if (CanRoute(nOut, nIn) != S_OK) return E_FAIL;
    routedTo[nOut] = nIn;
    return S_OK;
  }
  HRESULT GetIsRoutedTo(int nOut, int* pnIn) override {
    if (nOut < 0 || nOut >= static_cast<int>(outputs.size())) return E_FAIL;
    *pnIn = routedTo[nOut];
    return S_OK;
  }
  CrossbarRef Upstream(int nIn, int* pnOut) override {
    if (nIn < 0 || nIn >= static_cast<int>(inputs.size())) return nullptr;
    *pnOut = inputs[nIn].nUpstreamOutput;
    return inputs[nIn].pUpstream;
  }
  std::string PinName(bool bIsInput, int nIndex) override {
    return tag + (bIsInput ? " in " : " out ") + std::to_string(nIndex);
  }

  std::string tag;
  std::vector<Pin> inputs, outputs;
  std::vector<int> routedTo;
  std::vector<std::pair<int, int>> forbidden;
  std::vector<std::string> calls;
  std::vector<std::string>* sharedLog = nullptr;
  bool bBusy = false;
};

}  // namespace ulmora::test
