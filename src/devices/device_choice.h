// The device list's operations on devices themselves, for the live graph and the tools.
#pragma once

#include <gst/gst.h>

#include <vector>

namespace ulmora {

class CDeviceMonitor;
CDeviceMonitor& DeviceMonitor();

// 0: device is already the current one (nothing done); 1: a device is current afterwards; -1: none is.
// Takes its own reference before building the graph, so a device borrowed from the list's table
// stays valid while the build refills the table.
int ChooseDevice(GstDevice* device);
// The devices listed now, each with a reference the caller releases; empty when there is no monitor.
std::vector<GstDevice*> VideoDevicesNow();
// A fresh reference to the listed device whose identity, path property or name equals text (a node
// such as /dev/video0 matches through its stable identity); null when none does.
GstDevice* FindVideoDevice(const char* text);

}  // namespace ulmora
