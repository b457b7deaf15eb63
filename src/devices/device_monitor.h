// The device monitor: every "Video/Source" device the installed providers (V4L2, PipeWire, libcamera,
// the simulated camera) list, and their arrivals and removals as they happen.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/window.h"
#include "gst/gst_ref.h"

namespace ulmora {

class CDeviceMonitor {
 public:
  // Arrivals and removals clear *menuValid (the device list's flag); it must outlive the monitor.
  explicit CDeviceMonitor(std::atomic<int32_t>* menuValid) : menuValid_(menuValid) {}
  ~CDeviceMonitor();
  CDeviceMonitor(const CDeviceMonitor&) = delete;
  CDeviceMonitor& operator=(const CDeviceMonitor&) = delete;

  // Creates and starts the monitor (once); false when it cannot. Logs how long the start took.
  bool Start();
  // Stops watching; no change is reported afterwards.
  void Stop();
  bool Started() const { return monitor_ != nullptr && bStarted_; }
  // The devices listed now.
  std::vector<GstRef<GstDevice>> Devices();
  // Milliseconds the last Start took.
  double StartMs() const { return dStartMs_; }

  // Arrivals and removals clear the menu-valid flag and post kMsgDeviceChange to this window (from the
  // provider's thread; PostMsg never waits). Null: the flag only. The window must outlive Stop.
  void SetNotifyWindow(IWindow* window) { notify_.store(window); }
  // Arrivals and removals seen since the start.
  uint32_t ChangesSeen() const { return nChanges_.load(); }

 private:
  static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* msg, gpointer self);

  std::atomic<int32_t>* menuValid_ = nullptr;
  GstDeviceMonitor* monitor_ = nullptr;
  bool bStarted_ = false;
  double dStartMs_ = 0.0;
  std::atomic<IWindow*> notify_{nullptr};
  std::atomic<uint32_t> nChanges_{0};
};

}  // namespace ulmora
