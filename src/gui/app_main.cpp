// ulmora: the desktop program. Start-up in a fixed order, the event loop, and the shutdown that saves
// the active source's settings.
#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "common/clib.h"
#include "common/cpu_report.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/report.h"
#include "common/run_log.h"
#include "devices/device_list.h"
#include "settings/profile.h"
#include "simcam/sim_camera.h"
#include "videorec/video_formats.h"
#include "graph/graph_object.h"
#include "graph/station_status.h"
#include "gui/sources_menu.h"
#include "gui/status_file_ticker.h"
#include "gui/command_line.h"
#include "gui/instance_handover.h"
#include "gui/main_window.h"
#include "gui/placement.h"
#include "gui/single_instance.h"
#include "gui/video_window.h"

namespace {

using namespace ulmora;

void ShowBox(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
  box.exec();
}

// The common library's boxes (assertions, the end-of-run notice) as Qt message boxes.
void LibraryBox(void*, const char* text, const char* caption, unsigned) {
  if (!QApplication::instance()) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "ulmora", text ? text : "");
    return;
  }
  QMessageBox box(QMessageBox::Warning, QString::fromLocal8Bit(caption ? caption : "Error"),
                  QString::fromLocal8Bit(text ? text : ""), QMessageBox::Ok);
  box.exec();
}

// SIGINT and SIGTERM close the main window as the user would, so the settings are saved; the handler
// only writes a byte, the GUI thread does the rest.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char b = 1;
  if (write(g_signalPipe[1], &b, 1) < 0) {
    // Nothing to do from a signal handler; the byte is best effort.
  }
}

void CloseOnSignals(QWidget* window) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  auto* n = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, window);
  QObject::connect(n, &QSocketNotifier::activated, window, [window, n] {
    char b = 0;
    if (read(g_signalPipe[0], &b, 1) < 0) return;
    n->setEnabled(false);
    window->close();
  });
  struct sigaction sa {};
  sa.sa_handler = &OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

QRect WorkArea() {
  QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return QRect(0, 0, 800, 600);
  return EffectiveWorkArea(s->geometry(), s->availableGeometry());
}

