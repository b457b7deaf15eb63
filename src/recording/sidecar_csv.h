// The sidecar of a recording: one line per recorded picture with its times, camera sequence number and
// the frames lost before it, by cause.
#pragma once

#include <cstdio>
#include <string>

#include "recording/record_sink.h"

namespace ulmora {

// "2024-03-01T21:04:05.123456Z"
std::string IsoUtcMicros(int64_t utcNs);

class CSidecarCsv {
 public:
  CSidecarCsv() = default;
  ~CSidecarCsv();
  CSidecarCsv(const CSidecarCsv&) = delete;
  CSidecarCsv& operator=(const CSidecarCsv&) = delete;

  // Opens PATH.part for `path`, writes the column line; 0 or an errno with `error`.
  int Open(const std::string& path, std::string& error);
  int Add(uint64_t index, const RecordPicture& picture, std::string& error);
  // Flushes the lines so far (a killed run keeps them).
  int Flush(std::string& error);
  // Flushes, closes and gives the file its name (the next free numbered one when taken).
  int Close(std::string& error);
  // Closes and removes the unfinished file.
  void Discard();
  const std::string& Path() const { return path_; }
  uint64_t BytesWritten() const { return bytes_; }

 private:
  int Failed(int err, std::string& error);

  std::string path_;
  FILE* file_ = nullptr;
  uint64_t bytes_ = 0;
};

}  // namespace ulmora
