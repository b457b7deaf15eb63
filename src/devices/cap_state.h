// g_Cap: the live graph's capture-state record of the GUI thread, read by the device list, the Sources
// menu and the crossbar. Its entries are borrowed from the live graph object and cleared before that
// object releases them. The GUI reads them through devices/live_device.h.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ulmora {

class CCrossbar;
struct CrossbarDelete {
  void operator()(CCrossbar* p) const;
};

// The device name keeps at most this many characters (the terminator not counted).
constexpr size_t kDeviceNameChars = 119;

struct CapState {
  GstElement* pBuilder = nullptr;  // the live graph's pipeline, borrowed
  GstElement* pVCap = nullptr;     // its capture filter, borrowed
  std::string szDevicePath;        // the node (or "sim:N") the capture filter opens; empty without one
  std::string szDeviceId;          // its stable identity (what settings are remembered under)
  std::unique_ptr<CCrossbar, CrossbarDelete> pCrossbar;
  int32_t nVideoInputs = 0;
  std::string szDeviceName;  // UTF-8, at most kDeviceNameChars characters
};

extern CapState g_Cap;

// Forgets the live graph's entries: builder and capture filter, device path, crossbar (deleting it
// stores its route type) and input count.
void ClearLiveGraphEntries();

// Copies name into szDeviceName, cut after kDeviceNameChars characters (never inside a character).
void SetDeviceName(const char* name);

}  // namespace ulmora
