// The grabber session on the GUI thread: keys, directories, format, rates and capture control.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "processing/stages.h"  // StageAccess: a sum under way, as the streaming thread leaves it
#include "session_fixture.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

class SessionKeys : public SessionTest {
 protected:
  // What the file holds, without this run's overrides.
  std::string Stored(const char* key) {
    ProfileClearOverrides();
    char text[300];
    ProfileGetString(kSectionNocta, key, "<missing>", text, sizeof text);
    return text;
  }
};

}  // namespace

TEST_F(SessionKeys, ConstructionReadsTheKeysAndSetsTheInitialState) {
  Override("CapCount", "7");
  Override("CapFramesDelay", "3");
  Override("CSGViewLive", "0");
  Override("CapFormat", "run%f");
  CSG sg;
  EXPECT_EQ(sg.Capture().nCapCount, 7u);
  EXPECT_EQ(sg.Capture().nFramesDelay, 3u);
  EXPECT_EQ(sg.Modes().bViewLive, 0);
  EXPECT_STREQ(sg.CapFormat(), "run%f");
  EXPECT_EQ(std::string(sg.WorkDir()), capDir);
  EXPECT_EQ(sg.Names().nWorkDirLen, static_cast<int32_t>(capDir.size()));
  sg.BuildCaptureName(0.0);
  EXPECT_EQ(std::string(sg.Path()), capDir + "run00001.bmp");
  EXPECT_EQ(sg.Stream().pName, sg.Path() + capDir.size());
  EXPECT_EQ(sg.Capture().nDelayMs, 100) << "3 frames at 29.97 pictures per second";
  EXPECT_EQ(sg.GetFrameRate(), 29.97);
  EXPECT_EQ(sg.Modes().nRunState.load(), 0);
  EXPECT_EQ(sg.Stream().bFirstSum.load(), 0);
  EXPECT_EQ(sg.Capture().bCapture.load(), 0);
  EXPECT_EQ(sg.Modes().bActive, 0);
  EXPECT_EQ(sg.Modes().bLiveSource, 0);
  EXPECT_EQ(sg.Format().fccSubtype, 0u);
  const BitmapFileHeader bfh = sg.Stream().bfhCapture;  // packed: compare copies, not references into it
  const uint16_t type = bfh.bfType;
  const uint32_t offBits = bfh.bfOffBits, size = bfh.bfSize;
  EXPECT_EQ(type, 0x4D42);
  EXPECT_EQ(offBits, 54u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(sg.FrLive().nStretchMode, 3);
  EXPECT_EQ(sg.FrProc().nStretchMode, 3);
  EXPECT_EQ(sg.BufferCB(1.0, nullptr, 0), 0);
}

TEST_F(SessionKeys, DefaultsWithoutAProfile) {
  ProfileClearOverrides();
  setenv("TMPDIR", root.c_str(), 1);
  CSG sg;
  unsetenv("TMPDIR");
  EXPECT_STREQ(sg.CapFormat(), "#cap%n#_%f");
  EXPECT_EQ(sg.Capture().nCapCount, 1u);
  EXPECT_EQ(sg.Capture().nFramesDelay, 0u);
  EXPECT_EQ(sg.Modes().bViewLive, 1);
  EXPECT_STREQ(sg.WorkDir(), "/tmp/");
}

TEST_F(SessionKeys, AMissingOrEmptyDirectoryStartsInTheTemporaryDirectory) {
  setenv("TMPDIR", root.c_str(), 1);
  for (const char* dir : {"", "/no/such/directory/", "/etc/hostname"}) {
    Override("CapWorkDir", dir);
    CSG sg;
    EXPECT_EQ(std::string(sg.WorkDir()), root + "/") << "key '" << dir << "'";
    EXPECT_EQ(sg.Names().nWorkDirLen, static_cast<int32_t>(root.size() + 1));
  }
  unsetenv("TMPDIR");
}

TEST_F(SessionKeys, OnlyTheActiveSessionWritesItsKeys) {
  {
    CSG sg;
    sg.SetCapCount(9);
    sg.SetFramesDelay(2);
  }
  EXPECT_EQ(Stored("CapCount"), "<missing>");
  EXPECT_EQ(Stored("ProcAmp"), "<missing>");
  EXPECT_EQ(Stored("ViewMode"), "<missing>");
  ApplyOverrides();
  {
    CSG sg;
    sg.SetActive(true);
    EXPECT_TRUE(sg.Processor().SavesSettings());
    EXPECT_EQ(sg.FrProc().bPersist, 1);
    EXPECT_EQ(sg.FrLive().bPersist, 0) << "only the processed frame persists its view mode";
    sg.SetCapCount(4294967295u);
    sg.SetFramesDelay(2);
    sg.SetCapFormat("night%t");
    ASSERT_EQ(sg.SetWorkDir(capDir.c_str()), 1);
    sg.SetViewLive(false);
    sg.Processor().SetAmp(40);
  }
  EXPECT_EQ(Stored("CapCount"), "4294967295");
  EXPECT_EQ(Stored("CapFramesDelay"), "2");
  EXPECT_EQ(Stored("CapFormat"), "night%t");
  EXPECT_EQ(Stored("CapWorkDir"), capDir);
  EXPECT_EQ(Stored("CSGViewLive"), "0");
  EXPECT_EQ(Stored("ProcAmp"), "40");
  EXPECT_EQ(Stored("ViewMode"), "3");

  // Deactivating again means nothing more is written.
  ApplyOverrides();
  {
    CSG sg;
    sg.SetActive(true);
    sg.SetActive(false);
    sg.SetCapCount(5);
  }
  EXPECT_EQ(Stored("CapCount"), "4294967295");
}

TEST_F(SessionKeys, EmptyTextsAreNotWritten) {
  {
    CSG sg;
    sg.SetActive(true);
    sg.SetCapFormat("");
  }
  EXPECT_EQ(Stored("CapFormat"), "<missing>");
}

TEST_F(SessionTest, AnEmptiedDirectoryAcceptsANewOne) {
  CSG sg;
  std::string tooLong(250, 'z');
  memcpy(SessionAccess::Names(sg).szWorkDir, tooLong.c_str(), tooLong.size() + 1);
  EXPECT_EQ(sg.SetWorkDir(nullptr), 0) << "an over-long directory is emptied";
  EXPECT_STREQ(sg.WorkDir(), "");
  EXPECT_EQ(sg.Names().nWorkDirLen, 0);
  EXPECT_EQ(sg.SetWorkDir(nullptr), 0);
  EXPECT_EQ(sg.SetWorkDir(capDir.c_str()), 1) << "the user can still choose a directory";
  sg.BuildCaptureName(0.0);
  EXPECT_EQ(std::string(sg.Path(), capDir.size()), capDir);
  // The GUI may hand the current text back.
  EXPECT_EQ(sg.SetWorkDir(sg.WorkDir()), 1);
  EXPECT_EQ(std::string(sg.WorkDir()), capDir);
}

TEST_F(SessionTest, BothSessionsShareTheDirectoryAndTheTemplate) {
  CSG live, file;
  std::string other = root + "/other/";
  ASSERT_EQ(live.SetWorkDir(other.c_str()), 1);
  live.SetCapFormat("shared%f");
  EXPECT_EQ(std::string(file.WorkDir()), other);
  EXPECT_STREQ(file.CapFormat(), "shared%f");
  // The other session's own path and tokens follow when its capture starts.
  EXPECT_EQ(file.StartCapture(1), 0);
  EXPECT_EQ(file.Names().nWorkDirLen, static_cast<int32_t>(other.size()));
  file.BuildCaptureName(0.0);
  EXPECT_EQ(std::string(file.Path()), other + "shared00001.bmp");
}

TEST_F(SessionTest, FrameRatesBelowOneBecomeTheDefault) {
  CSG sg;
  sg.SetFrameRate(25.0);
  EXPECT_EQ(sg.GetFrameRate(), 25.0);
  EXPECT_EQ(sg.Processor().Counters().dFrameRate.load(), 25.0);
  for (double bad : {0.5, 0.0, -30.0, std::nan(""), static_cast<double>(INFINITY)}) {
    sg.SetFrameRate(bad);
    EXPECT_EQ(sg.GetFrameRate(), 29.97) << bad;
    EXPECT_EQ(sg.Processor().Counters().dFrameRate.load(), 29.97) << bad;
  }
  sg.SetFrameRate(1.0);
  EXPECT_EQ(sg.GetFrameRate(), 1.0);
}

TEST_F(SessionTest, CaptureIntervalInMillisecondsFollowsTheOutputRate) {
  CSG sg;
  sg.SetFramesDelay(0);
  EXPECT_EQ(sg.Capture().nDelayMs, 0);
  sg.SetFrameRate(16.0);
  sg.SetFramesDelay(1);
  EXPECT_EQ(sg.Capture().nDelayMs, 62) << "62.5 rounds to even";
  sg.SetFramesDelay(3);
  EXPECT_EQ(sg.Capture().nDelayMs, 188) << "187.5 rounds to even";
  // The processor tells its session when the picture rate changes.
  sg.Processor().SetCountAccum(4);
  EXPECT_EQ(sg.Capture().nDelayMs, 750);
  sg.Processor().SetTimeDelay(100);  // one frame in three, sums of four: 2 pictures per second
  EXPECT_EQ(sg.Capture().nDelayMs,
            static_cast<int32_t>(std::nearbyint(3 * 1000.0 / sg.Processor().Counters().dOutRate.load())));
  EXPECT_EQ(sg.Capture().nDelayMs, 1500);
  sg.SetFrameRate(32.0);
  EXPECT_EQ(sg.Capture().nDelayMs,
            static_cast<int32_t>(std::nearbyint(3 * 1000.0 / sg.Processor().Counters().dOutRate.load())));
  SessionAccess::Capture(sg).nSkipLeft.store(5);
  sg.SetFramesDelay(0);
  EXPECT_EQ(sg.Capture().nSkipLeft.load(), 0);
  EXPECT_EQ(sg.Capture().nDelayMs, 0);
}

TEST_F(SessionTest, StartCaptureResetsTheRunAndKeepsTheTotal) {
  CSG sg;
  EXPECT_EQ(sg.StartCapture(1), 0);
  EXPECT_EQ(sg.Capture().bCapture.load(), 1);
  SessionAccess::Capture(sg).nCaptured.store(5);
  SessionAccess::Capture(sg).nSkipLeft.store(3);
  EXPECT_EQ(sg.StartCapture(0), 1);
  EXPECT_EQ(sg.Capture().nCaptured.load(), 5u) << "stopping keeps the count for the finished-capture text";
  EXPECT_EQ(sg.StartCapture(1), 0);
  EXPECT_EQ(sg.Capture().nCapTotal, 5u);
  EXPECT_EQ(sg.Capture().nCaptured.load(), 0u);
  EXPECT_EQ(sg.Capture().nSkipLeft.load(), 0);
  SessionAccess::Capture(sg).nCapTotal = UINT32_MAX - 2;
  SessionAccess::Capture(sg).nCaptured.store(5);
  sg.StartCapture(1);
  EXPECT_EQ(sg.Capture().nCapTotal, UINT32_MAX - 2) << "a total that would wrap stays";
  EXPECT_EQ(sg.Capture().nCaptured.load(), 0u);
}

TEST_F(SessionTest, RequestReprocessRestartsTheFirstSum) {
  Override("ProcCountAccum", "3");
  CSG sg;
  ASSERT_EQ(sg.SetVideoSize(8, 2), 1);
  StageAccess::Counters(sg.Processor()).nSummed.store(2);
  SessionAccess::Stream(sg).nStartTick.store(1234);
  sg.RequestReprocess();
  EXPECT_EQ(sg.Stream().bFirstSum.load(), 1);
  EXPECT_EQ(sg.Stream().nStartTick.load(), 0u);
  EXPECT_EQ(sg.Processor().Counters().nSummed.load(), 0);
  EXPECT_EQ(sg.Processor().Counters().nSumDivisor.load(), 3);
}

TEST_F(SessionTest, FlipTurnsTheProcessorAndBothFrames) {
  CSG sg;
  ASSERT_EQ(sg.SetVideoSize(8, 6), 1);
  EXPECT_EQ(sg.FrLive().FileHeader().biHeight, -6);
  EXPECT_EQ(sg.FrProc().FileHeader().biHeight, -6);
  sg.SetFlip(true);
  EXPECT_EQ(sg.Processor().Settings().bFlipV.load(), 1);
  EXPECT_EQ(sg.FrLive().DisplayHeader().biHeight, -6);
  EXPECT_EQ(sg.FrLive().FileHeader().biHeight, 6);
  EXPECT_EQ(sg.FrProc().DisplayHeader().biHeight, -6);
  EXPECT_EQ(sg.FrProc().FileHeader().biHeight, 6);
  sg.SetFlip(false);
  EXPECT_EQ(sg.Processor().Settings().bFlipV.load(), 0);
  EXPECT_EQ(sg.FrProc().FileHeader().biHeight, -6);
  EXPECT_EQ(sg.FrLive().DisplayHeader().biHeight, 6);
}

TEST_F(SessionTest, VideoSizeSizesBothFrames) {
  LogCapture log;
  CSG sg;
  ASSERT_EQ(sg.SetVideoSize(641, -3), 1);
  EXPECT_EQ(sg.Format().nVideoWidth, 641);
  EXPECT_EQ(sg.Format().nVideoHeight, 3);
  EXPECT_EQ(sg.FrLive().img.stride, 1924);
  EXPECT_EQ(sg.FrLive().img.pad, 1);
  EXPECT_EQ(sg.FrProc().img.stride, 1924);
  EXPECT_EQ(sg.FrProc().img.height, 3);
  EXPECT_EQ(sg.FrProc().nHeightSigned, -3) << "a top-down source sizes the processed frame top-down";
  EXPECT_TRUE(sg.Processor().HasChain());
  EXPECT_TRUE(log.Contains("641 x 3\n"));

  // A frame that cannot be had leaves both frames empty and the chain off.
  EXPECT_EQ(sg.SetVideoSize(1 << 30, 1 << 30), 0);
  EXPECT_EQ(sg.FrLive().img.size, 0);
  EXPECT_EQ(sg.FrLive().img.bits, nullptr);
  EXPECT_FALSE(sg.Processor().HasChain());
  EXPECT_EQ(sg.FrProc().img.size, 0);
  // ... and the next format works again.
  EXPECT_EQ(sg.SetVideoSize(64, 48), 1);
  EXPECT_TRUE(sg.Processor().HasChain());
}

TEST_F(SessionTest, ZeroSizesAreACallerError) {
  SetAssertBoxEntry(RecordBox);
  RecordedBoxes().clear();
  LogCapture log;
  CSG sg;
  EXPECT_EQ(sg.SetVideoSize(0, 48), 0);
  EXPECT_EQ(sg.SetVideoSize(64, 0), 0);
  EXPECT_FALSE(sg.Processor().HasChain());
  if (kDebugBuild) {
    ASSERT_FALSE(RecordedBoxes().empty());
    EXPECT_NE(RecordedBoxes()[0].text.find("bad algoritm"), std::string::npos);
  } else {
    EXPECT_TRUE(RecordedBoxes().empty());
  }
  SetAssertBoxEntry(nullptr);
}

TEST_F(SessionTest, TheMediaTypeRecordIsFreedToZero) {
  CSG sg;
  MediaType mt;
  mt.majortype = GuidFromFourcc(0x73646976);
  mt.subtype = GuidFromFourcc(kFourccYUY2);
  mt.cbFormat = sizeof(VideoInfoHeader);
  mt.vih.bmiHeader.biWidth = 640;
  mt.lSampleSize = 614400;
  sg.SetMediaType(mt);
  sg.FreeMediaType();
  EXPECT_EQ(sg.Format().mtConnected.subtype, Guid{});
  EXPECT_EQ(sg.Format().mtConnected.cbFormat, 0u);
  EXPECT_EQ(sg.Format().mtConnected.vih.bmiHeader.biWidth, 0);
  EXPECT_EQ(sg.Format().mtConnected.lSampleSize, 0u);
  EXPECT_EQ(GuidFromFourcc(kFourccYUY2).data1, 0x32595559u);
}
