// ulmora-sample: writes a video file of the simulated low-light scene, for tests and first runs.
#include <getopt.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gst/gst_ref.h"
#include "simcam/lowlight_scene.h"

namespace {

using ulmora::Adopt;
using ulmora::GstRef;

void Usage(FILE* out) {
  std::fputs(
      "usage: ulmora-sample [OPTIONS] -o FILE\n"
      "  -o, --out FILE        output file (.avi or .mkv)\n"
      "  -f, --format F        avi (raw), mkv (raw) or mkv-ffv1; default from the file extension\n"
      "  -p, --pixel P         yuy2 (default), bgr or i420\n"
      "  -W, --width N         frame width (default 640)\n"
      "  -H, --height N        frame height (default 480)\n"
      "  -r, --fps N[/D]       frame rate (default 30/1)\n"
      "  -n, --frames N        number of frames (default 60)\n"
      "  -s, --seed N          scene seed (default 1)\n"
      "      --noise N         noise half width (default 6)\n"
      "      --banding N       banding amplitude (default 4)\n"
      "  -q, --quiet\n",
      out);
}

bool ParseInt(const char* text, long lo, long hi, long& value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  value = v;
  return true;
}

bool ParseRate(const char* text, int& num, int& den) {
  std::string s(text ? text : "");
  const size_t slash = s.find('/');
  long n = 0, d = 1;
  if (!ParseInt(s.substr(0, slash).c_str(), 1, 1000, n)) return false;
  if (slash != std::string::npos && !ParseInt(s.substr(slash + 1).c_str(), 1, 100000, d)) return false;
  num = static_cast<int>(n);
  den = static_cast<int>(d);
  return true;
}

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, format, pixel = "yuy2";
  long width = 640, height = 480, frames = 60, seed = 1, noise = 6, banding = 4;
  int fpsN = 30, fpsD = 1;
  bool quiet = false;

