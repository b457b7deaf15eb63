// "TV Tuner...": the tuner's name, frequency, signal and audio mode. A frequency or audio mode is set on
// the device as it is made; the frequency is remembered for the device.
#pragma once

#include <QDialog>

#include <string>

#include "devices/controls_desc.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;

namespace ulmora {

class CDeviceDialogs;

class TunerDialog : public QDialog {
 public:
  TunerDialog(CDeviceDialogs& device, QWidget* parent);
  // Reads the tuner and builds the fields; false with a plain sentence in *why when it cannot.
  bool Load(std::string* why);

 private:
  void Build();
  void ApplyFrequency();
  void ApplyAudioMode(int index);

  CDeviceDialogs& device_;
  TunerDescription tuner_;
  QDoubleSpinBox* frequency_ = nullptr;
  QComboBox* audio_ = nullptr;
  QLabel* problem_ = nullptr;
};

}  // namespace ulmora
