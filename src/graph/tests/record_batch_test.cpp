// ulmora-batch --record on a file: the SER files, read back by a reader of their own, hold what the
// summary says; processed frames equal the BMP captures, raw frames the clip's luminance, sums the sums
// of the raw frames; frames are timed by their buffer times; bad recordings are refused before the run.
#include <unistd.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "common/tests/small_disk.h"
#include "graph/tests/batch_tool.h"

namespace ulmora::test {
namespace {

// The number after `key` in the summary line of recording `path`.
unsigned long SummaryCount(const std::string& out, const std::string& path, const std::string& key) {
  const size_t line = out.find("recording '" + path + "'");
  if (line == std::string::npos) return ~0ul;
  const size_t at = out.find(key, line);
  if (at == std::string::npos || at > out.find('\n', line)) return ~0ul;
  return std::stoul(out.substr(at + key.size()));
}

class RecordBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeDir("recbatch");
    ASSERT_FALSE(dir.empty());
    WriteFile(dir + "/batch.ini", "[nocta]\nProcCountAccum=4\nProcNRH=1\nProcNRV=1\nProcAuto=0\n");
  }
  void TearDown() override { RemoveDir(dir); }
  int Run(const std::string& args, std::string* out) {
    return RunBatchTool(dir, "", "-p '" + dir + "/batch.ini' " + args, out);
  }
  std::string dir;
};

TEST_F(RecordBatchTest, ProcessedRawAndSumRecordingsHoldWhatTheRunMade) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 64 -H 48 -n 24 -r 25 -s 3");
  ASSERT_FALSE(clip.empty());
  ASSERT_EQ(mkdir((dir + "/caps").c_str(), 0755), 0);
  const std::string p = dir + "/p.ser", r = dir + "/r.ser", s = dir + "/s.ser";
  std::string out;
  ASSERT_EQ(Run("-o '" + dir + "/caps' --record '" + p + "' --record-what raw --record '" + r +
                    "' --record-what sum --record '" + s + "' '" + clip + "'",
                &out),
            0)
      << out;
  EXPECT_EQ(SummaryCount(out, p, "frames written "), 6u) << out;
  EXPECT_EQ(SummaryCount(out, r, "frames written "), 24u) << out;
  EXPECT_EQ(SummaryCount(out, s, "frames written "), 6u) << out;
  EXPECT_EQ(SummaryCount(out, r, "dropped by the camera "), 0u) << out;
  EXPECT_EQ(SerCheck("bmp '" + p + "' '" + dir + "/caps'"), "ok 6\n") << "processed frames are the captures";
  EXPECT_EQ(SerCheck("raw '" + r + "' '" + clip + "'"), "ok 24\n") << "raw frames are the clip's luminance";
  EXPECT_EQ(SerCheck("sum '" + s + "' '" + r + "' 4"), "ok 6\n") << "sums are the sums of the raw frames";
  // A file's frames are the run's start plus their buffer times: 40 ms apart, to the tick.
  const std::string summary = SerCheck("summary '" + r + "'");
  EXPECT_NE(summary.find("min_dt_ms=40.000 max_dt_ms=40.000"), std::string::npos) << summary;
  EXPECT_NE(summary.find("flag=0"), std::string::npos) << summary;
  // The sidecar: a line per frame, and its sum bytes counted in the summary.
  const std::string csv = ReadFile(r + ".csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 25) << csv;
  EXPECT_NE(csv.find("\n2,"), std::string::npos);
  EXPECT_EQ(SummaryCount(out, r, "bytes "), ReadFile(r).size() + csv.size()) << out;
}

TEST_F(RecordBatchTest, FitsPicturesHoldTheSumsTheSerFileHolds) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 40 -H 30 -n 16 -r 25 -s 5");
  ASSERT_FALSE(clip.empty());
  std::string out;
  ASSERT_EQ(Run("--no-capture --record-what sum --record '" + dir + "/s.ser' --record '" + dir + "/night.fits' '" +
                    clip + "'",
                &out),
            0)
      << out;
  EXPECT_EQ(SummaryCount(out, dir + "/night.fits", "frames written "), 4u) << out;
  EXPECT_EQ(SerCheck("fits '" + dir + "/night' '" + dir + "/s.ser'"), "ok 4 nframes=4 exptime=1.600000E-01\n");
  const std::string verify =
      "fitsverify -q -e '" + dir + "/night-000001.fits' '" + dir + "/night-000004.fits' >/dev/null";
  EXPECT_EQ(std::system(verify.c_str()), 0);
}

TEST_F(RecordBatchTest, NoCaptureKeepsTheRecordingAndBadRecordingsAreRefusedBeforeTheRun) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 32 -H 16 -n 8");
  ASSERT_FALSE(clip.empty());
  std::string out;
  ASSERT_EQ(Run("--no-capture --record-what raw --record '" + dir + "/a.ser' '" + clip + "'", &out), 0) << out;
  EXPECT_EQ(SerCheck("partial '" + dir + "/a.ser'"), "ok 8\n");
  EXPECT_EQ(BmpNames(dir).size(), 0u);
  struct Bad {
    std::string args, says;
  };
  const Bad bad[] = {
      {"--record '" + dir + "/x.bmp'", "names no recording format"},
      {"--record '" + dir + "/x'", "names no recording format"},
      {"--record '" + dir + "/none/x.ser'", "does not exist"},
      {"--record '" + dir + "/b.ser' --record '" + dir + "/../" + dir.substr(dir.rfind('/') + 1) + "/b.ser'",
       "named by two recordings"},
      {"--record-what sum --record '" + dir + "/b.avi'", "names no recording format"},
      {"--record '" + dir + "/b.ser' --record-what raw", "none follows"},
      {"--record-what all --record '" + dir + "/b.ser'", "processed, raw or sum"},
  };
  for (const Bad& b : bad) {
    EXPECT_EQ(Run("--no-capture " + b.args + " '" + clip + "'", &out), 2) << b.args;
    EXPECT_NE(out.find(b.says), std::string::npos) << b.args << ": " << out;
    EXPECT_EQ(out.find("frames in"), std::string::npos) << "nothing ran: " << out;
  }
  EXPECT_EQ(access((dir + "/b.ser").c_str(), F_OK), -1);
}

TEST_F(RecordBatchTest, AFullDiskStopsTheRecordingWithItsCauseAndAReadableFile) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 64 -H 48 -n 40");
  ASSERT_FALSE(clip.empty());
  const SmallDiskResult res = RunOnSmallDisk(64, [&](const std::string& disk) -> std::string {
    std::string out;
    const int rc = Run("--no-capture --record-what raw --record '" + disk + "/r.ser' '" + clip + "'", &out);
    if (rc != 1) return "status " + std::to_string(rc) + ": " + out;
    if (out.find("recording stopped") == std::string::npos) return "no cause: " + out;
    // The disk guard may stop it before the first picture, when the disk is smaller than its margin.
    if (access((disk + "/r.ser").c_str(), F_OK) != 0)
      return SummaryCount(out, disk + "/r.ser", "frames written ") == 0 ? "" : "frames counted, no file: " + out;
    const std::string check = SerCheck("summary '" + disk + "/r.ser'");
    if (check.rfind("ok frames=", 0) != 0) return check;
    if (std::stoul(check.substr(10)) != SummaryCount(out, disk + "/r.ser", "frames written ")) return check + out;
    return "";
  });
  ASSERT_TRUE(res.ran);
  EXPECT_EQ(res.report, "") << (res.mounted ? "on a small tmpfs" : "under a file-size limit");
}

}  // namespace
}  // namespace ulmora::test
