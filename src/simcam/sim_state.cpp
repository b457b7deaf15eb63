// The simulated cameras' shared state and the input and control API over it.
#include "simcam/sim_state.h"

#include "simcam/sim_devices.h"

#include <chrono>
#include <climits>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace ulmora {

const std::array<SimControlDesc, kSimControlTotal> kSimControls = {{
    {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0, 0},
    {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 200, 4, 100, 0},
    {V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 1, 64, 1, 8, 0},
    {V4L2_CID_HFLIP, V4L2_CTRL_TYPE_BOOLEAN, "Horizontal Flip", 0, 1, 1, 0, 0},
    {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 1, 0},
    {kSimSensorFlagsId, V4L2_CTRL_TYPE_BITMASK, "Sensor Flags", 0, 0x80000003LL, 0, 0x80000000LL, 0},
    {V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY,
     V4L2_CTRL_FLAG_UPDATE},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 3, 2047, 1, 250, 0},
    {V4L2_CID_PAN_RELATIVE, V4L2_CTRL_TYPE_INTEGER, "Pan, Relative", -10, 10, 1, 0,
     V4L2_CTRL_FLAG_WRITE_ONLY | V4L2_CTRL_FLAG_EXECUTE_ON_WRITE},
}};

namespace {

const char* const kPowerLineItems[] = {"Disabled", "50 Hz", "60 Hz"};
// UVC cameras offer two of the four modes; the others answer EINVAL.
const char* const kExposureItems[] = {nullptr, "Manual Mode", nullptr, "Aperture Priority Mode"};

bool ExposureIsAuto(const SimDeviceState& state) {
  return state.values[SimControlIndex(V4L2_CID_EXPOSURE_AUTO)].load(std::memory_order_relaxed) != V4L2_EXPOSURE_MANUAL;
}

// Cameras with a serial number: every one but an analog card's.
std::string SerialOf(const SimCameraConfig& config, int camera) {
  if (config.setup.bAnalog) return {};
  char text[16];
  snprintf(text, sizeof text, "SN%04d", camera + 1);
  return text;
}

std::atomic<SimCameraConfig*> g_current{nullptr};

// Every configuration ever published stays alive: elements and providers may still point at an
// older one, and a few small records per process cost nothing.
std::mutex& KeepLock() {
  static std::mutex m;
  return m;
}
// Never destroyed: a streaming thread may still read its configuration while the process exits.
std::vector<std::unique_ptr<SimCameraConfig>>& Kept() {
  static auto* v = new std::vector<std::unique_ptr<SimCameraConfig>>();
  return *v;
}

// Input names cycle through the usual analog connectors, numbered when one repeats.
void InputName(int count, int index, uint32_t* type, std::string* name) {
  static const char* const kKinds[] = {"Composite", "S-Video", "Tuner"};
  const int kind = index % 3;
  *type = kind == 2 ? V4L2_INPUT_TYPE_TUNER : V4L2_INPUT_TYPE_CAMERA;
  *name = kKinds[kind];
  if (count > 3) name->append(" ").append(std::to_string(index / 3 + 1));
}

}  // namespace

int SimControlIndex(uint32_t nId) {
  for (int i = 0; i < kSimControlTotal; ++i)
    if (kSimControls[i].nId == nId) return i;
  return -1;
}

int64_t SimNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

SimCameraConfig* SimCurrentConfig() { return g_current.load(std::memory_order_acquire); }

void SimPublishConfig(std::unique_ptr<SimCameraConfig> config) {
  std::lock_guard<std::mutex> lock(KeepLock());
  static uint64_t generation = 0;
  SimCameraConfig* raw = config.get();
  if (config) {
    config->nGeneration = ++generation;
    Kept().push_back(std::move(config));
  }
  SimCameraConfig* old = g_current.exchange(raw, std::memory_order_acq_rel);
  // Streams on the old devices end as on an unplugged camera.
  if (old)
    for (int i = 0; i < static_cast<int>(old->devices.size()); ++i)
      old->devices[i]->nGoneUntilNs.store(INT64_MAX, std::memory_order_release);
}

SimDeviceState* SimDeviceOf(const SimCameraConfig* config, int device) {
  if (!config || device < 0 || device >= static_cast<int>(config->devices.size())) return nullptr;
  return config->devices[device].get();
}

