// ulmora-batch --record on the simulated camera: UTC times from the pipeline clock near the wall
// clock, camera drops found from the sequence numbers exactly where the camera lost frames, and a SER
// file that a killed run leaves readable.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <thread>

#include "graph/tests/batch_tool.h"

namespace ulmora::test {
namespace {

double WallNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct CsvLine {
  double utc = 0;
  unsigned long long sequence = 0, camera = 0;
};

// "index,2024-01-02T03:04:05.123456Z,buffer,sequence,camera,chain,writer"
std::vector<CsvLine> ReadSidecar(const std::string& path) {
  std::vector<CsvLine> lines;
  std::istringstream in(ReadFile(path));
  std::string l;
  std::getline(in, l);  // column names
  while (std::getline(in, l)) {
    tm t{};
    int us = 0;
    double buffer = 0;
    unsigned long long index = 0;
    CsvLine c;
    if (std::sscanf(l.c_str(), "%llu,%d-%d-%dT%d:%d:%d.%dZ,%lf,%llu,%llu", &index, &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &us, &buffer, &c.sequence, &c.camera) != 11)
      continue;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    c.utc = static_cast<double>(timegm(&t)) + us / 1e6;
    lines.push_back(c);
  }
  return lines;
}

class LiveRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE((dir = MakeDir("liverec")).empty()); }
  void TearDown() override { RemoveDir(dir); }
  std::string dir;
};

TEST_F(LiveRecordTest, CameraDropsAreFoundWhereTheCameraLostFramesAndTimesAreUtc) {
  const std::string r = dir + "/r.ser";
  std::string out;
  const double before = WallNow();
  ASSERT_EQ(RunBatchTool(
                dir, "XDG_CONFIG_HOME='" + dir + "/config' ULMORA_SIM_CAMERA=320x240@30,drop-every=5",
                "-q --device sim:0 --seconds 2 --no-capture -s ProcCountAccum=1 --record-what raw --record '" + r + "'",
                &out),
            0)
      << out;
  const double after = WallNow();
  const std::vector<CsvLine> lines = ReadSidecar(r + ".csv");
  ASSERT_GE(lines.size(), 12u) << out;
  // After every 5 frames the camera lost one: sequence numbers 5, 11, 17, ... never came (a machine too
  // busy to keep up may lose more, and those are the camera's too).
  unsigned long long missing = 0, carried = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].sequence % 6, 5u) << lines[i].sequence << "\n" << out;
    carried += lines[i].camera;
    if (i == 0) continue;
    const unsigned long long gap = lines[i].sequence - lines[i - 1].sequence - 1;
    missing += gap;
    EXPECT_EQ(lines[i].camera, gap) << "line " << i << "\n" << out;
    // Frames 33.3 ms apart, a lost one makes 66.7.
    EXPECT_NEAR(lines[i].utc - lines[i - 1].utc, (gap + 1) / 30.0, 0.0015) << "line " << i << "\n" << out;
  }
  EXPECT_GE(missing, 3u);
  EXPECT_EQ(carried, missing);
  const size_t at = out.find("dropped by the camera ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(std::stoull(out.substr(at + 22)), missing) << out;
  EXPECT_NE(out.find("the chain 0, the writer 0"), std::string::npos) << out;
  // The pipeline clock, anchored to the realtime clock, puts the frames within the run's wall time.
  EXPECT_GT(lines.front().utc, before - 1.0);
  EXPECT_LT(lines.back().utc, after + 1.0);
  EXPECT_EQ(SerCheck("partial '" + r + "'"), "ok " + std::to_string(lines.size()) + "\n");
}

TEST_F(LiveRecordTest, ASerFileOfAKilledRunOpensWithEveryFrameItsHeaderCounts) {
  const std::string r = dir + "/k.ser";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("ULMORA_SIM_CAMERA", "640x480@30", 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    const std::string record = "--record=" + r;
    execl(ULMORA_BATCH_EXE, ULMORA_BATCH_EXE, "-q", "--device", "sim:0", "--no-capture", "--record-what=raw",
          record.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The header's count is brought up to date every few seconds: wait for a count, then kill.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string check;
  while (std::chrono::steady_clock::now() < end) {
    check = SerCheck("partial '" + r + ".part'");
    if (check.rfind("ok", 0) == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // killed in mid-frame, most likely
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  check = SerCheck("partial '" + r + ".part'");
  EXPECT_EQ(check.rfind("ok ", 0), 0u) << check;
  EXPECT_GE(std::stoi(check.substr(3)), 1);
  EXPECT_EQ(access(r.c_str(), F_OK), -1) << "an unfinished file never takes the finished one's name";
}

}  // namespace
}  // namespace ulmora::test
