#include "gui/device_reconnect.h"

#include "common/log.h"
#include "common/safe_snprintf.h"
#include "devices/device_list.h"
#include "devices/live_device.h"
#include "graph/graph_object.h"
#include "gui/device_dialogs.h"
#include "gui/main_window.h"

namespace ulmora {

namespace {
// Said when the device went while the graph was paused (no frame failed) or its error is not in yet.
constexpr char kGoneText[] = "The capture device stopped sending pictures: it was unplugged or switched off.";
}  // namespace

DeviceReconnect::DeviceReconnect(MainWindow* window, CGraphObject* liveGraph, CDeviceList* devices,
                                 std::function<void()> rebuilt)
    : window_(window), live_(liveGraph), devices_(devices), rebuilt_(std::move(rebuilt)) {}

void DeviceReconnect::MarkLost(int32_t state) {
  bLost_ = true;
  lostId_ = LiveDeviceId();
  lostName_ = LiveDeviceName();
  nLostState_ = state;
  LogPrintf("live device '%s' lost (state %d); waiting for it to come back", lostId_.c_str(), static_cast<int>(state));
}

void DeviceReconnect::Forget() { bLost_ = false; }

void DeviceReconnect::OnGraphNotify() {
  if (!live_ || !live_->HasGraph()) return;
  // The device is gone and the person was told; later errors of its graph go with the rebuild.
  if (bLost_ || bHandling_) return;
  const int32_t state = live_->RunState();
  bHandling_ = true;
  const int event = live_->HandleGraphNotify();  // its message box runs a nested event loop
  bHandling_ = false;
  if (event == 2 && !LiveDeviceId().empty()) MarkLost(state);
  if (event == 2 && window_->ActiveGraph() == live_) {
    window_->PlayStateRefresh(live_->RunState(), false);
    window_->RefreshMenuAndToolbar();
  }
  RunDeferredChange();
}

void DeviceReconnect::RunDeferredChange() {
  if (!bDeferredChange_) return;
  bDeferredChange_ = false;
  OnDeviceChange();
}

void DeviceReconnect::OnDeviceChange() {
  if (!live_) return;
  // A change that lands while a message box of ours is open is looked at when it has closed, so the
  // graph is never rebuilt under the code that is stopping it.
  if (bHandling_) {
    bDeferredChange_ = true;
    return;
  }
  if (bLost_) {
    TakeBack();
    return;
  }
  // Identities only: a different camera of the same name must not count as the one lost.
  if (!live_->HasGraph() || LiveDeviceId().empty() || devices_->IsListed(LiveDeviceId())) return;
  const int32_t state = live_->RunState();
  MarkLost(state);
  bHandling_ = true;
  if (state != kRunStopped && live_->HandleGraphNotify() != 2) {
    // No frame failed yet (a paused graph asks for none): stop it the way a failure would.
    CSG& sg = live_->Session();
    if (sg.StartCapture(0) != 0) window_->PostMsg(kMsgCaptureEnded);
    live_->StopGraph();
    window_->ReportWarning(kGoneText);
  }
  bHandling_ = false;
  if (window_->ActiveGraph() == live_) {
    window_->PlayStateRefresh(live_->RunState(), false);
    window_->RefreshMenuAndToolbar();
  }
  RunDeferredChange();
}

void DeviceReconnect::TakeBack() {
  if (!devices_->IsListed(lostId_)) return;
  const int result = devices_->ChooseAgain(lostId_);
  if (result == -2) return;
  if (result != 1) {
    LogPrintf("live device '%s' came back but its graph could not be built", lostId_.c_str());
    return;
  }
  bLost_ = false;
  RestoreState(live_, nLostState_);
  if (rebuilt_) rebuilt_();
  const std::string name = lostName_.empty() ? lostId_ : lostName_;
  char text[100] = "";
  __SafeSnprintf(text, sizeof text, "%s is connected again", name.c_str());
  if (window_->ActiveGraph() == live_) window_->SetStatusText(text);
  LogPrintf("%s", text);
}

}  // namespace ulmora
