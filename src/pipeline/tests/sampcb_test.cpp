// The frame path: samples in, frames, capture files, messages and pacing out.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "session_fixture.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

void Put32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(x) >> (8 * i)));
}
void Put16(std::vector<uint8_t>& v, int x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

// The 54 header bytes of a capture file, written out field by field.
std::vector<uint8_t> ExpectedHeader(int32_t width, int32_t height, int32_t biHeight, uint32_t imageSize) {
  std::vector<uint8_t> h;
  h.push_back('B');
  h.push_back('M');
  Put32(h, static_cast<int32_t>(imageSize + 54));
  Put16(h, 0);
  Put16(h, 0);
  Put32(h, 54);
  Put32(h, 40);
  Put32(h, width);
  Put32(h, biHeight);
  Put16(h, 1);
  Put16(h, 24);
  for (int i = 0; i < 6; ++i) Put32(h, 0);
  (void)height;
  return h;
}

// Grey rows as the chain writes them: each level into B, G and R, row padding zero.
std::vector<uint8_t> GreyRows(const std::vector<uint8_t>& levels, int32_t width, int32_t height) {
  const int32_t stride = (3 * width + 3) & ~3;
  std::vector<uint8_t> out(static_cast<size_t>(stride) * height, 0);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) out[static_cast<size_t>(y) * stride + 3 * x + c] = levels[y * width + x];
  return out;
}

// YUY2 rows of a given stride; the luma of every pixel is returned in levels.
std::vector<uint8_t> MakeYuy2(int32_t width, int32_t height, int32_t stride, uint32_t seed,
                              std::vector<uint8_t>& levels) {
  std::vector<uint8_t> buf = RandomBytes(static_cast<size_t>(stride) * height, seed);
  levels.assign(static_cast<size_t>(width) * height, 0);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) levels[y * width + x] = buf[static_cast<size_t>(y) * stride + 2 * x];
  return buf;
}

class FramePath : public SessionTest {
 protected:
  void Attach(CSG& sg) {
    sg.Processor().SetWindows(&main, &procWin);
    sg.FrLive().AttachWindow(&liveWin);
    sg.SetPacing(false);
  }
  void Detach(CSG& sg) {
    sg.FrLive().DetachWindow();
    sg.FrProc().DetachWindow();
  }
  RecordingWindow main, procWin, liveWin;
};

}  // namespace

TEST_F(FramePath, BadSamplesAreIgnored) {
  LogCapture log;
  CSG sg;
  Attach(sg);
  EXPECT_EQ(sg.SampleCB(0.0, nullptr), 0);
  EXPECT_EQ(log.Text(), "Invalid IMediaSample passed to SampleCB!\n");
  Sample none;
  EXPECT_EQ(sg.SampleCB(0.0, &none), 0);
  // No format yet: nothing to copy into.
  std::vector<uint8_t> data(1000, 7);
  Sample early{data.data(), 1000, 0};
  EXPECT_EQ(sg.SampleCB(0.0, &early), 0);
  EXPECT_EQ(liveWin.repaints.load() + procWin.repaints.load(), 0);
  EXPECT_EQ(log.Text(), "Invalid IMediaSample passed to SampleCB!\n") << "silent for samples without data";
  Detach(sg);
}

TEST_F(FramePath, ShortAndLongRgbSamplesAreCopiedUpToTheFrame) {
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(5, 3), 1);  // stride 16, 48 bytes
  ASSERT_EQ(sg.FrLive().img.capacity, 48);
  std::vector<uint8_t> big = RandomBytes(4096, 1);
  Sample longer{big.data(), 4096, 0};
  sg.SampleCB(0.0, &longer);
  EXPECT_EQ(sg.FrLive().img.size, 48);
  EXPECT_EQ(memcmp(sg.FrLive().img.bits, big.data(), 48), 0);

  std::vector<uint8_t> small(20, 0xEE);
  Sample shorter{small.data(), 20, 0};
  sg.SampleCB(0.04, &shorter);
  EXPECT_EQ(sg.FrLive().img.size, 20);
  EXPECT_EQ(memcmp(sg.FrLive().img.bits, small.data(), 20), 0);
  EXPECT_EQ(memcmp(sg.FrLive().img.bits + 20, big.data() + 20, 28), 0) << "the rest keeps the previous frame";

  Sample negative{small.data(), -5, 0};
  sg.SampleCB(0.08, &negative);
  EXPECT_EQ(sg.FrLive().img.size, 0);
  EXPECT_EQ(liveWin.repaints.load(), 3);
  Detach(sg);
}

