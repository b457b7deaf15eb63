#include "run_log.h"

#include <string>

#include "paths.h"
#include "report.h"

namespace ulmora {

FILE* OpenLogFile() {
  constexpr const char* kName = "nocta.log";
  char dir[kMaxPath];
  if (GetProgramDirectory(dir, sizeof dir)) {
    if (FILE* f = fopen((std::string(dir) + kName).c_str(), "w")) return f;
  }
  // An installed program usually cannot write beside itself.
  if (FILE* f = fopen(kName, "w")) return f;
  ReportAssert("Cant`t open log file...", __LINE__, "run_log");
  return nullptr;
}

}  // namespace ulmora
