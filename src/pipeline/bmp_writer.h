// One capture file: 54 bytes of headers followed by the pixel rows as they lie in memory, written so
// that a file under a capture name is always whole.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/dib_frame.h"

namespace ulmora {

enum class BmpWriteResult {
  kWritten,       // the whole file is on disk under its final name
  kCreateFailed,  // no file could be made in the folder (gone, not writable, out of names...)
  kWriteFailed,   // a write or the close failed; nothing was left behind
  kNoRoom,        // the folder's file system would keep less free space than asked; nothing written
};

struct BmpWriteOutcome {
  BmpWriteResult result = BmpWriteResult::kCreateFailed;
  int error = 0;         // errno of the failure (ENOSPC for kNoRoom)
  bool renamed = false;  // the name was taken: path now holds the numbered name used instead
};

// Writes the file under a temporary name in path's folder (an unnamed file where the file system has
// them), checks every write and the close, then gives it path as its name. The name is never a link
// that gets followed and never replaces an existing entry: a taken "name.bmp" becomes "name-2.bmp",
// "name-3.bmp"... (written back into path, which holds pathSize bytes). keepFreeBytes: the space the
// file system must still have after the file. Logs the create and write messages.
BmpWriteOutcome WriteCaptureBmp(char* path, size_t pathSize, const BitmapFileHeader& fileHeader,
                                const BitmapInfoHeader& info, const uint8_t* bits, uint32_t size,
                                uint64_t keepFreeBytes = 0);

// Removes what a killed run left in dir: named temporaries of processes that are gone. Returns how many.
int RemoveStaleCaptureTemps(const char* dir);

}  // namespace ulmora
