// Recording 1080p pictures to SER and FITS through the writer thread, next to plain write() calls of
// the same bytes into the same folder: "x_write" is the ratio of their times.
// Processed and raw pictures are handed over as the frame path hands them: grey taken from a B, G, R
// store (raw) or an already grey picture (processed). ULMORA_BENCH_DIR names the folder (default
// /var/tmp).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "recording/record_writer.h"

namespace ulmora {
namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr int kFramesPerRun = 60;

std::string BenchDir() {
  const char* d = std::getenv("ULMORA_BENCH_DIR");
  return d && *d ? d : "/var/tmp";
}

// A dark noisy frame, stored as the frame path keeps it (B, G, R rows padded to 4 bytes) and as grey.
struct Frames {
  std::vector<uint8_t> bgr, grey;
  Frames() : bgr(static_cast<size_t>((3 * kW + 3) & ~3) * kH), grey(static_cast<size_t>(kW) * kH) {
    std::mt19937 rng(3);
    const int32_t stride = (3 * kW + 3) & ~3;
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) {
        const uint8_t v = static_cast<uint8_t>(20 + rng() % 40);
        grey[y * kW + x] = v;
        for (int c = 0; c < 3; ++c) bgr[static_cast<size_t>(y) * stride + 3 * x + c] = v;
      }
  }
};

const Frames& TheFrames() {
  static const Frames f;
  return f;
}

RecordPicture Picture(bool raw) {
  const Frames& f = TheFrames();
  RecordPicture p;
  p.width = kW;
  p.height = kH;
  if (raw) {
    p.bits = f.bgr.data();
    p.stride = (3 * kW + 3) & ~3;
    p.pixelStep = 3;
  } else {
    p.bits = f.grey.data();
    p.stride = kW;
  }
  return p;
}

void RemoveRecording(const std::string& stem, const std::string& ext) {
  unlink((stem + ext).c_str());
  unlink((stem + ext + ".csv").c_str());
  for (int i = 1; i <= kFramesPerRun; ++i) {
    char n[16];
    std::snprintf(n, sizeof n, "-%06d", i);
    unlink((stem + n + ext).c_str());
  }
}

// One recording runs through all iterations, as in a night's run (the queue's slots are allocated by
// the first pictures). Each iteration writes kFramesPerRun frames with plain write() calls, then offers
// as many pictures as fast as the queue takes them and waits until the writer has written them: the
// two are timed back to back, so a machine busy with other work slows both alike.
void BM_Record(benchmark::State& st, const char* ext, bool raw) {
  const std::string dir = BenchDir();
  const std::string stem = dir + "/ulmora-bench-rec";
  const std::string plainPath = dir + "/ulmora-bench-plain.raw";
  RemoveRecording(stem, ext);
  RecordOptions o;
  o.path = stem + ext;
  o.what = raw ? RecordWhat::kRaw : RecordWhat::kProcessed;
  int err = 0;
  std::string error;
  std::unique_ptr<CRecordWriter> w = CRecordWriter::Open(o, RecordQueueDepth(30.0), err, error);
  const int fd = open(plainPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (!w || fd < 0) {
    st.SkipWithError(w ? "cannot write the plain file" : error.c_str());
    if (fd >= 0) close(fd);
    return;
  }
  const std::vector<uint8_t>& bytes = TheFrames().grey;
  const RecordPicture picture = Picture(raw);
  double plainTotal = 0.0, recordTotal = 0.0;
  uint64_t offered = 0;
  for (auto _ : st) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kFramesPerRun; ++i)
      if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) st.SkipWithError("write");
    const auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kFramesPerRun; ++i) {
      RecordPicture p = picture;
      p.stamp.utcNs = 1'700'000'000'000'000'000LL + static_cast<int64_t>(offered) * 33'333'333LL;
      // A benchmark wants throughput, not drops: offer again until the queue takes the picture.
      while (!w->Offer(p) && w->EndError() == 0) std::this_thread::yield();
      ++offered;
    }
    while (w->Frames() < offered && w->EndError() == 0) std::this_thread::yield();
    const auto t2 = std::chrono::steady_clock::now();
    plainTotal += std::chrono::duration<double>(t1 - t0).count();
    const double seconds = std::chrono::duration<double>(t2 - t1).count();
    recordTotal += seconds;
    st.SetIterationTime(seconds);
  }
  close(fd);
  unlink(plainPath.c_str());
  if (w->Close() != 0) st.SkipWithError(w->EndCause().c_str());
  RemoveRecording(stem, ext);
  st.counters["x_write"] = plainTotal > 0.0 ? recordTotal / plainTotal : 0.0;
  st.counters["plain_ms"] = st.iterations() ? plainTotal * 1e3 / static_cast<double>(st.iterations()) : 0.0;
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * kFramesPerRun * kW * kH);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kFramesPerRun);
}

BENCHMARK_CAPTURE(BM_Record, ser_processed_1080p, ".ser", false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);
BENCHMARK_CAPTURE(BM_Record, ser_raw_1080p, ".ser", true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);
BENCHMARK_CAPTURE(BM_Record, fits_processed_1080p, ".fits", false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);
BENCHMARK_CAPTURE(BM_Record, fits_raw_1080p, ".fits", true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);

}  // namespace
}  // namespace ulmora
