#include "graph/graph_dump.h"

#include <cstdint>
#include <vector>

#include "common/log.h"
#include "gst/gst_ref.h"

namespace ulmora {

unsigned ObjectIdentity(const void* object) {
  const auto v = reinterpret_cast<uintptr_t>(object);
  // Fold the high half in so that two live objects do not print alike.
  return static_cast<unsigned>(v ^ (static_cast<uint64_t>(v) >> 32));
}

void LogMediaTypeLine(const char* label, const MediaType& mt) {
  LogPrintf("Trying media type %s: major type:  %s,    sub type  :  %s", label ? label : "", GetGuidName(mt.majortype),
            GetGuidName(mt.subtype));
}

void DumpMediaType(const char* label, const MediaType& mt, const WaveFormatEx* wfx, uint32_t cbWave) {
  const char* lab = label ? label : "";
  LogPrintf("\n-----------------------");
  LogPrintf("%s  M type %s  S type %s", lab, GetGuidName(mt.majortype), GetGuidName(mt.subtype));
  LogPrintf("Subtype description %s", GetSubtypeDescription(mt.subtype));
  LogPrintf("%s", mt.bTemporalCompression ? "Temporally compressed" : "Not temporally compressed");
  if (mt.bFixedSizeSamples)
    LogPrintf("Sample size %d", static_cast<int>(mt.lSampleSize));
  else
    LogPrintf("Variable size samples");

  if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VideoInfoHeader)) {
    const VideoInfoHeader& v = mt.vih;
    const BitmapInfoHeader& b = v.bmiHeader;
    LogPrintf("Source rectangle (Left %d Top %d Right %d Bottom %d)", v.rcSource.left, v.rcSource.top, v.rcSource.right,
              v.rcSource.bottom);
    LogPrintf("Target rectangle (Left %d Top %d Right %d Bottom %d)", v.rcTarget.left, v.rcTarget.top, v.rcTarget.right,
              v.rcTarget.bottom);
    LogPrintf("Size of BITMAPINFO structure %d", static_cast<int>(b.biSize));
    if (b.biCompression < 256) {
      LogPrintf("%dx%dx%d bit  (%d)", b.biWidth, b.biHeight, b.biBitCount, static_cast<int>(b.biCompression));
    } else {
      const char fcc[5] = {static_cast<char>(b.biCompression & 0xFF), static_cast<char>((b.biCompression >> 8) & 0xFF),
                           static_cast<char>((b.biCompression >> 16) & 0xFF),
                           static_cast<char>((b.biCompression >> 24) & 0xFF), 0};
      LogPrintf("%dx%dx%d bit '%4.4s'", b.biWidth, b.biHeight, b.biBitCount, fcc);
    }
    LogPrintf("Image size %d", static_cast<int>(b.biSizeImage));
    LogPrintf("Planes %d", b.biPlanes);
    LogPrintf("X Pels per metre %d", b.biXPelsPerMeter);
    LogPrintf("Y Pels per metre %d", b.biYPelsPerMeter);
    LogPrintf("Colours used %d", static_cast<int>(b.biClrUsed));
  } else if (mt.majortype == MEDIATYPE_Audio) {
    LogPrintf("Format type %s", GetGuidName(mt.formattype));
    LogPrintf("Subtype %s", GetGuidName(mt.subtype));
    if (mt.subtype != MEDIASUBTYPE_MPEG1Packet && wfx && cbWave >= 16) {
      LogPrintf("wFormatTag %u", wfx->wFormatTag);
      LogPrintf("nChannels %u", wfx->nChannels);
      LogPrintf("nSamplesPerSec %lu", static_cast<unsigned long>(wfx->nSamplesPerSec));
      LogPrintf("nAvgBytesPerSec %lu", static_cast<unsigned long>(wfx->nAvgBytesPerSec));
      LogPrintf("nBlockAlign %u", wfx->nBlockAlign);
      LogPrintf("wBitsPerSample %u", wfx->wBitsPerSample);
      if (cbWave >= 18) LogPrintf("cbSize %u", wfx->cbSize);
    }
  } else {
    LogPrintf("Format type %s", GetGuidName(mt.formattype));
  }
}

void DumpMediaType(const char* label, const CapsMediaType& cmt) {
  DumpMediaType(label, cmt.mt, cmt.cbWave ? &cmt.wfx : nullptr, cmt.cbWave);
}

namespace {

// Collects an iterator's objects, restarting when the set changes under us.
template <typename T>
bool Collect(GstIterator* it, std::vector<GstRef<T>>& out) {
  if (!it) return false;
  GstRef<GstIterator> hold(it);
  for (;;) {
    GValue v = G_VALUE_INIT;
    const GstIteratorResult r = gst_iterator_next(it, &v);
    if (r == GST_ITERATOR_OK) {
      out.emplace_back(static_cast<T*>(gst_object_ref(g_value_get_object(&v))));
      g_value_unset(&v);
    } else if (r == GST_ITERATOR_RESYNC) {
      out.clear();
      gst_iterator_resync(it);
    } else {
      return r == GST_ITERATOR_DONE;
    }
  }
}

}  // namespace

void DumpGraph(GstElement* graph) {
  if (!graph) return;
  LogPrintf("\nDumpGraph [0x%X]", ObjectIdentity(graph));
  std::vector<GstRef<GstElement>> elements;
  if (!GST_IS_BIN(graph) || !Collect(gst_bin_iterate_elements(GST_BIN(graph)), elements)) {
    LogPrintf("EnumFilters failed!");
    return;
  }
  for (const auto& e : elements) {
    GstRef<gchar> name = Adopt(gst_element_get_name(e.get()));
    if (!name) {
      LogPrintf("Filter [%x]  -- failed QueryFilterInfo", ObjectIdentity(e.get()));
      continue;
    }
    LogPrintf("Filter [%x]  '%s'", ObjectIdentity(e.get()), name.get());
    std::vector<GstRef<GstPad>> pads;
    if (!Collect(gst_element_iterate_pads(e.get()), pads)) {
      LogPrintf("EnumPins failed!");
      continue;
    }
    for (const auto& p : pads) {
      GstRef<gchar> pname = Adopt(gst_pad_get_name(p.get()));
      if (!pname) {
        LogPrintf("Pin [%x]  -- failed QueryPinInfo", ObjectIdentity(p.get()));
        continue;
      }
      const char* dir = GST_PAD_DIRECTION(p.get()) == GST_PAD_SINK ? "In" : "Out";
      GstRef<GstPad> peer = Adopt(gst_pad_get_peer(p.get()));
      if (peer) {
        LogPrintf("Pin [%x]  '%s' [%sput]  Connected to pin [%x]", ObjectIdentity(p.get()), pname.get(), dir,
                  ObjectIdentity(peer.get()));
        GstRef<GstCaps> caps = Adopt(gst_pad_get_current_caps(p.get()));
        CapsMediaType cmt;
        if (caps && CapsToMediaType(caps.get(), cmt)) {
          LogMediaTypeLine("Connection type", cmt.mt);
          LogPrintf("%s", "");
        }
      } else {
        LogPrintf("%s", dir);
      }
    }
  }
  LogPrintf("\n");
}

}  // namespace ulmora
