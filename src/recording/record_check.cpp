#include "record_check.h"

#include <climits>
#include <cstdlib>

#include "record_file.h"

namespace ulmora {
namespace {

// Two names for one file: the same folder (by its real path) and the same last part.
std::string FileIdentity(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  char real[PATH_MAX];
  return (realpath(dir.c_str(), real) ? std::string(real) : dir) + "/" + base;
}

}  // namespace

const char* RecordWhatName(RecordWhat what) {
  switch (what) {
    case RecordWhat::kProcessed: return "processed";
    case RecordWhat::kRaw: return "raw";
    case RecordWhat::kSum: return "sum";
  }
  return "?";
}

bool ParseRecordWhat(const std::string& text, RecordWhat& what) {
  for (RecordWhat w : {RecordWhat::kProcessed, RecordWhat::kRaw, RecordWhat::kSum}) {
    if (text == RecordWhatName(w)) {
      what = w;
      return true;
    }
  }
  return false;
}

int CheckRecordOptions(const std::vector<RecordOptions>& recordings, std::string& error) {
  std::vector<std::string> seen;
  for (const RecordOptions& r : recordings) {
    const RecordFormat* format = FindRecordFormat(r.path);
    if (r.path.empty() || r.path.back() == '/' || !format) {
      error = "'" + r.path + "' names no recording format (known: " + KnownRecordExtensions() + ").";
      return EINVAL;
    }
    if (r.what == RecordWhat::kSum && !format->holds16Bits) {
      error = "'" + r.path + "' cannot hold the 16-bit sum; record the sum as .ser or .fits.";
      return EINVAL;
    }
    std::string why;
    if (const int err = CheckFolderWritable(r.path, why)) {
      error = why + ".";
      error[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(error[0])));
      return err;
    }
    const std::string id = FileIdentity(r.path);
    for (const std::string& other : seen) {
      if (other == id) {
        error = "'" + r.path + "' is named by two recordings.";
        return EINVAL;
      }
    }
    seen.push_back(id);
  }
  return 0;
}

}  // namespace ulmora
