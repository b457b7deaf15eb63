// One owning holder for every GStreamer and GLib object the graph code keeps: the object is
// released when the holder goes, so members declared in order are released in reverse order.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <utility>

namespace ulmora {

template <typename T>
struct GstRelease {
  void operator()(T* p) const { gst_object_unref(p); }
};
template <>
struct GstRelease<GstCaps> {
  void operator()(GstCaps* p) const { gst_caps_unref(p); }
};
template <>
struct GstRelease<GstBuffer> {
  void operator()(GstBuffer* p) const { gst_buffer_unref(p); }
};
template <>
struct GstRelease<GstMessage> {
  void operator()(GstMessage* p) const { gst_message_unref(p); }
};
template <>
struct GstRelease<GstQuery> {
  void operator()(GstQuery* p) const { gst_query_unref(p); }
};
template <>
struct GstRelease<GstEvent> {
  void operator()(GstEvent* p) const { gst_event_unref(p); }
};
template <>
struct GstRelease<GstIterator> {
  void operator()(GstIterator* p) const { gst_iterator_free(p); }
};
template <>
struct GstRelease<GError> {
  void operator()(GError* p) const { g_error_free(p); }
};
template <>
struct GstRelease<gchar> {
  void operator()(gchar* p) const { g_free(p); }
};

template <typename T>
using GstRef = std::unique_ptr<T, GstRelease<T>>;

// Takes over a reference the caller already owns (a "transfer full" result).
template <typename T>
GstRef<T> Adopt(T* p) {
  return GstRef<T>(p);
}

// Adds a reference to a borrowed object and holds it.
inline GstRef<GstElement> RefElement(GstElement* p) {
  return GstRef<GstElement>(p ? GST_ELEMENT(gst_object_ref(p)) : nullptr);
}
inline GstRef<GstPad> RefPad(GstPad* p) { return GstRef<GstPad>(p ? GST_PAD(gst_object_ref(p)) : nullptr); }
inline GstRef<GstCaps> RefCaps(GstCaps* p) { return GstRef<GstCaps>(p ? gst_caps_ref(p) : nullptr); }

// A floating element (fresh from a factory) made owned, so adding it to a bin keeps our reference valid.
inline GstRef<GstElement> MakeElement(const char* factory, const char* name) {
  GstElement* e = gst_element_factory_make(factory, name);
  if (e) gst_object_ref_sink(e);
  return GstRef<GstElement>(e);
}

// Initialises GStreamer once per process; false (with the reason logged) when it cannot.
bool EnsureGstInit();

}  // namespace ulmora
