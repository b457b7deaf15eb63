#include <gtest/gtest.h>

#include <cstdint>

#include "common/tests/log_capture.h"
#include "frames/dib_frame.h"

using namespace ulmora;

namespace {

struct FakeClient : IWindow {
  int w = 0, h = 0, invalidations = 0;
  void PostMsg(unsigned) override {}
  void GetClientSize(int& cw, int& ch) override { cw = w, ch = h; }
  void Invalidate(bool) override { ++invalidations; }
};

struct Fit {
  int32_t x, y, w, h, brush;
};

Fit FitOf(int imgW, int imgH, int clientW, int clientH) {
  CDibFrame f;
  EXPECT_EQ(f.AllocFrame(imgW, imgH), 1);
  FakeClient client;
  client.w = clientW, client.h = clientH;
  f.AttachWindow(&client);
  Fit r{f.rcDest.x, f.rcDest.y, f.rcDest.width, f.rcDest.height, f.nBrushOrg};
  f.DetachWindow();
  return r;
}

}  // namespace

TEST(DibFrame, StrideIsRoundedToFourBytesAndTheStoreOnlyGrows) {
  CDibFrame f;
  ASSERT_EQ(f.AllocFrame(641, -3), 1);
  EXPECT_EQ(f.img.stride, 1924);
  EXPECT_EQ(f.img.pad, 1);
  EXPECT_EQ(f.img.size, 1924 * 3);
  EXPECT_EQ(f.img.height, 3);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(f.img.bits) % 64, 0u);
  EXPECT_EQ(f.DisplayHeight(), -3);
  EXPECT_EQ(f.FileHeader().biHeight, 3);
  uint8_t* bits = f.img.bits;
  ASSERT_EQ(f.AllocFrame(10, 10), 1);
  EXPECT_EQ(f.img.bits, bits) << "a smaller frame must reuse the store";
  EXPECT_EQ(f.img.capacity, 1924 * 3);
  ASSERT_EQ(f.AllocFrame(1000, 1000), 1);
  EXPECT_EQ(f.img.capacity, 3000 * 1000);
}

TEST(DibFrame, AFrameThatCannotBeAllocatedIsLeftEmptyAndLogged) {
  test::LogCapture log;
  CDibFrame f;
  ASSERT_EQ(f.AllocFrame(64, 64), 1);
  EXPECT_EQ(f.AllocFrame(1 << 30, 1 << 30), 0);
  EXPECT_EQ(f.img.bits, nullptr);
  EXPECT_EQ(f.img.size, 0);
  EXPECT_EQ(f.img.capacity, 0);
  EXPECT_EQ(log.Text(), "Can`t alloc memory for convertor\n exit...\n");
}

TEST(DibFrame, FitKeepsTheAspectRatioAndCentres) {
  auto expectFit = [](Fit got, Fit want) {
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.w, want.w);
    EXPECT_EQ(got.h, want.h);
    EXPECT_EQ(got.brush, want.brush);
  };
  expectFit(FitOf(640, 480, 320, 240), {0, 0, 320, 240, 1});
  expectFit(FitOf(640, 480, 400, 240), {40, 0, 320, 240, 1});
  expectFit(FitOf(320, 240, 1280, 600), {240, 0, 800, 600, 1});
  expectFit(FitOf(640, 480, 100, 480), {0, 202, 100, 75, 3});
  expectFit(FitOf(640, 480, 640, 480), {0, 0, 640, 480, 1});
  expectFit(FitOf(640, 480, 0, 0), {0, 0, 0, 0, 1});
  expectFit(FitOf(100, 100, 1000, 1000), {0, 0, 1000, 1000, 5});
  expectFit(FitOf(1000, 1, 1, 500), {0, 249, 1, 1, 500});
}

TEST(DibFrame, FlipTurnsBothHeadersAndRepaints) {
  CDibFrame f;
  FakeClient client;
  ASSERT_EQ(f.AllocFrame(4, 2), 1);
  f.AttachWindow(&client);
  EXPECT_EQ(f.DisplayHeight(), 2);
  EXPECT_EQ(f.FileHeader().biHeight, -2);
  f.SetFlipV(true);
  EXPECT_EQ(f.DisplayHeight(), -2);
  EXPECT_EQ(f.FileHeader().biHeight, 2);
  f.SetFlipV(false);
  EXPECT_EQ(f.DisplayHeight(), 2);
  EXPECT_EQ(f.FileHeader().biHeight, -2);
  EXPECT_EQ(client.invalidations, 2);
  f.SetStretchMode(9, true);
  EXPECT_EQ(f.nStretchMode, 4);
  EXPECT_EQ(client.invalidations, 3);
  f.DetachWindow();
}

