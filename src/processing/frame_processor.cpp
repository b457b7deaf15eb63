#include "processing/frame_processor.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "common/aligned_alloc.h"
#include "common/log.h"
#include "common/report.h"
#include "processing/stages.h"
#include "settings/profile_keys.h"

namespace ulmora {
namespace {

constexpr ProcMethod kAccumulatorGrey = {
    "Acm1", "Accumulator Grey", &StageAccumulate, &StageRenderWithStats, &StageRerender, nullptr, nullptr};
constexpr ProcMethod kAutoOld = {"Au1o", "Auto [old camera]", nullptr, nullptr, nullptr, &StageAutoControl, nullptr};
constexpr ProcMethod kRidgeH = {"RmsH", "Remove Ridge H", nullptr, nullptr, nullptr, nullptr, &StageRemoveRidgeH};
constexpr ProcMethod kRidgeV = {"RmsV", "Remove Ridge V", nullptr, nullptr, nullptr, nullptr, &StageRemoveRidgeV};
constexpr ProcMethod kRidgeHFast = {"RmfH",  "Remove Ridge H [fast]", nullptr, nullptr, nullptr,
                                    nullptr, &StageRemoveRidgeHFast};
constexpr ProcMethod kRidgeVFast = {"RmfV",  "Remove Ridge V [fast]", nullptr, nullptr, nullptr,
                                    nullptr, &StageRemoveRidgeVFast};

constexpr size_t kToneBlockSize = 2 * sizeof(ToneTable);
constexpr size_t kLut16Entries = 65536;

// A stored value outside what the program can work with is brought inside and the change logged.
int32_t InRange(ProfileKey key, int32_t v, int32_t lo, int32_t hi) {
  if (v >= lo && v <= hi) return v;
  const int32_t used = v < lo ? lo : hi;
  LogPrintf("Setting %s = %d is out of range %d..%d, %d used", KeyInfo(key).name, v, lo, hi, used);
  return used;
}

using ToneByte = std::atomic_ref<uint8_t>;

size_t Area(size_t bytes) { return (bytes + 64 + 63) & ~size_t(63); }

}  // namespace

const ProcMethod& MethodAccumulatorGrey() { return kAccumulatorGrey; }
const ProcMethod& MethodAutoOldCamera() { return kAutoOld; }
const ProcMethod& MethodRemoveRidgeH() { return kRidgeH; }
const ProcMethod& MethodRemoveRidgeV() { return kRidgeV; }
const ProcMethod& MethodRemoveRidgeHFast() { return kRidgeHFast; }
const ProcMethod& MethodRemoveRidgeVFast() { return kRidgeVFast; }

bool StageAccess::CopyTone(const CFrameProcessor& p, uint8_t out[255]) {
  // A rebuild writes only the half not in force, but a slow reader can still hold the older half when
  // the next rebuild starts: read again when a rebuild began while this copy was made. The entry loads
  // are acquires, so a byte of a later rebuild brings that rebuild's generation with it.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const uint32_t before = p.nToneGeneration.load(std::memory_order_acquire);
    const ToneTable* t = p.pTone.load(std::memory_order_acquire);
    if (!t) return false;
    for (int i = 0; i < 255; ++i)
      out[i] = ToneByte(const_cast<uint8_t&>(t->entry[i].out)).load(std::memory_order_acquire);
    const uint32_t after = p.nToneGeneration.load(std::memory_order_relaxed);
    if (after == before || ((before & 1) && after == before + 1)) return true;
  }
  return true;
}

