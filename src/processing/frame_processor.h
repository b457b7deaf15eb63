// The frame processor: persisted parameters, frame sum, tone tables and the per-frame chain.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/aligned_alloc.h"
#include "common/window.h"
#include "frames/dib_frame.h"
#include "processing/tone.h"

namespace ulmora {

// Statistics of one picture; the render stage fills the first three, MeasureNoise the last two.
struct ProcStats {
  int32_t nOverflow = 0;   // pixels whose level exceeded 255
  int32_t nPeakLevel = 0;  // brightest sum word / divisor, 0..255
  int32_t nBrightest = 0;  // largest tone output among pixels whose level lay in 1..254
  float fMean = 0.0f;
  float fSigma = 0.0f;
};

class CFrameProcessor;

using AccumulateFn = bool (*)(CFrameProcessor& p, const uint8_t* bits, int32_t pad);
using StatsStageFn = void (*)(CFrameProcessor& p, ProcStats& stats);
using RerenderFn = void (*)(CFrameProcessor& p);
using AutoControlFn = bool (*)(CFrameProcessor& p, ProcStats& stats);

// A constant method record: four-character tag, display name and the stages it provides.
struct ProcMethod {
  char tag[5];
  const char* name;
  AccumulateFn accumulate;
  StatsStageFn render;
  RerenderFn rerender;
  AutoControlFn autoControl;
  StatsStageFn stage;  // the ridge descriptors' one stage
};

// "Acm1", "Au1o", "RmsH", "RmsV", "RmfH", "RmfV".
const ProcMethod& MethodAccumulatorGrey();
const ProcMethod& MethodAutoOldCamera();
const ProcMethod& MethodRemoveRidgeH();
const ProcMethod& MethodRemoveRidgeV();
const ProcMethod& MethodRemoveRidgeHFast();
const ProcMethod& MethodRemoveRidgeVFast();

// The session that owns a processor; told when the rate of finished pictures changed so that it
// recomputes its capture interval. Called on the thread that made the change.
class IProcOwner {
 public:
  virtual void OnOutRateChanged() = 0;

