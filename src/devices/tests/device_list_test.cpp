// The device list over a real device monitor and the simulated camera: enumeration (nine of ten), the
// remembered device, choosing the current one, hot-plug clearing the menu flag, stable identities, and
// the Sources menu model.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devices/crossbar.h"
#include "devices/dev_menu.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "simcam/sim_camera.h"
#include "simcam/sim_devices.h"
#include "devices/tests/test_crossbar.h"
#include "settings/profile.h"
#include "settings/profile_keys.h"

namespace ulmora::test {
namespace {

struct ChangeWindow : IWindow {
  std::atomic<int> changes{0};
  void PostMsg(unsigned msg) override {
    if (msg == kMsgDeviceChange) ++changes;
  }
  void GetClientSize(int& w, int& h) override { w = h = 0; }
  void Invalidate(bool) override {}
};

std::string MakeTempDir() {
  char pattern[] = "/tmp/ulmora-devlist-XXXXXX";
  const char* d = mkdtemp(pattern);
  return d ? d : "";
}

class DeviceListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    ProfileUsePath(dir + "/ulmora.ini");
    devices = std::make_unique<CDeviceList>(Hooks());
  }
  // Builds are counted and answered with buildResult; warnings are kept.
  DeviceListHooks Hooks() {
    DeviceListHooks hooks;
    hooks.buildCaptureGraph = [this] {
      ++builds;
      return buildResult;
    };
    hooks.warning = [this](const char* text) { warnings.emplace_back(text); };
    return hooks;
  }
  void TearDown() override {
    devices.reset();
    DisableSimCamera();
    ProfileUsePath("");
    const std::string cmd = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  void Enable(const char* setup) {
    std::string error;
    ASSERT_TRUE(EnableSimCamera(setup, &error)) << error;
  }
  int CheckedDevice() const {
    for (const MenuEntry& e : devices->Menu().Entries())
      if (e.id >= kDevMenuDeviceFirst && e.id < kDevMenuSourcesFirst && e.checked) return e.id;
    return 0;
  }
  static std::string Stored() {
    char text[1024] = "";
    ProfileReadText(ProfileKey::VideoDevice2, text, sizeof text);
    return text;
  }

  std::string dir;
  std::unique_ptr<CDeviceList> devices;
  int builds = 0;
  int32_t buildResult = 0;
  std::vector<std::string> warnings;
};

TEST_F(DeviceListTest, TenCamerasListNineWithTheirCommandIds) {
  Enable("count=10");
  devices->Enumerate();
  ASSERT_EQ(devices->Count(), 9);
  const auto& entries = devices->Menu().Entries();
  ASSERT_EQ(entries.size(), 9u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(entries[static_cast<size_t>(i)].id, 40030 + i);
  EXPECT_EQ(entries[0].text, "Ulmora Simulated Camera");
  EXPECT_EQ(entries[8].text, "Ulmora Simulated Camera #9");
  // A tool sees every one of them, with its identity.
  const std::vector<DeviceInfo> all = devices->ListAll();
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all[9].id, "sim:9");
}

TEST_F(DeviceListTest, RemembersTheChosenDeviceAndFallsBackToTheFirst) {
  Enable("count=3");
  ProfileWriteText(ProfileKey::VideoDevice2, "sim:2");
  devices->Restore();
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(CheckedDevice(), 40032);
  devices->Save();
  EXPECT_EQ(Stored(), "sim:2");

  // The remembered camera is gone: the first one is used and stored at close (the next start's list).
  devices.reset();
  devices = std::make_unique<CDeviceList>(Hooks());
  ProfileWriteText(ProfileKey::VideoDevice2, "sim:7");
  devices->Restore();
  EXPECT_EQ(CheckedDevice(), 40030);
  devices->Save();
  EXPECT_EQ(Stored(), "sim:0");
  EXPECT_EQ(ProfileReadInt(ProfileKey::MasterStream), 1);
}

TEST_F(DeviceListTest, ChoosingTheCurrentDeviceRebuildsNothing) {
  Enable("count=2");
  devices->Restore();
  ASSERT_EQ(builds, 1);
  EXPECT_EQ(devices->ChooseCommand(40030), 0);
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(devices->ChooseCommand(40031), 1);
  EXPECT_EQ(builds, 2);
  EXPECT_EQ(CheckedDevice(), 40031);
  EXPECT_EQ(devices->ChooseCommand(40035), -2);  // an empty slot
}

TEST_F(DeviceListTest, AFailedBuildLeavesNoCurrentDeviceAndKeepsTheStoredOne) {
  Enable("count=1");
  ProfileWriteText(ProfileKey::VideoDevice2, "/dev/v4l/by-id/usb-Some_Camera-video-index0");
  buildResult = static_cast<int32_t>(0x80004005u);
  devices->Restore();
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(CheckedDevice(), 0);
  devices->Save();
  EXPECT_EQ(Stored(), "/dev/v4l/by-id/usb-Some_Camera-video-index0");
}

TEST_F(DeviceListTest, NoDeviceWarnsOnceAndBuildsNothing) {
  devices->Restore();
  EXPECT_EQ(builds, 0);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "Sorry, you have no video capture hardware.\r\n\r\nVideo capture will not function properly.");
  devices->Enumerate();  // the list is still valid: nothing is done
  EXPECT_EQ(warnings.size(), 1u);
}

