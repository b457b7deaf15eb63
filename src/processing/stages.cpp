// The processing stages over the work buffer's grey planes, and the fused per-frame chain.
#include "processing/stages.h"

#include <cmath>

#include "common/report.h"

namespace ulmora {
namespace {

using Work = CFrameProcessor::Work;

// The render table for sums 0..maxS: output byte per sum, and the sum ranges the statistics need.
RenderBounds BuildRenderTable(uint8_t* lut, int32_t maxS, int32_t a, int32_t b, int32_t n, const uint8_t* tone) {
  RenderBounds r;
  r.sOverflow = -1;
  r.sLo = maxS + 1;
  r.sHi = -1;
  const int32_t half = n >> 1;
  for (int32_t s = 0; s <= maxS; ++s) {
    const int32_t level = (((s * a) >> 4) + half) / n + b;
    uint8_t out;
    if (level >= 255) {
      out = 255;
    } else if (level <= 0) {
      out = 0;
    } else {
      out = tone[level];
      if (s < r.sLo) r.sLo = s;
      r.sHi = s;
    }
    if (level <= 255) r.sOverflow = s;
    lut[s] = out;
  }
  return r;
}

// Renders the stored sum into the plane; fills the render statistics when stats is given.
void RenderPlane(CFrameProcessor& p, ProcStats* stats) {
  Work* w = StageAccess::W(p);
  if (!w || !w->pixels) return;
  int32_t a = p.Settings().nAmp.load(std::memory_order_relaxed);
  int32_t b = p.Settings().nBlackLevel.load(std::memory_order_relaxed);
  // A finished sum is divided by the frames it holds: the GUI may store a new count into nSumDivisor
  // between the sum's last frame and this render.
  int32_t n = w->sumFrames > 0 ? w->sumFrames : p.Counters().nSumDivisor.load(std::memory_order_relaxed);
  uint8_t tone[255];
  if (n < 1) {
    ReportAssert("bad algoritm", __LINE__, "stages");
    n = 1;
  }
  if (!StageAccess::CopyTone(p, tone)) {
    // Without a table of its own the processor renders levels unchanged.
    ReportAssert("bad algoritm", __LINE__, "stages");
    for (int i = 0; i < 255; ++i) tone[i] = static_cast<uint8_t>(i);
  }
  // Outside these bounds the 32-bit level arithmetic would wrap; no setter lets a value get there.
  a = a < 0 ? 0 : (a > 32767 ? 32767 : a);
  b = b < -(1 << 30) ? -(1 << 30) : (b > (1 << 30) ? (1 << 30) : b);

  RenderResult r;
  const bool deep = w->storedFrames > 1;
  if (deep) {
    const int32_t maxS = 255 * w->storedFrames;
    const RenderBounds bounds = BuildRenderTable(w->lut16, maxS, a, b, n, tone);
    uint8_t tone2[256];
    tone2[0] = 0;
    for (int i = 1; i < 255; ++i) tone2[i] = tone[i];
    tone2[255] = 255;
    LevelParams lp;
    lp.a = a;
    lp.b = b;
    lp.n = n;
    lp.tone2 = tone2;
    r = Kernels().render16(w->plane, w->sum16, w->pixels, w->lut16, lp, bounds, stats != nullptr);
  } else {
    const RenderBounds bounds = BuildRenderTable(w->lut8, 255, a, b, n, tone);
    r = Kernels().render8(w->plane, w->first8, w->pixels, w->lut8, bounds, stats != nullptr);
  }
  w->planeSumsValid = stats != nullptr;
  w->planeLagsView = false;
  w->planeS1 = r.s1;
  w->planeS2 = r.s2;
  if (stats) {
    const int32_t peak = (static_cast<int32_t>(r.sumMax) + (n >> 1)) / n;
    stats->nOverflow = static_cast<int32_t>(r.overflow);
    stats->nPeakLevel = peak < 0 ? 0 : (peak > 255 ? 255 : peak);
    stats->nBrightest = static_cast<int32_t>(r.brightest);
  }
}

void WriteView(CFrameProcessor& p, const LineCorrection* rows, const uint8_t* colSub, const uint8_t* colAdd) {
  Work* w = StageAccess::W(p);
  CImageBuf& v = p.frProc.img;
  if (!w || !v.bits || v.width != w->width || v.height != w->height) return;
  Kernels().expand(v.bits, v.pad, w->plane, w->width, w->height, rows, colSub, colAdd);
}

// Brings the plane back to what frProc shows after the fused chain.
void SyncPlane(CFrameProcessor& p, Work& w) {
  if (!w.planeLagsView) return;
  const CImageBuf& v = p.frProc.img;
  if (v.bits && v.width == w.width && v.height == w.height)
    Kernels().extract(w.plane, v.bits, w.width, w.height, v.pad);
  w.planeLagsView = false;
  w.planeSumsValid = false;
}

// Row corrections from the row sums in lineA, into lineB.
LineCorrection* RowCorrections(Work& w) {
  const int32_t width = w.width, height = w.height;
  uint32_t total = 0;
  for (int32_t y = 0; y < height; ++y) total += w.lineA[y];
  const int32_t avg = static_cast<int32_t>(total + static_cast<uint32_t>(height >> 1)) / height;
  auto* rows = reinterpret_cast<LineCorrection*>(w.lineB);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t num =
        static_cast<int32_t>(w.lineA[y] + static_cast<uint32_t>(width >> 1) - static_cast<uint32_t>(avg));
    rows[y] = CorrectionOf(num / width);
  }
  return rows;
}

// Column corrections from the column sums in lineA, into colSub / colAdd.
void ColCorrections(Work& w) {
  const int32_t width = w.width, height = w.height;
  uint32_t total = 0;
  for (int32_t x = 0; x < width; ++x) total += w.lineA[x];
  const int32_t avg = static_cast<int32_t>(total + static_cast<uint32_t>(width >> 1)) / width;
  for (int32_t x = 0; x < width; ++x) {
    const int32_t num =
        static_cast<int32_t>(w.lineA[x] + static_cast<uint32_t>(height >> 1) - static_cast<uint32_t>(avg));
    const LineCorrection c = CorrectionOf(num / height);
    w.colSub[x] = c.sub;
    w.colAdd[x] = c.add;
  }
}

void RowStage(CFrameProcessor& p, int32_t clip) {
  Work* w = StageAccess::W(p);
  if (!w || !w->pixels || clip < 1) return;
  SyncPlane(p, *w);
  Kernels().rowSums(w->lineA, w->plane, w->width, w->height, static_cast<uint8_t>(clip));
  const LineCorrection* rows = RowCorrections(*w);
  Kernels().applyRows(w->plane, w->width, w->height, rows, nullptr, 0);
  w->planeSumsValid = false;
  WriteView(p, nullptr, nullptr, nullptr);
}

void ColumnStage(CFrameProcessor& p, int32_t clip) {
  Work* w = StageAccess::W(p);
  if (!w || !w->pixels || clip < 1) return;
  SyncPlane(p, *w);
  Kernels().colSums(w->lineA, w->plane, w->width, w->height, static_cast<uint8_t>(clip));
  ColCorrections(*w);
  Kernels().applyCols(w->plane, w->width, w->height, w->colSub, w->colAdd);
  w->planeSumsValid = false;
  WriteView(p, nullptr, nullptr, nullptr);
}

}  // namespace

