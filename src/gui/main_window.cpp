#include "gui/main_window.h"

#include <cstring>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMenuBar>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "common/log.h"
#include "common/report.h"
#include "common/safe_snprintf.h"
#include "gui/capture_dialog.h"
#include "gui/control_panel.h"
#include "gui/placement.h"
#include "gui/record_command.h"
#include "gui/status_panes.h"
#include "gui/toolbar.h"
#include "gui/video_window.h"

namespace ulmora {

MainWindow::BoxHook& MainWindow::BoxHookRef() {
  static BoxHook hook;
  return hook;
}
MainWindow::UrlHook& MainWindow::UrlHookRef() {
  static UrlHook hook;
  return hook;
}
MainWindow::DialogHook& MainWindow::DialogHookRef() {
  static DialogHook hook;
  return hook;
}

namespace {
// The status bar holds one line: a box text's line breaks become spaces there.
QString OneLine(const char* text) { return QString::fromLocal8Bit(text).simplified(); }
}  // namespace

const char* MainWindowTitle() {
  return kDebugBuild ? "Ulmora (Test only, v. 1.0) [DEBUG]" : "Ulmora, v. 1.0";
}

void MainWindow::SetBoxHook(BoxHook hook) { BoxHookRef() = std::move(hook); }
void MainWindow::SetUrlHook(UrlHook hook) { UrlHookRef() = std::move(hook); }
void MainWindow::SetDialogHook(DialogHook hook) { DialogHookRef() = std::move(hook); }

MainWindow::MainWindow(CGraphObject* fileGraph, CGraphObject* liveGraph, const QString& programDir)
    : file_(fileGraph), liveGraph_(liveGraph), programDir_(programDir) {
  setObjectName(QStringLiteral("_videoctrl"));
  setWindowTitle(QString::fromLatin1(MainWindowTitle()));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/ulmora/ulmora.png")));
  record_ = new RecordCommand(this);
  BuildMenus();

  // The panel: the toolbar across the top and the seven rows, acting on whichever object is active.
  auto* panel = new ControlPanel(this);
  panel->SetProcessorSource([this] { return ActiveProcessor(); });
  panel->SetToolbar(BuildToolbar(panel, [this](int id) { return Action(id); }));
  setCentralWidget(panel);
  SetPanel(panel);
  SetCaptureDialogOpener([this] { CaptureDialog::Open(this, ActiveSession()); });

  // Part 0 carries the source name from the graph builders, part 1 the state texts. They share the
  // rows' font; each keeps to its own box, however long its text.
  status_ = new StatusPanes(this);
  for (int i = 0; i < 2; ++i) status_->Part(i)->setObjectName(QStringLiteral("status%1").arg(i));
  statusBar()->setFont(panel->RowFont());
  statusBar()->addWidget(status_, 1);
  statusBar()->setSizeGripEnabled(false);
  // The frame's 420 x 256 hold the caption too, which the platform draws outside this size: the
  // width is kept, the height is what menu, panel and status bar take (more only if a font needs it).
  const QSize need = minimumSizeHint();
  setFixedSize(qMax(kMainWidth, need.width()), need.height());
}

MainWindow::~MainWindow() {
  delete notice_.data();  // it may have no parent (shown while this window was hidden)
  if (GraphUi() == this) SetGraphUi(nullptr);
  // Nothing may post here or into the video windows once they are gone.
  for (CGraphObject* g : {file_, liveGraph_}) {
    if (!g) continue;
    g->SetGraphNotifyWindow(nullptr);
    CSG& sg = g->Session();
    sg.Processor().DetachMsgWindow();
    sg.DetachWindows();
  }
  delete live_;
  delete proc_;
}

QAction* MainWindow::AddAction(QMenu* menu, int id, const QString& text, bool checkable, bool checked,
                               const QKeySequence& key) {
  auto* a = new QAction(text, this);
  a->setData(id);
  a->setCheckable(checkable);
  a->setChecked(checked);
  if (!key.isEmpty()) {
    a->setShortcut(key);
    // As with an accelerator table: the keys work in the video windows too.
    a->setShortcutContext(Qt::ApplicationShortcut);
  }
  connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
  addAction(a);
  if (menu) menu->addAction(a);
  actions_[id] = a;
  return a;
}

void MainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();
  QMenu* control = bar->addMenu(QStringLiteral("&Control"));
  AddAction(control, kCmdLivePreview, QStringLiteral("Live Preview"), true, true, QKeySequence(Qt::Key_F4));
  AddAction(control, kCmdCapture, QStringLiteral("&Capture..."), false, false);
  AddAction(control, kCmdRecord, QStringLiteral("&Record"), true, false, QKeySequence(Qt::CTRL | Qt::Key_R));
  AddAction(control, kCmdRecordingDialog, QStringLiteral("Recor&ding..."), false, false);
  control->addSeparator();
  AddAction(control, kCmdPlay, QStringLiteral("&Play"), true, false, QKeySequence(Qt::Key_Space));
  AddAction(control, kCmdPause, QStringLiteral("Pa&use"), true, false, QKeySequence(Qt::CTRL | Qt::Key_U));
  AddAction(control, kCmdStop, QStringLiteral("&Stop"), false, false, QKeySequence(Qt::CTRL | Qt::Key_S));
  control->addSeparator();
  AddAction(control, kCmdExit, QStringLiteral("E&xit"), false, false, QKeySequence(Qt::CTRL | Qt::Key_X));

