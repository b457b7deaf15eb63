#include "devices/device_list.h"

#include <cstring>

#include "common/log.h"
#include "devices/cap_state.h"
#include "devices/controls_dialogs.h"
#include "devices/controls_store.h"
#include "devices/crossbar.h"
#include "devices/device_identity.h"
#include "devices/device_table.h"
#include "settings/profile_keys.h"

namespace ulmora {
namespace {

// The crossbar next to the capture device: the last hop of any route.
ICrossbar* HardwareCrossbar(CCrossbar& xbar) {
  const CrossbarRoute* route = xbar.Route(0);
  return route && !route->empty() ? route->back().pXbar.get() : nullptr;
}

}  // namespace

// --- CDeviceTable ---

std::vector<GstRef<GstDevice>> CDeviceTable::DevicesNow() {
  if (!monitor_.Start()) return {};
  return monitor_.Devices();
}

GstDevice* CDeviceTable::Slot(int i) const {
  return i >= 0 && i < kDeviceSlots ? slots_[static_cast<size_t>(i)].get() : nullptr;
}

void CDeviceTable::SetSlot(int i, GstDevice* device) {
  if (i >= 0 && i < kDeviceSlots) slots_[static_cast<size_t>(i)] = RefDevice(device);
}

void CDeviceTable::ReleaseSlots() {
  for (GstRef<GstDevice>& slot : slots_) slot.reset();
}

bool CDeviceTable::TakeAsCurrent(GstDevice* device) {
  if (device && device == current_.get()) return false;
  current_ = RefDevice(device);
  return true;
}

bool CDeviceTable::Same(GstDevice* a, GstDevice* b) {
  if (!a || !b) return false;
  if (a == b) return true;
  const std::string ia = DeviceIdentity(a);
  return !ia.empty() && ia == DeviceIdentity(b);
}

// --- CDeviceList ---

CDeviceList::CDeviceList(DeviceListHooks hooks)
    : hooks_(std::move(hooks)), table_(std::make_unique<CDeviceTable>(&bMenuValid_)) {}

CDeviceList::~CDeviceList() {
  table_->Monitor().SetNotifyWindow(nullptr);
  table_->Monitor().Stop();
  // The live graph's entries belong to a device of this list.
  ClearLiveGraphEntries();
}

void CDeviceList::Warn(const char* text) {
  if (hooks_.warning)
    hooks_.warning(text);
  else
    LogPrintf("%s", text);
}

void CDeviceList::UpdateChecks() {
  GstDevice* current = table_->Current();
  for (int i = 0; i < nDevices_; ++i)
    menu_.SetDeviceChecked(i, current && CDeviceTable::Same(table_->Slot(i), current));
}

void CDeviceList::RouteInput(int route) {
  CCrossbar* xbar = g_Cap.pCrossbar.get();
  if (!xbar || route < 0) return;
  const auto stop = [this] { return hooks_.stopGraph ? hooks_.stopGraph() : false; };
  const auto run = [this] { return hooks_.runGraph ? hooks_.runGraph() : false; };
  const HRESULT hr = SetInputIndexRestarting(*xbar, route, stop, run);
  if (FAILED(hr)) LogPrintf("!!! input %d could not be routed (0x%08X)", route, static_cast<unsigned>(hr));
}

void CDeviceList::SyncInputFromHardware() {
  CCrossbar* xbar = g_Cap.pCrossbar.get();
  if (!xbar) return;
  if (ICrossbar* hw = HardwareCrossbar(*xbar)) menu_.SyncInputFromHardware(*xbar, *hw);
}

// The entries after the devices, for the device just built (Sources menu).
void CDeviceList::RebuildSourcesEntries() {
  DeviceDialogEntries dialogs;
  if (hooks_.sourceDialogs) {
    dialogs = hooks_.sourceDialogs();
  } else if (!g_Cap.szDevicePath.empty()) {
    std::string why;
    if (auto pages = CDeviceDialogs::Open(g_Cap.szDevicePath, &why)) dialogs = pages->Entries();
  }
  const int route = menu_.RebuildEntries(nDevices_, dialogs, g_Cap.pCrossbar.get());
  if (route < 0 || !g_Cap.pCrossbar) return;
  RouteInput(route);
  SyncInputFromHardware();
}

void CDeviceList::Enumerate() {
  if (bMenuValid_.load() != 0) return;
  bMenuValid_.store(1);
  nDevices_ = 0;
  menu_.Clear();
  table_->ReleaseSlots();
  if (!table_->Monitor().Start()) {
    Warn("Error Creating Device Enumerator");
    return;
  }
  const std::vector<GstRef<GstDevice>> devices = table_->Monitor().Devices();
  if (devices.empty()) {
    Warn("Sorry, you have no video capture hardware.\r\n\r\nVideo capture will not function properly.");
    return;
  }
  const bool disabled = hooks_.liveMode && hooks_.liveMode();
  GstDevice* current = table_->Current();
  int index = 0;
  for (const GstRef<GstDevice>& d : devices) {
    const std::string name = DeviceDisplayName(d.get());
    if (index >= kMaxListedDevices || name.empty()) continue;
    const bool checked = !current || CDeviceTable::Same(current, d.get());
    menu_.AppendDevice(index, name, checked, !disabled);
    table_->SetSlot(index, d.get());
    ++index;
  }
  nDevices_ = index;
}

int CDeviceList::BuildForCurrent() {
  const int32_t hr = hooks_.buildCaptureGraph ? hooks_.buildCaptureGraph() : -1;
  if (hr < 0) {
    table_->TakeAsCurrent(nullptr);
  } else {
    RebuildSourcesEntries();
    // The values the user set on this device before come back whenever it is chosen.
    const std::string id = CurrentIdentity();
    if (!id.empty()) ApplyRememberedControls(id);
  }
  UpdateChecks();
  return table_->Current() ? 1 : -1;
}

int CDeviceList::ChooseCommand(int id) {
  GstDevice* device = table_->Slot(id - kDevMenuDeviceFirst);
  if (!device) return -2;
  if (!table_->TakeAsCurrent(device)) return 0;
  return BuildForCurrent();
}

int CDeviceList::ChooseNamed(const char* text) {
  if (!text || !*text) return -2;
  const std::string wanted = std::strncmp(text, "/dev/", 5) == 0 ? StableNodeIdentity(text) : std::string(text);
  for (const GstRef<GstDevice>& d : table_->DevicesNow()) {
    if (DeviceIdentity(d.get()) != wanted && DevicePathProperty(d.get()) != text && DeviceDisplayName(d.get()) != text)
      continue;
    if (!table_->TakeAsCurrent(d.get())) return 0;
    return BuildForCurrent();
  }
  return -2;
}

int CDeviceList::ChooseAgain(const std::string& identity) {
  // The list is enumerated again so the menu holds the returning device with its entries.
  Enumerate();
  for (int i = 0; i < nDevices_; ++i) {
    GstDevice* d = table_->Slot(i);
    if (!d || DeviceIdentity(d) != identity) continue;
    // The device object may be the one held before it went: forget it, so the graph is built again.
    table_->TakeAsCurrent(nullptr);
    table_->TakeAsCurrent(d);
    return BuildForCurrent();
  }
  return -2;
}

void CDeviceList::Restore() {
  char stored[1024] = "";
  ProfileReadText(ProfileKey::VideoDevice2, stored, sizeof stored);
  bMenuValid_.store(0);
  Enumerate();
  nMasterStream_ = ProfileReadInt(ProfileKey::MasterStream);
  int chosen = -1;
  for (int i = 0; i < nDevices_ && *stored && chosen < 0; ++i)
    if (DeviceIdentity(table_->Slot(i)) == stored) chosen = i;
  if (chosen < 0 && nDevices_ > 0) chosen = 0;
  if (chosen >= 0) ChooseCommand(kDevMenuDeviceFirst + chosen);
}

void CDeviceList::Save() {
  table_->Monitor().SetNotifyWindow(nullptr);
  table_->Monitor().Stop();
  const std::string id = CurrentIdentity();
  if (!id.empty()) ProfileWriteText(ProfileKey::VideoDevice2, id.substr(0, 1023).c_str());
  ProfileWriteInt(ProfileKey::MasterStream, nMasterStream_);
  ClearLiveGraphEntries();
}

void CDeviceList::RevalidateIfUnchanged() {
  if (MenuValid()) return;
  const uint32_t changes = ChangesSeen();
  if (TableMatchesDevices() && ChangesSeen() == changes) bMenuValid_.store(1);
}

void CDeviceList::InvalidateIfChanged() {
  if (!TableMatchesDevices()) bMenuValid_.store(0);
}

bool CDeviceList::TableMatchesDevices() {
  std::vector<std::string> now;
  for (const GstRef<GstDevice>& d : table_->DevicesNow())
    if (now.size() < static_cast<size_t>(kMaxListedDevices) && !DeviceDisplayName(d.get()).empty())
      now.push_back(DeviceIdentity(d.get()));
  if (now.size() != static_cast<size_t>(nDevices_)) return false;
  for (size_t i = 0; i < now.size(); ++i) {
    GstDevice* d = table_->Slot(static_cast<int>(i));
    if (!d || DeviceIdentity(d) != now[i]) return false;
  }
  return true;
}

SourcesCommand CDeviceList::MenuCommand(int id) {
  SourcesCommand cmd = menu_.PropertyCommand(id);
  if (cmd.action == SourcesAction::kVideoInput) RouteInput(cmd.nInput);
  return cmd;
}

std::string CDeviceList::CurrentIdentity() const { return DeviceIdentity(table_->Current()); }

bool CDeviceList::IsListed(const std::string& identity) {
  for (const GstRef<GstDevice>& d : table_->DevicesNow())
    if (DeviceIdentity(d.get()) == identity) return true;
  return false;
}

std::vector<DeviceInfo> CDeviceList::ListAll() {
  std::vector<DeviceInfo> out;
  for (const GstRef<GstDevice>& d : table_->DevicesNow())
    out.push_back({DeviceIdentity(d.get()), DeviceDisplayName(d.get())});
  return out;
}

void CDeviceList::SetNotifyWindow(IWindow* window) { table_->Monitor().SetNotifyWindow(window); }
uint32_t CDeviceList::ChangesSeen() const { return table_->Monitor().ChangesSeen(); }

}  // namespace ulmora
