// ulmora-batch recording lossless video: what it decodes to is what the run captured as BMP files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "videorec/tests/mkv_reader.h"

namespace ulmora {
namespace {

namespace fs = std::filesystem;

// The grey of a 24-bit BMP capture, rows top-down without padding.
std::vector<uint8_t> BmpGrey(const fs::path& path, int& width, int& height) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 54) return {};
  auto le32 = [&](size_t at) { return int32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24); };
  width = le32(18);
  const int32_t h = le32(22);
  height = std::abs(h);
  const size_t stride = (size_t(width) * 3 + 3) & ~size_t{3};
  std::vector<uint8_t> grey;
  for (int y = 0; y < height; ++y) {
    const size_t row = size_t(le32(10)) + stride * size_t(h > 0 ? height - 1 - y : y);
    for (int x = 0; x < width; ++x) grey.push_back(b.at(row + size_t(x) * 3));
  }
  return grey;
}

TEST(MkvBatch, ProcessedVideoEqualsTheCapturesOfTheSameRun) {
  const fs::path dir = fs::temp_directory_path() / ("ulmora-mkv-batch-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "caps");
  const std::string clip = (dir / "clip.avi").string();
  ASSERT_EQ(std::system((std::string(ULMORA_SAMPLE_EXE) + " -q -o " + clip + " -W 64 -H 48 -r 30 -n 60").c_str()), 0);
  // Paced, so the writer's queue never fills and every picture is both captured and recorded.
  const std::string out = (dir / "out.txt").string();
  // Under the sanitizer build, GLib's start-up tables are not taken for a leak (lsan.supp).
  const std::string cmd = std::string("ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=") +
                          ULMORA_LSAN_SUPP + " ULMORA_PROFILE=" + (dir / "p.ini").string() + " " + ULMORA_BATCH_EXE +
                          " --realtime -o " + (dir / "caps").string() + " --record " + (dir / "night.mkv").string() +
                          " " + clip + " >" + out + " 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream summary(out);
  const std::string text((std::istreambuf_iterator<char>(summary)), std::istreambuf_iterator<char>());
  unsigned long written = 0;
  const size_t at = text.find("frames written ");
  ASSERT_NE(at, std::string::npos) << text;
  ASSERT_EQ(std::sscanf(text.c_str() + at, "frames written %lu", &written), 1);

  const test::DecodedVideo video = test::DecodeMkv((dir / "night.mkv").string());
  ASSERT_TRUE(video.ended) << video.error;
  EXPECT_EQ(video.pictures.size(), written);
  std::vector<fs::path> bmps;
  for (const auto& e : fs::directory_iterator(dir / "caps")) bmps.push_back(e.path());
  std::sort(bmps.begin(), bmps.end());
  ASSERT_EQ(bmps.size(), written) << text;
  for (size_t i = 0; i < bmps.size(); ++i) {
    int w = 0, h = 0;
    const std::vector<uint8_t> grey = BmpGrey(bmps[i], w, h);
    ASSERT_EQ(video.pictures[i].width, w);
    ASSERT_EQ(video.pictures[i].height, h);
    EXPECT_TRUE(video.pictures[i].pixels == grey) << bmps[i];
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ulmora
