// Internal to the processor: the work buffer's layout and the pixel kernels behind the stages.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/aligned_alloc.h"
#include "processing/frame_processor.h"

namespace ulmora {

// One grow-only block: the frame sum, a grey plane of the first frame of a sum, the grey picture
// the stages work on, line sums, per-column corrections and the per-picture render table.
// Every area starts on a 64-byte boundary and is followed by 64 spare bytes for wide loads.
struct CFrameProcessor::Work {
  AlignedBytes block;
  size_t capacity = 0;
  int32_t width = 0;
  int32_t height = 0;
  size_t pixels = 0;

  uint16_t* sum16 = nullptr;  // sums of 2..257 frames fit 16 bits (257 x 255 = 65535)
  uint8_t* first8 = nullptr;  // a sum of one frame is kept as the frame's grey bytes
  uint8_t* plane = nullptr;   // the grey picture; frProc is written from it
  uint32_t* lineA = nullptr;  // row or column sums, max(width, height) words
  uint32_t* lineB = nullptr;
  uint8_t* colSub = nullptr;  // per-column correction as two saturating steps
  uint8_t* colAdd = nullptr;
  uint8_t* lut16 = nullptr;  // render table for deep sums: 65536 entries

  int32_t storedFrames = 0;  // frames held in the sum (1: in first8)
  int32_t sumFrames = 0;     // frames of the last finished sum, its divisor; 0 while a sum builds

  // The fused chain writes its last corrections only into frProc; a single stage that follows reads
  // the picture back first.
  bool planeLagsView = false;

  // Sums of the picture as last rendered, so MeasureNoise need not read it again.
  bool planeSumsValid = false;
  uint64_t planeS1 = 0;
  uint64_t planeS2 = 0;

