// A 24-bit BGR bitmap ready to draw and to save, with its grow-only pixel store.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/aligned_alloc.h"
#include "common/window.h"
#include "frames/frame_handover.h"
#include "frames/image_buf.h"

namespace ulmora {

#pragma pack(push, 1)
// The 14-byte file header in front of a capture file.
struct BitmapFileHeader {
  uint16_t bfType = 0;
  uint32_t bfSize = 0;
  uint16_t bfReserved1 = 0;
  uint16_t bfReserved2 = 0;
  uint32_t bfOffBits = 0;
};
#pragma pack(pop)

// The 40-byte bitmap info header, as it is written to capture files (naturally aligned, no packing).
struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 24;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapFileHeader) == 14);
static_assert(sizeof(BitmapInfoHeader) == 40);

constexpr uint16_t kBitmapType = 0x4D42;  // "BM"
constexpr uint32_t kBitmapHeadersSize = 54;

// Destination rectangle in the attached window's client area.
struct FitRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

constexpr int kStretchColorOnColor = 3;
constexpr int kStretchHalftone = 4;

class CDibFrame {
 public:
  CDibFrame() = default;
  ~CDibFrame();
  CDibFrame(const CDibFrame&) = delete;
  CDibFrame& operator=(const CDibFrame&) = delete;

  // Sizes the store for |w| x |h| (sign of h kept for the headers); 0 when memory is short.
  int AllocFrame(int32_t w, int32_t h);
  // Fits the image into the client: largest centred image of the same aspect ratio.
  void ComputeFit();
  void SetStretchMode(int mode, bool redraw);
  void SetFlipV(bool flip);
  void AttachWindow(IWindow* window);
  void UpdateLayout();
  void DetachWindow();

  // The header the GUI draws with and the header written to files; heights carry the flip.
  int32_t DisplayHeight() const { return displayHeight_.load(std::memory_order_relaxed); }
  int32_t DisplayWidth() const { return displayWidth_; }
  BitmapInfoHeader FileHeader() const;
  BitmapInfoHeader DisplayHeader() const;

  int32_t nHeightSigned = 0;
  int32_t nViewMode = 3;
  int32_t nBrushOrg = 1;
  int32_t nStretchMode = kStretchColorOnColor;
  int32_t bPersist = 0;  // the owner saves nViewMode as "ViewMode" when it goes
  std::atomic<IWindow*> window{nullptr};  // read by the streaming thread to post repaints
  FitRect rcDest;
  CImageBuf img;
  // What the window draws: the streaming thread publishes, the GUI thread takes.
  CFrameHandover shown;
  int32_t nClientW = 0;
  int32_t nClientH = 0;

 private:
  AlignedBytes store_;  // img.bits points into it
  int32_t displayWidth_ = 0;
  std::atomic<int32_t> displayHeight_{0};
  int32_t fileWidth_ = 0;
  std::atomic<int32_t> fileHeight_{0};
};

}  // namespace ulmora
