// SourcesPopup: the "Sources" popup of the main window, rendered from the device list's menu model, and
// its commands: choosing a device, opening the device's dialogs, switching the video input. It also
// receives the device arrivals and removals, and hands them to the reconnect logic.
#pragma once

#include <QObject>

#include <atomic>
#include <map>
#include <memory>

#include "common/window.h"
#include "devices/device_list.h"

class QAction;
class QMenu;

namespace ulmora {

class CGraphObject;
class DeviceReconnect;
class MainWindow;

class SourcesPopup : public QObject, public IWindow {
 public:
  // devices must outlive the popup; its hooks are usually the ones DeviceHooks makes.
  SourcesPopup(MainWindow* window, CGraphObject* liveGraph, CDeviceList* devices);
  ~SourcesPopup() override;
  SourcesPopup(const SourcesPopup&) = delete;
  SourcesPopup& operator=(const SourcesPopup&) = delete;

  // The device list's hooks for the program: graphs are built on liveGraph, warnings are the window's
  // warning report and device entries are disabled in the window's live mode.
  static DeviceListHooks DeviceHooks(MainWindow* window, CGraphObject* liveGraph);

  // Start-up step of the window's creation: restores the remembered device and renders the popup.
  void RestoreDevices();
  // Close: the chosen device is remembered; no more notifications.
  void SaveDevices();

  // Enumerates again when the list is stale, and renders the model when it changed.
  void Render();
  // The rendered entry with that command id, null when none is shown.
  QAction* Action(int id) const;
  QMenu* Popup() const { return popup_; }
  DeviceReconnect& Reconnect() { return *reconnect_; }

  // Sources commands (40030..40039, 40050..40069); false: no device stored under a device id.
  bool Command(int id);
  // kMsgGraphNotify of the live graph.
  void OnGraphNotify();

  // IWindow: the device monitor posts kMsgDeviceChange here from its own thread.
  void PostMsg(unsigned msg) override;
  void GetClientSize(int& width, int& height) override;
  void Invalidate(bool) override {}

 protected:
  bool event(QEvent* e) override;

 private:
  bool ChooseDevice(int id);
  void PropertyCommand(int id);
  // After the live graph was rebuilt: notifications to the window, play state and texts.
  void AfterRebuild(bool withText);

  MainWindow* window_ = nullptr;
  CGraphObject* live_ = nullptr;
  CDeviceList* devices_ = nullptr;
  QMenu* popup_ = nullptr;
  std::unique_ptr<DeviceReconnect> reconnect_;
  std::map<int, QAction*> actions_;
  uint32_t nRendered_ = UINT32_MAX;  // model revision shown
  std::atomic<int32_t> bChangePending_{0};
};

}  // namespace ulmora
