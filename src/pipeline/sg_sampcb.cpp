// The frame path: one call per delivered buffer, on the graph's streaming thread.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "bmp_writer.h"
#include "common/log.h"
#include "processing/tone.h"
#include "sg.h"

namespace ulmora {
namespace {

uint32_t SteadyNowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RealSleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::atomic<PacingClockFn> g_now{SteadyNowMs};
std::atomic<PacingSleepFn> g_sleep{RealSleepMs};

void PostTo(IWindow* w, unsigned msg) {
  if (w) w->PostMsg(msg);
}

// The window draws only what is handed over to it, never the frame the next sample overwrites. While a
// repaint is pending the copy is skipped: that repaint draws the picture published before it.
void ShowFrame(CDibFrame& frame, bool grey) {
  IWindow* w = frame.window.load();
  if (!w || w->RepaintPending()) return;
  if (!w->DrawsPictures() || frame.shown.Publish(frame.img, grey)) w->PostMsg(kMsgRepaint);
}

constexpr int32_t kPacingStepMs = 100;
// Pictures' worth of space a capture run always leaves free.
constexpr uint32_t kCaptureMarginPictures = 4;

}  // namespace

void SetPacingClock(PacingClockFn now, PacingSleepFn sleep) {
  g_now.store(now ? now : SteadyNowMs);
  g_sleep.store(sleep ? sleep : RealSleepMs);
}

bool CSG::CopyIntoLive(const Sample& s) {
  CImageBuf& dst = frLive.img;
  if (!dst.bits || dst.width <= 0 || dst.height <= 0) return false;  // no format yet, or no memory for it
  const int64_t len = s.length > 0 ? s.length : 0;

  if (format_.fccSubtype == kFourccYUY2) {
    // A macropixel holds two pixels; rows hold whole macropixels.
    const int64_t rowBytes = 2 * ((static_cast<int64_t>(dst.width) + 1) & ~int64_t(1));
    const int64_t stride = s.stride > 0 ? s.stride : rowBytes;
    const int64_t need = stride * (dst.height - 1) + rowBytes;
    if (stride < rowBytes || len < need) {
      // Half a frame would spoil the sum it went into: leave it out, and say so once per format.
      if (bShortWarned.exchange(1) == 0)
        LogPrintf("YUY2 sample of %lld bytes cannot hold a %d x %d frame (stride %lld): such samples are skipped",
                  static_cast<long long>(len), dst.width, dst.height, static_cast<long long>(stride));
      return false;
    }
    YUY2ToGrey(dst.bits, dst.pad, s.data, static_cast<int32_t>(stride), dst.width, dst.height);
    return true;
  }

  const int64_t cap = dst.capacity;
  if (s.stride <= 0 || s.stride == dst.stride) {
    const int64_t n = len < cap ? len : cap;
    memcpy(dst.bits, s.data, static_cast<size_t>(n));
    dst.size = static_cast<int32_t>(n);
    return true;
  }
  // Rows of another length: copy the pixels of each row the sample holds and clear our padding.
  const int64_t pixelBytes = std::min<int64_t>(3 * static_cast<int64_t>(dst.width), s.stride);
  int64_t rows = len >= pixelBytes ? (len - pixelBytes) / s.stride + 1 : 0;
  rows = std::min<int64_t>({rows, dst.height, cap / dst.stride});
  for (int64_t r = 0; r < rows; ++r) {
    uint8_t* out = dst.bits + r * dst.stride;
    memcpy(out, s.data + r * s.stride, static_cast<size_t>(pixelBytes));
    memset(out + pixelBytes, 0, static_cast<size_t>(dst.stride - pixelBytes));
  }
  dst.size = static_cast<int32_t>(rows * dst.stride);
  return true;
}

void CSG::CopyLiveToProc() {
  CImageBuf& out = FrProc().img;
  int32_t n = frLive.img.size < out.capacity ? frLive.img.size : out.capacity;
  if (n < 0 || !out.bits || !frLive.img.bits) n = 0;
  if (n > 0) memcpy(out.bits, frLive.img.bits, static_cast<size_t>(n));
  out.size = n;
}

void CSG::CaptureFrame(double sampleTime) {
  if (run_.bCapture.load() != 1 || stream_.bFirstSum.load() != 0) return;
  if (run_.nSkipLeft.load() != 0) {
    run_.nSkipLeft.fetch_sub(1);
    return;
  }
  if (run_.nFramesDelay != 0) run_.nSkipLeft.exchange(static_cast<int32_t>(run_.nFramesDelay));

  BuildCaptureName(sampleTime);
  CDibFrame& proc = FrProc();
  const uint32_t size = proc.img.size > 0 ? static_cast<uint32_t>(proc.img.size) : 0;
  stream_.bfhCapture.bfSize = size + kBitmapHeadersSize;
  IWindow* notify = pProc->MsgWindow();
  // A margin of a few pictures keeps the file system from filling up under the run (and the system).
  const uint64_t margin = uint64_t{kCaptureMarginPictures} * stream_.bfhCapture.bfSize;
  const BmpWriteOutcome w = WriteCaptureBmp(stream_.szPath, sizeof stream_.szPath, stream_.bfhCapture,
                                            proc.FileHeader(), proc.img.bits, size,
                                            margin + run_.nKeepFreeBytes.load(std::memory_order_relaxed));
  if (w.result == BmpWriteResult::kWritten) {
    if (w.renamed) run_.nRenamed.fetch_add(1);
    const uint32_t done = run_.nCaptured.fetch_add(1) + 1;
    if (done >= run_.nCapCount) run_.bCapture.exchange(0);
    if (done % 4 == 0 || run_.nCapCount < 4) PostTo(notify, kMsgCaptureProgress);
  } else {
    // A folder that fails once (gone, read-only, full) fails for every later picture: the run ends and
    // says why instead of dropping pictures in silence.
    run_.nWriteError.store(w.error != 0 ? w.error : EIO);
    run_.bCapture.exchange(0);
  }
  if (run_.bCapture.load() == 0) PostTo(notify, kMsgCaptureEnded);
}

int CSG::SampleCB(double sampleTime, const Sample* sample) {
  if (!sample) {
    LogPrintf("Invalid IMediaSample passed to SampleCB!");
    return 0;
  }
  if (!sample->data) return 0;
  uint64_t cameraGap = 0;
  const FrameStamp stamp = StampFrame(sampleTime, *sample, cameraGap);
  RecordingSet* recording = EnterRecording();
  if (recording && cameraGap) NoteCameraDrops(*recording, cameraGap);
  if (!CopyIntoLive(*sample)) {
    AddChainDrop(recording, true);
    if (recording) LeaveRecording();
    return 0;
  }
  if (recording) RecordRaw(*recording, stamp);

  bool toProc = true;
  bool sumPending = false;
  const bool rawGrey = format_.fccSubtype == kFourccYUY2;
  bool procGrey = true;  // the chain's pictures are grey
  switch (pProc->ProcessFrame(frLive.img, stream_.bFirstSum)) {
    case FrameResult::kPassThrough:
      CopyLiveToProc();
      procGrey = rawGrey;
      // Without a chain no sum will ever complete: the first-sum wait would keep capture off for good.
      if (stream_.bFirstSum.load() != 0) stream_.bFirstSum.exchange(0);
      if (recording) RecordFinished(*recording, stamp, false);
      break;
    case FrameResult::kDropped:
      AddChainDrop(recording, false);
      toProc = false;
      break;
    case FrameResult::kSumPending:
      NoteSumFrame(stamp);
      toProc = false;
      sumPending = true;
      break;
    case FrameResult::kPicture: {
      NoteSumFrame(stamp);
      // Pictures of a sum still building (shown while the first one fills) are neither captured nor
      // recorded.
      const int32_t frames = pProc->LastSum().frames;
      if (recording && frames > 0) RecordFinished(*recording, SumStamp(frames, stamp), true);
      break;
    }
  }
  if (recording) LeaveRecording();
  // The processed window keeps its picture; without a live window there is nothing left to do.
  if (sumPending && !frLive.window.load()) return 0;
  if (toProc) {
    CaptureFrame(sampleTime);
    ShowFrame(FrProc(), procGrey);
  }
  if (modes_.bViewLive == 1) ShowFrame(frLive, rawGrey);
  Pace(sampleTime);
  return 0;
}

void CSG::Pace(double sampleTime) {
  if (!modes_.bPacing.load()) return;
  const uint32_t now = g_now.load()();
  uint32_t start = stream_.nStartTick.load();
  if (start == 0) {
    start = now != 0 ? now : 1;  // 0 means "not started"
    const double period = 1000.0 / format_.dFrameRate;
    stream_.nPeriodMs = static_cast<int32_t>(period);
    stream_.dMsPerUnit = period * format_.dFrameRate;
    stream_.dTimeOffset = sampleTime * stream_.dMsPerUnit - period;
    stream_.nStartTick.store(start);
  }
  const double target = sampleTime * stream_.dMsPerUnit - stream_.dTimeOffset;
  if (!(target > -2147483648.0 && target < 2147483647.0)) return;  // a time from another stream
  int64_t due = static_cast<int64_t>(target) - static_cast<int32_t>(now - start);
  if (due <= 0) return;  // late frames are never waited for
  // A frame more than a period ahead waits one period and a millisecond, never more. Skipping its wait,
  // as a plain "at most one period" rule would, lets the file run free for good after a single
  // millisecond of clock jitter, since every later frame is then further ahead still.
  if (due > stream_.nPeriodMs) due = stream_.nPeriodMs + 1;
  PacingSleepFn sleep = g_sleep.load();
  if (due <= kPacingStepMs) {
    sleep(static_cast<uint32_t>(due));
    return;
  }
  // Long periods are slept in steps so that pausing or stopping the graph is not held up.
  while (modes_.nRunState.load() == kRunRunning) {
    sleep(kPacingStepMs);
    due -= kPacingStepMs;
    if (due < kPacingStepMs) {
      if (due > 0) sleep(static_cast<uint32_t>(due));
      break;
    }
  }
}

}  // namespace ulmora
