#include "gui/status_file_ticker.h"

#include "devices/live_device.h"
#include "graph/graph_object.h"
#include "gui/device_reconnect.h"

namespace ulmora {

StatusFileTicker::StatusFileTicker(const std::string& path, CGraphObject* liveGraph, const DeviceReconnect* reconnect)
    : file_(path), live_(liveGraph), reconnect_(reconnect) {
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &StatusFileTicker::WriteNow);
  timer_.start();
}

void StatusFileTicker::WriteNow() {
  StationStatus st;
  const bool lost = reconnect_ && reconnect_->Lost();
  const bool running = live_->HasGraph() && live_->RunState() == kRunRunning;
  st.state = lost ? StationState::kReconnecting : running ? StationState::kRecording : StationState::kWaiting;
  st.deviceId = lost ? reconnect_->LostIdentity() : LiveDeviceId();
  st.deviceName = LiveDeviceName();
  // A rebuilt graph counts from zero: what the one before counted is kept.
  StationCounters now = live_->StationCounts(earlier_);
  if (now.framesIn < last_.framesIn) {
    earlier_ = last_;
    now = live_->StationCounts(earlier_);
  }
  last_ = now;
  st.counters = now;
  const char* dir = live_->Session().WorkDir();
  st.captureDir = dir ? dir : "";
  st.secondsSinceStart = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  st.gaps = reconnect_ ? reconnect_->Reconnects() : 0;
  st.stalls = reconnect_ ? reconnect_->Stalls() : 0;
  file_.Write(st);  // a failure is logged once; the program goes on
}

}  // namespace ulmora