int32_t RidgeClip(float rms, const ProcStats& s, float unclippedFrom) {
  const float t = std::nearbyint(rms * s.fSigma + s.fMean);
  if (!(t >= 1.0f)) return 0;
  if (t >= unclippedFrom) return 255;  // min(v, 255) is v: the unclipped variant
  return static_cast<int32_t>(t);
}

bool StageAccumulate(CFrameProcessor& p, const uint8_t* bits, int32_t pad) {
  Work* w = StageAccess::W(p);
  const int32_t count = p.Settings().nCountAccum.load(std::memory_order_relaxed);
  if (count < 1) ReportAssert("bad algoritm", __LINE__, "stages");
  if (!w || !w->pixels || !bits) return false;
  const PixelKernels& k = Kernels();
  const int32_t summed = p.Counters().nSummed.load(std::memory_order_relaxed);
  if (summed == 0 || w->storedFrames == 0) {
    k.extract(w->first8, bits, w->width, w->height, pad);
    w->storedFrames = 1;
  } else if (w->storedFrames == 1) {
    k.addFirst(w->sum16, w->first8, bits, w->width, w->height, pad);
    w->storedFrames = 2;
  } else if (w->storedFrames < 257) {
    k.add(w->sum16, bits, w->width, w->height, pad);
    ++w->storedFrames;
  } else {
    // Counts are kept within 256 by every setter; a longer sum would not fit its words: start anew.
    ReportAssert("bad algoritm", __LINE__, "stages");
    k.extract(w->first8, bits, w->width, w->height, pad);
    w->storedFrames = 1;
  }
  ProcCounters& c = StageAccess::Counters(p);
  const int32_t now = c.nSummed.fetch_add(1) + 1;
  if (now < count) {
    w->sumFrames = 0;  // a partial sum (shown while the first sum builds) takes the count's divisor
    return false;
  }
  w->sumFrames = w->storedFrames;
  c.nSumDivisor.exchange(now);
  c.nSummed.exchange(0);
  return true;
}

