#include "report.h"

#include <atomic>
#include <cstdio>

#include "log.h"
#include "safe_snprintf.h"

namespace ulmora {
namespace {

void DefaultBox(void*, const char* text, const char* caption, unsigned) {
  fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
  fflush(stderr);
}

std::atomic<BoxFn> g_assertBox{DefaultBox};
std::atomic<BoxFn> g_noticeBox{DefaultBox};
std::atomic<int> g_errorBudget{kErrorReportBudget};
std::atomic<int> g_errorFlag{0};
std::atomic<unsigned> g_assertsShown{0};

}  // namespace

void SetAssertBoxEntry(BoxFn box) { g_assertBox.store(box ? box : DefaultBox); }
void SetNoticeBoxEntry(BoxFn box) { g_noticeBox.store(box ? box : DefaultBox); }

void ShowNoticeBox(const char* text, const char* caption) { g_noticeBox.load()(nullptr, text, caption, 0); }

const char* ErrorCodeText(int code) {
  switch (code) {
    case kErrLargeSize: return "large size";
    case kErrNoDataAccess: return "there is no data access";
    case kErrMemoryLeak: return "memory leak";
    case kErrUnknownType: return "unknow type";
    case kErrException: return "expection";
    case kErrFatal: return "fatal error";
    case kErrNoMemory: return "can`t alloc memory";
    default: return "error";
  }
}

bool ErrorFlagSet() { return g_errorFlag.load() != 0; }

void ReportReset() {
  g_errorBudget.store(kErrorReportBudget);
  g_errorFlag.store(0);
  g_assertsShown.store(0);
}

}  // namespace ulmora

using namespace ulmora;

void ReportError(const char* function, int code) {
  if (g_errorBudget.fetch_sub(1) < 0) {
    g_errorBudget.fetch_add(1);  // keep the budget from running away below zero
    return;
  }
  g_errorFlag.store(1);
  LogPrintf("!%s(): %s", function ? function : "", ErrorCodeText(code));
}

void ReportAssert(const char* text, int line, const char* file) {
  if constexpr (!kDebugBuild) {
    (void)text, (void)line, (void)file;
    return;
  }
  if (g_assertsShown.fetch_add(1) >= kAssertBoxBudget) {
    g_assertsShown.store(kAssertBoxBudget);
    return;
  }
  char box[250];
  // Plain snprintf: a cut text here must not raise an assertion of its own.
  if (line < 0)
    snprintf(box, sizeof box, "line ? %s", text ? text : "");
  else
    snprintf(box, sizeof box, "line %d %s", line, text ? text : "");
  g_assertBox.load()(nullptr, box, file ? file : "????", 0);
}
