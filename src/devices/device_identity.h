// Stable identities of capture devices: what "VideoDevice2" stores and what the same-device test
// compares. /dev/videoN changes between boots and plug-ins; the udev links under /dev/v4l do not.
#pragma once

#include <gst/gst.h>

#include <string>

namespace ulmora {

// The /dev/v4l/by-id link that resolves to node when the device has a serial number, else the by-path
// one, else node itself. Identical cameras without a serial share one by-id name that udev gives to
// only one of them, so that name tells them apart from nothing. The link folders and the sysfs class
// folder (where "NODE/device/../serial" is read) can be given for tests; null means the system's.
std::string StableNodeIdentity(const char* node, const char* byIdDir = nullptr, const char* byPathDir = nullptr,
                               const char* sysClassDir = nullptr);


// The device's path property: "device.path" (V4L2 provider, simulated camera), else the ones PipeWire
// and libcamera providers carry; empty when it has none.
std::string DevicePathProperty(GstDevice* device);

// The identity of a listed device: a V4L2 node (direct or behind PipeWire) as StableNodeIdentity, a
// registered node by its links, any other path property as is, else the display name. Worked out the
// first time it is asked for (the device monitor asks when the device arrives) and kept with the
// device object: once unplugged, its node no longer resolves, or resolves to the next camera plugged in.
std::string DeviceIdentity(GstDevice* device);

// The display name ("FriendlyName"); empty when the device has none.
std::string DeviceDisplayName(GstDevice* device);

}  // namespace ulmora
