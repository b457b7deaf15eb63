#include "gui/placement.h"

#include <algorithm>

namespace ulmora {

QRect EffectiveWorkArea(const QRect& screen, const QRect& available) {
  const int sw = std::max(screen.width(), 100), sh = std::max(screen.height(), 80);
  if (!available.isValid()) return QRect(screen.topLeft(), QSize(std::max(sw - 20, 100), std::max(sh - 20, 80)));
  return QRect(available.topLeft(), QSize(std::min(available.width(), sw), std::min(available.height(), sh)));
}

// The offsets are taken from the work area's own corner: on a desktop with a top panel or a second
// screen left of the first, the corner is not (0, 0).
QPoint PlaceMainWindow(const QRect& wa) {
  const int x = std::max((wa.width() - kMainWidth) >> 1, 0);
  const int y = std::max(wa.height() - 260, 0);
  return wa.topLeft() + QPoint(x, y);
}

VideoPlacement PlaceVideoWindows(const QRect& wa) {
  const int x = std::max((wa.width() - 646) / 2, 0);
  int y = 50;
  if (y + kVideoHeight > wa.height()) y = std::max(wa.height() - kVideoHeight, 0);
  const QPoint o = wa.topLeft();
  return VideoPlacement{QRect(o + QPoint(x, y), QSize(kVideoWidth, kVideoHeight)),
                        QRect(o + QPoint(x + 326, y), QSize(kVideoWidth, kVideoHeight))};
}

}  // namespace ulmora