CFrameProcessor::CFrameProcessor() {
  const int32_t autoFlags = ProfileReadInt(ProfileKey::ProcAuto);
  settings_.nAuto.store(static_cast<uint32_t>(autoFlags));
  settings_.nAutoSaved = static_cast<uint32_t>(autoFlags);
  settings_.bNRH.store(ProfileReadInt(ProfileKey::ProcNRH));
  settings_.bNRV.store(ProfileReadInt(ProfileKey::ProcNRV));
  settings_.fRmsH.store(ProfileReadHundredths(ProfileKey::ProcRMSH));
  settings_.fRmsV.store(ProfileReadHundredths(ProfileKey::ProcRMSV));
  {
    // Stored as unsigned: a negative text reads as a delay of weeks, which would stop the picture.
    const int32_t ms = ProfileReadInt(ProfileKey::ProcTimeDelay);
    ApplyTimeDelay(static_cast<uint32_t>(InRange(ProfileKey::ProcTimeDelay, ms, 0, kTimeDelayMaxMs)));
  }
  SetCountAccum(InRange(ProfileKey::ProcCountAccum, ProfileReadInt(ProfileKey::ProcCountAccum), kCountMin, kCountMax));
  settings_.nAmp.store(InRange(ProfileKey::ProcAmp, ProfileReadInt(ProfileKey::ProcAmp), kAmpMin, kAmpMax));
  settings_.nBlackLevel.store(
      InRange(ProfileKey::ProcBlackLevel, ProfileReadInt(ProfileKey::ProcBlackLevel), kBlackMin, kBlackMax));
  int32_t gamma = ProfileReadInt(ProfileKey::ProcGamma);
  gamma = gamma < kGammaMin ? kGammaMin : (gamma > kGammaMax ? kGammaMax : gamma);
  settings_.nGamma.store(gamma);
  settings_.bFlipH.store(ProfileReadInt(ProfileKey::ProcFlipH));
  settings_.bFlipV.store(ProfileReadInt(ProfileKey::ProcFlipV));
  counters_.nAutoSign.store(0);

  toneBlock_ = MakeAlignedBytes(kToneBlockSize);
  if (!toneBlock_) {
    ReportAssert("Can`t alloc memory for tabs", __LINE__, "frame_processor");
    LogPrintf("Can`t alloc memory for tabs");
  } else {
    memset(toneBlock_.get(), 0, kToneBlockSize);
    auto* first = reinterpret_cast<ToneTable*>(toneBlock_.get());
    BuildToneTable(*first, static_cast<float>(GammaFactor(static_cast<uint32_t>(gamma))));
    pTone.store(first);
  }

  slots_.pfnAutoControl.store(kAutoOld.autoControl);
  slots_.pfnRidgeH.store(kRidgeH.stage);
  slots_.pfnRidgeV.store(kRidgeV.stage);
  frProc.SetStretchMode(kStretchColorOnColor, false);
}

CFrameProcessor::~CFrameProcessor() {
  if (bSaveSettings) {
    ProfileWriteInt(ProfileKey::ProcTimeDelay, static_cast<int32_t>(settings_.nTimeDelay.load()));
    ProfileWriteInt(ProfileKey::ProcCountAccum, settings_.nCountAccum.load());
    ProfileWriteInt(ProfileKey::ProcNRH, settings_.bNRH.load());
    ProfileWriteInt(ProfileKey::ProcNRV, settings_.bNRV.load());
    ProfileWriteInt(ProfileKey::ProcAuto, static_cast<int32_t>(settings_.nAuto.load()));
    ProfileWriteInt(ProfileKey::ProcAmp, settings_.nAmp.load());
    ProfileWriteInt(ProfileKey::ProcBlackLevel, settings_.nBlackLevel.load());
    ProfileWriteInt(ProfileKey::ProcGamma, settings_.nGamma.load());
    ProfileWriteInt(ProfileKey::ProcColor, settings_.bColor);
    ProfileWriteInt(ProfileKey::ProcFlipH, settings_.bFlipH.load());
    ProfileWriteInt(ProfileKey::ProcFlipV, settings_.bFlipV.load());
    ProfileWriteHundredths(ProfileKey::ProcRMSH, settings_.fRmsH.load());
    ProfileWriteHundredths(ProfileKey::ProcRMSV, settings_.fRmsV.load());
  }
  // The processed view's mode is saved here: frames know nothing of the settings store.
  if (frProc.bPersist) ProfileWriteInt(ProfileKey::ViewMode, frProc.nViewMode);
  pTone.store(nullptr);
}

void CFrameProcessor::SetWindows(IWindow* msgWindow, IWindow* viewWindow) {
  if (!msgWindow || !viewWindow) ReportAssert("bad algoritm", __LINE__, "frame_processor");
  pMsgWindow.store(msgWindow);
  if (viewWindow) frProc.AttachWindow(viewWindow);
}

void CFrameProcessor::Post(unsigned msg) {
  IWindow* w = pMsgWindow.load();
  if (!w) {
    ReportAssert("bad algoritm", __LINE__, "frame_processor");
    return;
  }
  w->PostMsg(msg);
}

