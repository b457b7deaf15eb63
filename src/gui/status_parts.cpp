#include "gui/status_parts.h"

#include <QLabel>
#include <QLayout>
#include <QStatusBar>

namespace ulmora {

namespace {
constexpr int kMaxStatusChars = 99;  // what the shared text buffer holds
}

void StatusParts::Build(QStatusBar* bar, int clientWidth) {
  if (!bar) return;
  bar->setSizeGripEnabled(false);
  part0_ = new QLabel(bar);
  part0_->setObjectName(QStringLiteral("statusPart0"));
  part1_ = new QLabel(bar);
  part1_->setObjectName(QStringLiteral("statusPart1"));
  for (QLabel* l : {part0_, part1_}) {
    l->setTextFormat(Qt::PlainText);
    l->setMinimumWidth(0);
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  // The bar's own margins and spacing come off the first part so that it ends where it should.
  const int edge = bar->layout() ? bar->layout()->contentsMargins().left() : 0;
  part0_->setFixedWidth(qMax(0, clientWidth * 11 / 18 - edge));
  bar->addWidget(part0_, 0);
  bar->addWidget(part1_, 1);
}

void StatusParts::SetText(int part, const QString& text) {
  QLabel* l = Part(part);
  if (!l) return;
  l->setText(text.left(kMaxStatusChars));
}

QString StatusParts::Text(int part) const {
  QLabel* l = Part(part);
  return l ? l->text() : QString();
}

}  // namespace ulmora
