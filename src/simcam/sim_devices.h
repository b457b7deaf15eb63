// The simulated devices by number, answered from the configuration in force: what tests read and
// set on the camera directly, beside what they do through the devices code. Inputs and controls are
// described with V4L2's own structures, so one translation layer serves real and simulated devices.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>

namespace ulmora {

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
bool SimUnplugDevice(int device);  // as if pulled out now; back only through SimPlugOtherCamera or replug-after
// Another camera (number `camera`, its own serial) is plugged in and takes the node number `device`.
bool SimPlugOtherCamera(int device, int camera);
// What the node saw: control writes (S_EXT_CTRLS), relative pan moves, the video standard.
uint32_t SimControlWrites(int device);
uint32_t SimPanMoves(int device);
uint64_t SimStandard(int device);

}  // namespace ulmora