TEST_F(FramePath, RgbRowsOfAnotherStrideAreCopiedRowByRow) {
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(5, 3), 1);  // our stride 16
  const int32_t srcStride = 24;
  std::vector<uint8_t> src = RandomBytes(srcStride * 3, 2);
  Sample s{src.data(), srcStride * 2 + 15, srcStride};  // last row without its padding
  sg.SampleCB(0.0, &s);
  EXPECT_EQ(sg.FrLive().img.size, 48);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(memcmp(sg.FrLive().img.bits + 16 * y, src.data() + srcStride * y, 15), 0) << y;
    EXPECT_EQ(sg.FrLive().img.bits[16 * y + 15], 0) << "our padding is cleared";
  }
  // Rows narrower than ours: the pixels they hold, the rest of each row cleared.
  Sample narrow{src.data(), 12 * 3, 12};
  sg.SampleCB(0.04, &narrow);
  EXPECT_EQ(sg.FrLive().img.size, 48);
  EXPECT_EQ(memcmp(sg.FrLive().img.bits + 16, src.data() + 12, 12), 0);
  EXPECT_EQ(sg.FrLive().img.bits[16 + 12], 0);
  // Fewer bytes than one row: nothing.
  Sample tiny{src.data(), 10, srcStride};
  sg.SampleCB(0.08, &tiny);
  EXPECT_EQ(sg.FrLive().img.size, 0);
  Detach(sg);
}

TEST_F(FramePath, ShortYuy2SamplesAreSkippedAndLongOnesConverted) {
  LogCapture log;
  CSG sg;
  Attach(sg);
  sg.SetSubtype(kFourccYUY2);
  ASSERT_EQ(sg.SetVideoSize(6, 4), 1);  // YUY2 rows of 12 bytes
  std::vector<uint8_t> levels;
  std::vector<uint8_t> yuy2 = MakeYuy2(6, 4, 12, 3, levels);
  std::vector<uint8_t> before(sg.FrLive().img.bits, sg.FrLive().img.bits + sg.FrLive().img.size);
  Sample shortS{yuy2.data(), 47, 12};
  EXPECT_EQ(sg.SampleCB(0.0, &shortS), 0);
  EXPECT_EQ(sg.SampleCB(0.1, &shortS), 0);
  EXPECT_EQ(std::vector<uint8_t>(sg.FrLive().img.bits, sg.FrLive().img.bits + sg.FrLive().img.size), before);
  EXPECT_EQ(liveWin.repaints.load(), 0);
  int warnings = 0;
  for (const std::string& line : log.Lines()) warnings += line.find("YUY2 sample of 47 bytes") == 0;
  EXPECT_EQ(warnings, 1) << "said once per format, not per frame";
  Sample badStride{yuy2.data(), 48, 8};
  EXPECT_EQ(sg.SampleCB(0.2, &badStride), 0);
  EXPECT_EQ(liveWin.repaints.load(), 0);

  std::vector<uint8_t> longer = yuy2;
  longer.resize(4096, 0xAB);
  Sample longS{longer.data(), 4096, 0};
  sg.SampleCB(0.3, &longS);
  EXPECT_EQ(std::vector<uint8_t>(sg.FrLive().img.bits, sg.FrLive().img.bits + sg.FrLive().img.size),
            GreyRows(levels, 6, 4));
  EXPECT_EQ(sg.FrLive().img.size, 4 * 20) << "the size stays as sized";
  Detach(sg);
}

