#include "graph/bus_errors.h"

#include "common/log.h"
#include "graph/gst_ref.h"

namespace ulmora {

std::string BusErrorText(GstMessage* msg) {
  GError* raw = nullptr;
  gchar* rawDetail = nullptr;
  if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) gst_message_parse_error(msg, &raw, &rawDetail);
  GstRef<GError> error = Adopt(raw);
  GstRef<gchar> detail = Adopt(rawDetail);
  std::string text = error && error->message ? error->message : "unknown";
  text += " (";
  text += detail ? detail.get() : "";
  text += ")";
  return text;
}

void LogBusError(GstMessage* msg) { LogPrintf("!!! graph error: %s", BusErrorText(msg).c_str()); }

bool LogNextBusError(GstElement* graph) {
  GstRef<GstBus> bus = Adopt(graph ? gst_element_get_bus(graph) : nullptr);
  GstRef<GstMessage> msg = Adopt(bus ? gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR) : nullptr);
  if (!msg) return false;
  LogBusError(msg.get());
  return true;
}

}  // namespace ulmora
