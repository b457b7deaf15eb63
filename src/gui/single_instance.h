// One running program per user: an advisory lock on a file in the runtime directory. The kernel drops
// the lock when the holder ends, however it ends, so a file left by a crashed run is simply taken over.
#pragma once

#include <string>

namespace ulmora {

inline constexpr const char* kInstanceLockName = "ZERAN Teskor";

// $XDG_RUNTIME_DIR when it is a directory, else a private directory under the temporary one.
std::string RuntimeDirectory();

class CSingleInstance {
 public:
  CSingleInstance() = default;
  ~CSingleInstance();
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // True when this process now holds the lock; false when another one does (or the lock file cannot be
  // made: then the run goes on, see why).
  enum class Result { kAcquired, kHeldElsewhere, kUnavailable };
  Result Acquire(const std::string& directory);
  void Release();
  const std::string& Error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace ulmora
