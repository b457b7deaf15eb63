// SER files as a reader of the format sees them: header, frames, the UTC trailer, new files for a new
// size, and names that are never overwritten.
#include <gtest/gtest.h>

#include "rec_test_util.h"
#include "recording/ser_sink.h"
#include "ser_read.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

class SerSink : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE((dir = MakeRecDir()).empty()); }
  void TearDown() override { RemoveRecDir(dir); }
  std::unique_ptr<IRecordSink> Make(const std::string& name) {
    RecordOptions o;
    o.path = dir + "/" + name;
    o.context.deviceName = "Test Camera";
    std::string error;
    auto sink = MakeSerSink(o, error);
    EXPECT_TRUE(sink) << error;
    return sink;
  }
  std::string dir;
};

constexpr int64_t kT0 = 1700000000123456700;  // 2023-11-14T22:13:20.1234567Z

TEST_F(SerSink, FramesHeaderAndTrailerReadBack) {
  for (int bits : {8, 16}) {
    const std::string name = "b" + std::to_string(bits) + ".ser";
    auto sink = Make(name);
    std::vector<TestPicture> pics;
    for (int i = 0; i < 5; ++i) pics.emplace_back(7, 3, bits, 10 + i, kT0 + i * 33'366'700LL);
    std::string error;
    for (auto& p : pics) ASSERT_EQ(sink->Write(p.picture, error), 0) << error;
    EXPECT_TRUE(access((dir + "/" + name + ".part").c_str(), F_OK) == 0 &&
                access((dir + "/" + name).c_str(), F_OK) != 0)
        << "unfinished files keep a name no reader takes for done";
    ASSERT_EQ(sink->Close(error), 0) << error;
    const SerFile f = ReadSer(dir + "/" + name);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.colorId, 0);
    EXPECT_EQ(f.littleEndianFlag, 0) << "little-endian data is flagged 0, as the readers in use take it";
    EXPECT_EQ(f.width, 7);
    EXPECT_EQ(f.height, 3);
    EXPECT_EQ(f.depth, bits);
    EXPECT_EQ(f.instrument, "Test Camera");
    ASSERT_EQ(f.frames, 5);
    ASSERT_EQ(f.ticks.size(), 5u);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(f.pictures[i], pics[i].pixels) << i;
      EXPECT_EQ(f.ticks[i], static_cast<uint64_t>(kSerTicksAt1970 + (kT0 + i * 33'366'700LL) / 100)) << i;
    }
    EXPECT_EQ(sink->BytesWritten(), Slurp(dir + "/" + name).size());
    EXPECT_EQ(sink->Files(), std::vector<std::string>{dir + "/" + name});
  }
}

TEST_F(SerSink, ANewSizeEndsTheFileAndStartsANumberedOne) {
  auto sink = Make("run.ser");
  TestPicture a(8, 4, 8, 1, kT0), b(8, 4, 8, 2, kT0 + 1000), c(6, 6, 8, 3, kT0 + 2000);
  std::string error;
  ASSERT_EQ(sink->Write(a.picture, error), 0);
  ASSERT_EQ(sink->Write(b.picture, error), 0);
  ASSERT_EQ(sink->Write(c.picture, error), 0);
  ASSERT_EQ(sink->Close(error), 0) << error;
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"run-2.ser", "run.ser"}));
  const SerFile first = ReadSer(dir + "/run.ser"), second = ReadSer(dir + "/run-2.ser");
  ASSERT_TRUE(first.ok && second.ok);
  EXPECT_EQ(first.frames, 2);
  EXPECT_EQ(first.ticks.size(), 2u) << "the first file was finished with its trailer";
  EXPECT_EQ(second.frames, 1);
  EXPECT_EQ(second.width, 6);
  EXPECT_EQ(second.pictures[0], c.pixels);
}

TEST_F(SerSink, AnExistingFileIsNeverOverwritten) {
  { std::ofstream(dir + "/taken.ser") << "precious"; }
  auto sink = Make("taken.ser");
  TestPicture a(4, 4, 8, 1, kT0);
  std::string error;
  ASSERT_EQ(sink->Write(a.picture, error), 0);
  ASSERT_EQ(sink->Close(error), 0);
  EXPECT_EQ(Slurp(dir + "/taken.ser"), "precious");
  EXPECT_TRUE(ReadSer(dir + "/taken-2.ser").ok);
}

TEST_F(SerSink, AMissingFolderIsRefusedWithItsName) {
  RecordOptions o;
  o.path = dir + "/nope/x.ser";
  std::string error;
  EXPECT_FALSE(MakeSerSink(o, error));
  EXPECT_NE(error.find("/nope"), std::string::npos) << error;
}

}  // namespace
