#include "profile.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/text_escape.h"

namespace ulmora {
namespace {

struct Store {
  std::mutex mutex;
  std::string path;  // empty: default location
  bool readOnly = false;
  bool writeFailLogged = false;
  std::string writeFailure;  // the first failed save of this run: "path: reason"
  std::string warnedFor;     // the file (path, size, time) whose skipped lines were last reported
  std::map<std::pair<std::string, std::string>, std::string> overrides;
  std::map<std::pair<std::string, std::string>, std::string> dropped;  // writes refused in read-only mode
};

Store& TheStore() {
  static Store store;
  return store;
}

std::string DefaultPath() {
  const char* env = getenv("ULMORA_PROFILE");
  if (env && *env) return env;
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/ulmora/ulmora.ini";
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : g_get_home_dir()) + "/.config/ulmora/ulmora.ini";
}

std::string PathLocked(const Store& s) { return s.path.empty() ? DefaultPath() : s.path; }

struct KeyFileDeleter {
  void operator()(GKeyFile* f) const { g_key_file_free(f); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

// Profiles larger than this are not settings files (and reading one whole would cost memory).
constexpr off_t kMaxProfileBytes = 4 << 20;

struct RawProfile {
  std::string text;
  std::string problem;  // why the file gives no settings at all; empty when it was read or is missing
  std::string stamp;    // path, size and change time: reports are made once per version of the file
};

// The file's bytes. Opened without blocking and only when it is a regular file: a FIFO or a device
// under the profile's name must not hang the program.
RawProfile ReadRaw(const std::string& path) {
  RawProfile raw;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    // A missing file, or a path under a regular file, names no profile yet.
    if (errno != ENOENT && errno != ENOTDIR) raw.problem = g_strerror(errno);
    return raw;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    raw.problem = g_strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    raw.problem = "not a regular file";
  } else if (st.st_size > kMaxProfileBytes) {
    raw.problem = "larger than a settings file can be";
  } else {
    raw.stamp = path + "|" + std::to_string(st.st_size) + "|" + std::to_string(st.st_mtim.tv_sec) + "." +
                std::to_string(st.st_mtim.tv_nsec);
    raw.text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < raw.text.size()) {
      ssize_t n = read(fd, raw.text.data() + got, raw.text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) raw.problem = g_strerror(errno);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    raw.text.resize(got);
  }
  close(fd);
  if (!raw.problem.empty()) raw.text.clear();
  return raw;
}

bool ParsesAs(GKeyFile* probe, const std::string& text) {
  return g_key_file_load_from_data(probe, text.data(), text.size(), G_KEY_FILE_NONE, nullptr) != FALSE;
}

// The lines every profile is made of ("[nocta]", "ProcAmp=16"), which the reader always takes: the file
// is read at every lookup, so only the other lines are put to the reader one by one.
bool PlainLine(const std::string& line, bool group) {
  if (group)
    return line.size() > 2 && line.back() == ']' && line.find_first_of("[]", 1) == line.size() - 1 &&
           std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x20; });
  const size_t eq = line.find('=');
  if (eq == 0 || eq == std::string::npos) return false;
  for (size_t i = 0; i < eq; ++i)
    if (!g_ascii_isalnum(line[i]) && line[i] != '_' && line[i] != '-') return false;
  return true;
}

// The text with every line the key-file reader refuses turned into a comment: the keys that parse are
// kept, and the refused line stays in the file (commented) when it is next saved. A byte order mark and
// CR line ends are taken as they come from other editors. Skipped lines are reported in skipped.
std::string Tolerate(std::string_view text, std::vector<std::string>& skipped, int& goodLines) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  KeyFilePtr probe(g_key_file_new());
  std::string out;
  out.reserve(text.size() + 64);
  bool inGroup = false;
  int lineNo = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    const bool blankOrComment = first == std::string::npos || line[first] == '#';
    const bool group = !blankOrComment && line[first] == '[';
    const char* why = nullptr;
    if (blankOrComment) {
      // kept as it is
    } else if (!group && !inGroup) {
      why = "before any [section]";
    } else if (!PlainLine(line, group) && !ParsesAs(probe.get(), group ? line : "[x]\n" + line)) {
      why = group ? "not a [section] line" : "not a key=value line";
    }
    if (why) {
      const std::string shown = EscapeText(line);
      skipped.push_back("line " + std::to_string(lineNo) + " skipped (" + why + "): " + shown);
      out += "# " + shown + "\n";
      continue;
    }
    if (group) inGroup = true;
    if (!blankOrComment) ++goodLines;
    out += line + "\n";
  }
  return out;
}

// Loads the file tolerantly; a missing file is an empty profile. Nothing is ever moved or rewritten
// here: a line that cannot be read is skipped with a warning (once per version of the file), the way
// the profile calls of old skipped what they could not read.
struct LoadReport {
  std::string problem;  // the file gives no settings at all
  int goodLines = 0;
  int skippedLines = 0;
};

