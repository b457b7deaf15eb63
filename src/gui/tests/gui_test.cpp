// Tests of the desktop program on Qt's offscreen platform: the main window's commands and texts, the
// video windows, start-up helpers, and the program itself as a second process.
#include <QtTest>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QLocalSocket>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "common/report.h"
#include "graph/graph_object.h"
#include "gui/command_line.h"
#include "gui/frame_scaler.h"
#include "gui/help_window.h"
#include "gui/main_window.h"
#include "gui/placement.h"
#include "gui/single_instance.h"
#include "gui/video_window.h"
#include "settings/profile.h"

using namespace ulmora;

namespace {

QString MakeTempDir(const char* tag) {
  QByteArray pattern = QByteArray("/tmp/ulmora-gui-") + tag + "-XXXXXX";
  const char* d = mkdtemp(pattern.data());
  return d ? QString::fromLocal8Bit(d) : QString();
}

void RemoveTempDir(const QString& dir) {
  if (dir.startsWith(QLatin1String("/tmp/ulmora-gui-"))) QDir(dir).removeRecursively();
}

// Runs the sample generator into dir; the clip's path, empty on failure.
QString MakeClip(const QString& dir, const QString& options) {
  const QString path = dir + QStringLiteral("/clip.avi");
  QProcess p;
  QStringList args{QStringLiteral("-q"), QStringLiteral("-o"), path};
  args += options.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  p.start(QStringLiteral(ULMORA_SAMPLE_EXE), args);
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
  return path;
}

// Every box the program would show, instead of showing it.
struct BoxLog {
  QStringList captions, texts;
  void Install() {
    MainWindow::SetBoxHook([this](const QString& text, const QString& caption, QMessageBox::Icon) {
      // The test machine has no camera: the device list says so at every start.
      if (text.startsWith(QLatin1String("Sorry, you have no video capture hardware."))) return;
      captions << caption;
      texts << text;
    });
  }
};

// A main window over two graph objects with a private profile and capture directory.
struct Session {
  QString dir;
  std::unique_ptr<CGraphObject> file, live;
  std::unique_ptr<MainWindow> window;

