// ulmora-batch as an unattended station: the gaps a reconnect bridged, the service manager's notify
// protocol, and messages that reach the journal when the run is a service.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ulmora::batch {

// A time without frames that the run went on through.
struct Gap {
  int64_t startUtcMs = 0;
  double seconds = 0.0;
  uint64_t framesLost = 0;  // what the camera would have sent at its rate meanwhile
  std::string cause;        // "device gone", "stalled"
};

// "gaps N: ..." lines of the summary; nothing without gaps.
void PrintGaps(FILE* out, const std::vector<Gap>& gaps);

// The notify protocol of the service manager (through libsystemd; a no-op when not started by one).
// Keep-alives go out only while frames flow, so WatchdogSec= restarts a station whose capture hangs.
class CServiceNotifier {
 public:
  CServiceNotifier();
  bool Active() const { return bActive_; }
  // READY=1 with a status line, once; later calls send the status only.
  void Ready(const std::string& status);
  // STATUS=... when the text changed.
  void Status(const std::string& status);
  // Called often with the run's frame count: WATCHDOG=1 at most once a second, and only when the count
  // moved since the last one.
  void Tick(uint64_t frames, int64_t nowMs);
  // Resting on purpose (outside the recording window): WATCHDOG=1 at most once a second.
  void KeepAliveIdle(int64_t nowMs);
  void Stopping();
  uint32_t KeepAlives() const { return nKeepAlives_; }

 private:
  bool bActive_ = false;
  bool bReady_ = false;
  std::string lastStatus_;
  uint64_t lastFrames_ = 0;
  int64_t lastAliveMs_ = 0;
  uint32_t nKeepAlives_ = 0;
};

// A station event (device lost, back, stalled, a status file that fails): one line on stderr, the run
// log, and under the service manager the journal with its priority (LOG_WARNING, LOG_INFO...).
void StationMessage(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// True when started by the service manager with its journal on stderr.
bool UnderServiceManager();

}  // namespace ulmora::batch