 protected:
  ~IProcOwner() = default;
};

// Automatic-mode flags (values of nAuto).
enum AutoFlag : uint32_t { kAutoOn = 1, kAutoAmp = 2, kAutoAccum = 4, kAutoDelay = 8 };

// Ranges the GUI offers; values loaded from the profile outside them are brought inside.
constexpr int32_t kAmpMin = 1, kAmpMax = 128, kAmpDefault = 16;
constexpr int32_t kBlackMin = -200, kBlackMax = 200;
constexpr int32_t kGammaMin = 1, kGammaMax = 256, kGammaLinear = 128;
constexpr int32_t kCountMin = 1, kCountMax = 256, kCountDefault = 4;
constexpr uint32_t kTimeDelayMaxMs = 6000;
constexpr int32_t kRmsMin = -100, kRmsMax = 800;  // hundredths
constexpr double kDefaultFrameRate = 29.97;

// What ProcessFrame did with one frame, so the frame callback knows what follows.
enum class FrameResult {
  kPassThrough,  // no chain (no work buffer): the caller copies the raw frame into frProc
  kDropped,      // skipped by the time delay; frProc unchanged
  kSumPending,   // added to an unfinished sum; frProc keeps the last picture
  kPicture,      // frProc holds a new picture (finished sum, or a partial one while the first-sum flag was set)
};

// The last finished sum, unscaled: 16-bit words of `frames` frames, or a single frame's grey bytes.
// Rows in the order of the frames given; packed, `width` samples each.
struct SumView {
  const uint16_t* words = nullptr;  // frames >= 2
  const uint8_t* bytes = nullptr;   // frames == 1
  int32_t width = 0;
  int32_t height = 0;
  int32_t frames = 0;  // 0: no finished sum
};

// The processor's persisted parameters ("nocta" keys). Readable from any thread. Change them through the
// processor's setters: the count, amplification and black level keep their ranges there (the sum holds at
// most 256 frames), and the delay and count setters recompute the derived state. The automatic control
// changes the same fields on the streaming thread, through StageAccess.
struct ProcSettings {
  std::atomic<uint32_t> nTimeDelay{0};  // ms
  std::atomic<int32_t> nCountAccum{kCountDefault};
  std::atomic<int32_t> bNRH{0};
  std::atomic<int32_t> bNRV{0};
  std::atomic<float> fRmsH{2.0f};
  std::atomic<float> fRmsV{0.5f};
  std::atomic<uint32_t> nAuto{15};
  uint32_t nAutoSaved = 15;  // GUI thread only
  std::atomic<int32_t> nAmp{kAmpDefault};
  std::atomic<int32_t> nBlackLevel{0};
  std::atomic<int32_t> nGamma{kGammaLinear};
  int32_t bColor = 0;
  std::atomic<int32_t> bFlipH{0};
  std::atomic<int32_t> bFlipV{0};
};

// Derived and working state, kept by the setters (GUI thread) and the stages (streaming thread); each
// change is one atomic operation.
struct ProcCounters {
  std::atomic<double> dFrameRate{kDefaultFrameRate};
  std::atomic<double> dOutRate{kDefaultFrameRate};
  std::atomic<int32_t> nDelayFrames{0};
  std::atomic<int32_t> nDelayCountdown{0};
  std::atomic<int32_t> nSummed{0};
  std::atomic<int32_t> nSumDivisor{kCountDefault};
  std::atomic<int32_t> nAutoSign{0};
  std::atomic<int32_t> bGammaBusy{0};
};

// The stages the single-stage calls run. Installed on the GUI thread when the format is set (graph not
// running).
struct StageSlots {
  std::atomic<AccumulateFn> pfnAccumulate{nullptr};
  std::atomic<StatsStageFn> pfnRender{nullptr};
  std::atomic<RerenderFn> pfnRerender{nullptr};
  std::atomic<AutoControlFn> pfnAutoControl{nullptr};
  std::atomic<StatsStageFn> pfnRidgeH{nullptr};
  std::atomic<StatsStageFn> pfnRidgeV{nullptr};
};

// One processor per graph object. Two threads use it without a lock: the streaming thread runs the
// chain, the GUI thread changes parameters. Cross-thread fields are atomics changed by exchange or add.
class CFrameProcessor {
 public:
  // Reads the keys of section "nocta" and builds the tone table for the loaded gamma.
  CFrameProcessor();
  // Writes the keys when bSaveSettings is set, then frees the buffers.
  ~CFrameProcessor();
  CFrameProcessor(const CFrameProcessor&) = delete;
  CFrameProcessor& operator=(const CFrameProcessor&) = delete;

  // --- links (GUI thread) ---
  void SetOwner(IProcOwner* owner) { pOwner = owner; }
  // The window that gets MsgAmpChanged / MsgCountChanged / MsgDelayChanged, and the processed view's window.
  void SetWindows(IWindow* msgWindow, IWindow* viewWindow);
  void EnableSaving(bool on) { bSaveSettings = on ? 1 : 0; }
  IWindow* MsgWindow() const { return pMsgWindow.load(); }
  // Nothing is posted once the message window is gone.
  void DetachMsgWindow() { pMsgWindow.store(nullptr); }
  bool SavesSettings() const { return bSaveSettings != 0; }

  // --- format (GUI thread, graph not running) ---
  // frame: the session's raw view. With allocate and a stride, sizes frProc (negative height when
  // topDown) and the work buffer; false when the chain cannot run on this format.
  bool ConfigureFormat(const CImageBuf& frame, bool allocate, bool topDown);
  // True when the accumulator slots are installed (a work buffer exists).
  bool HasChain() const { return slots_.pfnAccumulate.load() != nullptr; }

