// What a benchmark needs around a session or processor: windows that take posts, a profile of its own.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/window.h"
#include "settings/profile.h"

namespace ulmora {

// Posts go nowhere: the cost of the call stays in. A busy window always has a repaint pending, so the
// frame path hands it no picture (the callback's cost before pictures were handed over); one that does
// not draw gets none either, as in ulmora-batch.
struct NullWindow : IWindow {
  bool busy = false;
  bool draws = true;
  bool RepaintPending() const override { return busy; }
  bool DrawsPictures() const override { return draws; }
  void PostMsg(unsigned) override {}
  void GetClientSize(int& w, int& h) override { w = h = 0; }
  void Invalidate(bool) override {}
};

// The profile of a bench run is a throw-away file, never the user's; nothing writes it.
struct BenchProfile {
  std::string path;
  BenchProfile() {
    char pattern[] = "/tmp/ulmora-bench-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path = pattern;
    ProfileUsePath(path);
    ProfileSetReadOnly(true);
  }
  ~BenchProfile() {
    ProfileSetReadOnly(false);
    ProfileUsePath("");
    unlink(path.c_str());
  }
  BenchProfile(const BenchProfile&) = delete;
  BenchProfile& operator=(const BenchProfile&) = delete;
};

// A session's surroundings; its capture directory is never written (capture is off).
struct SessionSetup {
  BenchProfile profile;
  NullWindow main, proc, live;
};

}  // namespace ulmora
