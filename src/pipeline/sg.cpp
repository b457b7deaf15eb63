// The grabber session: construction, settings, format and capture control (GUI thread).
#include "sg.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/log.h"
#include "common/paths.h"
#include "common/report.h"
#include "settings/profile_keys.h"
#include "sg_shared.h"

namespace ulmora {

char* SharedWorkDir() {
  static char text[kTextSize];
  return text;
}
char* SharedFormat() {
  static char text[kTextSize];
  return text;
}
std::atomic<uint32_t>& SharedTextChanges() {
  static std::atomic<uint32_t> changes{0};
  return changes;
}

CSG::CSG() : szWorkDir(SharedWorkDir()), szFormat(SharedFormat()), pProc(std::make_unique<CFrameProcessor>()) {
  pProc->SetOwner(this);

  bfhCapture = BitmapFileHeader{};
  bfhCapture.bfType = kBitmapType;
  bfhCapture.bfOffBits = kBitmapHeadersSize;

  ProfileReadText(ProfileKey::CapFormat, szFormat, kTextSize);
  ProfileReadText(ProfileKey::CapWorkDir, szWorkDir, kTextSize);
  if (!IsDirectory(nullptr, szWorkDir, 0)) nWorkDirLen = static_cast<int32_t>(GetTempDirectory(szWorkDir, kTextSize));
  SetWorkDir(nullptr);

  bCapture.store(0);
  nCaptured.store(0);
  nSkipLeft.store(0);
  nDelayMs = 0;
  nFramesDelay = 0;
  nCapTotal = 0;
  SetFramesDelay(static_cast<uint32_t>(ProfileReadInt(ProfileKey::CapFramesDelay)));
  nCapCount = static_cast<uint32_t>(ProfileReadInt(ProfileKey::CapCount));
  bViewLive = ProfileReadInt(ProfileKey::CSGViewLive);

  frLive.SetStretchMode(kStretchColorOnColor, false);
  FrProc().SetStretchMode(kStretchColorOnColor, false);
}

CSG::~CSG() {
  if (bActive == 1) {
    ProfileWriteText(ProfileKey::CapWorkDir, szWorkDir);  // empty texts are not written
    ProfileWriteText(ProfileKey::CapFormat, szFormat);
    ProfileWriteInt(ProfileKey::CapFramesDelay, static_cast<int32_t>(nFramesDelay));
    ProfileWriteInt(ProfileKey::CapCount, static_cast<int32_t>(nCapCount));
    ProfileWriteInt(ProfileKey::CSGViewLive, bViewLive);
  }
  FreeMediaType();
  // The processor saves its keys and destroys frProc (which writes "ViewMode") before frLive goes.
  pProc.reset();
}

CDibFrame& CSG::FrProc() { return pProc->frProc; }

int CSG::BufferCB(double, const uint8_t*, long) { return 0; }

int CSG::SetVideoSize(int32_t w, int32_t h) {
  if (w == 0 || h == 0) ReportAssert("bad algoritm", __LINE__, "sg");
  nVideoWidth = static_cast<int32_t>(std::min<int64_t>(std::llabs(w), INT32_MAX));
  nVideoHeight = static_cast<int32_t>(std::min<int64_t>(std::llabs(h), INT32_MAX));
  LogPrintf("%d x %d", nVideoWidth, nVideoHeight);
  bShortWarned.store(0);
  if (!frLive.AllocFrame(w, h)) {
    pProc->ConfigureFormat(frLive.img, false, false);
    return 0;
  }
  frLive.ComputeFit();
  return pProc->ConfigureFormat(frLive.img, true, h < 0) ? 1 : 0;
}

void CSG::SetFrameRate(double fps) {
  if (!(fps >= 1.0) || !std::isfinite(fps)) fps = kDefaultFrameRate;
  pProc->SetFrameRate(fps);
  dFrameRate.store(fps);
  UpdateDelayMs();
}

void CSG::FreeMediaType() { mtConnected = MediaType{}; }

int CSG::StartCapture(int on) {
  if (on) {
    // The other session may have changed the shared directory or template since this one built its
    // path and tokens; a run must write where the dialog says.
    SyncSharedTexts();
    uint32_t done = nCaptured.load();
    if (nCapTotal <= UINT32_MAX - done) nCapTotal += done;
    nCaptured.exchange(0);
    nSkipLeft.exchange(0);
  }
  return bCapture.exchange(on);
}

void CSG::SyncSharedTexts() {
  if (nSharedSeen != SharedTextChanges().load()) SetWorkDir(nullptr);
}

void CSG::SetFramesDelay(uint32_t n) {
  nFramesDelay = n;
  nSkipLeft.exchange(0);
  UpdateDelayMs();
}

void CSG::UpdateDelayMs() {
  double rate = pProc ? pProc->Counters().dOutRate.load() : 0.0;
  const uint32_t frames = nFramesDelay.load();
  if (frames == 0 || !(rate > 0.0)) {
    nDelayMs = 0;
    return;
  }
  double ms = std::nearbyint(static_cast<double>(frames) * 1000.0 / rate);  // halves to even
  nDelayMs = ms >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
}

void CSG::RequestReprocess() {
  pProc->Restart();
  nStartTick.store(0);
  bFirstSum.exchange(1);
}

void CSG::SetFlip(bool flip) {
  pProc->SetFlipV(flip);
  FrProc().SetFlipV(flip);
  frLive.SetFlipV(flip);
}

void CSG::SetActive(bool active) {
  bActive = active ? 1 : 0;
  pProc->EnableSaving(active);
  FrProc().bPersist = active ? 1 : 0;
}

}  // namespace ulmora
