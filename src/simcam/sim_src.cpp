// "ulmorasimsrc": the simulated camera as a live push source. It behaves as v4l2src does on a
// real node: opened in READY (missing and busy devices fail there), frames timestamped on the
// pipeline clock at the nominal rate, frames lost when downstream falls further behind than the
// driver's queue, and a read error when the device is unplugged while streaming.
#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "common/handover_notes.h"
#include "simcam/sim_gst.h"
#include "simcam/sim_render.h"
#include "simcam/sim_state.h"
#include "gst/gst_ref.h"

namespace ulmora {
namespace {

// Frames a V4L2 driver holds for a late reader before it starts losing them.
constexpr uint64_t kQueueFrames = 4;

struct SimSrcPriv {
  // Guards path, clockId and flushing. A std::mutex rather than the object lock, so the
  // thread checker sees it (GLib's own locks are invisible to it).
  std::mutex lock;
  std::string path = "sim:0";
  std::atomic<SimCameraConfig*> config{nullptr};  // set while open (READY and above)
  std::atomic<int> device{-1};
  std::atomic<guint64> dropped{0};
  bool claimed = false;

  // Streaming thread only.
  std::unique_ptr<SimFrameRenderer> renderer;
  SimPixelFormat format = SimPixelFormat::kYUY2;
  GstVideoInfo info{};  // raw frames (I420 before encoding for MJPEG)
  SimFrameShape shape;  // size and rate agreed
  bool started = false;
  GstClockTime startRt = 0;
  uint64_t frame = 0;
  uint64_t sent = 0;  // frames sent since the start, for drop-every
  bool froze = false;  // freeze-after happens once per stream

  GstClockID clockId = nullptr;
  bool flushing = false;

  // MJPEG: frames are encoded by a private jpegenc fed through two pads of our own.
  GstElement* enc = nullptr;
  GstPad* feed = nullptr;
  GstPad* take = nullptr;
  GstBufferPool* rawPool = nullptr;
  GstBuffer* encoded = nullptr;
};

}  // namespace
}  // namespace ulmora

using ulmora::SimSrcPriv;

struct UlmoraSimSrc {
  GstPushSrc parent;
  SimSrcPriv* priv;
};
struct UlmoraSimSrcClass {
  GstPushSrcClass parent_class;
};

G_DEFINE_TYPE(UlmoraSimSrc, ulmora_sim_src, GST_TYPE_PUSH_SRC)

