// Running ulmora-batch from a test and looking at what it wrote.
#pragma once

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "graph/tests/graph_fixture.h"

namespace ulmora::test {

// Runs the tool with env (assignments, may be empty) before it; its exit status, its output in *out.
// Under the sanitizer build the tool's own leaks are checked too, less GLib's start-up tables.
inline int RunBatchTool(const std::string& dir, const std::string& env, const std::string& args,
                        std::string* out = nullptr) {
  const std::string outFile = dir + "/batch.out";
  const std::string cmd = std::string("ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=") +
                          ULMORA_LSAN_SUPP + " " + env + " " + ULMORA_BATCH_EXE + " " + args + " > '" + outFile +
                          "' 2>&1";
  const int rc = std::system(cmd.c_str());
  if (out) *out = ReadFile(outFile);
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The .bmp files in d, sorted by name.
inline std::vector<std::string> BmpNames(const std::string& d) {
  std::vector<std::string> names;
  if (DIR* h = opendir(d.c_str())) {
    while (dirent* e = readdir(h)) {
      const std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".bmp") == 0) names.push_back(n);
    }
    closedir(h);
  }
  std::sort(names.begin(), names.end());
  return names;
}

#ifdef ULMORA_SER_CHECK
// Runs the independent SER reader; its one-line answer, starting "ok" when all is as it should be.
inline std::string SerCheck(const std::string& args) {
  const std::string cmd = std::string("python3 '") + ULMORA_SER_CHECK + "' " + args + " 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}
#endif

}  // namespace ulmora::test
