// When a station records: between two local clock times (the window may span midnight), or while the
// sun is below an altitude at a place (libnova's sun position), every day until stopped.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace ulmora::batch {

struct SchedulePlan {
  enum class Kind { kAlways, kClock, kNight } kind = Kind::kAlways;
  int startMin = 0, stopMin = 0;                         // kClock: minutes after local midnight
  double latDeg = 0.0, lonDeg = 0.0, sunAltDeg = -12.0;  // kNight: east and north positive
};

// "HH:MM" (00:00 to 23:59); false for anything else.
bool ParseClockTime(const char* text, int* minutes);
// "LAT,LON[,SUN_ALT]": latitude -90..90, longitude -180..180, altitude -90..90 (default -12); empty
// when good, else what is wrong.
std::string ParseNight(const char* text, SchedulePlan* plan);

// The sun's altitude in degrees at a place and time.
double SunAltitudeDeg(double latDeg, double lonDeg, time_t t);
// The first rise and set of the sun's centre across altitude horizonDeg after t, as libnova gives them;
// false when the sun stays above or below it all day.
bool SunCrossings(double latDeg, double lonDeg, double horizonDeg, time_t t, time_t* rise, time_t* set);

class CSchedule {
 public:
  explicit CSchedule(const SchedulePlan& plan) : plan_(plan) {}
  // Whether recording is on at time t (the local time zone for clock times).
  bool IsOn(time_t t) const;
  const SchedulePlan& Plan() const { return plan_; }

 private:
  SchedulePlan plan_;
};

// The station's clock: the real one, or, for tests, ULMORA_FAKE_CLOCK=UNIX_SECONDS[,SPEED] (starts at
// that time when read first and runs SPEED times as fast), so a night can be tried in seconds.
using StationClock = std::function<time_t()>;
StationClock MakeStationClock();

}  // namespace ulmora::batch
