// FITS files through cfitsio. Each picture is written whole under a temporary name and then given its
// own; 16-bit sums are stored as unsigned (BITPIX 16 with BZERO 32768, which cfitsio sets up).
#include "fits_sink.h"

#include <fitsio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/time_text.h"
#include "record_file.h"

namespace ulmora {

std::string FitsDate(int64_t utcNs) { return FormatUtcIso(utcNs, 3, false); }

namespace {

class CFitsSink final : public IRecordSink {
 public:
  explicit CFitsSink(const RecordOptions& options) : options_(options) { SplitExtension(options.path, stem_, ext_); }

  int Write(const RecordPicture& p, std::string& error) override {
    char number[16];
    std::snprintf(number, sizeof number, "-%06llu", static_cast<unsigned long long>(++index_));
    std::string path = FreeNumberedName(stem_ + number + ext_, 1, nullptr);
    const std::string part = PartName(path);
    errno = 0;
    int status = 0;
    fitsfile* f = nullptr;
    // A disk file by its plain name: cfitsio's own file-name syntax ("[...]", "!") does not apply.
    fits_create_diskfile(&f, part.c_str(), &status);
    if (status == 0) WriteImage(f, p, status);
    const int savedErrno = errno;
    int closeStatus = 0;
    if (f) fits_close_file(f, &closeStatus);
    if (status == 0) status = closeStatus;
    if (status != 0) {
      const int err = savedErrno != 0 ? savedErrno : (errno != 0 ? errno : EIO);
      char text[FLEN_STATUS] = {};
      fits_get_errstatus(status, text);
      error = WriteFailure(part, err) + " (" + text + ")";
      std::remove(part.c_str());
      return err;
    }
    struct stat st {};
    if (stat(part.c_str(), &st) == 0) bytes_ += static_cast<uint64_t>(st.st_size);
    if (const int err = PublishPart(part, path)) {
      error = "cannot name the finished picture '" + path + "': " + std::strerror(err);
      return err;
    }
    files_.push_back(path);
    return 0;
  }

  int Close(std::string&) override { return 0; }  // every file is finished when it is written
  uint64_t BytesWritten() const override { return bytes_; }
  std::vector<std::string> Files() const override { return files_; }

 private:
  void WriteImage(fitsfile* f, const RecordPicture& p, int& status) {
    long axes[2] = {p.width, p.height};
    const bool wide = p.bitsPerPixel == 16;
    fits_create_img(f, wide ? USHORT_IMG : BYTE_IMG, 2, axes, &status);
    const std::string date = FitsDate(p.stamp.utcNs);
    fits_update_key_str(f, "DATE-OBS", date.c_str(), "UTC start of the first frame", &status);
    fits_update_key_str(f, "TIMESYS", "UTC", "time scale of DATE-OBS", &status);
    double exposure = p.stamp.exposureS;
    fits_update_key_dbl(f, "EXPTIME", exposure, 6, "[s] total exposure of the frames in the picture", &status);
    long frames = static_cast<long>(p.stamp.nFrames);
    fits_update_key_lng(f, "NFRAMES", frames, "frames summed into the picture", &status);
    fits_update_key_str(f, "ROWORDER", "TOP-DOWN", "first row stored is the top of the picture", &status);
    fits_update_key_str(f, "INSTRUME", options_.context.deviceName.c_str(), "device or file recorded", &status);
    const char* what = options_.what == RecordWhat::kRaw   ? "raw"
                       : options_.what == RecordWhat::kSum ? "sum"
                                                           : "processed";
    fits_update_key_str(f, "ULRECORD", what, "raw frame, unscaled sum or processed picture", &status);
    long amp = p.settings.amplification, black = p.settings.blackLevel, gamma = p.settings.gamma;
    fits_update_key_lng(f, "ULAMP", amp, "amplification (16 = x1)", &status);
    fits_update_key_lng(f, "ULBLACK", black, "black level added", &status);
    fits_update_key_lng(f, "ULGAMMA", gamma, "gamma setting (128 = linear)", &status);
    int ridgeH = p.settings.ridgeH ? 1 : 0, ridgeV = p.settings.ridgeV ? 1 : 0;
    fits_update_key_log(f, "ULBANDH", ridgeH, "horizontal banding removal on", &status);
    fits_update_key_log(f, "ULBANDV", ridgeV, "vertical banding removal on", &status);
    double bufferTime = p.stamp.bufferTime;
    fits_update_key_dbl(f, "ULBUFTIM", bufferTime, 9, "[s] stream time of the first frame", &status);
    LONGLONG sequence = static_cast<LONGLONG>(p.stamp.sequence);
    fits_update_key_lng(f, "ULSEQ", sequence, "camera sequence number of the first frame", &status);
    if (status != 0) return;
    const int32_t rowBytes = p.width * (wide ? 2 : 1);
    const int type = wide ? TUSHORT : TBYTE;
    if (p.stride == rowBytes) {
      // Packed, as the writer hands pictures over: one call, so cfitsio converts in large blocks.
      fits_write_img(f, type, 1, static_cast<LONGLONG>(p.width) * p.height, const_cast<uint8_t*>(p.bits), &status);
      return;
    }
    for (int32_t y = 0; y < p.height && status == 0; ++y) {
      const uint8_t* row = p.bits + static_cast<ptrdiff_t>(y) * p.stride;
      fits_write_img(f, type, static_cast<LONGLONG>(y) * p.width + 1, p.width, const_cast<uint8_t*>(row), &status);
    }
  }

  RecordOptions options_;
  std::string stem_, ext_;
  uint64_t index_ = 0;
  uint64_t bytes_ = 0;
  std::vector<std::string> files_;
};

}  // namespace

std::unique_ptr<IRecordSink> MakeFitsSink(const RecordOptions& options, std::string& error) {
  if (CheckFolderWritable(options.path, error) != 0) return nullptr;
  return std::make_unique<CFitsSink>(options);
}

}  // namespace ulmora
