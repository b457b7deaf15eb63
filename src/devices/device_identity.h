// Stable identities of capture devices: what "VideoDevice2" stores and what the same-device test
// compares. /dev/videoN changes between boots and plug-ins; the udev links under /dev/v4l do not.
#pragma once

#include <gst/gst.h>

#include <string>

namespace ulmora {

// The /dev/v4l/by-id link that resolves to node, else the by-path one, else node itself. The link
// folders can be given for tests; null means the system's.
std::string StableNodeIdentity(const char* node, const char* byIdDir = nullptr, const char* byPathDir = nullptr);

// The device's path property: "device.path" (V4L2 provider, simulated camera), else the ones PipeWire
// and libcamera providers carry; empty when it has none.
std::string DevicePathProperty(GstDevice* device);

// The identity of a listed device: a V4L2 node (direct or behind PipeWire) as StableNodeIdentity,
// "sim:N" as is, any other path property as is, else the display name.
std::string DeviceIdentity(GstDevice* device);

// The display name ("FriendlyName"); empty when the device has none.
std::string DeviceDisplayName(GstDevice* device);

}  // namespace ulmora
