// The live graph's automatic mode: the device's stream rendered into the grabber with whatever
// converter or decoder it needs, decided at build time from the device's real caps, then confirmed by
// letting the device negotiate once.
#include <chrono>

#include "common/log.h"
#include "devices/cap_state.h"
#include "devices/controls_dialogs.h"
#include "devices/controls_store.h"
#include "gst/bus_errors.h"
#include "graph/cap_graph.h"
#include "gst/gst_sync.h"
#include "graph/live_source.h"

namespace ulmora {
namespace {

// Longest time the device may take to agree to a format.
constexpr uint32_t kConfirmTimeoutMs = 3000;

bool IsInterleaved(const GstStructure* s) {
  gboolean system = FALSE;
  if (gst_structure_get_boolean(s, "systemstream", &system) && system) return true;
  return gst_structure_has_name(s, "video/mpegts") || gst_structure_has_name(s, "video/quicktime");
}

bool IsVideo(const GstStructure* s) {
  const char* n = gst_structure_get_name(s);
  return !IsInterleaved(s) && (g_str_has_prefix(n, "video/") || g_str_has_prefix(n, "image/"));
}

// The first structure of the wanted kind, or none.
bool OffersKind(const GstCaps* caps, bool interleaved) {
  for (guint i = 0; caps && i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    if (interleaved ? IsInterleaved(s) : IsVideo(s)) return true;
  }
  return false;
}

// The highest-ranked decoder that takes caps and gives raw video; null when there is none.
GstRef<GstElement> MakeDecoder(const GstCaps* caps) {
  GList* all = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
  GList* fits = gst_element_factory_list_filter(all, caps, GST_PAD_SINK, FALSE);
  fits = g_list_sort(fits, gst_plugin_feature_rank_compare_func);
  GstRef<GstCaps> raw = Adopt(gst_caps_new_empty_simple("video/x-raw"));
  GstRef<GstElement> decoder;
  for (GList* l = fits; l && !decoder; l = l->next) {
    auto* f = GST_ELEMENT_FACTORY(l->data);
    if (gst_element_factory_can_src_any_caps(f, raw.get())) decoder = MakeElement(gst_plugin_feature_get_name(f), nullptr);
  }
  gst_plugin_feature_list_free(fits);
  gst_plugin_feature_list_free(all);
  return decoder;
}

// The grabber's format for a source structure that needs converting: the step's format at the source's
// size and rate.
GstCaps* NewGrabberCaps(const GstStructure* source, const GstCaps* step) {
  GstCaps* caps = gst_caps_copy(step);
  GstStructure* s = gst_caps_get_structure(caps, 0);
  for (const char* field : {"width", "height", "framerate", "pixel-aspect-ratio"})
    if (const GValue* v = gst_structure_get_value(source, field)) gst_structure_set_value(s, field, v);
  return gst_caps_fixate(caps);
}

GstRef<GstCaps> NewChosenFormatCaps(const std::string& identity, const std::string& path) {
  FrameFormatChoice choice;
  if (!identity.empty() && ReadRememberedFrameFormat(identity, &choice)) {
    const std::string text = FrameFormatCaps(choice);
    if (!text.empty()) return Adopt(gst_caps_from_string(text.c_str()));
  }
  // A V4L2 source lists its largest size first, often at a crawling rate; the device's current size is
  // what it was last set to, by us or by the user.
  if (path.empty()) return {};
  std::string why;
  std::unique_ptr<CDeviceDialogs> pages = CDeviceDialogs::Open(path, &why);
  VideoSourceDescription source;
  if (!pages || !pages->DescribeSource(&source, &why) || source.nCurrentWidth == 0 || source.nCurrentHeight == 0)
    return {};
  GstRef<GstCaps> caps = Adopt(gst_caps_new_empty());
  for (const char* name : {"video/x-raw", "image/jpeg"})
    gst_caps_append_structure(
        caps.get(), gst_structure_new(name, "width", G_TYPE_INT, static_cast<int>(source.nCurrentWidth), "height",
                                      G_TYPE_INT, static_cast<int>(source.nCurrentHeight), nullptr));
  return caps;
}

}  // namespace

HRESULT CCapGraph::RenderLiveStream(int form, GstElement* renderer) {
  const bool preview = form >= 2;
  const bool interleaved = form == 1 || form == 3;
  // A source element has one stream pad, its capture pin; a separate preview pad is named so.
  GstRef<GstPad> output = preview ? Adopt(gst_element_get_static_pad(source_.get(), "preview")) : OutputPin(source_.get(), 0);
  if (!output || gst_pad_is_linked(output.get())) return E_FAIL;
  GstRef<GstCaps> offer = Adopt(gst_pad_query_caps(output.get(), nullptr));
  if (!OffersKind(offer.get(), interleaved)) return E_FAIL;

  HRESULT hr = LinkLiveToGrabber(output.get(), std::move(offer));
  if (SUCCEEDED(hr)) {
    GstRef<GstPad> grabberOut = OutputPin(grabber_->Element(), 0);
    hr = grabberOut ? ConnectPinToFilter(graph_.get(), grabberOut.get(), renderer) : E_FAIL;
  }
  if (SUCCEEDED(hr)) hr = ConfirmLiveFormat();
  if (FAILED(hr)) UndoLiveLinks(output.get(), renderer);
  return hr;
}

HRESULT CCapGraph::LinkLiveToGrabber(GstPad* output, GstRef<GstCaps> offer) {
  GstRef<GstPad> input;
  if (FAILED(FindFreePin(grabber_->Element(), GST_PAD_SINK, input))) return E_FAIL;
  GstRef<GstCaps> step = Adopt(grabber_->NewInputCaps());
  if (!offer || !step) return E_FAIL;
  // The frame format the user chose for this device in its source dialog, else the size the device is
  // set to now, when the device still offers it: nothing else is asked of the device.
  if (GstRef<GstCaps> chosen = NewChosenFormatCaps(g_Cap.szDeviceId, g_Cap.szDevicePath)) {
    GstRef<GstCaps> both = Adopt(gst_caps_intersect(offer.get(), chosen.get()));
    if (!gst_caps_is_empty(both.get())) offer = std::move(both);
  }

  // The device delivers the step's format itself: no converter.
  GstRef<GstCaps> direct = Adopt(gst_caps_intersect(offer.get(), step.get()));
  if (!gst_caps_is_empty(direct.get())) {
    if (gst_pad_link(output, input.get()) != GST_PAD_LINK_OK) return VFW_E_CANNOT_CONNECT;
    GstRef<GstCaps> fixed = Adopt(gst_caps_fixate(direct.release()));
    grabber_->OnInputConnected(fixed.get());
    return S_OK;
  }

  // A device that sends a later step's format gets that step, not a conversion into this one.
  for (int later = 1; later <= kNegotiationSteps; ++later) {
    GstRef<GstCaps> other = Adopt(NewStepCaps(later));
    if (gst_caps_can_intersect(offer.get(), other.get())) return VFW_E_CANNOT_CONNECT;
  }
  // Otherwise the device's formats in its own order of preference, each fixed as the device will send
  // it: a raw one through a converter, a compressed one through a decoder and a converter.
  for (guint i = 0; i < gst_caps_get_size(offer.get()); ++i) {
    GstRef<GstCaps> one = Adopt(gst_caps_copy_nth(offer.get(), i));
    const GstStructure* s = gst_caps_get_structure(one.get(), 0);
    if (!IsVideo(s)) continue;
    // Ours alone, so fixated in place rather than copied.
    GstRef<GstCaps> sourceCaps = Adopt(gst_caps_fixate(one.release()));
    const GstStructure* fixed = gst_caps_get_structure(sourceCaps.get(), 0);
    GstRef<GstElement> decoder;
    if (!gst_structure_has_name(fixed, "video/x-raw")) {
      decoder = MakeDecoder(sourceCaps.get());
      if (!decoder) continue;
    }
    GstRef<GstElement> pin = MakeElement("capsfilter", nullptr);
    GstRef<GstElement> conv = MakeElement("videoconvert", nullptr);
    if (!pin || !conv) return E_FAIL;
    g_object_set(pin.get(), "caps", sourceCaps.get(), nullptr);
    std::vector<GstElement*> chain{pin.get()};
    if (decoder) chain.push_back(decoder.get());
    chain.push_back(conv.get());
    for (GstElement* e : chain) {
      gst_bin_add(GST_BIN(graph_.get()), e);
      liveInserted_.push_back(e);
    }
    bool linked = true;
    for (size_t k = 0; linked && k + 1 < chain.size(); ++k) linked = gst_element_link(chain[k], chain[k + 1]);
    GstRef<GstPad> pinIn = Adopt(gst_element_get_static_pad(pin.get(), "sink"));
    GstRef<GstPad> convOut = Adopt(gst_element_get_static_pad(conv.get(), "src"));
    linked = linked && gst_pad_link(output, pinIn.get()) == GST_PAD_LINK_OK &&
             gst_pad_link(convOut.get(), input.get()) == GST_PAD_LINK_OK;
    if (!linked) {
      UndoLiveLinks(output, nullptr);
      continue;
    }
    GstRef<GstCaps> agreed = Adopt(NewGrabberCaps(fixed, step.get()));
    grabber_->OnInputConnected(agreed.get());
    return S_OK;
  }
  return VFW_E_CANNOT_CONNECT;
}

void CCapGraph::UndoLiveLinks(GstPad* output, GstElement* renderer) {
  if (GstPad* peer = gst_pad_get_peer(output)) {
    gst_pad_unlink(output, peer);
    gst_object_unref(peer);
  }
  for (GstElement* e : liveInserted_) {
    gst_element_set_state(e, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(graph_.get()), e);
  }
  liveInserted_.clear();
  if (!grabber_) return;
  for (GstPadDirection dir : {GST_PAD_SINK, GST_PAD_SRC}) {
    GstRef<GstPad> pad;
    if (FAILED(FindPinByIndex(grabber_->Element(), dir, 0, pad))) continue;
    if (GstPad* peer = gst_pad_get_peer(pad.get())) {
      if (dir == GST_PAD_SINK)
        gst_pad_unlink(peer, pad.get());
      else if (renderer)
        gst_pad_unlink(pad.get(), peer);
      gst_object_unref(peer);
    }
  }
  grabber_->OnInputConnected(nullptr);
}

HRESULT CCapGraph::ConfirmLiveFormat() {
  GstRef<GstPad> output = OutputPin(source_.get(), 0);
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(graph_.get()));
  if (!output || !bus) return E_FAIL;
  LogPendingBusErrors(graph_.get(), "capture device");  // left from an earlier attempt
  HRESULT hr = S_OK;
  // A live source negotiates and sets up its buffers in PAUSED, then waits for PLAYING: nothing streams.
  if (SetGraphState(graph_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    hr = VFW_E_CANNOT_CONNECT;
  } else {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConfirmTimeoutMs);
    for (;;) {
      if (GstRef<GstMessage> m = Adopt(gst_bus_timed_pop_filtered(bus.get(), 2 * GST_MSECOND, GST_MESSAGE_ERROR))) {
        LogBusError(m.get(), "capture device");
        hr = VFW_E_CANNOT_CONNECT;
        break;
      }
      if (gst_pad_has_current_caps(output.get())) break;
      if (std::chrono::steady_clock::now() > end) {
        LogPrintf("!!! the capture device agreed to no format in %u ms", kConfirmTimeoutMs);
        hr = VFW_E_TIMEOUT;
        break;
      }
    }
  }
  // A device that refused its buffers (busy) said why on the bus, which closing it would flush.
  if (FAILED(hr)) LogPendingBusErrors(graph_.get(), "capture device");
  // A device that failed is closed again rather than opened once more only to fail the same way.
  SetGraphState(graph_.get(), SUCCEEDED(hr) ? GST_STATE_READY : GST_STATE_NULL);
  gst_element_get_state(graph_.get(), nullptr, nullptr, static_cast<GstClockTime>(kStateTimeoutMs) * GST_MSECOND);
  LogPendingBusErrors(graph_.get(), "capture device");
  return hr;
}

