#include "gui/tuner_dialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "devices/controls_dialogs.h"
#include "gui/dialog_buttons.h"

namespace ulmora {

TunerDialog::TunerDialog(CDeviceDialogs& device, QWidget* parent) : QDialog(parent), device_(device) {
  setWindowTitle(QStringLiteral("TV Tuner"));
}

bool TunerDialog::Load(std::string* why) {
  if (!device_.DescribeTuner(&tuner_, why)) return false;
  Build();
  return true;
}

void TunerDialog::Build() {
  auto* top = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Tuner:"), new QLabel(QString::fromStdString(tuner_.name)));
  frequency_ = new QDoubleSpinBox;
  frequency_->setObjectName(QStringLiteral("frequency"));
  frequency_->setDecimals(4);
  frequency_->setSuffix(QStringLiteral(" MHz"));
  frequency_->setRange(static_cast<double>(tuner_.nMinHz) / 1e6, static_cast<double>(tuner_.nMaxHz) / 1e6);
  frequency_->setSingleStep(tuner_.nStepHz > 0 ? static_cast<double>(tuner_.nStepHz) / 1e6 : 0.0625);
  frequency_->setValue(static_cast<double>(tuner_.nFrequencyHz) / 1e6);
  form->addRow(QStringLiteral("Frequency:"), frequency_);
  form->addRow(QStringLiteral("Signal:"), new QLabel(QStringLiteral("%1 %").arg(tuner_.nSignalPercent)));
  problem_ = new QLabel;
  connect(frequency_, &QDoubleSpinBox::editingFinished, this, &TunerDialog::ApplyFrequency);
  if (!tuner_.audioModes.empty()) {
    audio_ = new QComboBox;
    audio_->setObjectName(QStringLiteral("audio"));
    for (const TunerAudioMode& m : tuner_.audioModes) audio_->addItem(QString::fromStdString(m.name), m.nMode);
    audio_->setCurrentIndex(audio_->findData(tuner_.nAudioMode));
    connect(audio_, &QComboBox::activated, this, &TunerDialog::ApplyAudioMode);
    form->addRow(QStringLiteral("Audio mode:"), audio_);
  }
  top->addLayout(form);
  top->addWidget(problem_);
  top->addWidget(CloseOnly(this));
}

void TunerDialog::ApplyFrequency() {
  std::string err;
  const uint64_t hz = static_cast<uint64_t>(frequency_->value() * 1e6 + 0.5);
  problem_->setText(device_.SetFrequency(hz, &err) ? QString() : QString::fromStdString(err));
}

void TunerDialog::ApplyAudioMode(int index) {
  std::string err;
  const bool ok = device_.SetAudioMode(audio_->itemData(index).toUInt(), &err);
  problem_->setText(ok ? QString() : QString::fromStdString(err));
}

}  // namespace ulmora
