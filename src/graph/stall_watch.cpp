#include "graph/stall_watch.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace ulmora {

int64_t CStallWatch::LimitMs(double fps) {
  if (!(fps > 0.0) || !std::isfinite(fps)) return kMinQuietMs;
  return std::max<int64_t>(kMinQuietMs, static_cast<int64_t>(std::ceil(10000.0 / fps)));
}

void CStallWatch::Reset(uint64_t frames, int64_t nowMs) {
  frames_ = frames;
  lastMs_ = nowMs;
}

bool CStallWatch::Check(uint64_t frames, int64_t nowMs, double fps) {
  if (frames != frames_) {
    Reset(frames, nowMs);
    return false;
  }
  if (nowMs - lastMs_ <= LimitMs(fps)) return false;
  ++nStalls_;
  lastMs_ = nowMs;
  return true;
}

int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace ulmora
