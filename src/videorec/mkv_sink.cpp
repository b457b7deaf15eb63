#include "videorec/mkv_sink.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/handover_notes.h"
#include "common/log.h"
#include "gst/bus_errors.h"
#include "gst/gst_ref.h"
#include "gst/gst_sync.h"
#include "recording/record_file.h"

namespace ulmora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQueuedPictures = 4;                      // appsrc holds at most this many pictures ahead of the encoder
constexpr auto kStallLimit = std::chrono::seconds(10);  // an encoder that takes nothing for so long has failed
constexpr auto kCloseLimit = std::chrono::seconds(30);  // finishing the last segment of a long run included

struct Needed {
  const char* element;
  const char* package;
};
constexpr Needed kNeeded[] = {{"appsrc", "gstreamer1.0-plugins-base"},
                              {"avenc_ffv1", "gstreamer1.0-libav"},
                              {"matroskamux", "gstreamer1.0-plugins-good"},
                              {"splitmuxsink", "gstreamer1.0-plugins-good"}};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}


class MkvSink final : public IRecordSink {
 public:
  explicit MkvSink(const RecordOptions& options)
      : options_(options), segmented_(options.segmentSeconds > 0) {
    path_ = options.path;
  }
  ~MkvSink() override {
    if (pipeline_) SetGraphState(pipeline_.get(), GST_STATE_NULL);
  }

  // Makes the graph; 0 or an errno with `error` set.
  int Build(std::string& error);
  int Write(const RecordPicture& picture, std::string& error) override;
  int Close(std::string& error) override { return Finish(error); }
  uint64_t BytesWritten() const override { return encodedBytes_.load(std::memory_order_relaxed); }
  std::vector<std::string> Files() const override { return files_; }

 private:
  // A name that is taken, or the temporary name of a run that was killed, is left alone: the recording
  // goes on under STEM-2.mkv, STEM-3.mkv...
  void AvoidTakenNames() {
    std::string stem, ext;
    SplitExtension(options_.path, stem, ext);
    if (ext.empty()) ext = ".mkv";
    while (Taken(path_)) path_ = stem + "-" + std::to_string(++sizeChanges_ + 1) + ext;
  }

  bool Taken(const std::string& path) const {
    const std::string first = MkvSegmentPath(path, segmented_, 0);
    return Exists(first) || Exists(PartName(first));
  }
  int Start(const RecordPicture& picture, std::string& error);
  int Finish(std::string& error);
  int TakeBusMessages(std::string& error);
  int WaitForRoom(std::string& error);
  void NextSizeFile();
  // A segment closed whole: it gets its own name. 0 or an errno with `error` set.
  int Closed(const char* location, std::string& error) {
    if (!location) return 0;
    const std::string part = location;
    const size_t suffix = part.size() - std::min<size_t>(part.size(), 5);
    std::string name = part.compare(suffix, 5, ".part") == 0 ? part.substr(0, suffix) : part;
    if (name != part) {
      if (int e = PublishPart(part, name)) {
        error = WriteFailure(name, e);
        return e;
      }
    }
    LogPrintf("recording: closed %s", name.c_str());
    files_.push_back(name);
    return 0;
  }

