// The Record command and the Recording dialog in the main window, on Qt's offscreen platform, recording a
// generated clip into real files read back by a reader of their own.
#include <QtTest>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>

#include <memory>

#include "graph/graph_object.h"
#include "gui/main_window.h"
#include "gui/record_command.h"
#include "gui/recording_dialog.h"
#include "pipeline/sg.h"
#include "recording/tests/ser_read.h"
#include "settings/profile.h"
#include "videorec/video_formats.h"

using namespace ulmora;

namespace {

QString ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

}  // namespace

class RecordingTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir root_;
  QString clip_, recDir_;
  QStringList boxes_;
  std::unique_ptr<CGraphObject> file_, live_;
  std::unique_ptr<MainWindow> window_;

  void Open(const char* format) {
    ProfileUsePath((root_.path() + QStringLiteral("/profile.ini")).toStdString());
    ProfileClearOverrides();
    ProfileSetOverride(kSectionNocta, "CapWorkDir", root_.path().toLocal8Bit().constData());
    ProfileSetOverride(kSectionNocta, "RecWorkDir", recDir_.toLocal8Bit().constData());
    ProfileSetOverride(kSectionNocta, "RecFormat", format);
    ProfileSetOverride(kSectionNocta, "RecSegment", "0");
    file_ = std::make_unique<CGraphObject>();
    live_ = std::make_unique<CGraphObject>();
    window_ = std::make_unique<MainWindow>(file_.get(), live_.get(), root_.path() + QLatin1Char('/'));
    QVERIFY(window_->Create(clip_, QRect(0, 0, 1280, 1024)));
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }
  void PressCtrlR() { QTest::keyClick(window_.get(), Qt::Key_R, Qt::ControlModifier); }
  bool Checked() const { return window_->Action(kCmdRecord)->isChecked(); }
  QStringList Recorded(const QString& pattern) const { return QDir(recDir_).entryList({pattern}, QDir::Files); }

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    RegisterVideoRecordFormats();
    QProcess p;
    clip_ = root_.path() + QStringLiteral("/clip.avi");
    p.start(QStringLiteral(ULMORA_SAMPLE_EXE),
            {QStringLiteral("-q"), QStringLiteral("-o"), clip_, QStringLiteral("-W"), QStringLiteral("320"),
             QStringLiteral("-H"), QStringLiteral("240"), QStringLiteral("-r"), QStringLiteral("30"),
             QStringLiteral("-n"), QStringLiteral("600")});
    QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);
    MainWindow::SetBoxHook([this](const QString& text, const QString&, QMessageBox::Icon) {
      if (!text.startsWith(QLatin1String("Sorry, you have no video capture hardware."))) boxes_ << text;
    });
  }
  void cleanupTestCase() { MainWindow::SetBoxHook({}); }
  void init() {
    boxes_.clear();
    recDir_ = root_.path() + QStringLiteral("/rec-") + QString::fromLatin1(QTest::currentTestFunction());
    QVERIFY(QDir().mkpath(recDir_));
  }
  void cleanup() {
    window_.reset();
    file_.reset();
    live_.reset();
    RecordCommand::SetDialogHook({});
    ProfileClearOverrides();
  }

  // Ctrl+R with RecFormat=ser: a SER file that grows while the clip plays, BMP captures written beside
  // it, and whole (every frame its header counts, with their times) after the second Ctrl+R.
  void ctrlRRecordsASerFileWholeBesideCaptures() {
    Open("ser");
    QCOMPARE(window_->Action(kCmdRecord)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    window_->OnCommand(kCmdPlay);
    PressCtrlR();
    QVERIFY2(Checked(), qPrintable(boxes_.join('\n')));
    CSG& sg = *window_->ActiveSession();
    sg.SetCapCount(3);
    window_->OnCommand(kCmdCaptureToggle);
    const QString path = window_->Recorder()->Path();
    QVERIFY2(
        QRegularExpression(QStringLiteral("^clip-\\d{8}-\\d{6}Z\\.ser$")).match(QFileInfo(path).fileName()).hasMatch(),
        qPrintable(path));
    QCOMPARE(QFileInfo(path).path(), recDir_);
    // While it is written the file may carry a temporary name beside its own.
    auto growing = [&] {
      const QString part = path + QStringLiteral(".part");
      return test::ReadSer((QFileInfo::exists(part) ? part : path).toStdString()).frames;
    };
    QTRY_VERIFY_WITH_TIMEOUT(growing() > 0, 8000);
    const int first = growing();
    QTRY_VERIFY_WITH_TIMEOUT(growing() > first, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(window_->StatusText(0).startsWith(QLatin1String("REC 0:00:0")), 2000);
    QVERIFY2(window_->StatusText(0).contains(QLatin1String(" fr ")), qPrintable(window_->StatusText(0)));
    QVERIFY(window_->StatusText(0).endsWith(QLatin1String("0 dropped")));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(root_.path()).entryList({QStringLiteral("*.bmp")}, QDir::Files).size(), 3, 10000);

    PressCtrlR();
    QVERIFY(!Checked());
    const RecordingStatus s = sg.Recording();
    QVERIFY(!s.active);
    const test::SerFile whole = test::ReadSer(path.toStdString());
    QVERIFY(whole.ok);
    QCOMPARE(uint64_t(whole.frames), s.frames);
    QCOMPARE(whole.ticks.size(), size_t(whole.frames));
    QCOMPARE(whole.width, 320);
    QVERIFY2(window_->StatusText(1).startsWith(QStringLiteral("Recorded %1 frames").arg(s.frames)),
             qPrintable(window_->StatusText(1)));
    QVERIFY(!window_->StatusText(0).startsWith(QLatin1String("REC")));
    QCOMPARE(Recorded(QStringLiteral("*.ser")), QStringList{QFileInfo(path).fileName()});
    QVERIFY(boxes_.isEmpty());
  }

  // A graph stop closes the file whole and unchecks the command; video records through the same command.
  void aGraphStopClosesTheVideo() {
    Open("mkv");
    window_->OnCommand(kCmdPlay);
    window_->OnCommand(kCmdRecord);
    QVERIFY2(Checked(), qPrintable(boxes_.join('\n')));
    QTRY_VERIFY_WITH_TIMEOUT(window_->ActiveSession()->Recording().frames >= 10, 8000);
    window_->OnCommand(kCmdStop);
    QTRY_VERIFY_WITH_TIMEOUT(!Checked(), 3000);
    QVERIFY(!window_->Recorder()->IsRecording());
    const QStringList mkv = Recorded(QStringLiteral("*.mkv"));
    QCOMPARE(mkv.size(), 1);
    QVERIFY(QFileInfo(recDir_ + QLatin1Char('/') + mkv[0]).size() > 1000);
  }

  // A folder that is missing: the command says so and records nothing.
  void aMissingFolderIsSaidAndNothingRecorded() {
    Open("ser");
    QVERIFY(QDir(recDir_).removeRecursively());
    window_->OnCommand(kCmdPlay);
    PressCtrlR();
    QVERIFY(!Checked());
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].contains(recDir_) && boxes_[0].contains(QLatin1String("does not exist")), qPrintable(boxes_[0]));
    QVERIFY(!window_->ActiveSession()->Recording().active);
    QVERIFY(!QFileInfo::exists(recDir_));
  }

  // The dialog shows the keys, refuses what cannot work, and what it accepts is written at exit.
  void theDialogSetsTheKeysWrittenAtExit() {
    Open("ser");
    RecordingDialog* shown = nullptr;
    RecordCommand::SetDialogHook([&](RecordingDialog* d) { shown = d; });
    window_->OnCommand(kCmdRecordingDialog);
    QVERIFY(shown);
    QCOMPARE(shown->FolderEdit()->text(), recDir_);
    QCOMPARE(shown->FormatBox()->currentIndex(), 0);
    QCOMPARE(shown->SegmentBox()->value(), 0);
    QVERIFY(!shown->SegmentBox()->isEnabled());
    shown->FolderEdit()->setText(recDir_ + QStringLiteral("/none"));
    shown->accept();
    QVERIFY(shown->isVisible() || shown->result() != QDialog::Accepted);
    QVERIFY2(shown->Note()->text().contains(QLatin1String("does not exist")), qPrintable(shown->Note()->text()));
    shown->FolderEdit()->setText(recDir_);
    shown->FormatBox()->setCurrentIndex(2);
    QVERIFY(shown->SegmentBox()->isEnabled());
    shown->WhatBox()->setCurrentIndex(2);
    shown->SegmentBox()->setValue(120);
    shown->KeepFreeBox()->setValue(2048);
    QVERIFY2(shown->Problem().isEmpty(), qPrintable(shown->Problem()));
    shown->accept();
    QCOMPARE(window_->Recorder()->Settings().format, QStringLiteral("mkv"));
    QCOMPARE(window_->Recorder()->Settings().what, QStringLiteral("sum"));
    ProfileClearOverrides();
    window_->close();
    const QString ini = ReadAll(root_.path() + QStringLiteral("/profile.ini"));
    for (const char* line : {"RecFormat=mkv", "RecWhat=sum", "RecSegment=120", "RecKeepFree=2048"})
      QVERIFY2(ini.contains(QLatin1String(line)), line);
    QVERIFY(ini.contains(QStringLiteral("RecWorkDir=") + recDir_));
  }

  void fileStemsAreSafeNames() {
    const QDateTime t(QDate(2026, 12, 9), QTime(18, 15, 0), Qt::UTC);
    QCOMPARE(RecordCommand::FileStem(QStringLiteral("HD Webcam: C270"), t),
             QStringLiteral("HD_Webcam_C270-20261209-181500Z"));
    QCOMPARE(RecordCommand::FileStem(QStringLiteral("../night sky"), t), QStringLiteral("night_sky-20261209-181500Z"));
    QCOMPARE(RecordCommand::FileStem(QString(), t), QStringLiteral("recording-20261209-181500Z"));
  }
};

QTEST_MAIN(RecordingTest)
#include "recording_test.moc"