  static const option kOptions[] = {{"out", required_argument, nullptr, 'o'},
                                    {"format", required_argument, nullptr, 'f'},
                                    {"pixel", required_argument, nullptr, 'p'},
                                    {"width", required_argument, nullptr, 'W'},
                                    {"height", required_argument, nullptr, 'H'},
                                    {"fps", required_argument, nullptr, 'r'},
                                    {"frames", required_argument, nullptr, 'n'},
                                    {"seed", required_argument, nullptr, 's'},
                                    {"noise", required_argument, nullptr, 1},
                                    {"banding", required_argument, nullptr, 2},
                                    {"quiet", no_argument, nullptr, 'q'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  for (int c; (c = getopt_long(argc, argv, "o:f:p:W:H:r:n:s:qh", kOptions, nullptr)) != -1;) {
    bool ok = true;
    switch (c) {
      case 'o':
        out = optarg;
        break;
      case 'f':
        format = optarg;
        break;
      case 'p':
        pixel = optarg;
        break;
      case 'W':
        ok = ParseInt(optarg, 2, 4096, width);
        break;
      case 'H':
        ok = ParseInt(optarg, 2, 4096, height);
        break;
      case 'r':
        ok = ParseRate(optarg, fpsN, fpsD);
        break;
      case 'n':
        ok = ParseInt(optarg, 1, 1000000, frames);
        break;
      case 's':
        ok = ParseInt(optarg, 0, 0xFFFFFFFFL, seed);
        break;
      case 1:
        ok = ParseInt(optarg, 0, 100, noise);
        break;
      case 2:
        ok = ParseInt(optarg, 0, 100, banding);
        break;
      case 'q':
        quiet = true;
        break;
      case 'h':
        Usage(stdout);
        return 0;
      default:
        Usage(stderr);
        return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "ulmora-sample: bad value for option -%c: %s\n", c > 32 ? c : '-', optarg);
      return 2;
    }
  }
  if (out.empty() || optind != argc) {
    Usage(stderr);
    return 2;
  }
  if (format.empty()) format = EndsWith(out, ".mkv") ? "mkv" : "avi";
  if (format != "avi" && format != "mkv" && format != "mkv-ffv1") {
    std::fprintf(stderr, "ulmora-sample: unknown format '%s'\n", format.c_str());
    return 2;
  }
  GstVideoFormat vf = GST_VIDEO_FORMAT_YUY2;
  if (pixel == "bgr")
    vf = GST_VIDEO_FORMAT_BGR;
  else if (pixel == "i420")
    vf = GST_VIDEO_FORMAT_I420;
  else if (pixel != "yuy2") {
    std::fprintf(stderr, "ulmora-sample: unknown pixel format '%s'\n", pixel.c_str());
    return 2;
  }
  if (vf != GST_VIDEO_FORMAT_BGR && (width % 2) != 0) {
    std::fprintf(stderr, "ulmora-sample: %s needs an even width\n", pixel.c_str());
    return 2;
  }
  if (!ulmora::EnsureGstInit()) {
    std::fprintf(stderr, "ulmora-sample: GStreamer could not be initialised\n");
    return 1;
  }

  GstVideoInfo info;
  gst_video_info_init(&info);
  if (!gst_video_info_set_format(&info, vf, static_cast<guint>(width), static_cast<guint>(height))) {
    std::fprintf(stderr, "ulmora-sample: unsupported frame size\n");
    return 2;
  }
  GST_VIDEO_INFO_FPS_N(&info) = fpsN;
  GST_VIDEO_INFO_FPS_D(&info) = fpsD;

  const char* tail = format == "avi"   ? "avimux"
                     : format == "mkv" ? "matroskamux"
                                       : "videoconvert ! avenc_ffv1 ! matroskamux";
  GstRef<GstCaps> caps = Adopt(gst_video_info_to_caps(&info));
  GstRef<gchar> capsText = Adopt(gst_caps_to_string(caps.get()));
  // The caps go into the description so the muxer links its video pad, not its first request pad.
  const std::string desc =
      std::string("appsrc name=src format=time ! ") + capsText.get() + " ! " + tail + " ! filesink name=sink";
  GError* err = nullptr;
  GstRef<GstElement> pipe = Adopt(gst_parse_launch(desc.c_str(), &err));
  GstRef<GError> error = Adopt(err);
  if (!pipe || error) {
    std::fprintf(stderr, "ulmora-sample: cannot make the writer (%s)\n", error ? error->message : "no pipeline");
    return 1;
  }
  GstRef<GstElement> src = Adopt(gst_bin_get_by_name(GST_BIN(pipe.get()), "src"));
  GstRef<GstElement> sink = Adopt(gst_bin_get_by_name(GST_BIN(pipe.get()), "sink"));
  g_object_set(sink.get(), "location", out.c_str(), nullptr);
  const guint64 maxBytes = static_cast<guint64>(info.size) * 4;
  g_object_set(src.get(), "max-bytes", maxBytes, nullptr);

  if (gst_element_set_state(pipe.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    std::fprintf(stderr, "ulmora-sample: cannot open '%s' for writing\n", out.c_str());
    gst_element_set_state(pipe.get(), GST_STATE_NULL);
    return 1;
  }

  ulmora::SceneParams sp;
  sp.nWidth = static_cast<int32_t>(width);
  sp.nHeight = static_cast<int32_t>(height);
  sp.nSeed = static_cast<uint32_t>(seed);
  sp.nNoiseAmp = static_cast<int32_t>(noise);
  sp.nBandAmp = static_cast<int32_t>(banding);
  const ulmora::LowLightScene scene(sp);
  std::vector<uint8_t> luma(static_cast<size_t>(width * height));
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(pipe.get()));

  bool failed = false;
  auto sawError = [&bus]() {
    return GstRef<GstMessage>(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)) != nullptr;
  };
  for (long i = 0; i < frames && !failed; ++i) {
    // Keep a few frames queued; a writer that stops taking them (full disk, error) ends the run.
    for (int waitedMs = 0; gst_app_src_get_current_level_bytes(GST_APP_SRC(src.get())) >= maxBytes; ++waitedMs) {
      if (waitedMs > 60000 || sawError()) {
        failed = true;
        break;
      }
      g_usleep(1000);
    }
    if (failed) break;
    scene.RenderLuma(i, luma.data(), static_cast<int32_t>(width));
    GstBuffer* buf = gst_buffer_new_allocate(nullptr, info.size, nullptr);
    GstMapInfo map;
    if (!buf || !gst_buffer_map(buf, &map, GST_MAP_WRITE)) {
      if (buf) gst_buffer_unref(buf);
      failed = true;
      break;
    }
    const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    if (vf == GST_VIDEO_FORMAT_YUY2) {
      ulmora::LowLightScene::PackYUY2(luma.data(), w, w, h, map.data, GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    } else if (vf == GST_VIDEO_FORMAT_BGR) {
      ulmora::LowLightScene::PackBGR(luma.data(), w, w, h, map.data, GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    } else {
      const int32_t ys = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
      for (int32_t y = 0; y < h; ++y) std::memcpy(map.data + y * ys, luma.data() + y * w, static_cast<size_t>(w));
      std::memset(map.data + GST_VIDEO_INFO_PLANE_OFFSET(&info, 1), 128,
                  info.size - GST_VIDEO_INFO_PLANE_OFFSET(&info, 1));
    }
    gst_buffer_unmap(buf, &map);
    GST_BUFFER_PTS(buf) = gst_util_uint64_scale(static_cast<guint64>(i), GST_SECOND * fpsD, fpsN);
    GST_BUFFER_DURATION(buf) =
        gst_util_uint64_scale(static_cast<guint64>(i + 1), GST_SECOND * fpsD, fpsN) - GST_BUFFER_PTS(buf);
    if (gst_app_src_push_buffer(GST_APP_SRC(src.get()), buf) != GST_FLOW_OK) failed = true;
    if (sawError()) failed = true;
    if (!quiet && (i + 1) % 50 == 0) std::fprintf(stderr, "\r%ld / %ld frames", i + 1, frames);
  }
  if (!quiet && frames >= 50) std::fputc('\n', stderr);
  gst_app_src_end_of_stream(GST_APP_SRC(src.get()));

  // The muxer rewrites its header at the end; wait for that, but not for ever.
  GstRef<GstMessage> msg;
  if (!failed)
    msg = Adopt(gst_bus_timed_pop_filtered(bus.get(), 120 * GST_SECOND,
                                           static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  if (failed) {
    std::fprintf(stderr, "ulmora-sample: writing '%s' failed\n", out.c_str());
  } else if (!msg || GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
    if (msg) {
      GError* e = nullptr;
      gst_message_parse_error(msg.get(), &e, nullptr);
      std::fprintf(stderr, "ulmora-sample: writing '%s' failed: %s\n", out.c_str(), e ? e->message : "?");
      if (e) g_error_free(e);
    } else {
      std::fprintf(stderr, "ulmora-sample: writing '%s' did not finish in time\n", out.c_str());
    }
    failed = true;
  }
  gst_element_set_state(pipe.get(), GST_STATE_NULL);
  if (failed) {
    std::remove(out.c_str());
    return 1;
  }
  if (!quiet)
    std::printf("%s: %ld frames %ldx%ld %s at %d/%d fps (%s)\n", out.c_str(), frames, width, height, pixel.c_str(),
                fpsN, fpsD, format.c_str());
  return 0;
}
