// Lossless grey video: FFV1 in Matroska, one file or segments of a set length, through GStreamer.
#pragma once

#include <memory>
#include <string>

#include "recording/record_sink.h"

namespace ulmora {

// The sink of a ".mkv" recording, or null with `error` set (encoder not installed, folder missing or
// not writable, first file already there).
std::unique_ptr<IRecordSink> MakeMkvSink(const RecordOptions& options, std::string& error);

// The file a recording at `path` writes for segment `index`: PATH itself without segments, else
// STEM-00000.mkv, STEM-00001.mkv...
std::string MkvSegmentPath(const std::string& path, bool segmented, unsigned index);

}  // namespace ulmora
