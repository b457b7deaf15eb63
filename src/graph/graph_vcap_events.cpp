// Graph events on the GUI thread: the end of a file, and errors of a running graph. A live device that
// fails is told to the person plainly and stopped; its capture run keeps the files it finished.
#include <string>

#include "common/log.h"
#include "gst/bus_errors.h"
#include "graph/cap_graph.h"
#include "graph/graph_report.h"
#include "graph/live_source.h"

namespace ulmora {

GraphEvent CCapGraph::HandleGraphNotify(uint32_t waitMs) {
  GstRef<GstMessage> msg = PopGraphEvent(waitMs);
  if (!msg) return GraphEvent::kNone;
  if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS) return GraphEvent::kEndOfStream;

  const char* from = GST_MESSAGE_SRC(msg.get()) ? GST_OBJECT_NAME(GST_MESSAGE_SRC(msg.get())) : "?";
  LogBusError(msg.get(), (std::string("graph error from '") + (from ? from : "?") + "'").c_str());
  if (!sg.Modes().bLiveSource) return GraphEvent::kError;

  // One failure often comes with followers (not-linked, internal data stream error): say it once.
  LogPendingBusErrors(graph_.get());
  // The files written so far are whole; no new one is begun.
  if (sg.StartCapture(0) != 0) {
    if (IWindow* w = sg.Processor().MsgWindow()) w->PostMsg(kMsgCaptureEnded);
  }
  // A graph that was not running yet still has its failed device to close.
  if (StopGraph() == S_FALSE) CtlStop();
  GError* raw = nullptr;
  gst_message_parse_error(msg.get(), &raw, nullptr);
  GstRef<GError> err = Adopt(raw);
  GraphNotice(LiveErrorSentence(err.get()));
  return GraphEvent::kError;
}

void CCapGraph::ContinueTimeline() {
  if (!grabber_ || grabber_->LastSampleTime() < 0) return;  // nothing came since the last offset was set
  dLiveTimeBase_ = grabber_->LastSampleTime() + 1.0 / sg.GetFrameRate();
}

}  // namespace ulmora
