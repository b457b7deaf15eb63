#include "graph/pins.h"

#include <vector>

#include "common/log.h"
#include "graph/graph_dump.h"
#include "graph/graph_report.h"

namespace ulmora {

const NegotiationTexts kLiveTexts = {false,
                                     "Could not set media [Video] type",
                                     "Could not connect to filter pins (1)",
                                     "Could not get grabber output pin",
                                     "(Render) Find",
                                     "Could not connect to render (2)"};
const NegotiationTexts kFileTexts = {
    true,       "Can`t set media type",   "Can`t connect to filter pins", "Can't get grabber output pin",
    "Render :", "Can't connect to render"};

namespace {

// The element's pads in its own order; false when the walk failed.
bool ElementPads(GstElement* filter, std::vector<GstRef<GstPad>>& pads) {
  GstIterator* it = gst_element_iterate_pads(filter);
  if (!it) return false;
  GstRef<GstIterator> hold(it);
  for (;;) {
    GValue v = G_VALUE_INIT;
    switch (gst_iterator_next(it, &v)) {
      case GST_ITERATOR_OK:
        pads.push_back(RefPad(GST_PAD(g_value_get_object(&v))));
        g_value_unset(&v);
        break;
      case GST_ITERATOR_RESYNC:
        pads.clear();
        gst_iterator_resync(it);
        break;
      case GST_ITERATOR_DONE:
        return true;
      default:
        return false;
    }
  }
}

GstElement* PadOwner(GstPad* pad) {
  GstObject* parent = GST_OBJECT_PARENT(pad);
  return parent && GST_IS_ELEMENT(parent) ? GST_ELEMENT(parent) : nullptr;
}

// What an output pad can deliver: its agreed format when it has one, else what it says it can do.
GstCaps* NewOfferCaps(GstPad* output) {
  if (CGrabber* g = CGrabber::FromElement(PadOwner(output))) return g->NewOutputCaps();
  if (GstCaps* current = gst_pad_get_current_caps(output)) return current;
  return gst_pad_query_caps(output, nullptr);
}

GstCaps* NewAcceptCaps(GstPad* input) {
  if (CGrabber* g = CGrabber::FromElement(PadOwner(input))) return g->NewInputCaps();
  return gst_pad_query_caps(input, nullptr);
}

// The caps a converter can make of the offer for the accepting side: size and rate kept, format theirs.
GstCaps* NewConvertedCaps(GstCaps* offer, GstCaps* accept) {
  GstCaps* raw = gst_caps_new_empty();
  for (guint i = 0; i < gst_caps_get_size(offer); ++i) {
    const GstStructure* s = gst_caps_get_structure(offer, i);
    if (!gst_structure_has_name(s, "video/x-raw")) continue;
    GstStructure* c = gst_structure_copy(s);
    gst_structure_remove_fields(c, "format", "colorimetry", "chroma-site", nullptr);
    gst_caps_append_structure(raw, c);
  }
  GstCaps* out = gst_caps_intersect(raw, accept);
  gst_caps_unref(raw);
  return out;
}

void TellGrabber(GstPad* input, GstCaps* agreed) {
  CGrabber* g = CGrabber::FromElement(PadOwner(input));
  if (!g || !agreed) return;
  GstCaps* fixed = gst_caps_fixate(gst_caps_ref(agreed));
  g->OnInputConnected(fixed);
  gst_caps_unref(fixed);
}

HRESULT LinkDirect(GstPad* output, GstPad* input) {
  GstRef<GstCaps> offer = Adopt(NewOfferCaps(output));
  GstRef<GstCaps> accept = Adopt(NewAcceptCaps(input));
  if (!offer || !accept || !gst_caps_can_intersect(offer.get(), accept.get())) return VFW_E_CANNOT_CONNECT;
  GstRef<GstCaps> agreed = Adopt(gst_caps_intersect(offer.get(), accept.get()));
  if (gst_pad_link(output, input) != GST_PAD_LINK_OK) return VFW_E_CANNOT_CONNECT;
  TellGrabber(input, agreed.get());
  return S_OK;
}

// A converter between the two pads; removed again when the formats cannot be made to meet.
HRESULT LinkConverted(GstElement* graph, GstPad* output, GstPad* input) {
  GstRef<GstCaps> offer = Adopt(NewOfferCaps(output));
  GstRef<GstCaps> accept = Adopt(NewAcceptCaps(input));
  if (!offer || !accept) return VFW_E_CANNOT_CONNECT;
  GstRef<GstCaps> agreed = Adopt(NewConvertedCaps(offer.get(), accept.get()));
  if (gst_caps_is_empty(agreed.get())) return VFW_E_CANNOT_CONNECT;
  GstRef<GstElement> conv = MakeElement("videoconvert", nullptr);
  if (!conv || !GST_IS_BIN(graph) || !gst_bin_add(GST_BIN(graph), conv.get())) return E_FAIL;
  GstRef<GstPad> cin = Adopt(gst_element_get_static_pad(conv.get(), "sink"));
  GstRef<GstPad> cout = Adopt(gst_element_get_static_pad(conv.get(), "src"));
  if (gst_pad_link(output, cin.get()) != GST_PAD_LINK_OK || gst_pad_link(cout.get(), input) != GST_PAD_LINK_OK) {
    if (GstPad* peer = gst_pad_get_peer(cin.get())) {
      gst_pad_unlink(peer, cin.get());
      gst_object_unref(peer);
    }
    gst_bin_remove(GST_BIN(graph), conv.get());
    return VFW_E_CANNOT_CONNECT;
  }
  TellGrabber(input, agreed.get());
  return S_OK;
}

}  // namespace

HRESULT FindPinByIndex(GstElement* filter, GstPadDirection dir, int n, GstRef<GstPad>& pin) {
  pin.reset();
  if (!filter) return E_POINTER;
  std::vector<GstRef<GstPad>> pads;
  if (!ElementPads(filter, pads)) return E_FAIL;
  int count = 0;
  for (auto& p : pads) {
    if (GST_PAD_DIRECTION(p.get()) != dir) continue;
    if (count++ == n) {
      pin = std::move(p);
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT FindFreePin(GstElement* filter, GstPadDirection dir, GstRef<GstPad>& pin) {
  pin.reset();
  if (!filter) return E_POINTER;
  std::vector<GstRef<GstPad>> pads;
  if (!ElementPads(filter, pads)) return E_FAIL;
  for (auto& p : pads) {
    if (GST_PAD_DIRECTION(p.get()) == dir && !gst_pad_is_linked(p.get())) {
      pin = std::move(p);
      return S_OK;
    }
  }
  return E_FAIL;
}

GstRef<GstPad> InputPin(GstElement* filter, int n) {
  GstRef<GstPad> p;
  FindPinByIndex(filter, GST_PAD_SINK, n, p);
  return p;
}

GstRef<GstPad> OutputPin(GstElement* filter, int n) {
  GstRef<GstPad> p;
  FindPinByIndex(filter, GST_PAD_SRC, n, p);
  return p;
}

HRESULT ConnectPinToFilter(GstElement* graph, GstPad* output, GstElement* dest, bool intelligent) {
  if (!graph || !output || !dest) return E_POINTER;
  GstRef<GstPad> input;
  const HRESULT hr = FindFreePin(dest, GST_PAD_SINK, input);
  if (FAILED(hr)) return hr;
  const HRESULT direct = LinkDirect(output, input.get());
  if (SUCCEEDED(direct) || !intelligent) return direct;
  return LinkConverted(graph, output, input.get());
}

HRESULT ConnectFilterToFilter(GstElement* graph, GstElement* source, GstElement* dest, bool intelligent) {
  if (!graph || !source || !dest) return E_POINTER;
  GstRef<GstPad> output;
  const HRESULT hr = FindFreePin(source, GST_PAD_SRC, output);
  if (FAILED(hr)) return hr;
  return ConnectPinToFilter(graph, output.get(), dest, intelligent);
}

HRESULT NegotiateSourceToGrabber(GstElement* graph, CGrabber& grabber, GstElement* source, GstElement* grabberFilter,
                                 const NegotiationTexts& texts, bool intelligent) {
  LogPrintf("----------------------");
  HRESULT hrType = S_OK, hr = E_FAIL;
  for (int step = 1; step <= kNegotiationSteps; ++step) {
    LogPrintf("find Media Type step %d", step);
    GstRef<GstCaps> caps = Adopt(NewStepCaps(step));
    const char* name = GetGuidName(StepSubtype(step));
    hrType = grabber.SetMediaType(caps.get());
    if (FAILED(hrType)) {
      LogPrintf("Can`t set media type: %s", name);
      continue;
    }
    hr = ConnectFilterToFilter(graph, source, grabberFilter, intelligent);
    if (FAILED(hr)) {
      LogPrintf("Can`t connect to media type: %s", name);
      continue;
    }
    CapsMediaType offered;
    CapsToMediaType(caps.get(), offered);
    LogMediaTypeLine("", offered.mt);
    break;
  }
  if (FAILED(hrType)) {
    GraphError(texts.szSetTypeFailed);
    return hrType;
  }
  if (FAILED(hr)) {
    GraphError(texts.szConnectFailed);
    return hr;
  }
  if (!texts.bFile) LogPrintf("----------------------");
  // One-shot and buffered-sample modes do not exist here: every buffer passes and is handed on.
  return hr;
}

GstElement* AddNullRenderer(GstElement* graph, const char* makeFailText, HRESULT& hr) {
  GstRef<GstElement> sink = MakeElement("fakesink", "NULL Render");
  if (!sink) {
    GraphError(makeFailText);
    hr = E_FAIL;
    return nullptr;
  }
  // The frame path paces file playback itself.
  g_object_set(sink.get(), "sync", FALSE, nullptr);
  if (!GST_IS_BIN(graph) || !gst_bin_add(GST_BIN(graph), sink.get())) {
    GraphError("Can't add the filter to graph");
    hr = E_FAIL;
    return nullptr;
  }
  hr = S_OK;
  // Borrowed: our reference goes with sink, the graph's keeps the renderer.
  GstElement* renderer = sink.get();
  return renderer;
}

HRESULT NegotiateGrabberToRenderer(GstElement* graph, CGrabber& grabber, GstElement* grabberFilter,
                                   const NegotiationTexts& texts) {
  HRESULT hr = S_OK;
  GstElement* renderer = AddNullRenderer(graph, "Unable to make a null renderer", hr);
  if (!renderer) return hr;
  GstRef<GstPad> out = OutputPin(grabberFilter, 0);
  if (!out) {
    GraphError(texts.szNoGrabberOut);
    return E_FAIL;
  }
  LogPrintf("----------------------");
  hr = E_FAIL;
  for (int step = 1; step <= kNegotiationSteps; ++step) {
    LogPrintf("find Media Type step %d", step);
    GstRef<GstCaps> caps = Adopt(NewStepCaps(step));
    const char* name = GetGuidName(StepSubtype(step));
    hr = grabber.SetMediaType(caps.get());
    if (FAILED(hr)) {
      if (texts.bFile)
        LogPrintf("Can`t set media type: %s", name);
      else
        LogPrintf("Could not Set Media Type");
      continue;
    }
    hr = ConnectPinToFilter(graph, out.get(), renderer);
    if (FAILED(hr)) {
      if (texts.bFile) LogPrintf("Can`t connect to media type: %s", name);
      continue;
    }
    CapsMediaType offered;
    CapsToMediaType(caps.get(), offered);
    LogMediaTypeLine(texts.szRenderLabel, offered.mt);
    break;
  }
  if (FAILED(hr)) {
    GraphError(texts.szRenderFailed);
    return hr;
  }
  if (texts.bFile) {
    LogPrintf("----------------------");
    DumpGraph(graph);
  }
  return hr;
}

}  // namespace ulmora
