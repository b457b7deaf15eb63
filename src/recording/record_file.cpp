// Naming and publishing a recording's files.
#include "record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ulmora {

void SplitExtension(const std::string& path, std::string& stem, std::string& ext) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0 ||
      (slash != std::string::npos && dot == slash + 1)) {
    stem = path;
    ext.clear();
    return;
  }
  stem = path.substr(0, dot);
  ext = path.substr(dot);
}

std::string FreeNumberedName(const std::string& path, int first, int* used) {
  std::string stem, ext;
  SplitExtension(path, stem, ext);
  for (int n = first < 1 ? 1 : first;; ++n) {
    std::string name = n == 1 ? path : stem + "-" + std::to_string(n) + ext;
    struct stat st {};
    // A dangling link counts as taken: it is never followed nor replaced.
    if (lstat(name.c_str(), &st) != 0 && errno == ENOENT && lstat(PartName(name).c_str(), &st) != 0) {
      if (used) *used = n;
      return name;
    }
  }
}

std::string PartName(const std::string& path) { return path + ".part"; }

int PublishPart(const std::string& part, std::string& path) {
  int n = 1;
  std::string target = path;
  for (int tries = 0; tries < 1000; ++tries) {
    // link() never replaces a file that is there, unlike rename().
    if (link(part.c_str(), target.c_str()) == 0) {
      unlink(part.c_str());
      path = target;
      return 0;
    }
    if (errno != EEXIST) {
      // File systems without hard links: a rename is the best left, after checking the name is free.
      if (errno == EPERM || errno == ENOTSUP) {
        struct stat st {};
        if (lstat(target.c_str(), &st) != 0 && rename(part.c_str(), target.c_str()) == 0) {
          path = target;
          return 0;
        }
      }
      return errno != 0 ? errno : EIO;
    }
    target = FreeNumberedName(path, n + 1, &n);
  }
  return EEXIST;
}

std::string WriteFailure(const std::string& path, int err) {
  return "cannot write '" + path + "': " + (err == ENOSPC ? "no space left on the device" : std::strerror(err));
}

int CheckFolderWritable(const std::string& path, std::string& error) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) {
    const int err = errno;
    error = "the folder '" + dir + "' for '" + path + "' does not exist";
    return err;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "'" + dir + "' is not a folder";
    return ENOTDIR;
  }
  // Access bits say nothing for root or on a read-only mount: make a file there.
  std::string probe = dir + "/.ulmora-rec-XXXXXX";
  std::vector<char> name(probe.begin(), probe.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    const int err = errno;
    error = "cannot write into the folder '" + dir + "': " + std::strerror(err);
    return err;
  }
  close(fd);
  unlink(name.data());
  return 0;
}

}  // namespace ulmora