  static gchar* OnFormatLocation(GstElement* splitmux, guint fragment, gpointer self);
  static void OnNeedData(GstAppSrc* src, guint length, gpointer self);
  static GstPadProbeReturn OnEncoded(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  const RecordOptions options_;
  const bool segmented_;
  std::string path_;  // PATH of the files being written; another after a change of picture size
  int sizeChanges_ = 0;

  GstRef<GstElement> pipeline_;
  GstRef<GstElement> appsrc_;
  bool started_ = false;  // the graph has its caps and plays
  GstVideoInfo info_{};
  int32_t width_ = 0, height_ = 0, bitsPerPixel_ = 0;
  GstClockTime lastPts_ = GST_CLOCK_TIME_NONE;
  bool warnedTimes_ = false;
  std::vector<std::string> files_;  // finished, in order

  std::atomic<uint64_t> encodedBytes_{0};  // added by the encoder's thread
  std::mutex roomLock_;
  std::condition_variable room_;
  bool roomMade_ = false;  // under roomLock_
};

gchar* MkvSink::OnFormatLocation(GstElement*, guint fragment, gpointer self) {
  CallbackScope scope;
  auto* sink = static_cast<MkvSink*>(self);
  // Written under a temporary name; the segment gets its own when it is closed whole.
  const std::string name = PartName(MkvSegmentPath(sink->path_, sink->segmented_, fragment));
  LogPrintf("recording: writing %s", name.c_str());
  return g_strdup(name.c_str());
}

void MkvSink::OnNeedData(GstAppSrc*, guint, gpointer self) {
  auto* sink = static_cast<MkvSink*>(self);
  std::lock_guard<std::mutex> hold(sink->roomLock_);
  sink->roomMade_ = true;
  sink->room_.notify_one();
}

GstPadProbeReturn MkvSink::OnEncoded(GstPad*, GstPadProbeInfo* info, gpointer self) {
  if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info))
    static_cast<MkvSink*>(self)->encodedBytes_.fetch_add(gst_buffer_get_size(buffer), std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

// The graph without its caps, made before the first picture: making the encoder loads its plug-in,
// which takes longer than a queue of pictures lasts.
int MkvSink::Build(std::string& error) {
  GstRef<GstElement> pipeline = MakeElement("pipeline", "mkv-recording");
  GstRef<GstElement> src = MakeElement("appsrc", "pictures");
  GstRef<GstElement> encoder = MakeElement("avenc_ffv1", "ffv1");
  GstRef<GstElement> mux = MakeElement("matroskamux", "mux");
  GstRef<GstElement> split = MakeElement("splitmuxsink", "files");
  if (!pipeline || !src || !encoder || !mux || !split) {
    error = "the video recording's GStreamer elements could not be made";
    return ENOSYS;
  }
  g_object_set(src.get(), "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE, "min-percent", 50u, nullptr);
  // Every picture a key frame: a segment may end at any picture, and a cut-off file decodes to its end.
  // Slices on as many threads as there are cores: one core encodes fewer than 30 noisy 1080p frames a
  // second here.
  g_object_set(encoder.get(), "gop-size", 1, "slices", 4, nullptr);
  gst_util_set_object_arg(G_OBJECT(encoder.get()), "threads", "auto");
  g_object_set(split.get(), "muxer", mux.get(), "max-size-time",
               static_cast<guint64>(std::llround(options_.segmentSeconds * GST_SECOND)), nullptr);
  g_signal_connect(split.get(), "format-location", G_CALLBACK(&MkvSink::OnFormatLocation), this);

  GstAppSrcCallbacks callbacks{};
  callbacks.need_data = &MkvSink::OnNeedData;
  gst_app_src_set_callbacks(GST_APP_SRC(src.get()), &callbacks, this, nullptr);

  gst_bin_add_many(GST_BIN(pipeline.get()), src.get(), encoder.get(), split.get(), nullptr);
  if (!gst_element_link_many(src.get(), encoder.get(), split.get(), nullptr)) {
    error = "the video recording's GStreamer elements do not link";
    return ENOSYS;
  }
  GstRef<GstPad> encoded = Adopt(gst_element_get_static_pad(encoder.get(), "src"));
  gst_pad_add_probe(encoded.get(), GST_PAD_PROBE_TYPE_BUFFER, &MkvSink::OnEncoded, this, nullptr);
  pipeline_ = std::move(pipeline);
  appsrc_ = std::move(src);
  started_ = false;
  return 0;
}

// The first picture gives the stream its caps, and the graph starts.
int MkvSink::Start(const RecordPicture& picture, std::string& error) {
  if (!pipeline_)
    if (int e = Build(error)) return e;
  AvoidTakenNames();
  const GstVideoFormat format = picture.bitsPerPixel == 16 ? GST_VIDEO_FORMAT_GRAY16_LE : GST_VIDEO_FORMAT_GRAY8;
  gst_video_info_set_format(&info_, format, static_cast<guint>(picture.width), static_cast<guint>(picture.height));
  // Frame times may be uneven (sums, dropped frames): the stream says it has no fixed rate.
  info_.fps_n = 0;
  info_.fps_d = 1;
  GstRef<GstCaps> caps = Adopt(gst_video_info_to_caps(&info_));
  g_object_set(appsrc_.get(), "caps", caps.get(), "max-bytes",
               static_cast<guint64>(kQueuedPictures) * GST_VIDEO_INFO_SIZE(&info_), nullptr);
  width_ = picture.width;
  height_ = picture.height;
  bitsPerPixel_ = picture.bitsPerPixel;
  lastPts_ = GST_CLOCK_TIME_NONE;
  started_ = true;
  if (SetGraphState(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    std::string cause;
    TakeBusMessages(cause);
    error = "the video recording could not start" + (cause.empty() ? std::string() : ": " + cause);
    return EIO;
  }
  return 0;
}

// Error messages end the recording; the closed-segment notes go to the log.
int MkvSink::TakeBusMessages(std::string& error) {
  if (!pipeline_) return 0;
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(pipeline_.get()));
  const auto types = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT);
  while (GstRef<GstMessage> msg = Adopt(gst_bus_pop_filtered(bus.get(), types))) {
    if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
      LogBusError(msg.get(), "video recording");
      error = "the video recording failed: " + LastBusError();
      return EIO;
    }
    const GstStructure* s = gst_message_get_structure(msg.get());
    if (s && gst_structure_has_name(s, "splitmuxsink-fragment-closed"))
      if (int e = Closed(gst_structure_get_string(s, "location"), error)) return e;
  }
  return 0;
}

