// The program's own command line: `ulmora [--sim-camera[=SPEC]] [--play] [FILE]` (Qt's options are taken out
// by QApplication before this sees the arguments).
#pragma once

#include <QString>
#include <QStringList>

namespace ulmora {

// Longest video-file name kept from the command line.
constexpr int kMaxCommandLineFile = 259;

struct CommandLine {
  bool simCamera = false;
  bool play = false;  // --play: run the graph as soon as the window is up
  QString simSpec;  // empty: the default simulated camera
  QString file;     // at most 259 characters
  QString error;    // not empty: the line could not be understood
};

// arguments: as QCoreApplication::arguments(), the program name first.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace ulmora
