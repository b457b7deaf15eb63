#include "gst/bus_errors.h"

#include "common/log.h"
#include "gst/gst_ref.h"

namespace ulmora {

namespace {
// Per thread: graphs are built, run and torn down on one thread, which then asks why.
thread_local std::string t_lastError;

// The text and the detail of an error message; both empty for any other message.
struct ParsedError {
  std::string text, detail;
  bool known = false;
  explicit ParsedError(GstMessage* msg) {
    GError* raw = nullptr;
    gchar* rawDetail = nullptr;
    if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) gst_message_parse_error(msg, &raw, &rawDetail);
    GstRef<GError> error = Adopt(raw);
    GstRef<gchar> d = Adopt(rawDetail);
    known = error && error->message;
    if (known) text = error->message;
    if (d) detail = d.get();
  }
};

std::string CauseText(GstMessage* msg) {
  const ParsedError e(msg);
  std::string text = e.known ? e.text : "unknown error";
  const size_t nl = e.detail.find_last_of('\n');
  const std::string last = e.detail.substr(nl == std::string::npos ? 0 : nl + 1);
  // A source position ("../gst/x.c(12): function (): /Pipeline/...") tells a person nothing.
  if (!last.empty() && last.find(".c(") == std::string::npos) text += " (" + last + ")";
  return text;
}
}  // namespace

std::string BusErrorText(GstMessage* msg) {
  const ParsedError e(msg);
  return (e.known ? e.text : "unknown") + " (" + e.detail + ")";
}

void LogBusError(GstMessage* msg, const char* what) {
  LogPrintf("!!! %s: %s", what, BusErrorText(msg).c_str());
  t_lastError = CauseText(msg);
}

const std::string& LastBusError() { return t_lastError; }

void ForgetLastBusError() { t_lastError.clear(); }

namespace {
GstRef<GstBus> BusOf(GstElement* graph) { return Adopt(graph ? gst_element_get_bus(graph) : nullptr); }

bool LogOneBusError(GstBus* bus, const char* what) {
  GstRef<GstMessage> msg = Adopt(bus ? gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR) : nullptr);
  if (!msg) return false;
  LogBusError(msg.get(), what);
  return true;
}
}  // namespace

bool LogNextBusError(GstElement* graph) { return LogOneBusError(BusOf(graph).get(), "graph error"); }

int LogPendingBusErrors(GstElement* graph, const char* what) {
  GstRef<GstBus> bus = BusOf(graph);
  int logged = 0;
  while (LogOneBusError(bus.get(), what)) ++logged;
  return logged;
}

}  // namespace ulmora