  bool Open(const QString& clip, const QString& tempDir) {
    dir = tempDir;
    ProfileUsePath((dir + QStringLiteral("/profile.ini")).toStdString());
    ProfileClearOverrides();
    ProfileSetOverride(kSectionNocta, "CapWorkDir", dir.toLocal8Bit().constData());
    file = std::make_unique<CGraphObject>();
    live = std::make_unique<CGraphObject>();
    window = std::make_unique<MainWindow>(file.get(), live.get(), dir + QLatin1Char('/'));
    return window->Create(clip, QRect(0, 0, 1280, 1024));
  }
  void Close() {
    window.reset();
    file.reset();
    live.reset();
    ProfileClearOverrides();
  }
  QString Status() const { return window->StatusText(1); }
  bool Checked(int id) const { return window->Action(id)->isChecked(); }
  void Command(int id) { window->Action(id)->trigger(); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------------
class MainWindowTest : public QObject {
  Q_OBJECT
 private:
  QString dir_, clip_;
  BoxLog boxes_;
  Session s_;

 private slots:
  void initTestCase() {
    dir_ = MakeTempDir("main");
    QVERIFY(!dir_.isEmpty());
    clip_ = MakeClip(dir_, QStringLiteral("-W 320 -H 240 -r 30 -n 300 --noise 4 --banding 3"));
    QVERIFY(!clip_.isEmpty());
    boxes_.Install();
  }
  void cleanupTestCase() {
    MainWindow::SetBoxHook({});
    RemoveTempDir(dir_);
  }
  void init() {
    boxes_.captions.clear();
    boxes_.texts.clear();
    QVERIFY(s_.Open(clip_, dir_));
  }
  void cleanup() { s_.Close(); }

  void windowAndMenus() {
    MainWindow& w = *s_.window;
    QCOMPARE(w.objectName(), QStringLiteral("_videoctrl"));
    QCOMPARE(w.windowTitle(), QString::fromLatin1(kDebugBuild ? "Ulmora (Test only, v. 1.0) [DEBUG]" : "Ulmora, v. 1.0"));
    const QList<QAction*> top = w.menuBar()->actions();
    QCOMPARE(top.size(), 4);
    QCOMPARE(top[0]->text(), QStringLiteral("&Control"));
    QCOMPARE(top[1]->text(), QStringLiteral("Sources"));
    QCOMPARE(top[2]->text(), QStringLiteral("&Processing"));
    QCOMPARE(top[3]->text(), QStringLiteral("Help"));
    QStringList control;
    for (QAction* a : w.Popup(kPopupControl)->actions())
      control << (a->isSeparator() ? QStringLiteral("-") : QString::number(a->data().toInt()));
    QCOMPARE(control.join(QLatin1Char(' ')), QStringLiteral("40022 40009 40080 40081 - 40001 40002 40003 - 40007"));
    QStringList processing;
    for (QAction* a : w.Popup(kPopupProcessing)->actions())
      processing << (a->isSeparator() ? QStringLiteral("-") : QString::number(a->data().toInt()));
    QCOMPARE(processing.join(QLatin1Char(' ')), QStringLiteral("40015 40070 40071 40175 - 40016"));
    QCOMPARE(w.Action(kCmdPlay)->shortcut(), QKeySequence(Qt::Key_Space));
    QCOMPARE(w.Action(kCmdPause)->shortcut(), QKeySequence(QStringLiteral("Ctrl+U")));
    QCOMPARE(w.Action(kCmdStop)->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(w.Action(kCmdExit)->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
    QCOMPARE(w.Action(kCmdLivePreview)->shortcut(), QKeySequence(Qt::Key_F4));
    QCOMPARE(w.Action(kCmdCaptureToggle)->shortcut(), QKeySequence(Qt::Key_F10));
    for (int id : {kCmdSendMail, kCmdWebProduct, kCmdWebMaker, kCmdAutoAmp, kCmdAutoAccum, kCmdAutoDelay})
      QCOMPARE(w.Action(id)->data().toInt(), id);
    // The file opened: the file graph object is the active one and the menus show its real state.
    QCOMPARE(w.ActiveGraph(), s_.file.get());
    QVERIFY(!w.IsLiveMode());
    QCOMPARE(s_.Checked(kCmdFlipV), false);
    QCOMPARE(s_.Checked(kCmdAuto), (w.ActiveProcessor()->Settings().nAuto.load() & kAutoOn) != 0);
    QVERIFY(w.Action(kCmdPlay)->isEnabled());
    QVERIFY(w.LiveWindow()->isVisible());
    QVERIFY(w.ProcWindow()->isVisible());
    QCOMPARE(w.ProcWindow()->geometry(), QRect(317 + 326, 50, 320, 240));
  }

  void playPauseStop() {
    CGraphObject& g = *s_.file;
    QCOMPARE(g.RunState(), int(kRunStopped));
    // Pause while stopped: the graph stays stopped and the button does not stay checked.
    s_.Command(kCmdPause);
    QCOMPARE(g.RunState(), int(kRunStopped));
    QVERIFY(!s_.Checked(kCmdPause));

    s_.Command(kCmdPlay);
    QCOMPARE(g.RunState(), int(kRunRunning));
    QCOMPARE(s_.Status(), QStringLiteral("Playing video..."));
    QVERIFY(s_.Checked(kCmdPlay));
    QVERIFY(!s_.Checked(kCmdPause));

    s_.Command(kCmdPause);
    QCOMPARE(g.RunState(), int(kRunPaused));
    QCOMPARE(s_.Status(), QStringLiteral("Paused..."));
    QVERIFY(!s_.Checked(kCmdPlay));
    QVERIFY(s_.Checked(kCmdPause));
    // Pause while paused resumes.
    s_.Command(kCmdPause);
    QCOMPARE(g.RunState(), int(kRunRunning));
    QCOMPARE(s_.Status(), QStringLiteral("Playing video..."));

    // Play while running stops.
    s_.Command(kCmdPlay);
    QCOMPARE(g.RunState(), int(kRunStopped));
    QCOMPARE(s_.Status(), QStringLiteral("Stopped..."));
    QVERIFY(!s_.Checked(kCmdPlay));

    s_.Command(kCmdPlay);
    s_.Command(kCmdStop);
    QCOMPARE(g.RunState(), int(kRunStopped));
    QCOMPARE(s_.Status(), QStringLiteral("Stopped..."));
    QVERIFY(boxes_.texts.isEmpty());
  }

  void autoModes() {
    CFrameProcessor* active = s_.window->ActiveProcessor();
    QVERIFY(active);
    CFrameProcessor& p = *active;
    // Auto on with nothing remembered: amplification mode.
    p.SetAuto(0);
    p.SetAutoSaved(0);
    s_.window->RefreshMenuAndToolbar();
    s_.Command(kCmdAuto);
    QCOMPARE(p.Settings().nAuto.load(), uint32_t(kAutoOn | kAutoAmp));
    QVERIFY(s_.Checked(kCmdAuto));
    QVERIFY(s_.Checked(kCmdAutoAmp));
    // Auto on again from off keeps the sub-modes it had.
    s_.Command(kCmdAuto);
    QCOMPARE(p.Settings().nAuto.load(), uint32_t(kAutoAmp));
    QVERIFY(!s_.Checked(kCmdAuto));
    // A sub-mode switched on does not switch Auto on.
    s_.Command(kCmdAutoDelay);
    QCOMPARE(p.Settings().nAuto.load(), uint32_t(kAutoAmp | kAutoDelay));
    QCOMPARE(p.Settings().nAutoSaved, uint32_t(kAutoAmp));
    s_.Command(kCmdAuto);
    QCOMPARE(p.Settings().nAuto.load(), uint32_t(kAutoOn | kAutoAmp | kAutoDelay));
    // Switching off the last sub-mode clears everything and unchecks Auto.
    s_.Command(kCmdAutoAmp);
    QCOMPARE(p.Settings().nAuto.load(), uint32_t(kAutoOn | kAutoDelay));
    s_.Command(kCmdAutoDelay);
    QCOMPARE(p.Settings().nAuto.load(), 0u);
    QVERIFY(!s_.Checked(kCmdAuto));
    QCOMPARE(p.Settings().nAutoSaved, uint32_t(kAutoOn | kAutoDelay));
    // Auto on now brings back the remembered set.
    s_.Command(kCmdAuto);
    QCOMPARE(p.Settings().nAuto.load(), uint32_t(kAutoOn | kAutoDelay));
    QVERIFY(s_.Checked(kCmdAutoDelay));
  }

  void switchesFlipAndDefault() {
    CSG& sg = *s_.window->ActiveSession();
    CFrameProcessor& p = sg.Processor();
    const int32_t nrh = p.Settings().bNRH.load();
    s_.Command(kCmdNRH);
    QCOMPARE(p.Settings().bNRH.load(), nrh ? 0 : 1);
    QCOMPARE(s_.Checked(kCmdNRH), !nrh);
    const int32_t nrv = p.Settings().bNRV.load();
    s_.Command(kCmdNRV);
    QCOMPARE(p.Settings().bNRV.load(), nrv ? 0 : 1);

    const int32_t h = sg.FrProc().DisplayHeight();
    QVERIFY(h != 0);
    s_.Command(kCmdFlipV);
    QCOMPARE(p.Settings().bFlipV.load(), 1);
    QVERIFY(s_.Checked(kCmdFlipV));
    QCOMPARE(sg.FrProc().DisplayHeight(), -h);
    QCOMPARE(sg.FrLive().DisplayHeight(), -sg.FrLive().nHeightSigned);
    s_.Command(kCmdFlipV);
    QCOMPARE(sg.FrProc().DisplayHeight(), h);

    p.SetAmp(40);
    p.SetCountAccum(9);
    p.SetRmsH(3.0f);
    s_.Command(kCmdDefault);
    QCOMPARE(p.Settings().nAmp.load(), 16);
    QCOMPARE(p.Settings().nCountAccum.load(), 4);
    QCOMPARE(p.Settings().fRmsH.load(), 3.0f);  // thresholds are not defaults' business
  }

  void livePreview() {
    CSG& sg = *s_.window->ActiveSession();
    QCOMPARE(sg.Modes().bViewLive.load(), 1);
    s_.Command(kCmdLivePreview);
    QCOMPARE(sg.Modes().bViewLive.load(), 0);
    QVERIFY(!s_.window->LiveWindow()->isVisible());
    QVERIFY(!s_.Checked(kCmdLivePreview));
    s_.Command(kCmdLivePreview);
    QCOMPARE(sg.Modes().bViewLive.load(), 1);
    QVERIFY(s_.window->LiveWindow()->isVisible());
    QVERIFY(s_.Checked(kCmdLivePreview));
  }

  void twoCaptureRuns() {
    CSG& sg = *s_.window->ActiveSession();
    sg.SetCapCount(5);
    s_.Command(kCmdCaptureToggle);
    QVERIFY(s_.Checked(kCmdCaptureToggle));
    QCOMPARE(s_.Status(), QStringLiteral("Capturing in progress +0"));
    s_.Command(kCmdPlay);
    QTRY_COMPARE_WITH_TIMEOUT(s_.Status(), QStringLiteral("Capturing 5 (+5) frame(s)"), 15000);
    QVERIFY(!s_.Checked(kCmdCaptureToggle));
    sg.SetCapCount(3);
    s_.Command(kCmdCaptureToggle);
    QTRY_COMPARE_WITH_TIMEOUT(s_.Status(), QStringLiteral("Capturing 8 (+3) frame(s)"), 15000);
    s_.Command(kCmdStop);
    QCOMPARE(s_.Status(), QStringLiteral("Stopped..."));
    QDir d(s_.dir);
    QCOMPARE(d.entryList({QStringLiteral("*.bmp")}, QDir::Files).size(), 8);
    // Stopping the graph during a run shows what the run wrote so far; F10 then ends the run.
    sg.SetCapCount(100000);
    s_.Command(kCmdCaptureToggle);
    s_.Command(kCmdPlay);
    QTRY_VERIFY_WITH_TIMEOUT(sg.Capture().nCaptured.load() >= 2, 15000);
    s_.Command(kCmdStop);
    const uint32_t n = sg.Capture().nCaptured.load();
    QCOMPARE(s_.Status(), QStringLiteral("Capturing %1 (+%2) frame(s)").arg(8 + n).arg(n));
    s_.Command(kCmdCaptureToggle);
    QVERIFY(!s_.Checked(kCmdCaptureToggle));
    QCOMPARE(sg.Capture().bCapture.load(), 0);

    // A folder that goes away ends the run, and the status bar says why and where.
    const QString gone = s_.dir + QStringLiteral("/gone");
    QVERIFY(QDir().mkdir(gone));
    QCOMPARE(sg.SetWorkDir(gone.toLocal8Bit().constData()), 1);
    QVERIFY(QDir().rmdir(gone));
    s_.Command(kCmdCaptureToggle);
    s_.Command(kCmdPlay);
    QTRY_VERIFY_WITH_TIMEOUT(s_.Status().startsWith(QStringLiteral("Capture stopped after 0 frame(s): No such file")),
                             15000);
    QVERIFY(s_.Status().contains(gone));
    QVERIFY(!s_.Checked(kCmdCaptureToggle));
    s_.Command(kCmdStop);
    QCOMPARE(sg.SetWorkDir(s_.dir.toLocal8Bit().constData()), 1);
  }

  void reportsAndHelp() {
    MainWindow& w = *s_.window;
    w.ReportWarning("disk nearly full");
    QCOMPARE(boxes_.captions.value(0), QStringLiteral("Warning..."));
    QCOMPARE(s_.Status(), QStringLiteral("disk nearly full"));
    w.ReportError("device not init... skip");
    QCOMPARE(boxes_.captions.size(), kDebugBuild ? 2 : 1);
    if (kDebugBuild) QCOMPARE(boxes_.captions.value(1), QStringLiteral("Error [DEBUG]"));
    // A device item without a device behind it.
    s_.Command(kCmdDeviceFirst);
    QCOMPARE(s_.Status(), QStringLiteral("device not init... skip"));
    // A status text is cut to 99 characters.
    w.SetStatusText(std::string(150, 'x').c_str());
    QCOMPARE(s_.Status().size(), 99);
    // One line, whatever the report's text.
    w.SetStatusText("Sorry, no camera.\r\n\r\nVideo capture will not work.");
    QCOMPARE(s_.Status(), QStringLiteral("Sorry, no camera. Video capture will not work."));

    QList<QUrl> opened;
    MainWindow::SetUrlHook([&](const QUrl& u) {
      opened << u;
      return true;
    });
    s_.Command(kCmdSendMail);
    s_.Command(kCmdWebProduct);
    s_.Command(kCmdWebMaker);
    MainWindow::SetUrlHook({});
    QCOMPARE(opened.size(), 3);
    QCOMPARE(opened[0].scheme(), QStringLiteral("mailto"));
    QCOMPARE(QUrlQuery(opened[0]).queryItemValue(QStringLiteral("subject")), QStringLiteral("nocta"));
    QCOMPARE(opened[1].scheme(), QStringLiteral("https"));

    QString about;
    MainWindow::SetDialogHook([&](QDialog* d) {
      for (QLabel* l : d->findChildren<QLabel*>()) about += l->text() + QLatin1Char('\n');
    });
    s_.Command(kCmdAbout);
    MainWindow::SetDialogHook({});
    QVERIFY(about.contains(QStringLiteral("Ulmora")));
    QVERIFY(about.contains(QStringLiteral("v. 1.0")));
  }

  // Help > Content shows the page in the program's own window, whatever the desktop can launch.
  void helpContentShowsThePage() {
    MainWindow& w = *s_.window;
    const QString page = s_.dir + QStringLiteral("/nocta.html");
    auto writePage = [&](const char* body) {
      QFile f(page);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(QByteArray("<html><head><title>Marker help</title></head><body><p>") + body + "</p></body></html>");
    };
    QFile::remove(page);
    s_.Command(kCmdContent);
    QVERIFY(!w.Help() || !w.Help()->isVisible());
    QVERIFY(boxes_.texts.value(0).startsWith(QStringLiteral("Help file")));

    writePage("Sum the frames first.");
    QList<QUrl> launched;
    MainWindow::SetUrlHook([&](const QUrl& u) {
      launched << u;
      return false;
    });
    QAction* content = nullptr;
    for (QAction* a : w.Popup(kPopupHelp)->actions())
      if (a->text() == QStringLiteral("Content")) content = a;
    QVERIFY(content);
    content->trigger();
    MainWindow::SetUrlHook({});
    QVERIFY(launched.isEmpty());
    HelpWindow* help = w.Help();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QVERIFY(help->isWindow());
    QCOMPARE(help->source(), QUrl::fromLocalFile(page));
    QCOMPARE(help->windowTitle(), QStringLiteral("Marker help"));
    QVERIFY(help->toPlainText().contains(QStringLiteral("Sum the frames first.")));

    // Closed and asked again: the same window comes back with the page as it is now.
    help->close();
    writePage("Then amplify.");
    s_.Command(kCmdContent);
    QCOMPARE(w.Help(), help);
    QVERIFY(help->isVisible());
    QVERIFY(help->toPlainText().contains(QStringLiteral("Then amplify.")));
    QVERIFY(!help->toPlainText().contains(QStringLiteral("Sum the frames first.")));
  }

  // The page the build puts beside the program is the one the window shows, and it reads as a page.
  void helpPageOfTheBuildReads() {
    const QString page = QFileInfo(QStringLiteral(ULMORA_EXE)).absolutePath() + QStringLiteral("/nocta.html");
    QVERIFY(QFileInfo::exists(page));
    HelpWindow help(nullptr);
    QVERIFY(help.ShowPage(page));
    QVERIFY(help.windowTitle().startsWith(QStringLiteral("Ulmora")));
    const QString text = help.toPlainText();
    QVERIFY(text.contains(QStringLiteral("First night")));
  }

  void postedMessagesAreCoalesced() {
    MainWindow& w = *s_.window;
    VideoWindow* proc = w.ProcWindow();
    QCoreApplication::processEvents();
    const uint64_t before = proc->RepaintsQueued();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 20000; ++i) {
          proc->PostMsg(kMsgRepaint);
          w.PostMsg(kMsgCaptureProgress);
        }
      });
    for (auto& t : threads) t.join();
    QCOMPARE(proc->RepaintsQueued() - before, uint64_t(1));
    QVERIFY(proc->RepaintPending());
    QCoreApplication::processEvents();
    QVERIFY(!proc->RepaintPending());
    QCOMPARE(s_.Status(), QStringLiteral("Capturing in progress +0"));
    proc->PostMsg(kMsgRepaint);
    QCOMPARE(proc->RepaintsQueued() - before, uint64_t(2));
  }

  void closingLiveClosesTheProgram() {
    s_.Command(kCmdPlay);
    QVERIFY(s_.file->HasGraph());
    s_.window->LiveWindow()->close();
    QVERIFY(s_.window->IsClosed());
    QVERIFY(!s_.window->isVisible());
    QVERIFY(!s_.window->ProcWindow()->isVisible());
    QVERIFY(!s_.file->HasGraph());
  }

  void exitCommand() {
    s_.Command(kCmdExit);
    QVERIFY(s_.window->IsClosed());
  }
};

// ---------------------------------------------------------------------------------------------------
class StartupTest : public QObject {
  Q_OBJECT
 private slots:
  void unplayableFileFallsBackToLive() {
    const QString dir = MakeTempDir("bad");
    BoxLog boxes;
    boxes.Install();
    Session s;
    QFile bad(dir + QStringLiteral("/bad.avi"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("RIFF....AVI garbage");
    bad.close();
    QVERIFY(s.Open(bad.fileName(), dir));
    QVERIFY(boxes.texts.contains(QStringLiteral("Can`t play video file...")));
    QCOMPARE(s.window->ActiveGraph(), s.live.get());
    QVERIFY(s.window->IsLiveMode());
    s.Close();
    MainWindow::SetBoxHook({});
    RemoveTempDir(dir);
  }

  // Only the active object writes its keys: the other one's values never reach the file.
  void shutdownWritesOnlyTheActiveObjectsKeys() {
    const QString dir = MakeTempDir("keys");
    const QString clip = MakeClip(dir, QStringLiteral("-W 64 -H 48 -n 10"));
    QVERIFY(!clip.isEmpty());
    for (bool withFile : {true, false}) {
      Session s;
      QVERIFY(s.Open(withFile ? clip : QString(), dir));
      CGraphObject* active = withFile ? s.file.get() : s.live.get();
      CGraphObject* other = withFile ? s.live.get() : s.file.get();
      QCOMPARE(s.window->ActiveGraph(), active);
      active->Session().Processor().SetAmp(33);
      other->Session().Processor().SetAmp(77);
      other->Session().Processor().SetCountAccum(99);
      s.Close();
      QCOMPARE(ProfileGetInt(kSectionNocta, "ProcAmp", -1), 33);
      QVERIFY(ProfileGetInt(kSectionNocta, "ProcCountAccum", -1) != 99);
      QFile::remove(dir + QStringLiteral("/profile.ini"));
    }
    RemoveTempDir(dir);
  }

  void placement() {
    // A work area 400 pixels wide puts the main window at x = 0.
    QCOMPARE(PlaceMainWindow(QRect(0, 0, 400, 300)), QPoint(0, 40));
    QCOMPARE(PlaceMainWindow(QRect(0, 0, 1920, 1040)), QPoint(750, 780));
    QCOMPARE(PlaceMainWindow(QRect(0, 0, 1920, 200)), QPoint(750, 0));
    // The work area's own corner is kept (a top panel, a second screen).
    QCOMPARE(PlaceMainWindow(QRect(1920, 32, 1920, 1048)), QPoint(1920 + 750, 32 + 788));
    VideoPlacement v = PlaceVideoWindows(QRect(0, 0, 1920, 1040));
    QCOMPARE(v.live, QRect(637, 50, 320, 240));
    QCOMPARE(v.proc, QRect(963, 50, 320, 240));
    v = PlaceVideoWindows(QRect(0, 0, 500, 250));
    QCOMPARE(v.live.topLeft(), QPoint(0, 10));
    QCOMPARE(v.proc.topLeft(), QPoint(326, 10));
    QCOMPARE(PlaceVideoWindows(QRect(0, 0, 500, 100)).live.topLeft(), QPoint(0, 0));
    QCOMPARE(EffectiveWorkArea(QRect(0, 0, 50, 50), QRect()), QRect(0, 0, 100, 80));
    QCOMPARE(EffectiveWorkArea(QRect(0, 0, 1024, 768), QRect(0, 0, 2000, 700)), QRect(0, 0, 1024, 700));
  }

  void commandLine() {
    const QString longName(300, QLatin1Char('a'));
    CommandLine cl = ParseCommandLine({QStringLiteral("ulmora"), longName});
    QCOMPARE(cl.file, longName.left(259));
    QVERIFY(!cl.simCamera);
    cl = ParseCommandLine({QStringLiteral("ulmora")});
    QVERIFY(cl.file.isEmpty());
    QVERIFY(cl.error.isEmpty());
    cl = ParseCommandLine({QStringLiteral("ulmora"), QStringLiteral("--sim-camera=size=640x480"), QStringLiteral("x.avi")});
    QVERIFY(cl.simCamera);
    QCOMPARE(cl.simSpec, QStringLiteral("size=640x480"));
    QCOMPARE(cl.file, QStringLiteral("x.avi"));
    cl = ParseCommandLine({QStringLiteral("ulmora"), QStringLiteral("--sim-camera")});
    QVERIFY(cl.simCamera && cl.simSpec.isEmpty());
    cl = ParseCommandLine({QStringLiteral("ulmora"), QStringLiteral("--bogus")});
    QVERIFY(!cl.error.isEmpty());
    // Qt's options pass, with their values; a value is never taken for the file.
    cl = ParseCommandLine({QStringLiteral("ulmora"), QStringLiteral("-platform"), QStringLiteral("xcb"),
                           QStringLiteral("--style=fusion"), QStringLiteral("-reverse"), QStringLiteral("x.avi")});
    QVERIFY(cl.error.isEmpty());
    QCOMPARE(cl.file, QStringLiteral("x.avi"));
    QVERIFY(!ParseCommandLine({QStringLiteral("ulmora"), QStringLiteral("-platform")}).error.isEmpty());
    cl = ParseCommandLine({QStringLiteral("ulmora"), QStringLiteral("--"), QStringLiteral("--help")});
    QVERIFY(!cl.help && cl.error.isEmpty());
    QCOMPARE(cl.file, QStringLiteral("--help"));
  }

  // --help, --version and a wrong option are answered without a display, which the program would
  // otherwise need (it aborts in the platform plugin).
  void helpAndVersionNeedNoDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(QLatin1String(name));
    const auto run = [&env](const QStringList& args, int status) {
      QProcess p;
      p.setProcessEnvironment(env);
      p.start(QStringLiteral(ULMORA_EXE), args);
      if (!p.waitForFinished(10000)) p.kill();
      if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != status) {
        qWarning() << args << "ended with" << p.exitCode() << p.readAllStandardError();
        return std::pair<QByteArray, QByteArray>{"(failed)", "(failed)"};
      }
      return std::pair<QByteArray, QByteArray>{p.readAllStandardOutput(), p.readAllStandardError()};
    };
    auto [out, err] = run({QStringLiteral("--help")}, 0);
    QVERIFY(out.startsWith("usage: ulmora [--sim-camera[=SPEC]] [--play] [--status-file PATH] [FILE]\n"));
    QVERIFY(out.contains("--version"));
    QVERIFY(err.isEmpty());
    std::tie(out, err) = run({QStringLiteral("--version")}, 0);
    QCOMPARE(out, QByteArray("ulmora 1.0\n"));
    std::tie(out, err) = run({QStringLiteral("--play"), QStringLiteral("--bogus")}, 2);
    QVERIFY(out.isEmpty());
    QVERIFY(err.startsWith("ulmora: unknown option '--bogus'\nusage: ulmora"));
    std::tie(out, err) = run({QStringLiteral("--status-file"), QStringLiteral("/nonexistent-folder/s.json")}, 2);
    QVERIFY2(err.contains("/nonexistent-folder does not exist"), err.constData());
  }

