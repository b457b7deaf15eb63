// Assertion boxes and coded error reports.
#pragma once

namespace ulmora {

// A modal box with an OK button: owner (opaque window or null), text, caption (may be null), flags.
using BoxFn = void (*)(void* owner, const char* text, const char* caption, unsigned flags);

// Where assertion boxes and the end-of-run notice go; null restores the default (stderr).
void SetAssertBoxEntry(BoxFn box);
void SetNoticeBoxEntry(BoxFn box);
void ShowNoticeBox(const char* text, const char* caption);

// Error codes of coded error reports.
enum ErrorCode : int {
  kErrLargeSize = -9,
  kErrNoDataAccess = -8,
  kErrMemoryLeak = -7,
  kErrUnknownType = -6,
  kErrException = -5,
  kErrFatal = -4,
  kErrNoMemory = -3,
};

const char* ErrorCodeText(int code);

// True once a coded error was reported in this run.
bool ErrorFlagSet();

// Restores the budgets and the flag of a fresh run.
void ReportReset();

// Number of assertion boxes that may still be shown (6 per run).
constexpr unsigned kAssertBoxBudget = 6;
constexpr int kErrorReportBudget = 100;

}  // namespace ulmora

// Logs "!name(): text" and sets the error flag; at most 101 reports per run.
void ReportError(const char* function, int code);

// Debug configuration: shows "line N text" in a box captioned with the file name, six boxes per run.
// Release configuration: does nothing.
void ReportAssert(const char* text, int line, const char* file);

#ifdef ULMORA_DEBUG
inline constexpr bool kDebugBuild = true;
#else
inline constexpr bool kDebugBuild = false;
#endif
