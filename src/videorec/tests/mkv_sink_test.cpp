// The video recording read back by GStreamer's own demuxer and decoder: every picture, byte for byte, at
// its own time, in segments of the length asked, and whole after a killed run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "videorec/mkv_sink.h"
#include "videorec/tests/mkv_reader.h"
#include "videorec/video_formats.h"

extern char** environ;

namespace ulmora {
namespace {

namespace fs = std::filesystem;

class MkvSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterVideoRecordFormats();
    dir_ = fs::temp_directory_path() / ("ulmora-mkv-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<IRecordSink> Make(const std::string& name, double segmentS = 0, uint64_t keepFree = 0) {
    RecordOptions options;
    options.path = (dir_ / name).string();
    options.segmentSeconds = segmentS;
    options.keepFreeBytes = keepFree;
    const RecordFormat* format = FindRecordFormat(options.path);
    EXPECT_NE(format, nullptr);
    error_.clear();
    return format ? format->make(options, error_) : nullptr;
  }

  fs::path dir_;
  std::string error_;
};

// Noise over the whole range, in rows wider than the picture (the padding must not reach the file).
struct Pictures {
  int width, height, bytesPerPixel, stride;
  std::vector<std::vector<uint8_t>> frames;
  Pictures(int w, int h, int bpp, int count, unsigned seed) : width(w), height(h), bytesPerPixel(bpp / 8) {
    stride = w * bytesPerPixel + 13;
    std::mt19937 random(seed);
    for (int i = 0; i < count; ++i) {
      std::vector<uint8_t> f(static_cast<size_t>(stride) * h);
      for (auto& b : f) b = static_cast<uint8_t>(random());
      frames.push_back(std::move(f));
    }
  }
  RecordPicture At(int i, double time) const {
    RecordPicture p;
    p.bits = frames[i].data();
    p.width = width;
    p.height = height;
    p.stride = stride;
    p.bitsPerPixel = bytesPerPixel * 8;
    p.stamp.bufferTime = time;
    return p;
  }
  std::vector<uint8_t> Tight(int i) const {
    std::vector<uint8_t> t;
    for (int y = 0; y < height; ++y)
      t.insert(t.end(), frames[i].begin() + y * stride, frames[i].begin() + y * stride + width * bytesPerPixel);
    return t;
  }
};

void WriteAll(IRecordSink& sink, const Pictures& pictures, double start, double interval) {
  std::string error;
  for (size_t i = 0; i < pictures.frames.size(); ++i)
    ASSERT_EQ(sink.Write(pictures.At(static_cast<int>(i), start + i * interval), error), 0) << error;
  ASSERT_EQ(sink.Close(error), 0) << error;
}

void ExpectSame(const test::DecodedVideo& video, const Pictures& pictures, size_t first, double start,
                double interval) {
  ASSERT_TRUE(video.ended) << video.error;
  for (size_t i = 0; i < video.pictures.size(); ++i) {
    const test::DecodedPicture& p = video.pictures[i];
    ASSERT_EQ(p.width, pictures.width);
    ASSERT_EQ(p.height, pictures.height);
    ASSERT_EQ(p.bytesPerPixel, pictures.bytesPerPixel);
    ASSERT_TRUE(p.pixels == pictures.Tight(static_cast<int>(first + i))) << "picture " << first + i;
    // Matroska keeps times in milliseconds.
    EXPECT_NEAR(p.pts / 1e9, start + (first + i) * interval, 0.0011) << "picture " << first + i;
  }
}

TEST_F(MkvSinkTest, EightBitPicturesComeBackByteForByteAtTheirOwnTimes) {
  const Pictures pictures(161, 97, 8, 45, 1);
  auto sink = Make("night.mkv");
  ASSERT_TRUE(sink) << error_;
  WriteAll(*sink, pictures, 12.5, 1.0 / 30);
  const test::DecodedVideo video = test::DecodeMkv((dir_ / "night.mkv").string());
  EXPECT_EQ(video.pictures.size(), 45u);
  ExpectSame(video, pictures, 0, 12.5, 1.0 / 30);
  EXPECT_GT(sink->BytesWritten(), 0u);
  EXPECT_LE(sink->BytesWritten(), fs::file_size(dir_ / "night.mkv"));
}

TEST_F(MkvSinkTest, SixteenBitSumsKeepEveryBit) {
  const Pictures pictures(64, 33, 16, 12, 2);
  auto sink = Make("sum.mkv");
  ASSERT_TRUE(sink) << error_;
  WriteAll(*sink, pictures, 0.0, 0.4);
  const test::DecodedVideo video = test::DecodeMkv((dir_ / "sum.mkv").string());
  EXPECT_EQ(video.pictures.size(), 12u);
  ExpectSame(video, pictures, 0, 0.0, 0.4);
}

TEST_F(MkvSinkTest, SegmentsStartEverySetNumberOfSecondsAndHoldEveryPicture) {
  const double kInterval = 1.0 / 30, kSegmentS = 1.0, kStart = 3.2;
  const Pictures pictures(40, 30, 8, 110, 3);  // 3.67 s: four segments
  auto sink = Make("seg.mkv", kSegmentS);
  ASSERT_TRUE(sink) << error_;
  WriteAll(*sink, pictures, kStart, kInterval);
  EXPECT_FALSE(fs::exists(dir_ / "seg.mkv"));
  size_t total = 0;
  for (unsigned k = 0; k < 4; ++k) {
    const std::string path = MkvSegmentPath((dir_ / "seg.mkv").string(), true, k);
    EXPECT_EQ(fs::path(path).filename(), "seg-0000" + std::to_string(k) + ".mkv");
    const test::DecodedVideo video = test::DecodeMkv(path);
    ASSERT_FALSE(video.pictures.empty()) << path << ": " << video.error;
    // Each segment begins within a picture of k segment lengths after the first picture.
    const double begins = total * kInterval;
    EXPECT_NEAR(begins, k * kSegmentS, kInterval + 1e-9) << path;
    ExpectSame(video, pictures, total, kStart, kInterval);
    total += video.pictures.size();
  }
  EXPECT_EQ(total, 110u);
  const std::vector<std::string> files = sink->Files();
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files.back(), MkvSegmentPath((dir_ / "seg.mkv").string(), true, 3));
  EXPECT_FALSE(fs::exists(MkvSegmentPath((dir_ / "seg.mkv").string(), true, 4)));
  for (const auto& entry : fs::directory_iterator(dir_)) EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

TEST_F(MkvSinkTest, ANewPictureSizeGoesOnInTheNextFile) {
  const Pictures small(32, 24, 8, 5, 4), large(48, 36, 8, 6, 5);
  auto sink = Make("size.mkv");
  ASSERT_TRUE(sink) << error_;
  std::string error;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(sink->Write(small.At(i, i * 0.1), error), 0) << error;
  for (int i = 0; i < 6; ++i) ASSERT_EQ(sink->Write(large.At(i, 0.5 + i * 0.1), error), 0) << error;
  ASSERT_EQ(sink->Close(error), 0) << error;
  const test::DecodedVideo first = test::DecodeMkv((dir_ / "size.mkv").string());
  const test::DecodedVideo second = test::DecodeMkv((dir_ / "size-2.mkv").string());
  EXPECT_EQ(first.pictures.size(), 5u);
  EXPECT_EQ(second.pictures.size(), 6u);
  ExpectSame(first, small, 0, 0.0, 0.1);
  ExpectSame(second, large, 0, 0.5, 0.1);
}

TEST_F(MkvSinkTest, BadFoldersTakenNamesAndOddPicturesAreRefusedWithTheirCause) {
  EXPECT_FALSE(Make("no-such-folder/a.mkv"));
  EXPECT_NE(error_.find("does not exist"), std::string::npos) << error_;

  fs::create_directories(dir_ / "ro");
  fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  if (access((dir_ / "ro").c_str(), W_OK) != 0) {  // root may write anywhere
    EXPECT_FALSE(Make("ro/a.mkv"));
    EXPECT_NE(error_.find("cannot be written"), std::string::npos) << error_;
  }

  // A name that is taken is never written over: the recording takes the next free one.
  std::ofstream(dir_ / "taken.mkv") << "earlier";
  auto taken = Make("taken.mkv");
  ASSERT_TRUE(taken) << error_;
  WriteAll(*taken, Pictures(8, 8, 8, 2, 8), 0.0, 0.1);
  EXPECT_EQ(fs::file_size(dir_ / "taken.mkv"), 7u);
  EXPECT_EQ(test::DecodeMkv((dir_ / "taken-2.mkv").string()).pictures.size(), 2u);
  EXPECT_EQ(taken->Files(), std::vector<std::string>{(dir_ / "taken-2.mkv").string()});

  auto sink = Make("odd.mkv");
  ASSERT_TRUE(sink) << error_;
  const Pictures pictures(8, 8, 8, 1, 6);
  RecordPicture twelveBits = pictures.At(0, 0.0);
  twelveBits.bitsPerPixel = 12;
  std::string error;
  EXPECT_EQ(sink->Write(twelveBits, error), EINVAL);
  EXPECT_NE(error.find("cannot hold"), std::string::npos) << error;
  EXPECT_EQ(sink->Close(error), 0) << error;
}

pid_t Spawn(const std::vector<std::string>& args, char** env) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), env), 0);
  return pid;
}

