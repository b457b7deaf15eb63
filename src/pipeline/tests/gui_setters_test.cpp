// The GUI thread's setters against a running frame path: each file is written with one whole set of
// settings, old or new, never a mix, and a change applies from the next file on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "session_fixture.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

constexpr int32_t kW = 8, kH = 4;
constexpr double kFps = 25.0;

// Feeds one uniform BGR frame after another into the session on a thread of its own, as the graph's
// streaming thread does, until stopped.
class Streamer {
 public:
  explicit Streamer(CSG& sg, uint8_t level = 40)
      : sg_(sg), frame_(static_cast<size_t>(((3 * kW + 3) & ~3) * kH), level) {
    thread_ = std::thread([this] {
      for (int n = 0; !stop_.load(); ++n) {
        Sample s{frame_.data(), static_cast<int32_t>(frame_.size()), 0};
        sg_.SampleCB(n / kFps, &s);
        frames_.fetch_add(1);
      }
    });
  }
  ~Streamer() { Stop(); }
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  int Frames() const { return frames_.load(); }

 private:
  CSG& sg_;
  std::vector<uint8_t> frame_;
  std::atomic<bool> stop_{false};
  std::atomic<int> frames_{0};
  std::thread thread_;
};

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

class GuiSetters : public SessionTest {
 protected:
  void Start(CSG& sg) {
    sg.Processor().SetWindows(&main, &procWin);
    sg.SetPacing(false);
    ASSERT_EQ(sg.SetVideoSize(kW, kH), 1);
    sg.SetFrameRate(kFps);
  }
  // Waits until `more` files beyond the count now have been written.
  void AwaitFiles(CSG& sg, uint32_t more) {
    const uint32_t target = sg.Capture().nCaptured.load() + more;
    ASSERT_TRUE(WaitFor([&] { return sg.Capture().nCaptured.load() >= target || sg.Capture().bCapture.load() == 0; }))
        << "no files from the running frame path";
  }
  RecordingWindow main, procWin;
};

