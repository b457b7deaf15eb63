#include "gui/crossbar_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "devices/controls_dialogs.h"
#include "graph/graph_object.h"
#include "gui/device_dialogs.h"
#include "gui/dialog_buttons.h"

namespace ulmora {

CrossbarDialog::CrossbarDialog(CDeviceDialogs& device, int nWhich, CGraphObject* live, QWidget* parent)
    : QDialog(parent), device_(device), nWhich_(nWhich), live_(live) {
  setWindowTitle(nWhich == 0 ? QStringLiteral("Video Crossbar") : QStringLiteral("Second Crossbar"));
}

bool CrossbarDialog::Load(std::string* why) {
  if (!device_.DescribeCrossbar(nWhich_, &desc_, why)) return false;
  Build();
  return true;
}

void CrossbarDialog::Build() {
  auto* top = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  problem_ = new QLabel;
  for (const CrossbarPinDescription& out : desc_.outputs) {
    auto* box = new QComboBox;
    box->setObjectName(QStringLiteral("output%1").arg(out.nIndex));
    for (int in : out.routableFrom) {
      for (const CrossbarPinDescription& pin : desc_.inputs) {
        if (pin.nIndex != in) continue;
        const std::string name = pin.name.empty() ? pin.typeName : pin.typeName + " (" + pin.name + ")";
        box->addItem(QString::fromStdString(name), in);
      }
    }
    box->setCurrentIndex(box->findData(out.nRoutedTo));
    const int output = out.nIndex;
    connect(box, &QComboBox::activated, this, [this, box, output](int index) { Apply(box, output, index); });
    form->addRow(QString::fromStdString(out.typeName), box);
  }
  top->addLayout(form);
  top->addWidget(problem_);
  top->addWidget(CloseOnly(this));
}

void CrossbarDialog::Apply(QComboBox* box, int nOutput, int index) {
  const int input = box->itemData(index).toInt();
  HRESULT hr = device_.RouteCrossbar(nWhich_, nOutput, input);
  if (hr == VFW_E_NOT_STOPPED && live_ && live_->HasGraph()) {
    // The device takes a new input only while it is not streaming.
    const int32_t state = live_->RunState();
    live_->StopGraph();
    hr = device_.RouteCrossbar(nWhich_, nOutput, input);
    RestoreState(live_, state);
  }
  problem_->setText(FAILED(hr) ? QStringLiteral("The device did not take this input.") : QString());
}

}  // namespace ulmora
