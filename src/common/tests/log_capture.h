// Test support: routes the run log into a temporary file and reads it back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/log.h"
#include "common/report.h"

namespace ulmora::test {

class LogCapture {
 public:
  LogCapture() {
    char pattern[] = "/tmp/ulmora-log-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    Path() = pattern;
    LogReset();
    ReportReset();
    LogRegisterOpen(&Open);
  }
  ~LogCapture() {
    LogReset();
    unlink(Path().c_str());
  }

  std::string Text() const {
    std::ifstream in(Path());
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(Text());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }
  static std::string& Path() {
    static std::string path;
    return path;
  }

 private:
  static FILE* Open() { return fopen(Path().c_str(), "w"); }
};

// Records boxes shown through the assertion and notice entries.
struct BoxRecord {
  std::string text, caption;
};
inline std::vector<BoxRecord>& RecordedBoxes() {
  static std::vector<BoxRecord> boxes;
  return boxes;
}
inline void RecordBox(void*, const char* text, const char* caption, unsigned) {
  RecordedBoxes().push_back({text ? text : "", caption ? caption : "<none>"});
}

}  // namespace ulmora::test
