#include "gui/controls_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <climits>
#include <string>

#include "devices/controls_dialogs.h"
#include "gui/dialog_buttons.h"

namespace ulmora {

namespace {

// Widgets hold int; a 64-bit range is cut to what they can show.
int ToInt(int64_t v) { return static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v); }

// Asks for the whole of its content, so the dialog grows with the controls; the dialog's placement
// caps it at the screen, and the rest scrolls.
class ContentScrollArea : public QScrollArea {
 public:
  QSize sizeHint() const override {
    const QWidget* content = widget();
    if (!content) return QScrollArea::sizeHint();
    const int frame = 2 * frameWidth();
    // Room for a vertical scroll bar, so a capped height never hides the right edge of the content.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return content->sizeHint() + QSize(frame + bar, frame);
  }
};

}  // namespace

ControlsDialog::ControlsDialog(CDeviceDialogs& device, QWidget* parent) : QDialog(parent), device_(device) {
  setWindowTitle(QStringLiteral("Video Capture Filter"));
  auto* top = new QVBoxLayout(this);
  auto* body = new QWidget;
  auto* groupsLayout = new QVBoxLayout(body);
  std::vector<ControlGroupDescription> groups;
  std::string why;
  if (!device_.DescribeControls(&groups, &why)) {
    groupsLayout->addWidget(new QLabel(QString::fromStdString(why)));
  }
  for (const ControlGroupDescription& g : groups) {
    auto* box = new QGroupBox(QString::fromStdString(g.name));
    auto* form = new QFormLayout(box);
    for (const ControlDescription& c : g.controls) {
      Widgets& w = widgets_[c.nId];
      QWidget* field = MakeControl(c, w);
      auto* label = new QLabel(QString::fromStdString(c.name));
      w.label = label;
      form->addRow(label, field);
      Show(c, w);
    }
    groupsLayout->addWidget(box);
  }
  groupsLayout->addStretch(1);
  auto* scroll = new ContentScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setWidget(body);
  top->addWidget(scroll, 1);
  problem_ = new QLabel;
  problem_->setWordWrap(true);
  top->addWidget(problem_);
  QDialogButtonBox* buttons = CloseOnly(this);
  QPushButton* reset = buttons->addButton(QStringLiteral("&Default"), QDialogButtonBox::ResetRole);
  connect(reset, &QPushButton::clicked, this, &ControlsDialog::ResetToDefaults);
  top->addWidget(buttons);
}

QWidget* ControlsDialog::MakeControl(const ControlDescription& c, Widgets& w) {
  const uint32_t id = c.nId;
  const bool others = c.bUpdatesOthers;
  switch (c.kind) {
    case ControlKind::Boolean: {
      w.check = new QCheckBox;
      connect(w.check, &QCheckBox::toggled, this, [this, id, others](bool on) { Apply(id, on ? 1 : 0, others); });
      return w.check;
    }
    case ControlKind::Menu:
    case ControlKind::IntegerMenu: {
      w.choice = new QComboBox;
      for (const ControlMenuEntry& m : c.menu)
        w.choice->addItem(QString::fromStdString(m.text), QVariant::fromValue<qlonglong>(m.nIndex));
      connect(w.choice, &QComboBox::activated, this, [this, id, others](int index) {
        QComboBox* box = widgets_[id].choice;
        Apply(id, box->itemData(index).toLongLong(), others);
      });
      return w.choice;
    }
    case ControlKind::Button: {
      auto* press = new QPushButton(QString::fromStdString(c.name));
      connect(press, &QPushButton::clicked, this, [this, id, others] { Apply(id, 1, others); });
      return press;
    }
    case ControlKind::Integer:
    case ControlKind::Integer64:
    case ControlKind::Bitmask: break;
  }
  auto* row = new QWidget;
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(0, 0, 0, 0);
  w.number = new QSpinBox;
  w.number->setRange(ToInt(c.nMinimum), ToInt(c.nMaximum));
  w.number->setSingleStep(ToInt(c.nStep > 0 ? c.nStep : 1));
  if (c.kind == ControlKind::Integer) {
    w.slider = new QSlider(Qt::Horizontal);
    w.slider->setRange(ToInt(c.nMinimum), ToInt(c.nMaximum));
    w.slider->setSingleStep(ToInt(c.nStep > 0 ? c.nStep : 1));
    w.slider->setPageStep(ToInt(c.nStep > 0 ? c.nStep : 1) * 10);
    h->addWidget(w.slider, 1);
    QSpinBox* number = w.number;
    connect(w.slider, &QSlider::valueChanged, this, [number](int v) { number->setValue(v); });
  }
  h->addWidget(w.number);
  QSlider* slider = w.slider;
  connect(w.number, &QSpinBox::valueChanged, this, [this, id, others, slider](int v) {
    if (slider) {
      const QSignalBlocker quiet(slider);
      slider->setValue(v);
    }
    Apply(id, v, others);
  });
  return row;
}

