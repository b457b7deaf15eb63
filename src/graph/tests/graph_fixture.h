// Test support for the graph: a private profile and work directory, the log routed into a file,
// clips made by the sample generator, and a recorder that sits in front of the session's callback.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "common/tests/log_capture.h"
#include "graph/cap_graph.h"
#include "graph/graph_report.h"
#include "gst/gst_sync.h"
#include "settings/profile.h"

namespace ulmora::test {

inline std::string MakeDir(const char* tag) {
  std::string pattern = std::string("/tmp/ulmora-") + tag + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const char* dir = mkdtemp(buf.data());
  return dir ? std::string(dir) : std::string();
}

inline void RemoveDir(const std::string& dir) {
  if (dir.size() < 12 || dir.rfind("/tmp/ulmora-", 0) != 0) return;
  const std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

// Runs the sample generator; returns the clip's path, empty on failure.
inline std::string MakeClip(const std::string& dir, const std::string& name, const std::string& options) {
  const std::string path = dir + "/" + name;
  // The generator is a tool here, not the code under test: its libraries' leaks are not ours to report.
  const std::string cmd =
      "ASAN_OPTIONS=detect_leaks=0 " + std::string(ULMORA_SAMPLE_EXE) + " -q -o '" + path + "' " + options;
  if (std::system(cmd.c_str()) != 0) return {};
  return path;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline std::string ReadFile(const std::string& path) {
  std::string s;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return s;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

// A window that counts what it is sent; the processor needs one to post its control changes to.
struct CountingWindow : IWindow {
  std::atomic<int> posted{0}, graphNotify{0};
  void PostMsg(unsigned msg) override {
    ++posted;
    if (msg == kMsgGraphNotify) ++graphNotify;
  }
  void GetClientSize(int& w, int& h) override { w = h = 0; }
  void Invalidate(bool) override {}
};

// Records boxes and status texts the graph shows.
struct RecordingUi : IGraphUi {
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::pair<int, std::string>> status;
  void ShowBox(const char* text, const char* caption) override { boxes.emplace_back(text, caption); }
  void SetStatus(int field, const char* text) override { status.emplace_back(field, text); }
};

// Sits in front of the session's callback: records every stream time, then hands the sample on.
struct SampleRecorder {
  CSG* session = nullptr;
  std::mutex lock;
  std::vector<double> times;
  std::atomic<int> calls{0};

  static int Thunk(void* self, double t, const Sample* s) {
    auto* r = static_cast<SampleRecorder*>(self);
    {
      std::lock_guard<std::mutex> g(r->lock);
      r->times.push_back(t);
    }
    ++r->calls;
    return r->session->SampleCB(t, s);
  }
  // Also gives the processor the windows it posts its control changes to, as the main window would.
  void Attach(CCapGraph& g) {
    session = &g.Session();
    session->Processor().SetWindows(&window, &window);
    g.Grabber()->SetCallback(&Thunk, this);
  }
  CountingWindow window;
  void Clear() {
    std::lock_guard<std::mutex> g(lock);
    times.clear();
    calls = 0;
  }
  std::vector<double> Times() {
    std::lock_guard<std::mutex> g(lock);
    return times;
  }
};

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeDir("graph");
    ASSERT_FALSE(dir.empty());
    ProfileUsePath(dir + "/profile.ini");
    ProfileClearOverrides();
    // The capture directory must exist, or the session falls back to the temporary directory.
    ProfileSetOverride(kSectionNocta, "CapWorkDir", dir.c_str());
    SetGraphUi(&ui);
  }
  void TearDown() override {
    SetGraphUi(nullptr);
    ProfileClearOverrides();
    ProfileUsePath("");
    RemoveDir(dir);
  }
  // Waits (bounded) until the end of the stream.
  static bool PlayToEnd(CCapGraph& g, uint32_t timeoutMs = 20000) {
    return g.WaitGraphEvent(timeoutMs) == GraphEvent::kEndOfStream;
  }

  std::string dir;
  LogCapture log;
  RecordingUi ui;
};

}  // namespace ulmora::test
