#include "gui/record_command.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/log.h"
#include "graph/graph_object.h"
#include "gui/main_window.h"
#include "gui/recording_dialog.h"
#include "gui/screen_fit.h"
#include "pipeline/sg.h"
#include "recording/record_sink.h"

namespace ulmora {

namespace {

constexpr int kPollMs = 500;
constexpr double kGuardSeconds = 5.0;  // the disk guard keeps at least this much of the stream free

RecordCommand::DialogHook& HookRef() {
  static RecordCommand::DialogHook hook;
  return hook;
}

RecordWhat WhatOf(const QString& what) {
  if (what == QLatin1String("raw")) return RecordWhat::kRaw;
  if (what == QLatin1String("sum")) return RecordWhat::kSum;
  return RecordWhat::kProcessed;
}

QString Size(uint64_t bytes) {
  if (bytes >= (uint64_t{1} << 30)) return QStringLiteral("%1 GB").arg(double(bytes) / (1 << 30), 0, 'f', 2);
  return QStringLiteral("%1 MB").arg(double(bytes) / (1 << 20), 0, 'f', 1);
}

QString Elapsed(double seconds) {
  const qint64 s = static_cast<qint64>(seconds);
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600)
      .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

void RecordCommand::SetDialogHook(DialogHook hook) { HookRef() = std::move(hook); }

RecordCommand::RecordCommand(MainWindow* window)
    : QObject(window), window_(window), settings_(RecordingSettings::Load()) {
  timer_.setInterval(kPollMs);
  connect(&timer_, &QTimer::timeout, this, &RecordCommand::Poll);
}

RecordCommand::~RecordCommand() {
  if (session_) session_->StopRecording();
}

QString RecordCommand::FileStem(const QString& sourceName, const QDateTime& startUtc) {
  QString name;
  for (const QChar c : sourceName.trimmed()) {
    const bool plain =
        (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('.');
    if (plain)
      name += c;
    else if (!name.endsWith(QLatin1Char('_')))
      name += QLatin1Char('_');
  }
  while (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char('_'))) name.remove(0, 1);
  if (name.isEmpty()) name = QStringLiteral("recording");
  return name.left(64) + QLatin1Char('-') + startUtc.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
         QLatin1Char('Z');
}

QString RecordCommand::Folder(CSG* session) const {
  QString dir = settings_.workDir.isEmpty() && session ? QString::fromLocal8Bit(session->WorkDir()) : settings_.workDir;
  while (dir.size() > 1 && dir.endsWith(QLatin1Char('/'))) dir.chop(1);
  return dir;
}

void RecordCommand::Toggle() {
  const bool awaited = resumeGraph_ != nullptr;
  resumeGraph_ = nullptr;
  if (session_) {
    Stop(QString());
  } else if (awaited) {
    // Ctrl+R while a lost camera's recording waits for it: the wait ends, nothing starts.
    timer_.stop();
    window_->SetStatusText("Recording ended: it no longer waits for the camera");
  } else {
    Start();
  }
  window_->SetToolbarCheck(kCmdRecord, session_ != nullptr);
}

void RecordCommand::Start() {
  CGraphObject* graph = window_->ActiveGraph();
  CSG* session = window_->ActiveSession();
  if (!graph || !graph->HasGraph() || !session) {
    window_->ReportWarning("Nothing to record: open a video file or choose a camera first.");
    return;
  }
  const QString dir = Folder(session);
  const QFileInfo folder(dir);
  if (!folder.isDir() || !folder.isWritable()) {
    const QString text =
        QStringLiteral("Cannot record into %1: the folder %2. Choose another in Control > Recording...")
            .arg(dir, folder.exists() ? QStringLiteral("cannot be written") : QStringLiteral("does not exist"));
    window_->ReportWarning(text.toLocal8Bit().constData());
    return;
  }

  const bool video = settings_.format == QLatin1String("mkv");
  QString stem =
      dir + QLatin1Char('/') + FileStem(QString::fromLocal8Bit(session->SourceName()), QDateTime::currentDateTimeUtc());
  const QString ext = QLatin1Char('.') + settings_.format;
  // Two starts within a second: the second gets its own name.
  const QString base = stem;
  for (int n = 2; QFileInfo::exists(stem + ext) || QFileInfo::exists(stem + QStringLiteral("-00000") + ext) ||
                  QFileInfo::exists(stem + QStringLiteral("-000001") + ext);
       ++n)
    stem = base + QLatin1Char('-') + QString::number(n);

  RecordOptions options;
  options.path = (stem + ext).toLocal8Bit().toStdString();
  options.what = WhatOf(settings_.what);
  options.segmentSeconds = video ? settings_.segmentS : 0.0;
  // At least a few seconds of the stream, so the guard stops the recording before the disk is full.
  const VideoFormat& f = session->Format();
  const double bytesPerPixel = options.what == RecordWhat::kSum ? 2.0 : 1.0;
  const double streamBytes = double(f.nVideoWidth) * std::abs(f.nVideoHeight) * bytesPerPixel * f.dFrameRate.load();
  options.keepFreeBytes = uint64_t{settings_.keepFreeMb} * 1024 * 1024 + uint64_t(streamBytes * kGuardSeconds);

  std::string error;
  const int err = session->StartRecording({options}, error);
  if (err != 0) {
    const QString text = QStringLiteral("Cannot record: %1").arg(QString::fromLocal8Bit(error.c_str()));
    window_->ReportWarning(text.toLocal8Bit().constData());
    return;
  }
  session_ = session;
  graph_ = graph;
  sawRunning_ = false;
  path_ = QString::fromLocal8Bit(options.path.c_str());
  sourceText_ = window_->StatusText(0);
  shown_.clear();
  LogPrintf("Record: %s", options.path.c_str());
  timer_.start();
  Poll();
}

void RecordCommand::Stop(const QString& cause) {
  if (!session_) return;
  timer_.stop();
  session_->StopRecording();
  const RecordingStatus s = session_->Recording();
  session_ = nullptr;
  graph_ = nullptr;
  window_->SetToolbarCheck(kCmdRecord, false);
  QString why = cause;
  if (s.endError != 0) why = QString::fromLocal8Bit(s.endCause.c_str());
  const QString summary = QStringLiteral("%1 frames, %2, %3 dropped")
                              .arg(s.frames)
                              .arg(Size(s.bytes))
                              .arg(s.drops.camera + s.drops.chain + s.drops.writer);
  if (!why.isEmpty()) {
    const QString text = QStringLiteral("Recording stopped (%1): %2").arg(summary, why);
    window_->ReportWarning(text.toLocal8Bit().constData());
  } else {
    window_->SetStatusText(QStringLiteral("Recorded %1").arg(summary).toLocal8Bit().constData());
  }
  // The source's name comes back to its place.
  if (window_->StatusText(0) == shown_) window_->SetStatus(0, sourceText_.toLocal8Bit().constData());
  shown_.clear();
}

void RecordCommand::Poll() {
  if (!session_) return ResumeIfBack();
  const RecordingStatus s = session_->Recording();
  if (s.endError != 0) return Stop(QString());
  // A graph stop, the end of a file, an unplugged camera or another source made active: the file closes.
  // A recording started on a stopped graph waits for Play.
  if (graph_->HasGraph() && graph_->RunState() != kRunStopped) sawRunning_ = true;
  if (!graph_->HasGraph() || (sawRunning_ && graph_->RunState() == kRunStopped)) {
    CGraphObject* graph = graph_;
    const bool lost = deviceLost_ && deviceLost_();
    Stop(QString());
    if (!lost) return;
    // Nobody may be there to answer a box: the status bar and the log say it.
    LogPrintf("Record: the camera was lost; the file is closed and recording goes on when it is back");
    window_->SetStatusText("Recording waits for the camera to come back");
    resumeGraph_ = graph;
    timer_.start();
    window_->SetToolbarCheck(kCmdRecord, true);
    return;
  }
  if (window_->ActiveGraph() != graph_) return Stop(QStringLiteral("the source changed"));
  const uint64_t drops = s.drops.camera + s.drops.chain + s.drops.writer;
  Show(QStringLiteral("REC %1  %2 fr  %3  %4 dropped")
           .arg(Elapsed(s.elapsedS))
           .arg(s.frames)
           .arg(Size(s.bytes))
           .arg(drops));
}

void RecordCommand::ResumeIfBack() {
  CGraphObject* graph = resumeGraph_;
  if (!graph) return timer_.stop();
  if (deviceLost_ && deviceLost_()) return;
  // Back, but not running yet (the reconnect puts it in its earlier state): wait for it to run.
  if (!graph->HasGraph() || graph->RunState() != kRunRunning || window_->ActiveGraph() != graph) return;
  resumeGraph_ = nullptr;
  LogPrintf("Record: the camera is back; the recording goes on in a new file");
  Start();
  window_->SetToolbarCheck(kCmdRecord, session_ != nullptr);
  if (!session_) timer_.stop();
}

void RecordCommand::Show(const QString& text) {
  // Part 0 holds the source's name; someone who wrote there meanwhile gets it back at the end.
  const QString now = window_->StatusText(0);
  if (now != shown_) sourceText_ = now;
  window_->SetStatus(0, text.toLocal8Bit().constData());
  shown_ = window_->StatusText(0);
}

void RecordCommand::OpenDialog() {
  CSG* session = window_->ActiveSession();
  auto* dialog = new RecordingDialog(window_, settings_, session ? Folder(session) : QString());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QDialog::accepted, this, [this, dialog] { settings_ = dialog->Settings(); });
  if (HookRef()) return HookRef()(dialog);
  CentreDialog(dialog, window_);
  dialog->exec();
}

void RecordCommand::Finish() {
  resumeGraph_ = nullptr;
  if (session_) Stop(QString());
  settings_.Save();
}

}  // namespace ulmora
