#include "graph/station_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/log.h"
#include "common/time_text.h"

namespace ulmora {
namespace {

void AppendJsonString(std::string& out, const std::string& text) {
  out.push_back('"');
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out.append(esc);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
}

void AppendUtc(std::string& out, int64_t unixMs) {
  if (unixMs < 0) {
    out.append("null");
    return;
  }
  out.push_back('"');
  out.append(FormatUtcIso(unixMs * 1'000'000, 3, true));
  out.push_back('"');
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

const char* StationStateName(StationState state) {
  switch (state) {
    case StationState::kWaiting: return "waiting";
    case StationState::kRecording: return "recording";
    case StationState::kReconnecting: return "reconnecting";
    case StationState::kStalled: return "stalled";
    case StationState::kScheduledOff: return "scheduled-off";
  }
  return "waiting";
}

std::string StationStatusJson(const StationStatus& s, int64_t freeBytes) {
  std::string out = "{\"state\": ";
  AppendJsonString(out, StationStateName(s.state));
  out.append(", \"device\": {\"id\": ");
  AppendJsonString(out, s.deviceId);
  out.append(", \"name\": ");
  AppendJsonString(out, s.deviceName);
  char num[256];
  const StationCounters& c = s.counters;
  std::snprintf(num, sizeof num,
                "}, \"frames_in\": %" PRIu64 ", \"pictures_written\": %" PRIu64
                ", \"frames_dropped\": {\"camera\": %" PRIu64 ", \"chain\": %" PRIu64 ", \"writer\": %" PRIu64
                "}, \"last_frame_utc\": ",
                c.framesIn, c.picturesWritten, c.droppedCamera, c.droppedChain, c.droppedWriter);
  out.append(num);
  AppendUtc(out, c.lastFrameUtcMs);
  out.append(", \"capture_dir\": ");
  AppendJsonString(out, s.captureDir);
  if (freeBytes < 0)
    std::snprintf(num, sizeof num, ", \"capture_free_bytes\": null");
  else
    std::snprintf(num, sizeof num, ", \"capture_free_bytes\": %" PRId64, freeBytes);
  out.append(num);
  std::snprintf(num, sizeof num, ", \"seconds_since_start\": %.1f, \"gaps\": %u, \"stalls\": %u}\n",
                s.secondsSinceStart, s.gaps, s.stalls);
  out.append(num);
  return out;
}

bool CStatusFile::CheckPath(const std::string& path, std::string* why) {
  struct stat st {};
  if (path.empty() || path.back() == '/') return *why = "names a folder, not a file", false;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return *why = "is a folder", false;
  const std::string folder = FolderOf(path);
  if (stat(folder.c_str(), &st) != 0) return *why = "its folder " + folder + " does not exist", false;
  if (!S_ISDIR(st.st_mode)) return *why = folder + " is not a folder", false;
  if (access(folder.c_str(), W_OK | X_OK) != 0) return *why = "its folder " + folder + " cannot be written", false;
  return true;
}

bool CStatusFile::Write(const StationStatus& status) {
  int64_t freeBytes = -1;
  struct statvfs vfs {};
  if (!status.captureDir.empty() && statvfs(status.captureDir.c_str(), &vfs) == 0)
    freeBytes = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
  const std::string doc = StationStatusJson(status, freeBytes);
  // The temporary sits beside the file: a rename within one file system is what makes it atomic.
  std::string tmp = path_ + ".XXXXXX";
  int err = 0;
  const int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) {
    err = errno;
  } else {
    const bool whole = write(fd, doc.data(), doc.size()) == static_cast<ssize_t>(doc.size());
    if (!whole) err = errno ? errno : ENOSPC;
    // Readable by the station's scripts, which may run as another user.
    if (!err && fchmod(fd, 0644) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err && rename(tmp.c_str(), path_.c_str()) != 0) err = errno;
    if (err) unlink(tmp.c_str());
  }
  if (!err) {
    bFailing_ = false;
    return true;
  }
  ++nFailures_;
  if (!bFailing_)
    LogPrintf("status file '%s' cannot be written: %s (the run goes on)", path_.c_str(), std::strerror(err));
  bFailing_ = true;
  return false;
}

}  // namespace ulmora