  QMenu* sources = bar->addMenu(QStringLiteral("Sources"));
  AddAction(sources, kCmdDeviceFirst, QStringLiteral("&D1"), false, false);

  QMenu* processing = bar->addMenu(QStringLiteral("&Processing"));
  AddAction(processing, kCmdAuto, QStringLiteral("&Auto"), true, true);
  AddAction(processing, kCmdNRH, QStringLiteral("NR Horizontal"), true, true);
  AddAction(processing, kCmdNRV, QStringLiteral("NR Vertical"), true, true);
  AddAction(processing, kCmdFlipV, QStringLiteral("Flip Vertical"), true, true);
  processing->addSeparator();
  AddAction(processing, kCmdDefault, QStringLiteral("Default"), false, false);

  QMenu* help = bar->addMenu(QStringLiteral("Help"));
  AddAction(help, kCmdContent, QStringLiteral("Content"), false, false);
  help->addSeparator();
  AddAction(help, kCmdAbout, QStringLiteral("About"), false, false);
  help->addSeparator();
  QMenu* web = help->addMenu(QStringLiteral("Web"));
  AddAction(web, kCmdSendMail, QStringLiteral("Send Mail"), false, false);
  AddAction(web, kCmdWebProduct, QStringLiteral("Ulmora"), false, false);
  AddAction(web, kCmdWebMaker, QStringLiteral("Teskor"), false, false);

  // Toolbar-only commands: the capture toggle (F10) and the automatic sub-modes.
  AddAction(nullptr, kCmdCaptureToggle, QStringLiteral("Capture [F10]"), true, false, QKeySequence(Qt::Key_F10));
  AddAction(nullptr, kCmdAutoAmp, QStringLiteral("Auto [Amplification]"), true, false);
  AddAction(nullptr, kCmdAutoAccum, QStringLiteral("Auto [Accumulator]"), true, false);
  AddAction(nullptr, kCmdAutoDelay, QStringLiteral("Auto [Delay]"), true, false);

  popups_[kPopupControl] = control;
  popups_[kPopupSources] = sources;
  popups_[kPopupProcessing] = processing;
  popups_[kPopupHelp] = help;
}

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QMenu* MainWindow::Popup(int index) const {
  return index >= 0 && index < 4 ? popups_[index] : nullptr;
}

void MainWindow::CreateVideoWindows(const QRect& workArea) {
  live_ = new VideoWindow(QStringLiteral("Live"));
  proc_ = new VideoWindow(QStringLiteral("Processing"));
  const VideoPlacement at = PlaceVideoWindows(workArea);
  live_->setGeometry(at.live);
  proc_->setGeometry(at.proc);
  // Both windows draw the active session's frames, whichever object that is.
  live_->SetFrameSource([this] {
    FrameView v;
    if (CSG* sg = ActiveSession()) {
      v.frame = &sg->FrLive();
      v.hasGraph = active_->HasGraph();
    }
    return v;
  });
  proc_->SetFrameSource([this] {
    FrameView v;
    if (CSG* sg = ActiveSession()) {
      v.frame = &sg->FrProc();
      v.hasGraph = active_->HasGraph();
    }
    return v;
  });
  live_->SetOnClose([this] { close(); });
  proc_->SetOnClose([this] { close(); });
}

