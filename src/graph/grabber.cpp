#include "graph/grabber.h"

#include <gst/video/video.h>

#include <chrono>
#include <climits>
#include <ctime>
#include <thread>

#include "common/log.h"
#include "gst/gst_sync.h"

namespace ulmora {
namespace {
constexpr const char* kGrabberKey = "ulmora-grabber";
}

CGrabber::CGrabber() {
  bin_ = MakeElement("bin", "Grabber");
  filter_ = MakeElement("capsfilter", "GrabberFormat");
  tap_ = MakeElement("identity", "GrabberTap");
  if (!bin_ || !filter_ || !tap_) {
    bin_.reset();
    return;
  }
  g_object_set(tap_.get(), "signal-handoffs", TRUE, "silent", TRUE, nullptr);
  gst_bin_add_many(GST_BIN(bin_.get()), filter_.get(), tap_.get(), nullptr);
  GstRef<GstPad> in = Adopt(gst_element_get_static_pad(filter_.get(), "sink"));
  GstRef<GstPad> out = Adopt(gst_element_get_static_pad(tap_.get(), "src"));
  if (!gst_element_link(filter_.get(), tap_.get()) ||
      !gst_element_add_pad(bin_.get(), gst_ghost_pad_new("sink", in.get())) ||
      !gst_element_add_pad(bin_.get(), gst_ghost_pad_new("src", out.get()))) {
    bin_.reset();
    return;
  }
  g_object_set_data(G_OBJECT(bin_.get()), kGrabberKey, this);
  handoffId_ = g_signal_connect(tap_.get(), "handoff", G_CALLBACK(&CGrabber::OnHandoff), this);
}

CGrabber::~CGrabber() {
  SetCallback(nullptr, nullptr);
  DropHeld();
  if (handoffId_ && tap_) g_signal_handler_disconnect(tap_.get(), handoffId_);
  if (bin_) g_object_set_data(G_OBJECT(bin_.get()), kGrabberKey, nullptr);
}

CGrabber* CGrabber::FromElement(GstElement* element) {
  if (!element) return nullptr;
  return static_cast<CGrabber*>(g_object_get_data(G_OBJECT(element), kGrabberKey));
}

int CGrabber::SetMediaType(const GstCaps* caps) {
  if (!caps) return -1;
  typeSet_.reset(gst_caps_copy(caps));
  if (!connected_) g_object_set(filter_.get(), "caps", typeSet_.get(), nullptr);
  return 0;
}

GstCaps* CGrabber::NewInputCaps() const {
  if (connected_) return gst_caps_ref(connected_.get());
  return typeSet_ ? gst_caps_ref(typeSet_.get()) : gst_caps_new_any();
}

GstCaps* CGrabber::NewOutputCaps() const {
  if (!connected_) return typeSet_ ? gst_caps_ref(typeSet_.get()) : gst_caps_new_empty();
  if (!typeSet_) return gst_caps_ref(connected_.get());
  return gst_caps_intersect(connected_.get(), typeSet_.get());
}

void CGrabber::OnInputConnected(GstCaps* fixedCaps) {
  connected_.reset(fixedCaps ? gst_caps_ref(fixedCaps) : nullptr);
  nStride_ = 0;
  GstVideoInfo info;
  gst_video_info_init(&info);
  if (fixedCaps && gst_caps_is_fixed(fixedCaps) && gst_video_info_from_caps(&info, fixedCaps))
    nStride_ = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
  // Pin the format so the running graph cannot negotiate anything else.
  g_object_set(filter_.get(), "caps", fixedCaps, nullptr);
}

bool CGrabber::GetConnectedMediaType(CapsMediaType& out) const {
  if (!connected_) return false;
  return CapsToMediaType(connected_.get(), out);
}

bool CGrabber::SetCallback(SampleFn fn, void* context, uint32_t timeoutMs) {
  if (fn) {
    context_.store(context);
    fn_.store(fn);
    return true;
  }
  fn_.store(nullptr);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (nInFlight_.load() != 0) {
    if (std::chrono::steady_clock::now() > end) {
      LogPrintf("!!! grabber callback still busy after %u ms", timeoutMs);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  context_.store(nullptr);
  return true;
}

void CGrabber::OnHandoff(GstElement*, GstBuffer* buffer, gpointer self) {
  CallbackScope scope;
  auto* g = static_cast<CGrabber*>(self);
  g->Deliver(buffer);
  if (buffer && g->bHold_.load()) {
    if (GstBuffer* old = g->held_.exchange(gst_buffer_ref(buffer))) gst_buffer_unref(old);
  }
}

void CGrabber::Deliver(GstBuffer* buffer) {
  nInFlight_.fetch_add(1);
  const SampleFn fn = fn_.load();
  if (fn && buffer) {
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      Sample s;
      s.data = map.data;
      s.length = static_cast<int32_t>(map.size);
      s.stride = nStride_;
      const GstClockTime pts = GST_BUFFER_PTS(buffer);
      const double t = (GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : 0.0) +
                       dTimeOffset_.load(std::memory_order_relaxed);
      dLastTime_.store(t, std::memory_order_relaxed);
      if (GST_BUFFER_OFFSET(buffer) != GST_BUFFER_OFFSET_NONE) s.sequence = GST_BUFFER_OFFSET(buffer);
      StampClock(pts, s);
      nDelivered_.fetch_add(1);
      fn(context_.load(), t, &s);
      gst_buffer_unmap(buffer, &map);
    }
  }
  nInFlight_.fetch_sub(1);
}

void CGrabber::StampClock(GstClockTime pts, Sample& s) {
  // A live source's buffer times are running times (its segment starts at 0): the base time makes them
  // pipeline clock times, and the clock read next to the realtime clock makes those UTC.
  if (!tap_ || !GST_CLOCK_TIME_IS_VALID(pts)) return;
  const GstClockTime base = gst_element_get_base_time(tap_.get());
  if (!GST_CLOCK_TIME_IS_VALID(base)) return;
  const int64_t now =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  if (anchorClockNs_.load(std::memory_order_relaxed) < 0 ||
      now - anchorAtNs_.load(std::memory_order_relaxed) >= kAnchorRefreshNs) {
    // The clock is looked up only when the pair is read again, not for every frame.
    GstClock* clock = gst_element_get_clock(tap_.get());
    if (!clock) return;
    // The pair is as good as the two realtime reads are close: a thread preempted between them reads
    // again, and the tightest of a few tries is kept.
    int64_t utc = 0, width = INT64_MAX;
    GstClockTime c = 0;
    for (int tries = 0; tries < 4 && width > 20'000; ++tries) {
      timespec before{}, after{};
      clock_gettime(CLOCK_REALTIME, &before);
      const GstClockTime read = gst_clock_get_time(clock);
      clock_gettime(CLOCK_REALTIME, &after);
      const int64_t b = before.tv_sec * 1000000000LL + before.tv_nsec, a = after.tv_sec * 1000000000LL + after.tv_nsec;
      if (a - b < width) {
        width = a - b;
        utc = b + (a - b) / 2;
        c = read;
      }
    }
    anchorUtcNs_.store(utc, std::memory_order_relaxed);
    anchorClockNs_.store(static_cast<int64_t>(c), std::memory_order_relaxed);
    anchorAtNs_.store(now, std::memory_order_relaxed);
    gst_object_unref(clock);
  }
  s.clockNs = static_cast<int64_t>(pts + base);
  s.anchorClockNs = anchorClockNs_.load(std::memory_order_relaxed);
  s.anchorUtcNs = anchorUtcNs_.load(std::memory_order_relaxed);
}

void CGrabber::HoldCued() {
  DropHeld();
  bHold_.store(true);
}

void CGrabber::DropHeld() {
  bHold_.store(false);
  if (GstBuffer* old = held_.exchange(nullptr)) gst_buffer_unref(old);
}

bool CGrabber::ReplayHeld() {
  bHold_.store(false);
  GstBuffer* buffer = held_.exchange(nullptr);
  if (!buffer) return false;
  Deliver(buffer);
  gst_buffer_unref(buffer);
  return true;
}

}  // namespace ulmora
