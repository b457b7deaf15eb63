#include "gui/video_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <cstdlib>

namespace ulmora {

namespace {
constexpr QEvent::Type kRepaintEvent = static_cast<QEvent::Type>(kMsgRepaint);
}

VideoWindow::VideoWindow(const QString& title, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("_videosurf"));
  setWindowTitle(title);
  setMinimumSize(kMinSize, kMinSize);
  setMaximumSize(kMaxWidth, kMaxHeight);
  // Every pixel is drawn by paintEvent: no background fill, no double work.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(true);
  setEnabled(false);  // the main window enables it when it shows it
}

VideoWindow::~VideoWindow() = default;

void VideoWindow::SetSmooth(bool smooth) {
  if (!source_) return;
  if (CDibFrame* f = source_().frame) f->SetStretchMode(smooth ? kStretchHalftone : kStretchColorOnColor, true);
}

void VideoWindow::PostMsg(unsigned msg) {
  if (msg != kMsgRepaint) return;
  if (bRepaintPending_.exchange(true)) return;  // one is queued already; it will paint the newest frame
  nQueued_.fetch_add(1, std::memory_order_relaxed);
  QCoreApplication::postEvent(this, new QEvent(kRepaintEvent));
}

void VideoWindow::GetClientSize(int& w, int& h) {
  w = width();
  h = height();
}

void VideoWindow::Invalidate(bool) { update(); }

bool VideoWindow::event(QEvent* e) {
  if (e->type() == kRepaintEvent) {
    // Cleared before painting: a frame that arrives while we paint queues the next repaint.
    bRepaintPending_.store(false);
    if (isVisible()) repaint();
    return true;
  }
  return QWidget::event(e);
}

void CFramePainter::Paint(QPainter& p, const ShownPicture* picture, const CDibFrame& f, int W, int H, bool smooth) {
  static const CImageBuf kNone;
  const CImageBuf& img = picture ? picture->img : kNone;
  const FitRect r = f.rcDest;  // GUI-side layout
  if (!img.bits || img.width <= 0 || img.height <= 0 || r.width <= 0 || r.height <= 0) {
    p.fillRect(0, 0, W, H, Qt::black);
    return;
  }
  // Bands around the picture.
  if (r.y > 0) {
    p.fillRect(0, 0, W, r.y, Qt::black);
    p.fillRect(0, r.y + r.height, W, H - r.y - r.height, Qt::black);
  }
  if (r.x > 0) {
    p.fillRect(0, r.y, r.x, r.height, Qt::black);
    p.fillRect(r.x + r.width, r.y, W - r.x - r.width, r.height, Qt::black);
  }
  // The window's own picture buffer changes only with its size.
  if (picture_.width() != r.width || picture_.height() != r.height)
    picture_ = QImage(r.width, r.height, QImage::Format_RGB32);
  if (picture_.isNull()) return;
  // A negative display height is a top-down picture shown upside down (the flip): a view setting, read
  // now so that a paused picture turns over at once.
  scaler_.Scale(img, picture->grey, f.DisplayHeight() < 0, smooth, reinterpret_cast<uint32_t*>(picture_.bits()),
                r.width, r.height, static_cast<int>(picture_.bytesPerLine()));
  p.drawImage(QPoint(r.x, r.y), picture_);
}

void VideoWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const FrameView v = source_ ? source_() : FrameView{};
  if (!v.frame || !v.hasGraph) {
    p.fillRect(rect(), Qt::black);
    return;
  }
  // The newest picture handed over; the frame's own bits belong to the streaming thread.
  const ShownPicture* picture = v.frame->shown.Take();
  painter_.Paint(p, picture, *v.frame, width(), height(), v.frame->nStretchMode == kStretchHalftone);
  if (onFirstPicture_ && picture && picture->img.width > 0) {
    auto hook = std::move(onFirstPicture_);
    onFirstPicture_ = nullptr;
    hook();
  }
}

