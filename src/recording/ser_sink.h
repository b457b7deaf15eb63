// SER recordings: one file of grey frames of one size, with a UTC time per frame in its trailer.
#pragma once

#include <memory>
#include <string>

#include "recording/record_sink.h"

namespace ulmora {

// The SER layout's fixed numbers.
constexpr int kSerHeaderBytes = 178;
constexpr int kSerFrameCountOffset = 38;
// SER times count 100 ns from 0001-01-01; this many of them lie before 1970-01-01.
constexpr int64_t kSerTicksAt1970 = 621355968000000000LL;

// A sink writing options.path (or the next free numbered name); a picture of another size or depth ends
// that file whole and starts STEM-N.ser.
std::unique_ptr<IRecordSink> MakeSerSink(const RecordOptions& options, std::string& error);

}  // namespace ulmora
