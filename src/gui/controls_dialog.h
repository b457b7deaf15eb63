// "Video Capture Filter...": the device's controls, grouped as the device groups them. Integers are a
// slider with a number field, booleans a check box, menus a drop-down list, buttons a push button.
// Each change is set on the device at once (the stream keeps running) and remembered for it.
#pragma once

#include <QDialog>

#include <cstdint>
#include <map>
#include <vector>

#include "devices/controls_desc.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QWidget;

namespace ulmora {

class CDeviceDialogs;

class ControlsDialog : public QDialog {
 public:
  ControlsDialog(CDeviceDialogs& device, QWidget* parent);

  // The value widgets of a control, null when it has none of that kind (tests set values through them).
  QSlider* Slider(uint32_t nId) const;
  QSpinBox* Number(uint32_t nId) const;
  QCheckBox* Check(uint32_t nId) const;
  QComboBox* Choice(uint32_t nId) const;
  // Every control back to the device's defaults.
  void ResetToDefaults();
  // The last refusal of the device, empty when it took every change.
  QString Problem() const;

 private:
  struct Widgets {
    QSlider* slider = nullptr;
    QSpinBox* number = nullptr;
    QCheckBox* check = nullptr;
    QComboBox* choice = nullptr;
    QWidget* label = nullptr;
  };
  QWidget* MakeControl(const ControlDescription& c, Widgets& w);
  void Apply(uint32_t nId, int64_t nValue, bool bUpdatesOthers);
  // Shows what the device holds now (after a reset, a refusal or a change that moves others).
  void Refresh();
  void Show(const ControlDescription& c, Widgets& w);

  CDeviceDialogs& device_;
  std::map<uint32_t, Widgets> widgets_;
  QLabel* problem_ = nullptr;
};

}  // namespace ulmora