void MainWindow::AttachWindows(CGraphObject* g) {
  if (!g) return;
  g->Session().AttachWindows(this, live_, proc_);
}

void MainWindow::MakeActive(CGraphObject* g, bool liveMode) {
  active_ = g;
  CGraphObject* other = g == file_ ? liveGraph_ : file_;
  if (g) g->SetActive(true);
  if (other) other->SetActive(false);
  if (g && g->HasGraph()) g->SetGraphNotifyWindow(this);
  bLiveMode_ = liveMode ? 1 : 0;
}

bool MainWindow::Create(const QString& fileName, const QRect& workArea) {
  SetGraphUi(this);
  CreateVideoWindows(workArea);
  AttachWindows(file_);
  AttachWindows(liveGraph_);

  if (!fileName.isEmpty() && file_) {
    const QByteArray path = fileName.toLocal8Bit();
    if (SUCCEEDED(file_->BuildFileGraph(path.constData()))) {
      MakeActive(file_, false);
    } else {
      Box(QStringLiteral("Can`t play video file..."), QStringLiteral("Error"), QMessageBox::Critical);
    }
  }
  // The live device: restored by the device list when it is there.
  if (restoreDevices_) restoreDevices_();
  if (!active_) MakeActive(liveGraph_, true);

  if (ActiveSession() && ActiveSession()->Modes().bViewLive.load() == 1) {
    live_->show();
    live_->setEnabled(true);
  }
  proc_->show();
  proc_->setEnabled(true);
  // The frames were fitted to the windows before they were shown; fit them again now that the sizes
  // are final.
  for (CGraphObject* g : {file_, liveGraph_}) {
    if (!g) continue;
    g->Session().UpdateLayouts();
  }

  WholeRefresh();
  show();
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  return true;
}

bool MainWindow::OpenFile(const QString& fileName) {
  if (bClosed_ || !file_ || fileName.isEmpty()) return false;
  const bool wasFile = active_ == file_;
  // A file graph is never built over another one: the previous file goes first.
  file_->DestroyGraph();
  const QByteArray path = fileName.toLocal8Bit();
  if (FAILED(file_->BuildFileGraph(path.constData()))) {
    if (wasFile) MakeActive(liveGraph_, true);
    WholeRefresh();
    Box(QStringLiteral("Can`t play video file..."), QStringLiteral("Error"), QMessageBox::Critical);
    return false;
  }
  // The camera's frames would only cost time while nobody sees them.
  if (liveGraph_ && liveGraph_->HasGraph() && liveGraph_->RunState() != kRunStopped) liveGraph_->StopGraph();
  MakeActive(file_, false);
  const bool viewLive = ActiveSession()->Modes().bViewLive.load() == 1;
  live_->setVisible(viewLive);
  live_->setEnabled(viewLive);
  file_->Session().UpdateLayouts();
  WholeRefresh();
  live_->update();
  proc_->update();
  return true;
}