bool SimDevicePresent(const SimCameraConfig& config, int device, int64_t nowNs) {
  if (device < 0 || device >= static_cast<int>(config.devices.size())) return false;
  if (config.setup.nPlugAfterMs >= 0) {
    const int64_t start = config.nMonitorStartNs.load(std::memory_order_acquire);
    if (start == 0 || nowNs - start < config.setup.nPlugAfterMs * 1000000) return false;
  }
  return nowNs >= config.devices[device]->nGoneUntilNs.load(std::memory_order_acquire);
}

void SimUnplug(const SimCameraConfig& config, int device, int64_t nowNs) {
  if (device < 0 || device >= static_cast<int>(config.devices.size())) return;
  const int64_t back = config.setup.nReplugAfterMs >= 0 ? nowNs + config.setup.nReplugAfterMs * 1000000 : INT64_MAX;
  config.devices[device]->nGoneUntilNs.store(std::max<int64_t>(back, nowNs + 1), std::memory_order_release);
}

SimControlValues SimReadControls(const SimDeviceState& state) {
  SimControlValues v;
  v.nBrightness = static_cast<int32_t>(state.values[0].load(std::memory_order_relaxed));
  v.nContrast = static_cast<int32_t>(state.values[1].load(std::memory_order_relaxed));
  v.nGain = static_cast<int32_t>(state.values[2].load(std::memory_order_relaxed));
  v.bHFlip = state.values[3].load(std::memory_order_relaxed) != 0;
  v.nPowerLine = static_cast<int32_t>(state.values[4].load(std::memory_order_relaxed));
  return v;
}

int SimDeviceCount() {
  const SimCameraConfig* config = SimCurrentConfig();
  return config ? static_cast<int>(config->devices.size()) : 0;
}

bool SimIsPlugged(int device) {
  const SimCameraConfig* config = SimCurrentConfig();
  return config && SimDevicePresent(*config, device, SimNowNs());
}

int SimInputCount(const SimCameraConfig* config, int device) {
  if (!SimDeviceOf(config, device) || config->setup.nInputs <= 1) return 0;
  return config->setup.nInputs;
}

bool SimEnumInput(const SimCameraConfig* config, int device, int index, v4l2_input* out) {
  const int count = SimInputCount(config, device);
  if (!out || index < 0 || index >= count) return false;
  std::memset(out, 0, sizeof *out);
  out->index = static_cast<uint32_t>(index);
  std::string name;
  InputName(count, index, &out->type, &name);
  std::strncpy(reinterpret_cast<char*>(out->name), name.c_str(), sizeof out->name - 1);
  out->std = V4L2_STD_PAL | V4L2_STD_NTSC;
  out->tuner = 0;
  out->audioset = 0;
  return true;
}

int SimGetInput(const SimCameraConfig* config, int device) {
  const SimDeviceState* state = SimDeviceOf(config, device);
  return state ? state->nInput.load(std::memory_order_relaxed) : -1;
}

bool SimSetInput(const SimCameraConfig* config, int device, int index) {
  SimDeviceState* state = SimDeviceOf(config, device);
  if (!state) return false;
  // A webcam without an input list still answers for its one input, as V4L2 does.
  const int count = std::max(SimInputCount(config, device), 1);
  if (index < 0 || index >= count) return false;
  state->nInput.store(index, std::memory_order_relaxed);
  return true;
}

int SimControlCount(const SimCameraConfig* config, int device) {
  return SimDeviceOf(config, device) && config->setup.bControls ? kSimControlTotal : 0;
}

bool SimQueryControl(const SimCameraConfig* config, int device, int index, v4l2_query_ext_ctrl* out) {
  if (!out || index < 0 || index >= SimControlCount(config, device)) return false;
  const SimControlDesc& d = kSimControls[index];
  std::memset(out, 0, sizeof *out);
  out->id = d.nId;
  out->type = d.nType;
  std::strncpy(out->name, d.szName, sizeof out->name - 1);
  out->minimum = d.nMin;
  out->maximum = d.nMax;
  out->step = static_cast<uint64_t>(d.nStep);
  out->default_value = d.nDefault;
  out->flags = d.nFlags;
  if (d.nId == V4L2_CID_EXPOSURE_ABSOLUTE && ExposureIsAuto(*SimDeviceOf(config, device)))
    out->flags |= V4L2_CTRL_FLAG_INACTIVE;
  out->elem_size = d.nType == V4L2_CTRL_TYPE_INTEGER64 ? 8 : 4;
  out->elems = 1;
  out->nr_of_dims = 0;
  return true;
}

