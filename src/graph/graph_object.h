// CGraphObject: the graph object as the desktop program sees it, without any media-framework type.
// It owns one CCapGraph and passes the operations the main window needs on to it.
#pragma once

#include <cstdint>
#include <memory>

#include "common/window.h"
#include "common/hresult.h"
#include "graph/station_status.h"
#include "pipeline/sg.h"

namespace ulmora {

class CCapGraph;
class CDeviceList;
class CStationCounterReader;

class CGraphObject {
 public:
  // Constructs the graph object, which reads its keys (and its session's and processor's).
  CGraphObject();
  // Destroys it: a remaining graph is torn down; the active object writes its keys.
  ~CGraphObject();
  CGraphObject(const CGraphObject&) = delete;
  CGraphObject& operator=(const CGraphObject&) = delete;

  HRESULT BuildFileGraph(const char* fileName);
  // The live graph on the device chosen in the device list (hook it into DeviceListHooks).
  HRESULT BuildCaptureGraph();
  // On kMsgGraphNotify: 0 nothing, 1 end of stream, 2 the graph failed (a live one was stopped and the
  // person told why).
  int HandleGraphNotify();
  // The device list whose current device the live graph is built for; it must outlive every build.
  void AttachDeviceList(CDeviceList* devices);
  HRESULT RunGraph();
  HRESULT PauseGraph();
  HRESULT StopGraph();
  HRESULT SetGraphNotifyWindow(IWindow* window);
  void DestroyGraph();

  bool HasGraph() const;
  int32_t RunState() const;
  void SetActive(bool active);
  bool IsActive() const;
  CSG& Session();
  // A capture run goes on after a rebuild: the new graph's frames are numbered after this one's.
  void ContinueTimeline();
  // Frames the live source sent into the graph since it was built.
  uint64_t SourceFrames() const;
  // The station's counters of the graph built now, added to earlier; about once a second, GUI thread.
  StationCounters StationCounts(const StationCounters& earlier);

  // For graph-side code (live graph building, device pages) that needs the object itself.
  CCapGraph& Impl() { return *impl_; }

 private:
  std::unique_ptr<CCapGraph> impl_;
  std::unique_ptr<CStationCounterReader> counters_;
};

// Initialises the media framework once per process; false (reason logged) when it cannot.
bool InitMediaFramework();

}  // namespace ulmora
