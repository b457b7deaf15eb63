#include "time_text.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "safe_snprintf.h"

namespace ulmora {

int FormatTimeMs(char* buffer, size_t size, uint32_t ms) {
  const char* prefix = "";
  if (ms > kTimeTextCapMs) {
    ms = kTimeTextCapMs;
    prefix = "> ";
  }
  unsigned milli = ms % 1000, sec = ms / 1000 % 60, min = ms / 60000 % 60, hours = ms / 3600000;
  if (ms < 60000) return __SafeSnprintf(buffer, size, "%02u:%03u", sec, milli);
  if (ms < 3600000) return __SafeSnprintf(buffer, size, "%02u:%02u:%03u", min, sec, milli);
  return __SafeSnprintf(buffer, size, "%s%02u:%02u:%02u:%03u", prefix, hours, min, sec, milli);
}

bool ParseTimeText(const char* text, uint32_t& value, bool* changed) {
  if (!text || !*text) return false;
  uint64_t fields[4] = {};
  int count = 0;
  const char* p = text;
  while (count < 4) {
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    if (!*p) break;
    if (*p == ':') {  // an empty field counts, as 0
      fields[count++] = 0;
      ++p;
      continue;
    }
    if (*p == '+' || *p == '-') ++p;
    if (!isdigit(static_cast<unsigned char>(*p))) break;
    uint64_t n = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
      if (n < 1000000) n = n * 10 + static_cast<unsigned>(*p - '0');  // clamped below anyway
      ++p;
    }
    fields[count++] = n;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p != ':') break;
    ++p;
  }
  if (count == 0) return false;

  uint64_t hms[4] = {};  // hours, minutes, seconds, milliseconds
  for (int i = 0; i < count; ++i) hms[4 - count + i] = fields[i];
  for (int i = 0; i < 3; ++i)
    if (hms[i] > 59) hms[i] = 59;
  if (hms[3] > 999) hms[3] = 999;
  uint32_t result = static_cast<uint32_t>(hms[0] * 3600000 + hms[1] * 60000 + hms[2] * 1000 + hms[3]);
  if (changed) *changed = result != value;
  value = result;
  return true;
}

std::string FormatUtcIso(int64_t utcNs, int fractionDigits, bool zulu) {
  constexpr int64_t kNsPerS = 1'000'000'000;
  int64_t seconds = utcNs / kNsPerS;
  int64_t ns = utcNs % kNsPerS;
  if (ns < 0) {
    ns += kNsPerS;
    --seconds;
  }
  const time_t t = static_cast<time_t>(seconds);
  struct tm utc {};
  gmtime_r(&t, &utc);
  char text[64];
  int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                        utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  if (fractionDigits > 0) {
    const int digits = fractionDigits < 9 ? fractionDigits : 9;
    int64_t part = ns;
    for (int d = digits; d < 9; ++d) part /= 10;
    n += std::snprintf(text + n, sizeof text - n, ".%0*lld", digits, static_cast<long long>(part));
  }
  if (zulu) std::snprintf(text + n, sizeof text - n, "Z");
  return text;
}

}  // namespace ulmora
