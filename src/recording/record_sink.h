// What a recording is made of: the pictures the frame path hands over, with their times and the frames
// lost before them, and the sinks that turn them into files. Plain C++: formats that need the media
// framework (video) register their maker from a higher layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ulmora {

// Which picture of the frame path a recording takes.
enum class RecordWhat : int {
  kProcessed = 0,  // each finished picture as shown and captured, 8-bit grey
  kRaw = 1,        // every incoming frame's luminance before summing, 8-bit grey (16 when the camera gives 16)
  kSum = 2,        // each finished sum before amplification and the tone curve, 16-bit grey, unscaled
};

// Frames lost since the previous recorded picture, by where they were lost.
struct DropCounts {
  uint64_t camera = 0;  // gaps in the camera's buffer sequence numbers
  uint64_t chain = 0;   // frames the chain left out (time delay, short samples)
  uint64_t writer = 0;  // the writer's queue was full
};

// When a picture was taken. A sum carries its first frame's time and the exposure of all its frames.
struct FrameStamp {
  int64_t utcNs = 0;        // UTC, nanoseconds since 1970-01-01
  double bufferTime = 0.0;  // the buffer's stream time, seconds
  uint64_t sequence = 0;    // the camera's sequence number (a file: the frame's index)
  double exposureS = 0.0;   // the frame interval, or the sum of its frames' intervals
  uint32_t nFrames = 1;     // frames summed into the picture
};

// The processing a picture was made with.
struct PictureSettings {
  int32_t amplification = 0;
  int32_t blackLevel = 0;
  int32_t gamma = 0;
  bool ridgeH = false;
  bool ridgeV = false;
};

// One picture handed to a sink: grey, rows top-down, 16-bit samples in host order. The pixels are the
// sink's only for the duration of the call.
// Handed to a recording's writer, a picture may also be a view the writer copies from: bits at the top
// row, a negative stride for rows stored bottom-up, and pixelStep 3 for grey taken from the first byte
// of each B, G, R pixel. Sinks always get packed grey (pixelStep 1).
struct RecordPicture {
  const uint8_t* bits = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;              // bytes per row
  int32_t pixelStep = 1;           // bytes from one pixel's sample to the next's (8-bit pictures only)
  int32_t bitsPerPixel = 8;        // 8 or 16
  int32_t sourceBitsPerPixel = 0;  // 8: a 16-bit picture still to be widened from grey bytes; 0: as above
  FrameStamp stamp;
  DropCounts dropsBefore;
  PictureSettings settings;
};

// The processing behind a recording's pictures, for the files' headers.
struct RecordContext {
  std::string deviceName;  // device or file the pictures come from
  int32_t amplification = 0;
  int32_t blackLevel = 0;
  int32_t gamma = 0;
  bool ridgeH = false;
  bool ridgeV = false;
};

// One recording asked for.
struct RecordOptions {
  std::string path;  // as given; its extension names the format
  RecordWhat what = RecordWhat::kProcessed;
  double segmentSeconds = 0.0;  // video: a new file every so many seconds; 0 for one file
  uint64_t keepFreeBytes = 0;   // the recording stops before its file system has less free
  RecordContext context;
};

// A recording's files. Every call comes from the recording's writer thread.
class IRecordSink {
 public:
  virtual ~IRecordSink() = default;
  // 0, or an errno with `error` saying what failed; after a failure only Close is called.
  virtual int Write(const RecordPicture& picture, std::string& error) = 0;
  // Leaves every file whole and readable to its last picture. 0 or an errno, as Write.
  virtual int Close(std::string& error) = 0;
  virtual uint64_t BytesWritten() const = 0;
  // After Close: the files it finished, in order (a sink that knows none returns nothing).
  virtual std::vector<std::string> Files() const { return {}; }
};

// Opens the sink for one recording, or returns null with `error` set.
using RecordSinkMaker = std::unique_ptr<IRecordSink> (*)(const RecordOptions& options, std::string& error);

// A format the recording can be written in, found by the extension of the path ("ser", "fits", "mkv").
struct RecordFormat {
  const char* extension = nullptr;  // lower case, without the dot
  RecordSinkMaker make = nullptr;
  bool holds16Bits = false;
};

// Formats of higher layers join here (published as one immutable table, safe from any thread).
void RegisterRecordFormat(const RecordFormat& format);
// The extensions known, for messages: ".ser, .fits, .mkv".
std::string KnownRecordExtensions();
// The format for `path`'s extension (case-insensitive), or null.
const RecordFormat* FindRecordFormat(const std::string& path);

}  // namespace ulmora
