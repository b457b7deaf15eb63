#include "paths.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ulmora {
namespace {

void CopyCut(char* out, const char* text, size_t size) {
  if (!out || size == 0) return;
  size_t n = strnlen(text, size - 1);
  memcpy(out, text, n);
  out[n] = '\0';
}

}  // namespace

char* GetProgramDirectory(char* buffer, size_t size) {
  if (!buffer || size == 0) return nullptr;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return nullptr;
  exe[n] = '\0';
  char* slash = strrchr(exe, '/');
  if (!slash) return nullptr;
  size_t len = static_cast<size_t>(slash - exe) + 1;
  if (len + 1 > size) return nullptr;
  memcpy(buffer, exe, len);
  buffer[len] = '\0';
  return buffer;
}

// stat and realpath instead of changing into the directory: the current directory is process-wide
// and the streaming thread may be running.
bool IsDirectory(char* out, const char* path, size_t outSize) {
  struct stat st {};
  if (!path || !*path || stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (out && outSize) out[0] = '\0';
    return false;
  }
  if (out && outSize) {
    char full[PATH_MAX];
    CopyCut(out, realpath(path, full) ? full : path, outSize);
  }
  return true;
}

size_t FileTitleOffset(const char* path) {
  if (!path) return 0;
  const char* slash = strrchr(path, '/');
  return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

size_t FileTitleLength(const char* path) {
  if (!path) return 0;
  const char* title = path + FileTitleOffset(path);
  const char* dot = strrchr(title, '.');
  return dot ? static_cast<size_t>(dot - title) : strlen(title);
}

size_t GetTempDirectory(char* buffer, size_t size) {
  if (!buffer || size < 2) return 0;
  const char* tmp = getenv("TMPDIR");
  if (!tmp || !*tmp || strlen(tmp) + 2 > size) tmp = "/tmp/";
  CopyCut(buffer, tmp, size);
  size_t n = strlen(buffer);
  if (buffer[n - 1] != '/' && n + 1 < size) {
    buffer[n++] = '/';
    buffer[n] = '\0';
  }
  return n;
}

}  // namespace ulmora