// Generated YUY2 and BGR frames go through the whole path; each capture file is compared byte by byte
// with a file put together here from the input.
TEST_F(FramePath, Yuy2AndBgrFramesAreWrittenExactly) {
  for (bool yuy2 : {true, false}) {
    for (bool flip : {false, true}) {
      SCOPED_TRACE(std::string(yuy2 ? "YUY2" : "BGR") + (flip ? " flipped" : ""));
      RemoveTree(capDir);
      ASSERT_EQ(mkdir(capDir.c_str(), 0755), 0);
      CSG sg;
      Attach(sg);
      const int32_t w = 37, h = 5;  // odd width: one byte of row padding at 24 bits, a half macropixel in YUY2
      sg.SetSubtype(yuy2 ? kFourccYUY2 : 0);
      ASSERT_EQ(sg.SetVideoSize(w, h), 1);
      sg.SetFlip(flip);
      sg.SetSourceName("USB Video Camera", kSourceDevice);
      sg.ParseNameTemplate();
      sg.SetCapCount(3);
      sg.StartCapture(1);
      std::vector<std::vector<uint8_t>> expected;
      for (int n = 0; n < 3; ++n) {
        std::vector<uint8_t> levels, data;
        int32_t stride = 0;
        if (yuy2) {
          stride = 2 * 38 + 4;  // padded rows
          data = MakeYuy2(w, h, stride, 10 + n, levels);
        } else {
          stride = (3 * w + 3) & ~3;
          data = RandomBytes(static_cast<size_t>(stride) * h, 20 + n);
          levels.resize(static_cast<size_t>(w) * h);
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) levels[y * w + x] = data[y * stride + 3 * x];  // the blue byte
        }
        Sample s{data.data(), static_cast<int32_t>(data.size()), stride};
        sg.SampleCB(n / 29.97, &s);
        std::vector<uint8_t> file = ExpectedHeader(w, h, flip ? h : -h, 112 * h);
        std::vector<uint8_t> rows = GreyRows(levels, w, h);
        file.insert(file.end(), rows.begin(), rows.end());
        expected.push_back(file);
      }
      const char* names[] = {"capUSB00001.bmp", "capUSB00002.bmp", "capUSB00003.bmp"};
      EXPECT_EQ(ListDir(capDir), std::vector<std::string>(names, names + 3));
      for (int n = 0; n < 3; ++n) EXPECT_EQ(ReadFile(capDir + names[n]), expected[n]) << names[n];
      EXPECT_EQ(sg.Capture().bCapture.load(), 0);
      EXPECT_EQ(sg.Capture().nCaptured.load(), 3u);
      EXPECT_EQ(main.progress.load(), 3) << "fewer than four to write: progress after every file";
      EXPECT_EQ(main.ended.load(), 1);
      main.progress = 0;
      main.ended = 0;
      Detach(sg);
    }
  }
}

TEST_F(FramePath, SumsAreRenderedAndOnlyCompleteSumsCaptured) {
  Override("ProcCountAccum", "2");
  Override("ProcAmp", "24");
  Override("ProcBlackLevel", "5");
  CSG sg;
  Attach(sg);
  const int32_t w = 9, h = 4;
  ASSERT_EQ(sg.SetVideoSize(w, h), 1);
  sg.SetCapCount(10);
  sg.SetCapFormat("%f");
  sg.RequestReprocess();  // the run starts: partial sums are shown, nothing is captured
  sg.StartCapture(1);
  const int32_t stride = 28;
  std::vector<uint8_t> a = RandomBytes(stride * h, 5), b = RandomBytes(stride * h, 6);
  auto level = [](int32_t sum) {
    int32_t v = (((sum * 24) >> 4) + 1) / 2 + 5;  // sum x 1.5 over two frames, plus the black level
    return static_cast<uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : v));
  };
  std::vector<uint8_t> partial(w * h), full(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      partial[y * w + x] = level(a[y * stride + 3 * x]);
      full[y * w + x] = level(a[y * stride + 3 * x] + b[y * stride + 3 * x]);
    }
  Sample sa{a.data(), static_cast<int32_t>(a.size()), 0}, sb{b.data(), static_cast<int32_t>(b.size()), 0};
  sg.SampleCB(0.0, &sa);
  EXPECT_EQ(std::vector<uint8_t>(sg.FrProc().img.bits, sg.FrProc().img.bits + sg.FrProc().img.size),
            GreyRows(partial, w, h));
  EXPECT_EQ(sg.Stream().bFirstSum.load(), 1);
  EXPECT_TRUE(ListDir(capDir).empty()) << "a partial sum is shown, never written";
  EXPECT_EQ(procWin.repaints.load(), 1);
  sg.SampleCB(1 / 29.97, &sb);
  EXPECT_EQ(sg.Stream().bFirstSum.load(), 0);
  ASSERT_EQ(ListDir(capDir), std::vector<std::string>{"00002.bmp"});
  std::vector<uint8_t> file = ExpectedHeader(w, h, -h, stride * h);
  std::vector<uint8_t> rows = GreyRows(full, w, h);
  file.insert(file.end(), rows.begin(), rows.end());
  EXPECT_EQ(ReadFile(capDir + "00002.bmp"), file);
  // The next frame starts a new sum: nothing new to show or write, the live window still repaints.
  sg.SampleCB(2 / 29.97, &sa);
  EXPECT_EQ(ListDir(capDir).size(), 1u);
  EXPECT_EQ(procWin.repaints.load(), 2);
  EXPECT_EQ(liveWin.repaints.load(), 3);
  // Without a live window such a frame ends at once.
  sg.FrLive().DetachWindow();
  sg.SampleCB(3 / 29.97, &sb);
  EXPECT_EQ(ListDir(capDir).size(), 2u);
  sg.SampleCB(4 / 29.97, &sa);
  EXPECT_EQ(liveWin.repaints.load(), 3);
  EXPECT_EQ(procWin.repaints.load(), 3);
  Detach(sg);
}

