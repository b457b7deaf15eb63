// Run, stop and pause, graph events and teardown.
#include <gst/video/videooverlay.h>

#include "common/log.h"
#include "gst/bus_errors.h"
#include "graph/cap_graph.h"
#include "gst/gst_sync.h"

namespace ulmora {

HRESULT CCapGraph::WaitState(const char* what) {
  GstState cur = GST_STATE_VOID_PENDING, pending = GST_STATE_VOID_PENDING;
  const GstStateChangeReturn r =
      gst_element_get_state(graph_.get(), &cur, &pending, static_cast<GstClockTime>(kStateTimeoutMs) * GST_MSECOND);
  if (r == GST_STATE_CHANGE_FAILURE) {
    LogPrintf("!!! %s failed", what);
    LogPendingBusErrors(graph_.get());
    return E_FAIL;
  }
  if (r == GST_STATE_CHANGE_ASYNC) {
    LogPrintf("!!! %s: no answer from the graph in %u ms", what, kStateTimeoutMs);
    return VFW_E_TIMEOUT;
  }
  NoteStreamingSettled();
  return S_OK;
}

HRESULT CCapGraph::AwaitCue(const char* what) {
  const HRESULT hr = WaitState(what);
  bCued_ = hr == S_OK;
  if (!bCued_ && grabber_) grabber_->DropHeld();
  return hr;
}

void CCapGraph::ForgetCue() {
  bCued_ = false;
  if (grabber_) grabber_->DropHeld();
}

HRESULT CCapGraph::CtlRun() {
  if (!graph_) return E_UNEXPECTED;
  if (bStoppedCtl_.load() && seeking_) {
    // A stopped graph starts again from where it stands, that frame included: the cued frame once more,
    // or, when none was kept, the stream sought back to it.
    if (!(bCued_ && grabber_ && grabber_->ReplayHeld())) {
      gint64 pos = 0;
      if (!gst_element_query_position(graph_.get(), GST_FORMAT_TIME, &pos) || pos < 0) pos = 0;
      gst_element_seek_simple(graph_.get(), GST_FORMAT_TIME,
                              static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), pos);
    }
  }
  ForgetCue();
  bStoppedCtl_.store(0);
  // An end of stream from an earlier run would end this one at once.
  if (GstRef<GstBus> bus = Adopt(gst_element_get_bus(graph_.get())))
    while (GstMessage* m = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_EOS)) gst_message_unref(m);
  if (SetGraphState(graph_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    LogPendingBusErrors(graph_.get());
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CCapGraph::CtlPause() {
  if (!graph_) return E_UNEXPECTED;
  ForgetCue();
  bStoppedCtl_.store(0);
  if (SetGraphState(graph_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    LogPendingBusErrors(graph_.get());
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CCapGraph::CtlStop() {
  if (!graph_) return E_UNEXPECTED;
  // A file sits paused where it stands; a live source closes down to READY.
  const GstState target = seeking_ ? GST_STATE_PAUSED : GST_STATE_READY;
  bStoppedCtl_.store(1);
  if (SetGraphState(graph_.get(), target) == GST_STATE_CHANGE_FAILURE) {
    LogPendingBusErrors(graph_.get());
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CCapGraph::CtlStopWhenReady() {
  const HRESULT hr = CtlStop();
  if (FAILED(hr)) return hr;
  return AwaitCue("cueing the first frame");
}

HRESULT CCapGraph::SeekToStart() {
  if (!graph_) return E_UNEXPECTED;
  ForgetCue();
  if (grabber_) grabber_->HoldCued();
  if (!gst_element_seek_simple(graph_.get(), GST_FORMAT_TIME,
                               static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 0)) {
    LogPrintf("!!! rewind to 0 refused");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CCapGraph::RunGraph() {
  if (!control_) return E_UNEXPECTED;
  const int32_t state = sg.Modes().nRunState.load();
  if (state == kRunRunning) return S_FALSE;
  if (state == kRunPaused) CtlStop();
  sg.SetRunState(kRunRunning);
  sg.RequestReprocess();
  return CtlRun();
}

HRESULT CCapGraph::StopGraph() {
  if (!control_) return E_UNEXPECTED;
  if (sg.Modes().nRunState.load() == kRunStopped) return S_FALSE;
  CtlPause();
  if (seeking_) SeekToStart();
  sg.SetRunState(kRunStopped);
  return CtlStopWhenReady();
}

HRESULT CCapGraph::PauseGraph() {
  if (!control_) return E_UNEXPECTED;
  switch (sg.Modes().nRunState.load()) {
    case kRunStopped:
      return S_FALSE;
    case kRunPaused:
      sg.SetRunState(kRunRunning);
      return CtlRun();
    default:
      sg.SetRunState(kRunPaused);
      return CtlPause();
  }
}

HRESULT CCapGraph::SetGraphNotifyWindow(IWindow* window) {
  if (!event_) return E_UNEXPECTED;
  notify_.store(window);
  return S_OK;
}

HRESULT CCapGraph::DetachVideoWindow() {
  if (!graph_) return E_FAIL;
  // Our renderers draw nothing; only a sink that could open a window of its own has anything to hide.
  GstRef<GstElement> overlay = Adopt(gst_bin_get_by_interface(GST_BIN(graph_.get()), GST_TYPE_VIDEO_OVERLAY));
  if (!overlay) return E_FAIL;
  gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(overlay.get()), 0);
  return S_FALSE;
}

void CCapGraph::DestroyGraph() {
  if (graph_) {
    // Stopped, but without cueing a first frame again: the graph goes down at once, and cueing would
    // only read, decode and process a frame nobody sees.
    sg.SetRunState(kRunStopped);
    // From here on no buffer reaches the session.
    if (grabber_) grabber_->SetCallback(nullptr, nullptr);
    SetGraphState(graph_.get(), GST_STATE_READY);
  }
  ForgetCue();
  // A source opened outside any graph (or left behind by a failed build) must be closed by hand.
  if (source_) gst_element_set_state(source_.get(), GST_STATE_NULL);
  source_.reset();
  if (event_) {
    notify_.store(nullptr);
    gst_bus_set_sync_handler(event_.get(), nullptr, nullptr, nullptr);
    event_.reset();
  }
  control_.reset();
  seeking_.reset();
  builder_.reset();
  if (graph_) {
    // Joins the streaming threads; the bus handler must not outlive this object.
    SetGraphState(graph_.get(), GST_STATE_NULL);
    GstRef<GstBus> bus = Adopt(gst_element_get_bus(graph_.get()));
    if (bus) {
      gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
      gst_bus_set_flushing(bus.get(), TRUE);
    }
  }
  decoder_.reset();
  graph_.reset();
  grabber_.reset();
  bPadsDone_.store(0);
  bStoppedCtl_.store(1);
  sg.FreeMediaType();
}

}  // namespace ulmora
