#include "dib_frame.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/aligned_alloc.h"
#include "common/log.h"
#include "common/report.h"

namespace ulmora {

CDibFrame::~CDibFrame() {
  window.store(nullptr);
}

int CDibFrame::AllocFrame(int32_t w, int32_t h) {
  if (w == 0 || h == 0) {
    ReportAssert("bad algoritm", __LINE__, "dib_frame");
    return 0;
  }
  int64_t width = std::llabs(w), height = std::llabs(h);
  int64_t stride = (3 * width + 3) & ~int64_t(3);
  int64_t size = stride * height;
  if (size > img.capacity) {
    store_.reset();
    if (size <= INT32_MAX) store_ = MakeAlignedBytes(static_cast<size_t>(size));
    img.bits = store_.get();
    if (!img.bits) {
      img = CImageBuf{};
      ReportAssert("Can`t alloc memory", __LINE__, "dib_frame");
      LogPrintf("Can`t alloc memory for convertor\n exit...");
      return 0;
    }
    img.capacity = static_cast<int32_t>(size);
  }
  // A new format starts black, padding included: rows that a short sample leaves out and the padding
  // that converters skip never show stale bytes.
  memset(img.bits, 0, static_cast<size_t>(size));
  img.stride = static_cast<int32_t>(stride);
  img.pad = static_cast<int32_t>(stride - 3 * width);
  img.width = static_cast<int32_t>(width);
  img.height = static_cast<int32_t>(height);
  img.size = static_cast<int32_t>(size);
  nHeightSigned = h;
  displayWidth_ = w;
  displayHeight_.store(h);
  fileWidth_ = w;
  fileHeight_.store(-h);
  return 1;
}

namespace {

// Brush origin for smooth stretching: round to nearest, halves to even.
int32_t BrushFor(double s) {
  double k = s < 1.0 ? std::nearbyint(0.5 / s) : std::nearbyint(s * 0.5);
  return static_cast<int32_t>(k);
}

}  // namespace

void CDibFrame::ComputeFit() {
  const int32_t W = img.width, H = img.height, Cw = nClientW, Ch = nClientH;
  if (W == 0 || H == 0) return;
  double s = 1.0;
  if (Cw != 0 && Ch != 0 && (Cw != W || Ch != H)) {
    double sx = Cw != W ? static_cast<double>(Cw) / W : 1.0;
    double sy = Ch != H ? static_cast<double>(Ch) / H : 1.0;
    bool fill = false;
    if (sx > sy) {
      s = sy;
    } else if (sy - sx <= 1.1920928955078125e-07) {
      s = sx;
      fill = true;
    } else {
      s = sx;
    }
    if (!fill) {
      if (s != 1.0) {
        int32_t k = BrushFor(s);
        nBrushOrg = k != 0 ? k : 1;
        rcDest.width = static_cast<int32_t>(W * s);
        rcDest.height = static_cast<int32_t>(H * s);
        if (rcDest.width < 1) rcDest.width = 1;
        if (rcDest.height < 1) rcDest.height = 1;
      } else {
        nBrushOrg = 1;
        rcDest.width = W;
        rcDest.height = H;
      }
      rcDest.x = (Cw - rcDest.width) >> 1;
      rcDest.y = (Ch - rcDest.height) >> 1;
      if (rcDest.width > Cw || rcDest.height > Ch) ReportAssert("bad algoritm", __LINE__, "dib_frame");
      return;
    }
  }
  nBrushOrg = 1;
  if (s != 1.0) {
    int32_t k = BrushFor(s);
    if (k > 1) nBrushOrg = k;
  }
  rcDest = FitRect{0, 0, Cw, Ch};
}

void CDibFrame::SetStretchMode(int mode, bool redraw) {
  nStretchMode = mode > kStretchHalftone ? kStretchHalftone : mode;
  if (IWindow* w = window.load(); redraw && w) w->Invalidate(true);
}

void CDibFrame::SetFlipV(bool flip) {
  displayHeight_.exchange(flip ? -nHeightSigned : nHeightSigned);
  fileHeight_.exchange(flip ? nHeightSigned : -nHeightSigned);
  if (IWindow* w = window.load()) w->Invalidate(false);
}

BitmapInfoHeader CDibFrame::FileHeader() const {
  BitmapInfoHeader h;
  h.biWidth = fileWidth_;
  h.biHeight = fileHeight_.load(std::memory_order_relaxed);
  return h;
}

BitmapInfoHeader CDibFrame::DisplayHeader() const {
  BitmapInfoHeader h;
  h.biWidth = displayWidth_;
  h.biHeight = displayHeight_.load(std::memory_order_relaxed);
  return h;
}

void CDibFrame::AttachWindow(IWindow* w) {
  if (!w) return;
  window.store(w);
  UpdateLayout();
}

void CDibFrame::UpdateLayout() {
  IWindow* w = window.load();
  if (!w) return;
  int cw = 0, ch = 0;
  w->GetClientSize(cw, ch);
  // A window being torn down may report nonsense; a negative size would give a negative scale.
  nClientW = cw > 0 ? cw : 0;
  nClientH = ch > 0 ? ch : 0;
  ComputeFit();
}

void CDibFrame::DetachWindow() { window.store(nullptr); }

}  // namespace ulmora
