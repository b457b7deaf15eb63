// The session's recordings: opened and closed on the GUI thread, fed by the frame path.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include "common/log.h"
#include "recording/record_check.h"
#include "sg.h"
#include "sg_recording.h"

namespace ulmora {

namespace {

// The frame path holds a set for at most one frame; a stop waits that long, and a bounded while more.
constexpr auto kHoldTimeout = std::chrono::seconds(5);

}  // namespace

int CSG::StartRecording(const std::vector<RecordOptions>& recordings, std::string& error) {
  error.clear();
  if (recordingOwned_) {
    error = "A recording is already running.";
    return EBUSY;
  }
  if (recordings.empty()) {
    error = "No recording was asked for.";
    return EINVAL;
  }
  if (const int err = CheckRecordOptions(recordings, error)) return err;

  auto set = std::make_unique<RecordingSet>();
  const double inRate = format_.dFrameRate.load();
  const double outRate = pProc->Counters().dOutRate.load();
  for (const RecordOptions& asked : recordings) {
    RecordOptions r = asked;
    if (r.context.deviceName.empty()) r.context.deviceName = texts_.szSource;
    const PictureSettings now = CurrentSettings();
    if (r.context.amplification == 0) {
      r.context.amplification = now.amplification;
      r.context.blackLevel = now.blackLevel;
      r.context.gamma = now.gamma;
      r.context.ridgeH = now.ridgeH;
      r.context.ridgeV = now.ridgeV;
    }
    int err = 0;
    const double rate = r.what == RecordWhat::kRaw ? inRate : outRate;
    std::unique_ptr<CRecordWriter> w = CRecordWriter::Open(r, RecordQueueDepth(rate), err, error);
    if (!w) {
      // All or none: the ones opened so far go again, leaving no file behind.
      for (auto& opened : set->writers) opened->Discard();
      if (!error.empty() && error.back() != '.') error += '.';
      if (!error.empty()) error[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(error[0])));
      return err != 0 ? err : EIO;
    }
    (r.what == RecordWhat::kRaw ? set->anyRaw : set->anyPicture) = true;
    LogPrintf("Recording %s pictures into '%s'", RecordWhatName(r.what), r.path.c_str());
    set->writers.push_back(std::move(w));
  }
  recordingFinished_ = RecordingStatus{};
  recordingOwned_ = std::move(set);
  recording_.store(recordingOwned_.get(), std::memory_order_seq_cst);
  return 0;
}