namespace ulmora {
namespace {

enum { kPropDevice = 1, kPropDeviceName, kPropDropped };

UlmoraSimSrc* Self(gpointer p) { return reinterpret_cast<UlmoraSimSrc*>(p); }

std::string PathOf(UlmoraSimSrc* src) {
  std::lock_guard<std::mutex> lock(src->priv->lock);
  return src->priv->path;
}

GstCaps* TemplateCaps() {
  return gst_caps_from_string(
      "video/x-raw, format=(string){ YUY2, BGR, I420, GRAY16_LE }, width=(int)[ 1, 8192 ], height=(int)[ 1, 8192 ], "
      "framerate=(fraction)[ 0/1, 240/1 ]; "
      "image/jpeg, width=(int)[ 1, 8192 ], height=(int)[ 1, 8192 ], framerate=(fraction)[ 0/1, 240/1 ]");
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  UlmoraSimSrc* src = Self(object);
  if (id != kPropDevice) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  if (src->priv->config.load()) {
    GST_WARNING_OBJECT(src, "the device can only be changed while the element is closed (NULL)");
    return;
  }
  const char* path = g_value_get_string(value);
  std::lock_guard<std::mutex> lock(src->priv->lock);
  src->priv->path = path ? path : "";
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  UlmoraSimSrc* src = Self(object);
  switch (id) {
    case kPropDevice: g_value_set_string(value, PathOf(src).c_str()); break;
    case kPropDeviceName: {
      int device = -1;
      const std::string path = PathOf(src);
      g_value_set_string(value, IsSimDevicePath(path.c_str(), &device) ? SimDeviceName(device).c_str() : nullptr);
      break;
    }
    case kPropDropped: g_value_set_uint64(value, src->priv->dropped.load()); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
}

void Finalize(GObject* object) {
  delete Self(object)->priv;
  G_OBJECT_CLASS(ulmora_sim_src_parent_class)->finalize(object);
}

bool Open(UlmoraSimSrc* src) {
  const std::string path = PathOf(src);
  int device = -1;
  SimCameraConfig* config = SimCurrentConfig();
  if (!IsSimDevicePath(path.c_str(), &device) || !config || !SimDeviceOf(config, device) ||
      !SimDevicePresent(*config, device, SimNowNs())) {
    GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("Cannot identify device '%s'.", path.c_str()),
                      ("system error: No such file or directory"));
    return false;
  }
  src->priv->device.store(device);
  src->priv->config.store(config);
  return true;
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  UlmoraSimSrc* src = Self(element);
  if (transition == GST_STATE_CHANGE_NULL_TO_READY && !Open(src)) return GST_STATE_CHANGE_FAILURE;
  const GstStateChangeReturn ret = GST_ELEMENT_CLASS(ulmora_sim_src_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_READY_TO_NULL) {
    src->priv->config.store(nullptr);
    src->priv->device.store(-1);
  }
  return ret;
}

GstCaps* GetCaps(GstBaseSrc* bsrc, GstCaps* filter) {
  UlmoraSimSrc* src = Self(bsrc);
  const SimCameraConfig* config = src->priv->config.load();
  // Like a V4L2 node: the device's own formats once open, the whole template before.
  GstCaps* caps = config ? SimMakeCaps(config->setup, SimShapeNow(*config, src->priv->device.load())) : TemplateCaps();
  if (filter) {
    GstCaps* both = gst_caps_intersect_full(caps, filter, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

GstFlowReturn TakeChain(GstPad* pad, GstObject*, GstBuffer* buffer) {
  auto* priv = static_cast<SimSrcPriv*>(gst_pad_get_element_private(pad));
  gst_buffer_replace(&priv->encoded, nullptr);
  priv->encoded = buffer;
  return GST_FLOW_OK;
}

gboolean TakeEvent(GstPad*, GstObject*, GstEvent* event) {
  gst_event_unref(event);
  return TRUE;
}

void StopEncoder(SimSrcPriv* p) {
  if (p->enc) gst_element_set_state(p->enc, GST_STATE_NULL);
  if (p->feed) gst_pad_set_active(p->feed, FALSE);
  if (p->take) gst_pad_set_active(p->take, FALSE);
  if (p->rawPool) gst_buffer_pool_set_active(p->rawPool, FALSE);
  gst_clear_object(&p->feed);
  gst_clear_object(&p->take);
  gst_clear_object(&p->enc);
  gst_clear_object(&p->rawPool);
  gst_buffer_replace(&p->encoded, nullptr);
}

// feed -> enc -> take. Our references to the encoder's pads end here, before a failed start tears it down.
bool LinkThrough(GstPad* feed, GstElement* enc, GstPad* take) {
  const GstRef<GstPad> encSink = Adopt(gst_element_get_static_pad(enc, "sink"));
  const GstRef<GstPad> encSrc = Adopt(gst_element_get_static_pad(enc, "src"));
  return gst_pad_link(feed, encSink.get()) == GST_PAD_LINK_OK && gst_pad_link(encSrc.get(), take) == GST_PAD_LINK_OK;
}

bool StartEncoder(UlmoraSimSrc* src, GstCaps* rawCaps) {
  SimSrcPriv* p = src->priv;
  StopEncoder(p);
  p->enc = gst_element_factory_make("jpegenc", nullptr);
  if (!p->enc) {
    GST_ELEMENT_ERROR(src, CORE, MISSING_PLUGIN, ("MJPEG needs the jpegenc element (gstreamer1.0-plugins-good)."),
                      (nullptr));
    return false;
  }
  gst_object_ref_sink(p->enc);
  p->feed = GST_PAD(gst_object_ref_sink(gst_pad_new("feed", GST_PAD_SRC)));
  p->take = GST_PAD(gst_object_ref_sink(gst_pad_new("take", GST_PAD_SINK)));
  gst_pad_set_element_private(p->take, p);
  gst_pad_set_chain_function(p->take, TakeChain);
  gst_pad_set_event_function(p->take, TakeEvent);
  const bool linked = LinkThrough(p->feed, p->enc, p->take);
  p->rawPool = gst_video_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(p->rawPool);
  gst_buffer_pool_config_set_params(config, rawCaps, static_cast<guint>(p->info.size), 2, 0);
  bool ok = linked && gst_buffer_pool_set_config(p->rawPool, config) && gst_buffer_pool_set_active(p->rawPool, TRUE);
  ok = ok && gst_pad_set_active(p->take, TRUE) && gst_pad_set_active(p->feed, TRUE) &&
       gst_element_set_state(p->enc, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  if (ok) {
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    ok = gst_pad_push_event(p->feed, gst_event_new_stream_start("ulmorasim-mjpeg")) &&
         gst_pad_push_event(p->feed, gst_event_new_caps(rawCaps)) &&
         gst_pad_push_event(p->feed, gst_event_new_segment(&segment));
  }
  if (!ok) {
    StopEncoder(p);
    GST_ELEMENT_ERROR(src, CORE, NEGOTIATION, ("Could not set up the MJPEG encoder."), (nullptr));
  }
  return ok;
}

gboolean SetCaps(GstBaseSrc* bsrc, GstCaps* caps) {
  UlmoraSimSrc* src = Self(bsrc);
  SimSrcPriv* p = src->priv;
  const SimCameraConfig* config = p->config.load();
  if (!config || !gst_caps_is_fixed(caps)) return FALSE;
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  const SimFrameShape shape = SimShapeNow(*config, p->device.load());
  p->shape = shape;
  if (gst_structure_has_name(s, "image/jpeg")) {
    p->format = SimPixelFormat::kMJPEG;
    gst_video_info_set_format(&p->info, GST_VIDEO_FORMAT_I420, shape.nWidth, shape.nHeight);
    GST_VIDEO_INFO_FPS_N(&p->info) = shape.nFpsNum;
    GST_VIDEO_INFO_FPS_D(&p->info) = shape.nFpsDen;
    if (!StartEncoder(src, Adopt(gst_video_info_to_caps(&p->info)).get())) return FALSE;
  } else {
    StopEncoder(p);
    if (!gst_video_info_from_caps(&p->info, caps)) return FALSE;
    switch (GST_VIDEO_INFO_FORMAT(&p->info)) {
      case GST_VIDEO_FORMAT_YUY2: p->format = SimPixelFormat::kYUY2; break;
      case GST_VIDEO_FORMAT_BGR: p->format = SimPixelFormat::kBGR; break;
      case GST_VIDEO_FORMAT_I420: p->format = SimPixelFormat::kI420; break;
      case GST_VIDEO_FORMAT_GRAY16_LE: p->format = SimPixelFormat::kY16; break;
      default: return FALSE;
    }
  }
  if (GST_VIDEO_INFO_WIDTH(&p->info) != shape.nWidth || GST_VIDEO_INFO_HEIGHT(&p->info) != shape.nHeight) return FALSE;
  if (!p->renderer || p->renderer->Width() != shape.nWidth || p->renderer->Height() != shape.nHeight)
    p->renderer = std::make_unique<SimFrameRenderer>(shape.nWidth, shape.nHeight, p->device.load(),
                                                     config->setup.nInputs);
  if (const SimDeviceState* state = SimDeviceOf(config, p->device.load()))
    p->renderer->Prepare(state->nInput.load(std::memory_order_relaxed));
  return TRUE;
}

gboolean DecideAllocation(GstBaseSrc* bsrc, GstQuery* query) {
  SimSrcPriv* p = Self(bsrc)->priv;
  if (p->format != SimPixelFormat::kMJPEG) {
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstBufferPool* pool = nullptr;
    guint size = static_cast<guint>(p->info.size), min = 0, max = 0;
    const bool update = gst_query_get_n_allocation_pools(query) > 0;
    if (update) {
      gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
      size = std::max(size, static_cast<guint>(p->info.size));
    }
    if (!pool) pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, min, max);
    if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
      gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    gst_buffer_pool_set_config(pool, config);
    if (update)
      gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
    else
      gst_query_add_allocation_pool(query, pool, size, min, max);
    gst_object_unref(pool);
  }
  return GST_BASE_SRC_CLASS(ulmora_sim_src_parent_class)->decide_allocation(bsrc, query);
}

gboolean Start(GstBaseSrc* bsrc) {
  UlmoraSimSrc* src = Self(bsrc);
  SimSrcPriv* p = src->priv;
  const SimCameraConfig* config = p->config.load();
  SimDeviceState* state = SimDeviceOf(config, p->device.load());
  // As at REQBUFS: another program streaming, or a descriptor that took the streaming rights with
  // S_INPUT or S_FMT and is still open, makes the device busy; opening it never does.
  bool expected = false;
  if (!state || config->setup.bBusy || state->nOwner.load() != 0 ||
      !state->bStreaming.compare_exchange_strong(expected, true)) {
    const std::string path = PathOf(src);
    GST_ELEMENT_ERROR(src, RESOURCE, BUSY, ("Device '%s' is busy", path.c_str()),
                      ("another stream is using the device: Device or resource busy"));
    return FALSE;
  }
  p->claimed = true;
  p->started = false;
  p->froze = false;
  p->frame = 0;
  p->sent = 0;
  p->dropped.store(0);
  std::lock_guard<std::mutex> lock(p->lock);
  p->flushing = false;
  return TRUE;
}

gboolean Stop(GstBaseSrc* bsrc) {
  SimSrcPriv* p = Self(bsrc)->priv;
  StopEncoder(p);
  p->renderer.reset();
  SimDeviceState* state = SimDeviceOf(p->config.load(), p->device.load());
  if (p->claimed && state) state->bStreaming.store(false);
  p->claimed = false;
  return TRUE;
}

gboolean Unlock(GstBaseSrc* bsrc) {
  SimSrcPriv* p = Self(bsrc)->priv;
  std::lock_guard<std::mutex> lock(p->lock);
  p->flushing = true;
  if (p->clockId) gst_clock_id_unschedule(p->clockId);
  return TRUE;
}

gboolean UnlockStop(GstBaseSrc* bsrc) {
  SimSrcPriv* p = Self(bsrc)->priv;
  std::lock_guard<std::mutex> lock(p->lock);
  p->flushing = false;
  return TRUE;
}

gboolean Query(GstBaseSrc* bsrc, GstQuery* query) {
  const SimCameraConfig* config = Self(bsrc)->priv->config.load();
  if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY && config) {
    const SimFrameShape shape = SimShapeNow(*config, Self(bsrc)->priv->device.load());
    const GstClockTime period = gst_util_uint64_scale_int(GST_SECOND, shape.nFpsDen, shape.nFpsNum);
    gst_query_set_latency(query, TRUE, period, period * kQueueFrames);
    return TRUE;
  }
  return GST_BASE_SRC_CLASS(ulmora_sim_src_parent_class)->query(bsrc, query);
}

// Waits on the pipeline clock until running time `due`; false when unlocked for a flush or pause.
bool WaitUntil(UlmoraSimSrc* src, GstClock* clock, GstClockTime base, GstClockTime due) {
  SimSrcPriv* p = src->priv;
  GstClockID id = nullptr;
  {
    std::lock_guard<std::mutex> lock(p->lock);
    if (p->flushing) return false;
    id = p->clockId = gst_clock_new_single_shot_id(clock, base + due);
  }
  const GstClockReturn r = gst_clock_id_wait(id, nullptr);
  {
    std::lock_guard<std::mutex> lock(p->lock);
    p->clockId = nullptr;
  }
  gst_clock_id_unref(id);
  return r != GST_CLOCK_UNSCHEDULED;
}

// A frozen camera stays listed and open but sends nothing, for unfreezeMs (-1: until the stream is
// stopped). Waits in short steps so a stop or flush ends it; the time held, or NONE when flushed.
GstClockTime SitFrozen(UlmoraSimSrc* src, GstClock* clock, int64_t unfreezeMs) {
  const GstClockTime from = gst_clock_get_time(clock);
  const GstClockTime until = unfreezeMs < 0 ? GST_CLOCK_TIME_NONE : from + unfreezeMs * GST_MSECOND;
  for (GstClockTime now = from; until == GST_CLOCK_TIME_NONE || now < until; now = gst_clock_get_time(clock)) {
    const GstClockTime next = std::min<GstClockTime>(until, now + 200 * GST_MSECOND);
    if (!WaitUntil(src, clock, 0, next)) return GST_CLOCK_TIME_NONE;
  }
  return gst_clock_get_time(clock) - from;
}

GstFlowReturn Render(UlmoraSimSrc* src, const SimDeviceState& state, GstBuffer** out) {
  SimSrcPriv* p = src->priv;
  GstBuffer* raw = nullptr;
  GstFlowReturn ret = GST_FLOW_OK;
  if (p->format == SimPixelFormat::kMJPEG)
    ret = gst_buffer_pool_acquire_buffer(p->rawPool, &raw, nullptr);
  else
    ret = GST_BASE_SRC_CLASS(ulmora_sim_src_parent_class)->alloc(GST_BASE_SRC(src), 0, p->info.size, &raw);
  if (ret != GST_FLOW_OK) return ret;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &p->info, raw, GST_MAP_WRITE)) {
    gst_buffer_unref(raw);
    GST_ELEMENT_ERROR(src, RESOURCE, WRITE, ("Could not map the frame buffer."), (nullptr));
    return GST_FLOW_ERROR;
  }
  uint8_t* planes[3] = {nullptr, nullptr, nullptr};
  int32_t strides[3] = {0, 0, 0};
  for (guint i = 0; i < GST_VIDEO_FRAME_N_PLANES(&frame) && i < 3; ++i) {
    planes[i] = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, i));
    strides[i] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, i);
  }
  p->renderer->Render(static_cast<int64_t>(p->frame), state.nInput.load(std::memory_order_relaxed),
                      SimReadControls(state), p->format, planes, strides);
  gst_video_frame_unmap(&frame);
  if (p->format != SimPixelFormat::kMJPEG) {
    *out = raw;
    return GST_FLOW_OK;
  }
  ret = gst_pad_push(p->feed, raw);
  if (ret != GST_FLOW_OK || !p->encoded) {
    GST_ELEMENT_ERROR(src, STREAM, ENCODE, ("Could not encode the MJPEG frame."), ("jpegenc: %s", gst_flow_get_name(ret)));
    return GST_FLOW_ERROR;
  }
  *out = p->encoded;
  p->encoded = nullptr;
  return GST_FLOW_OK;
}

