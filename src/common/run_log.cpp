#include "run_log.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "paths.h"
#include "report.h"

namespace ulmora {
namespace {

constexpr const char* kLogName = "nocta.log";

// mkdir -p, private to the user as the state directory should be.
bool MakeDirectories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FILE* OpenIn(const std::string& dir, std::string* path) {
  const std::string file = dir + kLogName;
  FILE* f = fopen(file.c_str(), "w");
  if (f && path) *path = file;
  return f;
}

}  // namespace

FILE* OpenLogFileIn(const char* programDir, const char* stateHome, const char* home, std::string* path) {
  if (programDir && *programDir) {
    if (FILE* f = OpenIn(programDir, path)) return f;
  }
  // An installed program usually cannot write beside itself. A relative XDG_STATE_HOME is invalid and
  // ignored, as the base-directory rules say.
  std::string state;
  if (stateHome && stateHome[0] == '/')
    state = stateHome;
  else if (home && home[0] == '/')
    state = std::string(home) + "/.local/state";
  else
    return nullptr;
  const std::string dir = state + "/ulmora/";
  if (!MakeDirectories(dir.substr(0, dir.size() - 1))) return nullptr;
  return OpenIn(dir, path);
}

FILE* OpenLogFile() {
  char dir[kMaxPath];
  const char* programDir = GetProgramDirectory(dir, sizeof dir);
  if (FILE* f = OpenLogFileIn(programDir, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"), nullptr)) return f;
  ReportAssert("Cant`t open log file...", __LINE__, "run_log");
  return nullptr;
}

}  // namespace ulmora
