// The control panel, toolbar, status bar parts and Capture dialog on the offscreen platform, acting on
// a real session and processor with a temporary profile.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>
#include <map>
#include <memory>

#include "gui/capture_dialog.h"
#include "gui/command_ids.h"
#include "gui/control_id.h"
#include "gui/control_panel.h"
#include "gui/main_window.h"
#include "gui/panel_rows.h"
#include "gui/status_panes.h"
#include "gui/tool_icons.h"
#include "gui/toolbar.h"
#include "graph/graph_object.h"
#include "pipeline/sg.h"
#include "processing/stages.h"  // StageAccess: the tests act as the automatic control
#include "settings/profile.h"

using namespace ulmora;

class PanelTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir root_;
  QString capDir_;
  std::unique_ptr<CSG> sg_;
  std::unique_ptr<ControlPanel> panel_;
  std::map<int, QAction*> actions_;
  QAction* ActionFor(int id) {
    if (id == kCmdStop) return nullptr;  // the builder must cope with a command the window lacks
    auto* a = new QAction(panel_.get());
    actions_[id] = a;
    return a;
  }
  CFrameProcessor& Proc() { return sg_->Processor(); }
  QLineEdit* Box() { return panel_->DelayBox(); }
  static void Override(const char* key, const char* value) { ProfileSetOverride(kSectionNocta, key, value); }
  static void Paste(QLineEdit* box, const QString& text) {
    QApplication::clipboard()->setText(text);
    box->selectAll();
    QTest::keySequence(box, QKeySequence::Paste);
  }
  void FocusAway() {
    panel_->ValueBox(kRowAmp)->setFocus();
    QTRY_VERIFY(!Box()->hasFocus());
  }

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    capDir_ = root_.path() + "/caps/";
    QVERIFY(QDir().mkpath(capDir_));
    ProfileUsePath((root_.path() + "/ulmora.ini").toStdString());
  }

  void init() {
    ProfileClearOverrides();
    Override("CapWorkDir", capDir_.toLocal8Bit().constData());
    Override("CapFormat", "cap%f");
    Override("CapCount", "5");
    Override("CapFramesDelay", "0");
    Override("ProcAuto", "0");
    Override("ProcCountAccum", "1");
    Override("ProcTimeDelay", "0");
    Override("ProcNRH", "0");
    Override("ProcNRV", "1");
    Override("ProcAmp", "16");
    Override("ProcBlackLevel", "0");
    Override("ProcGamma", "128");
    sg_ = std::make_unique<CSG>();
    sg_->SetPacing(false);
    panel_ = std::make_unique<ControlPanel>();
    panel_->SetToolbar(BuildToolbar(panel_.get(), [this](int id) { return ActionFor(id); }));
    panel_->SetProcessor(&Proc());
    panel_->SyncAllRows();
    panel_->EnableNoiseRows();
    panel_->resize(panel_->sizeHint());
    panel_->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
    panel_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel_.get()));
  }

  void cleanup() {
    panel_.reset();
    actions_.clear();
    sg_.reset();
  }

  void cleanupTestCase() {
    ProfileClearOverrides();
    ProfileUsePath("");
  }

  void rowsStandWhereTheyShould() {
    const int ys[kPanelRowCount] = {30, 50, 70, 100, 120, 150, 170};
    const int shift = panel_->Toolbar()->height() - 26;  // a taller toolbar moves every row alike
    int labelW = 0;
    for (int i = 0; i < kPanelRowCount; ++i) {
      QCOMPARE(panel_->Trackbar(i)->geometry(), QRect(8 + panel_->LabelWidth() + 24, ys[i] + shift, 258, 18));
      QCOMPARE(panel_->ResetButton(i)->size(), QSize(17, 17));
      QCOMPARE(panel_->ValueBox(i)->size(), QSize(60, 17));
      QVERIFY(panel_->ValueBox(i)->isReadOnly());
      QCOMPARE(panel_->Label(i)->width(), panel_->LabelWidth());
      labelW = qMax(labelW, panel_->Label(i)->fontMetrics().horizontalAdvance(panel_->Label(i)->text()));
      QCOMPARE(panel_->Trackbar(i)->minimum(), PanelRowAt(i).minimum);
      QCOMPARE(panel_->Trackbar(i)->maximum(), PanelRowAt(i).maximum);
    }
    QCOMPARE(panel_->LabelWidth(), labelW);
    QVERIFY2(panel_->sizeHint().width() <= 420, "the rows fit the main window's width");
    // The rows as built, before the processor is consulted.
    ControlPanel fresh;
    const char* texts[kPanelRowCount] = {"100%", "0", "1.000", "4", "0", "2.000", "0.500"};
    const int positions[kPanelRowCount] = {16, 0, 128, 4, 0, 200, 50};
    for (int i = 0; i < kPanelRowCount; ++i) {
      QCOMPARE(fresh.ValueBox(i)->text(), QString(texts[i]));
      QCOMPARE(fresh.Trackbar(i)->value(), positions[i]);
    }
  }

  void amplificationAndGammaTexts() {
    StageAccess::Counters(Proc()).nAutoSign.store(1);
    panel_->Trackbar(kRowAmp)->setValue(24);
    QCOMPARE(panel_->ValueBox(kRowAmp)->text(), QString("150.0%"));
    QCOMPARE(Proc().Settings().nAmp.load(), 24);
    QCOMPARE(Proc().Counters().nAutoSign.load(), 0);
    panel_->Trackbar(kRowAmp)->setValue(32);
    QCOMPARE(panel_->ValueBox(kRowAmp)->text(), QString("200%"));
    QCOMPARE(AmpPercentText(8), std::string("50.0%"));
    QCOMPARE(AmpPercentText(48), std::string("300%"));

    panel_->Trackbar(kRowGamma)->setValue(256);
    QCOMPARE(panel_->ValueBox(kRowGamma)->text(), QString("6.000"));
    QCOMPARE(Proc().Settings().nGamma.load(), 256);
    QCOMPARE(GammaText(64), std::string("0.500"));

    StageAccess::Counters(Proc()).nAutoSign.store(1);
    panel_->Trackbar(kRowBlack)->setFocus();
    QTest::keyClick(panel_->Trackbar(kRowBlack), Qt::Key_Left);
    QCOMPARE(Proc().Settings().nBlackLevel.load(), -1);
    QCOMPARE(panel_->ValueBox(kRowBlack)->text(), QString("-1"));
    QCOMPARE(Proc().Counters().nAutoSign.load(), 0);

    panel_->Trackbar(kRowAccum)->setValue(9);
    QCOMPARE(Proc().Settings().nCountAccum.load(), 9);
    panel_->Trackbar(kRowNRV)->setValue(29);
    QCOMPARE(Proc().Settings().fRmsV.load(), 0.29f);
    QCOMPARE(panel_->ValueBox(kRowNRV)->text(), QString("0.290"));
    panel_->SyncAllRows();
    QCOMPARE(panel_->Trackbar(kRowNRV)->value(), 29);  // the stored float comes back to its position

    panel_->Trackbar(kRowDelay)->setValue(1000);
    QCOMPARE(Proc().Settings().nTimeDelay.load(), 1000u);
    QCOMPARE(Box()->text(), QString("01:000"));
    QCOMPARE(panel_->ValueBox(kRowDelay)->text(), QString::number(Proc().Counters().nDelayFrames.load()));
    QCOMPARE(Proc().Counters().nDelayFrames.load(), 30);
  }

  void resetAtDefaultChangesNothing() {
    auto* track = panel_->Trackbar(kRowAmp);
    {
      QSignalBlocker quiet(track);
      track->setValue(40);  // out of step with the processor, which is at its default
    }
    StageAccess::Counters(Proc()).nAutoSign.store(1);
    QTest::mouseClick(panel_->ResetButton(kRowAmp), Qt::LeftButton);
    QCOMPARE(track->value(), 40);
    QCOMPARE(Proc().Settings().nAmp.load(), 16);
    QCOMPARE(Proc().Counters().nAutoSign.load(), 1);

    Proc().SetAmp(30);
    QTest::mouseClick(panel_->ResetButton(kRowAmp), Qt::LeftButton);
    QCOMPARE(Proc().Settings().nAmp.load(), 16);
    QCOMPARE(track->value(), 16);
    QCOMPARE(panel_->ValueBox(kRowAmp)->text(), QString("100%"));

    panel_->Trackbar(kRowGamma)->setValue(200);
    panel_->Trackbar(kRowNRV)->setValue(300);
    panel_->Trackbar(kRowDelay)->setValue(2000);
    for (int row : {kRowGamma, kRowNRV, kRowDelay}) QTest::mouseClick(panel_->ResetButton(row), Qt::LeftButton);
    QCOMPARE(Proc().Settings().nGamma.load(), 128);
    QCOMPARE(panel_->ValueBox(kRowGamma)->text(), QString("1.000"));
    QCOMPARE(Proc().Settings().fRmsV.load(), 0.5f);
    QCOMPARE(panel_->Trackbar(kRowNRV)->value(), 50);
    QCOMPARE(Proc().Settings().nTimeDelay.load(), 0u);
    QCOMPARE(panel_->Trackbar(kRowDelay)->value(), 0);
    QCOMPARE(Box()->text(), QString("00:000"));
  }

  void delayBox() {
    QVERIFY(Box());
    QCOMPARE(ControlIdOf(Box()), int(kIdDelayBox));
    QCOMPARE(Box()->size(), QSize(50, 20));
    QCOMPARE(Box()->maxLength(), 6);
    QVERIFY(Box()->x() >= 358);
    Box()->setFocus();
    QTRY_VERIFY(Box()->hasFocus());

    // An edit applies at once; the box keeps the text being edited and shows the formatted time when
    // the editing ends (Enter, or leaving the box).
    Paste(Box(), "2:5");
    QCOMPARE(Proc().Settings().nTimeDelay.load(), 2005u);
    QCOMPARE(panel_->Trackbar(kRowDelay)->value(), 2005);
    QTest::keyClick(Box(), Qt::Key_Return);
    QCOMPARE(Box()->text(), QString("02:005"));

    Paste(Box(), "9:0");
    QCOMPARE(Proc().Settings().nTimeDelay.load(), 6000u);
    QTest::keyClick(Box(), Qt::Key_Return);
    QCOMPARE(Box()->text(), QString("06:000"));

    Box()->selectAll();
    QTest::keyClick(Box(), Qt::Key_5);
    QCOMPARE(Proc().Settings().nTimeDelay.load(), 5u);
    QTest::keyClick(Box(), Qt::Key_Return);
    QCOMPARE(Box()->text(), QString("00:005"));

    // A time typed key by key: each key applies what stands so far, and the box is not rewritten
    // under the typing (it used to become "00:001" at the first key and refuse the rest).
    Box()->selectAll();
    QTest::keyClicks(Box(), "1:500");
    QCOMPARE(Box()->text(), QString("1:500"));
    QCOMPARE(Proc().Settings().nTimeDelay.load(), 1500u);
    QCOMPARE(panel_->Trackbar(kRowDelay)->value(), 1500);
    // The automatic control moving the delay meanwhile does not overwrite the typing either.
    panel_->ShowDelay();
    QCOMPARE(Box()->text(), QString("1:500"));
    FocusAway();
    QCOMPARE(Box()->text(), QString("01:500"));
    Box()->setFocus();
    QTRY_VERIFY(Box()->hasFocus());

    Box()->selectAll();
    QTest::keyClicks(Box(), "ab");
    QCOMPARE(Box()->text(), QString("ab"));
    QCOMPARE(Proc().Settings().nTimeDelay.load(), 1500u);
    FocusAway();
    QCOMPARE(Box()->text(), QString("01:500"));
  }

  void tooltips() {
    panel_->Trackbar(kRowDelay)->setValue(1500);
    QCOMPARE(panel_->TooltipText(kIdDelayTrack), QString("01:500"));
    QCOMPARE(panel_->TooltipText(kIdBlackTrack), QString());
    QCOMPARE(panel_->TooltipText(kIdAccumTrack), QString());
    QCOMPARE(panel_->TooltipText(kIdGammaTrack), QString("1.000"));
    QCOMPARE(panel_->TooltipText(kCmdPlay), QString("Play [Space]"));
    QCOMPARE(actions_.at(kCmdNRH)->toolTip(), QString("NR Horizontal banding. \n [dynamic antijamming]"));

    // The tooltip request itself: the Delay trackbar shows its time, the Black Level one nothing.
    QSlider* delay = panel_->Trackbar(kRowDelay);
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), delay->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(delay, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString("01:500"));
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    QSlider* black = panel_->Trackbar(kRowBlack);
    QHelpEvent none(QEvent::ToolTip, QPoint(5, 5), black->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(black, &none);
    QTest::qWait(50);
    QVERIFY(!QToolTip::isVisible());
  }

  void toolbarEntries() {
    QToolBar* tb = panel_->Toolbar();
    const QList<QAction*> list = tb->actions();
    QCOMPARE(list.size(), kToolbarEntryCount);
    const int ids[kToolbarEntryCount] = {0,          kCmdPlay, kCmdPause, kCmdStop, 0, kCmdCaptureToggle, kCmdRecord,
                                         0,          kCmdLivePreview, 0, kCmdDefault, 0, kCmdAuto, kCmdAutoAmp,
                                         kCmdAutoAccum, kCmdAutoDelay, 0, kCmdNRH, kCmdNRV, 0};
    for (int i = 0; i < kToolbarEntryCount; ++i) {
      QCOMPARE(list[i]->isSeparator(), ids[i] == 0);
      if (ids[i] == 0) continue;
      QCOMPARE(list[i]->data().toInt(), ids[i]);
      QCOMPARE(list[i]->isCheckable(), ToolbarEntryAt(i).check);
      QVERIFY(list[i]->isEnabled());
      if (ids[i] != kCmdStop) QCOMPARE(list[i], actions_.at(ids[i]));
    }
    QVERIFY(!actions_.at(kCmdPause)->isChecked());
    QTest::mouseClick(tb->widgetForAction(actions_.at(kCmdPause)), Qt::LeftButton);
    QVERIFY(actions_.at(kCmdPause)->isChecked());
    // The images are drawn for the pixel ratio asked: at 2x they are drawn at twice the pixels, not
    // scaled up from 16 x 15.
    const QImage one = ToolbarIcon(kImgPlay).pixmap(QSize(16, 15), 1.0).toImage();
    const QImage two = ToolbarIcon(kImgPlay).pixmap(QSize(16, 15), 2.0).toImage();
    QCOMPARE(two.size(), QSize(32, 30));
    QVERIFY(two != one.scaled(32, 30));
    for (int i = 0; i < kToolImageCount; ++i) {
      const QImage img = ToolbarIcon(i).pixmap(QSize(16, 15)).toImage();
      int inked = 0;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) inked += qAlpha(img.pixel(x, y)) > 128;
      QVERIFY2(inked > 20, qPrintable(QString("image %1 is drawn").arg(i)));
    }
  }

  void noiseRowsFollowTheirSwitches() {
    const int row = kRowNRH;
    QVERIFY(!panel_->Trackbar(row)->isEnabled());
    QVERIFY(!panel_->ResetButton(row)->isEnabled());
    QVERIFY(!panel_->ValueBox(row)->isEnabled());
    QVERIFY(panel_->Trackbar(kRowNRV)->isEnabled());
    Proc().SetNRH(true);
    panel_->EnableNoiseRows();
    QVERIFY(panel_->Trackbar(row)->isEnabled());
    QVERIFY(panel_->ResetButton(row)->isEnabled());
    QVERIFY(panel_->ValueBox(row)->isEnabled());
    panel_->SetProcessor(nullptr);
    panel_->EnableNoiseRows();
    QVERIFY(!panel_->Trackbar(row)->isEnabled());
    QVERIFY(!panel_->Trackbar(kRowNRV)->isEnabled());
  }

  void automaticControlMovesTrackbars() {
    StageAccess::Counters(Proc()).nAutoSign.store(-1);
    StageAccess::Settings(Proc()).nAmp.exchange(48);
    panel_->ShowAmplification();
    QCOMPARE(panel_->Trackbar(kRowAmp)->value(), 48);
    QCOMPARE(panel_->ValueBox(kRowAmp)->text(), QString("300%"));
    QCOMPARE(Proc().Counters().nAutoSign.load(), -1);  // showing a value is not a user's change
    Proc().SetCountAccum(7);
    panel_->ShowAccumulator();
    QCOMPARE(panel_->Trackbar(kRowAccum)->value(), 7);
    QCOMPARE(panel_->ValueBox(kRowAccum)->text(), QString("7"));
    Proc().SetTimeDelay(450);
    panel_->ShowDelay();
    QCOMPARE(panel_->Trackbar(kRowDelay)->value(), 450);
    QCOMPARE(Box()->text(), QString("00:450"));
    QCOMPARE(panel_->ValueBox(kRowDelay)->text(), QString::number(Proc().Counters().nDelayFrames.load()));
  }

  void dialogFramesAndDelay() {
    CaptureDialog dlg(nullptr, sg_.get());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(dlg.windowTitle(), QString("Capture"));
    auto* delay = qobject_cast<QLineEdit*>(dlg.Control(kIdCapDelay));
    auto* frames = qobject_cast<QLineEdit*>(dlg.Control(kIdCapFrames));
    auto* interval = qobject_cast<QLineEdit*>(dlg.Control(kIdCapInterval));
    auto* last = qobject_cast<QLabel*>(dlg.Control(kIdCapLastPath));
    QVERIFY(delay && frames && interval && last);
    QCOMPARE(last->text(), QString("<none>"));
    QCOMPARE(frames->text(), QString("5"));
    QCOMPARE(qobject_cast<QLineEdit*>(dlg.Control(kIdCapTemplate))->text(), QString("cap%f"));
    QCOMPARE(qobject_cast<QLineEdit*>(dlg.Control(kIdCapDirectory))->text(), capDir_);

    delay->setFocus();
    QTRY_VERIFY(delay->hasFocus());
    delay->selectAll();
    QTest::keyClicks(delay, "25");
    QCOMPARE(sg_->Capture().nFramesDelay.load(), 25u);
    QCOMPARE(sg_->Capture().nDelayMs.load(), 834);  // 25 frames at 29.97 frames per second
    QCOMPARE(interval->text(), QString("00:834"));

    frames->setFocus();
    QTRY_VERIFY(frames->hasFocus());
    frames->selectAll();
    QTest::keyClick(frames, Qt::Key_Backspace);
    QCOMPARE(frames->text(), QString());
    QCOMPARE(sg_->Capture().nCapCount.load(), 5u);
    QTest::keyClicks(frames, "x");  // not a digit: refused
    QCOMPARE(frames->text(), QString());
    delay->setFocus();
    QTRY_VERIFY(!frames->hasFocus());
    QCOMPARE(frames->text(), QString("5"));
    frames->setFocus();
    QTRY_VERIFY(frames->hasFocus());
    frames->selectAll();
    QTest::keyClicks(frames, "12");
    QCOMPARE(sg_->Capture().nCapCount.load(), 12u);
  }

  void dialogLongFolderWarnsAndKeepsTheOld() {
    // A real directory whose path is longer than the session accepts.
    QString longDir = root_.path() + "/" + QString(100, 'a') + "/" + QString(100, 'b') + "/" + QString(60, 'c');
    QVERIFY(longDir.size() > 245);
    QVERIFY(QDir().mkpath(longDir));
    const QString shortDir = root_.path() + "/other";
    QVERIFY(QDir().mkpath(shortDir));

    CaptureDialog dlg(nullptr, sg_.get());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    auto* dirEdit = qobject_cast<QLineEdit*>(dlg.Control(kIdCapDirectory));

    QString browserTitle, warningTitle, warningText;
    auto choose = [&](const QString& dir, bool expectWarning) {
      QTimer::singleShot(0, this, [&, dir, expectWarning] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        browserTitle = fd->windowTitle();
        fd->setDirectory(dir);
        if (expectWarning) {
          QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            warningTitle = box->windowTitle();
            warningText = box->text();
            box->accept();
          });
        }
        static_cast<QDialog*>(fd)->accept();  // runs the file dialog's own accept
      });
      QTest::mouseClick(dlg.Control(kIdCapBrowse), Qt::LeftButton);
    };

    choose(longDir, true);
    QCOMPARE(browserTitle, QString("Select directory for capturing"));
    QCOMPARE(warningTitle, QString("Warning"));
    QCOMPARE(warningText, QString("Can`t set folder [long name!]..."));
    QCOMPARE(QString::fromLocal8Bit(sg_->WorkDir()), capDir_);
    QCOMPARE(dirEdit->text(), capDir_);

    warningTitle.clear();
    choose(shortDir, false);
    QCOMPARE(warningTitle, QString());
    QCOMPARE(QString::fromLocal8Bit(sg_->WorkDir()), shortDir + "/");
    QCOMPARE(dirEdit->text(), shortDir + "/");
    sg_->SetWorkDir(capDir_.toLocal8Bit().constData());
  }

  void dialogTemplateAppliesToTheNextFile() {
    QDir(capDir_).removeRecursively();
    QVERIFY(QDir().mkpath(capDir_));
    const int32_t w = 8, h = 4;
    QCOMPARE(sg_->SetVideoSize(w, h), 1);
    sg_->SetCapCount(10);
    sg_->RequestReprocess();
    sg_->StartCapture(1);
    std::vector<uint8_t> bits(static_cast<size_t>(w) * 3 * h, 0x40);
    Sample s{bits.data(), static_cast<int32_t>(bits.size()), 0};
    sg_->SampleCB(0.0, &s);
    sg_->SampleCB(1 / 29.97, &s);
    QCOMPARE(QDir(capDir_).entryList(QDir::Files), QStringList({"cap00001.bmp", "cap00002.bmp"}));

    CaptureDialog dlg(nullptr, sg_.get());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(qobject_cast<QLabel*>(dlg.Control(kIdCapLastPath))->text(), QString("(capture in progress)"));
    auto* tmpl = qobject_cast<QLineEdit*>(dlg.Control(kIdCapTemplate));
    tmpl->setFocus();
    QTRY_VERIFY(tmpl->hasFocus());
    tmpl->selectAll();
    QTest::keyClicks(tmpl, "next%f");
    QCOMPARE(QString(sg_->CapFormat()), QString("cap%f"));  // applied when the field is left
    QTest::keyClick(tmpl, Qt::Key_Tab);
    QCOMPARE(QString(sg_->CapFormat()), QString("next%f"));
    sg_->SampleCB(2 / 29.97, &s);
    QCOMPARE(QDir(capDir_).entryList(QDir::Files), QStringList({"cap00001.bmp", "cap00002.bmp", "next00003.bmp"}));
    QCOMPARE(sg_->Capture().bCapture.load(), 1);
    dlg.done(1);

    sg_->StartCapture(0);
    CaptureDialog after(nullptr, sg_.get());
    QCOMPARE(qobject_cast<QLabel*>(after.Control(kIdCapLastPath))->toolTip(), capDir_ + "next00003.bmp");
    // Without a session the dialog keeps its own texts and changes nothing.
    CaptureDialog none(nullptr, nullptr);
    QCOMPARE(qobject_cast<QLabel*>(none.Control(kIdCapLastPath))->text(), QString("<None>"));
    QCOMPARE(qobject_cast<QLineEdit*>(none.Control(kIdCapFrames))->text(), QString());
  }
};