GstFlowReturn Create(GstPushSrc* psrc, GstBuffer** out) {
  CallbackScope scope;
  UlmoraSimSrc* src = Self(psrc);
  SimSrcPriv* p = src->priv;
  SimCameraConfig* config = p->config.load();
  const int device = p->device.load();
  SimDeviceState* state = SimDeviceOf(config, device);
  if (!state || !p->renderer) return GST_FLOW_NOT_NEGOTIATED;
  const int fpsNum = p->shape.nFpsNum, fpsDen = p->shape.nFpsDen;

  GstClock* clock = gst_element_get_clock(GST_ELEMENT(src));
  if (!clock) {
    GST_ELEMENT_ERROR(src, CORE, CLOCK, ("The simulated camera needs a pipeline clock."), (nullptr));
    return GST_FLOW_ERROR;
  }
  const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(src));
  const GstClockTime now = gst_clock_get_time(clock);
  const GstClockTime rt = now > base ? now - base : 0;
  if (!p->started) {
    p->started = true;
    p->startRt = rt;
    p->frame = 0;
    p->sent = 0;
  }
  GstClockTime due = p->startRt + gst_util_uint64_scale(p->frame, GST_SECOND * fpsDen, fpsNum);
  if (rt > due) {
    // Late: the driver's queue keeps the last few frames, the ones before are lost.
    const uint64_t behind = gst_util_uint64_scale(rt - due, fpsNum, GST_SECOND * fpsDen);
    if (behind >= kQueueFrames) {
      const uint64_t lost = behind - (kQueueFrames - 1);
      p->frame += lost;
      p->dropped.fetch_add(lost);
      due = p->startRt + gst_util_uint64_scale(p->frame, GST_SECOND * fpsDen, fpsNum);
    }
  }
  const bool waited = due <= rt || WaitUntil(src, clock, base, due);
  GstClockTime held = 0;
  if (waited && config->setup.nFreezeAfterMs >= 0 && !p->froze &&
      due - p->startRt >= static_cast<GstClockTime>(config->setup.nFreezeAfterMs) * GST_MSECOND) {
    p->froze = true;
    held = SitFrozen(src, clock, config->setup.nUnfreezeAfterMs);
  }
  gst_object_unref(clock);
  if (!waited || held == GST_CLOCK_TIME_NONE) return GST_FLOW_FLUSHING;
  // The frames of a freeze were never taken: the stream goes on at its rate without a sequence gap.
  p->startRt += held;
  due += held;

  const int64_t wallNs = SimNowNs();
  if (config->setup.nUnplugAfterMs >= 0 &&
      due - p->startRt >= static_cast<GstClockTime>(config->setup.nUnplugAfterMs) * GST_MSECOND)
    SimUnplug(*config, device, wallNs);
  if (!SimDevicePresent(*config, device, wallNs)) {
    GST_ELEMENT_ERROR(src, RESOURCE, READ, (nullptr), ("poll error 1: No such device (19)"));
    return GST_FLOW_ERROR;
  }

  GstBuffer* buffer = nullptr;
  const GstFlowReturn ret = Render(src, *state, &buffer);
  if (ret != GST_FLOW_OK) return ret;
  GST_BUFFER_PTS(buffer) = due;
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(GST_SECOND, fpsDen, fpsNum);
  GST_BUFFER_OFFSET(buffer) = p->frame;
  GST_BUFFER_OFFSET_END(buffer) = p->frame + 1;
  ++p->frame;
  const int32_t dropEvery = config->setup.nDropEvery;
  if (dropEvery > 0 && ++p->sent % static_cast<uint64_t>(dropEvery) == 0) {
    // The next frame is lost in the driver: its number and its time go by unsent.
    ++p->frame;
    p->dropped.fetch_add(1);
  }
  *out = buffer;
  return GST_FLOW_OK;
}

}  // namespace
}  // namespace ulmora

