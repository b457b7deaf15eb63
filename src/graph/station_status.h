// The status of an unattended station as a small JSON document that scripts and monitoring read instead
// of the logs, rewritten whole (a temporary beside it, then a rename) so a reader never sees half of one.
#pragma once

#include <cstdint>
#include <string>

namespace ulmora {

enum class StationState { kWaiting, kRecording, kReconnecting, kStalled, kScheduledOff };
const char* StationStateName(StationState state);  // "waiting", "recording", ...

// What the session counts; filled in one place (CStationCounterReader, graph/station_counters.h).
struct StationCounters {
  uint64_t framesIn = 0;         // frames the source sent into the graph
  uint64_t picturesWritten = 0;  // capture files written
  uint64_t droppedCamera = 0;    // frames the camera or driver skipped (sequence gaps)
  uint64_t droppedChain = 0;     // frames lost inside the chain
  uint64_t droppedWriter = 0;    // pictures the writer could not keep
  int64_t lastFrameUtcMs = -1;   // Unix milliseconds of the last frame; -1: none yet
};

struct StationStatus {
  StationState state = StationState::kWaiting;
  std::string deviceId, deviceName, captureDir;
  StationCounters counters;
  double secondsSinceStart = 0.0;
  uint32_t gaps = 0, stalls = 0;
};

// The document; captureFreeBytes < 0 is written as null.
std::string StationStatusJson(const StationStatus& status, int64_t captureFreeBytes);

class CStatusFile {
 public:
  // Bad input before anything starts: false, with why, when the folder of path is missing or cannot be
  // written, or path names a folder.
  static bool CheckPath(const std::string& path, std::string* why);

  explicit CStatusFile(std::string path) : path_(std::move(path)) {}
  // Writes the document with the capture folder's free space. A failure is logged the first time only
  // (and again once after it worked in between); the caller's work goes on either way.
  bool Write(const StationStatus& status);
  uint32_t Failures() const { return nFailures_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  uint32_t nFailures_ = 0;
  bool bFailing_ = false;
};

}  // namespace ulmora
