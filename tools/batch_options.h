// ulmora-batch's command line: options, and the checks of --set values against the settings index.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "recording/record_sink.h"
#include "batch_schedule.h"

namespace ulmora::batch {

struct Options {
  std::string profile, outDir, tmpl, device, input;
  std::vector<std::pair<std::string, std::string>> sets;
  unsigned long count = 0, delay = 0;
  double seconds = 0.0;
  uint64_t keepFreeBytes = 0;  // --keep-free, in bytes
  bool haveCount = false, haveDelay = false, haveSeconds = false;
  std::vector<RecordOptions> records;  // --record, each with its --record-what
  bool realtime = false, noCapture = false, quiet = false, listDevices = false, latency = false;
  // Unattended stations.
  bool waitDevice = false;
  double waitDeviceSeconds = 0.0;  // 0: without limit
  std::string statusFile;
  SchedulePlan schedule;  // --start-at/--stop-at or --night
};

// 0: run; otherwise the exit status (help printed, or a message on stderr).
int ParseOptions(int argc, char** argv, Options& out, bool& exitNow);
void Usage(FILE* out);

// A --set value for key: empty when it fits the key's encoding, else why not ("not a number", ...).
std::string CheckSetValue(const char* key, const std::string& value);

}  // namespace ulmora::batch