void VideoWindow::resizeEvent(QResizeEvent* e) {
  if (source_) {
    if (CDibFrame* f = source_().frame) f->UpdateLayout();
  }
  QWidget::resizeEvent(e);
  update();
}

Qt::Edges VideoWindow::EdgesAt(const QPoint& pos) const {
  Qt::Edges edges;
  if (pos.x() < kResizeBorder) edges |= Qt::LeftEdge;
  if (pos.x() >= width() - kResizeBorder) edges |= Qt::RightEdge;
  if (pos.y() < kResizeBorder) edges |= Qt::TopEdge;
  if (pos.y() >= height() - kResizeBorder) edges |= Qt::BottomEdge;
  return edges;
}

void VideoWindow::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton && e->button() != Qt::RightButton) return QWidget::mousePressEvent(e);
  const Qt::Edges edges = e->button() == Qt::LeftButton ? EdgesAt(e->position().toPoint()) : Qt::Edges();
  QWindow* w = windowHandle();
  const bool system = w && (edges ? w->startSystemResize(edges) : w->startSystemMove());
  if (!system) {
    // No window manager to ask (a bare X server): follow the mouse ourselves.
    bDragging_ = true;
    dragEdges_ = edges;
    dragStartGlobal_ = e->globalPosition().toPoint();
    dragStartGeometry_ = geometry();
  }
  e->accept();
}

void VideoWindow::mouseMoveEvent(QMouseEvent* e) {
  if (!bDragging_) {
    const Qt::Edges edges = EdgesAt(e->position().toPoint());
    const bool h = edges & (Qt::LeftEdge | Qt::RightEdge), v = edges & (Qt::TopEdge | Qt::BottomEdge);
    const bool diag = ((edges & Qt::LeftEdge) && (edges & Qt::TopEdge)) ||
                      ((edges & Qt::RightEdge) && (edges & Qt::BottomEdge));
    setCursor(h && v ? (diag ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor)
                     : h ? Qt::SizeHorCursor
                         : v ? Qt::SizeVerCursor : Qt::ArrowCursor);
    return;
  }
  const QPoint d = e->globalPosition().toPoint() - dragStartGlobal_;
  if (!dragEdges_) {
    move(dragStartGeometry_.topLeft() + d);
    return;
  }
  QRect g = dragStartGeometry_;
  if (dragEdges_ & Qt::LeftEdge) g.setLeft(g.left() + d.x());
  if (dragEdges_ & Qt::RightEdge) g.setRight(g.right() + d.x());
  if (dragEdges_ & Qt::TopEdge) g.setTop(g.top() + d.y());
  if (dragEdges_ & Qt::BottomEdge) g.setBottom(g.bottom() + d.y());
  // Keep the limits; the edge being dragged gives way, the opposite one stays.
  const int w = std::clamp(g.width(), kMinSize, kMaxWidth), h = std::clamp(g.height(), kMinSize, kMaxHeight);
  if (dragEdges_ & Qt::LeftEdge) g.setLeft(g.right() - w + 1); else g.setWidth(w);
  if (dragEdges_ & Qt::TopEdge) g.setTop(g.bottom() - h + 1); else g.setHeight(h);
  setGeometry(g);
}

void VideoWindow::mouseReleaseEvent(QMouseEvent* e) {
  bDragging_ = false;
  QWidget::mouseReleaseEvent(e);
}

void VideoWindow::mouseDoubleClickEvent(QMouseEvent* e) {
  // Double click switches between fast and smooth scaling.
  if (e->button() == Qt::LeftButton && source_) {
    if (CDibFrame* f = source_().frame) SetSmooth(f->nStretchMode != kStretchHalftone);
  }
  e->accept();
}

void VideoWindow::closeEvent(QCloseEvent* e) {
  e->accept();
  hide();
  if (onClose_) onClose_();
}

}  // namespace ulmora
