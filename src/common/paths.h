// Path and directory helpers.
#pragma once

#include <cstddef>

namespace ulmora {

constexpr size_t kMaxPath = 260;

// Directory of the running executable, ending in '/'; null when it cannot be found.
char* GetProgramDirectory(char* buffer, size_t size);

// True when path names an existing directory. With out, its full path (or the given text when that
// cannot be resolved) is copied there; on failure out is emptied.
bool IsDirectory(char* out, const char* path, size_t outSize);

// The file name without directory and extension: where it starts, and its length.
size_t FileTitleOffset(const char* path);
size_t FileTitleLength(const char* path);

// $TMPDIR or /tmp/, ending in '/'; returns the length written.
size_t GetTempDirectory(char* buffer, size_t size);

}  // namespace ulmora
