#include "devices/device_monitor.h"

#include <chrono>

#include "common/log.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "gst/gst_ref.h"

namespace ulmora {

CDeviceMonitor::~CDeviceMonitor() {
  Stop();
  if (monitor_) gst_object_unref(monitor_);
}

bool CDeviceMonitor::Start() {
  if (bStarted_) return true;
  if (!gst_is_initialized() && !gst_init_check(nullptr, nullptr, nullptr)) return false;
  const auto t0 = std::chrono::steady_clock::now();
  if (!monitor_) {
    monitor_ = gst_device_monitor_new();
    if (!monitor_) return false;
    // Filters must be in place before the start.
    gst_device_monitor_add_filter(monitor_, "Video/Source", nullptr);
    const GstRef<GstBus> bus = Adopt(gst_device_monitor_get_bus(monitor_));
    gst_bus_set_sync_handler(bus.get(), &CDeviceMonitor::OnBusMessage, this, nullptr);
  }
  // With udev the V4L2 provider probes every node before this returns.
  bStarted_ = gst_device_monitor_start(monitor_);
  dStartMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  if (bStarted_)
    LogPrintf("device monitor started in %.1f ms", dStartMs_);
  else
    LogPrintf("!!! device monitor did not start");
  return bStarted_;
}

void CDeviceMonitor::Stop() {
  if (!monitor_ || !bStarted_) return;
  gst_device_monitor_stop(monitor_);
  bStarted_ = false;
}

std::vector<GstRef<GstDevice>> CDeviceMonitor::Devices() {
  std::vector<GstRef<GstDevice>> out;
  if (!monitor_) return out;
  GList* list = gst_device_monitor_get_devices(monitor_);
  for (GList* l = list; l; l = l->next) out.push_back(Adopt(GST_DEVICE(l->data)));  // the list's references pass on
  g_list_free(list);
  return out;
}

GstBusSyncReply CDeviceMonitor::OnBusMessage(GstBus*, GstMessage* msg, gpointer self) {
  auto* m = static_cast<CDeviceMonitor*>(self);
  const GstMessageType type = GST_MESSAGE_TYPE(msg);
  if (type == GST_MESSAGE_DEVICE_ADDED) {
    // Its node resolves to its own links now; after an unplug it would not.
    GstDevice* device = nullptr;
    gst_message_parse_device_added(msg, &device);
    if (device) {
      DeviceIdentity(device);
      gst_object_unref(device);
    }
  }
  if (type == GST_MESSAGE_DEVICE_ADDED || type == GST_MESSAGE_DEVICE_REMOVED) {
    m->menuValid_->store(0);
    m->nChanges_.fetch_add(1);
    if (IWindow* w = m->notify_.load()) w->PostMsg(kMsgDeviceChange);
  }
  // Nobody pops the monitor's bus: keep nothing queued.
  return GST_BUS_DROP;
}

}  // namespace ulmora
