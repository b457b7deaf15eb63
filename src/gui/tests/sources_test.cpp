// The Sources popup, the device dialogs and unplug/reconnect in the main window, on the simulated
// camera through real pipelines (Qt's offscreen platform).
#include <QtTest>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>

#include <dirent.h>
#include <linux/videodev2.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "common/log.h"
#include "devices/controls_store.h"
#include "devices/crossbar.h"
#include "devices/device_list.h"
#include "devices/live_device.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"
#include "devices/tests/test_crossbar.h"
#include "graph/cap_graph.h"
#include "graph/grabber.h"
#include "graph/graph_object.h"
#include "gui/controls_dialog.h"
#include "gui/device_dialogs.h"
#include "gui/device_reconnect.h"
#include "gui/main_window.h"
#include "gui/sources_menu.h"
#include "gui/record_command.h"
#include "pipeline/sg.h"
#include "recording/tests/ser_read.h"
#include "settings/profile.h"

using namespace ulmora;

namespace {

// The main window with its Sources popup over two graph objects; the profile and the capture folder
// are the test's own, so a second Open is the program's next start.
struct Program {
  std::unique_ptr<CDeviceList> devices;
  std::unique_ptr<CGraphObject> file, live;
  std::unique_ptr<MainWindow> window;
  SourcesPopup* sources = nullptr;

  void Open(const QString& dir) {
    ProfileUsePath((dir + QStringLiteral("/profile.ini")).toStdString());
    ProfileClearOverrides();
    ProfileSetOverride(kSectionNocta, "CapWorkDir", dir.toLocal8Bit().constData());
    file = std::make_unique<CGraphObject>();
    live = std::make_unique<CGraphObject>();
    window = std::make_unique<MainWindow>(file.get(), live.get(), dir + QLatin1Char('/'));
    devices = std::make_unique<CDeviceList>(SourcesPopup::DeviceHooks(window.get(), live.get()));
    live->AttachDeviceList(devices.get());
    sources = new SourcesPopup(window.get(), live.get(), devices.get());
    window->Create(QString(), QRect(0, 0, 1280, 1024));
  }
  // As the user closes it: the device is remembered.
  void Close() {
    if (window) window->close();
    window.reset();
    devices.reset();
    file.reset();
    live.reset();
  }
  // Opens the popup as a click on the menu bar would, and closes it again.
  void ShowPopup() {
    QMenu* popup = window->Popup(kPopupSources);
    popup->popup(QPoint(0, 0));
    popup->hide();
  }
  QList<int> Ids() const {
    QList<int> ids;
    for (int id = kDevMenuDeviceFirst; id < kDevMenuDeviceFirst + 60; ++id)
      if (sources->Action(id)) ids << id;
    return ids;
  }
  int Run() const { return live->RunState(); }
  uint64_t Frames() const { return live->Impl().Grabber() ? live->Impl().Grabber()->FramesDelivered() : 0; }
  // Mean byte of the live picture, read with the graph stopped (the stream writes it otherwise).
  double StoppedLiveMean() const {
    const CImageBuf& img = live->Session().FrLive().img;
    if (!img.bits || img.size <= 0) return -1.0;
    double sum = 0;
    for (int32_t i = 0; i < img.size; ++i) sum += img.bits[i];
    return sum / img.size;
  }
};

int CountFiles(const QString& dir, const char* suffix) {
  return QDir(dir).entryList({QStringLiteral("*") + QLatin1String(suffix)}, QDir::Files).size();
}

}  // namespace

class SourcesTest : public QObject {
  Q_OBJECT
 private:
  QString dir_;
  QStringList boxes_;
  Program p_;

  void Enable(const char* setup) {
    std::string error;
    QVERIFY2(EnableSimCamera(setup, &error), error.c_str());
  }
  bool WaitFrames(uint64_t n) {
    const uint64_t target = p_.Frames() + n;
    QElapsedTimer t;
    t.start();
    while (p_.Frames() < target && t.elapsed() < 10000) QTest::qWait(10);
    return p_.Frames() >= target;
  }

