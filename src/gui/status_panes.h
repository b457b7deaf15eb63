// The main window's two status parts, side by side, each cut to its own width.
#pragma once

#include <QFrame>
#include <QString>

namespace ulmora {

// One status part: a sunken one-line text that never draws outside its box. A text too long for it is
// shortened with an ellipsis (in the middle for paths, so the file name stays) and shown whole as the
// tooltip.
class StatusPane : public QFrame {
 public:
  StatusPane(Qt::TextElideMode elide, QWidget* parent);
  void SetText(const QString& text);
  QString Text() const { return text_; }
  // The text as drawn now (elided to the width).
  QString Shown() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void UpdateTooltip();

  Qt::TextElideMode elide_;
  QString text_;
};

// Part 0 ends at 11/18 of the width, part 1 takes the rest; neither needs more room than one
// character, so the bar fits any width the window takes.
class StatusPanes : public QWidget {
 public:
  explicit StatusPanes(QWidget* parent = nullptr);
  StatusPane* Part(int i) const { return parts_[i == 0 ? 0 : 1]; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Place();
  StatusPane* parts_[2] = {};
};

}  // namespace ulmora
