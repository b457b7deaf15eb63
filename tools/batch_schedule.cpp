#include "batch_schedule.h"

#include <libnova/julian_day.h>
#include <libnova/solar.h>
#include <libnova/transform.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ulmora::batch {
namespace {

bool ParseDouble(const std::string& text, double lo, double hi, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) return false;
  *value = v;
  return true;
}

}  // namespace

bool ParseClockTime(const char* text, int* minutes) {
  if (!text || std::strlen(text) != 5 || text[2] != ':') return false;
  for (int i : {0, 1, 3, 4})
    if (text[i] < '0' || text[i] > '9') return false;
  const int h = (text[0] - '0') * 10 + (text[1] - '0');
  const int m = (text[3] - '0') * 10 + (text[4] - '0');
  if (h > 23 || m > 59) return false;
  *minutes = h * 60 + m;
  return true;
}

std::string ParseNight(const char* text, SchedulePlan* plan) {
  std::string parts[4];
  int n = 0;
  for (const char* p = text ? text : ""; n < 4; ++p) {
    if (*p == ',' || *p == '\0') {
      ++n;
      if (*p == '\0') break;
    } else {
      parts[n].push_back(*p);
    }
  }
  if (n < 2 || n > 3) return "expected LAT,LON[,SUN_ALT]";
  SchedulePlan s = *plan;
  if (!ParseDouble(parts[0], -90, 90, &s.latDeg)) return "latitude must be a number from -90 to 90";
  if (!ParseDouble(parts[1], -180, 180, &s.lonDeg)) return "longitude must be a number from -180 to 180";
  if (n == 3 && !ParseDouble(parts[2], -90, 90, &s.sunAltDeg)) return "sun altitude must be a number from -90 to 90";
  s.kind = SchedulePlan::Kind::kNight;
  *plan = s;
  return {};
}

double SunAltitudeDeg(double latDeg, double lonDeg, time_t t) {
  const double jd = ln_get_julian_from_timet(&t);
  ln_equ_posn sun{};
  ln_get_solar_equ_coords(jd, &sun);
  ln_lnlat_posn observer{lonDeg, latDeg};
  ln_hrz_posn hrz{};
  ln_get_hrz_from_equ(&sun, &observer, jd, &hrz);
  return hrz.alt;
}

bool SunCrossings(double latDeg, double lonDeg, double horizonDeg, time_t t, time_t* rise, time_t* set) {
  ln_lnlat_posn observer{lonDeg, latDeg};
  ln_rst_time rst{};
  if (ln_get_solar_rst_horizon(ln_get_julian_from_timet(&t), &observer, horizonDeg, &rst) != 0) return false;
  ln_get_timet_from_julian(rst.rise, rise);
  ln_get_timet_from_julian(rst.set, set);
  return true;
}

bool CSchedule::IsOn(time_t t) const {
  switch (plan_.kind) {
    case SchedulePlan::Kind::kAlways: return true;
    case SchedulePlan::Kind::kClock: {
      struct tm local {};
      localtime_r(&t, &local);
      const int m = local.tm_hour * 60 + local.tm_min;
      if (plan_.startMin < plan_.stopMin) return m >= plan_.startMin && m < plan_.stopMin;
      return m >= plan_.startMin || m < plan_.stopMin;  // across midnight
    }
    case SchedulePlan::Kind::kNight: return SunAltitudeDeg(plan_.latDeg, plan_.lonDeg, t) < plan_.sunAltDeg;
  }
  return true;
}

StationClock MakeStationClock() {
  const char* fake = std::getenv("ULMORA_FAKE_CLOCK");
  if (!fake || !*fake) return [] { return std::time(nullptr); };
  char* end = nullptr;
  const long long start = std::strtoll(fake, &end, 10);
  const double speed = *end == ',' ? std::strtod(end + 1, nullptr) : 1.0;
  const auto origin = std::chrono::steady_clock::now();
  return [start, speed, origin] {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
    return static_cast<time_t>(start + static_cast<long long>(elapsed * (speed > 0 ? speed : 1.0)));
  };
}

}  // namespace ulmora::batch
