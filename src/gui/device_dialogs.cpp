#include "gui/device_dialogs.h"

#include <QDialog>

#include <string>

#include "common/log.h"
#include "devices/controls_dialogs.h"
#include "devices/device_list.h"
#include "devices/live_device.h"
#include "graph/graph_object.h"
#include "gui/controls_dialog.h"
#include "gui/crossbar_dialog.h"
#include "gui/main_window.h"
#include "gui/screen_fit.h"
#include "gui/tuner_dialog.h"
#include "gui/video_source_dialog.h"

namespace ulmora {

namespace {

DeviceDialogs::DialogHook& HookRef() {
  static DeviceDialogs::DialogHook hook;
  return hook;
}

}  // namespace

void RestoreState(CGraphObject* live, int32_t state) {
  if (state == kRunStopped || live->RunState() == state) return;
  live->RunGraph();
  // The graph object pauses only a running graph.
  if (state == kRunPaused) live->PauseGraph();
}

void DeviceDialogs::SetDialogHook(DialogHook hook) { HookRef() = std::move(hook); }

DeviceDialogs::DeviceDialogs(MainWindow* window, CGraphObject* liveGraph, CDeviceList* devices)
    : window_(window), live_(liveGraph), devices_(devices) {}
DeviceDialogs::~DeviceDialogs() = default;

bool DeviceDialogs::OpenDevice() {
  const std::string& identity = LiveDeviceId().empty() ? LiveDevicePath() : LiveDeviceId();
  std::string why = "No capture device is chosen.";
  if (!identity.empty()) device_ = CDeviceDialogs::Open(identity, &why);
  if (device_) return true;
  window_->ReportWarning(why.c_str());
  return false;
}

bool DeviceDialogs::Run(QDialog* dialog) {
  dialog->setModal(true);
  // At (30, 30) from the main window, as far as the screen allows: a main window near the bottom
  // would otherwise push the dialog's buttons off the screen.
  PlaceDialog(dialog, window_, QPoint(30, 30));
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
  CrossbarDialog dialog(*device_, nWhich, live_, window_);
  std::string why;
  if (!dialog.Load(&why)) {
    window_->ReportWarning(why.c_str());
    return;
  }
  Run(&dialog);
  // The routing may have changed on the dialog.
  devices_->SyncInputFromHardware();
}

bool DeviceDialogs::VideoSource() {
  if (!live_->HasGraph() || !OpenDevice()) return false;
  const int32_t state = live_->RunState();
  if (state != kRunStopped) live_->StopGraph();
  bool newFormat = false;
  {
    VideoSourceDialog dialog(*device_, window_);
    std::string why;
    if (!dialog.Load(&why)) {
      window_->ReportWarning(why.c_str());
      RestoreState(live_, state);
      return false;
    }
    if (Run(&dialog)) newFormat = dialog.Apply([this](const char* text) { window_->ReportWarning(text); });
  }
  if (newFormat) {
    // Our descriptor goes first: the graph opens the device for itself.
    device_.reset();
    if (FAILED(live_->BuildCaptureGraph())) LogPrintf("!!! the graph could not be built for the new format or standard");
    // The new graph's crossbar object starts at route 0; the hardware kept its input.
    devices_->SyncInputFromHardware();
  }
  if (live_->HasGraph()) RestoreState(live_, state);
  return newFormat;
}

void DeviceDialogs::TvTuner() {
  if (!OpenDevice()) return;
  TunerDialog dialog(*device_, window_);
  std::string why;
  if (!dialog.Load(&why)) {
    window_->ReportWarning(why.c_str());
    return;
  }
  Run(&dialog);
}

}  // namespace ulmora
