// ulmora-batch end to end: the BMP files it writes match a computation of the chain made here, from
// the scene the clip was generated from; and its refusals of bad input.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/tests/small_disk.h"
#include "graph/tests/batch_tool.h"
#include "simcam/lowlight_scene.h"

namespace ulmora::test {
namespace {

constexpr int kW = 64, kH = 48;

struct Picture {
  std::vector<int32_t> v;  // grey level per pixel
};

// The chain for grey frames with time delay 0, a linear tone table and black level 0.
class ChainModel {
 public:
  ChainModel(int count, float rmsH, float rmsV) : k_(count), rmsH_(rmsH), rmsV_(rmsV), sum_(kW * kH, 0) {}

  // One incoming frame; returns true (and the picture) when the frame path would capture it.
  bool Frame(const std::vector<uint8_t>& luma, Picture& out) {
    if (summed_ == 0) std::fill(sum_.begin(), sum_.end(), 0u);
    for (int i = 0; i < kW * kH; ++i) sum_[i] += luma[i];
    bool complete = false;
    if (++summed_ >= k_) {
      divisor_ = summed_;
      summed_ = 0;
      complete = true;
    }
    if (!complete && !firstSum_) return false;
    if (complete) firstSum_ = false;
    int over = 0, peak = 0, bright = 0;
    Render(out, &over, &peak, &bright);
    float mean = 0, sigma = 0;
    Measure(out, mean, sigma);
    Ridges(out, mean, sigma);
    if (firstSum_) return false;
    if (Auto(over, bright)) {
      Render(out, nullptr, nullptr, nullptr);
      Ridges(out, mean, sigma);
    }
    return true;
  }

 private:
  void Render(Picture& p, int* over, int* peak, int* bright) const {
    p.v.assign(kW * kH, 0);
    int o = 0, b = 0;
    int32_t smax = 0;
    const int32_t n = divisor_;
    for (int i = 0; i < kW * kH; ++i) {
      const int32_t s = static_cast<int32_t>(sum_[i]);
      smax = std::max(smax, s);
      const int32_t level = (((s * amp_) >> 4) + (n >> 1)) / n;
      int32_t outv = 0;
      if (level >= 255) {
        outv = 255;
        if (level > 255) ++o;
      } else if (level > 0) {
        outv = level;  // gamma 128: identity table
        b = std::max(b, outv);
      }
      p.v[i] = outv;
    }
    if (over) *over = o;
    if (bright) *bright = b;
    if (peak) *peak = std::clamp((smax + (n >> 1)) / n, 0, 255);
  }

  static void Measure(const Picture& p, float& meanOut, float& sigmaOut) {
    const int n = kW * kH;
    double s1 = 0, s2 = 0;
    for (int v : p.v) s1 += v, s2 += static_cast<double>(v) * v;
    double mean = s1 * (1.0 / n), var = s2 * (1.0 / n) - mean * mean, sigma = 0;
    long lo, hi;
    if (var <= 0) {
      lo = hi = std::lrint(mean);
    } else {
      sigma = std::sqrt(var);
      lo = std::lrint(mean - 4.0 * sigma);
      hi = std::lrint(mean + 2.0 * sigma);
    }
    meanOut = static_cast<float>(mean);
    sigmaOut = static_cast<float>(sigma);
    int m = 0;
    s1 = s2 = 0;
    for (int v : p.v)
      if (v >= lo && v <= hi) ++m, s1 += v, s2 += static_cast<double>(v) * v;
    if (m == 0) return;
    mean = s1 * (1.0 / m);
    var = s2 * (1.0 / m) - mean * mean;
    meanOut = static_cast<float>(mean);
    sigmaOut = static_cast<float>(var > 0 ? std::sqrt(var) : 0.0);
  }

