// Plain translations from V4L2's records to our descriptions; no device needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <linux/videodev2.h>
#include <string>

#include "devices/controls_desc.h"

namespace ulmora {

// A fixed text field of a V4L2 record, cut at its first NUL (drivers may fill it to the last byte).
template <size_t N>
std::string FieldText(const __u8 (&field)[N]) {
  const char* p = reinterpret_cast<const char*>(field);
  return std::string(p, strnlen(p, N));
}
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// The capabilities of the node opened, not of the whole device behind it, when the driver tells them apart.
inline uint32_t NodeCapabilities(const v4l2_capability& cap) {
  return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

// A tuner input is a tuner, a name saying S-Video is S-Video, every other input counts as composite.
int InputPhysicalType(const v4l2_input& input);

// An audio input named for the tuner is the tuner's sound, every other one a line input.
int AudioPhysicalType(const std::string& name);

// The input's name, cut at its field and at the first NUL.
std::string InputName(const v4l2_input& input);

// A legacy driver's control record in the extended form.
v4l2_query_ext_ctrl ExtendedQuery(const v4l2_queryctrl& query);

// False for what a dialog cannot show: disabled controls, class headers, strings, arrays, compounds.
bool DescribeControl(const v4l2_query_ext_ctrl& query, ControlDescription* out);

// A menu item: its name, or for an integer menu its value as text.
// Whether the control switches an automatic mode (exposure, gain, white balance, focus...).
bool IsAutoModeControl(uint32_t nId);
// Whether a value set on the control may be remembered and set again later: not a button, an action
// (write-only, execute-on-write), a value the device changes itself (volatile) or one it never takes.
bool IsRememberable(const v4l2_query_ext_ctrl& query);

ControlMenuEntry DescribeMenuEntry(const v4l2_query_ext_ctrl& query, const v4l2_querymenu& item);

// The class's name for headers the driver does not name; "Controls" for unknown classes.
const char* ControlClassName(uint32_t nClass);

// "YUYV" from its four-character code, unprintable bytes as '?'.
std::string FourccText(uint32_t nFourcc);

VideoStandardDescription DescribeStandard(const v4l2_standard& standard);

// A frame rate from a frame interval; 0 for an empty one.
double FrameRateOf(const v4l2_fract& interval);

// The tuner's frequency unit in Hz (62.5 kHz, 62.5 Hz or 1 Hz) times nUnits.
uint64_t TunerHz(const v4l2_tuner& tuner, uint64_t nUnits);
// The frequency in tuner units, rounded and kept within the tuner's range.
uint32_t TunerUnits(const v4l2_tuner& tuner, uint64_t nHz);

// Name, range, signal and audio modes; the frequency is left to the caller.
TunerDescription DescribeTuner(const v4l2_tuner& tuner);

}  // namespace ulmora
