// The writer thread: what is offered is written in order with its sidecar line, a full queue counts
// writer drops without ever making the offering thread wait, and a failed write ends the recording
// with its cause and leaves a whole file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <sstream>

#include "rec_test_util.h"
#include "recording/record_writer.h"
#include "ser_read.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

constexpr int64_t kT0 = 1700000000000000000;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// A sink held shut by the test, so the queue fills for certain: it stands for a disk that is slow.
std::atomic<bool> g_gateOpen{true};
std::atomic<int> g_gateWrites{0};
struct GateSink : IRecordSink {
  int Write(const RecordPicture&, std::string&) override {
    while (!g_gateOpen.load()) g_gateOpen.wait(false);
    g_gateWrites.fetch_add(1);
    return 0;
  }
  int Close(std::string&) override { return 0; }
  uint64_t BytesWritten() const override { return 0; }
};
std::unique_ptr<IRecordSink> MakeGate(const RecordOptions&, std::string&) { return std::make_unique<GateSink>(); }

class RecordWriter : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE((dir = MakeRecDir()).empty()); }
  void TearDown() override { RemoveRecDir(dir); }
  std::unique_ptr<CRecordWriter> Open(const std::string& name, uint32_t depth) {
    RecordOptions o;
    o.path = dir + "/" + name;
    int err = 0;
    std::string error;
    auto w = CRecordWriter::Open(o, depth, err, error);
    EXPECT_TRUE(w) << error;
    return w;
  }
  std::string dir;
};

