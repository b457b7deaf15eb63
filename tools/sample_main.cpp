// ulmora-sample: writes a video file of the simulated low-light scene, for tests and first runs.
#include <getopt.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
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

// The exit status when a step ends the program; nothing when it goes on.
using Exit = std::optional<int>;

struct SampleOptions {
  std::string out, format, pixel = "yuy2";
  long width = 640, height = 480, frames = 60, seed = 1, noise = 6, banding = 4;
  int fpsN = 30, fpsD = 1;
  bool quiet = false;
};

const option kOptions[] = {{"out", required_argument, nullptr, 'o'},
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

bool TakesValue(int c) {
  for (const option& opt : kOptions)
    if (opt.name && opt.val == c) return opt.has_arg == required_argument;
  return false;
}

// One option's value: false when it does not parse or is out of range.
bool TakeValue(int c, const char* arg, SampleOptions& s) {
  switch (c) {
    case 'o': s.out = arg; return true;
    case 'f': s.format = arg; return true;
    case 'p': s.pixel = arg; return true;
    case 'W': return ParseInt(arg, 2, 4096, s.width);
    case 'H': return ParseInt(arg, 2, 4096, s.height);
    case 'r': return ParseRate(arg, s.fpsN, s.fpsD);
    case 'n': return ParseInt(arg, 1, 1000000, s.frames);
    case 's': return ParseInt(arg, 0, 0xFFFFFFFFL, s.seed);
    case 1: return ParseInt(arg, 0, 100, s.noise);
    case 2: return ParseInt(arg, 0, 100, s.banding);
    default: return false;
  }
}

Exit ReadCommandLine(int argc, char** argv, SampleOptions& s) {
  for (int c; (c = getopt_long(argc, argv, "o:f:p:W:H:r:n:s:qh", kOptions, nullptr)) != -1;) {
    if (c == 'q') {
      s.quiet = true;
    } else if (c == 'h') {
      Usage(stdout);
      return 0;
    } else if (!TakesValue(c)) {
      Usage(stderr);
      return 2;
    } else if (!TakeValue(c, optarg, s)) {
      std::fprintf(stderr, "ulmora-sample: bad value for option -%c: %s\n", c > 32 ? c : '-', optarg);
      return 2;
    }
  }
  if (s.out.empty() || optind != argc) {
    Usage(stderr);
    return 2;
  }
  return std::nullopt;
}

// The container from --format, else from the file's extension.
Exit ChooseFormat(SampleOptions& s) {
  if (s.format.empty()) s.format = EndsWith(s.out, ".mkv") ? "mkv" : "avi";
  if (s.format != "avi" && s.format != "mkv" && s.format != "mkv-ffv1") {
    std::fprintf(stderr, "ulmora-sample: unknown format '%s'\n", s.format.c_str());
    return 2;
  }
  return std::nullopt;
}

Exit ChoosePixel(const SampleOptions& s, GstVideoFormat& vf) {
  vf = GST_VIDEO_FORMAT_YUY2;
  if (s.pixel == "bgr")
    vf = GST_VIDEO_FORMAT_BGR;
  else if (s.pixel == "i420")
    vf = GST_VIDEO_FORMAT_I420;
  else if (s.pixel != "yuy2") {
    std::fprintf(stderr, "ulmora-sample: unknown pixel format '%s'\n", s.pixel.c_str());
    return 2;
  }
  // Both have chroma shared by two pixels of a row.
  if (vf != GST_VIDEO_FORMAT_BGR && (s.width % 2) != 0) {
    std::fprintf(stderr, "ulmora-sample: %s needs an even width\n", s.pixel.c_str());
    return 2;
  }
  return std::nullopt;
}

// The writing pipeline and what the frame loop needs of it.
struct Writer {
  GstVideoInfo info;
  GstRef<GstElement> pipe;
  GstRef<GstElement> src;
  GstRef<GstElement> sink;
  guint64 maxBytes = 0;
  GstRef<GstBus> bus;
};

Exit SetVideoInfo(const SampleOptions& s, GstVideoFormat vf, GstVideoInfo& info) {
  gst_video_info_init(&info);
  if (!gst_video_info_set_format(&info, vf, static_cast<guint>(s.width), static_cast<guint>(s.height))) {
    std::fprintf(stderr, "ulmora-sample: unsupported frame size\n");
    return 2;
  }
  GST_VIDEO_INFO_FPS_N(&info) = s.fpsN;
  GST_VIDEO_INFO_FPS_D(&info) = s.fpsD;
  return std::nullopt;
}

Exit MakeWriter(const SampleOptions& s, Writer& w) {
  const char* tail = s.format == "avi"   ? "avimux"
                     : s.format == "mkv" ? "matroskamux"
                                         : "videoconvert ! avenc_ffv1 ! matroskamux";
  GstRef<GstCaps> caps = Adopt(gst_video_info_to_caps(&w.info));
  GstRef<gchar> capsText = Adopt(gst_caps_to_string(caps.get()));
  // The caps go into the description so the muxer links its video pad, not its first request pad.
  const std::string desc =
      std::string("appsrc name=src format=time ! ") + capsText.get() + " ! " + tail + " ! filesink name=sink";
  GError* err = nullptr;
  w.pipe = Adopt(gst_parse_launch(desc.c_str(), &err));
  GstRef<GError> error = Adopt(err);
  if (!w.pipe || error) {
    std::fprintf(stderr, "ulmora-sample: cannot make the writer (%s)\n", error ? error->message : "no pipeline");
    return 1;
  }
  w.src = Adopt(gst_bin_get_by_name(GST_BIN(w.pipe.get()), "src"));
  w.sink = Adopt(gst_bin_get_by_name(GST_BIN(w.pipe.get()), "sink"));
  g_object_set(w.sink.get(), "location", s.out.c_str(), nullptr);
  w.maxBytes = static_cast<guint64>(w.info.size) * 4;
  g_object_set(w.src.get(), "max-bytes", w.maxBytes, nullptr);
  return std::nullopt;
}

Exit StartWriter(const SampleOptions& s, Writer& w) {
  if (gst_element_set_state(w.pipe.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    std::fprintf(stderr, "ulmora-sample: cannot open '%s' for writing\n", s.out.c_str());
    gst_element_set_state(w.pipe.get(), GST_STATE_NULL);
    return 1;
  }
  w.bus = Adopt(gst_element_get_bus(w.pipe.get()));
  return std::nullopt;
}

ulmora::SceneParams SceneOf(const SampleOptions& s) {
  ulmora::SceneParams sp;
  sp.nWidth = static_cast<int32_t>(s.width);
  sp.nHeight = static_cast<int32_t>(s.height);
  sp.nSeed = static_cast<uint32_t>(s.seed);
  sp.nNoiseAmp = static_cast<int32_t>(s.noise);
  sp.nBandAmp = static_cast<int32_t>(s.banding);
  return sp;
}

bool SawError(const Writer& w) {
  return GstRef<GstMessage>(gst_bus_pop_filtered(w.bus.get(), GST_MESSAGE_ERROR)) != nullptr;
}

// Keeps a few frames queued; false when the writer stopped taking them (full disk, error).
bool WaitForRoom(const Writer& w) {
  for (int waitedMs = 0; gst_app_src_get_current_level_bytes(GST_APP_SRC(w.src.get())) >= w.maxBytes; ++waitedMs) {
    if (waitedMs > 60000 || SawError(w)) return false;
    g_usleep(1000);
  }
  return true;
}

// The scene's luma in the writer's pixel format.
void PackFrame(const Writer& w, const uint8_t* luma, int32_t width, int32_t height, uint8_t* data) {
  const GstVideoInfo* info = &w.info;
  const int32_t ys = GST_VIDEO_INFO_PLANE_STRIDE(info, 0);
  if (GST_VIDEO_INFO_FORMAT(info) == GST_VIDEO_FORMAT_YUY2) {
    ulmora::LowLightScene::PackYUY2(luma, width, width, height, data, ys);
  } else if (GST_VIDEO_INFO_FORMAT(info) == GST_VIDEO_FORMAT_BGR) {
    ulmora::LowLightScene::PackBGR(luma, width, width, height, data, ys);
  } else {
    for (int32_t y = 0; y < height; ++y) std::memcpy(data + y * ys, luma + y * width, static_cast<size_t>(width));
    std::memset(data + GST_VIDEO_INFO_PLANE_OFFSET(info, 1), 128, info->size - GST_VIDEO_INFO_PLANE_OFFSET(info, 1));
  }
}

// Frame i, stamped with its time; null when no buffer could be had.
GstBuffer* MakeFrame(const SampleOptions& s, const Writer& w, long i, const uint8_t* luma) {
  GstBuffer* buf = gst_buffer_new_allocate(nullptr, w.info.size, nullptr);
  GstMapInfo map;
  if (!buf || !gst_buffer_map(buf, &map, GST_MAP_WRITE)) {
    if (buf) gst_buffer_unref(buf);
    return nullptr;
  }
  PackFrame(w, luma, static_cast<int32_t>(s.width), static_cast<int32_t>(s.height), map.data);
  gst_buffer_unmap(buf, &map);
  GST_BUFFER_PTS(buf) = gst_util_uint64_scale(static_cast<guint64>(i), GST_SECOND * s.fpsD, s.fpsN);
  GST_BUFFER_DURATION(buf) =
      gst_util_uint64_scale(static_cast<guint64>(i + 1), GST_SECOND * s.fpsD, s.fpsN) - GST_BUFFER_PTS(buf);
  return buf;
}

// Every frame into the writer, then its end of stream; false when one could not go in.
bool WriteFrames(const SampleOptions& s, const Writer& w) {
  const ulmora::LowLightScene scene(SceneOf(s));
  std::vector<uint8_t> luma(static_cast<size_t>(s.width * s.height));
  bool failed = false;
  for (long i = 0; i < s.frames && !failed; ++i) {
    if (!WaitForRoom(w)) {
      failed = true;
      break;
    }
    scene.RenderLuma(i, luma.data(), static_cast<int32_t>(s.width));
    GstBuffer* buf = MakeFrame(s, w, i, luma.data());
    if (!buf) {
      failed = true;
      break;
    }
    if (gst_app_src_push_buffer(GST_APP_SRC(w.src.get()), buf) != GST_FLOW_OK) failed = true;
    if (SawError(w)) failed = true;
    if (!s.quiet && (i + 1) % 50 == 0) std::fprintf(stderr, "\r%ld / %ld frames", i + 1, s.frames);
  }
  if (!s.quiet && s.frames >= 50) std::fputc('\n', stderr);
  gst_app_src_end_of_stream(GST_APP_SRC(w.src.get()));
  return !failed;
}

// The muxer rewrites its header at the end; wait for that, but not for ever. False when it failed.
bool AwaitFinish(const SampleOptions& s, const Writer& w) {
  GstRef<GstMessage> msg = Adopt(gst_bus_timed_pop_filtered(
      w.bus.get(), 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  if (!msg) {
    std::fprintf(stderr, "ulmora-sample: writing '%s' did not finish in time\n", s.out.c_str());
    return false;
  }
  if (GST_MESSAGE_TYPE(msg.get()) != GST_MESSAGE_ERROR) return true;
  GError* e = nullptr;
  gst_message_parse_error(msg.get(), &e, nullptr);
  std::fprintf(stderr, "ulmora-sample: writing '%s' failed: %s\n", s.out.c_str(), e ? e->message : "?");
  if (e) g_error_free(e);
  return false;
}

// Writes the clip; a clip that failed is removed. The exit status.
int WriteClip(const SampleOptions& s, Writer& w) {
  bool ok = WriteFrames(s, w);
  if (!ok)
    std::fprintf(stderr, "ulmora-sample: writing '%s' failed\n", s.out.c_str());
  else
    ok = AwaitFinish(s, w);
  gst_element_set_state(w.pipe.get(), GST_STATE_NULL);
  if (!ok) {
    std::remove(s.out.c_str());
    return 1;
  }
  if (!s.quiet)
    std::printf("%s: %ld frames %ldx%ld %s at %d/%d fps (%s)\n", s.out.c_str(), s.frames, s.width, s.height,
                s.pixel.c_str(), s.fpsN, s.fpsD, s.format.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SampleOptions s;
  if (const Exit done = ReadCommandLine(argc, argv, s)) return *done;
  if (const Exit bad = ChooseFormat(s)) return *bad;
  GstVideoFormat vf = GST_VIDEO_FORMAT_YUY2;
  if (const Exit bad = ChoosePixel(s, vf)) return *bad;
  if (!ulmora::EnsureGstInit()) {
    std::fprintf(stderr, "ulmora-sample: GStreamer could not be initialised\n");
    return 1;
  }
  Writer w;
  if (const Exit bad = SetVideoInfo(s, vf, w.info)) return *bad;
  if (const Exit bad = MakeWriter(s, w)) return *bad;
  if (const Exit bad = StartWriter(s, w)) return *bad;
  return WriteClip(s, w);
}