// A second start: the running program comes to the front and opens the file, and this one ends.
int HandOver(int argc, char** argv, const std::string& runtimeDir, const QString& file) {
  QCoreApplication core(argc, argv);  // for the socket; no display needed
  // The running program has another current directory.
  const QString absolute = file.isEmpty() ? QString() : QFileInfo(file).absoluteFilePath();
  QString why;
  if (HandOverToRunningInstance(runtimeDir, absolute, &why)) return 0;
  std::fprintf(stderr, "ulmora: already running, but the running program could not be reached (%s)%s\n",
               qPrintable(why), absolute.isEmpty() ? "" : qPrintable(QStringLiteral("; %1 was not opened").arg(absolute)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer sinceStart;
  sinceStart.start();
  // Read before anything else, so that --help, --version and a mistyped option need no display and
  // never reach a running program.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const CommandLine cl = ParseCommandLine(arguments);
  if (cl.help) {
    std::fputs(qPrintable(UsageText()), stdout);
    return 0;
  }
  if (cl.version) {
    std::printf("%s\n", qPrintable(VersionText()));
    return 0;
  }
  if (!cl.error.isEmpty()) {
    std::fprintf(stderr, "ulmora: %s\n%s\nTry 'ulmora --help' for more.\n", qPrintable(cl.error),
                 qPrintable(UsageText().section(QLatin1Char('\n'), 0, 0)));
    return 2;
  }

  std::string statusWhy;
  if (!cl.statusFile.isEmpty() && !CStatusFile::CheckPath(QFile::encodeName(cl.statusFile).toStdString(), &statusWhy)) {
    std::fprintf(stderr, "ulmora: cannot keep the status file '%s': %s\n", qPrintable(cl.statusFile),
                 statusWhy.c_str());
    return 2;
  }

  // A second start ends here, before any window or library is touched.
  const std::string runtimeDir = RuntimeDirectory();
  CSingleInstance instance;
  const CSingleInstance::Result lock = instance.Acquire(runtimeDir);
  if (lock == CSingleInstance::Result::kHeldElsewhere) return HandOver(argc, argv, runtimeDir, cl.file);

  char dirBuffer[kMaxPath] = {};
  QString programDir;
  if (GetProgramDirectory(dirBuffer, sizeof dirBuffer)) {
    programDir = QString::fromLocal8Bit(dirBuffer);
  } else {
    programDir = QDir::currentPath();
  }
  if (!programDir.isEmpty() && !programDir.endsWith(QLatin1Char('/'))) programDir += QLatin1Char('/');

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ulmora"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  QApplication::setDesktopFileName(QStringLiteral("ulmora"));
  // The main window's close ends the run, not the last window that happens to close.
  QApplication::setQuitOnLastWindowClosed(false);
  // Listening from the start keeps short the moment in which a second start finds nobody to hand over to;
  // requests wait until the window is up.
  InstanceServer handOver;
  const bool listening = lock == CSingleInstance::Result::kAcquired && handOver.Listen(runtimeDir);

  if (!InitMediaFramework()) {
    ShowBox(QStringLiteral("Could not initialize GStreamer library."), QString::fromLatin1(MainWindowTitle()));
    return 1;
  }
  SetAssertBoxEntry(&LibraryBox);
  SetNoticeBoxEntry(&LibraryBox);
  if (ClibInit(OpenLogFile) != 0) {
    ShowBox(QStringLiteral("Can`t init common lib..."), QStringLiteral("Error"));
    return 1;
  }
  if (lock == CSingleInstance::Result::kUnavailable)
    LogPrintf("single-instance lock not available (%s): running without it", instance.Error().c_str());
  if (lock == CSingleInstance::Result::kAcquired && !listening)
    LogPrintf("a second start cannot hand its file over: %s", qPrintable(handOver.Error()));
  ReportCpu();

  RegisterVideoRecordFormats();

  // The simulated camera, from the command line or ULMORA_SIM_CAMERA, joins the device list.
  std::string simError;
  const bool simOk = cl.simCamera ? EnableSimCamera(cl.simSpec.toUtf8().constData(), &simError)
                                  : EnableSimCameraFromEnv(&simError);
  if (!simOk) {
    const QString text = QStringLiteral("Simulated camera not available: %1").arg(QString::fromStdString(simError));
    LogPrintf("%s", qPrintable(text));
    ShowBox(text, QStringLiteral("Error"));
  }

  {
    // Declared first, so it outlives the graph objects, the window and its Sources popup that point at it.
    std::unique_ptr<CDeviceList> devices;
    std::unique_ptr<CGraphObject> fileGraph(new (std::nothrow) CGraphObject);
    std::unique_ptr<CGraphObject> liveGraph(fileGraph ? new (std::nothrow) CGraphObject : nullptr);
    if (!fileGraph || !liveGraph) {
      ShowBox(QStringLiteral("Can`t alloc memory for cap class..."), QStringLiteral("Error"));
    } else {
      const QRect wa = WorkArea();
      MainWindow window(fileGraph.get(), liveGraph.get(), programDir);
      window.move(PlaceMainWindow(wa));
      devices = std::make_unique<CDeviceList>(SourcesPopup::DeviceHooks(&window, liveGraph.get()));
      liveGraph->AttachDeviceList(devices.get());
      auto* sources = new SourcesPopup(&window, liveGraph.get(), devices.get());  // owned by the window
      std::unique_ptr<StatusFileTicker> statusFile;
      if (window.Create(cl.file, wa)) {
        if (!cl.statusFile.isEmpty())
          statusFile = std::make_unique<StatusFileTicker>(QFile::encodeName(cl.statusFile).toStdString(),
                                                          liveGraph.get(), &sources->Reconnect());
        window.ProcWindow()->SetOnFirstPicture([&sinceStart] {
          LogPrintf("first processed picture on screen %lld ms after start",
                    static_cast<long long>(sinceStart.elapsed()));
        });
        CloseOnSignals(&window);
        if (cl.play) window.OnCommand(kCmdPlay);
        handOver.SetHandler([&window](const QString& file) {
          window.BringToFront();
          if (file.isEmpty()) return LogPrintf("second start: window raised");
          const bool opened = window.OpenFile(file);
          LogPrintf("second start: %s %s", opened ? "opened" : "could not open", QFile::encodeName(file).constData());
        });
        QApplication::exec();
        handOver.Close();
      }
    }
    // The window went first; now the graph objects, file first: only the active one writes its keys.
    // The socket goes before the lock: the next owner's socket file must not be removed by this run.
    handOver.Close();
    instance.Release();
    fileGraph.reset();
    liveGraph.reset();
  }
  // Settings that could not be saved are said on screen, not only in the log: the next start would
  // otherwise quietly come up with the old ones.
  const std::string unsaved = ProfileWriteFailure();
  if (!unsaved.empty()) {
    LogPrintf("settings not saved: %s", unsaved.c_str());
    std::fprintf(stderr, "ulmora: your settings could not be saved: %s\n", unsaved.c_str());
    ShowBox(QStringLiteral("Your settings could not be saved:\n%1").arg(QString::fromStdString(unsaved)),
            QStringLiteral("Error"));
  }
  ClibShutdown();
  LogPrintf(nullptr);
  return unsaved.empty() ? 0 : 1;
}
