// Switching the simulated low-light camera on and off. Once on, its devices ("sim:N") are listed
// beside real cameras and open as they do, so the live path, the device list, inputs and controls
// can be used without hardware. Devices are numbered 0..count-1. The setup is a SPEC as
// simcam/sim_setup.h describes; this header carries no V4L2 or GStreamer types.
#pragma once

#include <string>

namespace ulmora {

// Registers the element, the provider and the "sim:" node opener in-process (once) and publishes
// the devices of the SPEC, replacing any earlier ones. Nothing simulated is listed before this is
// called.
bool EnableSimCamera(const char* setup, std::string* error);
// ULMORA_SIM_CAMERA; true when unset. Registers the "sim:" node opener either way, so a stored
// "sim:N" device reads as missing rather than as a file that is not there.
bool EnableSimCameraFromEnv(std::string* error);
void DisableSimCamera();  // the devices vanish; running streams fail

// Tools: "--sim-camera" (all defaults) or "--sim-camera=SPEC". Returns whether arg is that option.
bool IsSimCameraOption(const char* arg, std::string* setup);
// Takes every --sim-camera option out of argv (the last one counts) and enables the camera from it,
// else from ULMORA_SIM_CAMERA. False with a message when the SPEC is bad.
bool EnableSimCameraFromArgs(int* argc, char** argv, std::string* error);

}  // namespace ulmora