TEST_F(DeviceListTest, ACameraPluggedInLaterClearsTheMenuFlag) {
  Enable("plug-after=0.3");
  ChangeWindow window;
  devices->SetNotifyWindow(&window);
  devices->Restore();
  EXPECT_EQ(devices->Count(), 0);
  EXPECT_TRUE(devices->MenuValid());
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (devices->MenuValid() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(devices->MenuValid());
  EXPECT_GE(window.changes.load(), 1);
  devices->Enumerate();
  EXPECT_EQ(devices->Count(), 1);
  devices->SetNotifyWindow(nullptr);  // the monitor's thread must not post to a window that is gone
}

TEST_F(DeviceListTest, StableIdentityPrefersTheByIdLinkOfACameraWithASerialThenByPath) {
  const std::string node = dir + "/video3", byId = dir + "/by-id", byPath = dir + "/by-path", sys = dir + "/sys";
  for (const std::string& d : {byId, byPath, sys, sys + "/video3", sys + "/video3/device"})
    ASSERT_EQ(mkdir(d.c_str(), 0700), 0) << d;
  FILE* f = std::fopen(node.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(symlink(node.c_str(), (byPath + "/pci-0000:00:14.0-usb-0:1:1.0-video-index0").c_str()), 0);
  ASSERT_EQ(symlink("../video3", (byId + "/usb-Maker_Cam-video-index0").c_str()), 0);
  // Without a serial number udev's by-id name is shared by every camera of the model.
  EXPECT_EQ(StableNodeIdentity(node.c_str(), byId.c_str(), byPath.c_str(), sys.c_str()),
            byPath + "/pci-0000:00:14.0-usb-0:1:1.0-video-index0");
  f = std::fopen((sys + "/video3/serial").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("123\n", f);
  std::fclose(f);
  EXPECT_EQ(StableNodeIdentity(node.c_str(), byId.c_str(), byPath.c_str(), sys.c_str()),
            byId + "/usb-Maker_Cam-video-index0");
  ASSERT_EQ(unlink((byId + "/usb-Maker_Cam-video-index0").c_str()), 0);
  EXPECT_EQ(StableNodeIdentity(node.c_str(), byId.c_str(), byPath.c_str(), sys.c_str()),
            byPath + "/pci-0000:00:14.0-usb-0:1:1.0-video-index0");
  ASSERT_EQ(unlink((byPath + "/pci-0000:00:14.0-usb-0:1:1.0-video-index0").c_str()), 0);
  EXPECT_EQ(StableNodeIdentity(node.c_str(), byId.c_str(), byPath.c_str(), sys.c_str()), node);
  EXPECT_EQ(StableNodeIdentity("/dev/video99", byId.c_str(), byPath.c_str(), sys.c_str()), "/dev/video99");
}

// udev gives a camera with a serial number a by-id link; after an unplug the node number goes to the
// next camera plugged in, and the link with it.
TEST_F(DeviceListTest, AnUnpluggedCameraKeepsItsIdentityWhenAnotherTakesItsNode) {
  Enable("links");
  devices->Restore();
  const std::string first = "sim:by-id/usb-Ulmora_Simulated_Camera_SN0001-video-index0";
  ASSERT_EQ(devices->CurrentIdentity(), first);
  const auto waitChange = [this](uint32_t seen) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (devices->ChangesSeen() == seen && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return devices->ChangesSeen() != seen;
  };
  uint32_t seen = devices->ChangesSeen();
  ASSERT_TRUE(SimUnplugDevice(0));
  ASSERT_TRUE(waitChange(seen));
  EXPECT_EQ(devices->CurrentIdentity(), first);
  seen = devices->ChangesSeen();
  ASSERT_TRUE(SimPlugOtherCamera(0, 5));
  ASSERT_TRUE(waitChange(seen));
  const std::vector<DeviceInfo> now = devices->ListAll();
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0].id, "sim:by-id/usb-Ulmora_Simulated_Camera_SN0006-video-index0");
  EXPECT_FALSE(devices->IsListed(first));
  EXPECT_EQ(devices->CurrentIdentity(), first);
  devices->Save();
  EXPECT_EQ(Stored(), first);
}

TEST_F(DeviceListTest, ACaptureCardWithoutASerialIsKnownByItsPort) {
  Enable("links,analog,count=2");
  const std::vector<DeviceInfo> all = devices->ListAll();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].id, "sim:by-path/platform-sim-usb-0:1:1.0-video-index0");
  EXPECT_EQ(all[1].id, "sim:by-path/platform-sim-usb-0:2:1.0-video-index0");
}

