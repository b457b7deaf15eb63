// The program's own command line: `ulmora [--sim-camera[=SPEC]] [--play] [--status-file PATH] [FILE]`, plus --help, --version and
// Qt's own options, which are let through for QApplication. Read before QApplication exists, so that
// --help, --version and a mistyped option never need a display.
#pragma once

#include <QString>
#include <QStringList>

namespace ulmora {

// Longest video-file name kept from the command line.
constexpr int kMaxCommandLineFile = 259;

struct CommandLine {
  bool simCamera = false;
  bool play = false;     // --play: run the graph as soon as the window is up
  bool help = false;     // --help: print the usage and end
  bool version = false;  // --version: print the version and end
  QString simSpec;  // empty: the default simulated camera
  QString statusFile;  // --status-file PATH: the station status, rewritten once a second
  QString file;     // at most 259 characters
  QString error;    // not empty: the line could not be understood
};

// arguments: the program name first, as main's argv.
CommandLine ParseCommandLine(const QStringList& arguments);

// What --help prints; the first line is also printed after a refused command line.
QString UsageText();
// "ulmora 1.0", from the project's version.
QString VersionText();

}  // namespace ulmora
