// The current device's settings dialogs, opened from the Sources menu: "Video Capture Filter..."
// (ControlsDialog), "Video Crossbar..." / "Second Crossbar..." (CrossbarDialog), "Video Source..."
// (VideoSourceDialog) and "TV Tuner..." (TunerDialog). Each opens its own descriptor on the live device;
// modal, at (30, 30) from the main window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QDialog;

namespace ulmora {

class CDeviceDialogs;
class CDeviceList;
class CGraphObject;
class MainWindow;

// Puts a graph that was stopped back into state (kRunPaused or kRunRunning; kRunStopped leaves it).
void RestoreState(CGraphObject* live, int32_t state);

class DeviceDialogs {
 public:
  // Tests: the dialog is handed here, built and placed, instead of being run.
  using DialogHook = std::function<void(QDialog* dialog)>;
  static void SetDialogHook(DialogHook hook);

  DeviceDialogs(MainWindow* window, CGraphObject* liveGraph, CDeviceList* devices);
  ~DeviceDialogs();

  // Every change applies at once to the running stream and is remembered for the device.
  void CaptureFilter();
  // nWhich 0: "Video Crossbar...", 1: "Second Crossbar...". The route chosen is read back into the
  // "Video Input" sub-menu.
  void Crossbar(int nWhich);
  // The graph is stopped around the dialog and put back into the state it had; a new frame format
  // rebuilds it. True when it was rebuilt.
  bool VideoSource();
  void TvTuner();

 private:
  bool OpenDevice();
  // Places and runs the dialog (or hands it to the hook); true when it was accepted.
  bool Run(QDialog* dialog);

  MainWindow* window_ = nullptr;
  CGraphObject* live_ = nullptr;
  CDeviceList* devices_ = nullptr;
  std::unique_ptr<CDeviceDialogs> device_;
};

}  // namespace ulmora
