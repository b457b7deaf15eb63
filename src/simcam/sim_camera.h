// The simulated low-light camera: a live GStreamer source ("ulmorasimsrc") and a device provider
// that lists it beside real cameras, so the live path, the device list, inputs and controls can be
// used without hardware. Inputs and controls are described with V4L2's own structures, so one
// translation layer serves real and simulated devices. Devices are numbered 0..count-1 ("sim:N").
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ulmora {

enum class SimPixelFormat { kYUY2, kBGR, kI420, kMJPEG };

// A parsed SPEC: "WxH@FPS,formats=a|b,inputs=N,controls,count=N,unplug-after=S,replug-after=T,
// plug-after=S,busy" (every item optional; "1" alone means all defaults).
struct SimCameraSetup {
  int32_t nWidth = 640;
  int32_t nHeight = 480;
  int32_t nFps = 30;
  std::vector<SimPixelFormat> formats{SimPixelFormat::kYUY2, SimPixelFormat::kBGR};  // in the order offered
  int32_t nInputs = 1;   // 1: no input list, like a webcam
  bool bControls = false;
  int32_t nCount = 1;
  int64_t nUnplugAfterMs = -1;  // -1: never; counted from the start of streaming
  int64_t nReplugAfterMs = -1;  // -1: never comes back; counted from the unplug
  int64_t nPlugAfterMs = -1;    // -1: present at once; counted from the first device-monitor start
  bool bBusy = false;
};

// Limits of the SPEC items.
constexpr int32_t kSimMaxCount = 16;
constexpr int32_t kSimMaxInputs = 8;

bool ParseSimCameraSetup(const char* setup, SimCameraSetup* out, std::string* error);  // error names the bad item
const char* SimPixelFormatName(SimPixelFormat format);                               // "yuy2", "bgr", ...

// Registers the element and the provider in-process (once) and publishes the devices of the SPEC,
// replacing any earlier ones. Nothing simulated is listed before this is called.
bool EnableSimCamera(const char* setup, std::string* error);
bool EnableSimCameraFromEnv(std::string* error);  // ULMORA_SIM_CAMERA; true when unset
void DisableSimCamera();                          // the devices vanish; running streams fail

// Tools: "--sim-camera" (all defaults) or "--sim-camera=SPEC". Returns whether arg is that option.
bool IsSimCameraOption(const char* arg, std::string* setup);
// Takes every --sim-camera option out of argv (the last one counts) and enables the camera from it,
// else from ULMORA_SIM_CAMERA. False with a message when the SPEC is bad.
bool EnableSimCameraFromArgs(int* argc, char** argv, std::string* error);

bool IsSimDevicePath(const char* path, int* device);  // "sim:N"
std::string SimDevicePath(int device);
std::string SimDeviceName(int device);  // "Ulmora Simulated Camera", "Ulmora Simulated Camera #2", ...

int SimDeviceCount();
bool SimIsPlugged(int device);
int SimInputCount(int device);  // 0 when the setup has no input list
bool SimEnumInput(int device, int index, v4l2_input* out);
int SimGetInput(int device);
bool SimSetInput(int device, int index);  // takes effect on the next frame
int SimControlCount(int device);          // 0 without "controls"
bool SimQueryControl(int device, int index, v4l2_query_ext_ctrl* out);
bool SimQueryMenu(int device, uint32_t id, uint32_t index, v4l2_querymenu* out);
bool SimGetControl(int device, uint32_t id, int64_t* value);
bool SimSetControl(int device, uint32_t id, int64_t value);  // live, next frame; false when out of range

}  // namespace ulmora
