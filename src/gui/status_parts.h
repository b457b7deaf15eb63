// The status bar's two parts: part 0 for the graph builders, part 1 for the main window's texts.
#pragma once

#include <QString>

class QLabel;
class QStatusBar;

namespace ulmora {

class StatusParts {
 public:
  // Adds the parts to bar; part 0 ends at 11/18 of clientWidth and keeps that width.
  void Build(QStatusBar* bar, int clientWidth);
  // Texts longer than 99 characters are cut; a missing status bar drops them.
  void SetText(int part, const QString& text);
  QString Text(int part) const;
  QLabel* Part(int part) const { return part == 0 ? part0_ : part1_; }

 private:
  QLabel* part0_ = nullptr;
  QLabel* part1_ = nullptr;
};

}  // namespace ulmora
