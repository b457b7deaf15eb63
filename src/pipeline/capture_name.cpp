#include "capture_name.h"

#include <cmath>

namespace ulmora {
namespace {

// Matroska stores times in whole milliseconds, so a frame may come up to half a millisecond before its
// nominal instant; AVI and MP4 times are cut to the nanosecond below. 0.6 ms covers both, and stays
// far from the next frame (and below the 1 ms that would turn 1.0 s at 29.97 into frame 31).
constexpr double kTimeSlackSeconds = 0.0006;
// At very high rates the slack must stay a small part of one frame.
constexpr double kMaxSlackFrames = 0.25;
// One nanosecond, for times that a double cannot hold exactly (4.35 s is 4349.999... ms).
constexpr double kMsSlack = 1e-6;

}  // namespace

uint32_t TruncToU32(double v) {
  if (!(v > 0.0)) return 0;  // also NaN
  if (v >= 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(v);
}

uint32_t CaptureFrameNumber(double t, double fps) {
  double frames = t * fps;
  double slack = std::fmin(kTimeSlackSeconds * fps, kMaxSlackFrames);
  if (!(slack > 0.0)) slack = 0.0;
  return TruncToU32(frames + slack) + 1;
}

uint32_t CaptureTimeMs(double t) { return TruncToU32(t * 1000.0 + kMsSlack); }

}  // namespace ulmora