static void ulmora_sim_src_init(UlmoraSimSrc* src) {
  src->priv = new SimSrcPriv();
  gst_base_src_set_live(GST_BASE_SRC(src), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(src), GST_FORMAT_TIME);
}

static void ulmora_sim_src_class_init(UlmoraSimSrcClass* klass) {
  using namespace ulmora;
  GObjectClass* gobject = G_OBJECT_CLASS(klass);
  gobject->set_property = SetProperty;
  gobject->get_property = GetProperty;
  gobject->finalize = Finalize;
  g_object_class_install_property(
      gobject, kPropDevice,
      g_param_spec_string("device", "Device", "Simulated device path (sim:N)", "sim:0",
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
  g_object_class_install_property(
      gobject, kPropDeviceName,
      g_param_spec_string("device-name", "Device name", "Name of the device", nullptr,
                          static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
  g_object_class_install_property(
      gobject, kPropDropped,
      g_param_spec_uint64("dropped-frames", "Dropped frames", "Frames lost because downstream was late", 0,
                          G_MAXUINT64, 0, static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(element, "Ulmora simulated camera", "Source/Video",
                                        "Live low-light picture of a simulated camera", "Ulmora");
  GstCaps* caps = TemplateCaps();
  gst_element_class_add_pad_template(element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
  gst_caps_unref(caps);
  element->change_state = ChangeState;

  GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
  base->get_caps = GetCaps;
  base->set_caps = SetCaps;
  base->decide_allocation = DecideAllocation;
  base->start = Start;
  base->stop = Stop;
  base->unlock = Unlock;
  base->unlock_stop = UnlockStop;
  base->query = Query;
  GST_PUSH_SRC_CLASS(klass)->create = Create;
}

namespace ulmora {
GType SimSrcGetType() { return ulmora_sim_src_get_type(); }
}  // namespace ulmora
