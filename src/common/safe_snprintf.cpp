#include "safe_snprintf.h"

#include <cstdio>

#include "report.h"

int __SafeVsnprintf(char* buffer, size_t size, const char* format, va_list args) {
  if (size == 0 || !buffer) {
    ReportAssert("__SafeSnprintf: bad size...", __LINE__, "safe_snprintf");
    return 0;
  }
  int n = vsnprintf(buffer, size, format ? format : "", args);
  if (n < 0) {
    buffer[0] = '\0';
    ReportAssert(": bad algoritm", __LINE__, "safe_snprintf");
    return 0;
  }
  if (static_cast<size_t>(n) >= size) {
    ReportAssert(static_cast<size_t>(n) == size ? "__SafeSnprintf: n == size" : "__SafeSnprintf: n < 0", __LINE__,
                 "safe_snprintf");
    buffer[size - 1] = '\0';  // vsnprintf has cut it already; say so explicitly
    return static_cast<int>(size - 1);
  }
  return n;
}

int __SafeSnprintf(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = __SafeVsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}
