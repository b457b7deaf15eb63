#include "gui/device_dialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <string>

#include "common/log.h"
#include "devices/cap_state.h"
#include "devices/controls_dialogs.h"
#include "devices/crossbar.h"
#include "graph/graph_object.h"
#include "gui/controls_dialog.h"
#include "gui/dialog_buttons.h"
#include "gui/main_window.h"

namespace ulmora {

namespace {

DeviceDialogs::DialogHook& HookRef() {
  static DeviceDialogs::DialogHook hook;
  return hook;
}

QString Text(const std::string& s) { return QString::fromStdString(s); }

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// The "Video Input" sub-menu and the crossbar object take the input the hardware routes now.
void SyncInputMenu() {
  CCrossbar* xbar = g_Cap.pCrossbar.get();
  if (!xbar) return;
  const CrossbarRoute* route = xbar->Route(0);
  if (route && !route->empty() && route->back().pXbar) g_Cap.menu.SyncInputFromHardware(*xbar, *route->back().pXbar);
}

}  // namespace

void RestoreState(CGraphObject* live, int32_t state) {
  if (state == kRunStopped || live->RunState() == state) return;
  live->RunGraph();
  // The graph object pauses only a running graph.
  if (state == kRunPaused) live->PauseGraph();
}

void DeviceDialogs::SetDialogHook(DialogHook hook) { HookRef() = std::move(hook); }

DeviceDialogs::DeviceDialogs(MainWindow* window, CGraphObject* liveGraph) : window_(window), live_(liveGraph) {}
DeviceDialogs::~DeviceDialogs() = default;

bool DeviceDialogs::OpenDevice() {
  const std::string& identity = g_Cap.szDeviceId.empty() ? g_Cap.szDevicePath : g_Cap.szDeviceId;
  std::string why = "No capture device is chosen.";
  if (!identity.empty()) device_ = CDeviceDialogs::Open(identity, &why);
  if (device_) return true;
  window_->ReportWarning(why.c_str());
  return false;
}

bool DeviceDialogs::Run(QDialog* dialog) {
  dialog->setModal(true);
  dialog->move(window_->geometry().topLeft() + QPoint(30, 30));
  if (HookRef()) {
    HookRef()(dialog);
    return dialog->result() == QDialog::Accepted;
  }
  return dialog->exec() == QDialog::Accepted;
}

void DeviceDialogs::CaptureFilter() {
  if (!OpenDevice()) return;
  ControlsDialog dialog(*device_, window_);
  Run(&dialog);
}

void DeviceDialogs::Crossbar(int nWhich) {
  if (!OpenDevice()) return;
  CrossbarDescription desc;
  std::string why;
  if (!device_->DescribeCrossbar(nWhich, &desc, &why)) {
    window_->ReportWarning(why.c_str());
    return;
  }
  QDialog dialog(window_);
  dialog.setWindowTitle(nWhich == 0 ? QStringLiteral("Video Crossbar") : QStringLiteral("Second Crossbar"));
  auto* top = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout;
  auto* problem = new QLabel;
  for (const CrossbarPinDescription& out : desc.outputs) {
    auto* box = new QComboBox;
    box->setObjectName(QStringLiteral("output%1").arg(out.nIndex));
    for (int in : out.routableFrom) {
      for (const CrossbarPinDescription& pin : desc.inputs) {
        if (pin.nIndex != in) continue;
        const QString name = pin.name.empty() ? Text(pin.typeName) : Text(pin.typeName + " (" + pin.name + ")");
        box->addItem(name, in);
      }
    }
    box->setCurrentIndex(box->findData(out.nRoutedTo));
    const int output = out.nIndex;
    QObject::connect(box, &QComboBox::activated, &dialog, [this, box, output, nWhich, problem](int index) {
      const int input = box->itemData(index).toInt();
      HRESULT hr = device_->RouteCrossbar(nWhich, output, input);
      if (hr == VFW_E_NOT_STOPPED && live_->HasGraph()) {
        // The device takes a new input only while it is not streaming.
        const int32_t state = live_->RunState();
        live_->StopGraph();
        hr = device_->RouteCrossbar(nWhich, output, input);
        RestoreState(live_, state);
      }
      problem->setText(FAILED(hr) ? QStringLiteral("The device did not take this input.") : QString());
    });
    form->addRow(Text(out.typeName), box);
  }
  top->addLayout(form);
  top->addWidget(problem);
  top->addWidget(CloseOnly(&dialog));
  Run(&dialog);
  // The routing may have changed on the dialog.
  SyncInputMenu();
}

bool DeviceDialogs::VideoSource() {
  if (!live_->HasGraph() || !OpenDevice()) return false;
  const int32_t state = live_->RunState();
  if (state != kRunStopped) live_->StopGraph();

  VideoSourceDescription src;
  std::string why;
  bool rebuilt = false;
  if (!device_->DescribeSource(&src, &why)) {
    window_->ReportWarning(why.c_str());
    RestoreState(live_, state);
    return false;
  }
  QDialog dialog(window_);
  dialog.setWindowTitle(QStringLiteral("Video Source"));
  auto* top = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout;
  auto* standard = new QComboBox;
  standard->setObjectName(QStringLiteral("standard"));
  for (const VideoStandardDescription& s : src.standards)
    standard->addItem(Text(s.name), QVariant::fromValue<qulonglong>(s.nId));
  standard->setCurrentIndex(standard->findData(QVariant::fromValue<qulonglong>(src.nCurrentStandard)));
  if (!src.standards.empty()) form->addRow(QStringLiteral("Video standard:"), standard);

  auto* format = new QComboBox;
  format->setObjectName(QStringLiteral("format"));
  auto* size = new QComboBox;
  size->setObjectName(QStringLiteral("size"));
  auto* rate = new QComboBox;
  rate->setObjectName(QStringLiteral("rate"));
  for (size_t i = 0; i < src.formats.size(); ++i) {
    const FrameFormatDescription& f = src.formats[i];
    format->addItem(Text(f.fourcc + (f.description.empty() ? "" : " - " + f.description)), static_cast<int>(i));
    if (f.nFourcc == src.nCurrentFourcc) format->setCurrentIndex(static_cast<int>(i));
  }
  const auto fillRates = [&src, format, size, rate] {
    rate->clear();
    const int fi = format->currentData().toInt(), si = size->currentData().toInt();
    if (fi < 0 || fi >= static_cast<int>(src.formats.size())) return;
    const auto& sizes = src.formats[static_cast<size_t>(fi)].sizes;
    if (si < 0 || si >= static_cast<int>(sizes.size())) return;
    for (double r : sizes[static_cast<size_t>(si)].frameRates) rate->addItem(QString::number(r, 'g', 5), r);
    if (rate->count() == 0) rate->addItem(QStringLiteral("any"), 0.0);
  };
  const auto fillSizes = [&src, format, size, fillRates] {
    size->clear();
    const int fi = format->currentData().toInt();
    if (fi < 0 || fi >= static_cast<int>(src.formats.size())) return;
    const auto& sizes = src.formats[static_cast<size_t>(fi)].sizes;
    for (size_t i = 0; i < sizes.size(); ++i) {
      size->addItem(QStringLiteral("%1 x %2").arg(sizes[i].nWidth).arg(sizes[i].nHeight), static_cast<int>(i));
      if (sizes[i].nWidth == src.nCurrentWidth && sizes[i].nHeight == src.nCurrentHeight)
        size->setCurrentIndex(static_cast<int>(i));
    }
    fillRates();
  };
  fillSizes();
  QObject::connect(format, &QComboBox::currentIndexChanged, &dialog, fillSizes);
  QObject::connect(size, &QComboBox::currentIndexChanged, &dialog, fillRates);
  form->addRow(QStringLiteral("Pixel format:"), format);
  form->addRow(QStringLiteral("Frame size:"), size);
  form->addRow(QStringLiteral("Frame rate:"), rate);
  top->addLayout(form);
  top->addWidget(OkCancel(&dialog));
  const int initialFormat = format->currentIndex(), initialSize = size->currentIndex(),
            initialRate = rate->currentIndex();

  if (Run(&dialog)) {
    if (!src.standards.empty() && standard->currentIndex() >= 0) {
      const uint64_t id = standard->currentData().toULongLong();
      if (id != src.nCurrentStandard && !device_->SetStandard(id, &why)) window_->ReportWarning(why.c_str());
    }
    const int fi = format->currentData().toInt(), si = size->currentData().toInt();
    const bool changed = format->currentIndex() != initialFormat || size->currentIndex() != initialSize ||
                         rate->currentIndex() != initialRate;
    if (changed && fi >= 0 && fi < static_cast<int>(src.formats.size()) && si >= 0 &&
        si < static_cast<int>(src.formats[static_cast<size_t>(fi)].sizes.size())) {
      const FrameFormatDescription& f = src.formats[static_cast<size_t>(fi)];
      FrameFormatChoice choice;
      choice.nFourcc = f.nFourcc;
      choice.nWidth = f.sizes[static_cast<size_t>(si)].nWidth;
      choice.nHeight = f.sizes[static_cast<size_t>(si)].nHeight;
      choice.dFrameRate = rate->currentData().toDouble();
      if (!device_->ChooseFrameFormat(choice, &why)) {
        window_->ReportWarning(why.c_str());
      } else {
        // Our descriptor goes first: the graph opens the device for itself.
        device_.reset();
        rebuilt = true;
        if (FAILED(live_->BuildCaptureGraph())) LogPrintf("!!! the graph could not be built for the new frame format");
        // The new graph's crossbar object starts at route 0; the hardware kept its input.
        SyncInputMenu();
      }
    }
  }
  if (live_->HasGraph()) RestoreState(live_, state);
  return rebuilt;
}

void DeviceDialogs::TvTuner() {
  if (!OpenDevice()) return;
  TunerDescription tuner;
  std::string why;
  if (!device_->DescribeTuner(&tuner, &why)) {
    window_->ReportWarning(why.c_str());
    return;
  }
  QDialog dialog(window_);
  dialog.setWindowTitle(QStringLiteral("TV Tuner"));
  auto* top = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Tuner:"), new QLabel(Text(tuner.name)));
  auto* frequency = new QDoubleSpinBox;
  frequency->setObjectName(QStringLiteral("frequency"));
  frequency->setDecimals(4);
  frequency->setSuffix(QStringLiteral(" MHz"));
  frequency->setRange(static_cast<double>(tuner.nMinHz) / 1e6, static_cast<double>(tuner.nMaxHz) / 1e6);
  frequency->setSingleStep(tuner.nStepHz > 0 ? static_cast<double>(tuner.nStepHz) / 1e6 : 0.0625);
  frequency->setValue(static_cast<double>(tuner.nFrequencyHz) / 1e6);
  form->addRow(QStringLiteral("Frequency:"), frequency);
  auto* signal = new QLabel(QStringLiteral("%1 %").arg(tuner.nSignalPercent));
  form->addRow(QStringLiteral("Signal:"), signal);
  auto* problem = new QLabel;
  QObject::connect(frequency, &QDoubleSpinBox::editingFinished, &dialog, [this, frequency, problem] {
    std::string err;
    const uint64_t hz = static_cast<uint64_t>(frequency->value() * 1e6 + 0.5);
    problem->setText(device_->SetFrequency(hz, &err) ? QString() : Text(err));
  });
  if (!tuner.audioModes.empty()) {
    auto* audio = new QComboBox;
    audio->setObjectName(QStringLiteral("audio"));
    for (const TunerAudioMode& m : tuner.audioModes) audio->addItem(Text(m.name), m.nMode);
    audio->setCurrentIndex(audio->findData(tuner.nAudioMode));
    QObject::connect(audio, &QComboBox::activated, &dialog, [this, audio, problem](int index) {
      std::string err;
      problem->setText(device_->SetAudioMode(audio->itemData(index).toUInt(), &err) ? QString() : Text(err));
    });
    form->addRow(QStringLiteral("Audio mode:"), audio);
  }
  top->addLayout(form);
  top->addWidget(problem);
  top->addWidget(CloseOnly(&dialog));
  Run(&dialog);
}

}  // namespace ulmora
