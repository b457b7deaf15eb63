// One capture file: 54 bytes of headers followed by the pixel rows as they lie in memory.
#pragma once

#include <cstdint>

#include "frames/dib_frame.h"

namespace ulmora {

enum class BmpWriteResult {
  kWritten,       // the whole file is on disk
  kCreateFailed,  // the file could not be opened; nothing was written
  kWriteFailed,   // a write came up short; a partial file has been removed
};

// Creates (or replaces) path and writes the file header, the info header and size bytes of bits, one
// write each. A short write ends the file; a file holding part of it is deleted (one that stayed empty
// because its first write failed is kept). Logs the create and write messages.
BmpWriteResult WriteCaptureBmp(const char* path, const BitmapFileHeader& fileHeader, const BitmapInfoHeader& info,
                               const uint8_t* bits, uint32_t size);

}  // namespace ulmora
