// CCrossbar: every way a physical video input reaches the capture device through a chain of crossbars.
#pragma once

#include <functional>
#include <vector>

#include "devices/crossbar_iface.h"

namespace ulmora {

// One crossbar's part of a route.
struct CrossbarHop {
  int VideoInputIndex = 0;
  int VideoOutputIndex = 0;
  int AudioInputIndex = -1;   // related to the video input, -1 when none
  int AudioOutputIndex = -1;  // related to the video output, -1 when none
  CrossbarRef pXbar;
  int VideoInputPhysicalType = 0;
  int VideoOutputPhysicalType = 0;
  int Depth = 0;  // 0 next to the capture device, +1 per crossbar upstream
};

// Hops from the one furthest upstream (its input is the connector) to the one next to the capture device.
using CrossbarRoute = std::vector<CrossbarHop>;

class CCrossbar {
 public:
  // Discovers the routes behind feed; *phr is the discovery's result (E_FAIL when nothing feeds it).
  CCrossbar(const CrossbarFeed& feed, HRESULT* phr);
  // Stores the current route's input type as the next run's preferred one.
  ~CCrossbar();
  CCrossbar(const CCrossbar&) = delete;
  CCrossbar& operator=(const CCrossbar&) = delete;

  HRESULT GetInputCount(int* pnCount) const;
  HRESULT GetInputType(int nIndex, int* pnPhysicalType) const;
  // The route's type name, cut to fit nSize; E_FAIL without a buffer or room.
  HRESULT GetInputName(int nIndex, char* szName, int nSize) const;
  // Routes every hop of the route; VFW_E_NOT_STOPPED when the device must stop first.
  HRESULT SetInputIndex(int nIndex);
  // S_OK with the type remembered from the last run when there is one, else E_FAIL.
  HRESULT GetPreferredInputType(int* pnPhysicalType) const;
  void SetCurrentRoute(int nIndex);
  int CurrentRoute() const { return nCurrentRoute; }

  // The route's hops, null outside the list.
  const CrossbarRoute* Route(int nIndex) const;

 private:
  HRESULT BuildRoutingList(const CrossbarRef& pXbar, int nOutput, std::vector<CrossbarHop>& path, int nDepth);
  void SaveRouting(const std::vector<CrossbarHop>& path);

  std::vector<CrossbarRoute> routes;
  int nCurrentRoute = 0;
  int nPreferredType = PhysConn_Video_Composite;
};

// The route to select when a device is chosen: the first of the preferred type, else the first
// composite, else the first tuner, else route 0; -1 without routes.
int ChooseInitialRoute(const CCrossbar& xbar);

// Reads which input the hardware routes to its first routed output and makes it the current route
// when it names one; returns that route index, or -1 when nothing changed.
int SyncInputFromHardware(CCrossbar& xbar, ICrossbar& hardware);

// SetInputIndex, and when the device refuses while streaming: stop, route, start again.
// stop and start return false when they fail; a graph that does not stop keeps its input and is not started.
HRESULT SetInputIndexRestarting(CCrossbar& xbar, int nIndex, const std::function<bool()>& stop,
                                const std::function<bool()>& start);

}  // namespace ulmora
