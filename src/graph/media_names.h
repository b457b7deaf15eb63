// Platform-style names for the media types GStreamer hands us: the GUID name table, the subtype
// description table, the negotiation subtype list, and caps read into our connected-type record.
#pragma once

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>

#include "pipeline/media_type.h"

namespace ulmora {

constexpr Guid MakeGuid(uint32_t a, uint16_t b, uint16_t c, uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3, uint8_t d4,
                        uint8_t d5, uint8_t d6, uint8_t d7) {
  return Guid{a, b, c, {d0, d1, d2, d3, d4, d5, d6, d7}};
}
constexpr uint32_t Fourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

inline constexpr Guid GUID_NULL{};
inline constexpr Guid MEDIATYPE_Video = GuidFromFourcc(Fourcc('v', 'i', 'd', 's'));
inline constexpr Guid MEDIATYPE_Audio = GuidFromFourcc(Fourcc('a', 'u', 'd', 's'));
inline constexpr Guid MEDIATYPE_Text = GuidFromFourcc(Fourcc('t', 'x', 't', 's'));
inline constexpr Guid MEDIATYPE_Interleaved = GuidFromFourcc(Fourcc('i', 'a', 'v', 's'));
inline constexpr Guid MEDIATYPE_Stream =
    MakeGuid(0xe436eb83, 0x524f, 0x11ce, 0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70);
inline constexpr Guid MEDIASUBTYPE_YUY2 = GuidFromFourcc(kFourccYUY2);
inline constexpr Guid MEDIASUBTYPE_RGB24 =
    MakeGuid(0xe436eb7d, 0x524f, 0x11ce, 0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70);
inline constexpr Guid MEDIASUBTYPE_RGB32 =
    MakeGuid(0xe436eb7e, 0x524f, 0x11ce, 0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70);
inline constexpr Guid MEDIASUBTYPE_PCM = GuidFromFourcc(1);
inline constexpr Guid MEDIASUBTYPE_MPEG1Packet =
    MakeGuid(0xe436eb80, 0x524f, 0x11ce, 0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70);
inline constexpr Guid FORMAT_VideoInfo =
    MakeGuid(0x05589f80, 0xc356, 0x11ce, 0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a);
inline constexpr Guid FORMAT_VideoInfo2 =
    MakeGuid(0xf72a76a0, 0xeb0a, 0x11d0, 0xac, 0xe4, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba);
inline constexpr Guid FORMAT_WaveFormatEx =
    MakeGuid(0x05589f81, 0xc356, 0x11ce, 0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a);
inline constexpr Guid TIME_FORMAT_FRAME =
    MakeGuid(0x7b785570, 0x8c82, 0x11cf, 0xbc, 0x0c, 0x00, 0xaa, 0x00, 0xac, 0x74, 0xf6);
inline constexpr Guid TIME_FORMAT_MEDIA_TIME =
    MakeGuid(0x7b785574, 0x8c82, 0x11cf, 0xbc, 0x0c, 0x00, 0xaa, 0x00, 0xac, 0x74, 0xf6);

struct GuidNameEntry {
  const char* name;
  Guid guid;
};

// The table in declaration order; the first equal GUID wins.
const GuidNameEntry* GuidNameTable(size_t& count);
// The table's name, or "Unknown GUID Name".
const char* GetGuidName(const Guid& guid);
// The description row for the subtype, or "UNKNOWN".
const char* GetSubtypeDescription(const Guid& subtype);

// The audio format block, which the connected-type record has no room for.
struct WaveFormatEx {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};
constexpr uint32_t kWaveFormatExSize = 18;

// A media type read from caps: the record, plus the audio block when the caps are raw audio.
struct CapsMediaType {
  MediaType mt;
  WaveFormatEx wfx;
  uint32_t cbWave = 0;  // 0: no audio block
};

// Fills out from caps. Fixed raw video becomes a FORMAT_VideoInfo type with its header (height positive,
// rows padded to 4 bytes as GStreamer lays them out); caps that are not fixed keep every format field zero,
// like the type offered in a negotiation step. False only for null or empty caps.
bool CapsToMediaType(const GstCaps* caps, CapsMediaType& out);

// The negotiation subtype list: step 1 YUY2, step 2 BGR (RGB24 memory layout).
constexpr int kNegotiationSteps = 2;
// New caps offered in the step (1-based): video/x-raw with the step's format and nothing else.
GstCaps* NewStepCaps(int step);
const Guid& StepSubtype(int step);

}  // namespace ulmora