int MkvSink::WaitForRoom(std::string& error) {
  const Clock::time_point deadline = Clock::now() + kStallLimit;
  const guint64 limit = static_cast<guint64>(kQueuedPictures) * GST_VIDEO_INFO_SIZE(&info_);
  while (gst_app_src_get_current_level_bytes(GST_APP_SRC(appsrc_.get())) >= limit) {
    if (int e = TakeBusMessages(error)) return e;
    if (Clock::now() > deadline) {
      error = "the video encoder took no picture for " + std::to_string(kStallLimit.count()) + " s";
      return ETIMEDOUT;
    }
    std::unique_lock<std::mutex> hold(roomLock_);
    room_.wait_for(hold, std::chrono::milliseconds(50), [this] { return roomMade_; });
    roomMade_ = false;
  }
  return 0;
}

void MkvSink::NextSizeFile() {
  ++sizeChanges_;
  std::string stem, ext;
  SplitExtension(options_.path, stem, ext);
  path_ = stem + "-" + std::to_string(sizeChanges_ + 1) + (ext.empty() ? ".mkv" : ext);
  AvoidTakenNames();
}

int MkvSink::Write(const RecordPicture& picture, std::string& error) {
  if (!picture.bits || picture.width <= 0 || picture.height <= 0 ||
      (picture.bitsPerPixel != 8 && picture.bitsPerPixel != 16) ||
      picture.stride < picture.width * (picture.bitsPerPixel / 8)) {
    error = "a picture the video recording cannot hold (" + std::to_string(picture.width) + "x" +
            std::to_string(picture.height) + ", " + std::to_string(picture.bitsPerPixel) + " bits)";
    return EINVAL;
  }
  if (started_ && (picture.width != width_ || picture.height != height_ || picture.bitsPerPixel != bitsPerPixel_)) {
    // One file holds one size: finish it and go on in the next.
    if (int e = Finish(error)) return e;
    NextSizeFile();
    LogPrintf("recording: the picture is now %dx%d, continued in %s", picture.width, picture.height,
              MkvSegmentPath(path_, segmented_, 0).c_str());
  }
  if (!started_)
    if (int e = Start(picture, error)) return e;
  if (int e = TakeBusMessages(error)) return e;
  if (int e = WaitForRoom(error)) return e;

  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info_), nullptr);
  GstMapInfo map{};
  if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
    if (buffer) gst_buffer_unref(buffer);
    error = "no memory for a picture of the video recording";
    return ENOMEM;
  }
  const size_t rowBytes = static_cast<size_t>(picture.width) * (picture.bitsPerPixel / 8);
  const int dstStride = GST_VIDEO_INFO_PLANE_STRIDE(&info_, 0);
  for (int32_t y = 0; y < picture.height; ++y) {
    uint8_t* dst = map.data + static_cast<size_t>(y) * dstStride;
    std::memcpy(dst, picture.bits + static_cast<size_t>(y) * picture.stride, rowBytes);
    if constexpr (std::endian::native == std::endian::big)
      if (picture.bitsPerPixel == 16)
        for (size_t i = 0; i + 1 < rowBytes; i += 2) std::swap(dst[i], dst[i + 1]);
  }
  gst_buffer_unmap(buffer, &map);

  GstClockTime pts = static_cast<GstClockTime>(std::llround(std::max(0.0, picture.stamp.bufferTime) * GST_SECOND));
  if (GST_CLOCK_TIME_IS_VALID(lastPts_) && pts <= lastPts_) {
    // The muxer refuses times that go back; keep the order and say so once.
    if (!warnedTimes_)
      LogPrintf("recording: picture times went back at %.6f s; later ones follow the last", picture.stamp.bufferTime);
    warnedTimes_ = true;
    pts = lastPts_ + GST_USECOND;
  }
  lastPts_ = pts;
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DTS(buffer) = pts;

  NoteHandOverToStreaming();
  const GstFlowReturn flow = gst_app_src_push_buffer(GST_APP_SRC(appsrc_.get()), buffer);
  if (flow != GST_FLOW_OK) {
    if (int e = TakeBusMessages(error)) return e;
    error = std::string("the video encoder stopped taking pictures (") + gst_flow_get_name(flow) + ")";
    return EIO;
  }
  return 0;
}

