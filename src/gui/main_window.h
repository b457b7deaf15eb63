// MainWindow: the program's control window ("_videoctrl"): menus, commands, status bar, the two video
// windows, and the choice of the active graph object.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <atomic>
#include <functional>
#include <map>

#include "common/window.h"
#include "graph/graph_object.h"
#include "graph/graph_report.h"
#include "gui/command_ids.h"
#include "gui/panel_view.h"

class QMenu;

namespace ulmora {

class HelpWindow;
class RecordCommand;
class StatusPanes;
class VideoWindow;

// Texts of the window title, by configuration.
const char* MainWindowTitle();

class MainWindow : public QMainWindow, public IWindow, public IGraphUi {
 public:
  // Message boxes and opened links go through these, so tests can see them without a person.
  using BoxHook = std::function<void(const QString& text, const QString& caption, QMessageBox::Icon icon)>;
  using UrlHook = std::function<bool(const QUrl& url)>;
  // Modal dialogs (About) are handed here instead of being run.
  using DialogHook = std::function<void(class QDialog* dialog)>;
  static void SetBoxHook(BoxHook hook);
  static void SetUrlHook(UrlHook hook);
  static void SetDialogHook(DialogHook hook);

  // The two graph objects live longer than the window.
  MainWindow(CGraphObject* fileGraph, CGraphObject* liveGraph, const QString& programDir);
  ~MainWindow() override;

  // The creation sequence: video windows placed over the work area, the file graph when a file is
  // named (else the live graph), the active object chosen, windows shown, everything refreshed.
  bool Create(const QString& fileName, const QRect& workArea);
  // Opens a video file while running, as at creation: the file graph becomes the active object and the
  // camera rests. A file that cannot be played is said in a box; the live device then stays (or becomes)
  // the active one.
  bool OpenFile(const QString& fileName);
  // Shown, restored from minimised and raised, for a second start.
  void BringToFront();

  QAction* Action(int id) const;
  QMenu* Popup(int index) const;
  CGraphObject* ActiveGraph() const { return active_; }
  CSG* ActiveSession() const { return active_ ? &active_->Session() : nullptr; }
  CFrameProcessor* ActiveProcessor() const { return active_ ? &active_->Session().Processor() : nullptr; }
  VideoWindow* LiveWindow() const { return live_; }
  VideoWindow* ProcWindow() const { return proc_; }
  // The help page's window, once Help > Content has opened it.
  HelpWindow* Help() const { return help_; }
  // The Record command and its settings.
  RecordCommand* Recorder() const { return record_; }
  bool IsLiveMode() const { return bLiveMode_ != 0; }
  // The panel (rows and delay box); the main window calls it when values change.
  void SetPanel(IPanelView* panel) { panel_ = panel; }
  IPanelView* Panel() const { return panel_; }
  // "&Capture..." opens what this runs (the Capture dialog).
  void SetCaptureDialogOpener(std::function<void()> open) { captureDialog_ = std::move(open); }
  // Sources menu commands (devices, pages, inputs); false: no device stored under that id.
  void SetDeviceCommandHandler(std::function<bool(int id)> handler) { deviceCommand_ = std::move(handler); }
  // --- device list (the Sources popup) ---
  // restore runs in Create before the live graph becomes active, save at close before the graphs go.
  void SetDeviceListSteps(std::function<void()> restore, std::function<void()> save) {
    restoreDevices_ = std::move(restore);
    saveDevices_ = std::move(save);
  }
  // kMsgGraphNotify is handed here.
  void SetGraphNotifyHandler(std::function<void()> handler) { graphNotify_ = std::move(handler); }
  // --- end device list ---

  // Commands and the shared operations of the window.
  void OnCommand(int id);
  void SetStatusText(const char* text);
  QString StatusText(int part) const;
  void SetToolbarCheck(int id, bool on);
  void PlayStateRefresh(int state, bool withText);
  void RefreshMenuAndToolbar();
  void ReportError(const char* text);
  void ReportWarning(const char* text);
  // A warning that does not block: the status text, the log, and a box that stays open without
  // holding anything up; a second notice replaces the text of the open one.
  void ReportNotice(const char* text);
  // The open notice, if any, closes (its cause went away).
  void CloseNotice();
  QMessageBox* Notice() const { return notice_; }
  // "Capturing %u (+%u) frame(s)" and "Capturing in progress +%u" of the active session.
  QString FinishedCaptureText() const;
  QString CaptureProgressText() const;

  // IWindow: the frame path and the processor post here from the streaming thread. Each message kind
  // is queued at most once at a time; the handler reads the current values.
  void PostMsg(unsigned msg) override;
  void GetClientSize(int& width, int& height) override;
  void Invalidate(bool erase) override;

  // IGraphUi: the graph code's boxes and status fields.
  void ShowBox(const char* text, const char* caption) override;
  void ShowNotice(const char* text, const char* caption) override;
  void SetStatus(int field, const char* text) override;

  bool IsClosed() const { return bClosed_; }

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildMenus();
  QAction* AddAction(QMenu* menu, int id, const QString& text, bool checkable, bool checked,
                     const QKeySequence& key = QKeySequence());
  void CreateVideoWindows(const QRect& workArea);
  void AttachWindows(CGraphObject* g);
  void MakeActive(CGraphObject* g, bool liveMode);
  void WholeRefresh();
  void ShowFinishedCaptureAndUncheck();
  void HandleFileEvents();

  // Command handlers.
  void CmdPlay();
  void CmdPause();
  void CmdStop();
  void CmdAuto();
  void CmdAutoSubMode(int id, uint32_t flag);
  void CmdLivePreview();
  void CmdCaptureToggle();
  void CmdNoise(int id);
  void CmdFlip();
  void CmdDefault();
  void CmdContent();
  void CmdAbout();
  void CmdCaptureDialog();
  void OpenUrl(const QUrl& url);
  void Box(const QString& text, const QString& caption, QMessageBox::Icon icon);
  static BoxHook& BoxHookRef();
  static UrlHook& UrlHookRef();
  static DialogHook& DialogHookRef();

  CGraphObject* file_ = nullptr;
  CGraphObject* liveGraph_ = nullptr;
  CGraphObject* active_ = nullptr;
  QString programDir_;
  std::map<int, QAction*> actions_;
  QMenu* popups_[4] = {};
  StatusPanes* status_ = nullptr;
  VideoWindow* live_ = nullptr;
  VideoWindow* proc_ = nullptr;
  HelpWindow* help_ = nullptr;  // a child of this window
  RecordCommand* record_ = nullptr;  // a child of this window
  IPanelView* panel_ = nullptr;
  QPointer<QMessageBox> notice_;  // deletes itself on close
  std::function<void()> captureDialog_;
  std::function<bool(int)> deviceCommand_;
  std::function<void()> restoreDevices_, saveDevices_, graphNotify_;
  int32_t bLiveMode_ = 0;
  bool bClosed_ = false;
  std::atomic<uint32_t> nPendingMsgs_{0};  // bit n: message 0x8000 + n is queued
};

}  // namespace ulmora
