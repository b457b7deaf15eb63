// The disk guard of a recording: it stops before the file system under it runs full, so the files
// written so far stay whole and the rest of the system keeps room to work.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace ulmora {

class CFreeSpaceGuard {
 public:
  // keepFreeBytes 0: no guard.
  CFreeSpaceGuard(const std::string& path, uint64_t keepFreeBytes);
  // 0 while the folder's file system has keepFreeBytes free; ENOSPC (or the errno of a failed look)
  // with `error` saying why. Looks at most twice a second; between looks the last answer holds.
  int Check(std::string& error);

 private:
  std::string folder_;
  uint64_t keepFree_;
  std::chrono::steady_clock::time_point next_{};
};

}  // namespace ulmora