TEST(DibFrame, InitialHeadersAndValues) {
  CDibFrame f;
  EXPECT_EQ(f.nViewMode, 3);
  EXPECT_EQ(f.nBrushOrg, 1);
  EXPECT_EQ(f.nStretchMode, 3);
  EXPECT_EQ(f.bPersist, 0);
  EXPECT_EQ(f.window.load(), nullptr);
  BitmapInfoHeader d = f.DisplayHeader();
  EXPECT_EQ(d.biSize, 40u);
  EXPECT_EQ(d.biPlanes, 1);
  EXPECT_EQ(d.biBitCount, 24);
  EXPECT_EQ(d.biWidth, 0);
  EXPECT_EQ(d.biCompression, 0u);
  ASSERT_EQ(f.AllocFrame(-5, 7), 1);
  EXPECT_EQ(f.img.width, 5) << "the store holds the absolute size";
  EXPECT_EQ(f.DisplayHeader().biWidth, -5) << "headers keep the width as given";
  EXPECT_EQ(f.DisplayHeader().biHeight, 7);
  EXPECT_EQ(f.FileHeader().biWidth, -5);
  EXPECT_EQ(f.FileHeader().biHeight, -7);
  EXPECT_EQ(f.nHeightSigned, 7);
  for (int32_t i = 0; i < f.img.size; ++i) ASSERT_EQ(f.img.bits[i], 0) << "a new format starts black";
}

TEST(DibFrame, AllocationDoesNotReapplyAFlip) {
  CDibFrame f;
  ASSERT_EQ(f.AllocFrame(4, 2), 1);
  f.SetFlipV(true);
  ASSERT_EQ(f.AllocFrame(4, 3), 1);
  EXPECT_EQ(f.DisplayHeader().biHeight, 3);
  EXPECT_EQ(f.FileHeader().biHeight, -3);
}

TEST(DibFrame, ZeroSizesAreRefused) {
  test::LogCapture log;
  SetAssertBoxEntry(test::RecordBox);
  test::RecordedBoxes().clear();
  CDibFrame f;
  EXPECT_EQ(f.AllocFrame(0, 10), 0);
  EXPECT_EQ(f.AllocFrame(10, 0), 0);
  EXPECT_EQ(f.img.bits, nullptr);
  EXPECT_EQ(test::RecordedBoxes().size(), kDebugBuild ? 2u : 0u);
  if (kDebugBuild) {
    EXPECT_NE(test::RecordedBoxes()[0].text.find("bad algoritm"), std::string::npos);
  }
  SetAssertBoxEntry(nullptr);
  f.ComputeFit();  // nothing to fit: no division by zero
  EXPECT_EQ(f.rcDest.width, 0);
}

TEST(DibFrame, WindowAttachmentFollowsTheClient) {
  CDibFrame f;
  f.AttachWindow(nullptr);
  EXPECT_EQ(f.window.load(), nullptr);
  ASSERT_EQ(f.AllocFrame(640, 480), 1);
  FakeClient client;
  client.w = 320, client.h = 240;
  f.AttachWindow(&client);
  EXPECT_EQ(f.window.load(), &client);
  EXPECT_EQ(f.nClientW, 320);
  EXPECT_EQ(f.rcDest.width, 320);
  client.w = 400;
  f.UpdateLayout();
  EXPECT_EQ(f.rcDest.x, 40);
  EXPECT_EQ(f.rcDest.width, 320);
  client.w = -20, client.h = -5;
  f.UpdateLayout();
  EXPECT_EQ(f.nClientW, 0);
  EXPECT_EQ(f.rcDest.width, 0) << "a nonsense client gets nothing drawn";
  f.SetStretchMode(2, false);
  EXPECT_EQ(f.nStretchMode, 2);
  EXPECT_EQ(client.invalidations, 0) << "no redraw asked";
  f.DetachWindow();
  EXPECT_EQ(f.window.load(), nullptr);
  f.UpdateLayout();  // detached: nothing happens
  f.SetFlipV(true);
  EXPECT_EQ(client.invalidations, 0);
}

