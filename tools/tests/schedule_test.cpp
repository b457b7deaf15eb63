// The station's schedule on times the test chooses: clock windows in a fixed time zone, and the sun's
// position from libnova against published sunrise and sunset times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "batch_schedule.h"

namespace ulmora::batch {
namespace {

time_t Utc(int y, int mo, int d, int h, int mi) {
  struct tm t {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  return timegm(&t);
}

class ScheduleTest : public ::testing::Test {
 protected:
  // Clock windows are local times: the test's zone is UTC+2 all year.
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    savedTz = tz ? tz : "";
    hadTz = tz != nullptr;
    setenv("TZ", "UTC-2", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz)
      setenv("TZ", savedTz.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  std::string savedTz;
  bool hadTz = false;
};

TEST_F(ScheduleTest, ClockTimesAreCheckedAndAWindowMaySpanMidnight) {
  int m = -1;
  EXPECT_TRUE(ParseClockTime("22:30", &m));
  EXPECT_EQ(m, 22 * 60 + 30);
  for (const char* bad : {"24:00", "7:30", "07:60", "07-30", "", "07:3x"}) EXPECT_FALSE(ParseClockTime(bad, &m)) << bad;

  SchedulePlan s;
  s.kind = SchedulePlan::Kind::kClock;
  ASSERT_TRUE(ParseClockTime("22:00", &s.startMin));
  ASSERT_TRUE(ParseClockTime("05:30", &s.stopMin));
  const CSchedule night(s);
  EXPECT_FALSE(night.IsOn(Utc(2025, 3, 1, 19, 59)));  // 21:59 local
  EXPECT_TRUE(night.IsOn(Utc(2025, 3, 1, 20, 0)));    // 22:00 local
  EXPECT_TRUE(night.IsOn(Utc(2025, 3, 1, 23, 0)));    // 01:00 local, the next day
  EXPECT_TRUE(night.IsOn(Utc(2025, 3, 2, 3, 29)));
  EXPECT_FALSE(night.IsOn(Utc(2025, 3, 2, 3, 30)));  // 05:30 local
  s.startMin = 9 * 60;
  s.stopMin = 17 * 60;
  const CSchedule day(s);
  EXPECT_TRUE(day.IsOn(Utc(2025, 3, 1, 7, 0)));
  EXPECT_FALSE(day.IsOn(Utc(2025, 3, 1, 15, 0)));
}

TEST_F(ScheduleTest, NightCoordinatesAreChecked) {
  SchedulePlan s;
  EXPECT_EQ(ParseNight("51.48,-0.0015", &s), "");
  EXPECT_EQ(s.kind, SchedulePlan::Kind::kNight);
  EXPECT_DOUBLE_EQ(s.sunAltDeg, -12.0);
  EXPECT_EQ(ParseNight("-33.9,18.4,-18", &s), "");
  EXPECT_DOUBLE_EQ(s.sunAltDeg, -18.0);
  EXPECT_NE(ParseNight("91,0", &s).find("latitude"), std::string::npos);
  EXPECT_NE(ParseNight("45,181", &s).find("longitude"), std::string::npos);
  EXPECT_NE(ParseNight("45,10,-95", &s).find("altitude"), std::string::npos);
  EXPECT_NE(ParseNight("north,10", &s).find("latitude"), std::string::npos);
  EXPECT_NE(ParseNight("45", &s).find("LAT,LON"), std::string::npos);
  EXPECT_NE(ParseNight("45,10,1,2", &s).find("LAT,LON"), std::string::npos);
}

// Published times (upper limb with refraction, the usual almanac horizon of -0.833 degrees):
// London 2024-06-21 sunrise 03:43, sunset 20:21 UTC; New York 2024-06-21 sunrise 09:25, sunset
// 00:31 UTC of the 22nd. Within two minutes.
TEST_F(ScheduleTest, SunriseAndSunsetAgreeWithPublishedTables) {
  time_t rise = 0, set = 0;
  ASSERT_TRUE(SunCrossings(51.5074, -0.1278, -0.833, Utc(2024, 6, 21, 0, 0), &rise, &set));
  EXPECT_NEAR(static_cast<double>(rise), static_cast<double>(Utc(2024, 6, 21, 3, 43)), 120);
  EXPECT_NEAR(static_cast<double>(set), static_cast<double>(Utc(2024, 6, 21, 20, 21)), 120);
  ASSERT_TRUE(SunCrossings(40.7128, -74.0060, -0.833, Utc(2024, 6, 21, 4, 0), &rise, &set));
  EXPECT_NEAR(static_cast<double>(rise), static_cast<double>(Utc(2024, 6, 21, 9, 25)), 120);
  EXPECT_NEAR(static_cast<double>(set), static_cast<double>(Utc(2024, 6, 22, 0, 31)), 120);
}

TEST_F(ScheduleTest, TheNightIsWhileTheSunIsBelowTheAltitude) {
  SchedulePlan s;
  ASSERT_EQ(ParseNight("51.5074,-0.1278", &s), "");
  const CSchedule london(s);
  EXPECT_FALSE(london.IsOn(Utc(2024, 12, 21, 12, 0)));  // midday
  EXPECT_TRUE(london.IsOn(Utc(2024, 12, 21, 23, 0)));   // midnight in winter
  // Midsummer in London the sun sinks to 15 degrees below the horizon (90 - 51.5 - 23.4): a short
  // night around midnight; in Edinburgh it stays above -12 and there is none to record.
  EXPECT_TRUE(london.IsOn(Utc(2024, 6, 21, 0, 0)));
  EXPECT_FALSE(london.IsOn(Utc(2024, 6, 21, 2, 0)));
  ASSERT_EQ(ParseNight("55.95,-3.19", &s), "");
  const CSchedule edinburgh(s);
  for (int h = 0; h < 24; ++h) EXPECT_FALSE(edinburgh.IsOn(Utc(2024, 6, 21, h, 0))) << h;
  // The altitude the window is measured with is the one libnova gives.
  EXPECT_LT(SunAltitudeDeg(51.5074, -0.1278, Utc(2024, 12, 21, 0, 0)), -50.0);
  EXPECT_NEAR(SunAltitudeDeg(51.5074, -0.1278, Utc(2024, 6, 21, 12, 2)), 61.9, 0.5);
}

TEST(StationClock, AFakeClockStartsWhereToldAndRunsFaster) {
  setenv("ULMORA_FAKE_CLOCK", "1000000,60", 1);
  const StationClock clock = MakeStationClock();
  unsetenv("ULMORA_FAKE_CLOCK");
  const time_t first = clock();
  EXPECT_GE(first, 1000000);
  EXPECT_LT(first, 1000000 + 30);
  const StationClock real = MakeStationClock();
  EXPECT_LE(std::labs(static_cast<long>(real() - std::time(nullptr))), 1);
}

}  // namespace
}  // namespace ulmora::batch