TEST_F(FramePath, TheTimeDelayDropsFramesBeforeTheChain) {
  Override("ProcTimeDelay", "50");  // 2 frames at 29.97: one frame in three is taken
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  ASSERT_EQ(sg.Processor().Counters().nDelayFrames.load(), 2);
  sg.SetCapCount(100);
  sg.SetCapFormat("%f");
  sg.Processor().Restart();
  sg.StartCapture(1);
  std::vector<uint8_t> data(32, 50);
  Sample s{data.data(), 32, 0};
  for (int n = 0; n < 9; ++n) sg.SampleCB(n / 29.97, &s);
  EXPECT_EQ(ListDir(capDir), (std::vector<std::string>{"00003.bmp", "00006.bmp", "00009.bmp"}));
  EXPECT_EQ(procWin.repaints.load(), 3);
  EXPECT_EQ(liveWin.repaints.load(), 9);
  Detach(sg);
}

TEST_F(FramePath, CapturesFollowTheCountAndTheInterval) {
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  sg.SetCapFormat("%f");
  sg.SetCapCount(10);
  sg.SetFramesDelay(2);
  sg.StartCapture(1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  std::vector<unsigned> posted;
  for (int n = 0; n < 40; ++n) {
    main.order.clear();
    sg.SampleCB(n / 29.97, &s);
    for (unsigned m : main.order) posted.push_back(m * 1000 + sg.Capture().nCaptured.load());
  }
  std::vector<std::string> want;
  for (int n = 1; n <= 28; n += 3) {
    char name[16];
    snprintf(name, sizeof name, "%05d.bmp", n);
    want.push_back(name);
  }
  EXPECT_EQ(ListDir(capDir), want) << "pictures 1, 4, 7, ... until ten files exist";
  EXPECT_EQ(posted, (std::vector<unsigned>{kMsgCaptureProgress * 1000 + 4, kMsgCaptureProgress * 1000 + 8,
                                           kMsgCaptureEnded * 1000 + 10}));
  EXPECT_EQ(sg.Capture().bCapture.load(), 0);
  EXPECT_EQ(sg.Capture().nCaptured.load(), 10u);

  // A new run starts with the first frame that reaches the capture step.
  sg.SetCapCount(1);
  sg.StartCapture(1);
  EXPECT_EQ(sg.Capture().nCapTotal, 10u);
  sg.SampleCB(100.0, &s);
  EXPECT_TRUE(FileExists(capDir + "02998.bmp"));
  EXPECT_EQ(sg.Capture().bCapture.load(), 0);
  Detach(sg);
}

TEST_F(FramePath, AnExistingFileIsKeptAndThePictureTakesTheNextFreeName) {
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  sg.SetCapFormat("%f");
  {
    FILE* f = fopen((capDir + "00001.bmp").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::vector<char> junk(10000, 'j');
    fwrite(junk.data(), 1, junk.size(), f);
    fclose(f);
  }
  sg.StartCapture(1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  sg.SampleCB(0.0, &s);
  EXPECT_EQ(ReadFile(capDir + "00001.bmp").size(), 10000u);
  EXPECT_EQ(ReadFile(capDir + "00001-2.bmp").size(), 54u + 24u);
  EXPECT_EQ(sg.Path(), capDir + "00001-2.bmp");
  Detach(sg);
}

TEST_F(FramePath, AnUncreatableDirectoryEndsTheRunWithItsCause) {
  LogCapture log;
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  std::string plain = root + "/plain";
  FILE* f = fopen(plain.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  ASSERT_EQ(sg.SetWorkDir((plain + "/sub").c_str()), 1);
  sg.SetCapCount(2);
  sg.SetFramesDelay(1);
  sg.StartCapture(1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  for (int n = 0; n < 6; ++n) sg.SampleCB(n / 29.97, &s);
  int creates = 0;
  for (const std::string& line : log.Lines()) creates += line == "Can`t create capture bmp file...";
  EXPECT_EQ(creates, 1) << "the first due frame fails, and the run ends there";
  EXPECT_EQ(sg.Capture().bCapture.load(), 0);
  EXPECT_EQ(sg.Capture().nWriteError.load(), ENOTDIR);
  EXPECT_EQ(main.ended.load(), 1);
  EXPECT_EQ(main.progress.load(), 0);
  EXPECT_EQ(procWin.repaints.load(), 6);
  // A new run starts with a clean slate.
  sg.StartCapture(1);
  EXPECT_EQ(sg.Capture().nWriteError.load(), 0);
  Detach(sg);
}

namespace {

struct ChildReport {
  int32_t bCapture = -1;
  uint32_t nCaptured = 99;
  int32_t ended = -1, progress = -1;
};

// Runs a capture of nFrames frames in a child whose files may not grow beyond limit bytes; the
// child's findings come back through a pipe.
ChildReport CaptureWithFileLimit(const std::string& dir, rlim_t limit, int nFrames) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    ChildReport r;
    {
      RecordingWindow main, view;
      CSG sg;
      sg.Processor().SetWindows(&main, &view);
      sg.SetPacing(false);
      sg.SetWorkDir(dir.c_str());
      sg.SetCapFormat("%f");
      if (sg.SetVideoSize(64, 48) == 1) {
        sg.SetCapCount(100);
        sg.StartCapture(1);
        std::vector<uint8_t> data(64 * 3 * 48, 0x55);
        Sample s{data.data(), static_cast<int32_t>(data.size()), 0};
        for (int n = 0; n < nFrames; ++n) sg.SampleCB(n / 30.0, &s);
      }
      r.bCapture = sg.Capture().bCapture.load();
      r.nCaptured = sg.Capture().nCaptured.load();
      r.ended = main.ended.load();
      r.progress = main.progress.load();
      sg.FrProc().DetachWindow();
    }
    ssize_t n = write(fds[1], &r, sizeof r);
    _exit(n == sizeof r ? 0 : 1);
  }
  close(fds[1]);
  ChildReport r;
  ssize_t got = read(fds[0], &r, sizeof r);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != sizeof r || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return r;
}

}  // namespace

TEST_F(FramePath, AFullDiskEndsTheRunAndRemovesThePartialFile) {
  LogCapture log;
  // Something that was there before must stay untouched.
  std::string keep = capDir + "keep.txt";
  FILE* f = fopen(keep.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("precious", f);
  fclose(f);

  // Room for the headers and part of the pixels (64 x 48 x 3 + 54 = 9270 bytes per file).
  ChildReport r = CaptureWithFileLimit(capDir, 5000, 5);
  EXPECT_EQ(r.bCapture, 0);
  EXPECT_EQ(r.nCaptured, 0u);
  EXPECT_EQ(r.ended, 1) << "the end of the run is posted once";
  EXPECT_EQ(r.progress, 0);
  EXPECT_EQ(ListDir(capDir), std::vector<std::string>{"keep.txt"}) << "the partial file is gone";
  EXPECT_EQ(ReadFile(keep), std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_TRUE(log.Contains("Can`t write capture bmp file...\n"));
  EXPECT_FALSE(log.Contains("Can`t create capture bmp file..."));

  // Part of the file header written: removed as well.
  r = CaptureWithFileLimit(capDir, 9, 3);
  EXPECT_EQ(r.bCapture, 0);
  EXPECT_EQ(r.ended, 1);
  EXPECT_EQ(ListDir(capDir), std::vector<std::string>{"keep.txt"});
  // Room for the 14-byte header only: the info header comes up short.
  r = CaptureWithFileLimit(capDir, 30, 3);
  EXPECT_EQ(r.ended, 1);
  EXPECT_EQ(ListDir(capDir), std::vector<std::string>{"keep.txt"});

  // Not even one byte: no empty file is left under the final name either.
  r = CaptureWithFileLimit(capDir, 0, 3);
  EXPECT_EQ(r.bCapture, 0);
  EXPECT_EQ(r.ended, 1);
  EXPECT_EQ(ListDir(capDir), std::vector<std::string>{"keep.txt"});

  // Exactly one file's worth per file: every file is whole.
  r = CaptureWithFileLimit(capDir, 9270, 3);
  EXPECT_EQ(r.bCapture, 1);
  EXPECT_EQ(r.nCaptured, 3u);
  EXPECT_EQ(r.ended, 0);
  EXPECT_EQ(ListDir(capDir), (std::vector<std::string>{"00001.bmp", "00002.bmp", "00003.bmp", "keep.txt"}));
  EXPECT_EQ(ReadFile(capDir + "00002.bmp").size(), 9270u);
}

TEST_F(FramePath, WithoutTheChainTheLiveFrameIsCopied) {
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(5, 2), 1);
  // The chain off, as after a work buffer that could not be had.
  sg.Processor().ConfigureFormat(sg.FrLive().img, false, false);
  ASSERT_FALSE(sg.Processor().HasChain());
  sg.SetCapFormat("%f");
  sg.RequestReprocess();  // a run starts: raw frames are captured all the same
  sg.StartCapture(1);
  std::vector<uint8_t> data = RandomBytes(24, 8);
  Sample s{data.data(), 20, 0};
  sg.SampleCB(0.0, &s);
  EXPECT_EQ(sg.FrProc().img.size, 20);
  EXPECT_EQ(memcmp(sg.FrProc().img.bits, data.data(), 20), 0);
  std::vector<uint8_t> file = ReadFile(capDir + "00001.bmp");
  ASSERT_EQ(file.size(), 54u + 20u) << "the sample length when frames pass unprocessed";
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.end()), std::vector<uint8_t>(data.begin(), data.begin() + 20));
  EXPECT_EQ(file[2], 74);
  EXPECT_EQ(procWin.repaints.load(), 1);
  Detach(sg);
}

TEST_F(FramePath, TheLiveWindowRepaintsOnlyWhenAsked) {
  Override("CSGViewLive", "0");
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  sg.SampleCB(0.0, &s);
  EXPECT_EQ(liveWin.repaints.load(), 0);
  EXPECT_EQ(procWin.repaints.load(), 1);
  sg.SetViewLive(true);
  sg.SampleCB(0.1, &s);
  EXPECT_EQ(liveWin.repaints.load(), 1);
  EXPECT_EQ(procWin.repaints.load(), 2);
  Detach(sg);
}

// The windows draw copies handed over with the repaint; none is made while a repaint is still pending.
TEST_F(FramePath, WindowsDrawACopyMadeOnlyWhenARepaintIsPosted) {
  CSG sg;
  Attach(sg);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  sg.SampleCB(0.0, &s);
  const ShownPicture* live = sg.FrLive().shown.Take();
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(live->nSerial, 1u);
  EXPECT_EQ(live->img.bits[0], 9);
  EXPECT_FALSE(live->grey);
  ASSERT_NE(sg.FrProc().shown.Take(), nullptr);
  liveWin.repaintPending = true;
  data.assign(32, 50);
  sg.SampleCB(0.1, &s);
  EXPECT_EQ(sg.FrLive().img.bits[0], 50);
  EXPECT_EQ(liveWin.repaints.load(), 1);
  EXPECT_EQ(procWin.repaints.load(), 2);
  live = sg.FrLive().shown.Take();
  EXPECT_EQ(live->nSerial, 1u) << "no copy while the window has a repaint pending";
  EXPECT_EQ(live->img.bits[0], 9);
  EXPECT_EQ(sg.FrProc().shown.Take()->nSerial, 2u);
  // A window that draws nothing still hears of every picture, but no copy is made for it.
  liveWin.repaintPending = false;
  procWin.draws = false;
  sg.SampleCB(0.2, &s);
  EXPECT_EQ(procWin.repaints.load(), 3);
  EXPECT_EQ(sg.FrProc().shown.Take()->nSerial, 2u);
  Detach(sg);
}

// ---- pacing ----

namespace {

uint32_t g_fakeNow = 0;
std::vector<uint32_t> g_sleeps;
CSG* g_stopAfterSleeps = nullptr;
size_t g_stopAt = 0;
uint32_t FakeNow() { return g_fakeNow; }
void FakeSleep(uint32_t ms) {
  g_sleeps.push_back(ms);
  g_fakeNow += ms;
  if (g_stopAfterSleeps && g_sleeps.size() == g_stopAt) g_stopAfterSleeps->SetRunState(kRunPaused);
}

class Pacing : public FramePath {
 protected:
  void SetUp() override {
    FramePath::SetUp();
    g_fakeNow = 5000;
    g_sleeps.clear();
    g_stopAfterSleeps = nullptr;
    SetPacingClock(FakeNow, FakeSleep);
  }
  void TearDown() override {
    SetPacingClock(nullptr, nullptr);
    FramePath::TearDown();
  }
};

}  // namespace

TEST_F(Pacing, AFileIsHeldBackToItsRateAndLateFramesAreNotWaitedFor) {
  CSG sg;
  Attach(sg);
  sg.SetPacing(true);
  sg.SetRunState(kRunRunning);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  sg.SampleCB(10.0, &s);  // the origin: one period ahead
  EXPECT_EQ(sg.Stream().nPeriodMs, 33);
  EXPECT_EQ(g_sleeps, std::vector<uint32_t>{33});
  // The next frame comes at once: it waits for its own time (33.37 ms after the first, 33 ms later).
  sg.SampleCB(10.0 + 1 / 29.97, &s);
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{33, 33}));
  // A frame more than a period ahead waits one period and a millisecond, so the file catches up
  // with its schedule instead of running free; a late frame is not waited for.
  g_sleeps.clear();
  sg.SampleCB(10.0 + 2 / 29.97 + 0.040, &s);
  EXPECT_EQ(g_sleeps, std::vector<uint32_t>{34});
  g_sleeps.clear();
  g_fakeNow += 500;
  sg.SampleCB(10.0 + 3 / 29.97, &s);
  EXPECT_TRUE(g_sleeps.empty());
  // A new run sets a new origin.
  sg.RequestReprocess();
  sg.SampleCB(0.0, &s);
  EXPECT_EQ(g_sleeps, std::vector<uint32_t>{33});
  // Switched off for headless runs.
  g_sleeps.clear();
  sg.SetPacing(false);
  sg.SampleCB(1 / 29.97, &s);
  EXPECT_TRUE(g_sleeps.empty());
  Detach(sg);
}