// The panel inside the main window: its place, the window's messages and commands reaching it.
class PanelInWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<CGraphObject> file_, live_;
  std::unique_ptr<MainWindow> window_;
  ControlPanel* Panel() { return static_cast<ControlPanel*>(window_->centralWidget()); }
  CFrameProcessor& Proc() { return *window_->ActiveProcessor(); }

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    ProfileUsePath((dir_.path() + "/profile.ini").toStdString());
    ProfileClearOverrides();
    ProfileSetOverride(kSectionNocta, "CapWorkDir", dir_.path().toLocal8Bit().constData());
    ProfileSetOverride(kSectionNocta, "ProcNRH", "0");
    MainWindow::SetBoxHook([](const QString&, const QString&, QMessageBox::Icon) {});
    file_ = std::make_unique<CGraphObject>();
    live_ = std::make_unique<CGraphObject>();
    window_ = std::make_unique<MainWindow>(file_.get(), live_.get(), dir_.path() + "/");
    QVERIFY(window_->Create(QString(), QRect(0, 0, 1280, 1024)));
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(window_->ActiveProcessor());
  }
  void cleanup() {
    window_.reset();
    file_.reset();
    live_.reset();
    MainWindow::SetBoxHook({});
    ProfileClearOverrides();
    ProfileUsePath("");
  }

  void everythingFitsTheWindow() {
    QCOMPARE(window_->width(), 420);
    QVERIFY(window_->height() <= 256);
    ControlPanel* panel = Panel();
    QVERIFY(panel);
    const QRect client = window_->rect();
    QList<QWidget*> parts{panel->Toolbar(), panel->DelayBox()};
    for (int i = 0; i < kPanelRowCount; ++i)
      parts << panel->Label(i) << panel->ResetButton(i) << panel->Trackbar(i) << panel->ValueBox(i);
    for (QWidget* w : parts) {
      const QRect r(w->mapTo(window_.get(), QPoint(0, 0)), w->size());
      QVERIFY2(client.contains(r), qPrintable(w->metaObject()->className() + QString(" at %1,%2").arg(r.x()).arg(r.y())));
      QVERIFY(!r.intersects(window_->statusBar()->geometry()));
    }
    // Part 0 of the status bar ends at 11/18 of the width.
    QWidget* part0 = window_->statusBar()->findChild<QWidget*>("status0");
    QVERIFY(part0);
    const int end = part0->mapTo(window_.get(), QPoint(part0->width(), 0)).x();
    QVERIFY2(qAbs(end - 420 * 11 / 18) <= 4, qPrintable(QString::number(end)));
    // The toolbar's buttons are the window's own actions.
    QCOMPARE(panel->Toolbar()->actions().at(1), window_->Action(kCmdPlay));
    QCOMPARE(panel->Toolbar()->actions().at(13), window_->Action(kCmdAutoAmp));
    QCOMPARE(window_->Action(kCmdNRV)->toolTip(), QString("NR Vertical banding. \n[dynamic antijamming]"));
  }

  // Long texts in both parts, at every width from the narrowest the window takes to twice its own:
  // the parts never overlap nor leave the bar, a path loses its middle (the file name stays) and
  // shows whole as the tooltip, and the parts use the rows' font.
  void statusPartsKeepToTheirBoxes() {
    const QString path =
        QStringLiteral("/home/observer/recordings/2026-12-09/north-field/night-sky-over-the-hills.avi");
    const QString text = QStringLiteral("Sorry, you have no video capture hardware. Video capture will not work.");
    window_->SetStatus(0, path.toLocal8Bit().constData());
    window_->SetStatusText(text.toLatin1().constData());
    auto* part0 = window_->statusBar()->findChild<StatusPane*>("status0");
    auto* part1 = window_->statusBar()->findChild<StatusPane*>("status1");
    QVERIFY(part0 && part1);
    QCOMPARE(part0->Text(), path);
    QCOMPARE(part0->font(), Panel()->RowFont());
    QCOMPARE(part1->font(), Panel()->RowFont());
    const int own = window_->width();
    for (int w = window_->minimumSizeHint().width(); w <= 2 * own; w += 7) {
      window_->setFixedWidth(w);
      QCoreApplication::sendPostedEvents();
      window_->layout()->activate();
      const QRect bar(window_->statusBar()->mapTo(window_.get(), QPoint(0, 0)), window_->statusBar()->size());
      const QRect r0(part0->mapTo(window_.get(), QPoint(0, 0)), part0->size());
      const QRect r1(part1->mapTo(window_.get(), QPoint(0, 0)), part1->size());
      const QString at = QStringLiteral("width %1: %2-%3 and %4-%5")
                             .arg(w)
                             .arg(r0.left())
                             .arg(r0.right())
                             .arg(r1.left())
                             .arg(r1.right());
      QVERIFY2(r0.right() < r1.left() && bar.contains(r0) && bar.contains(r1) && window_->rect().contains(bar),
               qPrintable(at));
      for (StatusPane* p : {part0, part1}) {
        const QString shown = p->Shown();
        QVERIFY2(p->fontMetrics().horizontalAdvance(shown) <= p->contentsRect().width(), qPrintable(at));
        QCOMPARE(p->toolTip(), shown == p->Text() ? QString() : p->Text());
      }
      if (part0->Shown() != path)
        QVERIFY2(part0->Shown().endsWith(QStringLiteral("hills.avi")), qPrintable(part0->Shown()));
    }
    window_->setFixedWidth(own);
    QCOMPARE(window_->width(), 420);
    QVERIFY(part0->Shown() != path);  // this path is too long for the window's own width
    QCOMPARE(part0->toolTip(), path);
  }

  void messagesMoveTheTrackbars() {
    StageAccess::Settings(Proc()).nAmp.exchange(48);
    window_->PostMsg(kMsgAmpChanged);
    QTRY_COMPARE(Panel()->Trackbar(kRowAmp)->value(), 48);
    QCOMPARE(Panel()->ValueBox(kRowAmp)->text(), QString("300%"));
    Proc().SetCountAccum(12);
    window_->PostMsg(kMsgCountChanged);
    QTRY_COMPARE(Panel()->Trackbar(kRowAccum)->value(), 12);
    Proc().SetTimeDelay(1500);
    window_->PostMsg(kMsgDelayChanged);
    QTRY_COMPARE(Panel()->Trackbar(kRowDelay)->value(), 1500);
    QCOMPARE(Panel()->DelayBox()->text(), QString("01:500"));
    window_->OnCommand(kCmdDefault);
    QCOMPARE(Panel()->Trackbar(kRowAmp)->value(), 16);
    QCOMPARE(Panel()->Trackbar(kRowAccum)->value(), 4);
    QCOMPARE(Panel()->DelayBox()->text(), QString("00:000"));
  }

  void noiseCommandEnablesItsRow() {
    QVERIFY(!Panel()->Trackbar(kRowNRH)->isEnabled());
    window_->OnCommand(kCmdNRH);
    QCOMPARE(Proc().Settings().bNRH.load(), 1);
    QVERIFY(Panel()->Trackbar(kRowNRH)->isEnabled());
    QVERIFY(Panel()->ResetButton(kRowNRH)->isEnabled());
    window_->OnCommand(kCmdNRH);
    QVERIFY(!Panel()->ValueBox(kRowNRH)->isEnabled());
  }

  void captureCommandOpensTheDialog() {
    QString title;
    QRect frame, screen;
    QTimer::singleShot(0, this, [&] {
      QTRY_VERIFY(qobject_cast<QDialog*>(QApplication::activeModalWidget()));
      auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      title = dlg->windowTitle();
      QCOMPARE(dlg->parentWidget(), window_.get());
      QTRY_VERIFY(dlg->isVisible());
      frame = dlg->frameGeometry();
      screen = dlg->screen()->availableGeometry();
      dlg->reject();
    });
    window_->Action(kCmdCapture)->trigger();
    QCOMPARE(title, QString("Capture"));
    // The main window stands at the bottom of a work area larger than this screen; the dialog is still
    // wholly on the screen (its size is fixed by its font: on a screen too small for it, its left and
    // top edges at least stay in view).
    const QString at = QStringLiteral("%1,%2 %3x%4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height());
    if (frame.width() <= screen.width() && frame.height() <= screen.height())
      QVERIFY2(screen.contains(frame), qPrintable(at));
    else
      QVERIFY2(screen.contains(frame.topLeft()), qPrintable(at));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qunsetenv("QT_QPA_PLATFORMTHEME");
  QTemporaryDir runtime;
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  }
  QApplication app(argc, argv);
  PanelTest panel;
  PanelInWindowTest inWindow;
  int failed = QTest::qExec(&panel, argc, argv);
  failed += QTest::qExec(&inWindow, argc, argv);
  return failed ? 1 : 0;
}

#include "panel_test.moc"