TEST_F(RecordWriter, ViewsAreCopiedTopDownAsGreyAndEachGetsItsSidecarLine) {
  auto w = Open("v.ser", 8);
  ASSERT_TRUE(w);
  // A 3 x 2 B, G, R store kept bottom-up with padded rows, as the frame stores are.
  const uint8_t store[2][12] = {{10, 0, 0, 11, 0, 0, 12, 0, 0, 9, 9, 9}, {20, 0, 0, 21, 0, 0, 22, 0, 0, 9, 9, 9}};
  RecordPicture p;
  p.width = 3;
  p.height = 2;
  p.stride = -12;
  p.bits = store[1];
  p.pixelStep = 3;
  p.stamp.utcNs = kT0;
  p.stamp.bufferTime = 1.5;
  p.stamp.sequence = 41;
  w->AddDrops(2, 1);
  ASSERT_TRUE(w->Offer(p));
  p.stamp.sequence = 42;
  p.stamp.utcNs = kT0 + 40'000'000;
  ASSERT_TRUE(w->Offer(p));
  ASSERT_EQ(w->Close(), 0) << w->EndCause();
  const SerFile f = ReadSer(dir + "/v.ser");
  ASSERT_TRUE(f.ok);
  ASSERT_EQ(f.frames, 2);
  EXPECT_EQ(f.pictures[0], (std::vector<uint8_t>{20, 21, 22, 10, 11, 12}));
  EXPECT_EQ(w->Frames(), 2u);
  EXPECT_EQ(w->Drops().camera, 2u);
  EXPECT_EQ(w->Drops().chain, 1u);
  const auto lines = Lines(Slurp(dir + "/v.ser.csv"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "index,utc,buffer_time_s,sequence,dropped_camera,dropped_chain,dropped_writer");
  EXPECT_EQ(lines[1], "1,2023-11-14T22:13:20.000000Z,1.500000,41,2,1,0");
  EXPECT_EQ(lines[2], "2,2023-11-14T22:13:20.040000Z,1.500000,42,0,0,0");
  EXPECT_EQ(w->Bytes(), Slurp(dir + "/v.ser").size() + Slurp(dir + "/v.ser.csv").size());
}

TEST_F(RecordWriter, GreyBytesAreWidenedFor16BitRecordings) {
  auto w = Open("w.ser", 4);
  ASSERT_TRUE(w);
  const uint8_t grey[4] = {1, 2, 255, 0};
  RecordPicture p;
  p.width = 2;
  p.height = 2;
  p.stride = 2;
  p.bits = grey;
  p.bitsPerPixel = 16;
  p.sourceBitsPerPixel = 8;
  ASSERT_TRUE(w->Offer(p));
  ASSERT_EQ(w->Close(), 0);
  const SerFile f = ReadSer(dir + "/w.ser");
  ASSERT_EQ(f.frames, 1);
  EXPECT_EQ(f.pictures[0], (std::vector<uint8_t>{1, 0, 2, 0, 255, 0, 0, 0}));
}

TEST_F(RecordWriter, AFullQueueCountsWriterDropsAndTheNextPictureCarriesThem) {
  RegisterRecordFormat({"gate", &MakeGate, true});
  g_gateOpen.store(false);
  auto w = Open("g.gate", 4);
  ASSERT_TRUE(w);
  TestPicture t(16, 16, 8, 1, kT0);
  int taken = 0;
  for (int i = 0; i < 10; ++i) taken += w->Offer(t.picture) ? 1 : 0;  // never waits: the gate is shut
  EXPECT_EQ(taken, 4);
  EXPECT_EQ(w->Drops().writer, 6u);
  g_gateOpen.store(true);
  g_gateOpen.notify_all();
  while (g_gateWrites.load() < 4) std::this_thread::yield();
  ASSERT_TRUE(w->Offer(t.picture));
  ASSERT_EQ(w->Close(), 0);
  const auto lines = Lines(Slurp(dir + "/g.gate.csv"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[5].substr(lines[5].rfind(',')), ",6");
  EXPECT_EQ(w->Frames(), 5u);
}

TEST_F(RecordWriter, AFailedWriteEndsTheRecordingWithItsCauseAndAWholeFile) {
  auto w = Open("f.ser", 64);
  ASSERT_TRUE(w);
  TestPicture t(100, 100, 8, 1, kT0);
  // The file system refuses more than 50 kB to this process, as a full disk would.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 50'000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 8; ++i) {
    w->Offer(t.picture);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const int err = w->Close();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(err, EFBIG);
  EXPECT_NE(w->EndCause().find("f.ser"), std::string::npos) << w->EndCause();
  EXPECT_FALSE(w->Offer(t.picture)) << "nothing is taken after the failure";
  EXPECT_EQ(w->Drops().writer, 0u);
  // The frames before the failure stay readable, under the file's own name.
  const SerFile f = ReadSer(dir + "/f.ser");
  ASSERT_TRUE(f.ok) << "finished whole";
  EXPECT_EQ(static_cast<uint64_t>(f.frames), w->Frames());
  EXPECT_LE(f.frames, 4);
}

TEST_F(RecordWriter, TheDiskGuardStopsTheRecordingWithItsCauseBeforeTheDiskIsFull) {
  RecordOptions o;
  o.path = dir + "/guard.ser";
  o.keepFreeBytes = uint64_t{1} << 62;  // more than any disk has
  int err = 0;
  std::string error;
  auto w = CRecordWriter::Open(o, 4, err, error);
  ASSERT_TRUE(w) << error;
  TestPicture t(16, 16, 8, 1, kT0);
  w->Offer(t.picture);
  EXPECT_EQ(w->Close(), ENOSPC);
  EXPECT_NE(w->EndCause().find("MB free"), std::string::npos) << w->EndCause();
  EXPECT_EQ(w->Frames(), 0u);
  EXPECT_FALSE(ReadSer(dir + "/guard.ser").ok) << "a file is made only for a picture it takes";
}

TEST_F(RecordWriter, ANameWithoutAFormatIsRefused) {
  RecordOptions o;
  o.path = dir + "/x.bmp";
  int err = 0;
  std::string error;
  EXPECT_FALSE(CRecordWriter::Open(o, 4, err, error));
  EXPECT_EQ(err, EINVAL);
  EXPECT_NE(error.find("x.bmp"), std::string::npos);
  EXPECT_TRUE(Names(dir).empty());
}

}  // namespace
