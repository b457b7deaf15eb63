#include "gui/status_panes.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

namespace ulmora {

namespace {
constexpr int kTextMargin = 3;  // between the sunken edge and the text
constexpr int kPartGap = 2;
}  // namespace

StatusPane::StatusPane(Qt::TextElideMode elide, QWidget* parent) : QFrame(parent), elide_(elide) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void StatusPane::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  UpdateTooltip();
  update();
}

QString StatusPane::Shown() const {
  const int room = contentsRect().width() - 2 * kTextMargin;
  return fontMetrics().elidedText(text_, elide_, qMax(room, 0));
}

QSize StatusPane::sizeHint() const {
  const QFontMetrics fm = fontMetrics();
  const int frame = 2 * frameWidth();
  return QSize(fm.horizontalAdvance(text_) + 2 * kTextMargin + frame, fm.height() + 2 + frame);
}

QSize StatusPane::minimumSizeHint() const {
  const int frame = 2 * frameWidth();
  return QSize(frame + 2 * kTextMargin, fontMetrics().height() + 2 + frame);
}

void StatusPane::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QRect r = contentsRect().adjusted(kTextMargin, 0, -kTextMargin, 0);
  painter.setClipRect(r);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Shown());
}

void StatusPane::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  UpdateTooltip();
}

void StatusPane::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateTooltip();
}

void StatusPane::UpdateTooltip() { setToolTip(Shown() == text_ ? QString() : text_); }

StatusPanes::StatusPanes(QWidget* parent) : QWidget(parent) {
  parts_[0] = new StatusPane(Qt::ElideMiddle, this);  // source names: file paths
  parts_[1] = new StatusPane(Qt::ElideRight, this);   // sentences
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QSize StatusPanes::sizeHint() const {
  return QSize(parts_[0]->sizeHint().width() + kPartGap + parts_[1]->sizeHint().width(), minimumSizeHint().height());
}

QSize StatusPanes::minimumSizeHint() const {
  const QSize a = parts_[0]->minimumSizeHint(), b = parts_[1]->minimumSizeHint();
  return QSize(a.width() + kPartGap + b.width(), qMax(a.height(), b.height()));
}

void StatusPanes::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Place();
}

void StatusPanes::Place() {
  const int w = width(), h = height();
  // Part 0 ends at 11/18 of the window's width; the bar's own left offset is taken off.
  const int windowWidth = window()->width();
  const int offset = window() == this ? 0 : mapTo(window(), QPoint(0, 0)).x();
  const int minimum0 = parts_[0]->minimumSizeHint().width(), minimum1 = parts_[1]->minimumSizeHint().width();
  int end0 = windowWidth * 11 / 18 - offset;
  end0 = qBound(qMin(minimum0, w), end0, qMax(w - kPartGap - minimum1, 0));
  parts_[0]->setGeometry(0, 0, end0, h);
  const int start1 = qMin(end0 + kPartGap, w);
  parts_[1]->setGeometry(start1, 0, w - start1, h);
}

}  // namespace ulmora
