// The file playback graph: "File Reader" (filesrc) + decoder -> "Grabber" -> "NULL Render".
#include <gst/video/video.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/log.h"
#include "common/paths.h"
#include "common/report.h"
#include "gst/bus_errors.h"
#include "graph/cap_graph.h"
#include "graph/graph_dump.h"
#include "graph/graph_report.h"
#include "gst/gst_sync.h"

namespace ulmora {
namespace {

constexpr const char* kHeldKey = "ulmora-held";

// Holds each decoded stream back until the graph behind it is complete.
GstPadProbeReturn HoldBack(GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }
// Streams we do not use (audio, subtitles) are dropped so they cannot stall the video.
GstPadProbeReturn DropData(GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }

void OnPadAdded(GstElement*, GstPad* pad, gpointer) {
  CallbackScope scope;
  const gulong id = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, &HoldBack, nullptr, nullptr);
  g_object_set_data(G_OBJECT(pad), kHeldKey, reinterpret_cast<gpointer>(static_cast<uintptr_t>(id)));
}

// How long the file reader may stay quiet before a file with no stream found is given up.
constexpr uint32_t kQuietReaderMs = 1000;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Notes each buffer the file reader hands on, pushed or pulled.
GstPadProbeReturn NoteReaderActive(GstPad*, GstPadProbeInfo*, gpointer when) {
  static_cast<std::atomic<int64_t>*>(when)->store(SteadyMs());
  return GST_PAD_PROBE_OK;
}

// A stream the decoder cannot decode (a plug-in missing): its media type is kept for the message.
void OnUnknownType(GstElement*, GstPad*, GstCaps* caps, gpointer graph) {
  CallbackScope scope;
  static_cast<CCapGraph*>(graph)->NoteUnknownType(caps);
}

void OnNoMorePads(GstElement*, gpointer done) {
  CallbackScope scope;
  static_cast<std::atomic<int32_t>*>(done)->store(1);
}

bool HasVideoStream(GstElement* decoder) {
  bool video = false;
  for (GList* l = decoder->srcpads; l && !video; l = l->next) {
    GstRef<GstCaps> caps = Adopt(gst_pad_get_current_caps(GST_PAD(l->data)));
    if (!caps) caps = Adopt(gst_pad_query_caps(GST_PAD(l->data), nullptr));
    video = caps && gst_caps_get_size(caps.get()) > 0 &&
            g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)), "video/");
  }
  return video;
}

// Lets every decoded stream go: linked ones into the graph, the others into the drop.
void ReleaseDecodedStreams(GstElement* decoder) {
  GstIterator* it = gst_element_iterate_src_pads(decoder);
  if (!it) return;
  for (bool done = false; !done;) {
    GValue v = G_VALUE_INIT;
    switch (gst_iterator_next(it, &v)) {
      case GST_ITERATOR_OK: {
        GstPad* pad = GST_PAD(g_value_get_object(&v));
        const auto id = static_cast<gulong>(reinterpret_cast<uintptr_t>(g_object_get_data(G_OBJECT(pad), kHeldKey)));
        if (!gst_pad_is_linked(pad))
          gst_pad_add_probe(pad,
                            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                            &DropData, nullptr, nullptr);
        if (id) {
          g_object_set_data(G_OBJECT(pad), kHeldKey, nullptr);
          gst_pad_remove_probe(pad, id);
        }
        g_value_unset(&v);
        break;
      }
      case GST_ITERATOR_RESYNC:
        gst_iterator_resync(it);
        break;
      default:
        done = true;
    }
  }
  gst_iterator_free(it);
}

}  // namespace

