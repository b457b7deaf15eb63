// The session's recordings fed by the frame path: raw frames, finished sums and processed pictures
// with their times and numbers, drops by cause, and all-or-none starts.
#include <gtest/gtest.h>

#include <random>

#include "recording/tests/ser_read.h"
#include "session_fixture.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

constexpr int32_t kW = 10, kH = 4, kStride = 20;  // YUY2 rows

// A format whose files can never be opened, as a sink on a device that has gone.
std::unique_ptr<IRecordSink> MakeBroken(const RecordOptions&, std::string& error) {
  error = "the device went away";
  return nullptr;
}

class SessionRecording : public SessionTest {
 protected:
  void Start(CSG& sg) {
    sg.Processor().SetWindows(&win, &win);
    sg.SetPacing(false);
    sg.SetSubtype(kFourccYUY2);
    ASSERT_EQ(sg.SetVideoSize(kW, kH), 1);
    sg.SetFrameRate(25.0);
    sg.SetLiveSource(true);
    sg.RequestReprocess();
  }
  // Frame n of a live camera: its driver sequence, its clock time, an anchor 1 s of UTC off the clock.
  void Feed(CSG& sg, uint64_t sequence, std::vector<uint8_t>& levels) {
    std::mt19937 rng(static_cast<uint32_t>(sequence) + 7);
    std::vector<uint8_t> buf(static_cast<size_t>(kStride) * kH);
    for (auto& b : buf) b = static_cast<uint8_t>(rng() % 120);
    levels.assign(static_cast<size_t>(kW) * kH, 0);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) levels[y * kW + x] = buf[y * kStride + 2 * x];
    Sample s{buf.data(), static_cast<int32_t>(buf.size()), kStride};
    s.sequence = sequence;
    s.clockNs = 5'000'000'000LL + static_cast<int64_t>(sequence) * 40'000'000;
    s.anchorClockNs = 5'000'000'000LL;
    s.anchorUtcNs = kUtcAtAnchor;
    sg.SampleCB(static_cast<double>(sequence) * 0.04, &s);
  }
  RecordOptions Rec(const std::string& name, RecordWhat what) {
    RecordOptions o;
    o.path = root + "/" + name;
    o.what = what;
    return o;
  }
  static constexpr int64_t kUtcAtAnchor = 1'700'000'000'000'000'000LL;
  RecordingWindow win;
};

