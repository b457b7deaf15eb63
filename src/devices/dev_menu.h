// The "Sources" popup as a plain model the GUI renders: the device entries, the settings-dialog
// entries of the current device and the "Video Input" sub-menu. No toolkit and no GStreamer types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/controls_desc.h"

namespace ulmora {

class CCrossbar;
class ICrossbar;

constexpr int kDevMenuDeviceFirst = 40030;   // device slot i has id 40030 + i
constexpr int kDevMenuSourcesFirst = 40050;  // Sources slot k has id 40050 + k
constexpr int kDevMenuSourcesLast = 40069;   // entries beyond show but do nothing

struct MenuEntry {
  enum class Kind { kItem, kSeparator, kSubMenu };
  Kind kind = Kind::kItem;
  int id = 0;  // command id of an item; 0 for separators and the sub-menu
  std::string text;
  bool checked = false;
  bool enabled = true;
  std::vector<MenuEntry> items;  // the sub-menu's entries
};

// What a Sources command (40050..40069) asks for.
enum class SourcesAction { kNone, kVideoSource, kCaptureFilter, kCrossbar, kTvTuner, kSecondCrossbar, kVideoInput };
struct SourcesCommand {
  SourcesAction action = SourcesAction::kNone;
  int nInput = -1;  // kVideoInput: the route
};

class CDevMenu {
 public:
  const std::vector<MenuEntry>& Entries() const { return entries_; }
  // Grows on every change, so a renderer knows when to rebuild.
  uint32_t Revision() const { return nRevision_; }

  // --- device entries ---
  // Removes every entry (the dialog and input entries go too).
  void Clear();
  void AppendDevice(int index, const std::string& text, bool checked, bool enabled);
  void SetDeviceChecked(int index, bool checked);

  // --- entries after the devices ---
  // Removes everything after the nDevices device entries, then appends a separator, the dialogs that
  // exist and, when xbar has routes, a separator and the "Video Input" sub-menu with the initial route
  // checked. Returns that route for the caller to switch to, -1 without a sub-menu.
  int RebuildEntries(int nDevices, const DeviceDialogEntries& dialogs, const CCrossbar* xbar);
  // Marks the input that hardware routes; nothing when it names none.
  void SyncInputFromHardware(CCrossbar& xbar, ICrossbar& hardware);
  // What id asks for; a video input entry is checked here (the caller routes it).
  SourcesCommand PropertyCommand(int id);
  // Checks input route j of the sub-menu and unchecks the others.
  void CheckInput(int route);

  // Slots (k of id 40050 + k), -1 when the entry is absent.
  int nSlotVideoSource = -1;
  int nSlotCaptureFilter = -1;
  int nSlotCrossbar = -1;
  int nSlotSecondCrossbar = -1;
  int nSlotTvTuner = -1;
  int iVideoInputMenuPos = -1;
  int nInputRoutes = 0;

 private:
  MenuEntry* InputMenu();
  void Changed() { ++nRevision_; }

  std::vector<MenuEntry> entries_;
  uint32_t nRevision_ = 0;
};

}  // namespace ulmora
