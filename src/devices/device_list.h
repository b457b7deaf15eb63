// CDeviceList: the capture device list as the program and the tools see it (no GStreamer types): the
// device monitor, the table of listed devices, the current device and the Sources menu model. It
// enumerates the video devices, restores the remembered device at start-up, switches the live graph to
// a chosen device and saves the choice at close. GUI thread only, but for the monitor's thread, which
// clears the device-menu-valid flag and posts. The live graph and the reports are reached through
// hooks, so this layer needs neither the graph nor the GUI.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/window.h"
#include "devices/dev_menu.h"

namespace ulmora {

// Posted (without arguments, like the platform's device-change message) when a video device arrives
// or goes; the device-menu-valid flag is already cleared when it arrives.
constexpr unsigned kMsgDeviceChange = 0x0219;

// Device slots of the table; at most kMaxListedDevices of them are filled.
constexpr int kDeviceSlots = 10;
constexpr int kMaxListedDevices = 9;

struct DeviceListHooks {
  // BuildCaptureGraph of the live graph object; a negative result is a failure.
  std::function<int32_t()> buildCaptureGraph;
  // The main window's live-mode flag: device entries listed while it is set are disabled.
  std::function<bool()> liveMode;
  // The dialogs the newly built device offers; null: asked of the device itself.
  std::function<DeviceDialogEntries()> sourceDialogs;
  // Stop and restart the live graph around an input switch the device refuses while streaming.
  std::function<bool()> stopGraph;
  std::function<bool()> runGraph;
  // The warning report (box "Warning...", status text, log); null: the log only.
  std::function<void(const char*)> warning;
};

// A listed video device: its stable identity ("VideoDevice2": the /dev/v4l/by-id link, else by-path,
// else the node; "sim:N" for the simulated camera) and its display name.
struct DeviceInfo {
  std::string id;
  std::string name;
};

class CDeviceTable;

class CDeviceList {
 public:
  explicit CDeviceList(DeviceListHooks hooks);
  // Stops the monitor (no post after this) and releases every device held.
  ~CDeviceList();
  CDeviceList(const CDeviceList&) = delete;
  CDeviceList& operator=(const CDeviceList&) = delete;

  // Start-up: read "VideoDevice2" and "MasterStream", enumerate, choose the remembered device (else the
  // first listed), watch for arrivals and removals.
  void Restore();
  // Fills the device table and the device entries of the menu model; nothing while the list is valid.
  void Enumerate();
  // A device command 40030..40039: 0 already current (nothing done), 1 a device is current afterwards,
  // -1 none is; -2 when the slot is empty.
  int ChooseCommand(int id);
  // For tools: the device listed now whose identity, path or name equals text (a node such as
  // /dev/video0 matches through its stable identity), chosen as a menu command would; -2 when none is.
  int ChooseNamed(const char* text);
  // The listed device with that identity becomes current again even when it is the current one (a
  // device that came back is a new device object): its graph is built again. -2 when it is not listed.
  int ChooseAgain(const std::string& identity);
  // Close: stop watching, write "VideoDevice2" (only with a current device) and "MasterStream", clear the
  // live graph's entries of g_Cap.
  void Save();

  // The Sources popup to render. Tests may build entries of their own into it.
  const CDevMenu& Menu() const { return menu_; }
  CDevMenu& Menu() { return menu_; }
  // False when the popup must be enumerated again before it shows.
  bool MenuValid() const { return bMenuValid_.load() != 0; }
  // Starting the monitor announces every present device as an arrival: when the devices listed now are
  // still the ones the table holds and no change came meanwhile, the list counts as valid again, so the
  // menu keeps the current device's entries.
  void RevalidateIfUnchanged();
  // A change may land just after RevalidateIfUnchanged looked: the list becomes stale when it no longer
  // matches the table.
  void InvalidateIfChanged();
  int Count() const { return nDevices_; }
  // A Sources command 40050..40069: the dialogs are the GUI's to open; a video input entry is routed here.
  SourcesCommand MenuCommand(int id);
  // The "Video Input" sub-menu and the crossbar object take the input the hardware routes now.
  void SyncInputFromHardware();

  // The current device's identity; empty without one.
  std::string CurrentIdentity() const;
  // True when a device of that identity is listed now (the nine-entry limit does not apply).
  bool IsListed(const std::string& identity);
  // Every listed video device, in list order, without the nine-entry limit.
  std::vector<DeviceInfo> ListAll();

  // Arrivals and removals are posted to window as kMsgDeviceChange (from the provider's thread; PostMsg
  // never waits). The window must stay until Save or the list's end; null: none.
  void SetNotifyWindow(IWindow* window);
  // Arrivals and removals the monitor saw since it started.
  uint32_t ChangesSeen() const;

  // The GStreamer side (devices/device_table.h): the live graph binds the current device through it.
  CDeviceTable& Table() { return *table_; }

 private:
  // After the table took a new current device: its graph is built, then its menu entries and
  // remembered controls follow; 1 when a device is current afterwards, -1 when none is.
  int BuildForCurrent();
  void UpdateChecks();
  void RouteInput(int route);
  void RebuildSourcesEntries();
  // True when the devices listed now are the ones the table holds, in the same order.
  bool TableMatchesDevices();
  void Warn(const char* text);

  DeviceListHooks hooks_;
  // 0: enumerate again before the Sources menu shows. Cleared by the device monitor's thread.
  std::atomic<int32_t> bMenuValid_{0};
  int32_t nDevices_ = 0;
  int32_t nMasterStream_ = 1;
  CDevMenu menu_;
  // Last: the monitor inside stops before the flag it clears goes.
  std::unique_ptr<CDeviceTable> table_;
};

}  // namespace ulmora