TEST_F(Pacing, AMillisecondOfJitterDoesNotEndThePacing) {
  CSG sg;
  Attach(sg);
  sg.SetPacing(true);
  sg.SetRunState(kRunRunning);
  sg.SetFrameRate(30.0);
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  const uint32_t origin = g_fakeNow;
  for (int k = 0; k < 90; ++k) {
    if (k == 30) g_fakeNow -= 2;  // one wait ended early: the next frame is a period and a bit ahead
    sg.SampleCB(k / 30.0, &s);
  }
  // 90 frames at 30 per second end three seconds (less the lost 2 ms) after the origin, give or take a frame.
  EXPECT_NEAR(static_cast<double>(g_fakeNow - origin), 3000.0, 40.0);
  Detach(sg);
}

TEST_F(Pacing, LongPeriodsAreSleptInStepsThatEndWhenTheRunStops) {
  CSG sg;
  Attach(sg);
  sg.SetPacing(true);
  sg.SetFrameRate(2.0);  // 500 ms per frame
  ASSERT_EQ(sg.SetVideoSize(4, 2), 1);
  std::vector<uint8_t> data(32, 9);
  Sample s{data.data(), 32, 0};
  sg.SetRunState(kRunRunning);
  sg.SampleCB(0.0, &s);
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{100, 100, 100, 100, 100}));
  g_sleeps.clear();
  g_fakeNow += 150;  // the next frame arrives 150 ms late into its period: 350 ms to wait
  sg.SampleCB(0.5, &s);
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{100, 100, 100, 50}));
  // Pausing the graph ends the wait after the step in progress.
  g_sleeps.clear();
  g_stopAfterSleeps = &sg;
  g_stopAt = 2;
  sg.SampleCB(1.0, &s);
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{100, 100}));
  // Not running at all: no wait, though the frame is 300 ms early.
  g_sleeps.clear();
  g_stopAfterSleeps = nullptr;
  g_fakeNow = 5000 + 1700;
  sg.SampleCB(1.5, &s);
  EXPECT_TRUE(g_sleeps.empty());
  Detach(sg);
}
