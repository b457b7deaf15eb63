#include "gui/device_reconnect.h"

#include <QTimer>

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
    : window_(window), live_(liveGraph), devices_(devices), rebuilt_(std::move(rebuilt)) {
  stallTimer_ = std::make_unique<QTimer>();
  stallTimer_->setInterval(1000);
  QObject::connect(stallTimer_.get(), &QTimer::timeout, [this] { CheckStall(SteadyNowMs()); });
  stallTimer_->start();
}

DeviceReconnect::~DeviceReconnect() = default;

void DeviceReconnect::MarkLost(int32_t state, bool capturing) {
  bLost_ = true;
  lostId_ = LiveDeviceId();
  lostName_ = LiveDeviceName();
  nLostState_ = state;
  bLostCapture_ = capturing;
  nLostAtMs_ = SteadyNowMs();
  LogPrintf("live device '%s' lost (state %d%s); waiting for it to come back", lostId_.c_str(), static_cast<int>(state),
            capturing ? ", capturing" : "");
}

void DeviceReconnect::Forget() { bLost_ = false; }

void DeviceReconnect::OnGraphNotify() {
  if (!live_ || !live_->HasGraph()) return;
  // The device is gone and the person was told; later errors of its graph go with the rebuild.
  if (bLost_ || bHandling_) return;
  const int32_t state = live_->RunState();
  const bool capturing = live_->Session().Capture().bCapture.load() != 0;
  bHandling_ = true;
  const int event = live_->HandleGraphNotify();  // a box hook of a test may run a nested event loop
  bHandling_ = false;
  if (event == 2 && !LiveDeviceId().empty()) MarkLost(state, capturing);
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
  LoseDevice();
}

void DeviceReconnect::LoseDevice() {
  const int32_t state = live_->RunState();
  CSG& sg = live_->Session();
  MarkLost(state, sg.Capture().bCapture.load() != 0);
  bHandling_ = true;
  if (state != kRunStopped && live_->HandleGraphNotify() != 2) {
    // No frame failed yet (a paused graph asks for none): stop it the way a failure would.
    if (sg.StartCapture(0) != 0) window_->PostMsg(kMsgCaptureEnded);
    live_->StopGraph();
    window_->ReportNotice(kGoneText);
  }
  bHandling_ = false;
  if (window_->ActiveGraph() == live_) {
    window_->PlayStateRefresh(live_->RunState(), false);
    window_->RefreshMenuAndToolbar();
  }
  RunDeferredChange();
}

bool DeviceReconnect::Rebuild(int32_t state, bool capturing) {
  const std::string id = LiveDeviceId().empty() ? lostId_ : LiveDeviceId();
  if (capturing) live_->ContinueTimeline();
  // The table may still hold the list of a moment when the device was away, and nothing else may
  // come to make it read again.
  devices_->InvalidateIfChanged();
  const int result = devices_->ChooseAgain(id);
  if (result != 1) {
    LogPrintf("live device '%s' is listed but %s", id.c_str(),
              result == -2 ? "not in the device table yet" : "its graph could not be built");
    return false;
  }
  RestoreState(live_, state);
  // The run goes on where it stopped: no counter is reset, the next picture takes the next number.
  if (capturing && state == kRunRunning) live_->Session().ResumeCapture();
  watch_.Reset(live_->SourceFrames(), SteadyNowMs());
  if (rebuilt_) rebuilt_();
  return true;
}

void DeviceReconnect::TakeBack() {
  if (!devices_->IsListed(lostId_)) return;
  if (!Rebuild(nLostState_, bLostCapture_)) return;
  bLost_ = false;
  ++nReconnects_;
  window_->CloseNotice();
  const std::string name = lostName_.empty() ? lostId_ : lostName_;
  char text[100] = "";
  __SafeSnprintf(text, sizeof text, "%s is connected again", name.c_str());
  if (window_->ActiveGraph() == live_) window_->SetStatusText(text);
  LogPrintf("%s after %.1f s without pictures%s", text, (SteadyNowMs() - nLostAtMs_) / 1000.0,
            bLostCapture_ ? "; the capture run goes on" : "");
}

void DeviceReconnect::CheckStall(int64_t nowMs) {
  // The monitor may have told of the return before the graph's failure was in: nothing else would
  // come to take the device back.
  if (bLost_ && !bHandling_ && nowMs - nLostAtMs_ >= 1000) {
    TakeBack();
    return;
  }
  if (!live_ || bLost_ || bHandling_ || !live_->HasGraph() || live_->RunState() != kRunRunning) {
    watch_.Reset(live_ ? live_->SourceFrames() : 0, nowMs);
    return;
  }
  if (!watch_.Check(live_->SourceFrames(), nowMs, live_->Session().GetFrameRate())) return;
  const std::string id = LiveDeviceId();
  LogPrintf("no frame from '%s' for %.1f s: stalled (%u so far)", id.c_str(),
            CStallWatch::LimitMs(live_->Session().GetFrameRate()) / 1000.0, watch_.Stalls());
  if (id.empty()) return;
  if (!devices_->IsListed(id)) {
    LoseDevice();
    return;
  }
  const bool capturing = live_->Session().Capture().bCapture.load() != 0;
  bHandling_ = true;
  const bool rebuilt = Rebuild(kRunRunning, capturing);
  bHandling_ = false;
  if (!rebuilt) {
    LoseDevice();
    return;
  }
  char text[100] = "";
  __SafeSnprintf(text, sizeof text, "No pictures came for a while: the camera was opened again");
  if (window_->ActiveGraph() == live_) window_->SetStatusText(text);
  LogPrintf("%s", text);
  RunDeferredChange();
}

}  // namespace ulmora
