// Writes generated grey pictures (160x120, 30 per second of buffer time) to a video recording until it
// has written COUNT or is killed, so tests can see what a killed run leaves.
// Usage: mkv-write-helper PATH SEGMENT_SECONDS [COUNT]   (COUNT 0 or none: until killed)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recording/record_sink.h"
#include "videorec/video_formats.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PATH SEGMENT_SECONDS [COUNT]\n", argv[0]);
    return 2;
  }
  ulmora::RegisterVideoRecordFormats();
  ulmora::RecordOptions options;
  options.path = argv[1];
  options.segmentSeconds = std::atof(argv[2]);
  const long count = argc > 3 ? std::atol(argv[3]) : 0;
  const ulmora::RecordFormat* format = ulmora::FindRecordFormat(options.path);
  std::string error;
  auto sink = format ? format->make(options, error) : nullptr;
  if (!sink) {
    std::fprintf(stderr, "%s\n", format ? error.c_str() : "no format");
    return 3;
  }
  constexpr int kW = 160, kH = 120;
  std::vector<uint8_t> bits(kW * kH);
  for (long i = 0; count == 0 || i < count; ++i) {
    for (size_t p = 0; p < bits.size(); ++p) bits[p] = static_cast<uint8_t>(p * 7 + i);
    ulmora::RecordPicture picture;
    picture.bits = bits.data();
    picture.width = picture.stride = kW;
    picture.height = kH;
    picture.stamp.bufferTime = static_cast<double>(i) / 30.0;
    if (sink->Write(picture, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  if (sink->Close(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
