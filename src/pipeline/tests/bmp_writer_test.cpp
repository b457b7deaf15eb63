// Capture files on real file systems: whole under their final name or not there at all.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "common/tests/small_disk.h"
#include "pipeline/bmp_writer.h"
#include "session_fixture.h"

namespace ulmora::test {
namespace {

struct Picture {
  std::vector<uint8_t> bits = std::vector<uint8_t>(64 * 3 * 48, 0x5A);
  BitmapFileHeader file{};
  BitmapInfoHeader info{};
  Picture() { file.bfSize = static_cast<uint32_t>(bits.size() + kBitmapHeadersSize); }
  size_t Bytes() const { return bits.size() + kBitmapHeadersSize; }
  BmpWriteOutcome WriteTo(std::string& path, uint64_t keepFree = 0) {
    char buf[kTextSize] = {};
    memcpy(buf, path.c_str(), path.size() + 1);
    BmpWriteOutcome r = WriteCaptureBmp(buf, sizeof buf, file, info, bits.data(),
                                        static_cast<uint32_t>(bits.size()), keepFree);
    path = buf;
    return r;
  }
};

class BmpWriter : public ::testing::Test {
 protected:
  void SetUp() override { dir = MakeTempDir("bmp") + "/"; }
  void TearDown() override { RemoveTree(dir); }
  LogCapture log;
  std::string dir;
};

TEST_F(BmpWriter, ATakenNameOrAPlantedLinkIsNeverReplacedNorFollowed) {
  Picture pic;
  std::string first = dir + "00001.bmp";
  ASSERT_EQ(pic.WriteTo(first).result, BmpWriteResult::kWritten);
  EXPECT_EQ(first, dir + "00001.bmp");

  // The same name again, and a link planted under the next number pointing at a file of the user's.
  std::string again = dir + "00001.bmp";
  BmpWriteOutcome r = pic.WriteTo(again);
  ASSERT_EQ(r.result, BmpWriteResult::kWritten);
  EXPECT_TRUE(r.renamed);
  EXPECT_EQ(again, dir + "00001-2.bmp");
  const std::string precious = dir + "precious.txt";
  std::ofstream(precious) << "keep";
  ASSERT_EQ(symlink(precious.c_str(), (dir + "00002.bmp").c_str()), 0);
  std::string linked = dir + "00002.bmp";
  ASSERT_EQ(pic.WriteTo(linked).result, BmpWriteResult::kWritten);
  EXPECT_EQ(linked, dir + "00002-2.bmp");

  EXPECT_EQ(ReadFile(precious), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"00001-2.bmp", "00001.bmp", "00002-2.bmp", "00002.bmp",
                                                    "precious.txt"}));
  for (const char* name : {"00001.bmp", "00001-2.bmp", "00002-2.bmp"})
    EXPECT_EQ(ReadFile(dir + name).size(), pic.Bytes()) << name;
  EXPECT_TRUE(log.Contains("Capture name " + dir + "00001.bmp is taken: written as 00001-2.bmp"));
}

TEST_F(BmpWriter, AFullDiskLeavesNoFileAndSaysWhy) {
  // Room for two pictures and part of a third.
  const SmallDiskResult r = RunOnSmallDisk(24, [](const std::string& disk) -> std::string {
    Picture pic;
    int written = 0;
    BmpWriteOutcome last;
    for (int n = 1; n <= 4; ++n) {
      std::string path = disk + "/" + std::to_string(n) + ".bmp";
      last = pic.WriteTo(path);
      if (last.result != BmpWriteResult::kWritten) break;
      ++written;
    }
    if (written < 1 || written > 2) return "wrote " + std::to_string(written) + " pictures";
    if (last.result != BmpWriteResult::kWriteFailed) return "the failure was not a write failure";
    if (last.error != ENOSPC && last.error != EFBIG) return std::string("cause: ") + strerror(last.error);
    for (const std::string& name : ListDir(disk))
      if (ReadFile(disk + "/" + name).size() != pic.Bytes()) return name + " is not whole";
    if (ListDir(disk).size() != static_cast<size_t>(written)) return "a temporary file was left";
    return "";
  });
  ASSERT_TRUE(r.ran);
  EXPECT_EQ(r.report, "") << (r.mounted ? "on a small tmpfs" : "under a file-size limit");
}

TEST_F(BmpWriter, TheFreeSpaceGuardStopsBeforeTheDiskIsFullAndAMissingFolderIsACreateFailure) {
  Picture pic;
  std::string path = dir + "a.bmp";
  BmpWriteOutcome r = pic.WriteTo(path, uint64_t{1} << 62);
  EXPECT_EQ(r.result, BmpWriteResult::kNoRoom);
  EXPECT_EQ(r.error, ENOSPC);
  EXPECT_TRUE(ListDir(dir).empty());
  EXPECT_EQ(pic.WriteTo(path, 1024).result, BmpWriteResult::kWritten) << "a small margin is there";

  std::string gone = dir + "gone/a.bmp";
  r = pic.WriteTo(gone);
  EXPECT_EQ(r.result, BmpWriteResult::kCreateFailed);
  EXPECT_EQ(r.error, ENOENT);
  EXPECT_TRUE(log.Contains("Can`t create capture bmp file..."));
}

TEST_F(BmpWriter, TemporariesOfDeadRunsAreRemovedAndLiveOnesKept) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);  // its pid now names no process
  const std::string dead = ".ulmora-" + std::to_string(child) + "-7.part";
  const std::string live = ".ulmora-" + std::to_string(getpid()) + "-1.part";
  for (const std::string& name : {dead, live, std::string(".ulmora-notes.part"), std::string("00001.bmp")})
    std::ofstream(dir + name) << "x";
  EXPECT_EQ(RemoveStaleCaptureTemps(dir.c_str()), 1);
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{live, ".ulmora-notes.part", "00001.bmp"}));
}

}  // namespace
}  // namespace ulmora::test
