// VideoWindow: a frameless, resizable top-level window that shows one frame scaled to fit, with black
// bands; "Live" and "Processing" are two of them.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <atomic>
#include <functional>

#include "common/window.h"
#include "frames/dib_frame.h"
#include "gui/frame_scaler.h"

namespace ulmora {

// What a window draws right now: the frame of the active session (its fit, flip and scaling mode, and
// the pictures handed over to it).
struct FrameView {
  CDibFrame* frame = nullptr;
  bool hasGraph = false;
};

// Draws a picture fitted into a client area by the frame's layout: black bands, the picture scaled by our
// own scaler into a window-sized RGB32 image (kept between paints), then one unscaled blit.
class CFramePainter {
 public:
  void Paint(class QPainter& painter, const ShownPicture* picture, const CDibFrame& frame, int width, int height,
             bool smooth);

 private:
  CFrameScaler scaler_;
  QImage picture_;
};

class VideoWindow : public QWidget, public IWindow {
 public:
  static constexpr int kMinSize = 50;
  static constexpr int kMaxWidth = 1300;
  static constexpr int kMaxHeight = 1200;
  // Width of the edge band that resizes the window instead of moving it.
  static constexpr int kResizeBorder = 6;

  using FrameSource = std::function<FrameView()>;

  explicit VideoWindow(const QString& title, QWidget* owner = nullptr);
  ~VideoWindow() override;

  void SetFrameSource(FrameSource source) { source_ = std::move(source); }
  // Run when the user closes the window (it is hidden first): closes the program.
  void SetOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }
  // Run once, after the first picture (not the black of an empty window) was painted.
  void SetOnFirstPicture(std::function<void()> hook) { onFirstPicture_ = std::move(hook); }
  // Smooth (bilinear) scaling instead of the fast nearest-pixel one, for this window's frame.
  void SetSmooth(bool smooth);

  // IWindow. PostMsg may come from the streaming thread: a repaint is queued only when none is
  // pending, so a flood of frames never piles events up and the paint shows the newest frame.
  void PostMsg(unsigned msg) override;
  void GetClientSize(int& width, int& height) override;
  void Invalidate(bool erase) override;

  bool RepaintPending() const override { return bRepaintPending_.load(); }
  // Number of repaint events queued so far (for tests and the performance figures).
  uint64_t RepaintsQueued() const { return nQueued_.load(); }

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  Qt::Edges EdgesAt(const QPoint& pos) const;

  FrameSource source_;
  CFramePainter painter_;
  std::function<void()> onClose_;
  std::function<void()> onFirstPicture_;
  std::atomic<bool> bRepaintPending_{false};
  std::atomic<uint64_t> nQueued_{0};
  // Moving or resizing by hand when the window system will not do it (no window manager).
  bool bDragging_ = false;
  Qt::Edges dragEdges_;
  QPoint dragStartGlobal_;
  QRect dragStartGeometry_;
};

}  // namespace ulmora