bool SimQueryMenu(const SimCameraConfig* config, int device, uint32_t id, uint32_t index, v4l2_querymenu* out) {
  if (!out || SimControlCount(config, device) == 0) return false;
  const char* item = nullptr;
  if (id == V4L2_CID_POWER_LINE_FREQUENCY && index <= 2) item = kPowerLineItems[index];
  if (id == V4L2_CID_EXPOSURE_AUTO && index <= 3) item = kExposureItems[index];
  if (!item) return false;
  std::memset(out, 0, sizeof *out);
  out->id = id;
  out->index = index;
  std::strncpy(reinterpret_cast<char*>(out->name), item, sizeof out->name - 1);
  return true;
}

bool SimGetControl(const SimCameraConfig* config, int device, uint32_t id, int64_t* value) {
  const SimDeviceState* state = SimDeviceOf(config, device);
  const int i = SimControlIndex(id);
  if (!state || !value || i < 0 || SimControlCount(config, device) == 0) return false;
  *value = state->values[i].load(std::memory_order_relaxed);
  return true;
}

bool SimSetControl(const SimCameraConfig* config, int device, uint32_t id, int64_t value) {
  SimDeviceState* state = SimDeviceOf(config, device);
  const int i = SimControlIndex(id);
  if (!state || i < 0 || SimControlCount(config, device) == 0) return false;
  if (value < kSimControls[i].nMin || value > kSimControls[i].nMax) return false;
  state->values[i].store(value, std::memory_order_relaxed);
  return true;
}

int SimReadControl(const SimCameraConfig* config, int device, uint32_t id, int64_t* value) {
  const int i = SimControlIndex(id);
  if (i < 0 || !SimDeviceOf(config, device) || SimControlCount(config, device) == 0) return EINVAL;
  if (kSimControls[i].nFlags & V4L2_CTRL_FLAG_WRITE_ONLY) return EACCES;
  return SimGetControl(config, device, id, value) ? 0 : EINVAL;
}

int SimWriteControl(const SimCameraConfig* config, int device, uint32_t id, int64_t* value) {
  SimDeviceState* state = SimDeviceOf(config, device);
  const int i = SimControlIndex(id);
  if (!state || i < 0 || SimControlCount(config, device) == 0) return EINVAL;
  const SimControlDesc& d = kSimControls[i];
  int64_t v = *value;
  switch (d.nType) {
    case V4L2_CTRL_TYPE_BOOLEAN: v = v != 0; break;
    case V4L2_CTRL_TYPE_BITMASK: v = static_cast<int64_t>(static_cast<uint32_t>(v) & static_cast<uint32_t>(d.nMax)); break;
    case V4L2_CTRL_TYPE_MENU: {
      if (v < d.nMin || v > d.nMax) return ERANGE;
      v4l2_querymenu m{};
      if (!SimQueryMenu(config, device, id, static_cast<uint32_t>(v), &m)) return EINVAL;
      break;
    }
    default: {
      // The kernel's rounding: to the nearest step from the minimum, then into the range.
      const int64_t step = d.nStep > 0 ? d.nStep : 1;
      v = std::min(std::max(v, d.nMin), d.nMax);
      v = d.nMin + (v - d.nMin + step / 2) / step * step;
      if (v > d.nMax) v -= step;
      break;
    }
  }
  // The camera stalls a request for a value its automatic mode rules.
  if (id == V4L2_CID_EXPOSURE_ABSOLUTE && ExposureIsAuto(*state)) return EIO;
  if (id == V4L2_CID_PAN_RELATIVE) {
    if (v != 0) {
      state->nPanPosition.fetch_add(v, std::memory_order_relaxed);
      state->nPanMoves.fetch_add(1, std::memory_order_relaxed);
    }
  } else {
    state->values[i].store(v, std::memory_order_relaxed);
  }
  *value = v;
  return 0;
}

