// What the Record command records and where: the [nocta] keys RecWorkDir, RecFormat, RecWhat,
// RecSegment and RecKeepFree, read at start and written at a normal exit.
#pragma once

#include <QString>

#include <cstdint>

namespace ulmora {

struct RecordingSettings {
  QString workDir;                             // empty: the capture folder
  QString format = QStringLiteral("ser");      // "ser", "fits" or "mkv"
  QString what = QStringLiteral("processed");  // "processed", "raw" or "sum"
  uint32_t segmentS = 300;                     // video only; 0: one file
  uint32_t keepFreeMb = 512;                   // at least; more when a few seconds of frames need more

  // From the profile; a value that names nothing is logged and replaced by its default.
  static RecordingSettings Load();
  void Save() const;
  // The whole file name's extension for the format, and its name in the dialog.
  static const char* const kFormats[3];
  static const char* const kWhats[3];
};

}  // namespace ulmora