bool CFrameProcessor::ConfigureFormat(const CImageBuf& frame, bool allocate, bool topDown) {
  auto clearChain = [this] {
    slots_.pfnAccumulate.store(nullptr);
    slots_.pfnRender.store(nullptr);
    slots_.pfnRerender.store(nullptr);
  };
  if (frame.stride == 0) ReportAssert("bad algoritm", __LINE__, "frame_processor");
  if (frame.width < 1 && frame.height < 1) ReportAssert("bad algoritm", __LINE__, "frame_processor");
  const int32_t width = frame.width, height = frame.height;
  auto clearSizes = [this] {
    if (work_) {
      work_->width = work_->height = 0;
      work_->pixels = 0;
      work_->storedFrames = 0;
      work_->sumFrames = 0;
    }
    frProc.img.width = frProc.img.height = frProc.img.size = frProc.img.stride = frProc.img.pad = 0;
  };
  if (!allocate || frame.stride == 0 || width < 1 || height < 1 ||
      !frProc.AllocFrame(width, topDown ? -height : height)) {
    clearChain();
    clearSizes();
    return false;
  }
  if (frProc.img.stride == 0) ReportAssert("bad algoritm", __LINE__, "frame_processor");
  // AllocFrame cleared the frame, row padding included, which the stages never write.
  frProc.SetFlipV(settings_.bFlipV.load() != 0);
  frProc.ComputeFit();
  counters_.nSummed.exchange(0);

  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  const size_t longest = static_cast<size_t>(width > height ? width : height);
  const size_t need =
      Area(2 * n) + 2 * Area(n) + 2 * Area(4 * longest) + 2 * Area(static_cast<size_t>(width)) + Area(kLut16Entries);
  if (!work_) work_ = std::make_unique<Work>();
  if (need > work_->capacity) {
    work_->block.reset();
    work_->block = MakeAlignedBytes(need);
    work_->capacity = work_->block ? need : 0;
  }
  if (!work_->block) {
    ReportAssert("Can`t alloc memory", __LINE__, "frame_processor");
    LogPrintf("Can`t alloc memory for convertor\n exit...");
    clearChain();
    work_->width = work_->height = 0;
    work_->pixels = 0;
    return true;
  }
  uint8_t* at = work_->block.get();
  auto take = [&at](size_t bytes) {
    uint8_t* p = at;
    at += Area(bytes);
    return p;
  };
  work_->sum16 = reinterpret_cast<uint16_t*>(take(2 * n));
  work_->first8 = take(n);
  work_->plane = take(n);
  work_->lineA = reinterpret_cast<uint32_t*>(take(4 * longest));
  work_->lineB = reinterpret_cast<uint32_t*>(take(4 * longest));
  work_->colSub = take(static_cast<size_t>(width));
  work_->colAdd = take(static_cast<size_t>(width));
  work_->lut16 = take(kLut16Entries);
  work_->width = width;
  work_->height = height;
  work_->pixels = n;
  work_->storedFrames = 0;
  work_->sumFrames = 0;
  work_->planeSumsValid = false;
  work_->planeLagsView = false;
  // A picture rendered before the first frame shows black, not stale memory.
  memset(work_->first8, 0, n);
  memset(work_->plane, 0, n);
  slots_.pfnAccumulate.store(kAccumulatorGrey.accumulate);
  slots_.pfnRender.store(kAccumulatorGrey.render);
  slots_.pfnRerender.store(kAccumulatorGrey.rerender);
  return true;
}

FrameResult CFrameProcessor::ProcessFrame(const CImageBuf& frame, std::atomic<int32_t>& bFirstSum) {
  return RunChain(*this, frame, bFirstSum);
}

SumView CFrameProcessor::LastSum() const {
  SumView v;
  const Work* w = work_.get();
  if (!w || !w->pixels || w->sumFrames <= 0) return v;
  v.width = w->width;
  v.height = w->height;
  v.frames = w->sumFrames;
  if (w->sumFrames == 1)
    v.bytes = w->first8;
  else
    v.words = w->sum16;
  return v;
}

bool CFrameProcessor::Accumulate(const uint8_t* bits, int32_t pad) {
  AccumulateFn f = slots_.pfnAccumulate.load();
  return f ? f(*this, bits, pad) : false;
}

void CFrameProcessor::RenderWithStats(ProcStats& s) {
  if (StatsStageFn f = slots_.pfnRender.load()) f(*this, s);
}

void CFrameProcessor::MeasureNoise(ProcStats& s) { StageMeasureNoise(*this, s); }

void CFrameProcessor::RemoveRidgeH(ProcStats& s) {
  if (StatsStageFn f = slots_.pfnRidgeH.load()) f(*this, s);
}

void CFrameProcessor::RemoveRidgeV(ProcStats& s) {
  if (StatsStageFn f = slots_.pfnRidgeV.load()) f(*this, s);
}

bool CFrameProcessor::AutoControl(ProcStats& s) {
  AutoControlFn f = slots_.pfnAutoControl.load();
  return f ? f(*this, s) : false;
}

void CFrameProcessor::Rerender() {
  if (RerenderFn f = slots_.pfnRerender.load()) f(*this);
}

