// ulmora-batch as a new user tries it: recording from the simulated camera, listing devices, stopping
// by signal, and the refusals of a profile it must not touch, bad --set values and a file without frames.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "graph/tests/batch_tool.h"

namespace ulmora::test {
namespace {

class LiveBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeDir("livebatch");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override { RemoveDir(dir); }

  // Runs the tool with a private profile location; returns its exit status, output in *out.
  int Run(const std::string& env, const std::string& args, std::string* out = nullptr) {
    return RunBatchTool(dir, "XDG_CONFIG_HOME='" + dir + "/config' " + env, args, out);
  }
  static std::vector<std::string> Bmps(const std::string& d) { return BmpNames(d); }
  static off_t SizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
  }

  std::string dir;
};

TEST_F(LiveBatchTest, RecordsTenPicturesFromTheSimulatedCamera) {
  std::string out;
  ASSERT_EQ(Run("ULMORA_SIM_CAMERA=1", "-q --device sim:0 -n 10 -o '" + dir + "'", &out), 0) << out;
  const std::vector<std::string> files = Bmps(dir);
  ASSERT_EQ(files.size(), 10u) << out;
  for (const std::string& f : files) {
    EXPECT_EQ(f.rfind("capUlmora", 0), 0u) << f;  // the template's "%n" is the device's name
    EXPECT_EQ(SizeOf(dir + "/" + f), 54 + 640 * 480 * 3);
  }
  EXPECT_NE(out.find("files written 10"), std::string::npos) << out;
  EXPECT_NE(out.find("source dropped "), std::string::npos) << out;
  EXPECT_NE(out.find("chain dropped 0"), std::string::npos) << out;
}

TEST_F(LiveBatchTest, ListsDevicesAsIdTabName) {
  std::string out;
  ASSERT_EQ(Run("", "--sim-camera=count=2 --list-devices", &out), 0) << out;
  EXPECT_EQ(out, "sim:0\tUlmora Simulated Camera\nsim:1\tUlmora Simulated Camera #2\n");
  EXPECT_EQ(Run("", "--device sim:3 -n 1 -o '" + dir + "'", &out), 1);
  EXPECT_NE(out.find("no video device 'sim:3'"), std::string::npos) << out;
}

TEST_F(LiveBatchTest, SecondsEndTheRecording) {
  std::string out;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(Run("ULMORA_SIM_CAMERA=1", "-q --device sim:0 --seconds 1 --no-capture", &out), 0) << out;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(8));
  EXPECT_NE(out.find("files written 0"), std::string::npos) << out;
  EXPECT_EQ(out.find("frames in 0,"), std::string::npos) << out;
}

// Records 1280x720 pictures into sub until five are there, then sends the signals one right after the
// other; the exit status (-1: killed by a signal).
int RecordAndStop(const std::string& dir, const std::string& sub, std::initializer_list<int> signals) {
  const std::string out = dir + "/" + sub;
  if (mkdir(out.c_str(), 0755) != 0) return -2;
  const pid_t pid = fork();
  if (pid < 0) return -2;
  if (pid == 0) {
    setenv("ULMORA_SIM_CAMERA", "1280x720@30", 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    const std::string arg = "-o" + out;
    execl(ULMORA_BATCH_EXE, ULMORA_BATCH_EXE, "-q", "--device", "sim:0", "-s", "ProcCountAccum=1", arg.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (BmpNames(out).size() < 5 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int sig : signals) kill(pid, sig);
  int status = -1;
  while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!WIFEXITED(status) && !WIFSIGNALED(status)) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(LiveBatchTest, EveryPictureLeftIsWholeHoweverTheRunIsStopped) {
  struct Case {
    const char* name;
    std::initializer_list<int> signals;
    int status;
  };
  // SIGINT, SIGTERM and SIGHUP finish the picture being written and exit; a second Ctrl+C or SIGKILL
  // ends the process at once, and what it was writing must not look like a picture. Two signals sent
  // back to back may merge into one before the first is handled: then the run ends cleanly (kEither).
  constexpr int kEither = 99;
  const Case cases[] = {{"int", {SIGINT}, 0},       {"hup", {SIGHUP}, 0},          {"term", {SIGTERM}, 0},
                        {"int2", {SIGINT, SIGINT}, kEither}, {"kill", {SIGKILL}, -1}};
  for (const Case& c : cases) {
    const int status = RecordAndStop(dir, c.name, c.signals);
    if (c.status == kEither)
      EXPECT_TRUE(status == 0 || status == -1) << c.name << ": " << status;
    else
      EXPECT_EQ(status, c.status) << c.name;
    const std::vector<std::string> files = Bmps(dir + "/" + c.name);
    EXPECT_GE(files.size(), 5u) << c.name;
    for (const std::string& f : files) EXPECT_EQ(SizeOf(dir + "/" + c.name + "/" + f), 54 + 1280 * 720 * 3) << f;
  }
}

TEST_F(LiveBatchTest, AProfileGivenWithPIsNeverMovedAndAnUnreadableOneEndsTheRun) {
  const std::string profile = dir + "/system.ini";
  WriteFile(profile, "[nocta\nProcAmp=16\n");
  const std::string clip = MakeClip(dir, "c.avi", "-W 32 -H 24 -n 3");
  ASSERT_FALSE(clip.empty());
  std::string out;
  EXPECT_EQ(Run("", "-q --no-capture -p '" + profile + "' '" + clip + "'", &out), 1) << out;
  EXPECT_NE(out.find("is not a settings file"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(profile), "[nocta\nProcAmp=16\n");
  EXPECT_EQ(SizeOf(profile + ".corrupt"), -1);
}

TEST_F(LiveBatchTest, SetValuesAreCheckedAndAdjustedOnesReported) {
  const std::string clip = MakeClip(dir, "c.avi", "-W 32 -H 24 -n 3");
  ASSERT_FALSE(clip.empty());
  std::string out;
  EXPECT_EQ(Run("", "-q --no-capture -s ProcAmp=abc '" + clip + "'", &out), 2) << out;
  EXPECT_NE(out.find("ProcAmp=abc refused: not a whole number"), std::string::npos) << out;
  EXPECT_EQ(Run("", "-q --no-capture -s ProcRMSH=1.5 '" + clip + "'", &out), 2) << out;
  EXPECT_NE(out.find("hundredths"), std::string::npos) << out;
  EXPECT_EQ(Run("", "-q --no-capture -s ProcAmp=99999999 '" + clip + "'", &out), 0) << out;
  EXPECT_NE(out.find("--set ProcAmp=99999999 is out of range: "), std::string::npos) << out;
}

TEST_F(LiveBatchTest, AFileWithoutFramesEndsWithAMessageAndAFailure) {
  const std::string clip = MakeClip(dir, "c.avi", "-W 320 -H 240 -n 3");
  ASSERT_FALSE(clip.empty());
  const std::string head = dir + "/head.avi";
  WriteFile(head, ReadFile(clip).substr(0, 4096));
  std::string out;
  const int rc = Run("", "-q --no-capture '" + head + "'", &out);
  EXPECT_NE(rc, 0) << out;
  EXPECT_NE(out.find("no frame could be decoded from"), std::string::npos) << out;
}

}  // namespace
}  // namespace ulmora::test
