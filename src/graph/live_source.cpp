#include "graph/live_source.h"

#include "gst/bus_errors.h"

namespace ulmora {

bool IsDeviceGoneError(const GError* error) {
  return error && error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_NOT_FOUND;
}

const char* LiveErrorSentence(const GError* error) {
  if (error && error->domain == GST_RESOURCE_ERROR) {
    switch (error->code) {
      case GST_RESOURCE_ERROR_BUSY:
        return "The capture device is in use by another program.";
      case GST_RESOURCE_ERROR_NOT_FOUND:
      case GST_RESOURCE_ERROR_READ:
      case GST_RESOURCE_ERROR_OPEN_READ:
      case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        return "The capture device stopped sending pictures: it was unplugged or switched off.";
      case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
        // ENOSPC at STREAMON: the USB bus cannot give the camera the bandwidth its format needs.
        return "The capture device could not start: its USB port has not enough bandwidth free for this "
               "picture format. Choose a smaller size, a lower rate or MJPEG, or plug it into another port.";
      default:
        break;
    }
  }
  if (error && ((error->domain == GST_STREAM_ERROR &&
                 (error->code == GST_STREAM_ERROR_FORMAT || error->code == GST_STREAM_ERROR_WRONG_TYPE ||
                  error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND)) ||
                (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_NEGOTIATION)))
    return "The capture device cannot deliver a picture format this program can show.";
  if (error && error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_DECODE)
    return "The pictures of the capture device could not be decoded.";
  return "The capture device stopped with an error.";
}

GstRef<GstElement> BindLiveSource(GstDevice* device) {
  if (!device) return {};
  GstElement* e = gst_device_create_element(device, nullptr);
  if (!e) return {};
  GstRef<GstElement> source(GST_ELEMENT(gst_object_ref_sink(e)));
  // Outside a pipeline an element has no bus, and the reason it fails would be lost.
  GstRef<GstBus> bus = Adopt(gst_bus_new());
  gst_element_set_bus(source.get(), bus.get());
  const GstStateChangeReturn r = gst_element_set_state(source.get(), GST_STATE_READY);
  bool gone = false;
  if (r == GST_STATE_CHANGE_FAILURE) {
    gst_element_set_state(source.get(), GST_STATE_NULL);
    while (GstRef<GstMessage> m = Adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR))) {
      LogBusError(m.get(), "capture device does not open");
      GError* raw = nullptr;
      gst_message_parse_error(m.get(), &raw, nullptr);
      GstRef<GError> err = Adopt(raw);
      gone = gone || IsDeviceGoneError(err.get());
    }
  }
  gst_element_set_bus(source.get(), nullptr);
  if (gone) {
    source.reset();
  }
  return source;
}

}  // namespace ulmora
