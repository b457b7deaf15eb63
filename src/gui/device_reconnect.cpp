#include "gui/device_reconnect.h"

#include <gst/gst.h>

#include "common/log.h"
#include "common/safe_snprintf.h"
#include "devices/cap_state.h"
#include "devices/device_choice.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "graph/graph_object.h"
#include "gui/device_dialogs.h"
#include "gui/main_window.h"

namespace ulmora {

namespace {
// Said when the device went while the graph was paused (no frame failed) or its error is not in yet.
constexpr char kGoneText[] = "The capture device stopped sending pictures: it was unplugged or switched off.";
}  // namespace

DeviceReconnect::DeviceReconnect(MainWindow* window, CGraphObject* liveGraph, std::function<void()> rebuilt)
    : window_(window), live_(liveGraph), rebuilt_(std::move(rebuilt)) {}

void DeviceReconnect::MarkLost(int32_t state) {
  bLost_ = true;
  lostId_ = g_Cap.szDeviceId;
  lostName_ = g_Cap.szDeviceName;
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
  if (event == 2 && !g_Cap.szDeviceId.empty()) MarkLost(state);
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

// Compares identities only: a different camera of the same name must not count as the one lost.
bool DeviceReconnect::Listed(const std::string& identity) {
  bool listed = false;
  for (GstDevice* d : VideoDevicesNow()) {
    if (!listed && DeviceIdentity(d) == identity) listed = true;
    gst_object_unref(d);
  }
  return listed;
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
  if (!live_->HasGraph() || g_Cap.szDeviceId.empty() || Listed(g_Cap.szDeviceId)) return;
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
  if (!Listed(lostId_)) return;
  // The list is enumerated again so the menu holds the returning device with its entries.
  EnumerateDevices();
  GstDevice* back = nullptr;
  for (int i = 0; i < g_Cap.nDevices && !back; ++i) {
    GstDevice* d = g_Cap.rgpDevices[static_cast<size_t>(i)];
    if (d && DeviceIdentity(d) == lostId_) back = GST_DEVICE(gst_object_ref(d));
  }
  if (!back) return;
  // The device object may be the one we held before it went: forget it, so the graph is built again.
  SetDeviceRef(g_Cap.pMoniker, nullptr);
  const int result = ChooseDevice(back);
  gst_object_unref(back);
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
