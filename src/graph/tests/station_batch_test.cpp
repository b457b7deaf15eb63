// ulmora-batch as an unattended station on the simulated camera: a run that goes on through unplugs,
// a frozen camera the watchdog opens again, the status file a monitor reads at any moment, and the
// service manager's notify protocol seen from a socket of the test's own.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "graph/tests/batch_tool.h"

namespace ulmora::test {
namespace {

class StationBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeDir("station");
    ASSERT_FALSE(dir.empty());
    caps = dir + "/caps";
    ASSERT_EQ(mkdir(caps.c_str(), 0755), 0);
  }
  void TearDown() override { RemoveDir(dir); }
  int Run(const std::string& env, const std::string& args, std::string* out = nullptr) {
    return RunBatchTool(dir, "XDG_CONFIG_HOME='" + dir + "/config' " + env, args, out);
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  std::string dir, caps;
};

TEST_F(StationBatchTest, WaitDeviceKeepsOneRunThroughTwoUnplugsWithTheGapsInTheSummary) {
  std::string out;
  ASSERT_EQ(Run("",
                "--sim-camera=320x240@30,unplug-after=2,replug-after=2 --device sim:0 --wait-device=20 "
                "--seconds 9 -q -o '" +
                    caps + "'",
                &out),
            0)
      << out;
  EXPECT_NE(out.find("gaps 2,"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "(device gone)"), 2u) << out;
  // Frame numbers go on after each return: no name is used twice, and every picture is whole.
  EXPECT_EQ(out.find("numbered name"), std::string::npos) << out;
  const std::vector<std::string> files = BmpNames(caps);
  ASSERT_GT(files.size(), 10u) << out;
  for (const std::string& f : files) {
    struct stat st {};
    ASSERT_EQ(stat((caps + "/" + f).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 54 + 320 * 240 * 3) << f;
  }
  EXPECT_NE(out.find("files written " + std::to_string(files.size())), std::string::npos) << out;
}

TEST_F(StationBatchTest, WithoutWaitDeviceTheRunEndsAtTheUnplug) {
  std::string out;
  EXPECT_EQ(Run("", "--sim-camera=320x240@30,unplug-after=1,replug-after=1 --device sim:0 -q -o '" + caps + "'", &out),
            1);
  EXPECT_NE(out.find("recording from 'sim:0' failed"), std::string::npos) << out;
  EXPECT_EQ(out.find("gaps"), std::string::npos) << out;
}

TEST_F(StationBatchTest, AFrozenCameraIsOpenedAgainByTheWatchdog) {
  std::string out;
  ASSERT_EQ(Run("", "--sim-camera=320x240@30,freeze-after=1 --device sim:0 --seconds 8.5 --no-capture -q", &out), 0)
      << out;
  EXPECT_NE(out.find("stalled (1 so far)"), std::string::npos) << out;
  EXPECT_NE(out.find("(stalled)"), std::string::npos) << out;
  // One second of frames before the freeze and about one after the rebuild.
  const size_t at = out.find("frames in ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_GT(std::stoul(out.substr(at + 10)), 45u) << out;
}

TEST_F(StationBatchTest, BadStationOptionsEndWithStatus2BeforeAnythingStarts) {
  std::string out;
  EXPECT_EQ(
      Run("", "--sim-camera --device sim:0 -n 1 --status-file '" + dir + "/missing/s.json' -o '" + caps + "'", &out),
      2);
  EXPECT_NE(out.find("missing"), std::string::npos) << out;
  EXPECT_EQ(Run("", "--sim-camera --device sim:0 -n 1 --status-file '" + caps + "' -o '" + caps + "'", &out), 2);
  EXPECT_EQ(Run("", "--sim-camera --device sim:0 -n 1 --wait-device=soon -o '" + caps + "'", &out), 2);
  EXPECT_NE(out.find("soon"), std::string::npos) << out;
  EXPECT_EQ(Run("", "--wait-device clip.avi", &out), 2);
  EXPECT_NE(out.find("--wait-device needs --device"), std::string::npos) << out;
  EXPECT_TRUE(BmpNames(caps).empty());
}

// A clock the test sets, 20 times as fast: the window 22:00 to 22:01 is 3 s of recording, 3 s in.
TEST_F(StationBatchTest, RecordsOnlyInsideTheScheduleWithTheDeviceClosedOutside) {
  std::string out;
  const std::string status = dir + "/status.json";
  // 2025-01-01 21:59:00 UTC.
  ASSERT_EQ(Run("TZ=UTC ULMORA_FAKE_CLOCK=1735768740,20",
                "--sim-camera=320x240@30 --device sim:0 --start-at 22:00 --stop-at 22:01 --seconds 9.5 --no-capture "
                "-q --status-file '" +
                    status + "'",
                &out),
            0)
      << out;
  EXPECT_EQ(Count(out, "outside the recording window"), 2u) << out;
  EXPECT_EQ(Count(out, "opened again"), 1u) << out;
  const size_t at = out.find("frames in ");
  ASSERT_NE(at, std::string::npos) << out;
  const unsigned long frames = std::stoul(out.substr(at + 10));
  EXPECT_GT(frames, 50u) << out;   // about 90 in the window
  EXPECT_LT(frames, 160u) << out;  // and none outside it
  EXPECT_NE(ReadFile(status).find("\"scheduled-off\""), std::string::npos);
}

TEST_F(StationBatchTest, BadSchedulesEndWithStatus2) {
  const std::pair<const char*, const char*> bad[] = {
      {"--start-at 22:00", "together"},
      {"--stop-at 06:00", "together"},
      {"--start-at 25:00 --stop-at 06:00", "bad time '25:00'"},
      {"--start-at 22:00 --stop-at 22:00", "the same time"},
      {"--night 95,10", "latitude"},
      {"--night 45,10,-100", "sun altitude"},
      {"--night north,east", "latitude"},
      {"--night 45,10 --start-at 22:00 --stop-at 06:00", "either --night"},
  };
  for (const auto& [args, why] : bad) {
    std::string out;
    EXPECT_EQ(Run("", std::string("--sim-camera --device sim:0 ") + args + " -o '" + caps + "'", &out), 2) << args;
    EXPECT_NE(out.find(why), std::string::npos) << args << ": " << out;
  }
  std::string out;
  EXPECT_EQ(Run("", "--night 45,10 clip.avi", &out), 2);
  EXPECT_NE(out.find("a schedule needs --device"), std::string::npos) << out;
}

// A reader looks while the run rewrites the file: every version it sees is a whole JSON document.
TEST_F(StationBatchTest, TheStatusFileIsWholeJsonAtEveryMoment) {
  const std::string status = dir + "/status.json";
  std::atomic<bool> done{false};
  std::set<std::string> seen;
  std::thread reader([&] {
    while (!done.load()) {
      std::ifstream in(status);
      if (in) seen.insert(std::string(std::istreambuf_iterator<char>(in), {}));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::string out;
  const int rc = Run("",
                     "--sim-camera=320x240@30,unplug-after=1.5,replug-after=1 --device sim:0 --wait-device "
                     "--seconds 5 -q -o '" +
                         caps + "' --status-file '" + status + "'",
                     &out);
  done.store(true);
  reader.join();
  ASSERT_EQ(rc, 0) << out;
  seen.erase(std::string());
  ASSERT_GE(seen.size(), 3u);
  int i = 0;
  std::string checks;
  for (const std::string& doc : seen) {
    const std::string path = dir + "/seen" + std::to_string(i++) + ".json";
    std::ofstream(path) << doc;
    checks += " '" + path + "'";
  }
  const std::string script =
      "import json,sys\n"
      "for p in sys.argv[1:]:\n"
      "  d = json.load(open(p))\n"
      "  assert d['state'] in ('waiting','recording','reconnecting','stalled'), d\n"
      "  assert d['device']['id'] == 'sim:0' and d['capture_free_bytes'] > 0, d\n";
  std::ofstream(dir + "/check.py") << script;
  EXPECT_EQ(std::system(("python3 '" + dir + "/check.py'" + checks).c_str()), 0);
  const std::string last = ReadFile(status);
  EXPECT_NE(last.find("\"gaps\": 2"), std::string::npos) << last;
  EXPECT_NE(last.find("\"last_frame_utc\": \"20"), std::string::npos) << last;
  bool sawReconnecting = false;
  for (const std::string& doc : seen) sawReconnecting |= doc.find("\"reconnecting\"") != std::string::npos;
  EXPECT_TRUE(sawReconnecting);
}

TEST_F(StationBatchTest, AStatusFileThatCannotBeWrittenIsToldOnceAndTheRunGoesOn) {
  const std::string folder = dir + "/status";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  std::thread remover([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (int i = 0; i < 50 && rmdir(folder.c_str()) != 0; ++i) {
      unlink((folder + "/s.json").c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  std::string out;
  const int rc = Run(
      "",
      "--sim-camera=320x240@30 --device sim:0 --seconds 4 -q -o '" + caps + "' --status-file '" + folder + "/s.json'",
      &out);
  remover.join();
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(Count(out, "status file"), 1u) << out;
  EXPECT_GT(BmpNames(caps).size(), 10u);
}

// The notify socket a service manager would listen on, with the kernel's arrival time of each message.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    const int on = 1;
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
          setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) close(fd_);
    unlink(path_.c_str());
  }
  bool Ok() const { return ok_; }
  // Every message queued, with its arrival in seconds.
  std::vector<std::pair<double, std::string>> Drain() {
    std::vector<std::pair<double, std::string>> all;
    for (;;) {
      char data[4096];
      char control[CMSG_SPACE(sizeof(timeval))];
      iovec iov{data, sizeof data};
      msghdr msg{};
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT);
      if (n < 0) break;
      double at = 0;
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMP) continue;
        timeval tv{};
        std::memcpy(&tv, CMSG_DATA(c), sizeof tv);
        at = tv.tv_sec + tv.tv_usec / 1e6;
      }
      all.emplace_back(at, std::string(data, static_cast<size_t>(n)));
    }
    return all;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool ok_ = false;
};

TEST_F(StationBatchTest, TellsTheServiceManagerReadyAndKeepsAliveOnlyWhileFramesFlow) {
  NotifySocket sock(dir + "/notify");
  ASSERT_TRUE(sock.Ok());
  std::string out;
  // Frames for 2 s, then none: the watchdog of our own would reopen only after 5 s.
  ASSERT_EQ(Run("NOTIFY_SOCKET='" + dir + "/notify'",
                "--sim-camera=320x240@30,freeze-after=2 --device sim:0 --seconds 5 --no-capture -q", &out),
            0)
      << out;
  double ready = -1;
  std::vector<double> alive;
  bool status = false;
  for (const auto& [at, text] : sock.Drain()) {
    if (text.find("READY=1") != std::string::npos && ready < 0) ready = at;
    if (text.find("WATCHDOG=1") != std::string::npos) alive.push_back(at);
    status |= text.find("STATUS=recording") != std::string::npos;
  }
  ASSERT_GE(ready, 0) << out;
  EXPECT_TRUE(status);
  ASSERT_GE(alive.size(), 1u);
  for (double at : alive) {
    EXPECT_GE(at, ready);
    EXPECT_LT(at - ready, 3.0) << "a keep-alive while no frame came";
  }
}

}  // namespace
}  // namespace ulmora::test
