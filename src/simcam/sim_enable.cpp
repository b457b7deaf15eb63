// Switching the simulated camera on: from a SPEC, the environment or a tool's command line.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "simcam/sim_camera.h"
#include "simcam/sim_gst.h"
#include "simcam/sim_state.h"
#include "simcam/v4l2_sim_node.h"

namespace ulmora {

bool EnableSimCamera(const char* setup, std::string* error) {
  auto config = std::make_unique<SimCameraConfig>();
  if (!ParseSimCameraSetup(setup, &config->setup, error)) return false;
  if (!SimRegisterGst(error)) return false;
  SimRegisterNodeOpener();
  for (int i = 0; i < config->setup.nCount; ++i) {
    auto device = std::make_unique<SimDeviceState>();
    for (int c = 0; c < kSimControlTotal; ++c) device->values[c].store(kSimControls[c].nDefault);
    device->nCamera.store(static_cast<int32_t>(config->devices.size()));
    config->devices.push_back(std::move(device));
  }
  SimPublishConfig(std::move(config));
  return true;
}

bool EnableSimCameraFromEnv(std::string* error) {
  SimRegisterNodeOpener();
  const char* setup = std::getenv("ULMORA_SIM_CAMERA");
  if (!setup) return true;
  if (!EnableSimCamera(setup, error)) {
    if (error) *error = "ULMORA_SIM_CAMERA: " + *error;
    return false;
  }
  return true;
}

void DisableSimCamera() { SimPublishConfig(nullptr); }

bool EnableSimCameraFromArgs(int* argc, char** argv, std::string* error) {
  std::string setup;
  bool found = false;
  int kept = 1;
  for (int i = 1; argc && argv && i < *argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {  // operands after "--" are never options
      while (i < *argc) argv[kept++] = argv[i++];
      break;
    }
    std::string one;
    if (IsSimCameraOption(argv[i], &one)) {
      setup = one;
      found = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  if (argc && argv) {
    argv[kept] = nullptr;
    *argc = kept;
  }
  if (!found) return EnableSimCameraFromEnv(error);
  if (!EnableSimCamera(setup.c_str(), error)) {
    if (error) *error = "--sim-camera: " + *error;
    return false;
  }
  return true;
}

}  // namespace ulmora