 private slots:
  void initTestCase() {
    QVERIFY(InitMediaFramework());
    if (qEnvironmentVariableIsSet("ULMORA_TEST_LOG")) LogRegisterOpen([]() -> FILE* { return stderr; });
  }
  void init() {
    QByteArray pattern("/tmp/ulmora-gui-sources-XXXXXX");
    dir_ = QString::fromLocal8Bit(mkdtemp(pattern.data()));
    boxes_.clear();
    MainWindow::SetBoxHook([this](const QString& text, const QString&, QMessageBox::Icon) { boxes_ << text; });
  }
  void cleanup() {
    DeviceDialogs::SetDialogHook({});
    p_.Close();
    DisableSimCamera();
    MainWindow::SetBoxHook({});
    ProfileClearOverrides();
    if (dir_.startsWith(QLatin1String("/tmp/ulmora-gui-sources-"))) QDir(dir_).removeRecursively();
  }

  void twoDevicesPutTheFirstDialogEntryAt40052() {
    Enable("320x240@15,controls,count=2");
    p_.Open(dir_);
    // The monitor announces the devices present at its start; that leaves the entries in place.
    QVERIFY(p_.devices->ChangesSeen() > 0);
    p_.ShowPopup();
    const QList<int> ids = p_.Ids();
    QVERIFY(ids.size() > 2);
    QCOMPARE(ids[0], 40030);
    QCOMPARE(ids[1], 40031);
    QCOMPARE(ids[2], 40052);
    QVERIFY(p_.sources->Action(40030)->isChecked());
    QVERIFY(!p_.sources->Action(40031)->isChecked());
    // Listed before the live graph became active: enabled.
    QVERIFY(p_.sources->Action(40031)->isEnabled());
    QCOMPARE(p_.sources->Action(40031)->text(), QStringLiteral("Ulmora Simulated Camera #2"));
    // A device id without a device behind it.
    p_.window->OnCommand(40035);
    QCOMPARE(p_.window->StatusText(1), QStringLiteral("device not init... skip"));
  }

  void compositeAndSVideoWithNothingRememberedTakeComposite() {
    Enable("320x240@15,inputs=2");
    p_.Open(dir_);
    QVERIFY(SimSetInput(0, 1));
    // Choosing the device again as the program's next start would (nothing remembered).
    p_.Close();
    QFile::remove(dir_ + QStringLiteral("/profile.ini"));
    p_.Open(dir_);
    QAction* input = p_.sources->Action(40050 + 1 + p_.devices->Menu().iVideoInputMenuPos);
    QVERIFY(input);
    QCOMPARE(input->text(), QStringLiteral("Video Composite"));
    QVERIFY(input->isChecked());
    QCOMPARE(SimGetInput(0), 0);
    // The other input from the sub-menu: routed, and the check moves.
    QAction* svideo = p_.sources->Action(40051 + 1 + p_.devices->Menu().iVideoInputMenuPos);
    QVERIFY(svideo);
    svideo->trigger();
    QCOMPARE(SimGetInput(0), 1);
    QVERIFY(p_.sources->Action(40051 + 1 + p_.devices->Menu().iVideoInputMenuPos)->isChecked());
    QVERIFY(!p_.sources->Action(40050 + 1 + p_.devices->Menu().iVideoInputMenuPos)->isChecked());
  }