  void Ridges(Picture& p, float mean, float sigma) const {
    {  // rows
      volatile float t = rmsH_ * sigma;
      const int32_t th = static_cast<int32_t>(std::nearbyint(static_cast<float>(t + mean)));
      if (th >= 1) {
        std::vector<uint32_t> r(kH, 0);
        uint32_t total = 0;
        for (int y = 0; y < kH; ++y) {
          for (int x = 0; x < kW; ++x) r[y] += th >= 254 ? p.v[y * kW + x] : std::min(p.v[y * kW + x], th);
          total += r[y];
        }
        const int32_t avg = static_cast<int32_t>(total + (kH >> 1)) / kH;
        for (int y = 0; y < kH; ++y) {
          const int32_t d = (static_cast<int32_t>(r[y] + (kW >> 1)) - avg) / kW;
          for (int x = 0; x < kW; ++x) p.v[y * kW + x] = std::clamp(p.v[y * kW + x] - d, 0, 255);
        }
      }
    }
    {  // columns
      volatile float t = rmsV_ * sigma;
      const int32_t th = static_cast<int32_t>(std::nearbyint(static_cast<float>(t + mean)));
      if (th >= 1) {
        std::vector<uint32_t> q(kW, 0);
        uint32_t total = 0;
        for (int x = 0; x < kW; ++x) {
          for (int y = 0; y < kH; ++y) q[x] += th >= 253 ? p.v[y * kW + x] : std::min(p.v[y * kW + x], th);
          total += q[x];
        }
        const int32_t avg = static_cast<int32_t>(total + (kW >> 1)) / kW;
        for (int x = 0; x < kW; ++x) {
          const int32_t d = (static_cast<int32_t>(q[x] + (kH >> 1)) - avg) / kH;
          for (int y = 0; y < kH; ++y) p.v[y * kW + x] = std::clamp(p.v[y * kW + x] - d, 0, 255);
        }
      }
    }
  }

  // Automatic amplification only (flags 1 and 2).
  bool Auto(int over, int bright) {
    if (over < 50) {
      if (amp_ < 128 && (bright < 250 || sign_ < -1 || (sign_ > 0 && k_ > 10))) {
        int step = bright <= 0 ? 1 : ((255 - bright) * amp_) / bright;
        if (step == 0) step = 1;
        if (amp_ + step > 128) step = 128 - amp_;
        amp_ += step;
        if (sign_ < 0) sign_ = 0;
        sign_ += step;
        return true;
      }
      return false;
    }
    if (over > 200 && amp_ > 1 && sign_ != 1) {
      amp_ -= 1;
      if (sign_ > 0) sign_ = 0;
      sign_ -= 1;
      return true;
    }
    return false;
  }

  int k_;
  float rmsH_, rmsV_;
  std::vector<uint32_t> sum_;
  int summed_ = 0, divisor_ = 4, amp_ = 16, sign_ = 0;
  bool firstSum_ = true;
};

class BatchTest : public GraphTest {
 protected:
  int RunBatch(const std::string& args, std::string* out = nullptr) { return RunBatchTool(dir, "", args, out); }
  std::vector<std::string> Bmps(const std::string& d) { return BmpNames(d); }
};

TEST_F(BatchTest, WrittenPicturesMatchTheChainWithBandingRemovalAndAutoAmplification) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 64 -H 48 -n 24 -r 25 -s 7");
  ASSERT_FALSE(clip.empty());
  const std::string caps = dir + "/caps";
  ASSERT_EQ(mkdir(caps.c_str(), 0700), 0);
  WriteFile(dir + "/batch.ini", "[nocta]\n");
  std::string out;
  const int rc = RunBatch("-q -p '" + dir + "/batch.ini' -o '" + caps +
                              "' -n 4 -t pic -s ProcAuto=3 -s ProcNRH=1 -s ProcNRV=1 -s ProcRMSH=200 -s ProcRMSV=50"
                              " -s ProcCountAccum=4 -s ProcAmp=16 -s ProcBlackLevel=0 -s ProcGamma=128"
                              " -s ProcTimeDelay=0 -s ProcFlipV=0 -s ProcFlipH=0 -s CapFramesDelay=0 '" +
                              clip + "'",
                          &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("files written 4"), std::string::npos) << out;
  const auto names = Bmps(caps);
  ASSERT_EQ(names.size(), 4u) << out;

