// SER files. The frame count in the header is brought up to date every few seconds, so a run that is
// killed leaves a file whose header counts only frames that are wholly there; the file keeps its
// ".part" name until its trailer is written.
#include "ser_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/log.h"
#include "record_file.h"

namespace ulmora {
namespace {

constexpr auto kHeaderRefresh = std::chrono::seconds(2);

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t SerTicks(int64_t utcNs) { return static_cast<uint64_t>(kSerTicksAt1970 + utcNs / 100); }

// The local time of the same moment, in the same ticks (the header carries both).
uint64_t SerLocalTicks(int64_t utcNs) {
  const time_t seconds = static_cast<time_t>(utcNs / 1000000000);
  struct tm local {};
  if (!localtime_r(&seconds, &local)) return SerTicks(utcNs);
  return SerTicks(utcNs + static_cast<int64_t>(local.tm_gmtoff) * 1000000000);
}

// Writes all of `n` bytes at `offset`; 0 or an errno.
int WriteAllAt(int fd, const void* data, size_t n, off_t offset) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const ssize_t done = pwrite(fd, p, n, offset);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (done == 0) return EIO;
    p += done;
    n -= static_cast<size_t>(done);
    offset += done;
  }
  return 0;
}

class CSerSink final : public IRecordSink {
 public:
  explicit CSerSink(const RecordOptions& options) : options_(options) {}
  ~CSerSink() override {
    std::string ignored;
    Close(ignored);  // a sink dropped without Close still leaves a whole file
  }

  int Begin(std::string& error) {
    const int err = CheckFolderWritable(options_.path, error);
    if (err != 0) return err;
    number_ = 0;
    return 0;
  }

  int Write(const RecordPicture& p, std::string& error) override {
    if (fd_ >= 0 && (p.width != width_ || p.height != height_ || p.bitsPerPixel != depth_)) {
      LogPrintf("Recording '%s': the frame size changed from %d x %d to %d x %d; a new file begins", path_.c_str(),
                width_, height_, p.width, p.height);
      if (const int err = Finish(error)) return err;
    }
    if (fd_ < 0) {
      if (const int err = Open(p, error)) return err;
    }
    const size_t rowBytes = static_cast<size_t>(p.width) * (p.bitsPerPixel / 8);
    const size_t bytes = rowBytes * static_cast<size_t>(p.height);
    int err = 0;
    if (p.stride == static_cast<int32_t>(rowBytes)) {
      err = WriteAllAt(fd_, p.bits, bytes, dataEnd_);
    } else {
      for (int32_t y = 0; y < p.height && err == 0; ++y)
        err = WriteAllAt(fd_, p.bits + static_cast<ptrdiff_t>(y) * p.stride, rowBytes,
                         dataEnd_ + static_cast<off_t>(y * rowBytes));
    }
    if (err != 0) {
      error = WriteFailure(PartName(path_), err);
      return err;
    }
    dataEnd_ += static_cast<off_t>(bytes);
    bytes_ += bytes;
    ticks_.push_back(SerTicks(p.stamp.utcNs));
    const auto now = std::chrono::steady_clock::now();
    if (now - headerAt_ >= kHeaderRefresh) {
      if (const int e = WriteCount(error)) return e;
      headerAt_ = now;
    }
    return 0;
  }

  int Close(std::string& error) override { return fd_ >= 0 ? Finish(error) : 0; }

  uint64_t BytesWritten() const override { return bytes_; }
  std::vector<std::string> Files() const override { return files_; }

 private:
  int Open(const RecordPicture& p, std::string& error) {
    path_ = FreeNumberedName(options_.path, number_ + 1, &number_);
    const std::string part = PartName(path_);
    fd_ = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      const int err = errno;
      error = WriteFailure(part, err);
      return err;
    }
    width_ = p.width;
    height_ = p.height;
    depth_ = p.bitsPerPixel;
    ticks_.clear();
    uint8_t h[kSerHeaderBytes] = {};
    std::memcpy(h, "LUCAM-RECORDER", 14);
    PutLe32(h + 14, 0);  // LuID
    PutLe32(h + 18, 0);  // MONO
    // Little-endian 16-bit data is flagged 0: the readers in use took the flag the other way round from
    // its description, and every later program followed them.
    PutLe32(h + 22, 0);
    PutLe32(h + 26, static_cast<uint32_t>(width_));
    PutLe32(h + 30, static_cast<uint32_t>(height_));
    PutLe32(h + 34, static_cast<uint32_t>(depth_));
    PutLe32(h + 38, 0);
    CopyText(h + 42, "");
    CopyText(h + 82, options_.context.deviceName);
    CopyText(h + 122, "Ulmora");
    PutLe64(h + 162, SerLocalTicks(p.stamp.utcNs));
    PutLe64(h + 170, SerTicks(p.stamp.utcNs));
    if (const int err = WriteAllAt(fd_, h, sizeof h, 0)) {
      error = WriteFailure(part, err);
      return err;
    }
    dataEnd_ = kSerHeaderBytes;
    bytes_ += kSerHeaderBytes;
    headerAt_ = std::chrono::steady_clock::now();
    return 0;
  }

  static void CopyText(uint8_t* field, const std::string& text) {
    std::memcpy(field, text.data(), text.size() < 40 ? text.size() : 40);
  }

  int WriteCount(std::string& error) {
    uint8_t n[4];
    PutLe32(n, static_cast<uint32_t>(ticks_.size()));
    const int err = WriteAllAt(fd_, n, sizeof n, kSerFrameCountOffset);
    if (err != 0) error = WriteFailure(PartName(path_), err);
    return err;
  }

  // Trailer, final count, then the file's own name.
  int Finish(std::string& error) {
    std::vector<uint8_t> trailer(ticks_.size() * 8);
    for (size_t i = 0; i < ticks_.size(); ++i) PutLe64(trailer.data() + 8 * i, ticks_[i]);
    int err = WriteAllAt(fd_, trailer.data(), trailer.size(), dataEnd_);
    if (err == 0) err = WriteCount(error);
    if (err == 0 && fsync(fd_) != 0) err = errno;
    if (close(fd_) != 0 && err == 0) err = errno;
    fd_ = -1;
    const std::string part = PartName(path_);
    if (err != 0) {
      if (error.empty()) error = WriteFailure(part, err);
      return err;
    }
    bytes_ += trailer.size();
    if ((err = PublishPart(part, path_)) != 0) {
      error = "cannot name the finished recording '" + path_ + "': " + std::strerror(err);
      return err;
    }
    files_.push_back(path_);
    LogPrintf("Recording '%s' finished: %zu frames of %d x %d, %d bits", path_.c_str(), ticks_.size(), width_, height_,
              depth_);
    return 0;
  }

  RecordOptions options_;
  std::string path_;
  int number_ = 0;
  int fd_ = -1;
  int32_t width_ = 0, height_ = 0, depth_ = 8;
  off_t dataEnd_ = 0;
  uint64_t bytes_ = 0;
  std::vector<uint64_t> ticks_;
  std::vector<std::string> files_;
  std::chrono::steady_clock::time_point headerAt_{};
};

}  // namespace

std::unique_ptr<IRecordSink> MakeSerSink(const RecordOptions& options, std::string& error) {
  auto sink = std::make_unique<CSerSink>(options);
  if (sink->Begin(error) != 0) return nullptr;
  return sink;
}

}  // namespace ulmora