TEST_F(MkvSinkTest, AKilledRunLeavesEveryEarlierSegmentWhole) {
  const std::string path = (dir_ / "killed.mkv").string();
  const pid_t pid = Spawn({MKV_WRITE_HELPER, path, "1"}, environ);
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  // Segments are written under a temporary name and take their own when closed whole.
  const std::string fourth = MkvSegmentPath(path, true, 3), fifth = MkvSegmentPath(path, true, 4) + ".part";
  while (!(fs::exists(fourth) && fs::exists(fifth)) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(fs::exists(fourth)) << "the helper closed no fourth segment in 60 s";
  EXPECT_TRUE(fs::exists(fifth));
  for (unsigned k = 0; k < 4; ++k) {
    const test::DecodedVideo video = test::DecodeMkv(MkvSegmentPath(path, true, k));
    EXPECT_TRUE(video.ended) << k << ": " << video.error;
    // 30 pictures a second of buffer time, one second a segment.
    EXPECT_NEAR(static_cast<double>(video.pictures.size()), 30.0, 1.0) << "segment " << k;
    if (!video.pictures.empty()) {
      EXPECT_NEAR(video.pictures.front().pts / 1e9, k * 1.0, 1.0 / 30 + 1e-3);
    }
  }
}

// A machine without the FFV1 encoder: the plug-in registry is made from the other plug-ins only.
TEST_F(MkvSinkTest, AMissingEncoderNamesThePackageToInstall) {
  const fs::path plugins = dir_ / "plugins";
  fs::create_directories(plugins);
  ASSERT_TRUE(EnsureGstInit());
  GstRef<GstPlugin> app = Adopt(gst_plugin_load_by_name("app"));
  ASSERT_TRUE(app);
  const fs::path system = fs::path(gst_plugin_get_filename(app.get())).parent_path();
  for (const char* lib : {"libgstapp.so", "libgstcoreelements.so", "libgstmatroska.so", "libgstmultifile.so"})
    fs::create_symlink(system / lib, plugins / lib);
  const std::string vars[] = {"GST_PLUGIN_SYSTEM_PATH_1_0=" + plugins.string(), "GST_PLUGIN_PATH_1_0=",
                              "GST_PLUGIN_PATH=", "GST_REGISTRY_1_0=" + (dir_ / "registry.bin").string(),
                              "GST_REGISTRY_FORK=no"};
  std::vector<char*> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("GST_", 0) != 0) env.push_back(*e);
  for (const std::string& v : vars) env.push_back(const_cast<char*>(v.c_str()));
  env.push_back(nullptr);

  const std::string err = (dir_ / "stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> args = {MKV_WRITE_HELPER, (dir_ / "a.mkv").string(), "0", "3"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  std::ifstream in(err);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("avenc_ffv1"), std::string::npos) << text;
  EXPECT_NE(text.find("gstreamer1.0-libav"), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(dir_ / "a.mkv"));
}

}  // namespace
}  // namespace ulmora