  // --status-file: the running program keeps the camera's status in a JSON file a monitor can read.
  void statusFileOfTheRunningProgram() {
    const QString dir = MakeTempDir("status");
    QVERIFY(chmod(dir.toLocal8Bit().constData(), 0700) == 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ULMORA_PROFILE"), dir + QStringLiteral("/profile.ini"));
    env.remove(QStringLiteral("QT_QPA_PLATFORMTHEME"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    const QString status = dir + QStringLiteral("/status.json");
    p.start(QStringLiteral(ULMORA_EXE), {QStringLiteral("--sim-camera=320x240@15"), QStringLiteral("--play"),
                                         QStringLiteral("--status-file"), status});
    QVERIFY(p.waitForStarted(5000));
    const auto read = [&status] {
      QFile f(status);
      return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    };
    QTRY_VERIFY_WITH_TIMEOUT(read().value(QStringLiteral("frames_in")).toDouble() > 10, 15000);
    const QJsonObject doc = read();
    QCOMPARE(doc.value(QStringLiteral("state")).toString(), QStringLiteral("recording"));
    QCOMPARE(doc.value(QStringLiteral("device")).toObject().value(QStringLiteral("id")).toString(),
             QStringLiteral("sim:0"));
    QVERIFY(doc.value(QStringLiteral("last_frame_utc")).toString().endsWith(QLatin1Char('Z')));
    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    RemoveTempDir(dir);
  }

  // A file opened while running takes over from the camera; one that cannot be played leaves the
  // live device in charge, as at start-up.
  void openFileWhileRunning() {
    const QString dir = MakeTempDir("open");
    const QString clip = MakeClip(dir, QStringLiteral("-W 64 -H 48 -n 10"));
    QVERIFY(!clip.isEmpty());
    BoxLog boxes;
    boxes.Install();
    Session s;
    QVERIFY(s.Open(QString(), dir));
    QCOMPARE(s.window->ActiveGraph(), s.live.get());
    QVERIFY(s.window->OpenFile(clip));
    QCOMPARE(s.window->ActiveGraph(), s.file.get());
    QVERIFY(!s.window->IsLiveMode());
    QVERIFY(s.file->HasGraph());
    QCOMPARE(s.window->StatusText(0), clip);
    QVERIFY(s.window->Action(kCmdPlay)->isEnabled());
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(!s.window->OpenFile(dir + QStringLiteral("/missing.avi")));
    // The debug configuration also shows each failed build step in an "Error [DEBUG]" box.
    QCOMPARE(boxes.texts.last(), QStringLiteral("Can`t play video file..."));
    if (!kDebugBuild) QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(s.window->ActiveGraph(), s.live.get());
    QVERIFY(s.window->IsLiveMode());
    // And again a good one, after the failed build.
    QVERIFY(s.window->OpenFile(clip));
    QCOMPARE(s.window->ActiveGraph(), s.file.get());
    s.Close();
    MainWindow::SetBoxHook({});
    RemoveTempDir(dir);
  }

  // A real second process finds the lock held and ends at once with 0; a lock left behind by a
  // finished holder is taken over.
  void singleInstance() {
    const QString runtime = MakeTempDir("rt");
    QVERIFY(chmod(runtime.toLocal8Bit().constData(), 0700) == 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ULMORA_PROFILE"), runtime + QStringLiteral("/profile.ini"));
    env.remove(QStringLiteral("QT_QPA_PLATFORMTHEME"));

    CSingleInstance first;
    QCOMPARE(first.Acquire(runtime.toStdString()), CSingleInstance::Result::kAcquired);
    QProcess second;
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(runtime);
    QElapsedTimer t;
    t.start();
    second.start(QStringLiteral(ULMORA_EXE), {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(t.elapsed() < 5000);
    // This holder takes no hand-over: the second start says so.
    QVERIFY(second.readAllStandardError().contains("could not be reached"));

    // Left behind: the file stays, the lock does not.
    first.Release();
    QVERIFY(QFile::exists(runtime + QStringLiteral("/ZERAN Teskor")));
    QProcess owner;
    owner.setProcessEnvironment(env);
    owner.setWorkingDirectory(runtime);
    owner.start(QStringLiteral(ULMORA_EXE), {});
    QVERIFY(owner.waitForStarted(5000));
    QTest::qWait(1500);
    QCOMPARE(owner.state(), QProcess::Running);
    CSingleInstance third;
    QCOMPARE(third.Acquire(runtime.toStdString()), CSingleInstance::Result::kHeldElsewhere);
    owner.kill();
    owner.waitForFinished(5000);
    QCOMPARE(third.Acquire(runtime.toStdString()), CSingleInstance::Result::kAcquired);
    RemoveTempDir(runtime);
  }

  // A second start brings its file to the running program, which opens it; requests that make no
  // sense are dropped without harm; the socket file a killed run left behind is no obstacle.
  void secondStartHandsOverItsFile() {
    const QString dir = MakeTempDir("handover");
    QVERIFY(chmod(dir.toLocal8Bit().constData(), 0700) == 0);
    const QString clip = MakeClip(dir, QStringLiteral("-W 64 -H 48 -n 10"));
    QVERIFY(!clip.isEmpty());
    // A private copy of the program, so its log (beside it) is this test's alone.
    QVERIFY(QDir(dir).mkdir(QStringLiteral("bin")));
    const QString exe = dir + QStringLiteral("/bin/ulmora");
    QVERIFY(QFile::copy(QStringLiteral(ULMORA_EXE), exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ULMORA_PROFILE"), dir + QStringLiteral("/profile.ini"));
    env.remove(QStringLiteral("QT_QPA_PLATFORMTHEME"));
    const QString socketPath = dir + QStringLiteral("/ZERAN Teskor.socket");
    QFile stale(socketPath);  // what a killed run leaves in its place
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();

    QProcess first;
    first.setProcessEnvironment(env);
    first.setWorkingDirectory(dir);
    // The simulated camera spares the first start the "no hardware" box.
    first.start(exe, {QStringLiteral("--sim-camera")});
    QVERIFY(first.waitForStarted(5000));

    QLocalSocket junk;
    QElapsedTimer t;
    t.start();
    for (;;) {
      junk.connectToServer(socketPath);
      if (junk.waitForConnected(200) || t.elapsed() > 10000) break;
      QTest::qWait(100);
    }
    QCOMPARE(junk.state(), QLocalSocket::ConnectedState);
    junk.write(QByteArray(10000, 'x'));
    junk.waitForBytesWritten(2000);
    QVERIFY(junk.waitForDisconnected(8000));
    QCOMPARE(junk.readAll(), QByteArray());

    QProcess second;
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(dir);
    second.start(exe, {QStringLiteral("clip.avi")});  // relative to the second start's directory
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();  // SIGTERM: a normal close, so the log is complete
    QVERIFY(first.waitForFinished(15000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(!QFile::exists(socketPath));
    QFile log(dir + QStringLiteral("/bin/nocta.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY2(text.contains("second start: opened " + QFile::encodeName(clip) + "\n"), text.constData());
    QVERIFY(text.contains("second start: request refused"));
    RemoveTempDir(dir);
  }
};

// ---------------------------------------------------------------------------------------------------
class VideoWindowTest : public QObject {
  Q_OBJECT
 private:
  // A 160 x 120 frame: grey 200 in the top half, grey 60 below.
  static void FillFrame(CDibFrame& f) {
    QVERIFY(f.AllocFrame(160, 120));
    f.SetFlipV(false);
    for (int y = 0; y < 120; ++y) std::memset(f.img.bits + y * f.img.stride, y < 60 ? 200 : 60, 160 * 3);
    QVERIFY(f.shown.Publish(f.img, true));  // as the frame path hands it over
  }
  static int Grey(const QImage& img, int x, int y) { return qGray(img.pixel(x, y)); }

 private slots:
  void fitAndBands() {
    CDibFrame frame;
    FillFrame(frame);
    VideoWindow w(QStringLiteral("Processing"));
    w.SetFrameSource([&] { return FrameView{&frame, true}; });
    w.resize(400, 120);
    frame.AttachWindow(&w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QImage img = w.grab().toImage();
    QCOMPARE(img.size(), QSize(400, 120));
    // Wider than the picture: equal bands left and right.
    QCOMPARE(Grey(img, 119, 10), 0);
    QCOMPARE(Grey(img, 120, 10), 200);
    QCOMPARE(Grey(img, 279, 10), 200);
    QCOMPARE(Grey(img, 280, 10), 0);
    QCOMPARE(Grey(img, 200, 100), 60);  // upright: the first row in memory is at the top

    // Taller: bands above and below; resizing re-fits at once.
    w.resize(160, 300);
    img = w.grab().toImage();
    QCOMPARE(Grey(img, 80, 89), 0);
    QCOMPARE(Grey(img, 80, 90), 200);
    QCOMPARE(Grey(img, 80, 209), 60);
    QCOMPARE(Grey(img, 80, 210), 0);

    // Same aspect ratio: no bands; the flip turns the picture over.
    w.resize(320, 240);
    frame.SetFlipV(true);
    img = w.grab().toImage();
    QCOMPARE(Grey(img, 0, 0), 60);
    QCOMPARE(Grey(img, 319, 239), 200);
    frame.SetFlipV(false);
    // Smooth scaling gives the same picture away from the edge between the halves.
    w.SetSmooth(true);
    QCOMPARE(frame.nStretchMode, int(kStretchHalftone));
    img = w.grab().toImage();
    QCOMPARE(Grey(img, 10, 10), 200);
    QCOMPARE(Grey(img, 10, 230), 60);
    frame.DetachWindow();
  }

  // Colour frames keep their byte order; smooth scaling interpolates between neighbours.
  void colourAndSmoothScaling() {
    CDibFrame frame;
    QVERIFY(frame.AllocFrame(2, 2));
    frame.SetFlipV(false);
    for (int y = 0; y < 2; ++y) {
      uint8_t* row = frame.img.bits + y * frame.img.stride;
      const uint8_t px[6] = {10, 20, 30, 250, 240, 230};  // B, G, R of two pixels
      std::memcpy(row, px, 6);
    }
    CFrameScaler scaler;
    uint32_t out[8] = {};
    scaler.Scale(frame.img, false, false, false, out, 4, 2, 16);
    QCOMPARE(out[0], 0xFF1E140Au);
    QCOMPARE(out[3], 0xFFE6F0FAu);
    scaler.Scale(frame.img, true, false, true, out, 4, 2, 16);
    // Centres at 0.25 and 0.75 of the first pixel's width: 1/4 and 3/4 of the way between 10 and 250.
    QCOMPARE(out[0], 0xFF0A0A0Au);
    QCOMPARE(qBlue(out[1]), 70);
    QCOMPARE(qBlue(out[2]), 190);
    QCOMPARE(out[3], 0xFFFAFAFAu);
    // Shown twice as tall, each source row fills two rows, upright or flipped.
    frame.img.bits[frame.img.stride] = 99;
    uint32_t tall[16] = {};
    for (bool flip : {false, true}) {
      scaler.Scale(frame.img, true, flip, false, tall, 4, 4, 16);
      const int top = flip ? 99 : 10, bottom = flip ? 10 : 99;
      QCOMPARE(qBlue(tall[0]), top);
      QCOMPARE(qBlue(tall[4]), top);
      QCOMPARE(qBlue(tall[8]), bottom);
      QCOMPARE(qBlue(tall[12]), bottom);
      QCOMPARE(tall[7], tall[3]);
    }
  }

  void blackWithoutGraph() {
    CDibFrame frame;
    FillFrame(frame);
    VideoWindow w(QStringLiteral("Live"));
    w.SetFrameSource([&] { return FrameView{&frame, false}; });
    w.resize(100, 100);
    const QImage img = w.grab().toImage();
    QCOMPARE(Grey(img, 50, 50), 0);
  }

  void sizeLimitsAndDrag() {
    VideoWindow w(QStringLiteral("Live"));
    w.setGeometry(100, 100, 320, 240);
    w.setEnabled(true);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(10, 10);
    QCOMPARE(w.size(), QSize(50, 50));
    w.resize(5000, 5000);
    QCOMPARE(w.size(), QSize(1300, 1200));
    w.setGeometry(100, 100, 320, 240);
    // The right button drags the window like a title bar (by hand where the platform cannot).
    const QPoint inside(160, 120);
    const QPoint g0 = w.mapToGlobal(inside);
    QMouseEvent press(QEvent::MouseButtonPress, inside, g0, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    const QPoint g1 = g0 + QPoint(30, 40);
    QMouseEvent move(QEvent::MouseMove, w.mapFromGlobal(g1), g1, Qt::NoButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, w.mapFromGlobal(g1), g1, Qt::RightButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&w, &release);
    QCOMPARE(w.pos(), QPoint(130, 140));
    QCOMPARE(w.size(), QSize(320, 240));
    // The left button on the edge resizes, within the limits.
    const QPoint edge(319, 120);
    const QPoint e0 = w.mapToGlobal(edge);
    QMouseEvent p2(QEvent::MouseButtonPress, edge, e0, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &p2);
    const QPoint e1 = e0 - QPoint(400, 0);
    QMouseEvent m2(QEvent::MouseMove, w.mapFromGlobal(e1), e1, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &m2);
    QCOMPARE(w.size(), QSize(50, 240));
    QCOMPARE(w.pos(), QPoint(130, 140));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments();
  // First argument may name one test class; the rest goes to QTest.
  QString only;
  if (args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))) only = args.takeAt(1);
  int failed = 0;
  MainWindowTest t1;
  StartupTest t2;
  VideoWindowTest t3;
  for (QObject* t : std::initializer_list<QObject*>{&t1, &t2, &t3}) {
    if (!only.isEmpty() && only != QLatin1String(t->metaObject()->className())) continue;
    failed += QTest::qExec(t, args);
  }
  return failed ? 1 : 0;
}

#include "gui_test.moc"
