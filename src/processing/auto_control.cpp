// The automatic control: steers amplification, frames per sum and time delay from each finished picture.
#include "common/log.h"
#include "common/report.h"
#include "processing/stages.h"

namespace ulmora {
namespace {

uint32_t DelayForPeak(int32_t peak) {
  if (peak < 160) return 500;
  if (peak < 180) return 300;
  if (peak < 245) return 200;
  if (peak < 250) return 134;
  return 0;
}

// Moves a field from the value the decision was taken on. A plain atomic add would apply the step to
// whatever the GUI stored in between (a count of 1 minus 10 is a negative count); the GUI's value wins.
bool Move(std::atomic<int32_t>& field, int32_t from, int32_t to) { return field.compare_exchange_strong(from, to); }

void StepDelay(CFrameProcessor& p, int32_t peak) {
  if (p.SetTimeDelay(DelayForPeak(peak))) StageAccess::Post(p, kMsgDelayChanged);
}

}  // namespace

uint32_t AutoDelayForPeak(int32_t peak) { return DelayForPeak(peak); }

bool StageAutoControl(CFrameProcessor& p, ProcStats& s) {
  const int32_t over = s.nOverflow, peak = s.nPeakLevel, bright = s.nBrightest;
  ProcSettings& set = StageAccess::Settings(p);
  ProcCounters& cnt = StageAccess::Counters(p);
  const uint32_t flags = set.nAuto.load();
  bool changed = false;

  if (over < 50) {
    if (flags & kAutoAmp) {
      const int32_t a = set.nAmp.load();
      const int32_t sign = cnt.nAutoSign.load();
      const int32_t count = set.nCountAccum.load();
      if (a < kAmpMax && (bright < 250 || sign < -1 || (sign > 0 && count > 10))) {
        int32_t step = bright <= 0 ? 1 : ((255 - bright) * a) / bright;
        if (step == 0) step = 1;
        if (a + step > kAmpMax) step = kAmpMax - a;
        if (Move(set.nAmp, a, a + step)) {
          if (sign < 0) cnt.nAutoSign.exchange(0);
          cnt.nAutoSign.fetch_add(step);
          StageAccess::Post(p, kMsgAmpChanged);
          changed = true;
        }
      }
    }
    if (flags & kAutoAccum) {
      int32_t k = 129 - (peak & ~7);
      set.nCountAccum.exchange(k < 4 ? 4 : k);
      StageAccess::Post(p, kMsgCountChanged);
    }
    if (flags & kAutoDelay) StepDelay(p, peak);
    if (flags & kAutoAccum) {
      const int32_t k = set.nCountAccum.load();
      int32_t add = 0;
      if (peak < 164 && k < 205)
        add = 4;
      else if (peak >= 164 && peak < 200 && k < 230)
        add = 2;
      else if (peak >= 200 && peak < 230 && k < 245)
        add = 1;
      if (add && Move(set.nCountAccum, k, k + add)) StageAccess::Post(p, kMsgCountChanged);
    }
    if constexpr (kDebugBuild) {
      const int32_t a = set.nAmp.load();
      LogPrintf("Amp increment, amp = %f:%d, count=%d, max=%d, lCountOwer=%d, lSignOne=%d, a=%d", a / 16.0, a,
                set.nCountAccum.load(), bright, over, cnt.nAutoSign.load(), peak);
    }
    return changed;
  }

  const int32_t a = set.nAmp.load();
  if (over > 200 && a > 1) {
    const int32_t sign = cnt.nAutoSign.load();
    // A last move of one single increase is not undone at once: that would swing between two values.
    if ((flags & kAutoAmp) && sign != 1 && Move(set.nAmp, a, a - 1)) {
      if (sign > 0) cnt.nAutoSign.exchange(0);
      cnt.nAutoSign.fetch_add(-1);
      StageAccess::Post(p, kMsgAmpChanged);
      changed = true;
    }
    if (flags & kAutoAccum) {
      set.nCountAccum.exchange(258 - (peak & ~7));
      StageAccess::Post(p, kMsgCountChanged);
    }
    if (flags & kAutoDelay) StepDelay(p, peak);
    if (flags & kAutoAccum) {
      const int32_t k = set.nCountAccum.load();
      int32_t sub = 0;
      if (over > 2307) {
        if (k > 100)
          sub = 10;
        else if (k > 40)
          sub = 5;
        else if (k > 8)
          sub = 1;
      } else {
        if (k > 40)
          sub = 5;
        else if (k > 8)
          sub = 1;
      }
      if (sub && Move(set.nCountAccum, k, k - sub)) StageAccess::Post(p, kMsgCountChanged);
    }
  }
  if constexpr (kDebugBuild) {
    LogPrintf("Amp decrement, amp = %f, count=%d, lCountOwer=%d, lSignOne=%d, a=%d", set.nAmp.load() / 16.0,
              set.nCountAccum.load(), over, cnt.nAutoSign.load(), peak);
  }
  return changed;
}

}  // namespace ulmora
