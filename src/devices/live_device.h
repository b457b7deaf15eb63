// The live graph's device as the GUI sees it: g_Cap's entries without GStreamer types. GUI thread.
#pragma once

#include <string>

namespace ulmora {

class CCrossbar;

// The stable identity the device's settings are remembered under; empty without a live device.
const std::string& LiveDeviceId();
// The node (or "sim:N") the live graph's capture filter opens; empty without one.
const std::string& LiveDevicePath();
// The device's display name, UTF-8.
const std::string& LiveDeviceName();
// The live graph's crossbar object; null when the device offers no input choice.
CCrossbar* LiveCrossbar();

}  // namespace ulmora
