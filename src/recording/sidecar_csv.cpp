// The sidecar, written through stdio's buffer: a line per picture costs no system call.
#include "sidecar_csv.h"

#include "common/time_text.h"

#include <cerrno>
#include <cinttypes>
#include <ctime>

#include <unistd.h>

#include "record_file.h"

namespace ulmora {

std::string IsoUtcMicros(int64_t utcNs) { return FormatUtcIso(utcNs, 6, true); }

CSidecarCsv::~CSidecarCsv() {
  std::string ignored;
  Close(ignored);
}

int CSidecarCsv::Failed(int err, std::string& error) {
  error = WriteFailure(PartName(path_), err != 0 ? err : EIO);
  return err != 0 ? err : EIO;
}

int CSidecarCsv::Open(const std::string& path, std::string& error) {
  path_ = FreeNumberedName(path, 1, nullptr);
  const std::string part = PartName(path_);
  file_ = std::fopen(part.c_str(), "wx");
  if (!file_) return Failed(errno, error);
  const int n = std::fprintf(file_, "index,utc,buffer_time_s,sequence,dropped_camera,dropped_chain,dropped_writer\n");
  if (n < 0) return Failed(errno, error);
  bytes_ += static_cast<uint64_t>(n);
  return 0;
}

int CSidecarCsv::Add(uint64_t index, const RecordPicture& p, std::string& error) {
  if (!file_) return Failed(EBADF, error);
  const int n = std::fprintf(file_, "%" PRIu64 ",%s,%.6f,%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64 "\n", index,
                             IsoUtcMicros(p.stamp.utcNs).c_str(), p.stamp.bufferTime, p.stamp.sequence,
                             p.dropsBefore.camera, p.dropsBefore.chain, p.dropsBefore.writer);
  if (n < 0) return Failed(errno, error);
  bytes_ += static_cast<uint64_t>(n);
  return 0;
}

int CSidecarCsv::Flush(std::string& error) {
  if (file_ && std::fflush(file_) != 0) return Failed(errno, error);
  return 0;
}

void CSidecarCsv::Discard() {
  if (!file_) return;
  std::fclose(file_);  // its lines are thrown away
  file_ = nullptr;
  unlink(PartName(path_).c_str());
}

int CSidecarCsv::Close(std::string& error) {
  if (!file_) return 0;
  int err = std::fflush(file_) != 0 ? errno : 0;
  if (std::fclose(file_) != 0 && err == 0) err = errno;
  file_ = nullptr;
  if (err != 0) return Failed(err, error);
  if ((err = PublishPart(PartName(path_), path_)) != 0) return Failed(err, error);
  return 0;
}

}  // namespace ulmora
