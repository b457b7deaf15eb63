// The capture device list as the GUI sees it (no GStreamer types): enumerate the video devices into
// g_Cap's table and the Sources menu model, restore the remembered device at start-up, switch the live
// graph to a chosen device, save the choice at close. GUI thread only; the live graph and the reports
// are reached through hooks, so this layer needs neither the graph nor the GUI.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/window.h"
#include "devices/dev_menu.h"

namespace ulmora {

// Posted (without arguments, like the platform's device-change message) when a video device arrives
// or goes; the device-menu-valid flag is already cleared when it arrives.
constexpr unsigned kMsgDeviceChange = 0x0219;

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

void SetDeviceListHooks(DeviceListHooks hooks);

// Start-up: read "VideoDevice2" and "MasterStream", enumerate, choose the remembered device (else the
// first listed), watch for arrivals and removals.
void RestoreDevices();
// Fills the device table and the device entries of the menu model; nothing while the list is valid.
void EnumerateDevices();
// A device command 40030..40039: 0 already current (nothing done), 1 a device is current afterwards,
// -1 none is; -2 when the slot is empty.
int ChooseDeviceCommand(int id);
// Close: stop watching, write "VideoDevice2" (only with a current device) and "MasterStream", clear the
// live graph's entries of g_Cap.
void SaveDevices();
// Releases the table, the current device and the monitor (end of the program, tests).
void ReleaseDevices();

// The Sources popup to render.
const CDevMenu& SourcesMenu();
// False when the popup must be enumerated again before it shows.
bool DeviceMenuValid();
int DeviceCount();
// A Sources command 40050..40069: the dialogs are the GUI's to open; a video input entry is routed here.
SourcesCommand SourcesMenuCommand(int id);

// Arrivals and removals are posted to window as kMsgDeviceChange (from the provider's thread; PostMsg
// never waits). The window must stay until SaveDevices or ReleaseDevices; null: none.
void SetDeviceNotifyWindow(IWindow* window);
// Milliseconds the device monitor took to start (0 before it started).
double DeviceMonitorStartMs();

// For tools: every listed video device as (identity, name), in list order, without the nine-entry limit.
struct DeviceInfo {
  std::string id;
  std::string name;
};
std::vector<DeviceInfo> ListVideoDevices();

}  // namespace ulmora
