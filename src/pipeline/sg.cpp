// The grabber session: construction, settings, format and capture control (GUI thread).
#include "sg.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bmp_writer.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/report.h"
#include "settings/profile_keys.h"
#include "sg_recording.h"
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

CSG::CSG() : pProc(std::make_unique<CFrameProcessor>()) {
  texts_.szWorkDir = SharedWorkDir();
  texts_.szFormat = SharedFormat();
  pProc->SetOwner(this);

  stream_.bfhCapture = BitmapFileHeader{};
  stream_.bfhCapture.bfType = kBitmapType;
  stream_.bfhCapture.bfOffBits = kBitmapHeadersSize;

  ProfileReadText(ProfileKey::CapFormat, texts_.szFormat, kTextSize);
  ProfileReadText(ProfileKey::CapWorkDir, texts_.szWorkDir, kTextSize);
  if (!IsDirectory(nullptr, texts_.szWorkDir, 0))
    texts_.nWorkDirLen = static_cast<int32_t>(GetTempDirectory(texts_.szWorkDir, kTextSize));
  SetWorkDir(nullptr);

  run_.bCapture.store(0);
  run_.nCaptured.store(0);
  run_.nSkipLeft.store(0);
  run_.nDelayMs = 0;
  run_.nFramesDelay = 0;
  run_.nCapTotal = 0;
  SetFramesDelay(static_cast<uint32_t>(ProfileReadInt(ProfileKey::CapFramesDelay)));
  run_.nCapCount = static_cast<uint32_t>(ProfileReadInt(ProfileKey::CapCount));
  modes_.bViewLive = ProfileReadInt(ProfileKey::CSGViewLive);

  frLive.SetStretchMode(kStretchColorOnColor, false);
  FrProc().SetStretchMode(kStretchColorOnColor, false);
}

CSG::~CSG() {
  StopRecording();
  if (modes_.bActive == 1) {
    ProfileWriteText(ProfileKey::CapWorkDir, texts_.szWorkDir);  // empty texts are not written
    ProfileWriteText(ProfileKey::CapFormat, texts_.szFormat);
    ProfileWriteInt(ProfileKey::CapFramesDelay, static_cast<int32_t>(run_.nFramesDelay));
    ProfileWriteInt(ProfileKey::CapCount, static_cast<int32_t>(run_.nCapCount));
    ProfileWriteInt(ProfileKey::CSGViewLive, modes_.bViewLive);
  }
  FreeMediaType();
  // The processor saves its keys and destroys frProc (which writes "ViewMode") before frLive goes.
  pProc.reset();
}

CDibFrame& CSG::FrProc() { return pProc->frProc; }

void CSG::AttachWindows(IWindow* msgWindow, IWindow* liveWindow, IWindow* procWindow) {
  pProc->SetWindows(msgWindow, procWindow);
  frLive.AttachWindow(liveWindow);
}

void CSG::DetachWindows() {
  frLive.DetachWindow();
  FrProc().DetachWindow();
}

void CSG::UpdateLayouts() {
  frLive.UpdateLayout();
  FrProc().UpdateLayout();
}

int CSG::BufferCB(double, const uint8_t*, long) { return 0; }

int CSG::SetVideoSize(int32_t w, int32_t h) {
  if (w == 0 || h == 0) ReportAssert("bad algoritm", __LINE__, "sg");
  format_.nVideoWidth = static_cast<int32_t>(std::min<int64_t>(std::llabs(w), INT32_MAX));
  format_.nVideoHeight = static_cast<int32_t>(std::min<int64_t>(std::llabs(h), INT32_MAX));
  LogPrintf("%d x %d", format_.nVideoWidth, format_.nVideoHeight);
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
  format_.dFrameRate.store(fps);
  UpdateDelayMs();
}

void CSG::FreeMediaType() { format_.mtConnected = MediaType{}; }

int CSG::StartCapture(int on) {
  if (on) {
    // The other session may have changed the shared directory or template since this one built its
    // path and tokens; a run must write where the dialog says.
    SyncSharedTexts();
    uint32_t done = run_.nCaptured.load();
    if (run_.nCapTotal <= UINT32_MAX - done) run_.nCapTotal += done;
    run_.nCaptured.exchange(0);
    run_.nSkipLeft.exchange(0);
    run_.nWriteError.store(0);
    // What a killed run left half-written in the folder goes before this run adds to it.
    RemoveStaleCaptureTemps(texts_.szWorkDir);
  }
  return run_.bCapture.exchange(on);
}

void CSG::SyncSharedTexts() {
  if (nSharedSeen != SharedTextChanges().load()) SetWorkDir(nullptr);
}

void CSG::SetFramesDelay(uint32_t n) {
  run_.nFramesDelay = n;
  run_.nSkipLeft.exchange(0);
  UpdateDelayMs();
}

void CSG::UpdateDelayMs() {
  double rate = pProc ? pProc->Counters().dOutRate.load() : 0.0;
  const uint32_t frames = run_.nFramesDelay.load();
  if (frames == 0 || !(rate > 0.0)) {
    run_.nDelayMs = 0;
    return;
  }
  double ms = std::nearbyint(static_cast<double>(frames) * 1000.0 / rate);  // halves to even
  run_.nDelayMs = ms >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
}

void CSG::RequestReprocess() {
  pProc->Restart();
  stream_.nStartTick.store(0);
  stream_.bFirstSum.exchange(1);
  RestartStamps();
}

void CSG::SetFlip(bool flip) {
  pProc->SetFlipV(flip);
  FrProc().SetFlipV(flip);
  frLive.SetFlipV(flip);
}

void CSG::SetActive(bool active) {
  modes_.bActive = active ? 1 : 0;
  pProc->EnableSaving(active);
  FrProc().bPersist = active ? 1 : 0;
}

}  // namespace ulmora
