#include "log.h"

#include <cstdarg>
#include <cstdlib>
#include <mutex>

#include "report.h"

namespace ulmora {
namespace {

// Held only to write or replace the stream: lines stay whole and a finish never races a write.
std::mutex g_logMutex;
LogOpenFn g_open = nullptr;
FILE* g_stream = nullptr;

constexpr const char* kNoticeText = "accepted of errors in the application: please check log file...";

}  // namespace

void LogRegisterOpen(LogOpenFn open) {
  std::lock_guard lock(g_logMutex);
  if (!g_open) g_open = open;
}

bool LogHasOpenCallback() {
  std::lock_guard lock(g_logMutex);
  return g_open != nullptr;
}

void LogReset() {
  std::lock_guard lock(g_logMutex);
  if (g_stream) fclose(g_stream);
  g_stream = nullptr;
  g_open = nullptr;
}

}  // namespace ulmora

using namespace ulmora;

void LogPrintf(const char* format, ...) {
  if (!format) {
    {
      std::lock_guard lock(g_logMutex);
      if (!g_open) return;
      if (g_stream) fclose(g_stream);
      g_stream = nullptr;
    }
    if (ErrorFlagSet()) ShowNoticeBox(kNoticeText, nullptr);
    return;
  }

  char local[1024];
  char* line = local;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(local, sizeof local - 1, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(n) >= sizeof local - 1) {
    line = static_cast<char*>(malloc(static_cast<size_t>(n) + 2));
    if (!line) {
      va_end(again);
      return;
    }
    vsnprintf(line, static_cast<size_t>(n) + 1, format, again);
  }
  va_end(again);
  line[n] = '\n';

  {
    std::lock_guard lock(g_logMutex);
    if (g_open && !g_stream) g_stream = g_open();
    if (g_stream) {
      // Write errors on the log are ignored: there is nowhere else to report them.
      (void)fwrite(line, 1, static_cast<size_t>(n) + 1, g_stream);
      (void)fflush(g_stream);
    }
  }
  if (line != local) free(line);
}
