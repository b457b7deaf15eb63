// CStallWatch: tells when a live graph that should be delivering frames has gone quiet for longer than
// a camera ever pauses: the longer of 5 s and ten frame intervals. Plain arithmetic on times the caller
// passes in, so it is the same for the program and ulmora-batch and can be checked without waiting.
#pragma once

#include <cstdint>

namespace ulmora {

class CStallWatch {
 public:
  static constexpr int64_t kMinQuietMs = 5000;
  // The quiet time that counts as a stall at fps frames per second (unknown rate: the minimum).
  static int64_t LimitMs(double fps);

  // The graph was (re)built or started at nowMs with frames delivered so far: the clock starts again.
  void Reset(uint64_t frames, int64_t nowMs);
  // True once per stall: no new frame since the later of the last Reset and the last new frame, for
  // longer than the limit. The watch then starts again, so a graph that stays quiet is reported anew
  // after another limit.
  bool Check(uint64_t frames, int64_t nowMs, double fps);
  // Milliseconds since the last new frame (or Reset).
  int64_t QuietMs(int64_t nowMs) const { return nowMs - lastMs_; }
  uint32_t Stalls() const { return nStalls_; }

 private:
  uint64_t frames_ = 0;
  int64_t lastMs_ = 0;
  uint32_t nStalls_ = 0;
};

// Milliseconds of the steady clock, for the callers of the watch.
int64_t SteadyNowMs();

}  // namespace ulmora
