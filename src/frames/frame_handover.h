// Hands finished pictures from the streaming thread to the window that draws them: three slots, one
// being filled, one being drawn and the newest between them, swapped by single atomic exchanges. The
// writer never waits for the reader; the reader always has a whole picture.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/aligned_alloc.h"
#include "frames/image_buf.h"

namespace ulmora {

// One picture as it is drawn: its own pixels and the layout the painter needs.
struct ShownPicture {
  CImageBuf img;         // bits point into store; capacity only grows
  bool grey = false;     // B = G = R
  uint64_t nSerial = 0;  // 1 for the first picture published, then counting up
  AlignedBytes store;
};

class CFrameHandover {
 public:
  CFrameHandover() = default;
  CFrameHandover(const CFrameHandover&) = delete;
  CFrameHandover& operator=(const CFrameHandover&) = delete;

  // Writer (one thread at a time): copies the picture's rows into the free slot and makes it the newest.
  // The free slot belongs to the writer alone, so only it grows its memory, and only when a picture is
  // larger than any that slot held (the first frames after a format change). A frame without a
  // format is published as an empty picture. False: no memory, nothing published.
  bool Publish(const CImageBuf& src, bool grey);

  // Reader (one thread): the newest picture, or the one taken before when none is newer; null until the
  // first is published. Valid until the next Take.
  const ShownPicture* Take();

 private:
  static constexpr uint8_t kIndexMask = 3;
  static constexpr uint8_t kFresh = 4;  // the middle slot holds a picture the reader has not taken

  ShownPicture slots_[3];
  uint8_t back_ = 0;                // writer's
  std::atomic<uint8_t> middle_{1};  // the exchange point
  uint8_t front_ = 2;               // reader's
  uint64_t nPublished_ = 0;         // writer's
  bool bTaken_ = false;             // reader's: front_ holds a picture
};

}  // namespace ulmora
