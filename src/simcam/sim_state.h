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
#include <vector>

#include "simcam/sim_setup.h"

namespace ulmora {

constexpr int kSimControlTotal = 5;

struct SimControlDesc {
  uint32_t nId;
  uint32_t nType;  // V4L2_CTRL_TYPE_*
  const char* szName;
  int64_t nMin, nMax, nStep, nDefault;
};
extern const std::array<SimControlDesc, kSimControlTotal> kSimControls;
int SimControlIndex(uint32_t nId);  // -1 when the id is not ours

struct SimDeviceState {
  std::atomic<int64_t> nGoneUntilNs{0};  // steady-clock time the device is back; INT64_MAX: gone for good
  std::atomic<int32_t> nInput{0};
  std::array<std::atomic<int64_t>, kSimControlTotal> values{};
  std::atomic<bool> bStreaming{false};  // one stream at a time, as a V4L2 node
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

struct SimControlValues {
  int32_t nBrightness = 0;
  int32_t nContrast = 100;
  int32_t nGain = 8;
  bool bHFlip = false;
  int32_t nPowerLine = 1;  // V4L2_CID_POWER_LINE_FREQUENCY_50HZ
};
SimControlValues SimReadControls(const SimDeviceState& state);

}  // namespace ulmora
