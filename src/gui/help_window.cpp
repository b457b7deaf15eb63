#include "gui/help_window.h"

#include <QFileInfo>
#include <QKeySequence>
#include <QShortcut>
#include <QUrl>

namespace ulmora {

HelpWindow::HelpWindow(QWidget* owner) : QTextBrowser(owner) {
  setObjectName(QStringLiteral("helpWindow"));
  setWindowFlag(Qt::Window);
  setWindowTitle(QStringLiteral("Ulmora: help"));
  // Links to the web or to mail leave the window; the page's own anchors stay inside it.
  setOpenExternalLinks(true);
  resize(720, 820);
  auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(close, &QShortcut::activated, this, &QWidget::close);
}

bool HelpWindow::ShowPage(const QString& path) {
  const QFileInfo info(path);
  if (!info.isFile() || !info.isReadable()) return false;
  const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
  if (source() == url)
    reload();
  else
    setSource(url);
  if (!documentTitle().isEmpty()) setWindowTitle(documentTitle());
  show();
  raise();
  activateWindow();
  return true;
}

}  // namespace ulmora
