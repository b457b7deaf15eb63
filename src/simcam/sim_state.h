// Shared state of the simulated cameras: one immutable configuration record per EnableSimCamera,
// published by one atomic exchange and kept for the life of the process (elements and the
// provider hold plain pointers to it), and per device the atomics the GUI, the provider and the
// streaming thread share: presence, input, control values and the streaming claim.
#pragma once

#include <linux/videodev2.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simcam/sim_setup.h"

namespace ulmora {

constexpr int kSimControlTotal = 9;

// A driver-specific bitmask of the user class, with its top bit in use.
constexpr uint32_t kSimSensorFlagsId = V4L2_CID_USER_BASE | 0x1001;
constexpr uint32_t kSimExposureAperturePriority = V4L2_EXPOSURE_APERTURE_PRIORITY;

struct SimControlDesc {
  uint32_t nId;
  uint32_t nType;  // V4L2_CTRL_TYPE_*
  const char* szName;
  int64_t nMin, nMax, nStep, nDefault;
  uint32_t nFlags;  // V4L2_CTRL_FLAG_* that do not depend on other controls
};
extern const std::array<SimControlDesc, kSimControlTotal> kSimControls;
int SimControlIndex(uint32_t nId);  // -1 when the id is not ours

struct SimDeviceState {
  std::atomic<int64_t> nGoneUntilNs{0};  // steady-clock time the device is back; INT64_MAX: gone for good
  std::atomic<int32_t> nInput{0};
  std::array<std::atomic<int64_t>, kSimControlTotal> values{};
  std::atomic<bool> bStreaming{false};  // buffers exist: one stream at a time, as a V4L2 node
  // The descriptor holding the streaming rights (0: none): one that set the input or format, as
  // uvcvideo gives them, until it closes.
  std::atomic<uint64_t> nOwner{0};
  std::atomic<uint64_t> nStd{V4L2_STD_PAL};
  std::atomic<int32_t> nCamera{0};          // which camera sits on this node (its serial number)
  std::atomic<int64_t> nPanPosition{0};     // where the relative pan control moved the head
  std::atomic<uint32_t> nPanMoves{0};       // non-zero relative pan requests
  std::atomic<uint32_t> nControlWrites{0};  // S_EXT_CTRLS requests
  std::atomic<uint32_t> nControlRequests{0};  // G/S_EXT_CTRLS requests, for the flaky answers
};

struct SimCameraConfig {
  SimCameraSetup setup;
  uint64_t nGeneration = 0;
  std::vector<std::unique_ptr<SimDeviceState>> devices;
  std::atomic<int64_t> nMonitorStartNs{0};  // first provider start, for plug-after
};

int64_t SimNowNs();  // steady clock
// The current configuration, null when the simulated camera is off.
SimCameraConfig* SimCurrentConfig();
void SimPublishConfig(std::unique_ptr<SimCameraConfig> config);  // takes null to switch off
// Whether the device is connected now (plug-after reached, not unplugged).
bool SimDevicePresent(const SimCameraConfig& config, int device, int64_t nowNs);
// Unplugs the device now; it comes back after replug-after when the setup has one.
void SimUnplug(const SimCameraConfig& config, int device, int64_t nowNs);
// The device of a "sim:N" path in the configuration, or null.
SimDeviceState* SimDeviceOf(const SimCameraConfig* config, int device);

// The input and control requests of sim_devices.h answered from a configuration the caller loaded
// once (null: the camera is off), so one request sees one setup even while another is published.
int SimInputCount(const SimCameraConfig* config, int device);
bool SimEnumInput(const SimCameraConfig* config, int device, int index, v4l2_input* out);
int SimGetInput(const SimCameraConfig* config, int device);
bool SimSetInput(const SimCameraConfig* config, int device, int index);
int SimControlCount(const SimCameraConfig* config, int device);
bool SimQueryControl(const SimCameraConfig* config, int device, int index, v4l2_query_ext_ctrl* out);
bool SimQueryMenu(const SimCameraConfig* config, int device, uint32_t id, uint32_t index, v4l2_querymenu* out);
bool SimGetControl(const SimCameraConfig* config, int device, uint32_t id, int64_t* value);
bool SimSetControl(const SimCameraConfig* config, int device, uint32_t id, int64_t value);
// As a driver answers S_EXT_CTRLS: clamps and rounds to the step, masks a bitmask, writes the applied
// value back into *value; an errno value when refused (ERANGE, EINVAL, EIO for a manual control its
// automatic mode rules, EACCES for reading a write-only one).
int SimWriteControl(const SimCameraConfig* config, int device, uint32_t id, int64_t* value);
int SimReadControl(const SimCameraConfig* config, int device, uint32_t id, int64_t* value);

// The picture the node delivers now: an analog card's follows its standard.
struct SimFrameShape {
  int32_t nWidth = 0, nHeight = 0;
  int32_t nFpsNum = 30, nFpsDen = 1;
};
SimFrameShape SimShapeNow(const SimCameraConfig& config, int device);

// udev-like links of a node ("sim:by-id/..." only for a camera with a serial; "sim:by-path/...");
// empty without "links" or for a node that is not there.
std::string SimByIdLink(const SimCameraConfig* config, int device);
std::string SimByPathLink(const SimCameraConfig* config, int device);
// The node a "sim:N" path or a link names now; -1 when none.
int SimResolvePath(const SimCameraConfig* config, const char* path);

struct SimControlValues {
  int32_t nBrightness = 0;
  int32_t nContrast = 100;
  int32_t nGain = 8;
  bool bHFlip = false;
  int32_t nPowerLine = 1;  // V4L2_CID_POWER_LINE_FREQUENCY_50HZ
};
SimControlValues SimReadControls(const SimDeviceState& state);

}  // namespace ulmora
