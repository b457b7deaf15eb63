// The watchdog's arithmetic on times it is given, and the status document and its atomic file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "graph/stall_watch.h"
#include "graph/station_status.h"
#include "graph/tests/graph_fixture.h"

namespace ulmora::test {
namespace {

TEST(StallWatch, QuietForTheLongerOf5sAndTenFramesIsAStallOnce) {
  EXPECT_EQ(CStallWatch::LimitMs(30.0), 5000);
  EXPECT_EQ(CStallWatch::LimitMs(1.0), 10000);  // a slow camera gets ten of its intervals
  EXPECT_EQ(CStallWatch::LimitMs(0.0), 5000);   // rate not known
  CStallWatch w;
  w.Reset(100, 0);
  EXPECT_FALSE(w.Check(101, 4000, 30.0));  // a frame came: the clock starts again at 4 s
  EXPECT_FALSE(w.Check(101, 9000, 30.0));
  EXPECT_TRUE(w.Check(101, 9001, 30.0));
  EXPECT_FALSE(w.Check(101, 9500, 30.0));  // told once; again only after another limit
  EXPECT_TRUE(w.Check(101, 14002, 30.0));
  EXPECT_EQ(w.Stalls(), 2u);
  EXPECT_FALSE(w.Check(101, 14002 + 9000, 1.0));
}

TEST(StationStatus, DocumentEscapesTextsAndSaysNullForWhatIsNotKnown) {
  StationStatus s;
  s.state = StationState::kReconnecting;
  s.deviceId = "/dev/v4l/by-id/usb-\"cam\"\\x";
  s.deviceName = "Cam\n2";
  s.counters.framesIn = 12;
  s.counters.droppedCamera = 3;
  s.counters.lastFrameUtcMs = 1700000000123;
  const std::string doc = StationStatusJson(s, -1);
  EXPECT_NE(doc.find("\"state\": \"reconnecting\""), std::string::npos) << doc;
  EXPECT_NE(doc.find("usb-\\\"cam\\\"\\\\x"), std::string::npos) << doc;
  EXPECT_NE(doc.find("Cam\\u000a2"), std::string::npos) << doc;
  EXPECT_NE(doc.find("\"camera\": 3"), std::string::npos) << doc;
  EXPECT_NE(doc.find("\"last_frame_utc\": \"2023-11-14T22:13:20.123Z\""), std::string::npos) << doc;
  EXPECT_NE(doc.find("\"capture_free_bytes\": null"), std::string::npos) << doc;
  s.counters.lastFrameUtcMs = -1;
  EXPECT_NE(StationStatusJson(s, 5).find("\"last_frame_utc\": null"), std::string::npos);
}

TEST(StationStatus, FileIsReplacedWholeAndAFailureIsCountedNotFatal) {
  const std::string dir = MakeDir("status");
  ASSERT_FALSE(dir.empty());
  std::string why;
  EXPECT_FALSE(CStatusFile::CheckPath(dir + "/no/such/s.json", &why));
  EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
  EXPECT_FALSE(CStatusFile::CheckPath(dir, &why));
  ASSERT_TRUE(CStatusFile::CheckPath(dir + "/s.json", &why)) << why;
  CStatusFile file(dir + "/s.json");
  StationStatus s;
  s.captureDir = dir;
  ASSERT_TRUE(file.Write(s));
  s.state = StationState::kRecording;
  ASSERT_TRUE(file.Write(s));
  const std::string doc = ReadFile(dir + "/s.json");
  EXPECT_NE(doc.find("\"recording\""), std::string::npos);
  EXPECT_EQ(doc.find("capture_free_bytes\": null"), std::string::npos) << doc;
  struct stat st {};
  ASSERT_EQ(stat((dir + "/s.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  RemoveDir(dir);  // the folder goes under the writer
  EXPECT_FALSE(file.Write(s));
  EXPECT_FALSE(file.Write(s));
  EXPECT_EQ(file.Failures(), 2u);
}

}  // namespace
}  // namespace ulmora::test
