#include "gui/command_line.h"

#include <array>

namespace ulmora {
namespace {

// Qt's options (QGuiApplication and QApplication), which QApplication takes out itself; those in the
// first list take the next argument as their value. Qt accepts them with one dash or two.
constexpr std::array<const char*, 12> kQtWithValue = {"style", "stylesheet", "platform", "platformpluginpath",
                                                      "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
                                                      "qwindowtitle", "session", "display", "geometry"};
constexpr std::array<const char*, 4> kQtFlags = {"reverse", "widgetcount", "nograb", "dograb"};
constexpr std::array<const char*, 5> kQtJoined = {"style=", "stylesheet=", "qmljsdebugger=", "dialogs=",
                                                  "fontengine="};

enum class QtOption { kNone, kFlag, kWithValue };

QtOption QtOptionKind(const QString& arg) {
  const QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
  for (const char* o : kQtWithValue)
    if (name == QLatin1String(o)) return QtOption::kWithValue;
  for (const char* o : kQtFlags)
    if (name == QLatin1String(o)) return QtOption::kFlag;
  for (const char* o : kQtJoined)
    if (name.startsWith(QLatin1String(o))) return QtOption::kFlag;
  return QtOption::kNone;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args) {
  CommandLine cl;
  bool onlyFiles = false;
  for (int i = 1; i < args.size() && cl.error.isEmpty(); ++i) {
    const QString& a = args[i];
    const bool option = !onlyFiles && a.startsWith(QLatin1Char('-')) && a.size() > 1;
    if (!option) {
      if (cl.file.isEmpty())
        cl.file = a.left(kMaxCommandLineFile);
      else
        cl.error = QStringLiteral("more than one file named: '%1'").arg(a);
    } else if (a == QLatin1String("--")) {
      onlyFiles = true;
    } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      cl.help = true;
    } else if (a == QLatin1String("--version")) {
      cl.version = true;
    } else if (a == QLatin1String("--play")) {
      cl.play = true;
    } else if (a == QLatin1String("--sim-camera")) {
      cl.simCamera = true;
    } else if (a.startsWith(QLatin1String("--sim-camera="))) {
      cl.simCamera = true;
      cl.simSpec = a.mid(13);
    } else if (a == QLatin1String("--status-file")) {
      if (++i >= args.size() || args[i].isEmpty()) cl.error = QStringLiteral("option '%1' needs a value").arg(a);
      else cl.statusFile = args[i];
    } else if (a.startsWith(QLatin1String("--status-file="))) {
      cl.statusFile = a.mid(14);
      if (cl.statusFile.isEmpty()) cl.error = QStringLiteral("option '--status-file' needs a value");
    } else if (const QtOption kind = QtOptionKind(a); kind == QtOption::kWithValue) {
      if (++i >= args.size()) cl.error = QStringLiteral("option '%1' needs a value").arg(a);
    } else if (kind == QtOption::kNone) {
      cl.error = QStringLiteral("unknown option '%1'").arg(a);
    }
  }
  return cl;
}

QString UsageText() {
  return QStringLiteral(
      "usage: ulmora [--sim-camera[=SPEC]] [--play] [--status-file PATH] [FILE]\n"
      "\n"
      "Watches and improves the picture of a low-light camera, or plays FILE (a video file) through the\n"
      "same processing. A second start hands FILE to the program already running and brings it to the front.\n"
      "\n"
      "  --sim-camera[=SPEC]  add the simulated low-light camera to the Sources menu; SPEC is\n"
      "                       WxH@FPS,formats=a|b,inputs=N,controls,count=N,unplug-after=S,\n"
      "                       replug-after=T,plug-after=S,busy,analog,links,latency=MS,flaky,\n"
      "                       freeze-after=S,unfreeze-after=T,drop-every=N\n"
      "                       (every item optional)\n"
      "  --play               start playing at once\n"
      "  --status-file PATH   rewrite the camera's status as a JSON document at PATH once a second\n"
      "  --help               show this text and end\n"
      "  --version            show the version and end\n"
      "  --                   what follows is a file name, even when it starts with '-'\n"
      "\n"
      "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n");
}

QString VersionText() { return QStringLiteral("ulmora " ULMORA_VERSION); }

}  // namespace ulmora
