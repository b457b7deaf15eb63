#include "profile.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "common/log.h"

namespace ulmora {
namespace {

struct Store {
  std::mutex mutex;
  std::string path;  // empty: default location
  bool readOnly = false;
  bool writeFailLogged = false;
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

// Loads the file; a missing file is an empty profile. One that cannot be parsed is moved aside so
// that the user's text is kept and the run starts from defaults; in read-only mode it is left alone.
KeyFilePtr Load(const std::string& path, bool moveAside) {
  KeyFilePtr file(g_key_file_new());
  g_autoptr(GError) error = nullptr;
  if (g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error)) return file;
  // A path under a regular file names no profile either.
  if (g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT) ||
      g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOTDIR))
    return file;
  if (error->domain == G_KEY_FILE_ERROR && !moveAside) {
    LogPrintf("Profile %s cannot be read (%s): starting from defaults", path.c_str(), error->message);
  } else if (error->domain == G_KEY_FILE_ERROR) {
    std::string aside = path + ".corrupt";
    if (g_rename(path.c_str(), aside.c_str()) == 0)
      LogPrintf("Profile %s cannot be read (%s): moved to %s, starting from defaults", path.c_str(), error->message,
                aside.c_str());
    else
      LogPrintf("Profile %s cannot be read (%s) nor moved aside (%s): starting from defaults", path.c_str(),
                error->message, g_strerror(errno));
  } else {
    LogPrintf("Profile %s cannot be read (%s): starting from defaults", path.c_str(), error->message);
  }
  return KeyFilePtr(g_key_file_new());
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
  KeyFilePtr file = Load(PathLocked(s), !s.readOnly);
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
  KeyFilePtr file = Load(path, true);
  g_key_file_set_string(file.get(), section, key, value);

  g_autoptr(GError) error = nullptr;
  g_autofree gchar* dir = g_path_get_dirname(path.c_str());
  bool ok = g_mkdir_with_parents(dir, 0700) == 0;
  if (!ok) g_set_error(&error, G_FILE_ERROR, g_file_error_from_errno(errno), "%s", g_strerror(errno));
  // g_key_file_save_to_file writes a temporary file and renames it over the profile.
  if (ok) ok = g_key_file_save_to_file(file.get(), path.c_str(), &error);
  if (!ok) {
    if (!s.writeFailLogged)
      LogPrintf("Can`t write profile %s: %s", path.c_str(), error ? error->message : "unknown error");
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
  KeyFilePtr file(g_key_file_new());
  g_autoptr(GError) error = nullptr;
  if (g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, &error)) return true;
  const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT) ||
                       g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOTDIR);
  if (!missing && why) *why = error->message;
  return missing;
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
