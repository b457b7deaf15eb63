#include "graph/cap_graph.h"

#include <cmath>

#include "common/log.h"
#include "gst/bus_errors.h"
#include "graph/graph_dump.h"
#include "graph/graph_report.h"
#include "gst/gst_sync.h"
#include "settings/profile_keys.h"

namespace ulmora {

CCapGraph::CCapGraph() {
  EnsureGstInit();
  bAutoRender = 1;
  bActive = 0;
  bTouchGraph = ProfileReadInt(ProfileKey::TouchGraph);
  bActivateGraph = ProfileReadInt(ProfileKey::ActivateGraph);
}

CCapGraph::~CCapGraph() {
  // No streaming thread may reach the session once it starts going away.
  if (graph_) DestroyGraph();
  if (bActive) {
    ProfileWriteInt(ProfileKey::ActivateGraph, bActivateGraph);
    ProfileWriteInt(ProfileKey::TouchGraph, bTouchGraph);
  }
}

void CCapGraph::SetActive(bool active) {
  bActive = active ? 1 : 0;
  sg.SetActive(active);
}

int CCapGraph::SampleThunk(void* session, double sampleTime, const Sample* sample) {
  return static_cast<CSG*>(session)->SampleCB(sampleTime, sample);
}

GstBusSyncReply CCapGraph::OnBusMessage(GstBus*, GstMessage* msg, gpointer self) {
  CallbackScope scope;
  auto* g = static_cast<CCapGraph*>(self);
  // Graph events are the pipeline's own and the ones that end or spoil a run; the state changes of
  // every element inside would only flood the window's queue.
  const GstMessageType type = GST_MESSAGE_TYPE(msg);
  const bool event = type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR || type == GST_MESSAGE_WARNING ||
                     (GST_MESSAGE_SRC(msg) && GST_IS_PIPELINE(GST_MESSAGE_SRC(msg)));
  if (IWindow* w = g->notify_.load(); w && event) w->PostMsg(kMsgGraphNotify);
  switch (type) {
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ERROR:
      return GST_BUS_PASS;  // kept for the bounded waits of the GUI thread
    default:
      return GST_BUS_DROP;  // nobody reads them: do not let them pile up
  }
}

void CCapGraph::InstallBusHandler() {
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(graph_.get()));
  if (bus) gst_bus_set_sync_handler(bus.get(), &CCapGraph::OnBusMessage, this, nullptr);
}

GstRef<GstMessage> CCapGraph::PopGraphEvent(uint32_t ms) {
  GstRef<GstBus> bus = Adopt(graph_ ? gst_element_get_bus(graph_.get()) : nullptr);
  if (!bus) return {};
  GstRef<GstMessage> msg =
      Adopt(gst_bus_timed_pop_filtered(bus.get(), static_cast<GstClockTime>(ms) * GST_MSECOND,
                                       static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  if (msg) NoteStreamingSettled();
  return msg;
}

GraphEvent CCapGraph::WaitGraphEvent(uint32_t timeoutMs) {
  if (!graph_) return GraphEvent::kError;
  GstRef<GstMessage> msg = PopGraphEvent(timeoutMs);
  if (!msg) return GraphEvent::kNone;
  if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS) return GraphEvent::kEndOfStream;
  LogBusError(msg.get());
  return GraphEvent::kError;
}

HRESULT CCapGraph::ReadConnectedFormat(const NegotiationTexts& texts) {
  sg.FreeMediaType();
  CapsMediaType cmt;
  const bool read = grabber_ && grabber_->GetConnectedMediaType(cmt);
  if (read) sg.SetMediaType(cmt.mt);
  if (!read || cmt.mt.formattype != FORMAT_VideoInfo) {
    GraphError(texts.bFile ? "Can't read the connected media type" : "Could not read the connected video type");
    if (!read) {
      if (texts.bFile)
        GraphError("Can't get media type");
      else
        LogPrintf("Could not get media type");
    } else {
      LogMediaTypeLine(texts.bFile ? "Can't get good type:\n" : "Could not get good type:\n", cmt.mt);
      LogPrintf("bFixedSizeSamples = %d", cmt.mt.bFixedSizeSamples);
    }
    return E_FAIL;
  }
  if (!cmt.mt.bFixedSizeSamples) {
    if (texts.bFile)
      GraphError("!!! bFixedSizeSamples = FALSE");
    else
      LogPrintf("!!! bFixedSizeSamples = FALSE");
  }
  DumpMediaType("Out Video Format", cmt);
  const BitmapInfoHeader& bih = cmt.mt.vih.bmiHeader;
  if (bih.biCompression == kFourccYUY2) LogPrintf("\nFound Input Compression :  FOURCC_YUY2\n");
  sg.SetSubtype(bih.biCompression);
  sg.SetVideoSize(bih.biWidth, bih.biHeight);  // its result is not part of the build's outcome
  return S_OK;
}

CCapGraph::CapsRate CCapGraph::ConnectedCapsRate() const {
  CapsRate rate;
  if (const GstCaps* caps = grabber_->ConnectedCaps()) {
    if (!gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &rate.num, &rate.den)) rate.num = 0;
  }
  return rate;
}

double ExactFormatRate(int num, int den, int64_t avgTimePerFrame) {
  if (avgTimePerFrame <= 0) return 0.0;
  if (num > 0 && den > 0 &&
      static_cast<int64_t>(gst_util_uint64_scale_round(static_cast<guint64>(den), 10000000, num)) == avgTimePerFrame)
    return static_cast<double>(num) / den;
  return 10000000.0 / static_cast<double>(avgTimePerFrame);
}

double RefineFileRate(double currentRate, int capsNum, int capsDen, double seconds, int64_t frames) {
  if (!(seconds > 0.0) || frames <= 0) return currentRate;
  if (capsNum > 0 && capsDen > 0) {
    // The container rounds its duration (to nanoseconds, or to milliseconds in Matroska); a length that is
    // the caps' rate to within half a frame is that rate, not a rate a hair above or below it.
    const double expectedFrames = seconds * capsNum / capsDen;
    if (std::fabs(expectedFrames - static_cast<double>(frames)) < 0.5) return static_cast<double>(capsNum) / capsDen;
  }
  return static_cast<double>(frames) / seconds;
}

}  // namespace ulmora
