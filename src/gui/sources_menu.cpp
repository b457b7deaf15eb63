#include "gui/sources_menu.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>

#include "graph/graph_object.h"
#include "gui/device_dialogs.h"
#include "gui/device_reconnect.h"
#include "gui/main_window.h"
#include "gui/record_command.h"

namespace ulmora {

namespace {

constexpr char kOwnEntry[] = "ulmoraSourcesEntry";

// Dialog entries open a window; only devices and inputs are choices that carry a check mark.
bool OpensDialog(const CDevMenu& model, int id) {
  for (int slot : {model.nSlotVideoSource, model.nSlotCaptureFilter, model.nSlotCrossbar, model.nSlotSecondCrossbar,
                   model.nSlotTvTuner})
    if (slot >= 0 && id == kDevMenuSourcesFirst + slot) return true;
  return false;
}

}  // namespace

DeviceListHooks SourcesPopup::DeviceHooks(MainWindow* window, CGraphObject* liveGraph) {
  DeviceListHooks hooks;
  hooks.buildCaptureGraph = [liveGraph] { return static_cast<int32_t>(liveGraph->BuildCaptureGraph()); };
  hooks.liveMode = [window] { return window->IsLiveMode(); };
  hooks.stopGraph = [liveGraph] { return SUCCEEDED(liveGraph->StopGraph()); };
  hooks.runGraph = [liveGraph] { return SUCCEEDED(liveGraph->RunGraph()); };
  hooks.warning = [window](const char* text) { window->ReportWarning(text); };
  return hooks;
}

SourcesPopup::SourcesPopup(MainWindow* window, CGraphObject* liveGraph, CDeviceList* devices)
    : QObject(window), window_(window), live_(liveGraph), devices_(devices), popup_(window->Popup(kPopupSources)) {
  reconnect_ = std::make_unique<DeviceReconnect>(window, liveGraph, devices, [this] { AfterRebuild(true); });
  window_->Recorder()->SetDeviceLostProbe([this] { return reconnect_->Lost(); });
  if (popup_) connect(popup_, &QMenu::aboutToShow, this, &SourcesPopup::Render);
  window_->SetDeviceCommandHandler([this](int id) { return Command(id); });
  window_->SetDeviceListSteps([this] { RestoreDevices(); }, [this] { SaveDevices(); });
  window_->SetGraphNotifyHandler([this] {
    if (window_->ActiveGraph() == live_) OnGraphNotify();
  });
}

SourcesPopup::~SourcesPopup() { devices_->SetNotifyWindow(nullptr); }

void SourcesPopup::RestoreDevices() {
  devices_->Restore();
  devices_->SetNotifyWindow(this);
  Render();
}

void SourcesPopup::SaveDevices() { devices_->Save(); }

void SourcesPopup::Render() {
  devices_->RevalidateIfUnchanged();
  devices_->Enumerate();
  const CDevMenu& model = devices_->Menu();
  if (!popup_ || model.Revision() == nRendered_) return;
  nRendered_ = model.Revision();
  // An entry may be the one whose command is running now: its action goes later, not at once.
  // The window's own placeholder is only taken out: the window keeps it.
  for (QAction* a : popup_->actions()) {
    popup_->removeAction(a);
    if (!a->property(kOwnEntry).toBool()) continue;
    if (QMenu* sub = a->menu()) sub->deleteLater();
    a->deleteLater();
  }
  actions_.clear();
  // Every item goes back through the window's command handler, as a menu command does; ids beyond
  // the handled range therefore show and do nothing.
  const auto addItem = [this, &model](QMenu* menu, const MenuEntry& e) {
    QAction* a = menu->addAction(QString::fromStdString(e.text));
    a->setProperty(kOwnEntry, true);
    a->setCheckable(!OpensDialog(model, e.id));
    a->setChecked(e.checked);
    a->setEnabled(e.enabled);
    const int id = e.id;
    connect(a, &QAction::triggered, this, [this, a, id] {
      // The check mark follows the model, not the click.
      if (a->isCheckable()) a->setChecked(!a->isChecked());
      window_->OnCommand(id);
      Render();
    });
    actions_[id] = a;
  };
  for (const MenuEntry& e : model.Entries()) {
    switch (e.kind) {
      case MenuEntry::Kind::kSeparator: popup_->addSeparator()->setProperty(kOwnEntry, true); break;
      case MenuEntry::Kind::kSubMenu: {
        QMenu* sub = popup_->addMenu(QString::fromStdString(e.text));
        sub->menuAction()->setProperty(kOwnEntry, true);
        for (const MenuEntry& item : e.items) addItem(sub, item);
        break;
      }
      case MenuEntry::Kind::kItem: addItem(popup_, e); break;
    }
  }
}

QAction* SourcesPopup::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

bool SourcesPopup::Command(int id) {
  if (id >= kDevMenuDeviceFirst && id < kDevMenuSourcesFirst) return ChooseDevice(id);
  PropertyCommand(id);
  return true;
}

bool SourcesPopup::ChooseDevice(int id) {
  const int result = devices_->ChooseCommand(id);
  if (result == -2) return false;
  if (result != 0) {
    reconnect_->Forget();
    AfterRebuild(true);
  }
  Render();
  return true;
}

void SourcesPopup::AfterRebuild(bool withText) {
  if (live_->HasGraph() && window_->ActiveGraph() == live_) live_->SetGraphNotifyWindow(window_);
  if (window_->ActiveGraph() != live_) return;
  if (live_->HasGraph()) window_->PlayStateRefresh(live_->RunState(), withText);
  window_->RefreshMenuAndToolbar();
}

void SourcesPopup::PropertyCommand(int id) {
  const SourcesCommand cmd = devices_->MenuCommand(id);
  DeviceDialogs dialogs(window_, live_, devices_);
  switch (cmd.action) {
    case SourcesAction::kVideoSource:
      if (dialogs.VideoSource()) AfterRebuild(true);
      break;
    case SourcesAction::kCaptureFilter: dialogs.CaptureFilter(); break;
    case SourcesAction::kCrossbar: dialogs.Crossbar(0); break;
    case SourcesAction::kSecondCrossbar: dialogs.Crossbar(1); break;
    case SourcesAction::kTvTuner: dialogs.TvTuner(); break;
    case SourcesAction::kVideoInput:  // routed by the device list
    case SourcesAction::kNone: break;
  }
  if (window_->ActiveGraph() == live_ && live_->HasGraph()) window_->PlayStateRefresh(live_->RunState(), false);
}

void SourcesPopup::OnGraphNotify() { reconnect_->OnGraphNotify(); }

void SourcesPopup::PostMsg(unsigned msg) {
  if (msg != kMsgDeviceChange) return;
  // One queued change at a time; its handler looks at the list as it is then.
  if (bChangePending_.exchange(1) != 0) return;
  QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(QEvent::User + 1)));
}

void SourcesPopup::GetClientSize(int& width, int& height) {
  width = 0;
  height = 0;
}

bool SourcesPopup::event(QEvent* e) {
  if (e->type() != static_cast<QEvent::Type>(QEvent::User + 1)) return QObject::event(e);
  bChangePending_.store(0);
  // Render may have found the list unchanged just before this change landed: look again.
  devices_->InvalidateIfChanged();
  reconnect_->OnDeviceChange();
  return true;
}

}  // namespace ulmora
