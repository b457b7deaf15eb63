// The live graph's source element made from a listed device, and the plain sentences its failures are
// told in.
#pragma once

#include <gst/gst.h>

#include "gst/gst_ref.h"

namespace ulmora {

// The device's source element, opened (READY) so that its caps are the device's real ones. Null when
// the device is gone. A device that is there but refuses to open (busy) is returned closed: its
// failure then shows, with its own words, when the format is confirmed.
GstRef<GstElement> BindLiveSource(GstDevice* device);

// A plain sentence for an error of a running (or starting) capture device.
const char* LiveErrorSentence(const GError* error);

// True when the error says the device is not there at all.
bool IsDeviceGoneError(const GError* error);

}  // namespace ulmora
