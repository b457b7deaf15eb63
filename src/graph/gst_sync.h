// GStreamer hands work between its threads through GLib locks built on futexes, which ThreadSanitizer
// cannot see. These notes tell it about the hand-overs our code relies on; outside the tsan build they
// compile to nothing. A race between a GUI-thread setter and the frame path is still reported: the
// notes only stand for the ordering GStreamer itself guarantees.
#pragma once

#include <gst/gst.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace ulmora {

namespace gst_sync_detail {
inline char token;
inline void Release() {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(&token);
#endif
}
inline void Acquire() {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(&token);
#endif
}
}  // namespace gst_sync_detail

// GUI thread: what was set up so far is seen by every callback the graph makes from now on.
inline void NoteHandOverToStreaming() { gst_sync_detail::Release(); }
// GUI thread: GStreamer has made sure the callbacks made so far are over (a state change downwards or a
// preroll finished, an end-of-stream or error message taken off the bus).
inline void NoteStreamingSettled() { gst_sync_detail::Acquire(); }

// Streaming thread: the whole of a callback GStreamer makes into our code.
class CallbackScope {
 public:
  CallbackScope() { gst_sync_detail::Acquire(); }
  ~CallbackScope() { gst_sync_detail::Release(); }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};

// gst_element_set_state with the notes: a change down to READY or NULL has stopped the streaming
// threads when it returns.
inline GstStateChangeReturn SetGraphState(GstElement* element, GstState state) {
  NoteHandOverToStreaming();
  const GstStateChangeReturn r = gst_element_set_state(element, state);
  if (state <= GST_STATE_READY) NoteStreamingSettled();
  return r;
}

}  // namespace ulmora
