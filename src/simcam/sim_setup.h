// The simulated camera's setup as parsed from a SPEC, and the paths and names of its devices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ulmora {

// kY16: 16-bit grey, little-endian, as astronomy cameras send it.
enum class SimPixelFormat { kYUY2, kBGR, kI420, kMJPEG, kY16 };

// A parsed SPEC: "WxH@FPS,formats=a|b,inputs=N,controls,count=N,unplug-after=S,replug-after=T,
// plug-after=S,busy,freeze-after=S,unfreeze-after=T,drop-every=N,analog,links,latency=MS,flaky" (every
// item optional; "1" alone means all defaults).
struct SimCameraSetup {
  int32_t nWidth = 640;
  int32_t nHeight = 480;
  int32_t nFps = 30;
  // In the order offered.
  std::vector<SimPixelFormat> formats{SimPixelFormat::kYUY2, SimPixelFormat::kBGR};
  int32_t nInputs = 1;  // 1: no input list, like a webcam
  bool bControls = false;
  int32_t nCount = 1;
  int64_t nUnplugAfterMs = -1;  // -1: never; counted from the start of streaming
  int64_t nReplugAfterMs = -1;  // -1: never comes back; counted from the unplug
  int64_t nPlugAfterMs = -1;    // -1: present at once; counted from the first device-monitor start
  int64_t nFreezeAfterMs = -1;    // -1: never; a stream stops sending (still listed) this long after it started
  int64_t nUnfreezeAfterMs = -1;  // -1: frozen until the stream stops; counted from the freeze
  bool bBusy = false;
  // After every N frames one is skipped, as a camera whose driver found no free buffer: its sequence
  // number and time are never sent. 0: none.
  int32_t nDropEvery = 0;
  // An analog capture card: PAL/NTSC set the size (720x576, 720x480) and rate, frame sizes are not
  // enumerated (ENOTTY), and the card has no serial number.
  bool bAnalog = false;
  // udev-like links "sim:by-id/..." (cameras with a serial) and "sim:by-path/..." to each node.
  bool bLinks = false;
  int32_t nLatencyMs = 0;  // how long each control request takes, as a slow USB camera's
  bool bFlaky = false;     // every fifth control request answers EIO
};

// Limits of the SPEC items.
constexpr int32_t kSimMaxCount = 16;
constexpr int32_t kSimMaxInputs = 8;
constexpr int32_t kSimMaxLatencyMs = 5000;

bool ParseSimCameraSetup(const char* setup, SimCameraSetup* out, std::string* error);  // error names the bad item
const char* SimPixelFormatName(SimPixelFormat format);                                 // "yuy2", "bgr", ...

bool IsSimDevicePath(const char* path, int* device);  // "sim:N"
std::string SimDevicePath(int device);
std::string SimDeviceName(int device);  // "Ulmora Simulated Camera", "Ulmora Simulated Camera #2", ...

}  // namespace ulmora
