// A time and a number for every frame, on the streaming thread.
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "common/log.h"
#include "sg.h"

namespace ulmora {
namespace {

// A change of the realtime clock against the pipeline clock beyond what slewing can do in a few
// seconds is a step (set by hand, or by a time service that found the clock far off).
constexpr int64_t kClockStepNs = 5'000'000;

int64_t RealtimeNowNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

void CSG::RestartStamps() {
  stamps_.runStartUtcNs.store(RealtimeNowNs());
  stamps_.bRestart.store(1);
}

FrameStamp CSG::StampFrame(double sampleTime, const Sample& s, uint64_t& cameraGap) {
  StampState& st = stamps_;
  FrameStamp stamp;
  stamp.bufferTime = sampleTime;
  const double fps = format_.dFrameRate.load(std::memory_order_relaxed);
  stamp.exposureS = fps > 0.0 ? 1.0 / fps : 0.0;
  if (st.bRestart.load(std::memory_order_relaxed) != 0) {
    st.bRestart.exchange(0);
    st.nextIndex = 0;
    st.lastSequence = kNoSequence;
    st.anchored = false;
  }
  const uint64_t index = st.nextIndex++;

  cameraGap = 0;
  if (modes_.bLiveSource && s.sequence != kNoSequence) {
    stamp.sequence = s.sequence;
    if (st.lastSequence != kNoSequence && s.sequence > st.lastSequence + 1)
      cameraGap = s.sequence - st.lastSequence - 1;
    st.lastSequence = s.sequence;
  } else {
    stamp.sequence = index;
  }

  if (modes_.bLiveSource && s.clockNs >= 0 && s.anchorClockNs >= 0) {
    const int64_t offset = s.anchorUtcNs - s.anchorClockNs;
    if (st.anchored && std::llabs(offset - st.anchorOffsetNs) > kClockStepNs)
      LogPrintf("The system clock stepped by %+.3f s; frame times follow it",
                static_cast<double>(offset - st.anchorOffsetNs) / 1e9);
    st.anchorOffsetNs = offset;
    st.anchored = true;
    stamp.utcNs = s.clockNs + offset;
  } else {
    int64_t start = st.runStartUtcNs.load(std::memory_order_relaxed);
    if (start == 0) {
      start = RealtimeNowNs() - static_cast<int64_t>(std::llround(sampleTime * 1e9));
      st.runStartUtcNs.store(start, std::memory_order_relaxed);
    }
    stamp.utcNs = start + static_cast<int64_t>(std::llround(sampleTime * 1e9));
  }

  counts_.framesIn.fetch_add(1, std::memory_order_relaxed);
  if (cameraGap) counts_.droppedCamera.fetch_add(cameraGap, std::memory_order_relaxed);
  counts_.lastUtcNs.store(stamp.utcNs, std::memory_order_relaxed);
  counts_.lastSequence.store(stamp.sequence, std::memory_order_relaxed);
  return stamp;
}

void CSG::NoteSumFrame(const FrameStamp& stamp) {
  stamps_.ring[stamps_.ringNext] = stamp;
  stamps_.ringNext = (stamps_.ringNext + 1) % StampState::kRing;
}

FrameStamp CSG::SumStamp(int32_t frames, const FrameStamp& last) const {
  if (frames <= 1) return last;
  if (frames > StampState::kRing) frames = StampState::kRing;
  const uint32_t at = (stamps_.ringNext + StampState::kRing - static_cast<uint32_t>(frames)) % StampState::kRing;
  FrameStamp first = stamps_.ring[at];
  first.exposureS = last.exposureS * frames;
  first.nFrames = static_cast<uint32_t>(frames);
  return first;
}

}  // namespace ulmora
