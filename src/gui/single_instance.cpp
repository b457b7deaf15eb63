#include "gui/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ulmora {

std::string RuntimeDirectory() {
  struct stat st {};
  if (const char* d = std::getenv("XDG_RUNTIME_DIR"); d && *d && stat(d, &st) == 0 && S_ISDIR(st.st_mode))
    return d;
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/ulmora-" + std::to_string(getuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "/tmp";
  return dir;
}

CSingleInstance::~CSingleInstance() { Release(); }

CSingleInstance::Result CSingleInstance::Acquire(const std::string& directory) {
  Release();
  const std::string path = directory + "/" + kInstanceLockName;
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error_ = path + ": " + std::strerror(errno);
    return Result::kUnavailable;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd_);
    fd_ = -1;
    if (err == EWOULDBLOCK) return Result::kHeldElsewhere;
    error_ = path + ": " + std::strerror(err);
    return Result::kUnavailable;
  }
  // The holder's process id, for a person looking at the file.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd_, 0) == 0 && write(fd_, pid.data(), pid.size()) < 0) {
    // Only informative; the lock itself is what counts.
  }
  return Result::kAcquired;
}

void CSingleInstance::Release() {
  if (fd_ >= 0) close(fd_);  // closing drops the lock; the file stays for the next run
  fd_ = -1;
}

}  // namespace ulmora