void CSG::StopRecording() {
  if (!recordingOwned_) return;
  recording_.store(nullptr, std::memory_order_seq_cst);
  const auto end = std::chrono::steady_clock::now() + kHoldTimeout;
  while (recordingUsers_.load(std::memory_order_seq_cst) != 0) {
    if (std::chrono::steady_clock::now() > end) {
      // Closing under a frame that still writes into a queue would free what it writes to.
      LogPrintf("!!! the frame path still holds the recordings after 5 s; they are left open");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (auto& w : recordingOwned_->writers) w->Close();
  recordingFinished_ = Recording();
  recordingFinished_.active = false;
  for (const RecordingFileStatus& r : recordingFinished_.recordings) {
    LogPrintf(
        "Recording '%s' ended: %llu pictures, %llu bytes, dropped by the camera %llu, the chain %llu, the "
        "writer %llu%s%s",
        r.path.c_str(), static_cast<unsigned long long>(r.frames), static_cast<unsigned long long>(r.bytes),
        static_cast<unsigned long long>(r.drops.camera), static_cast<unsigned long long>(r.drops.chain),
        static_cast<unsigned long long>(r.drops.writer), r.endError ? "; " : "", r.endCause.c_str());
  }
  recordingOwned_.reset();
}

RecordingStatus CSG::Recording() const {
  if (!recordingOwned_) return recordingFinished_;
  RecordingStatus s;
  s.active = true;
  s.elapsedS = std::chrono::duration<double>(std::chrono::steady_clock::now() - recordingOwned_->start).count();
  for (const auto& w : recordingOwned_->writers) {
    RecordingFileStatus r;
    r.path = w->Options().path;
    r.files = w->Files();
    r.sidecar = w->SidecarPath();
    r.frames = w->Frames();
    r.bytes = w->Bytes();
    r.drops = w->Drops();
    r.endError = w->EndError();
    r.endCause = w->EndCause();
    s.frames += r.frames;
    s.bytes += r.bytes;
    s.drops.camera += r.drops.camera;
    s.drops.chain += r.drops.chain;
    s.drops.writer += r.drops.writer;
    if (r.endError != 0 && s.endError == 0) {
      s.endError = r.endError;
      s.endCause = r.endCause;
    }
    s.recordings.push_back(std::move(r));
  }
  return s;
}

// --- streaming thread ---

RecordingSet* CSG::EnterRecording() {
  // Announce first, then look: a stop that cleared the pointer before the look sees it is never used;
  // one that clears it after waits for the Leave.
  recordingUsers_.fetch_add(1, std::memory_order_seq_cst);
  RecordingSet* set = recording_.load(std::memory_order_seq_cst);
  if (!set) recordingUsers_.fetch_sub(1, std::memory_order_seq_cst);
  return set;
}

void CSG::LeaveRecording() { recordingUsers_.fetch_sub(1, std::memory_order_seq_cst); }

PictureSettings CSG::CurrentSettings() const {
  const ProcSettings& p = pProc->Settings();
  PictureSettings s;
  s.amplification = p.nAmp.load(std::memory_order_relaxed);
  s.blackLevel = p.nBlackLevel.load(std::memory_order_relaxed);
  s.gamma = p.nGamma.load(std::memory_order_relaxed);
  s.ridgeH = p.bNRH.load(std::memory_order_relaxed) != 0;
  s.ridgeV = p.bNRV.load(std::memory_order_relaxed) != 0;
  return s;
}

namespace {

// A view of a frame store's grey pixels, top row first whichever way the store keeps its rows.
RecordPicture GreyView(const CImageBuf& img, bool topDown, int32_t step) {
  RecordPicture p;
  p.width = img.width;
  p.height = img.height;
  p.pixelStep = step;
  p.stride = topDown ? img.stride : -img.stride;
  p.bits = topDown ? img.bits : img.bits + static_cast<ptrdiff_t>(img.height - 1) * img.stride;
  return p;
}

void Offer(CRecordWriter& w, const RecordPicture& p, FrameCounters& counts) {
  if (w.EndError() != 0) return;
  const uint64_t before = w.Drops().writer;
  if (!w.Offer(p) && w.Drops().writer != before) counts.droppedWriter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void CSG::AddChainDrop(RecordingSet* set, bool rawToo) {
  counts_.droppedChain.fetch_add(1, std::memory_order_relaxed);
  if (!set) return;
  for (auto& w : set->writers)
    if (rawToo || w->Options().what != RecordWhat::kRaw) w->AddDrops(0, 1);
}

void CSG::NoteCameraDrops(RecordingSet& set, uint64_t frames) {
  for (auto& w : set.writers) w->AddDrops(frames, 0);
}

void CSG::RecordRaw(RecordingSet& set, const FrameStamp& stamp) {
  if (!set.anyRaw) return;
  const CImageBuf& img = frLive.img;
  if (!img.bits || img.width <= 0 || img.height <= 0) return;
  RecordPicture p = GreyView(img, frLive.FileHeader().biHeight < 0, 3);
  p.stamp = stamp;
  p.settings = CurrentSettings();
  for (auto& w : set.writers)
    if (w->Options().what == RecordWhat::kRaw) Offer(*w, p, counts_);
}

void CSG::RecordFinished(RecordingSet& set, const FrameStamp& stamp, bool finishedSum) {
  if (!set.anyPicture) return;
  const bool topDown = frLive.FileHeader().biHeight < 0;
  const PictureSettings settings = CurrentSettings();
  for (auto& w : set.writers) {
    const RecordWhat what = w->Options().what;
    if (what == RecordWhat::kProcessed) {
      const CImageBuf& img = FrProc().img;
      if (!img.bits || img.width <= 0 || img.height <= 0) continue;
      RecordPicture p = GreyView(img, FrProc().FileHeader().biHeight < 0, 3);
      p.stamp = stamp;
      p.settings = settings;
      Offer(*w, p, counts_);
    } else if (what == RecordWhat::kSum && finishedSum) {
      const SumView sum = pProc->LastSum();
      if (sum.frames <= 0) continue;
      RecordPicture p;
      p.width = sum.width;
      p.height = sum.height;
      p.bitsPerPixel = 16;
      const int32_t bytesPerSample = sum.words ? 2 : 1;
      const auto* base = sum.words ? reinterpret_cast<const uint8_t*>(sum.words) : sum.bytes;
      const int32_t rowBytes = sum.width * bytesPerSample;
      p.stride = topDown ? rowBytes : -rowBytes;
      p.bits = topDown ? base : base + static_cast<ptrdiff_t>(sum.height - 1) * rowBytes;
      if (!sum.words) p.sourceBitsPerPixel = 8;
      p.stamp = stamp;
      p.settings = settings;
      Offer(*w, p, counts_);
    }
  }
}

}  // namespace ulmora
