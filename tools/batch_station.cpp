#include "batch_station.h"

#include <syslog.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>

#include "common/log.h"
#include "common/time_text.h"

namespace ulmora::batch {

void PrintGaps(FILE* out, const std::vector<Gap>& gaps) {
  if (gaps.empty()) return;
  double total = 0.0;
  for (const Gap& g : gaps) total += g.seconds;
  std::fprintf(out, "gaps %zu, %.1f s without frames in all:\n", gaps.size(), total);
  for (const Gap& g : gaps) {
    const std::string when = FormatUtcIso(g.startUtcMs * 1'000'000, 0, true);
    std::fprintf(out, "  %s, %.1f s, about %llu frames lost (%s)\n", when.c_str(), g.seconds,
                 static_cast<unsigned long long>(g.framesLost), g.cause.c_str());
  }
}

CServiceNotifier::CServiceNotifier() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  bActive_ = socket && *socket;
}

void CServiceNotifier::Ready(const std::string& status) {
  if (!bActive_) return;
  if (bReady_) return Status(status);
  bReady_ = true;
  lastStatus_ = status;
  // A failed notification costs the service its readiness, which the manager reports itself.
  sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void CServiceNotifier::Status(const std::string& status) {
  if (!bActive_ || status == lastStatus_) return;
  lastStatus_ = status;
  sd_notifyf(0, "STATUS=%s", status.c_str());
}

void CServiceNotifier::Tick(uint64_t frames, int64_t nowMs) {
  if (!bActive_ || frames == lastFrames_ || nowMs - lastAliveMs_ < 1000) return;
  lastFrames_ = frames;
  lastAliveMs_ = nowMs;
  if (sd_notify(0, "WATCHDOG=1") > 0) ++nKeepAlives_;
}

void CServiceNotifier::KeepAliveIdle(int64_t nowMs) {
  if (!bActive_ || nowMs - lastAliveMs_ < 1000) return;
  lastAliveMs_ = nowMs;
  if (sd_notify(0, "WATCHDOG=1") > 0) ++nKeepAlives_;
}

void CServiceNotifier::Stopping() {
  if (bActive_) sd_notify(0, "STOPPING=1");
}

bool UnderServiceManager() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  return stream && *stream;
}

void StationMessage(int priority, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  LogPrintf("%s", text);
  // The journal keeps the priority that a plain stderr line loses.
  if (UnderServiceManager() &&
      sd_journal_send("MESSAGE=%s", text, "PRIORITY=%d", priority, "SYSLOG_IDENTIFIER=ulmora-batch", nullptr) == 0)
    return;
  std::fprintf(stderr, "ulmora-batch: %s\n", text);
}

}  // namespace ulmora::batch
