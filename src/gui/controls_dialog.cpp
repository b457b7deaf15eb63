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
#include <QTimer>
#include <QVBoxLayout>

#include <cerrno>
#include <climits>
#include <string>

#include "devices/control_worker.h"
#include "devices/controls_dialogs.h"
#include "devices/controls_store.h"
#include "gui/dialog_buttons.h"

namespace ulmora {

namespace {

// Widgets hold int; a 64-bit range is cut to what they can show.
int ToInt(int64_t v) { return static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v); }

// How often the worker's outcomes are taken, and how often the controls are read again. The V4L2
// control events would say when a value changes, but not every node delivers them (the simulated one
// has no descriptor to wait on): reading again every few seconds serves both, off the GUI thread.
constexpr int kOutcomeMs = 20;
constexpr int kRereadMs = 3000;

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

  worker_ = std::make_unique<CControlWorker>(device_.Node());
  outcomes_ = new QTimer(this);
  connect(outcomes_, &QTimer::timeout, this, &ControlsDialog::TakeOutcomes);
  outcomes_->start(kOutcomeMs);
  reread_ = new QTimer(this);
  connect(reread_, &QTimer::timeout, this, &ControlsDialog::Refresh);
  reread_->start(kRereadMs);
}

ControlsDialog::~ControlsDialog() {
  outcomes_->stop();
  reread_->stop();
  worker_->Drain();
  // Remembered, not shown: the widgets are going.
  for (const ControlOutcome& o : worker_->TakeOutcomes())
    if (o.kind == ControlOutcome::Kind::kSet && o.err == 0 && o.bRememberable)
      RememberControl(device_.Identity(), o.nId, o.nApplied);
    else if (o.kind == ControlOutcome::Kind::kReset && o.err != ENODEV)
      ForgetControls(device_.Identity());
  worker_.reset();
}

QWidget* ControlsDialog::MakeControl(const ControlDescription& c, Widgets& w) {
  const uint32_t id = c.nId;
  switch (c.kind) {
    case ControlKind::Boolean: {
      w.check = new QCheckBox;
      connect(w.check, &QCheckBox::toggled, this, [this, id](bool on) { Apply(id, on ? 1 : 0); });
      return w.check;
    }
    case ControlKind::Menu:
    case ControlKind::IntegerMenu: {
      w.choice = new QComboBox;
      for (const ControlMenuEntry& m : c.menu)
        w.choice->addItem(QString::fromStdString(m.text), QVariant::fromValue<qlonglong>(m.nIndex));
      connect(w.choice, &QComboBox::activated, this, [this, id](int index) {
        QComboBox* box = widgets_[id].choice;
        Apply(id, box->itemData(index).toLongLong());
      });
      return w.choice;
    }
    case ControlKind::Button: {
      auto* press = new QPushButton(QString::fromStdString(c.name));
      connect(press, &QPushButton::clicked, this, [this, id] { Apply(id, 1); });
      return press;
    }
    case ControlKind::Bitmask: {
      // One box per bit the device offers, bit 31 included: the value is 32 flags, not a number.
      auto* row = new QWidget;
      auto* h = new QHBoxLayout(row);
      h->setContentsMargins(0, 0, 0, 0);
      const uint64_t offered = static_cast<uint64_t>(c.nMaximum) & 0xffffffffu;
      for (int bit = 0; bit < 32; ++bit) {
        if (!(offered & (uint64_t{1} << bit))) continue;
        auto* box = new QCheckBox(QString::number(bit));
        box->setToolTip(QStringLiteral("Bit %1").arg(bit));
        w.bits.emplace_back(bit, box);
        h->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this, id] {
          int64_t value = 0;
          for (const auto& [b, other] : widgets_[id].bits)
            if (other->isChecked()) value |= int64_t{1} << b;
          Apply(id, value);
        });
      }
      h->addStretch(1);
      return row;
    }
    case ControlKind::Integer:
    case ControlKind::Integer64: break;
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
  connect(w.number, &QSpinBox::valueChanged, this, [this, id, slider](int v) {
    if (slider) {
      const QSignalBlocker quiet(slider);
      slider->setValue(v);
    }
    Apply(id, v);
  });
  // A relative control (a motor's speed) is an action: the slider springs back when let go.
  if (slider && (c.bWriteOnly || c.bExecuteOnWrite)) {
    QSpinBox* number = w.number;
    const int rest = ToInt(c.nDefault);
    connect(slider, &QSlider::sliderReleased, this, [this, id, slider, number, rest] {
      const QSignalBlocker quietSlider(slider);
      const QSignalBlocker quietNumber(number);
      slider->setValue(rest);
      number->setValue(rest);
      Apply(id, rest);
    });
  }
  return row;
}

