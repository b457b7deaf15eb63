// GStreamer side of the simulated camera: the source element and the device provider, registered
// in-process as one static plugin.
#pragma once

#include <gst/gst.h>

#include <string>

#include "simcam/sim_setup.h"
#include "simcam/sim_state.h"

namespace ulmora {

// Initialises GStreamer when needed and registers "ulmorasimsrc" and the provider, once.
bool SimRegisterGst(std::string* error);
// The caps a simulated device offers, one structure per format in SPEC order.
GstCaps* SimMakeCaps(const SimCameraSetup& setup);
// The same at the size and rate the device delivers now (an analog card's follow its standard).
GstCaps* SimMakeCaps(const SimCameraSetup& setup, const SimFrameShape& shape);

GType SimSrcGetType();
GType SimProviderGetType();

}  // namespace ulmora
