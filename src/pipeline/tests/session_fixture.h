// Test support for the session: a temporary profile and capture directory, and a window that records
// what is posted to it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/tests/log_capture.h"
#include "settings/profile.h"
#include "pipeline/sg.h"

namespace ulmora {

// The session's door for tests that stand in for the streaming thread (its counters and pacing origin)
// or for the other session (the shared directory text).
struct SessionAccess {
  static CaptureRun& Capture(CSG& sg) { return sg.run_; }
  static NameTexts& Names(CSG& sg) { return sg.texts_; }
  static StreamState& Stream(CSG& sg) { return sg.stream_; }
};

}  // namespace ulmora

namespace ulmora::test {

struct RecordingWindow : IWindow {
  std::atomic<int> repaints{0}, ended{0}, progress{0}, other{0};
  std::vector<unsigned> order;  // GUI-thread tests only
  int clientW = 0, clientH = 0;
  std::atomic<bool> repaintPending{false};
  bool draws = true;
  bool RepaintPending() const override { return repaintPending.load(); }
  bool DrawsPictures() const override { return draws; }
  void PostMsg(unsigned msg) override {
    order.push_back(msg);
    if (msg == kMsgRepaint) ++repaints;
    else if (msg == kMsgCaptureEnded) ++ended;
    else if (msg == kMsgCaptureProgress) ++progress;
    else ++other;
  }
  void GetClientSize(int& w, int& h) override { w = clientW, h = clientH; }
  void Invalidate(bool) override {}
};

inline std::string MakeTempDir(const char* tag) {
  std::string pattern = std::string("/tmp/ulmora-") + tag + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const char* dir = mkdtemp(buf.data());
  return dir ? std::string(dir) : std::string();
}

inline void RemoveTree(const std::string& dir) {
  if (dir.empty()) return;
  std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
}

inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// A fresh profile file and capture directory per test; the profile names the directory and turns
// every optional processing step off so that frames pass through the chain unchanged.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = MakeTempDir("sg");
    ASSERT_FALSE(root.empty());
    capDir = root + "/caps/";
    ASSERT_EQ(mkdir(capDir.c_str(), 0755), 0);
    profile = root + "/ulmora.ini";
    ProfileUsePath(profile);
    ProfileSetReadOnly(false);
    ApplyOverrides();
  }
  void ApplyOverrides() {
    ProfileClearOverrides();
    Override("CapWorkDir", capDir.c_str());
    Override("ProcAuto", "0");
    Override("ProcCountAccum", "1");
    Override("ProcTimeDelay", "0");
    Override("ProcNRH", "0");
    Override("ProcNRV", "0");
    Override("ProcAmp", "16");
    Override("ProcBlackLevel", "0");
    Override("ProcGamma", "128");
    Override("ProcFlipV", "0");
  }
  void TearDown() override {
    ProfileClearOverrides();
    ProfileUsePath("");
    RemoveTree(root);
  }
  static void Override(const char* key, const char* value) { ProfileSetOverride(kSectionNocta, key, value); }

  std::string root, capDir, profile;
};

}  // namespace ulmora::test
