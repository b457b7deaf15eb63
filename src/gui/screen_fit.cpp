#include "gui/screen_fit.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace ulmora {

QRect FitFrame(const QPoint& wanted, const QSize& frameSize, const QRect& available) {
  const int w = std::min(frameSize.width(), available.width());
  const int h = std::min(frameSize.height(), available.height());
  const int x = std::clamp(wanted.x(), available.left(), available.left() + available.width() - w);
  const int y = std::clamp(wanted.y(), available.top(), available.top() + available.height() - h);
  return QRect(x, y, w, h);
}

QRect AvailableFor(const QWidget* anchor) {
  QScreen* screen = nullptr;
  if (anchor) {
    const QWidget* window = anchor->window();
    // A window that is partly off every screen still belongs to the one its centre, or failing
    // that its own screen, is on.
    screen = QGuiApplication::screenAt(window->frameGeometry().center());
    if (!screen) screen = window->screen();
  }
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
}

namespace {

// Title bar and borders the platform adds around a window's client area.
QMargins FrameMargins(const QWidget* dialog, const QWidget* anchor) {
  const QWidget* shown = dialog->isVisible() ? dialog : anchor ? anchor->window() : nullptr;
  if (!shown || !shown->isVisible()) return QMargins();
  const QRect frame = shown->frameGeometry(), client = shown->geometry();
  return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                  frame.bottom() - client.bottom());
}

// Sizes the dialog and returns its frame size; the caller chooses where it wants the frame.
QSize SizeDialog(QWidget* dialog, const QWidget* anchor, const QRect& available) {
  const QMargins margins = FrameMargins(dialog, anchor);
  if (QLayout* layout = dialog->layout()) layout->activate();
  QSize client = dialog->sizeHint().expandedTo(dialog->minimumSizeHint());
  client = client.expandedTo(dialog->minimumSize()).boundedTo(dialog->maximumSize());
  const QSize room = available.size().shrunkBy(margins);
  // A dialog with a fixed size keeps it; anything else gives way to the screen.
  if (dialog->minimumSize() != dialog->maximumSize()) {
    client = client.boundedTo(room);
    dialog->setMinimumSize(dialog->minimumSize().boundedTo(room));
  }
  dialog->resize(client);
  return client.grownBy(margins);
}

}  // namespace

void PlaceDialog(QWidget* dialog, const QWidget* anchor, const QPoint& offset) {
  if (!dialog) return;
  const QRect available = AvailableFor(anchor ? anchor : dialog);
  const QSize frame = SizeDialog(dialog, anchor, available);
  const QPoint wanted = anchor ? anchor->window()->frameGeometry().topLeft() + offset : available.topLeft();
  dialog->move(FitFrame(wanted, frame, available).topLeft());
}

void CentreDialog(QWidget* dialog, const QWidget* anchor) {
  if (!dialog) return;
  const QRect available = AvailableFor(anchor ? anchor : dialog);
  const QSize frame = SizeDialog(dialog, anchor, available);
  const QPoint centre = anchor ? anchor->window()->frameGeometry().center() : available.center();
  const QPoint wanted = centre - QPoint(frame.width() / 2, frame.height() / 2);
  dialog->move(FitFrame(wanted, frame, available).topLeft());
}

}  // namespace ulmora
