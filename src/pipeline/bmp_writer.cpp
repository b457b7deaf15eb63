#include "bmp_writer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/log.h"

namespace ulmora {
namespace {

// Bytes written before the first failure; a regular file only writes short when it is out of room.
size_t WriteAll(int fd, const void* data, size_t size, int& err) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, p + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    err = n < 0 ? errno : ENOSPC;
    break;
  }
  return done;
}

}  // namespace

BmpWriteResult WriteCaptureBmp(const char* path, const BitmapFileHeader& fileHeader, const BitmapInfoHeader& info,
                               const uint8_t* bits, uint32_t size) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    int err = errno;
    LogPrintf("Can`t create capture bmp file...");
    LogPrintf("  %s: %s", path, strerror(err));
    return BmpWriteResult::kCreateFailed;
  }
  int err = 0;
  bool failed = false, remove = false;
  size_t n = WriteAll(fd, &fileHeader, sizeof fileHeader, err);
  if (n < sizeof fileHeader) {
    failed = true;
    remove = n > 0;
  } else if (WriteAll(fd, &info, sizeof info, err) < sizeof info) {
    failed = remove = true;
  } else if (size > 0 && (!bits || WriteAll(fd, bits, size, err) < size)) {
    failed = remove = true;
  }
  // close can report a deferred write error (network file systems): that file is incomplete too.
  if (close(fd) != 0 && !failed) {
    err = errno;
    failed = remove = true;
  }
  if (failed) {
    LogPrintf("Can`t write capture bmp file...");
    LogPrintf("  %s: %s", path, strerror(err ? err : EIO));
    if (remove && unlink(path) != 0) LogPrintf("  %s could not be removed: %s", path, strerror(errno));
    return BmpWriteResult::kWriteFailed;
  }
  return BmpWriteResult::kWritten;
}

}  // namespace ulmora
