// The main window's toolbar: the commands it repeats from the menu, and the delay box.
#pragma once

#include <functional>

class QAction;
class QLineEdit;
class QToolBar;
class QWidget;

namespace ulmora {

// Returns the main window's action for a command id, or null when it has none.
using ActionLookup = std::function<QAction*(int id)>;

constexpr int kToolbarEntryCount = 20;  // buttons and separators
constexpr int kDelayBoxX = 358, kDelayBoxWidth = 50, kDelayBoxHeight = 20, kDelayBoxMaxChars = 6;

// One entry of the toolbar: a separator (id 0) or a button showing one image of the strip.
struct ToolbarEntry {
  int image;
  int id;
  bool check;
};
const ToolbarEntry& ToolbarEntryAt(int index);

// Builds the toolbar as a child of parent. Each button uses the action that actionFor gives for its
// id (given its image, check style and tooltip); an id without an action gets an inert one of its own
// so the toolbar keeps its shape. The delay box (id 1042) stands after the last button.
QToolBar* BuildToolbar(QWidget* parent, const ActionLookup& actionFor);

// The delay box of a toolbar made by BuildToolbar.
QLineEdit* ToolbarDelayBox(QToolBar* toolbar);

}  // namespace ulmora
