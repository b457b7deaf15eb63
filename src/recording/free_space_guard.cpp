#include "free_space_guard.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ulmora {
namespace {

constexpr auto kLookEvery = std::chrono::milliseconds(500);

uint64_t Mb(uint64_t bytes) { return bytes >> 20; }

}  // namespace

CFreeSpaceGuard::CFreeSpaceGuard(const std::string& path, uint64_t keepFreeBytes) : keepFree_(keepFreeBytes) {
  const size_t slash = path.find_last_of('/');
  folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int CFreeSpaceGuard::Check(std::string& error) {
  if (keepFree_ == 0) return 0;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return 0;
  next_ = now + kLookEvery;
  struct statvfs fs {};
  if (statvfs(folder_.c_str(), &fs) != 0) {
    const int e = errno;
    error = "cannot read the free space of " + folder_ + ": " + std::strerror(e);
    return e;
  }
  const uint64_t freeBytes = uint64_t{fs.f_bavail} * fs.f_frsize;
  if (freeBytes >= keepFree_) return 0;
  char text[256];
  std::snprintf(text, sizeof text, "only %llu MB left free on the disk of %s, the recording keeps %llu MB free",
                static_cast<unsigned long long>(Mb(freeBytes)), folder_.c_str(),
                static_cast<unsigned long long>(Mb(keepFree_)));
  error = text;
  // Looked at again on every call once reached: a recording that goes on is told at once.
  next_ = now;
  return ENOSPC;
}

}  // namespace ulmora
