// Temporary folders and generated pictures for the recording tests.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "recording/record_sink.h"

namespace ulmora::test {

inline std::string MakeRecDir() {
  char pattern[] = "/tmp/ulmora-rec-XXXXXX";
  const char* d = mkdtemp(pattern);
  return d ? d : "";
}

inline void RemoveRecDir(const std::string& dir) {
  if (dir.rfind("/tmp/ulmora-rec-", 0) != 0) return;
  if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

inline std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A grey picture of seeded noise, packed.
struct TestPicture {
  std::vector<uint8_t> pixels;
  RecordPicture picture;
  TestPicture(int32_t w, int32_t h, int32_t bits, uint32_t seed, int64_t utcNs) {
    const int32_t bpp = bits / 8;
    pixels.resize(static_cast<size_t>(w) * h * bpp);
    std::mt19937 rng(seed);
    for (auto& b : pixels) b = static_cast<uint8_t>(rng());
    picture.bits = pixels.data();
    picture.width = w;
    picture.height = h;
    picture.stride = w * bpp;
    picture.bitsPerPixel = bits;
    picture.stamp.utcNs = utcNs;
  }
};

}  // namespace ulmora::test
