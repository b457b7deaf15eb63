// The simulated cameras' shared state and the input and control API over it.
#include "simcam/sim_state.h"

#include "simcam/sim_devices.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

namespace ulmora {

const std::array<SimControlDesc, kSimControlTotal> kSimControls = {{
    {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0},
    {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 200, 1, 100},
    {V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 1, 64, 1, 8},
    {V4L2_CID_HFLIP, V4L2_CTRL_TYPE_BOOLEAN, "Horizontal Flip", 0, 1, 1, 0},
    {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 1},
}};

namespace {

const char* const kPowerLineItems[] = {"Disabled", "50 Hz", "60 Hz"};

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
  out->elem_size = d.nType == V4L2_CTRL_TYPE_INTEGER64 ? 8 : 4;
  out->elems = 1;
  out->nr_of_dims = 0;
  return true;
}

bool SimQueryMenu(const SimCameraConfig* config, int device, uint32_t id, uint32_t index, v4l2_querymenu* out) {
  if (!out || SimControlCount(config, device) == 0 || id != V4L2_CID_POWER_LINE_FREQUENCY || index > 2) return false;
  std::memset(out, 0, sizeof *out);
  out->id = id;
  out->index = index;
  std::strncpy(reinterpret_cast<char*>(out->name), kPowerLineItems[index], sizeof out->name - 1);
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
