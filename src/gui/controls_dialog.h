// "Video Capture Filter...": the device's controls, grouped as the device groups them. Integers are a
// slider with a number field, booleans a check box, menus a drop-down list, buttons a push button.
// Changes go to the device on a worker thread (the newest value of each control, the stream keeps
// running); the dialog then shows and remembers the value the device applied. The controls are read
// again every few seconds, so values an automatic mode or another program changed show.
#pragma once

#include <QDialog>

#include <cstdint>
#include <map>
#include <utility>
#include <memory>
#include <vector>

#include "devices/controls_desc.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QTimer;
class QWidget;

namespace ulmora {

class CControlWorker;
struct ControlOutcome;
class CDeviceDialogs;

class ControlsDialog : public QDialog {
 public:
  ControlsDialog(CDeviceDialogs& device, QWidget* parent);
  // The values still on their way are sent and remembered first.
  ~ControlsDialog() override;

  // The value widgets of a control, null when it has none of that kind (tests set values through them).
  QSlider* Slider(uint32_t nId) const;
  QSpinBox* Number(uint32_t nId) const;
  QCheckBox* Check(uint32_t nId) const;
  QComboBox* Choice(uint32_t nId) const;
  // A bitmask's box for one bit, null when the control offers no such bit.
  QCheckBox* Bit(uint32_t nId, int nBit) const;
  // Every control back to the device's defaults; the dialog shows them when the device is done.
  void ResetToDefaults();
  // The last refusal of the device, empty when it took every change.
  QString Problem() const;

 private:
  struct Widgets {
    QSlider* slider = nullptr;
    QSpinBox* number = nullptr;
    QCheckBox* check = nullptr;
    QComboBox* choice = nullptr;
    std::vector<std::pair<int, QCheckBox*>> bits;  // bitmasks: the bit each box stands for
    QWidget* label = nullptr;
    ControlDescription desc;  // as last read
  };
  QWidget* MakeControl(const ControlDescription& c, Widgets& w);
  void Apply(uint32_t nId, int64_t nValue);
  // Asks for what the device holds now (after a reset, a refusal or a change that moves others).
  void Refresh();
  void Show(const ControlDescription& c, Widgets& w);
  // The worker's outcomes: applied values shown and remembered, refusals told.
  void TakeOutcomes();
  void Handle(const ControlOutcome& o);
  void ShowAll(const std::vector<ControlGroupDescription>& groups);

  CDeviceDialogs& device_;
  std::map<uint32_t, Widgets> widgets_;
  QLabel* problem_ = nullptr;
  std::unique_ptr<CControlWorker> worker_;
  QTimer* outcomes_ = nullptr;
  QTimer* reread_ = nullptr;
};

}  // namespace ulmora