  void theCrossbarDialogRoutesAndTheSubMenuFollows() {
    Enable("320x240@15,inputs=3");
    p_.Open(dir_);
    QVERIFY(p_.devices->Menu().nSlotCrossbar >= 0);
    p_.window->OnCommand(kCmdPlay);
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* out = d->findChild<QComboBox*>(QStringLiteral("output0"));
      QVERIFY(out && out->count() == 3);
      const int svideo = out->findData(1);
      QVERIFY(svideo >= 0);
      out->setCurrentIndex(svideo);
      emit out->activated(svideo);
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotCrossbar);
    QCOMPARE(SimGetInput(0), 1);
    p_.ShowPopup();
    const int first = 40051 + p_.devices->Menu().iVideoInputMenuPos;
    QVERIFY(p_.sources->Action(first + 1)->isChecked());
    QVERIFY(!p_.sources->Action(first)->isChecked());
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));

    // A new frame format rebuilds the graph; the input stays as routed, and the sub-menu says so.
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* format = d->findChild<QComboBox*>(QStringLiteral("format"));
      QVERIFY(format && format->count() > 1);
      format->setCurrentIndex(1 - format->currentIndex());
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotVideoSource);
    QCOMPARE(SimGetInput(0), 1);
    QCOMPARE(LiveCrossbar()->CurrentRoute(), 1);
    p_.ShowPopup();
    QVERIFY(p_.sources->Action(first + 1)->isChecked());

    // Another video standard is set and remembered for the device.
    uint64_t standardBefore = 0;
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* standard = d->findChild<QComboBox*>(QStringLiteral("standard"));
      QVERIFY(standard && standard->count() > 1);
      standardBefore = standard->currentData().toULongLong();
      standard->setCurrentIndex(standard->currentIndex() == 0 ? 1 : 0);
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotVideoSource);
    uint64_t standard = 0;
    QVERIFY(ReadRememberedStandard(LiveDeviceId(), &standard));
    QVERIFY(standard != 0 && standard != standardBefore);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));

    // The tuner's frequency is set and remembered for the device.
    QVERIFY(p_.devices->Menu().nSlotTvTuner >= 0);
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* mhz = d->findChild<QDoubleSpinBox*>(QStringLiteral("frequency"));
      QVERIFY(mhz);
      mhz->setValue(mhz->minimum() + 1.0);
      emit mhz->editingFinished();
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotTvTuner);
    uint64_t hz = 0;
    QVERIFY(ReadRememberedFrequency(LiveDeviceId(), &hz));
    QVERIFY(hz > 0);
    // The main window's placeholder entry outlives the popup's rebuilds.
    QVERIFY(p_.window->Action(kCmdDeviceFirst));
    QVERIFY(!p_.window->Action(kCmdDeviceFirst)->text().isEmpty());
  }

  // The dialog entries open windows: no check box on them, while devices and inputs keep theirs. Each
  // dialog opens sized to its content and wholly on the screen, from a main window at the bottom of it.
  void everyDialogOpensWhollyOnTheScreen() {
    Enable("320x240@15,inputs=3,controls");
    p_.Open(dir_);
    const QRect screen = p_.window->screen()->availableGeometry();
    p_.window->move(screen.left() + (screen.width() - p_.window->width()) / 2, screen.bottom() - 230);
    p_.ShowPopup();
    const CDevMenu& menu = p_.devices->Menu();
    QVERIFY(p_.sources->Action(40030)->isCheckable());
    QVERIFY(p_.sources->Action(40051 + menu.iVideoInputMenuPos)->isCheckable());
    QList<int> dialogs;
    for (int slot : {menu.nSlotVideoSource, menu.nSlotCaptureFilter, menu.nSlotCrossbar, menu.nSlotTvTuner}) {
      QVERIFY(slot >= 0);
      dialogs << 40050 + slot;
    }
    for (int id : dialogs) {
      QAction* entry = p_.sources->Action(id);
      QVERIFY(entry);
      QVERIFY2(!entry->isCheckable(), qPrintable(entry->text()));
      QString title;
      DeviceDialogs::SetDialogHook([&](QDialog* d) {
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        title = d->windowTitle();
        const QRect frame = d->frameGeometry();
        QVERIFY2(screen.contains(frame), qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                                                        .arg(title)
                                                        .arg(frame.x())
                                                        .arg(frame.y())
                                                        .arg(frame.width())
                                                        .arg(frame.height())));
        auto* scroll = d->findChild<QScrollArea*>();
        // Buttons that scroll with the content may lie out of view; the dialog's own may not.
        for (QAbstractButton* b : d->findChildren<QAbstractButton*>()) {
          if (!b->isVisibleTo(d) || (scroll && scroll->isAncestorOf(b))) continue;
          QVERIFY2(screen.contains(QRect(b->mapToGlobal(QPoint(0, 0)), b->size())), qPrintable(b->text()));
        }
        if (scroll) {
          const int content = scroll->widget()->sizeHint().height();
          // Everything in view at once, or the dialog as tall as the screen lets it be and the rest scrolls.
          if (qEnvironmentVariableIsSet("ULMORA_TEST_CONTROLS_SCROLL"))
            QVERIFY2(scroll->viewport()->height() < content, qPrintable(title));
          if (scroll->viewport()->height() < content)
            QVERIFY2(frame.height() >= screen.height() - 2 && scroll->verticalScrollBar()->isVisible(),
                     qPrintable(title));
          else
            QCOMPARE(d->height(), d->sizeHint().height());
        } else {
          QCOMPARE(d->size(), d->sizeHint().expandedTo(d->minimumSizeHint()));
        }
        d->reject();
      });
      p_.window->OnCommand(id);
      QVERIFY2(!title.isEmpty(), qPrintable(entry->text()));
    }
  }

  void aTunerOnlyInputListChoosesTheTuner() {
    Enable("320x240@15");
    p_.Open(dir_);
    auto xbar = std::make_shared<ulmora::test::TestCrossbar>("tuner-only");
    xbar->AddInput(PhysConn_Video_Tuner);
    xbar->AddOutput(PhysConn_Video_VideoDecoder);
    HRESULT hr = E_FAIL;
    CCrossbar crossbar(CrossbarFeed{xbar, 0}, &hr);
    QVERIFY(hr >= 0);
    QCOMPARE(p_.devices->Menu().RebuildEntries(p_.devices->Count(), DeviceDialogEntries{}, &crossbar), 0);
    p_.ShowPopup();
    QAction* tuner = p_.sources->Action(40050 + 1 + p_.devices->Menu().iVideoInputMenuPos);
    QVERIFY(tuner);
    QCOMPARE(tuner->text(), QStringLiteral("Video Tuner"));
    QVERIFY(tuner->isChecked());
  }

  void entriesBeyond40069ShowAndDoNothing() {
    Enable("160x120@15,inputs=8,controls,count=9");
    p_.Open(dir_);
    p_.ShowPopup();
    const QList<int> ids = p_.Ids();
    QCOMPARE(ids.mid(0, 9), (QList<int>{40030, 40031, 40032, 40033, 40034, 40035, 40036, 40037, 40038}));
    QVERIFY(ids.last() > 40069);
    const int first = 40051 + p_.devices->Menu().iVideoInputMenuPos;
    QVERIFY(p_.sources->Action(first)->isChecked());
    const int before = SimGetInput(0);
    p_.sources->Action(ids.last())->trigger();
    QCOMPARE(SimGetInput(0), before);
    QVERIFY(!p_.sources->Action(ids.last())->isChecked());
    QVERIFY(p_.sources->Action(first)->isChecked());
    // The last one in range still works.
    if (first < 40069) {
      p_.sources->Action(40069)->trigger();
      QCOMPARE(SimGetInput(0), 40069 - first);
    }
  }

  void videoSourceStopsTheGraphAndGivesItsStateBack() {
    Enable("320x240@15,formats=yuy2|bgr");
    p_.Open(dir_);
    QCOMPARE(p_.devices->Menu().nSlotVideoSource, 1);
    const int id = 40050 + p_.devices->Menu().nSlotVideoSource;
    int during = -1;
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      during = p_.Run();
      d->reject();
    });
    p_.window->OnCommand(kCmdPlay);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    p_.window->OnCommand(id);
    QCOMPARE(during, static_cast<int>(kRunStopped));
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    QVERIFY(WaitFrames(2));

    p_.window->OnCommand(kCmdPause);
    QCOMPARE(p_.Run(), static_cast<int>(kRunPaused));
    during = -1;
    p_.window->OnCommand(id);
    QCOMPARE(during, static_cast<int>(kRunStopped));
    QCOMPARE(p_.Run(), static_cast<int>(kRunPaused));

    // A new frame format rebuilds the graph for it, and the graph runs again.
    p_.window->OnCommand(kCmdPlay);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    const uint32_t fourcc = p_.live->Session().Format().fccSubtype;
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* format = d->findChild<QComboBox*>(QStringLiteral("format"));
      QVERIFY(format && format->count() == 2);
      format->setCurrentIndex(1 - format->currentIndex());
      d->accept();
    });
    p_.window->OnCommand(id);
    QVERIFY(p_.live->Session().Format().fccSubtype != fourcc);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    QVERIFY(WaitFrames(2));
    QCOMPARE(p_.window->StatusText(1), QStringLiteral("Playing video..."));
  }

  // An analog card: a new standard changes the lines and rate the card sends, so the graph is built
  // again for it, while playing; the card enumerates no sizes, yet the dialog offers its range.
  void aNewStandardRebuildsTheGraphAtItsLines() {
    Enable("analog,inputs=2");
    p_.Open(dir_);
    QCOMPARE(p_.live->Session().Format().nVideoHeight, 576);
    p_.window->OnCommand(kCmdPlay);
    QVERIFY(WaitFrames(2));
    int sizes = 0;
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* standard = d->findChild<QComboBox*>(QStringLiteral("standard"));
      QVERIFY(standard);
      QCOMPARE(standard->currentText(), QStringLiteral("PAL"));  // the card answers PAL-B/G
      auto* size = d->findChild<QComboBox*>(QStringLiteral("size"));
      QVERIFY(size);
      sizes = size->count();
      standard->setCurrentIndex(standard->findText(QStringLiteral("NTSC")));
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotVideoSource);
    QVERIFY(sizes >= 2);
    QCOMPARE(p_.live->Session().Format().nVideoHeight, 480);
    QVERIFY(std::abs(p_.live->Session().GetFrameRate() - 29.97) < 0.01);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    QVERIFY(WaitFrames(2));
  }

  void anArrivalLeavesOnlyTheDeviceEntriesUntilADeviceIsChosen() {
    Enable("320x240@15,controls");
    p_.Open(dir_);
    p_.ShowPopup();
    QVERIFY(p_.sources->Action(40051));
    // Choosing the current device does nothing, not even a rebuild.
    p_.window->OnCommand(kCmdPlay);
    const auto* pipeline = p_.live->Impl().Pipeline();
    const uint32_t revision = p_.devices->Menu().Revision();
    p_.sources->Action(40030)->trigger();
    QCOMPARE(p_.live->Impl().Pipeline(), pipeline);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    QCOMPARE(p_.devices->Menu().Revision(), revision);

    // A camera plugged in after the start (none before): listed at the next opening, alone, and disabled
    // while the live graph is the active one.
    p_.Close();
    Enable("320x240@15,controls,plug-after=0.5");
    p_.Open(dir_);
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_[0].startsWith(QStringLiteral("Sorry, you have no video capture hardware.")));
    p_.ShowPopup();
    QVERIFY(p_.Ids().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!p_.devices->MenuValid(), 10000);
    p_.ShowPopup();
    QCOMPARE(p_.Ids(), (QList<int>{40030}));
    QVERIFY(!p_.sources->Action(40030)->isEnabled());
    QVERIFY(p_.sources->Action(40030)->isChecked());  // no current device: every entry checked
    p_.window->OnCommand(40030);
    p_.ShowPopup();
    QVERIFY(p_.Ids().size() > 1);
    QCOMPARE(p_.Ids()[1], 40051);
    QCOMPARE(p_.window->StatusText(1), QStringLiteral("Stopped..."));
  }

  void aControlChangesThePictureAndComesBackAtTheNextStart() {
    Enable("320x240@15,controls");
    p_.Open(dir_);
    p_.window->OnCommand(kCmdPlay);
    QVERIFY(WaitFrames(3));
    p_.window->OnCommand(kCmdStop);
    const double dark = p_.StoppedLiveMean();
    QVERIFY(dark >= 0);
    p_.window->OnCommand(kCmdPlay);
    QString problem = QStringLiteral("not opened");
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* controls = dynamic_cast<ControlsDialog*>(d);
      QVERIFY(controls);
      QSpinBox* brightness = controls->Number(V4L2_CID_BRIGHTNESS);
      QVERIFY(brightness && controls->Slider(V4L2_CID_BRIGHTNESS));
      brightness->setValue(60);
      problem = controls->Problem();
      QCOMPARE(controls->Slider(V4L2_CID_BRIGHTNESS)->value(), 60);
      QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));  // the stream kept running
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotCaptureFilter);
    QCOMPARE(problem, QString());
    int64_t value = 0;
    QVERIFY(SimGetControl(0, V4L2_CID_BRIGHTNESS, &value));
    QCOMPARE(value, int64_t{60});
    QVERIFY(WaitFrames(3));
    p_.window->OnCommand(kCmdStop);
    QVERIFY2(p_.StoppedLiveMean() > dark + 10,
             qPrintable(QStringLiteral("%1 -> %2").arg(dark).arg(p_.StoppedLiveMean())));

    // The next start (the device back at its own default) gets the value again.
    p_.Close();
    QVERIFY(SimSetControl(0, V4L2_CID_BRIGHTNESS, 0));
    p_.Open(dir_);
    QVERIFY(SimGetControl(0, V4L2_CID_BRIGHTNESS, &value));
    QCOMPARE(value, int64_t{60});

    // Defaults again: the device's own, and nothing remembered any more.
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      dynamic_cast<ControlsDialog*>(d)->ResetToDefaults();
      QTRY_COMPARE(dynamic_cast<ControlsDialog*>(d)->Number(V4L2_CID_BRIGHTNESS)->value(), 0);
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotCaptureFilter);
    QVERIFY(SimGetControl(0, V4L2_CID_BRIGHTNESS, &value));
    QCOMPARE(value, int64_t{0});
  }

  // A camera that takes 50 ms per control request: dragging a slider never waits for it, sends at
  // most one request per step (the last value always), and the dialog shows what the device took.
  void aSliderDragNeverWaitsForTheDevice() {
    Enable("320x240@15,controls,latency=50");
    p_.Open(dir_);
    const int kSteps = 40;
    uint32_t duringDrag = 0, before = 0;
    DeviceDialogs::SetDialogHook([&](QDialog* d) {
      auto* controls = dynamic_cast<ControlsDialog*>(d);
      QVERIFY(controls);
      QSlider* gain = controls->Slider(V4L2_CID_GAIN);
      QSlider* contrast = controls->Slider(V4L2_CID_CONTRAST);
      QVERIFY(gain && contrast);
      before = SimControlWrites(0);
      for (int v = 10; v < 10 + kSteps; ++v) gain->setValue(v);
      duringDrag = SimControlWrites(0) - before;
      int64_t value = 0;
      QTRY_VERIFY_WITH_TIMEOUT(SimGetControl(0, V4L2_CID_GAIN, &value) && value == 10 + kSteps - 1, 10000);
      // The device rounds to its step of 4: the dialog shows and remembers 104, not 102.
      contrast->setValue(102);
      QTRY_COMPARE_WITH_TIMEOUT(controls->Number(V4L2_CID_CONTRAST)->value(), 104, 5000);
      // A bitmask's bit 31 is a flag like the others.
      QCheckBox* top = controls->Bit(V4L2_CID_USER_BASE | 0x1001, 31);
      QCheckBox* low = controls->Bit(V4L2_CID_USER_BASE | 0x1001, 0);
      QVERIFY(top && low && top->isChecked() && !low->isChecked());
      low->setChecked(true);
      QTRY_VERIFY_WITH_TIMEOUT(SimGetControl(0, V4L2_CID_USER_BASE | 0x1001, &value) && value == 0x80000001LL, 5000);
      d->accept();
    });
    p_.window->OnCommand(40050 + p_.devices->Menu().nSlotCaptureFilter);
    QVERIFY2(duringDrag < kSteps / 4, qPrintable(QStringLiteral("%1 requests while dragging").arg(duringDrag)));
    QVERIFY(SimControlWrites(0) - before <= static_cast<uint32_t>(kSteps) + 1);
    bool remembered = false;
    for (const RememberedControl& c : ReadRememberedControls("sim:0"))
      if (c.nId == V4L2_CID_CONTRAST) remembered = c.nValue == 104;
    QVERIFY(remembered);
  }

  void unplugDuringACaptureRunAndReconnect() {
    Enable("320x240@15,unplug-after=1.5,replug-after=1");
    p_.Open(dir_);
    CSG& sg = p_.live->Session();
    // What the person sees while the message is up; they read it for a while, and the device comes
    // back meanwhile.
    int runAtBox = -1, filesAtBox = -1;
    bool captureAtBox = true;
    double pictureAtBox = -1;
    MainWindow::SetBoxHook([&](const QString& text, const QString&, QMessageBox::Icon) {
      boxes_ << text;
      if (boxes_.size() != 1) return;
      runAtBox = p_.Run();
      captureAtBox = sg.Capture().bCapture.load() != 0;
      filesAtBox = CountFiles(dir_, ".bmp");
      pictureAtBox = p_.StoppedLiveMean();
      QTest::qWait(2000);
    });
    sg.SetCapCount(100000);
    p_.window->OnCommand(kCmdPlay);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    sg.StartCapture(1);
    QTRY_VERIFY_WITH_TIMEOUT(!boxes_.isEmpty(), 15000);
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_[0].contains(QStringLiteral("unplugged")));
    QCOMPARE(runAtBox, static_cast<int>(kRunStopped));
    QVERIFY(!captureAtBox);
    QVERIFY(filesAtBox > 0);
    QCOMPARE(sg.Capture().nCapTotal + sg.Capture().nCaptured.load(), static_cast<uint32_t>(filesAtBox));
    QVERIFY(pictureAtBox > 0);  // the last picture stays
    const uint32_t totalAtBox = sg.Capture().nCapTotal;

    // Back by itself, running as before, and said so; the capture run goes on with its numbering.
    QTRY_VERIFY_WITH_TIMEOUT(p_.window->StatusText(1).contains(QStringLiteral("is connected again")), 15000);
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    QVERIFY(!p_.sources->Reconnect().Lost());
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(sg.Capture().bCapture.load() != 0);
    QVERIFY(WaitFrames(2));
    QTRY_VERIFY_WITH_TIMEOUT(CountFiles(dir_, ".bmp") > filesAtBox, 10000);
    QCOMPARE(sg.Capture().nCapTotal, totalAtBox);
  }

  // Nobody at the screen: the notice blocks nothing, and the pictures move again soon after each
  // return of the camera, without a key pressed.
  void comesBackWithoutAKeyPressedAfterEachUnplug() {
    MainWindow::SetBoxHook({});
    Enable("320x240@15,unplug-after=2,replug-after=2");
    p_.Open(dir_);
    p_.window->OnCommand(kCmdPlay);
    // A recording (SER into the capture folder, the defaults) closes its file at each loss and goes on
    // in a new one when the camera is back.
    p_.window->OnCommand(kCmdRecord);
    QVERIFY(p_.window->Recorder()->IsRecording());
    for (int round = 0; round < 2; ++round) {
      QTRY_VERIFY_WITH_TIMEOUT(p_.sources->Reconnect().Lost(), 10000);
      QElapsedTimer sinceUnplug;
      sinceUnplug.start();
      QTRY_VERIFY_WITH_TIMEOUT(p_.window->Notice() && p_.window->Notice()->isVisible(), 3000);
      QVERIFY(!p_.window->Notice()->isModal());
      QVERIFY(!QApplication::activeModalWidget());
      QVERIFY(p_.window->StatusText(1).contains(QStringLiteral("unplugged")));
      QTRY_VERIFY_WITH_TIMEOUT(!p_.sources->Reconnect().Lost(), 10000);
      QVERIFY(WaitFrames(3));
      // The camera is back 2 s after it went; the pictures must move within 5 s of that.
      QVERIFY2(sinceUnplug.elapsed() < 2000 + 5000, QByteArray::number(sinceUnplug.elapsed()).constData());
      QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
      QTRY_VERIFY_WITH_TIMEOUT(!p_.window->Notice(), 3000);
    }
    QCOMPARE(p_.sources->Reconnect().Reconnects(), 2u);
    QTRY_VERIFY_WITH_TIMEOUT(p_.window->Recorder()->IsRecording(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(p_.window->ActiveSession()->Recording().frames > 0, 3000);
    p_.window->OnCommand(kCmdRecord);
    const QStringList files = QDir(dir_).entryList({QStringLiteral("*.ser")}, QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 3);
    for (const QString& f : files) QVERIFY2(test::ReadSer((dir_ + '/' + f).toStdString()).frames > 0, qPrintable(f));
  }

  void aFrozenCameraIsOpenedAgainByTheWatchdog() {
    Enable("320x240@15,freeze-after=1");
    p_.Open(dir_);
    p_.window->OnCommand(kCmdPlay);
    QVERIFY(WaitFrames(3));
    QTRY_VERIFY_WITH_TIMEOUT(p_.sources->Reconnect().Stalls() == 1, 12000);
    QVERIFY(WaitFrames(3));
    QCOMPARE(p_.Run(), static_cast<int>(kRunRunning));
    QVERIFY(!p_.sources->Reconnect().Lost());
    QVERIFY(p_.window->StatusText(1).contains(QStringLiteral("opened again")));
  }

  void aPausedGraphIsPausedAgainAfterReconnecting() {
    Enable("320x240@15,controls");
    p_.Open(dir_);
    p_.window->OnCommand(kCmdPlay);
    QVERIFY(WaitFrames(2));
    p_.window->OnCommand(kCmdPause);
    // The device goes and comes back while paused: no frame fails, the list tells.
    DisableSimCamera();
    QTRY_VERIFY_WITH_TIMEOUT(p_.sources->Reconnect().Lost(), 10000);
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(p_.Run(), static_cast<int>(kRunStopped));
    Enable("320x240@15,controls");
    QTRY_VERIFY_WITH_TIMEOUT(!p_.sources->Reconnect().Lost(), 10000);
    QCOMPARE(p_.Run(), static_cast<int>(kRunPaused));
    QVERIFY(p_.window->StatusText(1).contains(QStringLiteral("is connected again")));
  }
};

QTEST_MAIN(SourcesTest)
#include "sources_test.moc"
