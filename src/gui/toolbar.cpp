#include "gui/toolbar.h"

#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QToolBar>
#include <QToolButton>

#include "gui/command_ids.h"
#include "gui/control_id.h"
#include "gui/tool_icons.h"
#include "gui/tooltip_strings.h"

namespace ulmora {

namespace {

constexpr ToolbarEntry kEntries[kToolbarEntryCount] = {
    {-1, 0, false},
    {kImgPlay, kCmdPlay, true},
    {kImgPause, kCmdPause, true},
    {kImgStop, kCmdStop, false},
    {-1, 0, false},
    {kImgCapture, kCmdCaptureToggle, true},
    {kImgRecord, kCmdRecord, true},
    {-1, 0, false},
    {kImgLivePreview, kCmdLivePreview, true},
    {-1, 0, false},
    {kImgDefault, kCmdDefault, false},
    {-1, 0, false},
    {kImgAuto, kCmdAuto, true},
    {kImgAutoAmp, kCmdAutoAmp, true},
    {kImgAutoAccum, kCmdAutoAccum, true},
    {kImgAutoDelay, kCmdAutoDelay, true},
    {-1, 0, false},
    {kImgNRH, kCmdNRH, true},
    {kImgNRV, kCmdNRV, true},
    {-1, 0, false},
};

// Button size that a 16 x 15 image gets on a flat toolbar: the image plus a 3-4 pixel frame.
constexpr int kButtonWidth = 23, kButtonHeight = 22;
constexpr int kToolbarHeight = 26;
constexpr int kDelayBoxMinGap = 2;

// Keeps the delay box at its x, or right after the last button when the style makes buttons wider.
class DelayBoxPlacer : public QObject {
 public:
  DelayBoxPlacer(QToolBar* toolbar, QLineEdit* box) : QObject(toolbar), toolbar_(toolbar), box_(box) {
    toolbar->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == toolbar_ &&
        (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show))
      Place();
    return false;
  }

  void Place() {
    int right = 0;
    for (QAction* a : toolbar_->actions())
      if (QWidget* w = toolbar_->widgetForAction(a); w && w != box_ && w->isVisible())
        right = qMax(right, w->geometry().right() + 1);
    const int x = qMax(kDelayBoxX, right + kDelayBoxMinGap);
    const int y = qMax(0, (toolbar_->height() - kDelayBoxHeight) / 2);
    box_->setGeometry(x, y, kDelayBoxWidth, kDelayBoxHeight);
  }

 private:
  QToolBar* toolbar_;
  QLineEdit* box_;
};

}  // namespace

const ToolbarEntry& ToolbarEntryAt(int index) {
  return kEntries[index < 0 ? 0 : (index >= kToolbarEntryCount ? kToolbarEntryCount - 1 : index)];
}

QToolBar* BuildToolbar(QWidget* parent, const ActionLookup& actionFor) {
  auto* toolbar = new QToolBar(parent);
  toolbar->setObjectName(QStringLiteral("toolbar"));
  SetControlId(toolbar, kIdToolbar);
  toolbar->setMovable(false);
  toolbar->setFloatable(false);
  toolbar->setIconSize(QSize(kToolImageWidth, kToolImageHeight));
  toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
  toolbar->setMinimumHeight(kToolbarHeight);

  for (const ToolbarEntry& e : kEntries) {
    if (e.id == 0) {
      toolbar->addSeparator();
      continue;
    }
    QAction* action = actionFor ? actionFor(e.id) : nullptr;
    if (!action) action = new QAction(toolbar);
    action->setData(e.id);
    action->setIcon(ToolbarIcon(e.image));
    action->setCheckable(e.check);
    action->setIconVisibleInMenu(false);  // the menus keep their plain check marks
    if (const char* tip = TooltipString(e.id)) action->setToolTip(QString::fromUtf8(tip));
    toolbar->addAction(action);
    if (auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action))) {
      button->setFixedSize(kButtonWidth, kButtonHeight);
      SetControlId(button, e.id);
    }
  }

  auto* box = new QLineEdit(toolbar);
  box->setObjectName(QStringLiteral("delayBox"));
  SetControlId(box, kIdDelayBox);
  box->setMaxLength(kDelayBoxMaxChars);
  box->setFixedSize(kDelayBoxWidth, kDelayBoxHeight);
  box->setAlignment(Qt::AlignCenter);
  box->setTextMargins(0, 0, 0, 0);
  auto* placer = new DelayBoxPlacer(toolbar, box);
  placer->Place();
  toolbar->setMinimumWidth(kDelayBoxX + kDelayBoxWidth);
  return toolbar;
}

QLineEdit* ToolbarDelayBox(QToolBar* toolbar) {
  return toolbar ? toolbar->findChild<QLineEdit*>(QStringLiteral("delayBox"), Qt::FindDirectChildrenOnly) : nullptr;
}

}  // namespace ulmora
