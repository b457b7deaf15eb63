// Keeps top-level windows whole on the screen they belong to.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>

class QWidget;

namespace ulmora {

// The frame rectangle of the given size moved (and, when it is larger, shrunk) to lie inside
// available; it stays at wanted when it already fits there.
QRect FitFrame(const QPoint& wanted, const QSize& frameSize, const QRect& available);

// The available geometry of the screen that holds anchor's centre (the primary screen without one).
QRect AvailableFor(const QWidget* anchor);

// Sizes a dialog to its content's size hint, no larger than the anchor's screen allows, and places
// its frame near anchor's top-left + offset, wholly on that screen. The platform's frame margins are
// taken from the anchor when the dialog has not been shown yet.
void PlaceDialog(QWidget* dialog, const QWidget* anchor, const QPoint& offset);
// The same, centred over the anchor's window.
void CentreDialog(QWidget* dialog, const QWidget* anchor);

}  // namespace ulmora