void StageRenderWithStats(CFrameProcessor& p, ProcStats& s) {
  RenderPlane(p, &s);
  WriteView(p, nullptr, nullptr, nullptr);
}

void StageRerender(CFrameProcessor& p) {
  RenderPlane(p, nullptr);
  WriteView(p, nullptr, nullptr, nullptr);
}

void StageMeasureNoise(CFrameProcessor& p, ProcStats& s) {
  Work* w = StageAccess::W(p);
  if (!w || !w->pixels) return;
  SyncPlane(p, *w);
  uint64_t count = 0, s1 = 0, s2 = 0;
  if (w->planeSumsValid) {
    s1 = w->planeS1;
    s2 = w->planeS2;
  } else {
    Kernels().window(w->plane, w->pixels, 0, 255, count, s1, s2);
  }
  // Integer sums convert to double exactly, so these are the sums of a pixel-by-pixel double loop.
  const double inv = 1.0 / static_cast<double>(w->pixels);
  double mean = static_cast<double>(s1) * inv;
  double var = static_cast<double>(s2) * inv - mean * mean;
  double sigma = 0.0, lo = 0.0, hi = 0.0;
  if (var <= 0.0) {
    lo = hi = std::nearbyint(mean);
  } else {
    sigma = std::sqrt(var);
    lo = std::nearbyint(mean - 4.0 * sigma);
    hi = std::nearbyint(mean + 2.0 * sigma);
  }
  s.fMean = static_cast<float>(mean);
  s.fSigma = static_cast<float>(sigma);
  if (lo < 0.0) lo = 0.0;
  if (hi > 255.0) hi = 255.0;
  if (lo > hi) return;
  Kernels().window(w->plane, w->pixels, static_cast<uint8_t>(lo), static_cast<uint8_t>(hi), count, s1, s2);
  if (count == 0) return;
  const double invn = 1.0 / static_cast<double>(count);
  mean = static_cast<double>(s1) * invn;
  var = static_cast<double>(s2) * invn - mean * mean;
  sigma = var > 0.0 ? std::sqrt(var) : 0.0;
  s.fMean = static_cast<float>(mean);
  s.fSigma = static_cast<float>(sigma);
}