  SceneParams sp;
  sp.nWidth = kW;
  sp.nHeight = kH;
  sp.nSeed = 7;
  const LowLightScene scene(sp);
  ChainModel model(4, 2.0f, 0.5f);
  std::vector<Picture> expected;
  std::vector<uint8_t> luma(kW * kH);
  for (int f = 0; f < 24 && expected.size() < 4; ++f) {
    scene.RenderLuma(f, luma.data(), kW);
    Picture p;
    if (model.Frame(luma, p)) expected.push_back(p);
  }
  ASSERT_EQ(expected.size(), 4u);
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const std::string bytes = ReadFile(caps + "/" + names[i]);
    ASSERT_EQ(bytes.size(), 54u + kW * kH * 3u);
    int32_t height = 0;
    std::memcpy(&height, bytes.data() + 22, 4);
    EXPECT_EQ(height, -kH);  // top-down rows
    int mismatches = 0;
    for (int px = 0; px < kW * kH; ++px)
      for (int c = 0; c < 3; ++c)
        if (static_cast<uint8_t>(bytes[54 + px * 3 + c]) != expected[i].v[px]) ++mismatches;
    EXPECT_EQ(mismatches, 0);
  }
}

TEST_F(BatchTest, NoCaptureWritesNothingAndCountsEveryFrame) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 64 -H 48 -n 20");
  ASSERT_FALSE(clip.empty());
  const std::string caps = dir + "/caps";
  ASSERT_EQ(mkdir(caps.c_str(), 0700), 0);
  WriteFile(dir + "/batch.ini", "[nocta]\n");
  std::string out;
  ASSERT_EQ(RunBatch("-p '" + dir + "/batch.ini' -o '" + caps + "' --no-capture '" + clip + "'", &out), 0) << out;
  EXPECT_NE(out.find("frames in 20,"), std::string::npos) << out;
  EXPECT_NE(out.find("files written 0"), std::string::npos) << out;
  EXPECT_TRUE(Bmps(caps).empty());
}

TEST_F(BatchTest, RealtimeHoldsTheFileToItsRate) {
  const std::string clip = MakeClip(dir, "slow.avi", "-W 32 -H 16 -n 10 -r 20");
  ASSERT_FALSE(clip.empty());
  WriteFile(dir + "/batch.ini", "[nocta]\n");
  std::string out;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(RunBatch("-q -p '" + dir + "/batch.ini' --no-capture --realtime '" + clip + "'", &out), 0) << out;
  // Ten frames at 20 per second take half a second at least (a loaded machine only makes it longer).
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));
  EXPECT_NE(out.find("frames in 10,"), std::string::npos) << out;
}

TEST_F(BatchTest, RefusesBadInputWithAMessage) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 64 -H 48 -n 4");
  ASSERT_FALSE(clip.empty());
  WriteFile(dir + "/batch.ini", "[nocta]\n");
  const std::string p = "-p '" + dir + "/batch.ini' ";
  std::string out;
  EXPECT_EQ(RunBatch(p + "'" + dir + "/missing.avi'", &out), 1);
  EXPECT_NE(out.find("cannot read"), std::string::npos) << out;
  WriteFile(dir + "/text.avi", "not a video\n");
  EXPECT_EQ(RunBatch(p + "'" + dir + "/text.avi'", &out), 1);
  EXPECT_NE(out.find("Can't render video file"), std::string::npos) << out;
  EXPECT_EQ(RunBatch(p + "-o '" + dir + "/nowhere' '" + clip + "'", &out), 1);
  EXPECT_NE(out.find("does not exist"), std::string::npos) << out;
  // Not writable even for root.
  EXPECT_EQ(RunBatch(p + "-o /proc/self '" + clip + "'", &out), 1);
  EXPECT_NE(out.find("cannot write into '/proc/self'"), std::string::npos) << out;
  EXPECT_EQ(RunBatch(p + "-o '" + clip + "' '" + clip + "'", &out), 1);
  EXPECT_NE(out.find("is not a directory"), std::string::npos) << out;
  EXPECT_EQ(RunBatch(p + "--frobnicate '" + clip + "'", &out), 2);
  EXPECT_NE(out.find("unknown option"), std::string::npos) << out;
  EXPECT_EQ(RunBatch(p + "-s NoSuchKey=1 '" + clip + "'", &out), 2);
  EXPECT_NE(out.find("unknown key"), std::string::npos) << out;
  EXPECT_EQ(RunBatch("-p '" + dir + "/no.ini' '" + clip + "'", &out), 1);
  EXPECT_NE(out.find("cannot read profile"), std::string::npos) << out;
  // The profile named is never written.
  EXPECT_EQ(ReadFile(dir + "/batch.ini"), "[nocta]\n");
}

