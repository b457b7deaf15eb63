// Test support: the settings store in a temporary directory for the life of the object.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "settings/profile.h"

namespace ulmora::test {

class TempProfile {
 public:
  TempProfile() {
    char pattern[] = "/tmp/ulmora-devprof-XXXXXX";
    if (mkdtemp(pattern)) dir = pattern;
    ProfileUsePath(dir + "/ulmora.ini");
    ProfileSetReadOnly(false);
  }
  ~TempProfile() {
    ProfileUsePath("");
    unlink((dir + "/ulmora.ini").c_str());
    rmdir(dir.c_str());
  }
  TempProfile(const TempProfile&) = delete;
  TempProfile& operator=(const TempProfile&) = delete;

  std::string dir;
};

}  // namespace ulmora::test
