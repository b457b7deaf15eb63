// Lossless video of the recording: avenc_ffv1 alone on the simulated camera's 1080p grey frames, and the
// whole video recording to disk, each next to a memcpy of the same frame. The CPU column is the whole
// process's (the encoder runs on its own thread): 1 / (CPU s per frame x 30) is how many 1080p30 streams
// one core encodes (counter streams_per_core).
#include <benchmark/benchmark.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gst/gst_ref.h"
#include "gst/gst_sync.h"
#include "recording/record_sink.h"
#include "simcam/lowlight_scene.h"
#include "videorec/mkv_sink.h"

namespace ulmora {
namespace {

constexpr int kW = 1920, kH = 1080, kFrames = 8;

// Camera frames of the low-light scene: 8-bit as recorded raw, or 16-bit sums of four as recorded "sum".
std::vector<std::vector<uint8_t>> SceneFrames(int bits) {
  SceneParams params;
  params.nWidth = kW;
  params.nHeight = kH;
  LowLightScene scene(params);
  std::vector<std::vector<uint8_t>> out;
  std::vector<uint8_t> luma(size_t(kW) * kH);
  for (int i = 0; i < kFrames; ++i) {
    std::vector<uint8_t> f(luma.size() * (bits / 8));
    if (bits == 8) {
      scene.RenderLuma(i, f.data(), kW);
    } else {
      auto* sum = reinterpret_cast<uint16_t*>(f.data());
      for (int k = 0; k < 4; ++k) {
        scene.RenderLuma(i * 4 + k, luma.data(), kW);
        for (size_t p = 0; p < luma.size(); ++p) sum[p] = uint16_t(sum[p] + luma[p]);
      }
    }
    out.push_back(std::move(f));
  }
  return out;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void Report(benchmark::State& st, double cpuS, size_t frameBytes) {
  const double frames = double(st.iterations());
  st.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  st.counters["streams_per_core"] = cpuS > 0 ? frames / (cpuS * 30.0) : 0.0;
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(frameBytes));
}

void BM_MemcpyGrey(benchmark::State& st, int bits) {
  const auto frames = SceneFrames(bits);
  std::vector<uint8_t> dst(frames[0].size());
  int i = 0;
  for (auto _ : st) {
    std::memcpy(dst.data(), frames[i++ % kFrames].data(), dst.size());
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(dst.size()));
}

// appsrc ! avenc_ffv1 ! fakesink (the encoder set as the recording sets it), appsrc holding four frames and blocking
// when full: once the queue has filled, each push waits for the encoder to take one frame, so an iteration is one
// encoded frame.
void BM_Ffv1Encode(benchmark::State& st, int bits) {
  const auto frames = SceneFrames(bits);
  EnsureGstInit();
  const std::string format = bits == 8 ? "GRAY8" : "GRAY16_LE";
  const std::string line = "appsrc name=src format=time block=true max-bytes=" + std::to_string(4 * frames[0].size()) +
                           " caps=video/x-raw,format=" + format + ",width=" + std::to_string(kW) +
                           ",height=" + std::to_string(kH) +
                           ",framerate=30/1 ! avenc_ffv1 gop-size=1 slices=4 threads=auto ! fakesink";
  GstRef<GstElement> pipeline = Adopt(gst_parse_launch(line.c_str(), nullptr));
  if (!pipeline) {
    st.SkipWithError("avenc_ffv1 is not installed");
    return;
  }
  gst_object_ref_sink(pipeline.get());
  GstRef<GstElement> src = Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "src"));
  SetGraphState(pipeline.get(), GST_STATE_PLAYING);
  int64_t n = 0;
  const double cpu0 = CpuSeconds();
  for (auto _ : st) {
    const std::vector<uint8_t>& f = frames[n % kFrames];
    GstBuffer* b = gst_buffer_new_memdup(f.data(), f.size());
    GST_BUFFER_PTS(b) = n++ * GST_SECOND / 30;
    gst_app_src_push_buffer(GST_APP_SRC(src.get()), b);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(src.get()));
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(pipeline.get()));
  GstRef<GstMessage> end = Adopt(gst_bus_timed_pop_filtered(
      bus.get(), 30 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  const double cpuS = CpuSeconds() - cpu0;
  SetGraphState(pipeline.get(), GST_STATE_NULL);
  if (!end || GST_MESSAGE_TYPE(end.get()) != GST_MESSAGE_EOS) st.SkipWithError("the encoder did not finish");
  Report(st, cpuS, frames[0].size());
}

// The recording's video sink as the writer thread drives it, to a file in the temporary folder.
void BM_MkvRecord(benchmark::State& st, int bits) {
  const auto frames = SceneFrames(bits);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("ulmora-bench-mkv-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  RecordOptions options;
  options.path = (dir / ("bench" + std::to_string(bits) + ".mkv")).string();
  std::string error;
  std::unique_ptr<IRecordSink> sink = MakeMkvSink(options, error);
  if (!sink) {
    st.SkipWithError(error.c_str());
    return;
  }
  int64_t n = 0;
  const double cpu0 = CpuSeconds();
  for (auto _ : st) {
    RecordPicture p;
    p.bits = frames[n % kFrames].data();
    p.width = kW;
    p.height = kH;
    p.stride = kW * bits / 8;
    p.bitsPerPixel = bits;
    p.stamp.bufferTime = double(n++) / 30.0;
    if (sink->Write(p, error)) st.SkipWithError(error.c_str());
  }
  if (sink->Close(error)) st.SkipWithError(error.c_str());
  const double cpuS = CpuSeconds() - cpu0;
  st.counters["MB_per_frame"] = double(sink->BytesWritten()) / double(std::max<int64_t>(n, 1)) / 1e6;
  std::filesystem::remove_all(dir);
  Report(st, cpuS, frames[0].size());
}

// Names Family/greyN-1920x1080, so the ratio table sets each beside Memcpy of the same grey frame.
const bool kRegistered = [] {
  for (int bits : {8, 16}) {
    const std::string size = "/grey" + std::to_string(bits) + "-1920x1080";
    benchmark::RegisterBenchmark(("Memcpy" + size).c_str(), BM_MemcpyGrey, bits)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("Ffv1Encode" + size).c_str(), BM_Ffv1Encode, bits)
        ->Unit(benchmark::kMicrosecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
    benchmark::RegisterBenchmark(("MkvRecord" + size).c_str(), BM_MkvRecord, bits)
        ->Unit(benchmark::kMicrosecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
  }
  return true;
}();

}  // namespace
}  // namespace ulmora
