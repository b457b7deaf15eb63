// The bounded formatter: the result is always terminated; a text that does not fit is cut.
#pragma once

#include <cstdarg>
#include <cstddef>

// Returns the characters written; size - 1 means the text may have been cut. Size 0 writes nothing.
int __SafeSnprintf(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int __SafeVsnprintf(char* buffer, size_t size, const char* format, va_list args);
