// GStreamer hands work between its threads through GLib locks built on futexes, which ThreadSanitizer
// cannot see. These notes tell it about the hand-overs our code relies on; outside the tsan build they
// compile to nothing. A race between a GUI-thread setter and the frame path is still reported: the
// notes only stand for the ordering GStreamer itself guarantees.
#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace ulmora {

namespace handover_detail {
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
}  // namespace handover_detail

// GUI thread: what was set up so far is seen by every callback the graph makes from now on.
inline void NoteHandOverToStreaming() { handover_detail::Release(); }
// GUI thread: GStreamer has made sure the callbacks made so far are over (a state change downwards or a
// preroll finished, an end-of-stream or error message taken off the bus, a buffer pulled from a sink).
inline void NoteStreamingSettled() { handover_detail::Acquire(); }

// Streaming thread: the whole of a callback GStreamer makes into our code (an element's own functions
// included), so that what it wrote is seen by whoever GStreamer hands the result to.
class CallbackScope {
 public:
  CallbackScope() { handover_detail::Acquire(); }
  ~CallbackScope() { handover_detail::Release(); }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};

}  // namespace ulmora
