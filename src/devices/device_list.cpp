#include "devices/device_list.h"

#include <cstring>

#include "common/log.h"
#include "devices/cap_state.h"
#include "devices/controls_dialogs.h"
#include "devices/controls_store.h"
#include "devices/crossbar.h"
#include "devices/device_choice.h"
#include "devices/device_identity.h"
#include "devices/device_monitor.h"
#include "settings/profile_keys.h"

namespace ulmora {
namespace {

DeviceListHooks g_hooks;

CDeviceMonitor& Monitor() {
  static CDeviceMonitor monitor;
  return monitor;
}

void Warn(const char* text) {
  if (g_hooks.warning)
    g_hooks.warning(text);
  else
    LogPrintf("%s", text);
}

void ReleaseTable() {
  for (GstDevice*& slot : g_Cap.rgpDevices) SetDeviceRef(slot, nullptr);
  g_Cap.nDevices = 0;
}

bool SameDevice(GstDevice* a, GstDevice* b) {
  if (!a || !b) return false;
  if (a == b) return true;
  const std::string ia = DeviceIdentity(a);
  return !ia.empty() && ia == DeviceIdentity(b);
}

void UpdateChecks() {
  for (int i = 0; i < g_Cap.nDevices; ++i)
    g_Cap.menu.SetDeviceChecked(i, g_Cap.pMoniker && SameDevice(g_Cap.rgpDevices[static_cast<size_t>(i)], g_Cap.pMoniker));
}

// The crossbar next to the capture device: the last hop of any route.
ICrossbar* HardwareCrossbar(CCrossbar& xbar) {
  const CrossbarRoute* route = xbar.Route(0);
  return route && !route->empty() ? route->back().pXbar.get() : nullptr;
}

void RouteInput(int route) {
  CCrossbar* xbar = g_Cap.pCrossbar.get();
  if (!xbar || route < 0) return;
  const auto stop = [] { return g_hooks.stopGraph ? g_hooks.stopGraph() : false; };
  const auto run = [] { return g_hooks.runGraph ? g_hooks.runGraph() : false; };
  const HRESULT hr = SetInputIndexRestarting(*xbar, route, stop, run);
  if (FAILED(hr)) LogPrintf("!!! input %d could not be routed (0x%08X)", route, static_cast<unsigned>(hr));
}

// The entries after the devices, for the device just built (Sources menu).
void RebuildSourcesEntries() {
  DeviceDialogEntries dialogs;
  if (g_hooks.sourceDialogs) {
    dialogs = g_hooks.sourceDialogs();
  } else if (!g_Cap.szDevicePath.empty()) {
    std::string why;
    if (auto pages = CDeviceDialogs::Open(g_Cap.szDevicePath, &why)) dialogs = pages->Entries();
  }
  const int route = g_Cap.menu.RebuildEntries(g_Cap.nDevices, dialogs, g_Cap.pCrossbar.get());
  if (route < 0 || !g_Cap.pCrossbar) return;
  RouteInput(route);
  if (ICrossbar* hw = HardwareCrossbar(*g_Cap.pCrossbar)) g_Cap.menu.SyncInputFromHardware(*g_Cap.pCrossbar, *hw);
}

}  // namespace

void SetDeviceListHooks(DeviceListHooks hooks) { g_hooks = std::move(hooks); }
CDeviceMonitor& DeviceMonitor() { return Monitor(); }
void SetDeviceNotifyWindow(IWindow* window) { Monitor().SetNotifyWindow(window); }

void EnumerateDevices() {
  if (g_Cap.bDevMenuValid.load() != 0) return;
  g_Cap.bDevMenuValid.store(1);
  g_Cap.nDevices = 0;
  g_Cap.menu.Clear();
  ReleaseTable();
  if (!Monitor().Start()) {
    Warn("Error Creating Device Enumerator");
    return;
  }
  std::vector<GstDevice*> devices = Monitor().Devices();
  if (devices.empty()) {
    Warn("Sorry, you have no video capture hardware.\r\n\r\nVideo capture will not function properly.");
    return;
  }
  const bool disabled = g_hooks.liveMode && g_hooks.liveMode();
  int index = 0;
  for (GstDevice* d : devices) {
    const std::string name = DeviceDisplayName(d);
    if (index < kMaxListedDevices && !name.empty()) {
      const bool checked = !g_Cap.pMoniker || SameDevice(g_Cap.pMoniker, d);
      g_Cap.menu.AppendDevice(index, name, checked, !disabled);
      SetDeviceRef(g_Cap.rgpDevices[static_cast<size_t>(index)], d);
      ++index;
    }
    gst_object_unref(d);
  }
  g_Cap.nDevices = index;
}

int ChooseDevice(GstDevice* device) {
  if (device && device == g_Cap.pMoniker) return 0;
  SetDeviceRef(g_Cap.pMoniker, device);
  const int32_t hr = g_hooks.buildCaptureGraph ? g_hooks.buildCaptureGraph() : -1;
  if (hr < 0) {
    SetDeviceRef(g_Cap.pMoniker, nullptr);
  } else {
    RebuildSourcesEntries();
    // The values the user set on this device before come back whenever it is chosen.
    const std::string id = DeviceIdentity(g_Cap.pMoniker);
    if (!id.empty()) ApplyRememberedControls(id);
  }
  UpdateChecks();
  return g_Cap.pMoniker ? 1 : -1;
}

int ChooseDeviceCommand(int id) {
  const int i = id - kDevMenuDeviceFirst;
  if (i < 0 || i >= kDeviceSlots || !g_Cap.rgpDevices[static_cast<size_t>(i)]) return -2;
  return ChooseDevice(g_Cap.rgpDevices[static_cast<size_t>(i)]);
}

const CDevMenu& SourcesMenu() { return g_Cap.menu; }
bool DeviceMenuValid() { return g_Cap.bDevMenuValid.load() != 0; }
int DeviceCount() { return g_Cap.nDevices; }
double DeviceMonitorStartMs() { return Monitor().StartMs(); }

std::vector<GstDevice*> VideoDevicesNow() {
  if (!Monitor().Start()) return {};
  return Monitor().Devices();
}

void RestoreDevices() {
  char stored[1024] = "";
  ProfileReadText(ProfileKey::VideoDevice2, stored, sizeof stored);
  g_Cap.bDevMenuValid.store(0);
  EnumerateDevices();
  g_Cap.nMasterStream = ProfileReadInt(ProfileKey::MasterStream);
  GstDevice* chosen = nullptr;
  for (int i = 0; i < g_Cap.nDevices && *stored; ++i) {
    GstDevice* d = g_Cap.rgpDevices[static_cast<size_t>(i)];
    if (DeviceIdentity(d) == stored) {
      chosen = d;
      break;
    }
  }
  if (!chosen && g_Cap.nDevices > 0) chosen = g_Cap.rgpDevices[0];
  if (chosen) ChooseDevice(chosen);
}

void SaveDevices() {
  Monitor().Stop();
  if (g_Cap.pMoniker) {
    const std::string id = DeviceIdentity(g_Cap.pMoniker);
    if (!id.empty()) ProfileWriteText(ProfileKey::VideoDevice2, id.substr(0, 1023).c_str());
  }
  ProfileWriteInt(ProfileKey::MasterStream, g_Cap.nMasterStream);
  ClearLiveGraphEntries();
}

void ReleaseDevices() {
  Monitor().Stop();
  ClearLiveGraphEntries();
  ReleaseTable();
  SetDeviceRef(g_Cap.pMoniker, nullptr);
  g_Cap.menu.Clear();
  g_Cap.bDevMenuValid.store(0);
}

SourcesCommand SourcesMenuCommand(int id) {
  SourcesCommand cmd = g_Cap.menu.PropertyCommand(id);
  if (cmd.action == SourcesAction::kVideoInput) RouteInput(cmd.nInput);
  return cmd;
}

std::vector<DeviceInfo> ListVideoDevices() {
  std::vector<DeviceInfo> out;
  if (!Monitor().Start()) return out;
  for (GstDevice* d : Monitor().Devices()) {
    out.push_back({DeviceIdentity(d), DeviceDisplayName(d)});
    gst_object_unref(d);
  }
  return out;
}

GstDevice* FindVideoDevice(const char* text) {
  if (!text || !*text || !Monitor().Start()) return nullptr;
  const std::string wanted = std::strncmp(text, "/dev/", 5) == 0 ? StableNodeIdentity(text) : std::string(text);
  GstDevice* found = nullptr;
  for (GstDevice* d : Monitor().Devices()) {
    if (!found && (DeviceIdentity(d) == wanted || DevicePathProperty(d) == text || DeviceDisplayName(d) == text))
      found = GST_DEVICE(gst_object_ref(d));
    gst_object_unref(d);
  }
  return found;
}

}  // namespace ulmora
