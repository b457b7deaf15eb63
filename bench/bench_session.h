// What a benchmark session needs around it: windows that take posts and a profile of its own.
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

// The session reads a throw-away profile; its capture directory is never written (capture is off).
struct SessionSetup {
  std::string profile;
  NullWindow main, proc, live;
  SessionSetup() {
    char pattern[] = "/tmp/ulmora-bench-sg-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    profile = pattern;
    ProfileUsePath(profile);
    ProfileSetReadOnly(true);
  }
  ~SessionSetup() {
    ProfileSetReadOnly(false);
    ProfileUsePath("");
    unlink(profile.c_str());
  }
  SessionSetup(const SessionSetup&) = delete;
  SessionSetup& operator=(const SessionSetup&) = delete;
};

}  // namespace ulmora