// End of stream through the muxer, so the last segment gets its index and sizes, then the graph stops.
int MkvSink::Finish(std::string& error) {
  if (!pipeline_) return 0;
  if (!started_) {  // nothing was written, so there is no file
    SetGraphState(pipeline_.get(), GST_STATE_NULL);
    appsrc_.reset();
    pipeline_.reset();
    return 0;
  }
  int result = 0;
  gst_app_src_end_of_stream(GST_APP_SRC(appsrc_.get()));
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(pipeline_.get()));
  const auto types = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT);
  const Clock::time_point deadline = Clock::now() + kCloseLimit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    GstRef<GstMessage> msg = Adopt(gst_bus_timed_pop_filtered(bus.get(), std::max<int64_t>(left, 0), types));
    if (!msg) {
      error = "the video recording did not finish its file within " + std::to_string(kCloseLimit.count()) + " s";
      result = ETIMEDOUT;
      break;
    }
    if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS) break;
    if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
      LogBusError(msg.get(), "video recording");
      error = "the video recording failed: " + LastBusError();
      result = EIO;
      break;
    }
    const GstStructure* s = gst_message_get_structure(msg.get());
    if (s && gst_structure_has_name(s, "splitmuxsink-fragment-closed") && result == 0)
      result = Closed(gst_structure_get_string(s, "location"), error);
  }
  SetGraphState(pipeline_.get(), GST_STATE_NULL);
  appsrc_.reset();
  pipeline_.reset();
  started_ = false;
  return result;
}

}  // namespace

std::string MkvSegmentPath(const std::string& path, bool segmented, unsigned index) {
  if (!segmented) return path;
  std::string stem, ext;
  SplitExtension(path, stem, ext);
  char number[16];
  std::snprintf(number, sizeof number, "-%05u", index);
  return stem + number + (ext.empty() ? ".mkv" : ext);
}

std::unique_ptr<IRecordSink> MakeMkvSink(const RecordOptions& options, std::string& error) {
  if (!EnsureGstInit()) {
    error = "GStreamer could not be started for the video recording";
    return nullptr;
  }
  for (const Needed& n : kNeeded) {
    GstRef<GstElementFactory> factory = Adopt(gst_element_factory_find(n.element));
    if (!factory) {
      error = std::string("the GStreamer element ") + n.element + " is not installed (package " + n.package + ")";
      return nullptr;
    }
  }
  if (!(options.segmentSeconds >= 0 && options.segmentSeconds < 1e7)) {
    error = "the segment length must be 0 (one file) or a number of seconds";
    return nullptr;
  }
  const std::string folder = FolderOf(options.path);
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "the folder " + folder + " does not exist";
    return nullptr;
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    error = "the folder " + folder + " cannot be written: " + std::strerror(errno);
    return nullptr;
  }
  auto sink = std::make_unique<MkvSink>(options);
  if (sink->Build(error)) return nullptr;
  return sink;
}

}  // namespace ulmora
