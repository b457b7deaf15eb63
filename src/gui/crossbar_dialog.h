// "Video Crossbar..." / "Second Crossbar...": one drop-down list per output of the crossbar with the
// inputs it can be routed from. A choice is routed at once; an input the device refuses while streaming
// is routed with the live graph stopped around it.
#pragma once

#include <QDialog>

#include <string>

#include "devices/controls_desc.h"

class QComboBox;
class QLabel;

namespace ulmora {

class CDeviceDialogs;
class CGraphObject;

class CrossbarDialog : public QDialog {
 public:
  // nWhich 0: the first crossbar, 1: the second. live may be null (nothing is stopped then).
  CrossbarDialog(CDeviceDialogs& device, int nWhich, CGraphObject* live, QWidget* parent);
  // Reads the crossbar and builds the lists; false with a plain sentence in *why when it cannot.
  bool Load(std::string* why);

 private:
  void Build();
  void Apply(QComboBox* box, int nOutput, int index);

  CDeviceDialogs& device_;
  const int nWhich_;
  CGraphObject* live_;
  CrossbarDescription desc_;
  QLabel* problem_ = nullptr;
};

}  // namespace ulmora