void MainWindow::BringToFront() {
  if (bClosed_) return;
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void MainWindow::WholeRefresh() {
  // Also run after a device came back: the buttons follow whether there is a graph now.
  const bool present = active_ && active_->HasGraph();
  for (int id : {kCmdPlay, kCmdPause, kCmdStop, kCmdCaptureToggle}) Action(id)->setEnabled(present);
  if (present) PlayStateRefresh(active_->RunState(), false);
  RefreshMenuAndToolbar();
  if (panel_) panel_->SyncAllRows();
}

void MainWindow::RefreshMenuAndToolbar() {
  const bool present = active_ && active_->HasGraph();
  for (int id : {kCmdAuto, kCmdNRH, kCmdNRV, kCmdCaptureToggle}) Action(id)->setEnabled(present);
  CSG* sg = ActiveSession();
  CFrameProcessor* p = ActiveProcessor();
  SetToolbarCheck(kCmdCaptureToggle, sg && sg->Capture().bCapture.load() != 0);
  Action(kCmdFlipV)->setChecked(p && p->Settings().bFlipV.load() != 0);
  const uint32_t flags = p ? p->Settings().nAuto.load() : 0;
  Action(kCmdAuto)->setChecked(flags & kAutoOn);
  Action(kCmdAutoAmp)->setChecked(flags & kAutoAmp);
  Action(kCmdAutoAccum)->setChecked(flags & kAutoAccum);
  Action(kCmdAutoDelay)->setChecked(flags & kAutoDelay);
  Action(kCmdNRH)->setChecked(p && p->Settings().bNRH.load() != 0);
  Action(kCmdNRV)->setChecked(p && p->Settings().bNRV.load() != 0);
  if (panel_) panel_->EnableNoiseRows();
  Action(kCmdLivePreview)->setChecked(sg ? sg->Modes().bViewLive.load() != 0 : true);
}

void MainWindow::SetStatusText(const char* text) { SetStatus(1, text); }

QString MainWindow::StatusText(int part) const {
  return part == 0 || part == 1 ? status_->Part(part)->Text() : QString();
}

void MainWindow::SetToolbarCheck(int id, bool on) {
  if (QAction* a = Action(id); a && a->isChecked() != on) a->setChecked(on);
}

void MainWindow::PlayStateRefresh(int state, bool withText) {
  const char* text = nullptr;
  QByteArray finished;
  switch (state) {
    case kRunRunning:
      SetToolbarCheck(kCmdPlay, true);
      SetToolbarCheck(kCmdPause, false);
      text = "Playing video...";
      break;
    case kRunPaused:
      SetToolbarCheck(kCmdPlay, false);
      SetToolbarCheck(kCmdPause, true);
      text = "Paused...";
      break;
    case kRunStopped:
      SetToolbarCheck(kCmdPlay, false);
      SetToolbarCheck(kCmdPause, false);
      if (CSG* sg = ActiveSession(); sg && sg->Capture().bCapture.load()) {
        finished = FinishedCaptureText().toLocal8Bit();
        text = finished.constData();
      } else {
        text = "Stopped...";
      }
      break;
    default:
      return;
  }
  if (withText) SetStatusText(text);
}

QString MainWindow::FinishedCaptureText() const {
  CSG* sg = ActiveSession();
  if (!sg) return QString();
  const uint32_t captured = sg->Capture().nCaptured.load();
  if (const int err = sg->Capture().nWriteError.load()) {
    // The folder failed: say why and where, so nobody takes the run for a finished one.
    return QString("Capture stopped after %1 frame(s): %2 (%3)")
        .arg(captured)
        .arg(QString::fromLocal8Bit(strerror(err)), QString::fromLocal8Bit(sg->WorkDir()));
  }
  char buffer[100];
  __SafeSnprintf(buffer, sizeof buffer, "Capturing %u (+%u) frame(s)", sg->Capture().nCapTotal + captured, captured);
  return QString::fromLatin1(buffer);
}

QString MainWindow::CaptureProgressText() const {
  CSG* sg = ActiveSession();
  if (!sg) return QString();
  char buffer[100];
  __SafeSnprintf(buffer, sizeof buffer, "Capturing in progress +%u", sg->Capture().nCaptured.load());
  return QString::fromLatin1(buffer);
}

void MainWindow::Box(const QString& text, const QString& caption, QMessageBox::Icon icon) {
  if (BoxHookRef()) return BoxHookRef()(text, caption, icon);
  QMessageBox box(icon, caption, text, QMessageBox::Ok, isVisible() ? this : nullptr);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void MainWindow::ReportError(const char* text) {
  if (kDebugBuild) Box(QString::fromLocal8Bit(text), QStringLiteral("Error [DEBUG]"), QMessageBox::Warning);
  SetStatusText(text);
  LogPrintf("%s", text);
}

void MainWindow::ReportWarning(const char* text) {
  Box(QString::fromLocal8Bit(text), QStringLiteral("Warning..."), QMessageBox::Warning);
  SetStatusText(text);
  LogPrintf("%s", text);
}

void MainWindow::ShowBox(const char* text, const char* caption) {
  Box(QString::fromLocal8Bit(text), QString::fromLocal8Bit(caption), QMessageBox::Warning);
}

void MainWindow::ShowNotice(const char* text, const char* caption) {
  const QString body = QString::fromLocal8Bit(text);
  if (BoxHookRef()) return BoxHookRef()(body, QString::fromLocal8Bit(caption), QMessageBox::Warning);
  if (notice_) {
    notice_->setText(body);
    return;
  }
  notice_ = new QMessageBox(QMessageBox::Warning, QString::fromLocal8Bit(caption), body, QMessageBox::Ok,
                            isVisible() ? this : nullptr);
  notice_->setAttribute(Qt::WA_DeleteOnClose);
  notice_->setWindowModality(Qt::NonModal);
  notice_->show();
}

void MainWindow::ReportNotice(const char* text) {
  ShowNotice(text, "Warning...");
  SetStatusText(text);
  LogPrintf("%s", text);
}

void MainWindow::CloseNotice() {
  if (notice_) notice_->close();
}

void MainWindow::SetStatus(int field, const char* text) {
  if (field != 0 && field != 1) return;
  // Status texts are cut to 99 characters, as the shared text buffer holds 100.
  char buffer[100];
  __SafeSnprintf(buffer, sizeof buffer, "%s", text ? text : "");
  status_->Part(field)->SetText(OneLine(buffer));
}

void MainWindow::PostMsg(unsigned msg) {
  if (msg < 0x8000 || msg > 0x801F) return;
  const uint32_t bit = 1u << (msg - 0x8000);
  if (nPendingMsgs_.fetch_or(bit) & bit) return;  // queued already; the handler reads the latest values
  QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(msg)));
}

