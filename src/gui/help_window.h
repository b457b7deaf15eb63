// HelpWindow: the help page in a window of the program's own, so Help > Content shows it on any
// machine, whether or not the desktop has a browser registered for local pages.
#pragma once

#include <QTextBrowser>

namespace ulmora {

class HelpWindow : public QTextBrowser {
 public:
  // A top-level window owned by owner (it closes with it); empty until ShowPage.
  explicit HelpWindow(QWidget* owner);

  // Loads the page (again, so an edited page shows its new text), shows the window and brings it to
  // the front; false when the file cannot be read.
  bool ShowPage(const QString& path);
};

}  // namespace ulmora
