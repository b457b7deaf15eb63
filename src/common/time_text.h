// Millisecond times as texts, and the parser of the delay box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ulmora {

constexpr uint32_t kTimeTextCapMs = 86400000;

// "SS:mmm" below a minute, "MM:SS:mmm" below an hour, else "HH:MM:SS:mmm"; above a day "> 24:00:00:000".
int FormatTimeMs(char* buffer, size_t size, uint32_t ms);

// Up to four ':'-separated fields, right-aligned onto h, m, s, ms and clamped (59, 999).
// On success value holds the time; changed (optional) tells whether it differs from value's input.
bool ParseTimeText(const char* text, uint32_t& value, bool* changed = nullptr);

// ISO 8601 UTC of nanoseconds since 1970, "YYYY-MM-DDTHH:MM:SS" with `fractionDigits` (0 to 9) digits of
// the second after a '.', cut rather than rounded (times before 1970 too), and a 'Z' when asked.
std::string FormatUtcIso(int64_t utcNs, int fractionDigits, bool zulu);

}  // namespace ulmora
