// The Record command: starts and stops a recording of the active graph's session with the Recording
// settings, and shows how it goes in the status bar while it runs.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

#include "gui/recording_settings.h"

namespace ulmora {

class CGraphObject;
class CSG;
class MainWindow;
class RecordingDialog;

class RecordCommand : public QObject {
 public:
  explicit RecordCommand(MainWindow* window);
  ~RecordCommand() override;

  // Ctrl+R: starts a recording, or closes the one running.
  void Toggle();
  bool IsRecording() const { return session_ != nullptr; }
  // Control > Recording...: the settings dialog (modal; tests get it through the hook instead).
  void OpenDialog();
  using DialogHook = std::function<void(RecordingDialog* dialog)>;
  static void SetDialogHook(DialogHook hook);

  // Tells whether the live device is lost and awaited. A recording its loss closed goes on in a new file
  // when the device is back and its graph runs again.
  void SetDeviceLostProbe(std::function<bool()> lost) { deviceLost_ = std::move(lost); }

  // The window is closing: the recording is closed and the settings are written.
  void Finish();
  const RecordingSettings& Settings() const { return settings_; }
  // The path the running (or last) recording was asked to write.
  const QString& Path() const { return path_; }
  // Reads the recording's numbers now (the timer does this twice a second).
  void Poll();

  // STEM of a recording: the source's name made safe for a file name, then the UTC start time,
  // e.g. "HD_Webcam-20261209-181500Z".
  static QString FileStem(const QString& sourceName, const QDateTime& startUtc);

 private:
  void Start();
  void Stop(const QString& cause);
  void ResumeIfBack();
  void Show(const QString& text);
  QString Folder(CSG* session) const;

  MainWindow* window_;
  RecordingSettings settings_;
  CSG* session_ = nullptr;  // the recording session while recording
  CGraphObject* graph_ = nullptr;
  CGraphObject* resumeGraph_ = nullptr;  // a recording closed by a lost device waits for this graph
  std::function<bool()> deviceLost_;
  bool sawRunning_ = false;  // the graph ran since the start
  QString path_;
  QString shown_;       // what this command last put in status part 0
  QString sourceText_;  // what stood there before, given back when the recording ends
  QTimer timer_;
};

}  // namespace ulmora
