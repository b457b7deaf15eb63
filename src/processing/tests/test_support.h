// Shared pieces of the processing tests: a private profile, a window that records posts, frames.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/window.h"
#include "settings/profile.h"
#include "processing/frame_processor.h"
#include "processing/stages.h"  // StageAccess: tests stand in for the streaming thread
#include "reference.h"

namespace ulmora::test {

// Points the settings store at a fresh file for the test's life.
class TempProfile {
 public:
  TempProfile() {
    char pattern[] = "/tmp/ulmora-proc-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path_ = pattern;
    ProfileUsePath(path_);
  }
  ~TempProfile() {
    ProfileUsePath("");
    unlink(path_.c_str());
  }
  const std::string& Path() const { return path_; }
  void Set(const char* key, const char* value) { ProfileWriteString(kSectionNocta, key, value); }
  std::string Get(const char* key) {
    char buf[64];
    ProfileGetString(kSectionNocta, key, "<none>", buf, sizeof buf);
    return buf;
  }

 private:
  std::string path_;
};

class RecordingWindow : public IWindow {
 public:
  void PostMsg(unsigned msg) override {
    if (msg == kMsgAmpChanged) amp.fetch_add(1);
    if (msg == kMsgCountChanged) count.fetch_add(1);
    if (msg == kMsgDelayChanged) delay.fetch_add(1);
    total.fetch_add(1);
  }
  void GetClientSize(int& w, int& h) override {
    w = 640;
    h = 480;
  }
  void Invalidate(bool) override {}
  std::atomic<int> amp{0}, count{0}, delay{0}, total{0};
};

// Sets the parameters directly to known values (no profile influence).
inline void Neutral(CFrameProcessor& p) {
  p.SetAuto(0);
  p.SetNRH(false);
  p.SetNRV(false);
  p.SetTimeDelay(0);
  p.SetCountAccum(1);
  StageAccess::Settings(p).nAmp.store(16);
  StageAccess::Settings(p).nBlackLevel.store(0);
  p.SetGamma(128);
}

// Configures p for frames of w x h.
inline bool Configure(CFrameProcessor& p, int32_t w, int32_t h) {
  View v(w, h);
  return p.ConfigureFormat(v.img, true, false);
}

// Random noisy frame with row and column banding.
inline void FillNoisy(View& v, std::mt19937& rng, int base, int noise, int band) {
  std::vector<int> rowOff(v.img.height), colOff(v.img.width);
  std::uniform_int_distribution<int> b(-band, band), n(-noise, noise);
  for (auto& o : rowOff) o = b(rng);
  for (auto& o : colOff) o = b(rng);
  for (int32_t y = 0; y < v.img.height; ++y)
    for (int32_t x = 0; x < v.img.width; ++x) {
      int g = base + rowOff[y] + colOff[x] + n(rng);
      v.SetGrey(x, y, uint8_t(g < 0 ? 0 : (g > 255 ? 255 : g)));
    }
}

}  // namespace ulmora::test
