// FITS recordings: one file per picture, STEM-000001.fits, STEM-000002.fits, ... beside the path asked.
#pragma once

#include <memory>
#include <string>

#include "recording/record_sink.h"

namespace ulmora {

std::unique_ptr<IRecordSink> MakeFitsSink(const RecordOptions& options, std::string& error);

// "2024-01-02T03:04:05.123" (UTC, milliseconds), as DATE-OBS takes it.
std::string FitsDate(int64_t utcNs);

}  // namespace ulmora