  alignas(64) uint8_t lut8[256 + 64];
};

// The stages' way into the processor's private parts: the streaming thread's write access to the
// counters and to the parameters the automatic control steers. Tests that stand in for a stage use it too.
struct StageAccess {
  static ProcSettings& Settings(CFrameProcessor& p) { return p.settings_; }
  static ProcCounters& Counters(CFrameProcessor& p) { return p.counters_; }
  static StageSlots& Slots(CFrameProcessor& p) { return p.slots_; }
  static CFrameProcessor::Work* W(CFrameProcessor& p) { return p.work_.get(); }
  static void Post(CFrameProcessor& p, unsigned msg) { p.Post(msg); }
  // Copies the output bytes of the table in force; false when it has none.
  static bool CopyTone(const CFrameProcessor& p, uint8_t out[255]);
};

// Results of a render pass over the sum.
struct RenderResult {
  uint32_t overflow = 0;
  uint32_t sumMax = 0;
  uint32_t brightest = 0;
  uint64_t s1 = 0;
  uint64_t s2 = 0;
};

// Classification of sum values for the statistics: levels grow with the sum, so the pixels that
// overflow and those whose level lies in 1..254 are ranges of sum values.
struct RenderBounds {
  int32_t sOverflow = 0;  // sums above this overflow (-1: all)
  int32_t sLo = 0;        // sums in [sLo, sHi] have a level in 1..254 (empty when sLo > sHi)
  int32_t sHi = -1;
};

// Saturating per-line corrections: v - d clamped to 0..255 is sat_add(sat_sub(v, sub), add).
struct LineCorrection {
  uint8_t sub = 0;
  uint8_t add = 0;
};
inline LineCorrection CorrectionOf(int32_t d) {
  if (d >= 0) return {static_cast<uint8_t>(d > 255 ? 255 : d), 0};
  return {0, static_cast<uint8_t>(d < -255 ? 255 : -d)};
}

// The level arithmetic of a render, for kernels that compute levels instead of looking sums up.
struct LevelParams {
  int32_t a = 16;                  // amplification in sixteenths (the kernels compute for 0..128)
  int32_t b = 0;                   // black level
  int32_t n = 1;                   // divisor, at least 1
  const uint8_t* tone2 = nullptr;  // 256 entries: level clamped to 0..255 -> output byte
};

// The pixel kernels, chosen once from the processor's features.
struct PixelKernels {
  const char* name;
  // dst[i] = first byte of each 24-bit pixel, rows packed.
  void (*extract)(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad);
  // sum16 = first8 + frame.
  void (*addFirst)(uint16_t* sum, const uint8_t* first, const uint8_t* src, int32_t width, int32_t height, int32_t pad);
  // sum16 += frame.
  void (*add)(uint16_t* sum, const uint8_t* src, int32_t width, int32_t height, int32_t pad);
  // plane = lut[src8] with statistics.
  RenderResult (*render8)(uint8_t* plane, const uint8_t* src, size_t n, const uint8_t* lut, RenderBounds b, bool stats);
  // plane = output of each 16-bit sum: lut16[sum] or the same computed from lp.
  RenderResult (*render16)(uint8_t* plane, const uint16_t* sum, size_t n, const uint8_t* lut16, const LevelParams& lp,
                           RenderBounds b, bool stats);
  // Line sums of min(v, t) over the plane.
  void (*rowSums)(uint32_t* rows, const uint8_t* plane, int32_t width, int32_t height, uint8_t t);
  void (*colSums)(uint32_t* cols, const uint8_t* plane, int32_t width, int32_t height, uint8_t t);
  // Count, sum and sum of squares of the values in [lo, hi].
  void (*window)(const uint8_t* plane, size_t n, uint8_t lo, uint8_t hi, uint64_t& count, uint64_t& s1, uint64_t& s2);
  // Applies row corrections in place and, when cols is set, adds min(v', t) into the column sums.
  void (*applyRows)(uint8_t* plane, int32_t width, int32_t height, const LineCorrection* rows, uint32_t* cols,
                    uint8_t t);
  // Applies per-column corrections in place.
  void (*applyCols)(uint8_t* plane, int32_t width, int32_t height, const uint8_t* colSub, const uint8_t* colAdd);
  // Writes the plane into a 24-bit view (pixels only; padding untouched), applying per-row and
  // per-column corrections when given.
  void (*expand)(uint8_t* view, int32_t pad, const uint8_t* plane, int32_t width, int32_t height,
                 const LineCorrection* rows, const uint8_t* colSub, const uint8_t* colAdd);
};

const PixelKernels& Kernels();
const PixelKernels& PortableKernels();
// Every kernel set this processor can run (portable first), for tests and benchmarks.
size_t KernelSetCount();
const PixelKernels& KernelSet(size_t i);
// Forces a kernel set (tests and benchmarks); out of range restores the automatic choice.
void UseKernelSet(size_t i);

// The stages the method records point at.
bool StageAccumulate(CFrameProcessor& p, const uint8_t* bits, int32_t pad);
void StageRenderWithStats(CFrameProcessor& p, ProcStats& s);
void StageRerender(CFrameProcessor& p);
void StageMeasureNoise(CFrameProcessor& p, ProcStats& s);
void StageRemoveRidgeH(CFrameProcessor& p, ProcStats& s);
void StageRemoveRidgeV(CFrameProcessor& p, ProcStats& s);
void StageRemoveRidgeHFast(CFrameProcessor& p, ProcStats& s);
void StageRemoveRidgeVFast(CFrameProcessor& p, ProcStats& s);
bool StageAutoControl(CFrameProcessor& p, ProcStats& s);

// Delay in ms the automatic control chooses for a peak level.
uint32_t AutoDelayForPeak(int32_t peak);

// The fused chain behind CFrameProcessor::ProcessFrame.
FrameResult RunChain(CFrameProcessor& p, const CImageBuf& frame, std::atomic<int32_t>& bFirstSum);

// Ridge threshold of a stage: 0 = the stage does nothing, 255 = unclipped, else the clip level.
int32_t RidgeClip(float rms, const ProcStats& s, float unclippedFrom);

}  // namespace ulmora