void MainWindow::GetClientSize(int& w, int& h) {
  w = width();
  h = height();
}

void MainWindow::Invalidate(bool) { update(); }

bool MainWindow::event(QEvent* e) {
  const unsigned type = static_cast<unsigned>(e->type());
  if (type < kMsgGraphNotify || type > kMsgCaptureProgress) return QMainWindow::event(e);
  nPendingMsgs_.fetch_and(~(1u << (type - 0x8000)));
  if (bClosed_) return true;
  switch (type) {
    case kMsgAmpChanged:
      if (panel_) panel_->ShowAmplification();
      break;
    case kMsgCountChanged:
      if (panel_) panel_->ShowAccumulator();
      break;
    case kMsgDelayChanged:
      if (panel_) panel_->ShowDelay();
      break;
    case kMsgCaptureEnded:
      SetToolbarCheck(kCmdCaptureToggle, false);
      SetStatusText(FinishedCaptureText().toLocal8Bit().constData());
      break;
    case kMsgCaptureProgress:
      SetStatusText(CaptureProgressText().toLatin1().constData());
      break;
    case kMsgGraphNotify:
      if (graphNotify_) graphNotify_();
      if (active_ == file_) HandleFileEvents();
      break;
    default:
      break;
  }
  return true;
}

// Notices may have been coalesced: read every event that is there. A file that reached its end is
// stopped (rewound, first picture cued), so the buttons and the status tell the truth and Play starts
// it again.
void MainWindow::HandleFileEvents() {
  for (int i = 0; file_ && file_->HasGraph() && i < 64; ++i) {
    const int what = file_->HandleGraphNotify();
    if (what == 0) break;
    if (what == 1 && file_->RunState() != kRunStopped) file_->StopGraph();
    PlayStateRefresh(file_->RunState(), true);
  }
}

void MainWindow::closeEvent(QCloseEvent* e) {
  e->accept();
  if (bClosed_) return;
  hide();
  record_->Finish();  // the file closes whole before its graph goes
  if (saveDevices_) saveDevices_();
  // The graphs go first (file, then live), so no frame arrives for windows that are going.
  if (file_) file_->DestroyGraph();
  if (liveGraph_) liveGraph_->DestroyGraph();
  bClosed_ = true;
  if (active_) {
    active_->Session().DetachWindows();
  }
  live_->hide();
  proc_->hide();
  QCoreApplication::quit();
}

}  // namespace ulmora
