// The command handler of the main window: menus, accelerators and toolbar buttons.
#include <QAction>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/help_window.h"
#include "gui/main_window.h"
#include "gui/record_command.h"
#include "gui/video_window.h"
#include "gui/web_links.h"

namespace ulmora {

void MainWindow::OnCommand(int id) {
  if (bClosed_) return;
  switch (id) {
    case kCmdPlay: return CmdPlay();
    case kCmdPause: return CmdPause();
    case kCmdStop: return CmdStop();
    case kCmdExit: close(); return;
    case kCmdCapture: return CmdCaptureDialog();
    case kCmdRecord: return record_->Toggle();
    case kCmdRecordingDialog: return record_->OpenDialog();
    case kCmdAuto: return CmdAuto();
    case kCmdDefault: return CmdDefault();
    case kCmdContent: return CmdContent();
    case kCmdAbout: return CmdAbout();
    case kCmdLivePreview: return CmdLivePreview();
    case kCmdNRH:
    case kCmdNRV: return CmdNoise(id);
    case kCmdCaptureToggle: return CmdCaptureToggle();
    case kCmdSendMail:
      return OpenUrl(QUrl(QStringLiteral("mailto:%1?subject=nocta").arg(QLatin1String(kContactMail))));
    case kCmdWebProduct: return OpenUrl(QUrl(QLatin1String(kProductPage)));
    case kCmdWebMaker: return OpenUrl(QUrl(QLatin1String(kMakerSite)));
    case kCmdFlipV: return CmdFlip();
    case kCmdAutoAmp: return CmdAutoSubMode(id, kAutoAmp);
    case kCmdAutoAccum: return CmdAutoSubMode(id, kAutoAccum);
    case kCmdAutoDelay: return CmdAutoSubMode(id, kAutoDelay);
    default: break;
  }
  if (id >= kCmdDeviceFirst && id <= kCmdDeviceLast) {
    if (!deviceCommand_ || !deviceCommand_(id)) ReportError("device not init... skip");
    return;
  }
  if (id >= kCmdSourcePageFirst && id <= kCmdSourcePageLast) {
    if (liveGraph_ && liveGraph_->HasGraph() && deviceCommand_) deviceCommand_(id);
    return;
  }
}

void MainWindow::CmdPlay() {
  if (!active_) return;
  if (active_->RunState() == kRunRunning) return CmdStop();
  active_->RunGraph();
  PlayStateRefresh(active_->RunState(), true);
}

void MainWindow::CmdPause() {
  if (!active_) return;
  if (active_->RunState() == kRunStopped) {
    SetToolbarCheck(kCmdPause, false);
    return;
  }
  active_->PauseGraph();
  PlayStateRefresh(active_->RunState(), true);
}

void MainWindow::CmdStop() {
  if (!active_) return;
  if (active_->RunState() != kRunStopped) {
    active_->StopGraph();
    PlayStateRefresh(active_->RunState(), true);
  } else {
    // A stopped graph stays stopped; the button of a shortcut press must not show otherwise.
    PlayStateRefresh(kRunStopped, false);
  }
}

void MainWindow::CmdAuto() {
  CFrameProcessor* p = ActiveProcessor();
  if (!p) return;
  const uint32_t f = p->Settings().nAuto.load();
  uint32_t v = 0;
  if (f & kAutoOn) {
    v = f & ~uint32_t(kAutoOn);
  } else {
    v = f | kAutoOn;
    if (f == 0) v |= p->Settings().nAutoSaved;
    if (v & kAutoAmp)
      SetToolbarCheck(kCmdAutoAmp, true);
    else if (v & kAutoAccum)
      SetToolbarCheck(kCmdAutoAccum, true);
    else if (v & kAutoDelay)
      SetToolbarCheck(kCmdAutoDelay, true);
    else {
      v |= kAutoAmp;
      SetToolbarCheck(kCmdAutoAmp, true);
    }
  }
  p->SetAuto(v);
  SetToolbarCheck(kCmdAuto, (p->Settings().nAuto.load() & kAutoOn) != 0);
}

void MainWindow::CmdAutoSubMode(int, uint32_t flag) {
  CFrameProcessor* p = ActiveProcessor();
  if (!p) return;
  const uint32_t f = p->Settings().nAuto.load();
  p->SetAutoSaved(f);
  uint32_t v = 0;
  if (f & flag) {
    v = f & ~flag;
    if (!(v & (kAutoAmp | kAutoAccum | kAutoDelay))) {
      v = 0;
      SetToolbarCheck(kCmdAuto, false);
    }
  } else {
    v = f | flag;
  }
  p->SetAuto(v);
}

void MainWindow::CmdLivePreview() {
  CSG* sg = ActiveSession();
  const bool on = sg ? sg->Modes().bViewLive.load() == 0 : false;
  if (live_) {
    if (on) {
      live_->setAttribute(Qt::WA_ShowWithoutActivating);
      live_->show();
      live_->setEnabled(true);
      if (sg) sg->SetViewLive(true);
      live_->update();
    } else {
      if (sg) sg->SetViewLive(false);
      live_->hide();
      live_->setEnabled(false);
    }
  }
  SetToolbarCheck(kCmdLivePreview, on);
}

void MainWindow::CmdCaptureToggle() {
  CSG* sg = ActiveSession();
  if (!sg) return;
  const bool running = sg->Capture().bCapture.load() != 0;
  if (running) SetStatusText(FinishedCaptureText().toLatin1().constData());
  sg->StartCapture(running ? 0 : 1);
  const bool now = sg->Capture().bCapture.load() != 0;
  SetToolbarCheck(kCmdCaptureToggle, now);
  if (now) SetStatusText(CaptureProgressText().toLatin1().constData());
}

void MainWindow::CmdNoise(int id) {
  CFrameProcessor* p = ActiveProcessor();
  if (!p) return;
  const bool h = id == kCmdNRH;
  const bool on = (h ? p->Settings().bNRH.load() : p->Settings().bNRV.load()) == 0;
  if (h)
    p->SetNRH(on);
  else
    p->SetNRV(on);
  SetToolbarCheck(id, on);
  if (panel_) panel_->EnableNoiseRows();
}

void MainWindow::CmdFlip() {
  CSG* sg = ActiveSession();
  if (!sg) {
    SetToolbarCheck(kCmdFlipV, false);
    return;
  }
  const bool on = sg->Processor().Settings().bFlipV.load() == 0;
  sg->SetFlip(on);
  SetToolbarCheck(kCmdFlipV, on);
}

void MainWindow::CmdDefault() {
  if (CFrameProcessor* p = ActiveProcessor()) p->ResetDefaults();
  if (panel_) panel_->SyncAllRows();
}

void MainWindow::CmdContent() {
  // Beside the program (build tree), else in the installed data directory next to bin/.
  QString path = programDir_ + QLatin1String(kHelpFileName);
  if (!QFileInfo::exists(path)) {
    const QString installed = QDir::cleanPath(programDir_ + QStringLiteral("../share/ulmora/")) +
                              QLatin1Char('/') + QLatin1String(kHelpFileName);
    if (QFileInfo::exists(installed)) path = installed;
  }
  if (!QFileInfo::exists(path)) {
    const QByteArray text = QStringLiteral("Help file %1 not found").arg(path).toLocal8Bit();
    ReportWarning(text.constData());
    return;
  }
  // A window of our own rather than the desktop's launcher: the launcher may be missing, or start and
  // fail where nobody sees it.
  if (!help_) help_ = new HelpWindow(this);
  if (!help_->ShowPage(path)) {
    const QByteArray text = QStringLiteral("Cannot read help file %1").arg(path).toLocal8Bit();
    ReportWarning(text.constData());
  }
}

void MainWindow::OpenUrl(const QUrl& url) {
  const bool ok = UrlHookRef() ? UrlHookRef()(url) : QDesktopServices::openUrl(url);
  if (!ok) {
    const QByteArray text = QStringLiteral("Cannot open %1").arg(url.toString()).toLocal8Bit();
    SetStatusText(text.constData());
  }
}

void MainWindow::CmdAbout() {
  QDialog dlg(this);
  dlg.setObjectName(QStringLiteral("dialog108"));
  dlg.setWindowTitle(QStringLiteral("About"));
  auto* layout = new QVBoxLayout(&dlg);
  layout->addWidget(new QLabel(QStringLiteral("<b>Ulmora</b>, v. 1.0"), &dlg));
  layout->addWidget(new QLabel(QStringLiteral("Real-time low-light video: summing, amplification, tone curve,\n"
                                              "banding removal and automatic control."), &dlg));
  layout->addWidget(new QLabel(QStringLiteral("Written by the Ulmora developers."), &dlg));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dlg);
  connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  layout->addWidget(buttons);
  if (DialogHookRef()) return DialogHookRef()(&dlg);
  dlg.exec();
}

void MainWindow::CmdCaptureDialog() {
  if (captureDialog_) captureDialog_();
}

}  // namespace ulmora