void ControlsDialog::Show(const ControlDescription& c, Widgets& w) {
  w.desc = c;
  const bool editable = !c.bReadOnly;
  if (w.check) {
    const QSignalBlocker quiet(w.check);
    w.check->setChecked(c.nValue != 0);
    w.check->setEnabled(editable);
  }
  for (const auto& [bit, box] : w.bits) {
    const QSignalBlocker quiet(box);
    box->setChecked((static_cast<uint64_t>(c.nValue) >> bit) & 1u);
    box->setEnabled(editable);
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
  // An automatic mode rules the value now: it may be changed, but is shown greyed; so is a value the
  // device did not tell.
  if (w.label) w.label->setEnabled(!c.bInactive && !c.bUnknownValue);
  if (w.label) w.label->setToolTip(c.bUnknownValue ? QStringLiteral("The device did not tell its value.") : QString());
}

void ControlsDialog::Apply(uint32_t nId, int64_t nValue) { worker_->Set(nId, nValue); }

void ControlsDialog::Refresh() { worker_->Describe(); }

void ControlsDialog::ResetToDefaults() { worker_->Reset(); }

void ControlsDialog::TakeOutcomes() {
  for (const ControlOutcome& o : worker_->TakeOutcomes()) Handle(o);
}

void ControlsDialog::Handle(const ControlOutcome& o) {
  if (o.err != 0) problem_->setText(QString::fromStdString(o.error));
  if (o.kind != ControlOutcome::Kind::kSet) {
    // The values were put back even when one was refused: nothing set before counts any more.
    if (o.kind == ControlOutcome::Kind::kReset && o.err != ENODEV) ForgetControls(device_.Identity());
    if (o.err == 0 && o.kind == ControlOutcome::Kind::kReset) problem_->clear();
    ShowAll(o.groups);
    return;
  }
  if (o.err != 0) {
    Refresh();
    return;
  }
  problem_->clear();
  if (o.bRememberable) RememberControl(device_.Identity(), o.nId, o.nApplied);
  auto it = widgets_.find(o.nId);
  // A newer value is on its way, or the user still drags: showing this one would pull the slider back.
  if (it == widgets_.end() || worker_->Pending(o.nId) || (it->second.slider && it->second.slider->isSliderDown())) return;
  ControlDescription shown = it->second.desc;
  // An action leaves nothing set: the widget rests at its default.
  shown.nValue = o.bRememberable || !(shown.bWriteOnly || shown.bExecuteOnWrite) ? o.nApplied : shown.nDefault;
  Show(shown, it->second);
}

void ControlsDialog::ShowAll(const std::vector<ControlGroupDescription>& groups) {
  for (const ControlGroupDescription& g : groups)
    for (const ControlDescription& c : g.controls) {
      auto it = widgets_.find(c.nId);
      if (it == widgets_.end() || worker_->Pending(c.nId)) continue;
      if (it->second.slider && it->second.slider->isSliderDown()) continue;
      Show(c, it->second);
    }
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
QCheckBox* ControlsDialog::Bit(uint32_t nId, int nBit) const {
  auto it = widgets_.find(nId);
  if (it == widgets_.end()) return nullptr;
  for (const auto& [bit, box] : it->second.bits)
    if (bit == nBit) return box;
  return nullptr;
}

QComboBox* ControlsDialog::Choice(uint32_t nId) const {
  auto it = widgets_.find(nId);
  return it == widgets_.end() ? nullptr : it->second.choice;
}

}  // namespace ulmora
