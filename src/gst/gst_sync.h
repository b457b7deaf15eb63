// The graph's state changes with the hand-over notes of common/handover_notes.h.
#pragma once

#include <gst/gst.h>

#include "common/handover_notes.h"

namespace ulmora {

// gst_element_set_state with the notes: a change down to READY or NULL has stopped the streaming
// threads when it returns.
inline GstStateChangeReturn SetGraphState(GstElement* element, GstState state) {
  NoteHandOverToStreaming();
  const GstStateChangeReturn r = gst_element_set_state(element, state);
  if (state <= GST_STATE_READY) NoteStreamingSettled();
  return r;
}

}  // namespace ulmora
