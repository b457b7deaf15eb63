// Pin functions over GStreamer pads (elements are filters, pads are pins) and the two negotiation
// loops that walk the subtype list. A connection is decided here, synchronously, from the pads' caps:
// nothing runs and no frame is waited for.
#pragma once

#include <gst/gst.h>

#include "graph/grabber.h"
#include "gst/gst_ref.h"
#include "common/hresult.h"

namespace ulmora {

// The n-th pad (0-based) of the direction; E_POINTER without a filter, E_FAIL when there is none.
HRESULT FindPinByIndex(GstElement* filter, GstPadDirection dir, int n, GstRef<GstPad>& pin);
// The first unlinked pad of the direction.
HRESULT FindFreePin(GstElement* filter, GstPadDirection dir, GstRef<GstPad>& pin);
// Shorthands: the pad itself, empty when there is none.
GstRef<GstPad> InputPin(GstElement* filter, int n = 0);
GstRef<GstPad> OutputPin(GstElement* filter, int n = 0);

// Links the output pad to the first free input pad of dest. Pin by pin (intelligent = false) the two
// formats must agree as they are; with intelligent = true a converter is put between when they do not.
HRESULT ConnectPinToFilter(GstElement* graph, GstPad* output, GstElement* dest, bool intelligent = false);
HRESULT ConnectFilterToFilter(GstElement* graph, GstElement* source, GstElement* dest, bool intelligent = false);

// The texts that differ between the live and the file graph.
struct NegotiationTexts {
  bool bFile;
  const char* szSetTypeFailed;  // source-to-grabber, after the loop
  const char* szConnectFailed;  // source-to-grabber, after the loop
  const char* szNoGrabberOut;   // grabber-to-renderer
  const char* szRenderLabel;    // grabber-to-renderer success line
  const char* szRenderFailed;   // grabber-to-renderer, final
};
extern const NegotiationTexts kLiveTexts;
extern const NegotiationTexts kFileTexts;

HRESULT NegotiateSourceToGrabber(GstElement* graph, CGrabber& grabber, GstElement* source, GstElement* grabberFilter,
                                 const NegotiationTexts& texts, bool intelligent);
// Makes the null renderer ("NULL Render", a fakesink that does not sync) and connects the grabber to it.
HRESULT NegotiateGrabberToRenderer(GstElement* graph, CGrabber& grabber, GstElement* grabberFilter,
                                   const NegotiationTexts& texts);

// A fresh null renderer, added to the graph; null when it cannot be made or added (reported).
GstElement* AddNullRenderer(GstElement* graph, const char* makeFailText, HRESULT& hr);

}  // namespace ulmora