TEST_F(SessionRecording, RawSumAndProcessedPicturesAreRecordedWithTheirTimesAndDrops) {
  Override("ProcCountAccum", "2");
  CSG sg;
  Start(sg);
  std::string error;
  ASSERT_EQ(sg.StartRecording({Rec("raw.ser", RecordWhat::kRaw), Rec("sum.ser", RecordWhat::kSum),
                               Rec("proc.ser", RecordWhat::kProcessed)},
                              error),
            0)
      << error;
  EXPECT_TRUE(sg.Recording().active);
  // Sequence 3 never comes: the camera lost it.
  const std::vector<uint64_t> sequences = {0, 1, 2, 4, 5, 6};
  std::vector<std::vector<uint8_t>> levels(sequences.size());
  std::vector<std::vector<uint8_t>> shown;
  for (size_t i = 0; i < sequences.size(); ++i) {
    Feed(sg, sequences[i], levels[i]);
    if (i % 2 == 1) {
      const CImageBuf& img = sg.FrProc().img;
      std::vector<uint8_t> grey(static_cast<size_t>(kW) * kH);
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) grey[y * kW + x] = img.bits[y * img.stride + 3 * x];
      shown.push_back(grey);
    }
  }
  EXPECT_EQ(sg.FrameCounts().framesIn.load(), 6u);
  EXPECT_EQ(sg.FrameCounts().droppedCamera.load(), 1u);
  EXPECT_EQ(sg.FrameCounts().lastSequence.load(), 6u);
  EXPECT_EQ(sg.FrameCounts().lastUtcNs.load(), kUtcAtAnchor + 6 * 40'000'000LL);
  sg.StopRecording();
  sg.StopRecording();  // a second stop does nothing

  const RecordingStatus st = sg.Recording();
  EXPECT_FALSE(st.active);
  ASSERT_EQ(st.recordings.size(), 3u);
  EXPECT_EQ(st.recordings[0].frames, 6u);
  EXPECT_EQ(st.recordings[1].frames, 3u);
  EXPECT_EQ(st.recordings[2].frames, 3u);
  for (const auto& r : st.recordings) EXPECT_EQ(r.drops.camera, 1u) << r.path;
  EXPECT_EQ(st.frames, 12u);

  const SerFile raw = ReadSer(root + "/raw.ser"), sum = ReadSer(root + "/sum.ser"), proc = ReadSer(root + "/proc.ser");
  ASSERT_TRUE(raw.ok && sum.ok && proc.ok);
  ASSERT_EQ(raw.frames, 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(raw.pictures[i], levels[i]) << "raw frame " << i << " is the input's luminance";
    EXPECT_EQ(raw.ticks[i], static_cast<uint64_t>(kTicks1970 + (kUtcAtAnchor + sequences[i] * 40'000'000LL) / 100));
  }
  ASSERT_EQ(sum.frames, 3);
  EXPECT_EQ(sum.depth, 16);
  for (int k = 0; k < 3; ++k) {
    for (int p = 0; p < kW * kH; ++p) {
      const int want = levels[2 * k][p] + levels[2 * k + 1][p];
      ASSERT_EQ(sum.pictures[k][2 * p] | sum.pictures[k][2 * p + 1] << 8, want) << "sum " << k << " pixel " << p;
    }
    // A sum is timed by its first frame.
    EXPECT_EQ(sum.ticks[k], raw.ticks[2 * k]);
    EXPECT_EQ(proc.pictures[k], shown[k]) << "processed picture " << k;
  }
  // The sidecar: a line per sum, the lost frame on the sum after it.
  const std::vector<uint8_t> csv = ReadFile(root + "/sum.ser.csv");
  const std::string text(csv.begin(), csv.end());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
  EXPECT_NE(text.find("\n2,2023-11-14T22:13:20.080000Z,0.080000,2,1,0,0\n"), std::string::npos) << text;
}

TEST_F(SessionRecording, AStartIsAllOrNoneAndRefusalsSayWhy) {
  CSG sg;
  Start(sg);
  std::string error;
  EXPECT_EQ(sg.StartRecording({Rec("a.ser", RecordWhat::kRaw), Rec("gone/b.ser", RecordWhat::kRaw)}, error), ENOENT);
  EXPECT_NE(error.find("gone"), std::string::npos) << error;
  EXPECT_FALSE(sg.Recording().active);
  EXPECT_EQ(sg.StartRecording({Rec("a.ser", RecordWhat::kRaw), Rec("a.ser", RecordWhat::kSum)}, error), EINVAL);
  EXPECT_NE(error.find("two recordings"), std::string::npos) << error;
  EXPECT_EQ(sg.StartRecording({Rec("a.avi", RecordWhat::kRaw)}, error), EINVAL);
  RegisterRecordFormat({"grey8", &MakeBroken, false});
  EXPECT_EQ(sg.StartRecording({Rec("a.grey8", RecordWhat::kSum)}, error), EINVAL);
  EXPECT_NE(error.find("cannot hold the 16-bit sum"), std::string::npos) << error;
  // A recording whose format cannot open takes back the ones opened before it.
  RegisterRecordFormat({"broken", &MakeBroken, true});
  EXPECT_EQ(sg.StartRecording({Rec("a.ser", RecordWhat::kRaw), Rec("b.broken", RecordWhat::kRaw)}, error), EIO);
  EXPECT_EQ(error, "The device went away.");
  EXPECT_EQ(ListDir(root), std::vector<std::string>{"caps"}) << "nothing of a refused start is left";
  sg.StopRecording();  // safe when nothing records
  ASSERT_EQ(sg.StartRecording({Rec("a.ser", RecordWhat::kRaw)}, error), 0) << error;
  EXPECT_EQ(sg.StartRecording({Rec("c.ser", RecordWhat::kRaw)}, error), EBUSY);
  sg.StopRecording();
}

}  // namespace
