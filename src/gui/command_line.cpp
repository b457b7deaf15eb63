#include "gui/command_line.h"

namespace ulmora {

CommandLine ParseCommandLine(const QStringList& args) {
  CommandLine cl;
  bool onlyFiles = false;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (!onlyFiles && a == QLatin1String("--")) {
      onlyFiles = true;
    } else if (!onlyFiles && a == QLatin1String("--play")) {
      cl.play = true;
    } else if (!onlyFiles && a == QLatin1String("--sim-camera")) {
      cl.simCamera = true;
    } else if (!onlyFiles && a.startsWith(QLatin1String("--sim-camera="))) {
      cl.simCamera = true;
      cl.simSpec = a.mid(13);
    } else if (!onlyFiles && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
      cl.error = QStringLiteral("unknown option '%1'").arg(a);
    } else if (cl.file.isEmpty()) {
      cl.file = a.left(kMaxCommandLineFile);
    } else {
      cl.error = QStringLiteral("more than one file named: '%1'").arg(a);
    }
  }
  return cl;
}

}  // namespace ulmora
