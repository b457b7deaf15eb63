// The writer thread and its queue. One producer (the streaming thread) and one consumer (the writer):
// each owns one counter, so neither ever waits for the other; the writer sleeps on a wake counter.
#include "record_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "common/log.h"
#include "processing/tone.h"

namespace ulmora {
namespace {
constexpr auto kSidecarFlush = std::chrono::seconds(2);
}

uint32_t RecordQueueDepth(double picturesPerSecond) {
  if (!(picturesPerSecond > 0.0) || !std::isfinite(picturesPerSecond)) picturesPerSecond = 30.0;
  return static_cast<uint32_t>(std::clamp(std::ceil(picturesPerSecond), 4.0, 120.0));
}

std::unique_ptr<CRecordWriter> CRecordWriter::Open(const RecordOptions& options, uint32_t depth, int& err,
                                                   std::string& error) {
  const RecordFormat* format = FindRecordFormat(options.path);
  if (!format || !format->make) {
    error = "'" + options.path + "' names no recording format (known: " + KnownRecordExtensions() + ")";
    err = EINVAL;
    return nullptr;
  }
  std::unique_ptr<CRecordWriter> w(new CRecordWriter(options, depth));
  w->sink_ = format->make(options, error);
  if (!w->sink_) {
    err = EIO;
    if (error.empty()) error = "cannot record into '" + options.path + "'";
    return nullptr;
  }
  if ((err = w->sidecar_.Open(options.path + ".csv", error)) != 0) return nullptr;
  w->sidecarPath_ = w->sidecar_.Path();
  w->thread_ = std::thread(&CRecordWriter::Run, w.get());
  return w;
}

CRecordWriter::CRecordWriter(const RecordOptions& options, uint32_t depth)
    : options_(options), guard_(options.path, options.keepFreeBytes), slots_(std::max<uint32_t>(depth, 2)) {}

CRecordWriter::~CRecordWriter() { Close(); }

DropCounts CRecordWriter::Drops() const {
  DropCounts d;
  d.camera = dropsCamera_.load(std::memory_order_relaxed);
  d.chain = dropsChain_.load(std::memory_order_relaxed);
  d.writer = dropsWriter_.load(std::memory_order_relaxed);
  return d;
}

void CRecordWriter::CopyPixels(const RecordPicture& from, Slot& to) {
  const int32_t bytesPerPixel = from.bitsPerPixel == 16 ? 2 : 1;
  const size_t rowBytes = static_cast<size_t>(from.width) * bytesPerPixel;
  const size_t need = rowBytes * static_cast<size_t>(from.height);
  // Grows only while the first pictures of a size pass through the slot; afterwards it is reused.
  if (to.pixels.size() < need) to.pixels.resize(need);
  uint8_t* out = to.pixels.data();
  const int32_t step = bytesPerPixel == 1 ? std::max<int32_t>(from.pixelStep, 1) : 1;
  const bool widen = bytesPerPixel == 2 && from.sourceBitsPerPixel == 8;
  for (int32_t y = 0; y < from.height; ++y) {
    const uint8_t* row = from.bits + static_cast<ptrdiff_t>(y) * from.stride;
    uint8_t* dst = out + y * rowBytes;
    if (widen) {
      for (int32_t x = 0; x < from.width; ++x) {
        const uint16_t v = row[x];
        std::memcpy(dst + 2 * x, &v, 2);
      }
    } else if (step == 1) {
      std::memcpy(dst, row, rowBytes);
    } else {
      if (step == 3)
        GreyFromBgr(dst, row, from.width, 1, 0);
      else
        for (int32_t x = 0; x < from.width; ++x) dst[x] = row[static_cast<ptrdiff_t>(x) * step];
    }
  }
  to.picture = from;
  to.picture.bits = out;
  to.picture.stride = static_cast<int32_t>(rowBytes);
  to.picture.pixelStep = 1;
  to.picture.sourceBitsPerPixel = 0;
}

bool CRecordWriter::Offer(const RecordPicture& picture) {
  if (endError_.load(std::memory_order_relaxed) != 0 || !picture.bits || picture.width <= 0 || picture.height <= 0)
    return false;
  const uint64_t head = head_.load(std::memory_order_relaxed);
  if (head - tail_.load(std::memory_order_acquire) >= slots_.size()) {
    ++pendingWriter_;
    dropsWriter_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  Slot& slot = slots_[head % slots_.size()];
  CopyPixels(picture, slot);
  slot.picture.dropsBefore = {pendingCamera_, pendingChain_, pendingWriter_};
  pendingCamera_ = pendingChain_ = pendingWriter_ = 0;
  head_.store(head + 1, std::memory_order_release);
  wake_.fetch_add(1, std::memory_order_release);
  wake_.notify_one();
  return true;
}

void CRecordWriter::Fail(int err, const std::string& cause) {
  bool expected = false;
  if (!causeTaken_.compare_exchange_strong(expected, true)) return;
  endCause_ = cause;
  endError_.store(err != 0 ? err : EIO, std::memory_order_release);
  LogPrintf("Recording '%s' stopped: %s", options_.path.c_str(), cause.c_str());
}

void CRecordWriter::Run() {
  auto flushedAt = std::chrono::steady_clock::now();
  uint64_t index = 0;
  for (;;) {
    const uint32_t seen = wake_.load(std::memory_order_acquire);
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (head_.load(std::memory_order_acquire) == tail) {
      if (stop_.load(std::memory_order_acquire)) break;
      wake_.wait(seen, std::memory_order_acquire);
      continue;
    }
    Slot& slot = slots_[tail % slots_.size()];
    if (endError_.load(std::memory_order_relaxed) == 0) {
      std::string error;
      int err = guard_.Check(error);
      if (err == 0) err = sink_->Write(slot.picture, error);
      if (err == 0) err = sidecar_.Add(++index, slot.picture, error);
      if (err != 0) {
        Fail(err, error);
      } else {
        frames_.fetch_add(1, std::memory_order_relaxed);
        bytes_.store(sink_->BytesWritten() + sidecar_.BytesWritten(), std::memory_order_relaxed);
        const auto now = std::chrono::steady_clock::now();
        if (now - flushedAt >= kSidecarFlush) {
          if (sidecar_.Flush(error) != 0) Fail(EIO, error);
          flushedAt = now;
        }
      }
    }
    tail_.store(tail + 1, std::memory_order_release);
  }
}

void CRecordWriter::StopThread() {
  if (!thread_.joinable()) return;
  stop_.store(true, std::memory_order_release);
  wake_.fetch_add(1, std::memory_order_release);
  wake_.notify_one();
  thread_.join();
}

void CRecordWriter::Discard() {
  if (closed_) return;
  closed_ = true;
  StopThread();
  sink_.reset();
  sidecar_.Discard();
}

int CRecordWriter::Close() {
  if (closed_) return EndError();
  closed_ = true;
  StopThread();
  // Every file is finished, also after a failure: what was written stays readable.
  std::string error;
  if (sink_) {
    if (const int err = sink_->Close(error); err != 0) Fail(err, error);
    files_ = sink_->Files();
  }
  error.clear();
  if (const int err = sidecar_.Close(error); err != 0) Fail(err, error);
  sidecarPath_ = sidecar_.Path();
  if (sink_) bytes_.store(sink_->BytesWritten() + sidecar_.BytesWritten(), std::memory_order_relaxed);
  return EndError();
}

}  // namespace ulmora