TEST_F(BatchTest, CountsMatchTheFilesOnDiskAndEveryWayOfNamingAFolderIsChecked) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 64 -H 48 -n 8");
  ASSERT_FALSE(clip.empty());
  WriteFile(dir + "/batch.ini", "[nocta]\nProcCountAccum=1\nProcAuto=0\nCapFramesDelay=0\n");
  const std::string p = "-q -p '" + dir + "/batch.ini' ";
  const std::string caps = dir + "/caps";
  ASSERT_EQ(mkdir(caps.c_str(), 0755), 0);
  // Two runs into one folder: the second takes numbered names and the counts add up to what is there.
  std::string out;
  ASSERT_EQ(RunBatch(p + "-o '" + caps + "' '" + clip + "'", &out), 0) << out;
  EXPECT_NE(out.find("files written 8, "), std::string::npos) << out;
  EXPECT_NE(out.find("into '" + caps), std::string::npos) << out;
  ASSERT_EQ(RunBatch(p + "-s CapWorkDir='" + caps + "' -s CapCount=3 '" + clip + "'", &out), 0) << out;
  EXPECT_NE(out.find("files written 3, "), std::string::npos) << "CapCount is -n: " << out;
  EXPECT_NE(out.find("3 under a numbered name"), std::string::npos) << out;
  EXPECT_EQ(Bmps(caps).size(), 11u);

  // A folder named by --set is refused like one named by -o, never swapped for the temporary folder.
  EXPECT_EQ(RunBatch(p + "-s CapWorkDir='" + dir + "/nowhere' '" + clip + "'", &out), 1);
  EXPECT_NE(out.find("'" + dir + "/nowhere' does not exist"), std::string::npos) << out;
  EXPECT_EQ(RunBatch(p + "-s CapWorkDir=/" + std::string(100000, 'x') + " '" + clip + "'", &out), 1);
  EXPECT_NE(out.find("name too long"), std::string::npos);
  EXPECT_LT(out.size(), 1000u) << "the path is not echoed whole";

  // Only the value that holds for a key given twice is checked; a summary nobody can read is a failure.
  ASSERT_EQ(RunBatch(p + "--no-capture -s ProcAmp=5 -s ProcAmp=20 '" + clip + "'", &out), 0) << out;
  EXPECT_EQ(out.find("out of range"), std::string::npos) << out;
  const int rc = std::system((std::string(ULMORA_BATCH_EXE) + " " + p + "--no-capture '" + clip +
                               "' >/dev/full 2>/dev/null").c_str());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << rc;
}

TEST_F(BatchTest, AFullDiskEndsTheRunWithItsCauseAndLeavesOnlyWholePictures) {
  const std::string clip = MakeClip(dir, "scene.avi", "-W 64 -H 48 -n 20");
  ASSERT_FALSE(clip.empty());
  WriteFile(dir + "/batch.ini", "[nocta]\nProcCountAccum=1\n");
  const std::string p = "-p '" + dir + "/batch.ini' ";
  // 9270-byte pictures on a 64 KiB file system: a few are written, then the run stops and says why.
  const SmallDiskResult r = RunOnSmallDisk(64, [&](const std::string& disk) -> std::string {
    std::string out;
    const int rc = RunBatchTool(dir, "", p + "-o '" + disk + "' '" + clip + "'", &out);
    if (rc != 1) return "status " + std::to_string(rc) + ": " + out;
    if (out.find("no space left") == std::string::npos && out.find("File too large") == std::string::npos)
      return "no cause: " + out;
    const std::vector<std::string> names = BmpNames(disk);
    const size_t at = out.find("files written ");
    if (at == std::string::npos || std::stoul(out.substr(at + 14)) != names.size()) return "count: " + out;
    for (const std::string& n : names)
      if (ReadFile(disk + "/" + n).size() != 54u + 64 * 48 * 3) return n + " is not whole";
    if (names.empty() || names.size() >= 20) return std::to_string(names.size()) + " pictures";
    return "";
  });
  ASSERT_TRUE(r.ran);
  EXPECT_EQ(r.report, "") << (r.mounted ? "on a small tmpfs" : "under a file-size limit");
}

}  // namespace
}  // namespace ulmora::test
