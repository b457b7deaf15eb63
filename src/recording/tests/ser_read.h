// A reader of SER files for the tests, written from the format's description alone.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ulmora::test {

// SER times are 100 ns ticks from 0001-01-01: 719162 days before 1970.
constexpr uint64_t kTicks1970 = 719162ULL * 86400ULL * 10000000ULL;

struct SerFile {
  bool ok = false;
  int32_t colorId = -1, littleEndianFlag = -1, width = 0, height = 0, depth = 0, frames = 0;
  std::string instrument;
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<uint64_t> ticks;  // empty when the file has no trailer
};

inline int32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<int32_t>(p[3]) << 24; }
inline uint64_t Le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

inline SerFile ReadSer(const std::string& path) {
  SerFile f;
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 178 || std::memcmp(b.data(), "LUCAM-RECORDER", 14) != 0) return f;
  f.colorId = Le32(&b[18]);
  f.littleEndianFlag = Le32(&b[22]);
  f.width = Le32(&b[26]);
  f.height = Le32(&b[30]);
  f.depth = Le32(&b[34]);
  f.frames = Le32(&b[38]);
  f.instrument.assign(reinterpret_cast<const char*>(&b[82]), strnlen(reinterpret_cast<const char*>(&b[82]), 40));
  const size_t frameBytes = static_cast<size_t>(f.width) * f.height * (f.depth > 8 ? 2 : 1);
  const size_t dataEnd = 178 + frameBytes * f.frames;
  if (b.size() < dataEnd) return f;
  for (int i = 0; i < f.frames; ++i)
    f.pictures.emplace_back(b.begin() + 178 + frameBytes * i, b.begin() + 178 + frameBytes * (i + 1));
  if (b.size() >= dataEnd + 8u * f.frames)
    for (int i = 0; i < f.frames; ++i) f.ticks.push_back(Le64(&b[dataEnd + 8 * i]));
  f.ok = true;
  return f;
}

}  // namespace ulmora::test