void CFrameProcessor::SetGamma(int32_t v) {
  if (v < 1) ReportAssert("bad algoritm", __LINE__, "frame_processor");
  v = v < kGammaMin ? kGammaMin : (v > kGammaMax ? kGammaMax : v);
  int32_t idle = 0;
  if (!counters_.bGammaBusy.compare_exchange_strong(idle, 1)) return;  // a rebuild is running: drop this one
  if (toneBlock_) {
    auto* halves = reinterpret_cast<ToneTable*>(toneBlock_.get());
    ToneTable* spare = pTone.load() == &halves[0] ? &halves[1] : &halves[0];
    ToneTable fresh;
    BuildToneTable(fresh, static_cast<float>(GammaFactor(static_cast<uint32_t>(v))));
    nToneGeneration.fetch_add(1, std::memory_order_acq_rel);
    for (int i = 0; i < 255; ++i) ToneByte(spare->entry[i].out).store(fresh.entry[i].out, std::memory_order_release);
    pTone.exchange(spare);
    nToneGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
  settings_.nGamma.exchange(v);
  counters_.nAutoSign.exchange(0);
  counters_.bGammaBusy.exchange(0);
}

void CFrameProcessor::RecomputeRates() {
  const double fps = counters_.dFrameRate.load();
  const uint32_t ms = settings_.nTimeDelay.load();
  int32_t frames = 0;
  if (ms != 0 && fps > 0.0) {
    const double d = std::ceil(ms * (fps * 0.001));
    frames = d < 2147483647.0 ? static_cast<int32_t>(d) : 2147483647;
  }
  counters_.nDelayFrames.exchange(frames);
  double out = fps;
  const int32_t count = settings_.nCountAccum.load();
  if (count > 1) out /= count;
  if (frames >= 2) out /= frames;
  counters_.dOutRate.store(out);
}

void CFrameProcessor::ApplyTimeDelay(uint32_t ms) {
  settings_.nTimeDelay.exchange(ms);
  RecomputeRates();
  counters_.nDelayCountdown.exchange(counters_.nDelayFrames.load());
  counters_.nSummed.exchange(0);
  counters_.nAutoSign.exchange(0);
}

bool CFrameProcessor::SetTimeDelay(uint32_t ms) {
  if (ms == settings_.nTimeDelay.load()) return false;
  ApplyTimeDelay(ms);
  if (pOwner) pOwner->OnOutRateChanged();
  return true;
}

void CFrameProcessor::SetCountAccum(int32_t n) {
  // The sum's words hold at most 256 frames; a count outside 1..256 would divide by zero or overflow.
  if (n < kCountMin || n > kCountMax) {
    ReportAssert("bad algoritm", __LINE__, "frame_processor");
    n = n < kCountMin ? kCountMin : kCountMax;
  }
  settings_.nCountAccum.exchange(n);
  counters_.nSumDivisor.exchange(n);
  counters_.nDelayCountdown.exchange(counters_.nDelayFrames.load());
  counters_.nSummed.exchange(0);
  counters_.nAutoSign.exchange(0);
  RecomputeRates();
  if (pOwner) pOwner->OnOutRateChanged();
}

void CFrameProcessor::SetFrameRate(double fps) {
  if (!(fps >= 1.0)) fps = kDefaultFrameRate;
  counters_.dFrameRate.store(fps);
  ApplyTimeDelay(settings_.nTimeDelay.load());
  if (pOwner) pOwner->OnOutRateChanged();
}

void CFrameProcessor::SetAmp(int32_t a) {
  settings_.nAmp.exchange(a < kAmpMin ? kAmpMin : (a > kAmpMax ? kAmpMax : a));
  counters_.nAutoSign.exchange(0);
}

void CFrameProcessor::SetBlackLevel(int32_t b) {
  settings_.nBlackLevel.exchange(b < kBlackMin ? kBlackMin : (b > kBlackMax ? kBlackMax : b));
  counters_.nAutoSign.exchange(0);
}

void CFrameProcessor::Restart() {
  const uint32_t flags = settings_.nAuto.load();
  if (flags & kAutoOn) {
    if ((flags & kAutoDelay) && SetTimeDelay(0)) Post(kMsgDelayChanged);
    if ((flags & kAutoAccum) && settings_.nCountAccum.load() != kCountDefault) {
      SetCountAccum(kCountDefault);
      Post(kMsgCountChanged);
    }
    if ((flags & kAutoAmp) && settings_.nAmp.load() != kAmpDefault) {
      settings_.nAmp.exchange(kAmpDefault);
      Post(kMsgAmpChanged);
    }
  }
  counters_.nDelayCountdown.exchange(counters_.nDelayFrames.load());
  counters_.nSummed.exchange(0);
  counters_.nSumDivisor.exchange(settings_.nCountAccum.load());
  counters_.nAutoSign.exchange(0);
}

void CFrameProcessor::ResetDefaults() {
  SetTimeDelay(0);
  SetCountAccum(kCountDefault);
  settings_.nAmp.exchange(kAmpDefault);
  settings_.nBlackLevel.exchange(0);
  SetGamma(kGammaLinear);
}

}  // namespace ulmora