SimFrameShape SimShapeNow(const SimCameraConfig& config, int device) {
  SimFrameShape shape;
  shape.nWidth = config.setup.nWidth;
  shape.nHeight = config.setup.nHeight;
  shape.nFpsNum = config.setup.nFps;
  const SimDeviceState* state = SimDeviceOf(&config, device);
  if (config.setup.bAnalog && state) {
    const bool ntsc = (state->nStd.load(std::memory_order_relaxed) & V4L2_STD_NTSC) != 0;
    shape.nWidth = 720;
    shape.nHeight = ntsc ? 480 : 576;
    shape.nFpsNum = ntsc ? 30000 : 25;
    shape.nFpsDen = ntsc ? 1001 : 1;
  }
  return shape;
}

std::string SimByIdLink(const SimCameraConfig* config, int device) {
  const SimDeviceState* state = SimDeviceOf(config, device);
  if (!state || !config->setup.bLinks) return {};
  const std::string serial = SerialOf(*config, state->nCamera.load(std::memory_order_acquire));
  if (serial.empty()) return {};
  return "sim:by-id/usb-Ulmora_Simulated_Camera_" + serial + "-video-index0";
}

std::string SimByPathLink(const SimCameraConfig* config, int device) {
  const SimDeviceState* state = SimDeviceOf(config, device);
  if (!state || !config->setup.bLinks) return {};
  // The port the camera is plugged into.
  return "sim:by-path/platform-sim-usb-0:" + std::to_string(state->nCamera.load(std::memory_order_acquire) + 1) +
         ":1.0-video-index0";
}

int SimResolvePath(const SimCameraConfig* config, const char* path) {
  int device = -1;
  if (!config || !path) return -1;
  if (IsSimDevicePath(path, &device)) return SimDeviceOf(config, device) ? device : -1;
  const int64_t now = SimNowNs();
  for (int i = 0; i < static_cast<int>(config->devices.size()); ++i) {
    if (!SimDevicePresent(*config, i, now)) continue;
    if (SimByIdLink(config, i) == path || SimByPathLink(config, i) == path) return i;
  }
  return -1;
}

bool SimUnplugDevice(int device) {
  const SimCameraConfig* config = SimCurrentConfig();
  if (!SimDeviceOf(config, device)) return false;
  SimUnplug(*config, device, SimNowNs());
  return true;
}

bool SimPlugOtherCamera(int device, int camera) {
  SimCameraConfig* config = SimCurrentConfig();
  SimDeviceState* state = SimDeviceOf(config, device);
  if (!state || camera < 0) return false;
  state->nCamera.store(camera, std::memory_order_release);
  for (int c = 0; c < kSimControlTotal; ++c) state->values[c].store(kSimControls[c].nDefault);
  state->nGoneUntilNs.store(0, std::memory_order_release);
  return true;
}

uint32_t SimControlWrites(int device) {
  const SimDeviceState* state = SimDeviceOf(SimCurrentConfig(), device);
  return state ? state->nControlWrites.load() : 0;
}

uint32_t SimPanMoves(int device) {
  const SimDeviceState* state = SimDeviceOf(SimCurrentConfig(), device);
  return state ? state->nPanMoves.load() : 0;
}

uint64_t SimStandard(int device) {
  const SimDeviceState* state = SimDeviceOf(SimCurrentConfig(), device);
  return state ? state->nStd.load() : 0;
}

int SimInputCount(int device) { return SimInputCount(SimCurrentConfig(), device); }
bool SimEnumInput(int device, int index, v4l2_input* out) {
  return SimEnumInput(SimCurrentConfig(), device, index, out);
}
int SimGetInput(int device) { return SimGetInput(SimCurrentConfig(), device); }
bool SimSetInput(int device, int index) { return SimSetInput(SimCurrentConfig(), device, index); }
int SimControlCount(int device) { return SimControlCount(SimCurrentConfig(), device); }
bool SimQueryControl(int device, int index, v4l2_query_ext_ctrl* out) {
  return SimQueryControl(SimCurrentConfig(), device, index, out);
}
bool SimQueryMenu(int device, uint32_t id, uint32_t index, v4l2_querymenu* out) {
  return SimQueryMenu(SimCurrentConfig(), device, id, index, out);
}
bool SimGetControl(int device, uint32_t id, int64_t* value) {
  return SimGetControl(SimCurrentConfig(), device, id, value);
}
bool SimSetControl(int device, uint32_t id, int64_t value) {
  return SimSetControl(SimCurrentConfig(), device, id, value);
}

}  // namespace ulmora