void ControlsDialog::Show(const ControlDescription& c, Widgets& w) {
  const bool editable = !c.bReadOnly;
  if (w.check) {
    const QSignalBlocker quiet(w.check);
    w.check->setChecked(c.nValue != 0);
    w.check->setEnabled(editable);
  }
  if (w.choice) {
    const QSignalBlocker quiet(w.choice);
    w.choice->setCurrentIndex(w.choice->findData(QVariant::fromValue<qlonglong>(c.nValue)));
    w.choice->setEnabled(editable);
  }
  if (w.number) {
    const QSignalBlocker quiet(w.number);
    w.number->setValue(ToInt(c.nValue));
    w.number->setEnabled(editable);
  }
  if (w.slider) {
    const QSignalBlocker quiet(w.slider);
    w.slider->setValue(ToInt(c.nValue));
    w.slider->setEnabled(editable);
  }
  // An automatic mode rules the value now: it may be changed, but is shown greyed.
  if (w.label) w.label->setEnabled(!c.bInactive);
}

void ControlsDialog::Apply(uint32_t nId, int64_t nValue, bool bUpdatesOthers) {
  std::string why;
  if (!device_.SetControl(nId, nValue, &why)) {
    problem_->setText(QString::fromStdString(why));
    Refresh();
    return;
  }
  problem_->clear();
  if (bUpdatesOthers) Refresh();
}

void ControlsDialog::Refresh() {
  std::vector<ControlGroupDescription> groups;
  std::string why;
  if (!device_.DescribeControls(&groups, &why)) {
    problem_->setText(QString::fromStdString(why));
    return;
  }
  for (const ControlGroupDescription& g : groups)
    for (const ControlDescription& c : g.controls)
      if (auto it = widgets_.find(c.nId); it != widgets_.end()) Show(c, it->second);
}

void ControlsDialog::ResetToDefaults() {
  std::string why;
  if (!device_.ResetControls(&why))
    problem_->setText(QString::fromStdString(why));
  else
    problem_->clear();
  Refresh();
}

QString ControlsDialog::Problem() const { return problem_->text(); }

QSlider* ControlsDialog::Slider(uint32_t nId) const {
  auto it = widgets_.find(nId);
  return it == widgets_.end() ? nullptr : it->second.slider;
}
QSpinBox* ControlsDialog::Number(uint32_t nId) const {
  auto it = widgets_.find(nId);
  return it == widgets_.end() ? nullptr : it->second.number;
}
QCheckBox* ControlsDialog::Check(uint32_t nId) const {
  auto it = widgets_.find(nId);
  return it == widgets_.end() ? nullptr : it->second.check;
}
QComboBox* ControlsDialog::Choice(uint32_t nId) const {
  auto it = widgets_.find(nId);
  return it == widgets_.end() ? nullptr : it->second.choice;
}

}  // namespace ulmora