void StageRemoveRidgeH(CFrameProcessor& p, ProcStats& s) {
  const int32_t clip = RidgeClip(p.Settings().fRmsH.load(std::memory_order_relaxed), s, 254.0f);
  if (clip == 255) {
    StageRemoveRidgeHFast(p, s);
    return;
  }
  RowStage(p, clip);
}

void StageRemoveRidgeV(CFrameProcessor& p, ProcStats& s) {
  const int32_t clip = RidgeClip(p.Settings().fRmsV.load(std::memory_order_relaxed), s, 253.0f);
  if (clip == 255) {
    StageRemoveRidgeVFast(p, s);
    return;
  }
  ColumnStage(p, clip);
}

void StageRemoveRidgeHFast(CFrameProcessor& p, ProcStats&) { RowStage(p, 255); }
void StageRemoveRidgeVFast(CFrameProcessor& p, ProcStats&) { ColumnStage(p, 255); }

void GreyFromBgr(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad) {
  if (!dst || !src || width < 1 || height < 1) return;
  Kernels().extract(dst, src, width, height, pad);
}

FrameResult RunChain(CFrameProcessor& p, const CImageBuf& frame, std::atomic<int32_t>& bFirstSum) {
  Work* w = StageAccess::W(p);
  if (!p.HasChain() || !w || !w->pixels) return FrameResult::kPassThrough;
  ProcCounters& c = StageAccess::Counters(p);
  if (c.nDelayCountdown.load(std::memory_order_relaxed) != 0) {
    c.nDelayCountdown.fetch_add(-1);
    return FrameResult::kDropped;
  }
  c.nDelayCountdown.exchange(c.nDelayFrames.load(std::memory_order_relaxed));
  if (frame.width != w->width || frame.height != w->height || !frame.bits) return FrameResult::kPassThrough;

  if (StageAccumulate(p, frame.bits, frame.pad)) {
    bFirstSum.exchange(0);
  } else if (bFirstSum.load() == 0) {
    return FrameResult::kSumPending;
  }

  ProcStats& s = p.stats;
  RenderPlane(p, &s);
  StageMeasureNoise(p, s);
  // The automatic control needs only the render statistics; when it changes the amplification the
  // picture is rendered again, and banding removal runs once, on the final picture, with the
  // statistics measured before the change.
  const ProcSettings& set = p.Settings();
  const uint32_t autoFlags = set.nAuto.load(std::memory_order_relaxed);
  if ((autoFlags & kAutoOn) && bFirstSum.load() == 0) {
    if (StageAutoControl(p, s)) RenderPlane(p, nullptr);
  }

  const int32_t clipH =
      set.bNRH.load(std::memory_order_relaxed) ? RidgeClip(set.fRmsH.load(std::memory_order_relaxed), s, 254.0f) : 0;
  const int32_t clipV =
      set.bNRV.load(std::memory_order_relaxed) ? RidgeClip(set.fRmsV.load(std::memory_order_relaxed), s, 253.0f) : 0;
  const PixelKernels& k = Kernels();
  const LineCorrection* rows = nullptr;
  if (clipH) {
    k.rowSums(w->lineA, w->plane, w->width, w->height, static_cast<uint8_t>(clipH));
    rows = RowCorrections(*w);
  }
  if (clipV) {
    if (rows) {
      // Apply the rows in place while summing the columns of the corrected picture.
      k.applyRows(w->plane, w->width, w->height, rows, w->lineA, static_cast<uint8_t>(clipV));
      rows = nullptr;
    } else {
      k.colSums(w->lineA, w->plane, w->width, w->height, static_cast<uint8_t>(clipV));
    }
    ColCorrections(*w);
    w->planeSumsValid = false;
    WriteView(p, nullptr, w->colSub, w->colAdd);
  } else {
    WriteView(p, rows, nullptr, nullptr);
  }
  w->planeSumsValid = false;
  w->planeLagsView = clipH != 0 || clipV != 0;
  return FrameResult::kPicture;
}

}  // namespace ulmora