  // --- per frame (streaming thread) ---
  // The whole chain for one 24-bit frame: time delay, sum, render, statistics, banding removal and,
  // when bFirstSum is clear, the automatic control; clears bFirstSum when a sum completes. The result
  // is written into frProc once, at the end. Nothing is allocated.
  FrameResult ProcessFrame(const CImageBuf& frame, std::atomic<int32_t>& bFirstSum);

  // Right after ProcessFrame gave kPicture: the sum that made the picture (frames 0 for a partial sum).
  SumView LastSum() const;

  // The single stages, through the installed slots (each leaves frProc up to date).
  bool Accumulate(const uint8_t* bits, int32_t pad);
  void RenderWithStats(ProcStats& s);
  void MeasureNoise(ProcStats& s);
  void RemoveRidgeH(ProcStats& s);
  void RemoveRidgeV(ProcStats& s);
  bool AutoControl(ProcStats& s);
  void Rerender();

  // --- parameters (GUI thread; the automatic control uses the same paths on the streaming thread) ---
  void SetGamma(int32_t v);  // dropped when a rebuild is already running
  bool SetTimeDelay(uint32_t ms);
  void SetCountAccum(int32_t n);  // brought into 1..256
  void SetFrameRate(double fps);
  void SetAmp(int32_t a);         // brought into 1..128; clears nAutoSign
  void SetBlackLevel(int32_t b);  // brought into -200..200; clears nAutoSign
  void SetRmsH(float f) { settings_.fRmsH.exchange(f); }
  void SetRmsV(float f) { settings_.fRmsV.exchange(f); }
  void SetNRH(bool on) { settings_.bNRH.exchange(on ? 1 : 0); }
  void SetNRV(bool on) { settings_.bNRV.exchange(on ? 1 : 0); }
  void SetAuto(uint32_t flags) { settings_.nAuto.exchange(flags); }
  // The sub-modes the automatic button brings back when it is switched on with none chosen (GUI thread).
  void SetAutoSaved(uint32_t flags) { settings_.nAutoSaved = flags; }
  // Kept and saved here; the session applies it to its frames.
  void SetFlipV(bool on) { settings_.bFlipV.exchange(on ? 1 : 0); }
  // Run when the graph starts running: brings the automatic sub-modes back to their start values.
  void Restart();
  // Menu item "Default": delay 0, 4 frames per sum, amplification 16, black level 0, gamma 128.
  void ResetDefaults();

  // The tone table in force (never null once constructed, unless its block could not be had).
  const ToneTable* Tone() const { return pTone.load(); }

  // --- read-outs (any thread) ---
  const ProcSettings& Settings() const { return settings_; }
  const ProcCounters& Counters() const { return counters_; }
  const StageSlots& Slots() const { return slots_; }

  // Statistics of the last picture (the record the chain passes to its stages).
  ProcStats stats;

  struct Work;  // the work buffer's layout, private to the stages

 private:
  // The stages' write access on the streaming thread; see stages.h.
  friend struct StageAccess;
  void ApplyTimeDelay(uint32_t ms);
  void RecomputeRates();
  void Post(unsigned msg);

  // Two ToneTable halves. A rebuild writes the half not in force and swaps pTone; the entries are read
  // and written as atomic bytes, since a slow render may still copy a half the next rebuild rewrites.
  AlignedBytes toneBlock_;
  std::atomic<const ToneTable*> pTone{nullptr};
  // Odd while a rebuild writes a half: a render that read a table across a rebuild reads it again.
  std::atomic<uint32_t> nToneGeneration{0};
  std::unique_ptr<Work> work_;

  ProcSettings settings_;
  ProcCounters counters_;
  StageSlots slots_;

  // --- links (GUI thread; the message window is read on the streaming thread) ---
  IProcOwner* pOwner = nullptr;
  std::atomic<IWindow*> pMsgWindow{nullptr};
  int32_t bSaveSettings = 0;

 public:
  // The processor's display view: what the video surface paints and the capture writes.
  // (The playback pacing state is kept by the session.)
  CDibFrame frProc;
};

}  // namespace ulmora