HRESULT CCapGraph::LoadFile(const char* fileName) {
  if (!fileName || !*fileName) return E_POINTER;
  if (std::strlen(fileName) >= kMaxPath) {
    LogPrintf("!!! file name of %zu characters (at most %zu)", std::strlen(fileName), kMaxPath - 1);
    return E_FAIL;
  }
  GstRef<GstElement> reader = Adopt(gst_bin_get_by_name(GST_BIN(graph_.get()), "File Reader"));
  if (!reader) return E_FAIL;
  g_object_set(reader.get(), "location", fileName, nullptr);
  if (!gst_bin_add(GST_BIN(graph_.get()), decoder_.get()) || !gst_element_link(reader.get(), decoder_.get()))
    return E_FAIL;
  g_signal_connect(decoder_.get(), "pad-added", G_CALLBACK(&OnPadAdded), nullptr);
  g_signal_connect(decoder_.get(), "no-more-pads", G_CALLBACK(&OnNoMorePads), &bPadsDone_);
  g_signal_connect(decoder_.get(), "unknown-type", G_CALLBACK(&OnUnknownType), this);
  // A file that ends before any stream was found (cut inside its headers) drains without pads.
  g_signal_connect(decoder_.get(), "drained", G_CALLBACK(&OnNoMorePads), &bPadsDone_);

  // Opening, typefinding and demuxing run on streaming threads; wait until every stream is known.
  if (SetGraphState(graph_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    LogNextBusError(graph_.get());
    return E_FAIL;
  }
  // Demuxers sometimes fail a file cut inside its headers without a word: once the reader has been
  // quiet for a while and no stream is known, none will be.
  nReaderActiveMs_.store(SteadyMs());
  GstRef<GstPad> readerPad = Adopt(gst_element_get_static_pad(reader.get(), "src"));
  const gulong probe =
      readerPad ? gst_pad_add_probe(readerPad.get(),
                                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_PUSH |
                                                                 GST_PAD_PROBE_TYPE_PULL),
                                    &NoteReaderActive, &nReaderActiveMs_, nullptr)
                : 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStateTimeoutMs);
  HRESULT hr = S_OK;
  while (!bPadsDone_.load() && hr == S_OK) {
    if (LogNextBusError(graph_.get())) {
      hr = E_FAIL;
    } else if (decoder_->numsrcpads == 0 && SteadyMs() - nReaderActiveMs_.load() > kQuietReaderMs) {
      LogPrintf("!!! no streams found: the file was read %u ms ago and nothing was recognised in it", kQuietReaderMs);
      hr = E_FAIL;
    } else if (std::chrono::steady_clock::now() > end) {
      LogPrintf("!!! no streams found in %u ms", kStateTimeoutMs);
      hr = VFW_E_TIMEOUT;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  if (probe) gst_pad_remove_probe(readerPad.get(), probe);
  if (FAILED(hr)) return hr;
  if (decoder_->numsrcpads == 0) {
    LogPrintf("!!! no streams in the file");
    return E_FAIL;
  }
  if (!HasVideoStream(decoder_.get())) failureCause_ = "the file has no video stream";
  return S_OK;
}

void CCapGraph::NoteUnknownType(GstCaps* caps) {
  int32_t expected = 0;
  if (!caps || gst_caps_get_size(caps) == 0 || !nUnknownTypeState_.compare_exchange_strong(expected, 1)) return;
  g_strlcpy(szUnknownType_, gst_structure_get_name(gst_caps_get_structure(caps, 0)), sizeof szUnknownType_);
  nUnknownTypeState_.store(2);
}

// Why a file could not be played, for the person: what the decoder found (or did not), else the last
// error the graph logged.
std::string CCapGraph::FileFailureCause() const {
  if (nUnknownTypeState_.load() == 2)
    return std::string("no decoder for ") + szUnknownType_ + " is installed (a GStreamer plug-in is missing)";
  if (!failureCause_.empty()) return failureCause_;
  if (!LastBusError().empty()) return LastBusError();
  return "nothing in the file was recognised as video";
}

HRESULT CCapGraph::BuildFileGraph(const char* fileName) {
  LogPrintf("/////////////////////////////////////\n\tBuild filter graph");
  bAutoRender = 0;
  bTouchGraph = 0;
  failureCause_.clear();
  nUnknownTypeState_.store(0);
  ForgetLastBusError();
  HRESULT hr = MakeFileGraph(fileName);
  if (FAILED(hr)) {
    DestroyGraph();
    if (kDebugBuild) LogPrintf("! 2 step");
    bAutoRender = 1;
    bTouchGraph = 1;
    hr = MakeFileGraph(fileName);
  }
  if (FAILED(hr)) {
    DestroyGraph();
    failureCause_ = FileFailureCause();
    LogPrintf("the file cannot be played: %s", failureCause_.c_str());
    GraphError("Can't render video file");
    LogPrintf("/////////////////////////////////////");
    return hr;
  }
  failureCause_.clear();
  GraphStatus(0, fileName);
  GraphStatus(1, "Previewing Video File");
  LogPrintf("/////////////////////////////////////");
  return hr;
}

// An empty pipeline with its bus handler; the last file's length is forgotten.
HRESULT CCapGraph::CreateFilePipeline() {
  if (graph_) {
    ReportAssert("bad algoritm", __LINE__, __FILE__);
    // Building over a live pipeline would drop it with its streaming threads still calling the session.
    DestroyGraph();
  }
  if (!EnsureGstInit()) {
    GraphError("Can't create filter graph");
    return E_FAIL;
  }
  dDurationSec_ = 0.0;
  nDurationFrames_ = 0;
  graph_ = MakeElement("pipeline", "Filter Graph");
  if (!graph_) {
    GraphError("Can't create filter graph");
    return E_FAIL;
  }
  InstallBusHandler();
  return S_OK;
}

// Reader and decoder, with the file loaded and its streams known.
HRESULT CCapGraph::AddFileReader(const char* fileName) {
  GstRef<GstElement> reader = MakeElement("filesrc", "File Reader");
  if (!reader) {
    GraphError("Can't create source filter");
    return E_FAIL;
  }
  if (!gst_bin_add(GST_BIN(graph_.get()), reader.get())) return E_FAIL;
  decoder_ = MakeElement("decodebin", "Decoder");
  if (!decoder_) {
    GraphError("Can't create loader");
    return E_FAIL;
  }
  const HRESULT hr = LoadFile(fileName);
  if (FAILED(hr)) GraphError("Can't load the media file\r\n");
  return hr;
}

HRESULT CCapGraph::AddFileGrabber() {
  grabber_ = std::make_unique<CGrabber>();
  if (!grabber_->Created()) {
    GraphError("Can't create SampleGrabber (is coreelements registered?)");
    return E_FAIL;
  }
  if (!gst_bin_add(GST_BIN(graph_.get()), grabber_->Element())) {
    GraphError("Can't add SampleGrabber");
    return E_FAIL;
  }
  return S_OK;
}

// Decoder -> grabber -> renderer: pin by pin, or (automatic) the grabber's output rendered as it comes.
HRESULT CCapGraph::ConnectFileGrabber() {
  const HRESULT hr = NegotiateSourceToGrabber(graph_.get(), *grabber_, decoder_.get(), grabber_->Element(), kFileTexts,
                                              bAutoRender != 0);
  if (FAILED(hr)) return hr;
  if (!bAutoRender) return NegotiateGrabberToRenderer(graph_.get(), *grabber_, grabber_->Element(), kFileTexts);
  return RenderFileGrabber();
}

HRESULT CCapGraph::RenderFileGrabber() {
  GstRef<GstPad> out = OutputPin(grabber_->Element(), 0);
  if (!out) {
    GraphError("Can't get grabber output pin");
    return E_FAIL;
  }
  HRESULT hr = S_OK;
  GstElement* renderer = AddNullRenderer(graph_.get(), "Can't render", hr);
  if (!renderer) return hr;
  hr = ConnectPinToFilter(graph_.get(), out.get(), renderer, true);
  if (FAILED(hr)) {
    GraphError("Can't render");
    return hr;
  }
  DumpGraph(graph_.get());
  return S_OK;
}

// The session takes the connected format's rate and the grabber's frames; the graph its controls.
HRESULT CCapGraph::AttachFileSession(const CapsRate& rate) {
  const int64_t avg = sg.Format().mtConnected.vih.AvgTimePerFrame;
  sg.SetFrameRate(avg ? ExactFormatRate(rate.num, rate.den, avg) : 23.976);
  grabber_->SetCallback(&CCapGraph::SampleThunk, &sg);
  DetachVideoWindow();

  event_ = Adopt(gst_element_get_bus(graph_.get()));
  control_ = RefElement(graph_.get());
  if (!control_) return E_FAIL;
  seeking_ = RefElement(graph_.get());
  if (!seeking_) return E_FAIL;
  return S_OK;
}

// The graph is complete: let the streams go and cue the first frame.
HRESULT CCapGraph::CueFirstFrame() {
  gst_bin_sync_children_states(GST_BIN(graph_.get()));
  grabber_->HoldCued();
  ReleaseDecodedStreams(decoder_.get());
  return AwaitCue("cueing the first frame");
}

// The file's length in seconds and frames; when both are known they refine the rate.
void CCapGraph::ReadFileLength(const CapsRate& rate) {
  gint64 ns = 0;
  double seconds = 0.0;
  if (gst_element_query_duration(graph_.get(), GST_FORMAT_TIME, &ns)) {
    if (ns > 0) seconds = static_cast<double>(ns) * 1e-9;
  } else {
    LogPrintf("!!! TIME_FORMAT_MEDIA_TIME not supported!..");
  }
  gint64 frames = 0;
  if (!gst_element_query_duration(graph_.get(), GST_FORMAT_DEFAULT, &frames)) {
    frames = 0;
    LogPrintf("!!! TIME_FORMAT_FRAME not supported!..");
  }
  if (frames < 0) frames = 0;
  dDurationSec_ = seconds;
  nDurationFrames_ = frames;
  if (seconds != 0.0 && frames != 0)
    sg.SetFrameRate(RefineFileRate(sg.GetFrameRate(), rate.num, rate.den, seconds, frames));
  LogPrintf("FPS=%.2f", sg.GetFrameRate());
}

// With TouchGraph (or the automatic attempt) the graph runs once and comes back to the start.
void CCapGraph::TouchFileGraph() {
  // The graph has just cued its first frame and nothing has run: it stands at the start already, and a
  // rewind would only read, decode and deliver that frame once more.
  if (!bTouchGraph && !bAutoRender) return;
  ForgetCue();
  if (SetGraphState(graph_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) WaitState("run");
  SetGraphState(graph_.get(), GST_STATE_PAUSED);
  if (SUCCEEDED(SeekToStart())) AwaitCue("rewind");
}

HRESULT CCapGraph::MakeFileGraph(const char* fileName) {
  HRESULT hr = CreateFilePipeline();
  if (SUCCEEDED(hr)) hr = AddFileReader(fileName);
  if (SUCCEEDED(hr)) hr = AddFileGrabber();
  if (SUCCEEDED(hr)) hr = ConnectFileGrabber();
  if (FAILED(hr)) return hr;
  if (FAILED(ReadConnectedFormat(kFileTexts))) return E_FAIL;
  const CapsRate rate = ConnectedCapsRate();
  if (FAILED(AttachFileSession(rate)) || FAILED(CueFirstFrame())) return E_FAIL;
  ReadFileLength(rate);
  sg.SetSourceName(fileName, kSourceFile);
  sg.ParseNameTemplate();
  TouchFileGraph();
  bStoppedCtl_.store(1);
  return S_OK;
}

}  // namespace ulmora
