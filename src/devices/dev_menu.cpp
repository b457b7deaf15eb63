#include "devices/dev_menu.h"

#include "devices/crossbar.h"

namespace ulmora {

void CDevMenu::Clear() {
  entries_.clear();
  nSlotVideoSource = nSlotCaptureFilter = nSlotCrossbar = nSlotSecondCrossbar = nSlotTvTuner = -1;
  iVideoInputMenuPos = -1;
  nInputRoutes = 0;
  Changed();
}

void CDevMenu::AppendDevice(int index, const std::string& text, bool checked, bool enabled) {
  MenuEntry e;
  e.id = kDevMenuDeviceFirst + index;
  e.text = text;
  e.checked = checked;
  e.enabled = enabled;
  entries_.push_back(std::move(e));
  Changed();
}

void CDevMenu::SetDeviceChecked(int index, bool checked) {
  for (MenuEntry& e : entries_) {
    if (e.kind == MenuEntry::Kind::kItem && e.id == kDevMenuDeviceFirst + index) {
      e.checked = checked;
      Changed();
      return;
    }
  }
}

int CDevMenu::RebuildEntries(int nDevices, const DeviceDialogEntries& dialogs, const CCrossbar* xbar) {
  nSlotVideoSource = nSlotCaptureFilter = nSlotCrossbar = nSlotSecondCrossbar = nSlotTvTuner = -1;
  iVideoInputMenuPos = -1;
  nInputRoutes = 0;
  if (nDevices < 0) nDevices = 0;
  if (entries_.size() > static_cast<size_t>(nDevices)) entries_.resize(static_cast<size_t>(nDevices));
  entries_.push_back(MenuEntry{MenuEntry::Kind::kSeparator, 0, {}, false, true, {}});
  int k = nDevices;
  auto add = [&](bool present, const char* text, int& slot) {
    if (!present) return;
    entries_.push_back(MenuEntry{MenuEntry::Kind::kItem, kDevMenuSourcesFirst + k, text, false, true, {}});
    slot = k++;
  };
  add(dialogs.bVideoSource, "Video Source...", nSlotVideoSource);
  add(dialogs.bCaptureFilter, "Video Capture Filter...", nSlotCaptureFilter);
  add(dialogs.bCrossbar, "Video Crossbar...", nSlotCrossbar);
  add(dialogs.bSecondCrossbar, "Second Crossbar...", nSlotSecondCrossbar);
  add(dialogs.bTvTuner, "TV Tuner...", nSlotTvTuner);

  int routes = 0;
  int chosen = -1;
  if (xbar && xbar->GetInputCount(&routes) >= 0 && routes > 0) {
    iVideoInputMenuPos = k++;
    entries_.push_back(MenuEntry{MenuEntry::Kind::kSeparator, 0, {}, false, true, {}});
    MenuEntry popup{MenuEntry::Kind::kSubMenu, 0, "Video Input", false, true, {}};
    for (int j = 0; j < routes; ++j) {
      char name[260] = "";
      if (xbar->GetInputName(j, name, sizeof name) < 0) name[0] = '\0';
      popup.items.push_back(MenuEntry{MenuEntry::Kind::kItem, kDevMenuSourcesFirst + k, name, false, true, {}});
      ++k;
    }
    nInputRoutes = routes;
    chosen = ChooseInitialRoute(*xbar);
    if (chosen >= 0 && chosen < routes) popup.items[static_cast<size_t>(chosen)].checked = true;
    entries_.push_back(std::move(popup));
  }
  Changed();
  return chosen;
}

MenuEntry* CDevMenu::InputMenu() {
  for (MenuEntry& e : entries_)
    if (e.kind == MenuEntry::Kind::kSubMenu) return &e;
  return nullptr;
}

void CDevMenu::CheckInput(int route) {
  MenuEntry* popup = InputMenu();
  if (!popup || route < 0 || route >= static_cast<int>(popup->items.size())) return;
  for (size_t j = 0; j < popup->items.size(); ++j) popup->items[j].checked = static_cast<int>(j) == route;
  Changed();
}

void CDevMenu::SyncInputFromHardware(CCrossbar& xbar, ICrossbar& hardware) {
  if (nInputRoutes <= 0) return;
  const int route = ulmora::SyncInputFromHardware(xbar, hardware);
  if (route >= 0 && route < nInputRoutes) CheckInput(route);
}

SourcesCommand CDevMenu::PropertyCommand(int id) {
  SourcesCommand cmd;
  if (id < kDevMenuSourcesFirst || id > kDevMenuSourcesLast) return cmd;
  const int k = id - kDevMenuSourcesFirst;
  if (k == nSlotVideoSource)
    cmd.action = SourcesAction::kVideoSource;
  else if (k == nSlotCaptureFilter)
    cmd.action = SourcesAction::kCaptureFilter;
  else if (k == nSlotCrossbar)
    cmd.action = SourcesAction::kCrossbar;
  else if (k == nSlotTvTuner)
    cmd.action = SourcesAction::kTvTuner;
  else if (k == nSlotSecondCrossbar)
    cmd.action = SourcesAction::kSecondCrossbar;
  else if (iVideoInputMenuPos >= 0 && k > iVideoInputMenuPos && k <= iVideoInputMenuPos + nInputRoutes) {
    cmd.action = SourcesAction::kVideoInput;
    cmd.nInput = k - iVideoInputMenuPos - 1;
    CheckInput(cmd.nInput);
  }
  return cmd;
}

}  // namespace ulmora