// Frame numbers of files named "<prefix>NNNNN.bmp", in order.
std::vector<int> FrameNumbers(const std::vector<std::string>& names, const std::string& prefix) {
  std::vector<int> out;
  for (const std::string& n : names)
    if (n.rfind(prefix, 0) == 0) out.push_back(std::stoi(n.substr(prefix.size(), 5)));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST_F(GuiSetters, EveryFileIsNamedByTheOldOrTheNewTemplateNeverAMix) {
  const std::string other = root + "/other/";
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  CSG sg;
  Start(sg);
  sg.SetCapFormat("a%f");
  sg.SetCapCount(1000000);
  sg.StartCapture(1);
  Streamer streamer(sg);

  struct Step {
    const char* format;
    const char* source;
    bool otherDir;
  };
  const Step steps[] = {{"bb%t", "cam", false},       {"#c%n#_%f", "cam", true}, {"a%f", "scope", true},
                        {"#c%n#_%f", "scope", false}, {"bb%t", "cam", true},     {"#c%n#_%f", "cam", false}};
  for (int round = 0; round < 2; ++round) {
    for (const Step& s : steps) {
      AwaitFiles(sg, 3);
      sg.SetSourceName(s.source, kSourceDevice);
      sg.SetCapFormat(s.format);
      sg.SetWorkDir(s.otherDir ? other.c_str() : capDir.c_str());
    }
    // Changes faster than files are written: every record is still whole.
    for (int i = 0; i < 200; ++i) {
      sg.SetCapFormat(i % 2 ? "a%f" : "bb%t");
      sg.SetWorkDir(i % 3 ? capDir.c_str() : other.c_str());
    }
  }
  AwaitFiles(sg, 3);
  streamer.Stop();

  const std::regex valid(R"(a\d{5}\.bmp|bb\d{7}\.bmp|c(cam|scope)\d{5}\.bmp)");
  std::set<std::string> kinds;
  size_t files = 0;
  for (const std::string& dir : {capDir, other}) {
    const std::vector<std::string> names = ListDir(dir);
    EXPECT_FALSE(names.empty()) << dir;
    for (const std::string& n : names) {
      EXPECT_TRUE(std::regex_match(n, valid)) << dir << n;
      kinds.insert(n.substr(0, n.find_first_of("0123456789")));
    }
    files += names.size();
  }
  EXPECT_EQ(files, sg.Capture().nCaptured.load()) << "one file per capture, none overwritten";
  EXPECT_EQ(kinds, (std::set<std::string>{"a", "bb", "ccam", "cscope"}));
  // Replaced records are freed as soon as the frame path lets go of them.
  sg.SetCapFormat("a%f");
  EXPECT_EQ(sg.RetiredNameRecords(), 0u);
}

TEST_F(GuiSetters, CountAndDelayApplyFromTheNextFile) {
  CSG sg;
  Start(sg);
  sg.SetCapFormat("a%f");
  sg.SetCapCount(1000000);
  sg.StartCapture(1);
  Streamer streamer(sg);
  AwaitFiles(sg, 10);
  sg.SetFramesDelay(2);
  AwaitFiles(sg, 10);
  const uint32_t last = sg.Capture().nCaptured.load() + 6;
  sg.SetCapCount(last);
  ASSERT_TRUE(WaitFor([&] { return sg.Capture().bCapture.load() == 0; })) << "the new count ends the run";
  const int framesAtEnd = streamer.Frames();
  ASSERT_TRUE(WaitFor([&] { return streamer.Frames() > framesAtEnd + 20; }));
  streamer.Stop();

  const std::vector<int> numbers = FrameNumbers(ListDir(capDir), "a");
  EXPECT_EQ(numbers.size(), sg.Capture().nCaptured.load()) << "nothing is written after the run ended";
  EXPECT_GE(sg.Capture().nCaptured.load(), last);
  EXPECT_EQ(main.ended.load(), 1);
  // Gaps of one frame, then of three (two skipped after each file) from the change on.
  int wide = 0;
  for (size_t i = 1; i < numbers.size(); ++i) {
    const int gap = numbers[i] - numbers[i - 1];
    if (wide > 0) {
      EXPECT_EQ(gap, 3) << "file " << i;
    } else {
      EXPECT_TRUE(gap == 1 || gap == 3) << "file " << i << " gap " << gap;
    }
    if (gap == 3) ++wide;
  }
  EXPECT_GE(wide, 10);
}

TEST_F(GuiSetters, EveryPictureIsRenderedWithOneSetOfParameters) {
  // The level each combination gives, from a session nobody changes while it runs.
  struct Combo {
    int32_t amp, black, gamma;
  };
  std::vector<Combo> combos;
  for (int32_t amp : {16, 40})
    for (int32_t black : {0, 12})
      for (int32_t gamma : {128, 60}) combos.push_back({amp, black, gamma});
  std::set<int> allowed;
  {
    CSG ref;
    Start(ref);
    std::vector<uint8_t> frame(static_cast<size_t>(((3 * kW + 3) & ~3) * kH), 40);
    for (const Combo& c : combos) {
      ref.Processor().SetAmp(c.amp);
      ref.Processor().SetBlackLevel(c.black);
      ref.Processor().SetGamma(c.gamma);
      Sample s{frame.data(), static_cast<int32_t>(frame.size()), 0};
      ref.SampleCB(0.0, &s);
      allowed.insert(ref.FrProc().img.bits[0]);
    }
  }
  ASSERT_GE(allowed.size(), 6u) << "the combinations must be told apart by their level";

  CSG sg;
  Start(sg);
  sg.SetCapFormat("p%f");
  sg.SetCapCount(1000000);
  sg.StartCapture(1);
  Streamer streamer(sg);
  for (int i = 0; i < 60; ++i) {
    const Combo& c = combos[static_cast<size_t>(i * 5) % combos.size()];
    sg.Processor().SetAmp(c.amp);
    sg.Processor().SetBlackLevel(c.black);
    sg.Processor().SetGamma(c.gamma);
    sg.Processor().SetCountAccum(i % 3 + 1);  // uniform frames: the sum's level does not depend on it
    AwaitFiles(sg, 1);
  }
  streamer.Stop();

  std::set<int> seen;
  const std::vector<std::string> names = ListDir(capDir);
  ASSERT_EQ(names.size(), sg.Capture().nCaptured.load());
  for (const std::string& n : names) {
    const std::vector<uint8_t> file = ReadFile(capDir + n);
    ASSERT_EQ(file.size(), 54u + 24u * kH) << n;
    const uint8_t level = file[54];
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < 3 * kW; ++x)
        ASSERT_EQ(file[54 + 24 * y + x], level) << n << " is rendered from two sets of parameters";
    EXPECT_TRUE(allowed.count(level)) << n << " level " << int(level);
    seen.insert(level);
  }
  EXPECT_GE(seen.size(), 4u);
}