TEST_F(DeviceListTest, MenuModelDialogEntriesAndTheVideoInputSubMenu) {
  auto xbar = std::make_shared<TestCrossbar>("x");
  xbar->AddInput(PhysConn_Video_Tuner);
  xbar->AddInput(PhysConn_Video_SVideo);
  xbar->AddInput(PhysConn_Video_Composite);
  xbar->AddOutput(PhysConn_Video_VideoDecoder);
  HRESULT hr = E_FAIL;
  CCrossbar crossbar(CrossbarFeed{xbar, 0}, &hr);
  ASSERT_GE(hr, 0);

  CDevMenu menu;
  menu.AppendDevice(0, "A", true, true);
  menu.AppendDevice(1, "B", false, true);
  DeviceDialogEntries dialogs;
  dialogs.bVideoSource = dialogs.bCaptureFilter = true;
  const int chosen = menu.RebuildEntries(2, dialogs, &crossbar);
  // With two devices the first dialog entry is 40052; with no remembered type the composite route wins.
  const auto& e = menu.Entries();
  ASSERT_EQ(e.size(), 7u);
  EXPECT_EQ(e[2].kind, MenuEntry::Kind::kSeparator);
  EXPECT_EQ(e[3].id, 40052);
  EXPECT_EQ(e[3].text, "Video Source...");
  EXPECT_EQ(e[4].id, 40053);
  EXPECT_EQ(e[4].text, "Video Capture Filter...");
  EXPECT_EQ(e[5].kind, MenuEntry::Kind::kSeparator);
  ASSERT_EQ(e[6].kind, MenuEntry::Kind::kSubMenu);
  EXPECT_EQ(e[6].text, "Video Input");
  ASSERT_EQ(e[6].items.size(), 3u);
  EXPECT_EQ(e[6].items[0].id, 40055);
  EXPECT_EQ(e[6].items[0].text, "Video Tuner");
  EXPECT_EQ(chosen, 2);
  EXPECT_TRUE(e[6].items[2].checked);

  EXPECT_EQ(menu.PropertyCommand(40052).action, SourcesAction::kVideoSource);
  EXPECT_EQ(menu.PropertyCommand(40053).action, SourcesAction::kCaptureFilter);
  const SourcesCommand input = menu.PropertyCommand(40056);
  EXPECT_EQ(input.action, SourcesAction::kVideoInput);
  EXPECT_EQ(input.nInput, 1);
  EXPECT_TRUE(menu.Entries()[6].items[1].checked);
  EXPECT_FALSE(menu.Entries()[6].items[2].checked);
  EXPECT_EQ(menu.PropertyCommand(40054).action, SourcesAction::kNone);  // the sub-menu's own slot
  EXPECT_EQ(menu.PropertyCommand(40070).action, SourcesAction::kNone);

  // A rebuild keeps the device entries and replaces the rest.
  menu.RebuildEntries(2, DeviceDialogEntries{}, nullptr);
  EXPECT_EQ(menu.Entries().size(), 3u);
  EXPECT_EQ(menu.nSlotVideoSource, -1);
}

}  // namespace
}  // namespace ulmora::test
