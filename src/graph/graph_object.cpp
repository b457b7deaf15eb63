#include "graph/graph_object.h"

#include "graph/cap_graph.h"
#include "graph/station_counters.h"

namespace ulmora {

CGraphObject::CGraphObject()
    : impl_(std::make_unique<CCapGraph>()), counters_(std::make_unique<CStationCounterReader>()) {}
CGraphObject::~CGraphObject() = default;

HRESULT CGraphObject::BuildFileGraph(const char* fileName) { return impl_->BuildFileGraph(fileName); }
HRESULT CGraphObject::BuildCaptureGraph() { return impl_->BuildCaptureGraph(); }
int CGraphObject::HandleGraphNotify() {
  switch (impl_->HandleGraphNotify(0)) {
    case GraphEvent::kEndOfStream:
      return 1;
    case GraphEvent::kError:
      return 2;
    default:
      return 0;
  }
}
void CGraphObject::AttachDeviceList(CDeviceList* devices) { impl_->SetDeviceList(devices); }

HRESULT CGraphObject::RunGraph() { return impl_->RunGraph(); }
HRESULT CGraphObject::PauseGraph() { return impl_->PauseGraph(); }
HRESULT CGraphObject::StopGraph() { return impl_->StopGraph(); }
HRESULT CGraphObject::SetGraphNotifyWindow(IWindow* window) { return impl_->SetGraphNotifyWindow(window); }
void CGraphObject::DestroyGraph() { impl_->DestroyGraph(); }

bool CGraphObject::HasGraph() const { return impl_->HasGraph(); }
int32_t CGraphObject::RunState() const { return impl_->RunState(); }
void CGraphObject::SetActive(bool active) { impl_->SetActive(active); }
bool CGraphObject::IsActive() const { return impl_->bActive != 0; }
CSG& CGraphObject::Session() { return impl_->Session(); }
void CGraphObject::ContinueTimeline() { impl_->ContinueTimeline(); }
uint64_t CGraphObject::SourceFrames() const { return impl_->SourceFrames(); }
StationCounters CGraphObject::StationCounts(const StationCounters& earlier) { return counters_->Read(*impl_, earlier); }

bool InitMediaFramework() { return EnsureGstInit(); }

}  // namespace ulmora
