// Internal to the session: the recordings of one StartRecording.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "recording/record_writer.h"

namespace ulmora {

// Never changed while the frame path may hold it.
struct RecordingSet {
  std::vector<std::unique_ptr<CRecordWriter>> writers;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  bool anyRaw = false, anyPicture = false;
};

}  // namespace ulmora
