#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

#include "common/aligned_alloc.h"
#include "frames/frame_handover.h"

using namespace ulmora;

namespace {

struct Format {
  int32_t width, height;
};
// Formats change twice while the reader draws: larger (the writer's slots grow), then smaller.
constexpr Format kFormats[] = {{64, 48}, {161, 120}, {33, 17}};
constexpr uint64_t kPerFormat = 1500;

Format FormatOf(uint64_t serial) { return kFormats[(serial - 1) / kPerFormat]; }

// A frame buffer like the frame path's: rows padded to 4 bytes, inside a larger store.
struct Frame {
  AlignedBytes store = MakeAlignedBytes(200 * 4 * 130);
  CImageBuf img;
  void Fill(Format f, uint8_t value) {
    img.bits = store.get();
    img.capacity = 200 * 4 * 130;
    img.width = f.width;
    img.height = f.height;
    img.stride = (3 * f.width + 3) & ~3;
    img.pad = img.stride - 3 * f.width;
    img.size = img.stride * f.height;
    memset(img.bits, value, static_cast<size_t>(img.size));
  }
};

TEST(FrameHandover, NothingToDrawUntilTheFirstPictureThenTheLastOneStays) {
  CFrameHandover h;
  EXPECT_EQ(h.Take(), nullptr);
  Frame f;
  f.Fill({4, 2}, 7);
  ASSERT_TRUE(h.Publish(f.img, true));
  f.Fill({4, 2}, 9);  // the frame path goes on writing its own buffer
  const ShownPicture* p = h.Take();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->nSerial, 1u);
  EXPECT_TRUE(p->grey);
  EXPECT_EQ(p->img.bits[0], 7);
  EXPECT_EQ(h.Take(), p) << "no newer picture: the one taken stays";
  ASSERT_TRUE(h.Publish(f.img, false));
  ASSERT_TRUE(h.Publish(f.img, false));
  p = h.Take();
  EXPECT_EQ(p->nSerial, 3u) << "the newest, not the next";
  EXPECT_EQ(p->img.bits[0], 9);
  ASSERT_TRUE(h.Publish(CImageBuf{}, true));
  EXPECT_EQ(h.Take()->img.width, 0) << "a frame without a format is drawn as black";
}

// The drawing thread only ever sees whole pictures of one frame, in order, with that frame's layout,
// while the writer publishes as fast as it can.
TEST(FrameHandover, TheReaderSeesOnlyWholeConsistentPictures) {
  CFrameHandover h;
  constexpr uint64_t kLast = kPerFormat * (sizeof(kFormats) / sizeof(kFormats[0]));
  constexpr uint64_t kMeetEvery = 250;
  std::atomic<bool> failed{false};
  std::atomic<uint64_t> lastSeen{0};
  uint64_t seen = 0;
  std::thread reader([&] {
    uint64_t last = 0;
    while (last < kLast && !failed.load()) {
      const ShownPicture* p = h.Take();
      if (!p || p->nSerial == last) {
        std::this_thread::yield();
        continue;
      }
      const Format f = FormatOf(p->nSerial);
      const uint8_t value = static_cast<uint8_t>(p->nSerial * 37);
      bool whole = p->nSerial > last && p->img.width == f.width && p->img.height == f.height &&
                   p->img.stride == ((3 * f.width + 3) & ~3) && p->img.stride * p->img.height <= p->img.capacity;
      for (int32_t i = 0; whole && i < p->img.stride * p->img.height; ++i) whole = p->img.bits[i] == value;
      if (!whole) {
        ADD_FAILURE() << "picture " << p->nSerial << " torn or out of order after " << last;
        failed.store(true);
      }
      last = p->nSerial;
      lastSeen.store(last);
      ++seen;
    }
  });
  Frame frame;
  for (uint64_t n = 1; n <= kLast && !failed.load(); ++n) {
    frame.Fill(FormatOf(n), static_cast<uint8_t>(n * 37));
    ASSERT_TRUE(h.Publish(frame.img, true));
    // Now and then the test's writer lets the reader catch up, so that it draws many pictures however
    // the two threads are scheduled (the frame path itself never waits).
    if (n % kMeetEvery == 0)
      while (lastSeen.load() < n && !failed.load()) std::this_thread::yield();
  }
  reader.join();
  EXPECT_FALSE(failed.load());
  EXPECT_GE(seen, kLast / kMeetEvery);
}

}  // namespace
