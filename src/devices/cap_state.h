// g_Cap: the one capture-state record of the GUI thread, shared by the device list, the live graph,
// the Sources menu model and the crossbar. The live graph's entries are borrowed from its graph object
// and cleared before that object releases them.
#pragma once

#include <gst/gst.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/dev_menu.h"

namespace ulmora {

class CCrossbar;
struct CrossbarDelete {
  void operator()(CCrossbar* p) const;
};

// Device slots of the table; at most kMaxListedDevices of them are filled.
constexpr int kDeviceSlots = 10;
constexpr int kMaxListedDevices = 9;
// The device name keeps at most this many characters (the terminator not counted).
constexpr size_t kDeviceNameChars = 119;

struct CapState {
  // --- live graph (set by the live build) ---
  GstElement* pBuilder = nullptr;  // the live graph's pipeline, borrowed
  GstElement* pVCap = nullptr;     // its capture filter, borrowed
  std::string szDevicePath;        // the node (or "sim:N") the capture filter opens; empty without one
  std::string szDeviceId;          // its stable identity (what settings are remembered under)
  std::unique_ptr<CCrossbar, CrossbarDelete> pCrossbar;
  int32_t nVideoInputs = 0;
  std::string szDeviceName;  // UTF-8, at most kDeviceNameChars characters

  // --- device list ---
  std::array<GstDevice*, kDeviceSlots> rgpDevices{};  // one reference each
  int32_t nDevices = 0;
  GstDevice* pMoniker = nullptr;  // the current device, its own reference
  // 0: enumerate again before the Sources menu shows. Cleared by the device monitor's thread.
  std::atomic<int32_t> bDevMenuValid{0};
  int32_t nMasterStream = 1;

  // --- Sources menu (entry slots and the "Video Input" position live in the model) ---
  CDevMenu menu;
};

extern CapState g_Cap;

// Forgets the live graph's entries: builder and capture filter, device path, crossbar (deleting it
// stores its route type) and input count.
void ClearLiveGraphEntries();

// Takes a reference to device into slot (released first); null empties it.
void SetDeviceRef(GstDevice*& slot, GstDevice* device);

// Copies name into szDeviceName, cut after kDeviceNameChars characters (never inside a character).
void SetDeviceName(const char* name);

}  // namespace ulmora
