// The live capture graph: the chosen device's source element -> "Grabber" -> "NULL Render".
#include <string>
#include <vector>

#include "common/log.h"
#include "gst/bus_errors.h"
#include "common/report.h"
#include "devices/cap_state.h"
#include "devices/crossbar.h"
#include "devices/crossbar_inputs.h"
#include "devices/device_identity.h"
#include "devices/device_table.h"
#include "devices/stream_prepare.h"
#include "graph/cap_graph.h"
#include "graph/graph_dump.h"
#include "graph/graph_report.h"
#include "gst/gst_sync.h"
#include "graph/live_source.h"

namespace ulmora {
namespace {

constexpr const char* kNoDeviceText =
    "No video capture device was detected on your system.\r\n\r\nThis sample requires a functional video capture "
    "device, such\r\nas a USB web camera.  Video capture will be disabled.";

// Names of the two media types RenderStream is asked for, as the log shows them.
constexpr const char* kRenderTryLines[] = {
    nullptr,
    "1. try to render capture pin [MEDIATYPE_Interleaved]",
    "2. try to render preview pin [MEDIATYPE_Video]",
    "3. try to render preview pin [MEDIATYPE_Interleaved]",
};

// The device's name shown in status field 0 and given to the session for "%n".
void AnnounceDevice(CSG& sg) {
  GraphStatus(0, g_Cap.szDeviceName.c_str());
  sg.SetSourceName(g_Cap.szDeviceName.c_str(), kSourceDevice);
}

// Crossbar discovery: the device's own inputs, when they offer a choice.
void DiscoverCrossbar() {
  g_Cap.pCrossbar.reset();
  g_Cap.nVideoInputs = 0;
  if (g_Cap.szDevicePath.empty()) return;
  CrossbarFeed feed = OpenDeviceCrossbar(g_Cap.szDevicePath.c_str());
  if (!feed.pXbar) return;
  HRESULT hrX = S_OK;
  g_Cap.pCrossbar.reset(new CCrossbar(feed, &hrX));
  int inputs = 0;
  if (SUCCEEDED(hrX) && SUCCEEDED(g_Cap.pCrossbar->GetInputCount(&inputs))) g_Cap.nVideoInputs = inputs;
}

}  // namespace

HRESULT CCapGraph::BuildCaptureGraph() {
  LogPrintf("/////////////////////////////////////\n\tBuild capture filter graph");
  bAutoRender = 1;
  bTouchGraph = 1;
  // The entries are borrowed from this graph: forget them before it goes.
  ClearLiveGraphEntries();
  DestroyGraph();
  failureCause_.clear();
  ForgetLastBusError();
  HRESULT hr = MakeCaptureGraph();
  if (FAILED(hr)) {
    ClearLiveGraphEntries();
    DestroyGraph();
    if (kDebugBuild) LogPrintf("! 2 step");
    bAutoRender = 0;
    bTouchGraph = 0;
    hr = MakeCaptureGraph();
  }
  if (FAILED(hr)) {
    ClearLiveGraphEntries();
    DestroyGraph();
    // The device's own error says whether it was busy, gone or out of resources; the box keeps its text.
    failureCause_ = LastBusError();
    if (!failureCause_.empty()) LogPrintf("the capture graph cannot be built: %s", failureCause_.c_str());
    GraphWarning("Can't build the graph, capture device busy?..");
    LogPrintf("/////////////////////////////////////");
    return hr;
  }
  GraphStatus(1, "Previewing Video");
  LogPrintf("/////////////////////////////////////");
  return hr;
}

void CCapGraph::InitCapFilter() {
  if (source_) {
    ReportAssert("error", __LINE__, __FILE__);
    gst_element_set_state(source_.get(), GST_STATE_NULL);
    source_.reset();
  }
  SetDeviceName("");
  std::string path, id;
  GstDevice* current = devices_ ? devices_->Table().Current() : nullptr;
  if (current) {
    const std::string name = DeviceDisplayName(current);
    if (!name.empty()) {
      SetDeviceName(name.c_str());
      AnnounceDevice(sg);
    }
    path = DevicePathProperty(current);
    id = DeviceIdentity(current);
    PrepareDeviceForStreaming(path, id);
    source_ = BindLiveSource(current);
  }
  if (!source_) {
    // The remembered device is gone (or none was chosen): the first listed one that opens.
    std::vector<GstRef<GstDevice>> devices;
    if (devices_) devices = devices_->Table().DevicesNow();
    for (const GstRef<GstDevice>& d : devices) {
      const std::string name = DeviceDisplayName(d.get());
      if (name.empty()) continue;
      SetDeviceName(name.c_str());
      path = DevicePathProperty(d.get());
      id = DeviceIdentity(d.get());
      PrepareDeviceForStreaming(path, id);
      source_ = BindLiveSource(d.get());
      if (source_) {
        AnnounceDevice(sg);
        break;
      }
    }
    if (!source_) SetDeviceName("");
  }
  if (source_) {
    g_Cap.pVCap = source_.get();
    g_Cap.szDevicePath = path;
    g_Cap.szDeviceId = id;
  }
}

// An empty pipeline with its bus handler, holding the chosen device's source.
HRESULT CCapGraph::CreateCapturePipeline() {
  if (graph_) {
    ReportAssert("bad algoritm", __LINE__, __FILE__);
    DestroyGraph();
  }
  nSourceFrames_.store(0);
  nSourceGaps_.store(0);
  nLastOffset_.store(GST_BUFFER_OFFSET_NONE);
  liveInserted_.clear();
  InitCapFilter();
  if (!source_) {
    GraphWarning(kNoDeviceText);
    return E_FAIL;
  }
  graph_ = MakeElement("pipeline", "Filter Graph");
  if (!graph_) {
    GraphError("Could not create filter graph");
    return E_FAIL;
  }
  InstallBusHandler();
  const char* name = g_Cap.szDeviceName.empty() ? "Cap" : g_Cap.szDeviceName.c_str();
  if (!gst_object_set_name(GST_OBJECT(source_.get()), name) || !gst_bin_add(GST_BIN(graph_.get()), source_.get())) {
    GraphError("Cannot add vidcap to filtergraph");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CCapGraph::AddCaptureGrabber() {
  grabber_ = std::make_unique<CGrabber>();
  grabber_->SetTimeOffset(dLiveTimeBase_);
  if (!grabber_->Created()) {
    GraphWarning("Could not create SampleGrabber (is coreelements registered?)");
    return E_FAIL;
  }
  if (!gst_bin_add(GST_BIN(graph_.get()), grabber_->Element())) {
    GraphError("Could not put sample grabber in graph");
    return E_FAIL;
  }
  // Nothing builds a capture graph here but the graph itself: the builder is the pipeline.
  builder_.reset(GST_OBJECT(gst_object_ref(graph_.get())));
  g_Cap.pBuilder = graph_.get();
  return S_OK;
}

// Source -> grabber -> renderer pin by pin, then the device's own word on the format.
HRESULT CCapGraph::ConnectCaptureManually() {
  HRESULT hr = NegotiateSourceToGrabber(graph_.get(), *grabber_, source_.get(), grabber_->Element(), kLiveTexts, false);
  if (FAILED(hr)) {
    GraphError("Could not add grabber");
    return hr;
  }
  hr = NegotiateGrabberToRenderer(graph_.get(), *grabber_, grabber_->Element(), kLiveTexts);
  if (FAILED(hr)) {
    GraphError("Could not add render");
    return hr;
  }
  // The pads agreed on paper; the device itself may still refuse (busy, format not really there).
  hr = ConfirmLiveFormat();
  if (FAILED(hr)) GraphError("Could not add grabber");
  return hr;
}

// The grabber takes each subtype in turn until the device's stream renders into it.
HRESULT CCapGraph::RenderCaptureAutomatically() {
  HRESULT hr = S_OK;
  GstElement* renderer = AddNullRenderer(graph_.get(), "Unable to make a NULL render", hr);
  if (!renderer) return hr;
  hr = E_FAIL;
  for (int step = 1; step <= kNegotiationSteps; ++step) {
    GstRef<GstCaps> caps = Adopt(NewStepCaps(step));
    const char* subtype = GetGuidName(StepSubtype(step));
    hr = grabber_->SetMediaType(caps.get());
    if (FAILED(hr)) {
      LogPrintf("Can`t set media type: %s", subtype);
      continue;
    }
    LogPrintf("Found media type: %s", subtype);
    hr = RenderAnyLiveForm(renderer);
    if (SUCCEEDED(hr)) break;
  }
  if (FAILED(hr)) GraphError("Can`t set media type!");
  return hr;
}

HRESULT CCapGraph::RenderAnyLiveForm(GstElement* renderer) {
  HRESULT hr = E_FAIL;
  for (int form = 0; form < 4; ++form) {
    if (form > 0 && (form == 1 || kDebugBuild)) LogPrintf("%s", kRenderTryLines[form]);
    hr = RenderLiveStream(form, renderer);
    if (SUCCEEDED(hr)) break;
  }
  return hr;
}

// The session takes the connected format's rate, the grabber's frames and the name template.
void CCapGraph::AttachCaptureSession(const CapsRate& rate) {
  const int64_t avg = sg.Format().mtConnected.vih.AvgTimePerFrame;
  if (avg != 0) {
    sg.SetFrameRate(ExactFormatRate(rate.num, rate.den, avg));
    LogPrintf("FPS=%.2f", sg.GetFrameRate());
  } else {
    sg.SetFrameRate(29.97);
  }
  grabber_->SetCallback(&CCapGraph::SampleThunk, &sg);
  DetachVideoWindow();
  sg.ParseNameTemplate();
}

// Run control over the complete graph, which then stands ready (or runs, with ActivateGraph).
HRESULT CCapGraph::StartCaptureControl() {
  event_ = Adopt(gst_element_get_bus(graph_.get()));
  control_ = RefElement(graph_.get());
  if (!control_) return E_FAIL;
  sg.SetLiveSource(true);
  WatchSourceFrames();
  // A stopped live graph holds its device open in READY.
  if (SetGraphState(graph_.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) return E_FAIL;
  if (bActivateGraph) RunGraph();
  return S_OK;
}

HRESULT CCapGraph::MakeCaptureGraph() {
  HRESULT hr = CreateCapturePipeline();
  if (SUCCEEDED(hr)) hr = AddCaptureGrabber();
  if (SUCCEEDED(hr)) hr = bAutoRender ? RenderCaptureAutomatically() : ConnectCaptureManually();
  if (FAILED(hr)) return hr;
  DiscoverCrossbar();
  DumpGraph(graph_.get());
  if (FAILED(ReadConnectedFormat(kLiveTexts))) return E_FAIL;
  AttachCaptureSession(ConnectedCapsRate());
  return StartCaptureControl();
}

}  // namespace ulmora
