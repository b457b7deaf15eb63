// Where the main window and the two video windows stand on the work area.
#pragma once

#include <QRect>

namespace ulmora {

constexpr int kMainWidth = 420;
constexpr int kMainHeight = 256;
constexpr int kVideoWidth = 320;
constexpr int kVideoHeight = 240;

// The work area as used for placement: at most the screen, at least 100 x 80; the screen minus 20 in
// each direction when no work area is known.
QRect EffectiveWorkArea(const QRect& screen, const QRect& available);

// Top-left of the main window's frame: centred, its top 260 pixels above the work area's bottom.
QPoint PlaceMainWindow(const QRect& workArea);

struct VideoPlacement {
  QRect live;
  QRect proc;
};
// "Live" and "Processing" side by side, 326 pixels apart, at 50 from the top when they fit.
VideoPlacement PlaceVideoWindows(const QRect& workArea);

}  // namespace ulmora
