// Reads a recorded video back through GStreamer's own demuxer and decoder, for tests.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gst/gst_ref.h"
#include "gst/gst_sync.h"

namespace ulmora::test {

struct DecodedPicture {
  GstClockTime pts = GST_CLOCK_TIME_NONE;
  int width = 0, height = 0, bytesPerPixel = 1;
  std::vector<uint8_t> pixels;  // rows without padding
};

struct DecodedVideo {
  bool ended = false;  // reached its end of stream without an error
  std::string error;
  std::vector<DecodedPicture> pictures;
};

inline DecodedVideo DecodeMkv(const std::string& path) {
  DecodedVideo out;
  EnsureGstInit();
  GError* raw = nullptr;
  const std::string line = "filesrc name=in ! matroskademux ! avdec_ffv1 ! appsink name=out sync=false";
  GstRef<GstElement> pipeline = Adopt(gst_parse_launch(line.c_str(), &raw));
  GstRef<GError> parseError = Adopt(raw);
  if (!pipeline || parseError) {
    out.error = parseError ? parseError->message : "no pipeline";
    return out;
  }
  gst_object_ref_sink(pipeline.get());
  GstRef<GstElement> in = Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
  GstRef<GstElement> sink = Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
  g_object_set(in.get(), "location", path.c_str(), nullptr);
  SetGraphState(pipeline.get(), GST_STATE_PLAYING);
  for (;;) {
    std::unique_ptr<GstSample, void (*)(GstSample*)> sample(
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND),
        [](GstSample* s) { gst_sample_unref(s); });
    if (!sample) break;
    GstVideoInfo info;
    GstVideoFrame frame;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) ||
        !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ))
      break;
    DecodedPicture p;
    p.pts = GST_BUFFER_PTS(gst_sample_get_buffer(sample.get()));
    p.width = GST_VIDEO_INFO_WIDTH(&info);
    p.height = GST_VIDEO_INFO_HEIGHT(&info);
    p.bytesPerPixel = GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0);
    const size_t row = static_cast<size_t>(p.width) * p.bytesPerPixel;
    for (int y = 0; y < p.height; ++y) {
      const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                        static_cast<size_t>(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
      p.pixels.insert(p.pixels.end(), src, src + row);
    }
    gst_video_frame_unmap(&frame);
    out.pictures.push_back(std::move(p));
  }
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(pipeline.get()));
  GstRef<GstMessage> msg = Adopt(gst_bus_timed_pop_filtered(
      bus.get(), GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  out.ended = msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
  if (msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
    GError* e = nullptr;
    gst_message_parse_error(msg.get(), &e, nullptr);
    out.error = e ? e->message : "error";
    if (e) g_error_free(e);
  }
  SetGraphState(pipeline.get(), GST_STATE_NULL);
  return out;
}

}  // namespace ulmora::test
