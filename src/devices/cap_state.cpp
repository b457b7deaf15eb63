#include "devices/cap_state.h"

#include <cstring>

#include "devices/crossbar.h"
#include "devices/live_device.h"

namespace ulmora {

CapState g_Cap;

void CrossbarDelete::operator()(CCrossbar* p) const { delete p; }

void ClearLiveGraphEntries() {
  g_Cap.pBuilder = nullptr;
  g_Cap.pVCap = nullptr;
  g_Cap.szDevicePath.clear();
  g_Cap.szDeviceId.clear();
  g_Cap.pCrossbar.reset();
  g_Cap.nVideoInputs = 0;
}

const std::string& LiveDeviceId() { return g_Cap.szDeviceId; }
const std::string& LiveDevicePath() { return g_Cap.szDevicePath; }
const std::string& LiveDeviceName() { return g_Cap.szDeviceName; }
CCrossbar* LiveCrossbar() { return g_Cap.pCrossbar.get(); }

void SetDeviceName(const char* name) {
  g_Cap.szDeviceName.clear();
  if (!name) return;
  const char* end = name;
  for (size_t n = 0; *end && n < kDeviceNameChars; ++n) end = g_utf8_find_next_char(end, nullptr);
  if (!g_utf8_validate(name, end - name, nullptr)) {
    // Not UTF-8: keep bytes, still bounded.
    g_Cap.szDeviceName.assign(name, strnlen(name, kDeviceNameChars));
    return;
  }
  g_Cap.szDeviceName.assign(name, static_cast<size_t>(end - name));
}

}  // namespace ulmora