KeyFilePtr Load(Store& s, const std::string& path, LoadReport* report = nullptr) {
  KeyFilePtr file(g_key_file_new());
  RawProfile raw = ReadRaw(path);
  if (!raw.problem.empty()) {
    if (raw.stamp != s.warnedFor || s.warnedFor.empty()) {
      LogPrintf("Profile %s cannot be read (%s): starting from defaults", EscapeText(path).c_str(),
                raw.problem.c_str());
      s.warnedFor = raw.stamp.empty() ? "!" + path : raw.stamp;
    }
    if (report) report->problem = raw.problem;
    return file;
  }
  std::vector<std::string> skipped;
  int good = 0;
  const std::string text = Tolerate(raw.text, skipped, good);
  if (report) report->goodLines = good, report->skippedLines = static_cast<int>(skipped.size());
  if (!skipped.empty() && raw.stamp != s.warnedFor) {
    for (const std::string& line : skipped) LogPrintf("Profile %s: %s", EscapeText(path).c_str(), line.c_str());
    s.warnedFor = raw.stamp;
  }
  g_autoptr(GError) error = nullptr;
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_KEEP_COMMENTS, &error)) {
    // Every line was checked above; should the reader still refuse, the settings start from defaults.
    LogPrintf("Profile %s cannot be read (%s): starting from defaults", EscapeText(path).c_str(),
              EscapeText(error->message).c_str());
    if (report) report->problem = EscapeText(error->message);
    return KeyFilePtr(g_key_file_new());
  }
  return file;
}

// The text of section/key: an override, else the file's; false when missing.
bool Lookup(const char* section, const char* key, std::string& text) {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  auto it = s.overrides.find({section, key});
  if (it != s.overrides.end()) {
    text = it->second;
    return true;
  }
  KeyFilePtr file = Load(s, PathLocked(s));
  g_autofree gchar* value = g_key_file_get_string(file.get(), section, key, nullptr);
  if (!value) return false;
  text = value;
  return true;
}

}  // namespace

int ProfileGetInt(const char* section, const char* key, int def) {
  std::string text;
  if (!section || !key || !Lookup(section, key, text)) return def;
  const char* p = text.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // Wraps like the 32-bit value it was written from, so "%u" texts above INT_MAX read back unchanged.
  uint64_t value = 0;
  while (*p >= '0' && *p <= '9') value = value * 10 + static_cast<unsigned>(*p++ - '0');
  uint32_t bits = static_cast<uint32_t>(negative ? 0 - value : value);
  return static_cast<int>(bits);
}

size_t ProfileGetString(const char* section, const char* key, const char* def, char* buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  std::string text;
  const char* source = (section && key && Lookup(section, key, text)) ? text.c_str() : (def ? def : "");
  size_t n = strnlen(source, size - 1);
  memcpy(buffer, source, n);
  buffer[n] = '\0';
  return n;
}

bool ProfileWriteString(const char* section, const char* key, const char* value) {
  if (!section || !key || !value) return false;
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  if (s.readOnly) {
    s.dropped[{section, key}] = value;
    return true;
  }
  std::string path = PathLocked(s);
  KeyFilePtr file = Load(s, path);
  g_key_file_set_string(file.get(), section, key, value);

  g_autoptr(GError) error = nullptr;
  g_autofree gchar* dir = g_path_get_dirname(path.c_str());
  bool ok = g_mkdir_with_parents(dir, 0700) == 0;
  if (!ok) g_set_error(&error, G_FILE_ERROR, g_file_error_from_errno(errno), "%s", g_strerror(errno));
  // g_key_file_save_to_file writes a temporary file and renames it over the profile.
  if (ok) ok = g_key_file_save_to_file(file.get(), path.c_str(), &error);
  if (!ok) {
    const std::string why = error ? EscapeText(error->message) : "unknown error";
    if (!s.writeFailLogged) LogPrintf("Can`t write profile %s: %s", path.c_str(), why.c_str());
    if (s.writeFailure.empty()) s.writeFailure = path + ": " + why;
    s.writeFailLogged = true;
  }
  return ok;
}

std::string ProfilePath() {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  return PathLocked(s);
}

void ProfileUsePath(const std::string& path) {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  s.path = path;
  s.writeFailLogged = false;
  s.writeFailure.clear();
  s.warnedFor.clear();
}

void ProfileSetReadOnly(bool readOnly) {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  s.readOnly = readOnly;
}

void ProfileSetOverride(const char* section, const char* key, const char* value) {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  s.overrides[{section, key}] = value ? value : "";
}

void ProfileClearOverrides() {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  s.overrides.clear();
}

bool ProfileCheckReadable(std::string* why) {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  const std::string path = PathLocked(s);
  LoadReport report;
  Load(s, path, &report);
  // Not one line of it a setting, and some refused: this is not a settings file.
  if (report.problem.empty() && report.goodLines == 0 && report.skippedLines > 0)
    report.problem = "no line of it is a setting";
  if (!report.problem.empty() && why) *why = report.problem;
  return report.problem.empty();
}

std::string ProfileWriteFailure() {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  return s.writeFailure;
}

bool ProfileDroppedWrite(const char* section, const char* key, std::string* value) {
  Store& s = TheStore();
  std::lock_guard lock(s.mutex);
  auto it = s.dropped.find({section ? section : "", key ? key : ""});
  if (it == s.dropped.end()) return false;
  if (value) *value = it->second;
  return true;
}

}  // namespace ulmora
