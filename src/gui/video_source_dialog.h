// "Video Source...": the device's video standard and its frame format (pixel format, size, rate). The
// choices are applied when the dialog is accepted: the standard is set and remembered, a new frame
// format is remembered for the device; either asks for the live graph to be built again, since a new
// standard changes the lines and rate the device sends.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "devices/controls_desc.h"

class QComboBox;

namespace ulmora {

class CDeviceDialogs;

class VideoSourceDialog : public QDialog {
 public:
  VideoSourceDialog(CDeviceDialogs& device, QWidget* parent);
  // Reads the standards and formats and builds the lists; false with a plain sentence in *why when it
  // cannot.
  bool Load(std::string* why);
  // After acceptance: sets a changed standard and remembers a changed frame format; each refusal goes to
  // warn. True when either changed (the graph is to be built again for it).
  bool Apply(const std::function<void(const char*)>& warn);

 private:
  void Build();
  void FillSizes();
  void FillRates();
  // The format and size entries chosen now; false when either names none.
  bool ChosenFormat(FrameFormatChoice* choice) const;

  CDeviceDialogs& device_;
  VideoSourceDescription src_;
  QComboBox* standard_ = nullptr;
  QComboBox* format_ = nullptr;
  QComboBox* size_ = nullptr;
  QComboBox* rate_ = nullptr;
  int nInitialFormat_ = -1, nInitialSize_ = -1, nInitialRate_ = -1;
};

}  // namespace ulmora