void CCapGraph::WatchSourceFrames() {
  GstRef<GstPad> output = OutputPin(source_.get(), 0);
  if (output) gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_BUFFER, &CCapGraph::OnSourceBuffer, this, nullptr);
}

GstPadProbeReturn CCapGraph::OnSourceBuffer(GstPad*, GstPadProbeInfo* info, gpointer self) {
  auto* g = static_cast<CCapGraph*>(self);
  g->nSourceFrames_.fetch_add(1);
  // A camera numbers its frames; a gap is frames the driver dropped because no buffer was free.
  const GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  const guint64 offset = buffer ? GST_BUFFER_OFFSET(buffer) : GST_BUFFER_OFFSET_NONE;
  const guint64 last = g->nLastOffset_.exchange(offset);
  if (offset != GST_BUFFER_OFFSET_NONE && last != GST_BUFFER_OFFSET_NONE && offset > last + 1)
    g->nSourceGaps_.fetch_add(offset - last - 1);
  return GST_PAD_PROBE_OK;
}

uint64_t CCapGraph::SourceDroppedFrames() const {
  // A source that counts its own drops knows best.
  if (source_ && g_object_class_find_property(G_OBJECT_GET_CLASS(source_.get()), "dropped-frames")) {
    guint64 dropped = 0;
    g_object_get(source_.get(), "dropped-frames", &dropped, nullptr);
    return dropped;
  }
  return nSourceGaps_.load();
}

}  // namespace ulmora
