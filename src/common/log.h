// The run log: one flushed text line per event, no time stamps.
#pragma once

#include <cstdio>

namespace ulmora {

// Opens the log stream when the first line is written; returns null when it cannot.
using LogOpenFn = FILE* (*)();

// Registers the callback unless one is registered already (a second start keeps the first).
void LogRegisterOpen(LogOpenFn open);
bool LogHasOpenCallback();

// Forgets the callback and closes the stream without the end-of-run notice (tests, shutdown paths).
void LogReset();

}  // namespace ulmora

// Writes one formatted line followed by a line break and flushes it.
// LogPrintf(nullptr) finishes the log: closes it and shows the end-of-run notice when errors were reported.
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
