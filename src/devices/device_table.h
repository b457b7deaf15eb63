// CDeviceTable: the GStreamer side of the device list (devices/device_list.h): the device monitor, the
// listed devices and the current device, each held by its own reference. The live graph binds the
// current device through it; the GUI never includes this header.
#pragma once

#include <gst/gst.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/device_list.h"
#include "devices/device_monitor.h"
#include "gst/gst_ref.h"

namespace ulmora {

class CDeviceTable {
 public:
  // Arrivals and removals clear *menuValid (from the monitor's thread); it must outlive the table.
  explicit CDeviceTable(std::atomic<int32_t>* menuValid) : monitor_(menuValid) {}

  CDeviceMonitor& Monitor() { return monitor_; }
  // The devices listed now (the monitor is started first); empty when there is no monitor.
  std::vector<GstRef<GstDevice>> DevicesNow();

  // Slot i of the table, borrowed; null when it is empty or out of range.
  GstDevice* Slot(int i) const;
  // Slot i holds device (its own reference); null empties it.
  void SetSlot(int i, GstDevice* device);
  void ReleaseSlots();

  // The device the live graph is built for, borrowed; null without one.
  GstDevice* Current() const { return current_.get(); }
  // False when device already is the current one (the same object, nothing done); otherwise it becomes
  // current with a reference of its own (null: none). The reference is taken first, so a device borrowed
  // from a slot stays valid while the graph build refills the table.
  bool TakeAsCurrent(GstDevice* device);

  // The same device: the same object, or the same non-empty identity.
  static bool Same(GstDevice* a, GstDevice* b);

 private:
  // The devices go before the monitor that listed them.
  CDeviceMonitor monitor_;
  std::array<GstRef<GstDevice>, kDeviceSlots> slots_;
  GstRef<GstDevice> current_;
};

// Takes a reference to a borrowed device and holds it.
inline GstRef<GstDevice> RefDevice(GstDevice* p) {
  return GstRef<GstDevice>(p ? GST_DEVICE(gst_object_ref(p)) : nullptr);
}

}  // namespace ulmora
