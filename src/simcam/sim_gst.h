// GStreamer side of the simulated camera: the source element and the device provider, registered
// in-process as one static plugin.
#pragma once

#include <gst/gst.h>

#include <string>

#include "simcam/sim_setup.h"

namespace ulmora {

// Initialises GStreamer when needed and registers "ulmorasimsrc" and the provider, once.
bool SimRegisterGst(std::string* error);
// The caps a simulated device offers, one structure per format in SPEC order.
GstCaps* SimMakeCaps(const SimCameraSetup& setup);

GType SimSrcGetType();
GType SimProviderGetType();

}  // namespace ulmora
