#include "bmp_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/log.h"
#include "common/paths.h"
#include "common/safe_snprintf.h"

namespace ulmora {
namespace {

// Named temporaries (file systems without unnamed files): ".ulmora-<pid>-<n>.part" in the folder.
constexpr char kTempPrefix[] = ".ulmora-";
constexpr char kTempSuffix[] = ".part";
constexpr int kMaxNameSuffix = 9999;

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

// The folder of path (with its '/') and the name behind it.
struct Split {
  char dir[kMaxPath + 2] = ".";
  const char* name = nullptr;
};

bool SplitPath(const char* path, Split& s) {
  const char* slash = strrchr(path, '/');
  s.name = slash ? slash + 1 : path;
  if (!*s.name) return false;
  if (slash) {
    size_t n = static_cast<size_t>(slash - path) + 1;
    if (n >= sizeof s.dir) return false;
    memcpy(s.dir, path, n);
    s.dir[n] = '\0';
  }
  return true;
}

// A file being written: unnamed (O_TMPFILE) or under a temporary name.
struct TempFile {
  int fd = -1;
  char name[64] = {};  // empty for an unnamed file
};

int OpenTemp(int dirFd, TempFile& t) {
  t.fd = openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (t.fd >= 0) return 0;
  // EISDIR/EOPNOTSUPP/EINVAL: the kernel or file system has no unnamed files.
  if (errno != EISDIR && errno != EOPNOTSUPP && errno != EINVAL) return errno;
  static std::atomic<uint32_t> counter{0};
  __SafeSnprintf(t.name, sizeof t.name, "%s%ld-%u%s", kTempPrefix, static_cast<long>(getpid()),
                 counter.fetch_add(1), kTempSuffix);
  t.fd = openat(dirFd, t.name, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (t.fd < 0) {
    t.name[0] = '\0';
    return errno;
  }
  return 0;
}

// Gives the written file its name; EEXIST when the name is taken (nothing is replaced, no link followed).
int Publish(int dirFd, TempFile& t, const char* name) {
  if (!t.name[0]) {
    char self[40];
    __SafeSnprintf(self, sizeof self, "/proc/self/fd/%d", t.fd);
    return linkat(AT_FDCWD, self, dirFd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
  }
  if (renameat2(dirFd, t.name, dirFd, name, RENAME_NOREPLACE) == 0) {
    t.name[0] = '\0';
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // No exclusive rename here: a hard link never replaces either; the temporary goes afterwards.
  if (linkat(dirFd, t.name, dirFd, name, 0) != 0) return errno;
  unlinkat(dirFd, t.name, 0);
  t.name[0] = '\0';
  return 0;
}

// "name.bmp" numbered n: "name-n.bmp" (the number before the last dot, at the end without one).
bool NumberedName(const char* name, int n, char* out, size_t outSize) {
  const char* dot = strrchr(name, '.');
  const size_t stem = dot && dot != name ? static_cast<size_t>(dot - name) : strlen(name);
  int w = __SafeSnprintf(out, outSize, "%.*s-%d%s", static_cast<int>(stem), name, n, name + stem);
  return w > 0 && static_cast<size_t>(w) < outSize - 1;
}

void LogCreateFailed(const char* path, int err) {
  LogPrintf("Can`t create capture bmp file...");
  LogPrintf("  %s: %s", path, strerror(err));
}

}  // namespace

BmpWriteOutcome WriteCaptureBmp(char* path, size_t pathSize, const BitmapFileHeader& fileHeader,
                                const BitmapInfoHeader& info, const uint8_t* bits, uint32_t size,
                                uint64_t keepFreeBytes) {
  BmpWriteOutcome out;
  Split where;
  if (!path || !SplitPath(path, where)) {
    out.error = EINVAL;
    LogCreateFailed(path ? path : "", out.error);
    return out;
  }
  const int dirFd = open(where.dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    out.error = errno;
    LogCreateFailed(path, out.error);
    return out;
  }
  const uint64_t fileBytes = uint64_t{sizeof fileHeader} + sizeof info + size;
  struct statvfs fs {};
  if (keepFreeBytes > 0 && fstatvfs(dirFd, &fs) == 0 &&
      uint64_t{fs.f_bavail} * fs.f_frsize < fileBytes + keepFreeBytes) {
    close(dirFd);
    out.result = BmpWriteResult::kNoRoom;
    out.error = ENOSPC;
    LogPrintf("Capture stopped: %s would leave less than %llu KiB free", where.dir,
              static_cast<unsigned long long>(keepFreeBytes / 1024));
    return out;
  }

  TempFile temp;
  if (int err = OpenTemp(dirFd, temp)) {
    close(dirFd);
    out.error = err;
    LogCreateFailed(path, err);
    return out;
  }
  int err = size > 0 && !bits ? EINVAL : 0;
  bool ok = err == 0 && WriteAll(temp.fd, &fileHeader, sizeof fileHeader, err) == sizeof fileHeader &&
            WriteAll(temp.fd, &info, sizeof info, err) == sizeof info &&
            (size == 0 || WriteAll(temp.fd, bits, size, err) == size);
  // Publish before closing: an unnamed file exists only while it is open.
  if (ok) {
    char name[kMaxPath + 1];
    memcpy(name, where.name, strnlen(where.name, kMaxPath) + 1);
    err = Publish(dirFd, temp, name);
    for (int n = 2; err == EEXIST && n <= kMaxNameSuffix; ++n) {
      if (!NumberedName(where.name, n, name, sizeof name)) break;
      const size_t dirLen = static_cast<size_t>(where.name - path);
      if (dirLen + strlen(name) + 1 > pathSize) break;
      err = Publish(dirFd, temp, name);
      if (err == 0) {
        LogPrintf("Capture name %s is taken: written as %s", path, name);
        memcpy(path + dirLen, name, strlen(name) + 1);
        out.renamed = true;
      }
    }
    ok = err == 0;
  }
  // close can report a deferred write error (network file systems): the file is incomplete then.
  if (close(temp.fd) != 0 && ok) {
    err = errno;
    ok = false;
    unlinkat(dirFd, path + (where.name - path), 0);
  }
  if (temp.name[0]) unlinkat(dirFd, temp.name, 0);
  close(dirFd);
  if (!ok) {
    out.result = BmpWriteResult::kWriteFailed;
    out.error = err ? err : EIO;
    LogPrintf("Can`t write capture bmp file...");
    LogPrintf("  %s: %s", path, strerror(out.error));
    return out;
  }
  out.result = BmpWriteResult::kWritten;
  return out;
}

int RemoveStaleCaptureTemps(const char* dir) {
  DIR* d = opendir(dir && *dir ? dir : ".");
  if (!d) return 0;
  int removed = 0;
  while (dirent* e = readdir(d)) {
    long pid = 0;
    int used = 0;
    const size_t len = strlen(e->d_name);
    if (strncmp(e->d_name, kTempPrefix, sizeof kTempPrefix - 1) != 0 || len < sizeof kTempSuffix ||
        strcmp(e->d_name + len - (sizeof kTempSuffix - 1), kTempSuffix) != 0)
      continue;
    if (sscanf(e->d_name + sizeof kTempPrefix - 1, "%ld-%*u%n", &pid, &used) < 1 || used == 0) continue;
    // A live process (this one or another run in the same folder) is still writing it.
    if (pid <= 0 || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    if (unlinkat(dirfd(d), e->d_name, 0) == 0) {
      ++removed;
      LogPrintf("Removed %s%s, left by an interrupted run", dir ? dir : "", e->d_name);
    }
  }
  closedir(d);
  return removed;
}

}  // namespace ulmora
