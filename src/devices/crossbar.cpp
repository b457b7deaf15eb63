#include "devices/crossbar.h"

#include <glib.h>

#include "common/log.h"
#include "common/report.h"
#include "common/safe_snprintf.h"
#include "settings/profile_keys.h"

namespace ulmora {

namespace {

// Trace lines of the debug configuration go to GLib's debug log (G_MESSAGES_DEBUG=ulmora-crossbar),
// not the run log.
template <typename... Args>
void Trace(const char* format, Args... args) {
  if constexpr (kDebugBuild) g_log("ulmora-crossbar", G_LOG_LEVEL_DEBUG, format, args...);
}

}  // namespace

CCrossbar::CCrossbar(const CrossbarFeed& feed, HRESULT* phr) {
  Trace("CCrossbar Constructor");
  int32_t nStored = ProfileReadInt(ProfileKey::CrosInPhysicalType);
  nPreferredType = nStored > 0 ? nStored : PhysConn_Video_Composite;
  std::vector<CrossbarHop> path;
  HRESULT hr = BuildRoutingList(feed.pXbar, feed.nOutput, path, 0);
  if (phr) {
    *phr = hr;
  } else {
    ReportAssert("bad algoritm", __LINE__, "crossbar");
  }
}

CCrossbar::~CCrossbar() {
  Trace("CCrossbar Destructor");
  int nType = 0;
  if (!routes.empty() && SUCCEEDED(GetInputType(nCurrentRoute, &nType)) && nType >= 1)
    ProfileWriteInt(ProfileKey::CrosInPhysicalType, nType);
  Trace("DestroyRoutingList");
}

HRESULT CCrossbar::BuildRoutingList(const CrossbarRef& pXbar, int nOutput, std::vector<CrossbarHop>& path,
                                    int nDepth) {
  // The chain ends where no crossbar feeds the pin; at the capture device itself that is a failure.
  if (!pXbar) return nDepth > 0 ? S_FALSE : E_FAIL;

  int nOutputs = 0, nInputs = 0;
  if (FAILED(pXbar->GetPinCounts(&nOutputs, &nInputs)) || nOutput < 0 || nOutput >= nOutputs) {
    ReportAssert("bad algoritm", __LINE__, "crossbar");
    return nDepth > 0 ? S_FALSE : E_FAIL;
  }
  int nOutRelated = -1, nOutType = 0;
  if (FAILED(pXbar->GetPinInfo(false, nOutput, &nOutRelated, &nOutType)))
    ReportAssert("bad algoritm", __LINE__, "crossbar");

  for (int nIn = 0; nIn < nInputs; ++nIn) {
    int nInRelated = -1, nInType = 0;
    if (FAILED(pXbar->GetPinInfo(true, nIn, &nInRelated, &nInType))) continue;
    if (nInType >= kFirstAudioConnector || pXbar->CanRoute(nOutput, nIn) != S_OK) continue;

    CrossbarHop hop;
    hop.pXbar = pXbar;
    hop.VideoInputIndex = nIn;
    hop.VideoOutputIndex = nOutput;
    hop.AudioInputIndex = nInRelated;
    hop.AudioOutputIndex = nOutRelated;
    hop.VideoInputPhysicalType = nInType;
    hop.VideoOutputPhysicalType = nOutType;
    hop.Depth = nDepth;
    path.push_back(hop);

    int nUpOutput = 0;
    CrossbarRef pUp = pXbar->Upstream(nIn, &nUpOutput);
    if (BuildRoutingList(pUp, nUpOutput, path, nDepth + 1) == S_FALSE) SaveRouting(path);
    path.pop_back();
  }
  return S_OK;
}

void CCrossbar::SaveRouting(const std::vector<CrossbarHop>& path) {
  // Stored upstream first: element 0's input is the physical connector.
  routes.emplace_back(path.rbegin(), path.rend());
  Trace("CCrossbar::SaveRouting, Depth=%d, NumberOfRoutings=%d", static_cast<int>(path.size()),
        static_cast<int>(routes.size()));
}

HRESULT CCrossbar::GetInputCount(int* pnCount) const {
  if (!pnCount) return E_POINTER;
  *pnCount = static_cast<int>(routes.size());
  return S_OK;
}

const CrossbarRoute* CCrossbar::Route(int nIndex) const {
  if (nIndex < 0 || nIndex >= static_cast<int>(routes.size())) return nullptr;
  return &routes[static_cast<size_t>(nIndex)];
}

HRESULT CCrossbar::GetInputType(int nIndex, int* pnPhysicalType) const {
  if (!pnPhysicalType) return E_POINTER;
  const CrossbarRoute* route = Route(nIndex);
  if (!route) return E_FAIL;
  *pnPhysicalType = route->front().VideoInputPhysicalType;
  return S_OK;
}

HRESULT CCrossbar::GetInputName(int nIndex, char* szName, int nSize) const {
  const CrossbarRoute* route = Route(nIndex);
  if (!route || !szName || nSize <= 0) return E_FAIL;
  __SafeSnprintf(szName, static_cast<size_t>(nSize), "%s", PhysicalTypeName(route->front().VideoInputPhysicalType));
  return S_OK;
}

HRESULT CCrossbar::SetInputIndex(int nIndex) {
  if (nIndex < 0) {
    ReportAssert("bad algoritm", __LINE__, "crossbar");
    return E_FAIL;
  }
  const CrossbarRoute* route = Route(nIndex);
  if (!route) return E_FAIL;
  HRESULT hr = S_OK;
  for (const CrossbarHop& hop : *route) {
    Trace("CCrossbar::Routing, VideoOutIndex=%d VideoInIndex=%d", hop.VideoOutputIndex, hop.VideoInputIndex);
    hr = hop.pXbar->Route(hop.VideoOutputIndex, hop.VideoInputIndex);
    if (FAILED(hr) && hr != VFW_E_NOT_STOPPED) ReportAssert("bad algoritm", __LINE__, "crossbar");
    if (hop.AudioOutputIndex != -1 && hop.AudioInputIndex != -1) {
      HRESULT hrAudio = hop.pXbar->Route(hop.AudioOutputIndex, hop.AudioInputIndex);
      if (FAILED(hrAudio) && hrAudio != VFW_E_NOT_STOPPED) ReportAssert("bad algoritm", __LINE__, "crossbar");
    }
  }
  // A refused switch leaves the hardware on its old input, so the current route stays too.
  if (SUCCEEDED(hr)) nCurrentRoute = nIndex;
  return hr;
}

HRESULT CCrossbar::GetPreferredInputType(int* pnPhysicalType) const {
  if (!pnPhysicalType) return E_POINTER;
  if (nPreferredType <= 0) return E_FAIL;
  *pnPhysicalType = nPreferredType;
  return S_OK;
}

void CCrossbar::SetCurrentRoute(int nIndex) {
  if (nIndex >= 0) nCurrentRoute = nIndex;
}

int ChooseInitialRoute(const CCrossbar& xbar) {
  int nCount = 0;
  if (FAILED(xbar.GetInputCount(&nCount)) || nCount <= 0) return -1;
  int nPreferred = PhysConn_Video_Composite;
  int nRemembered = 0;
  if (SUCCEEDED(xbar.GetPreferredInputType(&nRemembered)) && nRemembered > 0) nPreferred = nRemembered;
  int nFirstPreferred = -1, nFirstComposite = -1, nFirstTuner = -1;
  for (int j = 0; j < nCount; ++j) {
    int nType = 0;
    if (FAILED(xbar.GetInputType(j, &nType))) continue;
    if (nType == nPreferred && nFirstPreferred < 0) nFirstPreferred = j;
    if (nType == PhysConn_Video_Composite && nFirstComposite < 0) nFirstComposite = j;
    if (nType == PhysConn_Video_Tuner && nFirstTuner < 0) nFirstTuner = j;
  }
  if (nFirstPreferred >= 0) return nFirstPreferred;
  if (nFirstComposite >= 0) return nFirstComposite;
  if (nFirstTuner >= 0) return nFirstTuner;
  return 0;
}

int SyncInputFromHardware(CCrossbar& xbar, ICrossbar& hardware) {
  int nCount = 0;
  if (FAILED(xbar.GetInputCount(&nCount)) || nCount <= 0) return -1;
  int nOutputs = 0, nInputs = 0;
  if (FAILED(hardware.GetPinCounts(&nOutputs, &nInputs))) return -1;
  int nRouted = -1;
  for (int nOut = 0; nOut < nOutputs && nRouted < 0; ++nOut) {
    int nIn = -1;
    if (SUCCEEDED(hardware.GetIsRoutedTo(nOut, &nIn))) nRouted = nIn;
  }
  // The hardware's input index stands for the route index, as the menu numbers them alike.
  if (nRouted < 0 || nRouted >= nCount) return -1;
  xbar.SetCurrentRoute(nRouted);
  return nRouted;
}

HRESULT SetInputIndexRestarting(CCrossbar& xbar, int nIndex, const std::function<bool()>& stop,
                                const std::function<bool()>& start) {
  HRESULT hr = xbar.SetInputIndex(nIndex);
  if (hr != VFW_E_NOT_STOPPED) return hr;
  LogPrintf("Crossbar: the device is streaming, stopped to switch the input");
  if (!stop || !stop()) return hr;
  hr = xbar.SetInputIndex(nIndex);
  if (start && !start()) LogPrintf("Crossbar: the graph did not start again after the input switch");
  return hr;
}

}  // namespace ulmora
