// Registration of the simulated camera's element and provider, and the caps it offers.
#include "simcam/sim_gst.h"

#include <mutex>

namespace ulmora {

GstCaps* SimMakeCaps(const SimCameraSetup& setup) {
  SimFrameShape shape;
  shape.nWidth = setup.bAnalog ? 720 : setup.nWidth;
  shape.nHeight = setup.bAnalog ? 576 : setup.nHeight;
  shape.nFpsNum = setup.bAnalog ? 25 : setup.nFps;
  return SimMakeCaps(setup, shape);
}

GstCaps* SimMakeCaps(const SimCameraSetup& setup, const SimFrameShape& shape) {
  GstCaps* caps = gst_caps_new_empty();
  for (SimPixelFormat f : setup.formats) {
    GstStructure* s = nullptr;
    if (f == SimPixelFormat::kMJPEG) {
      s = gst_structure_new_empty("image/jpeg");
    } else {
      const char* format = f == SimPixelFormat::kYUY2  ? "YUY2"
                           : f == SimPixelFormat::kBGR ? "BGR"
                           : f == SimPixelFormat::kY16 ? "GRAY16_LE"
                                                       : "I420";
      s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING, format, nullptr);
    }
    gst_structure_set(s, "width", G_TYPE_INT, shape.nWidth, "height", G_TYPE_INT, shape.nHeight, "framerate",
                      GST_TYPE_FRACTION, shape.nFpsNum, shape.nFpsDen, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                      nullptr);
    gst_caps_append_structure(caps, s);
  }
  return caps;
}

namespace {

gboolean PluginInit(GstPlugin* plugin) {
  return gst_element_register(plugin, "ulmorasimsrc", GST_RANK_NONE, SimSrcGetType()) &&
         gst_device_provider_register(plugin, "ulmorasimdeviceprovider", GST_RANK_MARGINAL, SimProviderGetType());
}

}  // namespace

bool SimRegisterGst(std::string* error) {
  static std::once_flag once;
  static bool ok = false;
  static std::string failure;
  std::call_once(once, [] {
    GError* err = nullptr;
    if (!gst_init_check(nullptr, nullptr, &err)) {
      failure = std::string("GStreamer init failed: ") + (err ? err->message : "unknown reason");
      if (err) g_error_free(err);
      return;
    }
    ok = gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "ulmorasim",
                                    "Simulated low-light camera", PluginInit, "1.0", "Proprietary", "ulmora",
                                    "ulmora", "https://ulmora.invalid") != FALSE;
    if (!ok) failure = "could not register the simulated camera with GStreamer";
  });
  if (!ok && error) *error = failure;
  return ok;
}

}  // namespace ulmora
