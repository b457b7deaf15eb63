// The checks every set of recordings passes before any of them starts.
#pragma once

#include <string>
#include <vector>

#include "recording/record_sink.h"

namespace ulmora {

// 0, or an errno with `error` a sentence for a person: a name without a known format, a sum asked of a
// format without 16 bits, a folder that is missing or cannot be written, one file named twice.
int CheckRecordOptions(const std::vector<RecordOptions>& recordings, std::string& error);

const char* RecordWhatName(RecordWhat what);  // "processed", "raw", "sum"
bool ParseRecordWhat(const std::string& text, RecordWhat& what);

}  // namespace ulmora
