#include "graph/media_names.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cstring>

namespace ulmora {
namespace {

constexpr Guid Ds(uint32_t a) { return MakeGuid(a, 0x524f, 0x11ce, 0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70); }
constexpr Guid Fcc(char a, char b, char c, char d) { return GuidFromFourcc(Fourcc(a, b, c, d)); }
constexpr Guid Fmt(uint32_t a) { return MakeGuid(a, 0xc356, 0x11ce, 0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a); }
constexpr Guid Analog(uint32_t a) {
  return MakeGuid(a, 0x7817, 0x11cf, 0x8a, 0x03, 0x00, 0xaa, 0x00, 0x6e, 0xcb, 0x65);
}
constexpr Guid TimeFmt(uint32_t a) {
  return MakeGuid(a, 0x8c82, 0x11cf, 0xbc, 0x0c, 0x00, 0xaa, 0x00, 0xac, 0x74, 0xf6);
}
constexpr Guid PinCat(uint32_t a) {
  return MakeGuid(a, 0x0353, 0x11d1, 0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba);
}

// Platform-style names for the identifiers a GStreamer graph can meet: the seven the platform declares
// first, in its order, then the rest grouped by kind. The null identifier is the "no time format" name.
const GuidNameEntry kGuidNames[] = {
    {"MEDIASUBTYPE_None", Ds(0xe436eb8e)},
    {"MEDIATYPE_Video", MEDIATYPE_Video},
    {"MEDIATYPE_Audio", MEDIATYPE_Audio},
    {"MEDIATYPE_Text", MEDIATYPE_Text},
    {"MEDIATYPE_Midi", Fcc('m', 'i', 'd', 's')},
    {"MEDIATYPE_Stream", MEDIATYPE_Stream},
    {"MEDIATYPE_Interleaved", MEDIATYPE_Interleaved},
    {"MEDIATYPE_File", Fcc('f', 'i', 'l', 'e')},
    {"MEDIATYPE_ScriptCommand", Fcc('s', 'c', 'm', 'd')},
    {"MEDIATYPE_AUXLine21Data", Analog(0x670aea80)},
    {"MEDIATYPE_Timecode", Analog(0x0482dee3)},
    {"MEDIATYPE_LMRT", MakeGuid(0x74726c6d, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71)},
    {"MEDIATYPE_URL_STREAM", MakeGuid(0x736c7275, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71)},
    {"MEDIASUBTYPE_CLPL", Fcc('C', 'L', 'P', 'L')},
    {"MEDIASUBTYPE_YUYV", Fcc('Y', 'U', 'Y', 'V')},
    {"MEDIASUBTYPE_IYUV", Fcc('I', 'Y', 'U', 'V')},
    {"MEDIASUBTYPE_YVU9", Fcc('Y', 'V', 'U', '9')},
    {"MEDIASUBTYPE_Y411", Fcc('Y', '4', '1', '1')},
    {"MEDIASUBTYPE_Y41P", Fcc('Y', '4', '1', 'P')},
    {"MEDIASUBTYPE_YUY2", MEDIASUBTYPE_YUY2},
    {"MEDIASUBTYPE_YVYU", Fcc('Y', 'V', 'Y', 'U')},
    {"MEDIASUBTYPE_UYVY", Fcc('U', 'Y', 'V', 'Y')},
    {"MEDIASUBTYPE_Y211", Fcc('Y', '2', '1', '1')},
    {"MEDIASUBTYPE_YV12", Fcc('Y', 'V', '1', '2')},
    {"MEDIASUBTYPE_NV12", Fcc('N', 'V', '1', '2')},
    {"MEDIASUBTYPE_I420", Fcc('I', '4', '2', '0')},
    {"MEDIASUBTYPE_Y800", Fcc('Y', '8', '0', '0')},
    {"MEDIASUBTYPE_CLJR", Fcc('C', 'L', 'J', 'R')},
    {"MEDIASUBTYPE_IF09", Fcc('I', 'F', '0', '9')},
    {"MEDIASUBTYPE_CPLA", Fcc('C', 'P', 'L', 'A')},
    {"MEDIASUBTYPE_MJPG", Fcc('M', 'J', 'P', 'G')},
    {"MEDIASUBTYPE_TVMJ", Fcc('T', 'V', 'M', 'J')},
    {"MEDIASUBTYPE_WAKE", Fcc('W', 'A', 'K', 'E')},
    {"MEDIASUBTYPE_CFCC", Fcc('C', 'F', 'C', 'C')},
    {"MEDIASUBTYPE_IJPG", Fcc('I', 'J', 'P', 'G')},
    {"MEDIASUBTYPE_Plum", Fcc('P', 'l', 'u', 'm')},
    {"MEDIASUBTYPE_DVCS", Fcc('d', 'v', 'c', 's')},
    {"MEDIASUBTYPE_DVSD", Fcc('d', 'v', 's', 'd')},
    {"MEDIASUBTYPE_MDVF", Fcc('M', 'D', 'V', 'F')},
    {"MEDIASUBTYPE_H264", Fcc('H', '2', '6', '4')},
    {"MEDIASUBTYPE_RGB1", Ds(0xe436eb78)},
    {"MEDIASUBTYPE_RGB4", Ds(0xe436eb79)},
    {"MEDIASUBTYPE_RGB8", Ds(0xe436eb7a)},
    {"MEDIASUBTYPE_RGB565", Ds(0xe436eb7b)},
    {"MEDIASUBTYPE_RGB555", Ds(0xe436eb7c)},
    {"MEDIASUBTYPE_RGB24", MEDIASUBTYPE_RGB24},
    {"MEDIASUBTYPE_RGB32", MEDIASUBTYPE_RGB32},
    {"MEDIASUBTYPE_ARGB1555", MakeGuid(0x297c55af, 0xe209, 0x4cb3, 0xb7, 0x57, 0xc7, 0x6d, 0x6b, 0x9c, 0x88, 0xa8)},
    {"MEDIASUBTYPE_ARGB4444", MakeGuid(0x6e6415e6, 0x5c24, 0x425f, 0x93, 0xcd, 0x80, 0x10, 0x2b, 0x3d, 0x1c, 0xca)},
    {"MEDIASUBTYPE_ARGB32", MakeGuid(0x773c9ac0, 0x3274, 0x11d0, 0xb7, 0x24, 0x00, 0xaa, 0x00, 0x6c, 0x1a, 0x01)},
    {"MEDIASUBTYPE_AYUV", Fcc('A', 'Y', 'U', 'V')},
    {"MEDIASUBTYPE_Overlay", Ds(0xe436eb7f)},
    {"MEDIASUBTYPE_MPEG1Packet", MEDIASUBTYPE_MPEG1Packet},
    {"MEDIASUBTYPE_MPEG1Payload", Ds(0xe436eb81)},
    {"MEDIASUBTYPE_MPEG1AudioPayload", GuidFromFourcc(0x50)},
    {"MEDIASUBTYPE_MPEG1System", Ds(0xe436eb84)},
    {"MEDIASUBTYPE_MPEG1VideoCD", Ds(0xe436eb85)},
    {"MEDIASUBTYPE_MPEG1Video", Ds(0xe436eb86)},
    {"MEDIASUBTYPE_MPEG1Audio", Ds(0xe436eb87)},
    {"MEDIASUBTYPE_Avi", Ds(0xe436eb88)},
    {"MEDIASUBTYPE_QTMovie", Ds(0xe436eb89)},
    {"MEDIASUBTYPE_WAVE", Ds(0xe436eb8b)},
    {"MEDIASUBTYPE_AU", Ds(0xe436eb8c)},
    {"MEDIASUBTYPE_AIFF", Ds(0xe436eb8d)},
    {"MEDIASUBTYPE_PCM", MEDIASUBTYPE_PCM},
    {"MEDIASUBTYPE_IEEE_FLOAT", GuidFromFourcc(3)},
    {"MEDIASUBTYPE_DOLBY_AC3_SPDIF", GuidFromFourcc(0x92)},
    {"MEDIASUBTYPE_MPEG2_AUDIO", MakeGuid(0xe06d802b, 0xdb46, 0x11cf, 0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea)},
    {"MEDIASUBTYPE_MPEG2_VIDEO", MakeGuid(0xe06d8026, 0xdb46, 0x11cf, 0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea)},
    {"MEDIASUBTYPE_AnalogVideo_NTSC_M", Analog(0x0482dde2)},
    {"MEDIASUBTYPE_AnalogVideo_PAL_B", Analog(0x0482dde5)},
    {"MEDIASUBTYPE_AnalogVideo_SECAM_B", Analog(0x0482ddf0)},
    {"MEDIATYPE_AnalogVideo", Analog(0x0482dde1)},
    {"MEDIATYPE_AnalogAudio", Analog(0x0482dee1)},
    {"FORMAT_None", MakeGuid(0x0f6417d6, 0xc318, 0x11d0, 0xa4, 0x3f, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96)},
    {"FORMAT_VideoInfo", FORMAT_VideoInfo},
    {"FORMAT_VideoInfo2", FORMAT_VideoInfo2},
    {"FORMAT_WaveFormatEx", FORMAT_WaveFormatEx},
    {"FORMAT_MPEGVideo", Fmt(0x05589f82)},
    {"FORMAT_MPEGStreams", Fmt(0x05589f83)},
    {"FORMAT_DvInfo", Fmt(0x05589f84)},
    {"FORMAT_AnalogVideo", Analog(0x0482dde0)},
    {"FORMAT_MPEG2Video", MakeGuid(0xe06d80e3, 0xdb46, 0x11cf, 0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea)},
    {"PIN_CATEGORY_CAPTURE", PinCat(0xfb6c4281)},
    {"PIN_CATEGORY_PREVIEW", PinCat(0xfb6c4282)},
    {"PIN_CATEGORY_ANALOGVIDEOIN", PinCat(0xfb6c4283)},
    {"PIN_CATEGORY_VBI", PinCat(0xfb6c4284)},
    {"PIN_CATEGORY_VIDEOPORT", PinCat(0xfb6c4285)},
    {"PIN_CATEGORY_NABTS", PinCat(0xfb6c4286)},
    {"PIN_CATEGORY_EDS", PinCat(0xfb6c4287)},
    {"PIN_CATEGORY_TELETEXT", PinCat(0xfb6c4288)},
    {"PIN_CATEGORY_CC", PinCat(0xfb6c4289)},
    {"PIN_CATEGORY_STILL", PinCat(0xfb6c428a)},
    {"PIN_CATEGORY_TIMECODE", PinCat(0xfb6c428b)},
    {"PIN_CATEGORY_VIDEOPORT_VBI", PinCat(0xfb6c428c)},
    {"TIME_FORMAT_NONE", GUID_NULL},
    {"TIME_FORMAT_FRAME", TIME_FORMAT_FRAME},
    {"TIME_FORMAT_BYTE", TimeFmt(0x7b785571)},
    {"TIME_FORMAT_SAMPLE", TimeFmt(0x7b785572)},
    {"TIME_FORMAT_FIELD", TimeFmt(0x7b785573)},
    {"TIME_FORMAT_MEDIA_TIME", TIME_FORMAT_MEDIA_TIME},
};

struct SubtypeRow {
  Guid subtype;
  int bits;
  const char* description;
};
const SubtypeRow kSubtypeRows[] = {
    {Ds(0xe436eb78), 1, "RGB Monochrome"},
    {Ds(0xe436eb79), 4, "RGB VGA"},
    {Ds(0xe436eb7a), 8, "RGB 8"},
    {Ds(0xe436eb7b), 16, "RGB 565 (16 bit)"},
    {Ds(0xe436eb7c), 16, "RGB 555 (16 bit)"},
    {MEDIASUBTYPE_RGB24, 24, "RGB 24"},
    {MEDIASUBTYPE_RGB32, 32, "RGB 32"},
    {MakeGuid(0x773c9ac0, 0x3274, 0x11d0, 0xb7, 0x24, 0x00, 0xaa, 0x00, 0x6c, 0x1a, 0x01), 32, "ARGB 32"},
    {Ds(0xe436eb7f), 0, "Overlay"},
    {GUID_NULL, 0, "UNKNOWN"},
};

// A subtype no table holds, stable for one media name, so that "Unknown GUID Name" is what it prints.
Guid UnknownSubtype(const char* mediaName) {
  uint32_t h = 2166136261u;
  for (const char* p = mediaName; p && *p; ++p) h = (h ^ static_cast<uint8_t>(*p)) * 16777619u;
  return MakeGuid(h, 0x6c75, 0x6d6f, 0x72, 0x61, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
}

struct RawVideoRow {
  GstVideoFormat format;
  Guid subtype;
  uint16_t bits;
  uint32_t compression;  // 0: RGB (BI_RGB), 3: bit fields, else the FOURCC
};
const RawVideoRow kRawVideo[] = {
    {GST_VIDEO_FORMAT_YUY2, MEDIASUBTYPE_YUY2, 16, kFourccYUY2},
    {GST_VIDEO_FORMAT_BGR, MEDIASUBTYPE_RGB24, 24, 0},
    {GST_VIDEO_FORMAT_BGRx, MEDIASUBTYPE_RGB32, 32, 0},
    {GST_VIDEO_FORMAT_BGRA, MakeGuid(0x773c9ac0, 0x3274, 0x11d0, 0xb7, 0x24, 0x00, 0xaa, 0x00, 0x6c, 0x1a, 0x01), 32,
     0},
    {GST_VIDEO_FORMAT_RGB16, Ds(0xe436eb7b), 16, 3},
    {GST_VIDEO_FORMAT_RGB15, Ds(0xe436eb7c), 16, 0},
    {GST_VIDEO_FORMAT_UYVY, Fcc('U', 'Y', 'V', 'Y'), 16, Fourcc('U', 'Y', 'V', 'Y')},
    {GST_VIDEO_FORMAT_YVYU, Fcc('Y', 'V', 'Y', 'U'), 16, Fourcc('Y', 'V', 'Y', 'U')},
    {GST_VIDEO_FORMAT_I420, Fcc('I', '4', '2', '0'), 12, Fourcc('I', '4', '2', '0')},
    {GST_VIDEO_FORMAT_YV12, Fcc('Y', 'V', '1', '2'), 12, Fourcc('Y', 'V', '1', '2')},
    {GST_VIDEO_FORMAT_NV12, Fcc('N', 'V', '1', '2'), 12, Fourcc('N', 'V', '1', '2')},
    {GST_VIDEO_FORMAT_GRAY8, Fcc('Y', '8', '0', '0'), 8, Fourcc('Y', '8', '0', '0')},
    {GST_VIDEO_FORMAT_AYUV, Fcc('A', 'Y', 'U', 'V'), 32, Fourcc('A', 'Y', 'U', 'V')},
};

void FillVideoInfo(const GstVideoInfo& info, const RawVideoRow* row, MediaType& mt) {
  const int32_t w = GST_VIDEO_INFO_WIDTH(&info), h = GST_VIDEO_INFO_HEIGHT(&info);
  VideoInfoHeader& vih = mt.vih;
  vih.rcSource = {0, 0, w, h};
  vih.rcTarget = {0, 0, w, h};
  const int n = GST_VIDEO_INFO_FPS_N(&info), d = GST_VIDEO_INFO_FPS_D(&info);
  if (n > 0 && d > 0) {
    vih.AvgTimePerFrame = static_cast<int64_t>(gst_util_uint64_scale_round(static_cast<guint64>(d), 10000000, n));
    vih.dwBitRate = static_cast<uint32_t>(
        std::min<guint64>(gst_util_uint64_scale(GST_VIDEO_INFO_SIZE(&info) * 8, n, d), 0xFFFFFFFFu));
  }
  BitmapInfoHeader& bih = vih.bmiHeader;
  bih.biSize = 40;
  bih.biWidth = w;
  bih.biHeight = h;  // positive: the frames are laid out top-down and shown upright
  bih.biPlanes = 1;
  if (row) {
    bih.biBitCount = row->bits;
    bih.biCompression = row->compression;
  } else {
    const GstVideoFormatInfo* fi = info.finfo;
    bih.biBitCount = 0;
    for (guint c = 0; fi && c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(fi); ++c)
      bih.biBitCount = static_cast<uint16_t>(bih.biBitCount + GST_VIDEO_FORMAT_INFO_DEPTH(fi, c));
    bih.biCompression = gst_video_format_to_fourcc(GST_VIDEO_INFO_FORMAT(&info));
  }
  bih.biSizeImage = static_cast<uint32_t>(GST_VIDEO_INFO_SIZE(&info));
  mt.formattype = FORMAT_VideoInfo;
  mt.cbFormat = sizeof(VideoInfoHeader);
  mt.bFixedSizeSamples = 1;
  mt.bTemporalCompression = 0;
  mt.lSampleSize = bih.biSizeImage;
}

}  // namespace

const GuidNameEntry* GuidNameTable(size_t& count) {
  count = sizeof(kGuidNames) / sizeof(kGuidNames[0]);
  return kGuidNames;
}

const char* GetGuidName(const Guid& guid) {
  for (const GuidNameEntry& e : kGuidNames)
    if (e.guid == guid) return e.name;
  return "Unknown GUID Name";
}

const char* GetSubtypeDescription(const Guid& subtype) {
  for (const SubtypeRow& r : kSubtypeRows)
    if (r.subtype == subtype) return r.description;
  return kSubtypeRows[sizeof(kSubtypeRows) / sizeof(kSubtypeRows[0]) - 1].description;
}

bool CapsToMediaType(const GstCaps* caps, CapsMediaType& out) {
  out = CapsMediaType{};
  if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  const char* name = gst_structure_get_name(s);
  const bool fixed = gst_caps_is_fixed(caps) != FALSE;
  MediaType& mt = out.mt;

  if (g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/")) {
    mt.majortype = MEDIATYPE_Video;
    if (std::strcmp(name, "video/x-raw") == 0) {
      const char* fmt = gst_structure_get_string(s, "format");
      const GstVideoFormat vf = fmt ? gst_video_format_from_string(fmt) : GST_VIDEO_FORMAT_UNKNOWN;
      const RawVideoRow* row = nullptr;
      for (const RawVideoRow& r : kRawVideo)
        if (r.format == vf) row = &r;
      if (row) {
        mt.subtype = row->subtype;
      } else if (vf != GST_VIDEO_FORMAT_UNKNOWN && gst_video_format_to_fourcc(vf) != 0) {
        mt.subtype = GuidFromFourcc(gst_video_format_to_fourcc(vf));
      } else {
        mt.subtype = UnknownSubtype(fmt ? fmt : name);
      }
      GstVideoInfo info;
      gst_video_info_init(&info);
      if (fixed && gst_video_info_from_caps(&info, caps)) FillVideoInfo(info, row, mt);
    } else if (std::strcmp(name, "image/jpeg") == 0) {
      mt.subtype = Fcc('M', 'J', 'P', 'G');
      mt.bTemporalCompression = 0;
    } else if (std::strcmp(name, "video/x-h264") == 0) {
      mt.subtype = Fcc('H', '2', '6', '4');
      mt.bTemporalCompression = 1;
    } else {
      mt.subtype = UnknownSubtype(name);
      mt.bTemporalCompression = 1;
    }
  } else if (g_str_has_prefix(name, "audio/")) {
    mt.majortype = MEDIATYPE_Audio;
    int rate = 0, channels = 0;
    if (std::strcmp(name, "audio/x-raw") == 0) {
      mt.subtype = MEDIASUBTYPE_PCM;
      const char* fmt = gst_structure_get_string(s, "format");
      int depth = 16;
      if (fmt && (std::strncmp(fmt, "S8", 2) == 0 || std::strncmp(fmt, "U8", 2) == 0))
        depth = 8;
      else if (fmt && (std::strncmp(fmt, "S24", 3) == 0 || std::strncmp(fmt, "U24", 3) == 0))
        depth = 24;
      else if (fmt && (std::strncmp(fmt, "S32", 3) == 0 || std::strncmp(fmt, "F32", 3) == 0))
        depth = 32;
      else if (fmt && std::strncmp(fmt, "F64", 3) == 0)
        depth = 64;
      if (fixed && gst_structure_get_int(s, "rate", &rate) && gst_structure_get_int(s, "channels", &channels)) {
        WaveFormatEx& w = out.wfx;
        w.wFormatTag = (fmt && fmt[0] == 'F') ? 3 : 1;
        w.nChannels = static_cast<uint16_t>(channels);
        w.nSamplesPerSec = static_cast<uint32_t>(rate);
        w.wBitsPerSample = static_cast<uint16_t>(depth);
        w.nBlockAlign = static_cast<uint16_t>(channels * depth / 8);
        w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
        w.cbSize = 0;
        out.cbWave = kWaveFormatExSize;
        mt.formattype = FORMAT_WaveFormatEx;
        mt.bFixedSizeSamples = 1;
        mt.lSampleSize = w.nBlockAlign;
      }
    } else {
      mt.subtype = UnknownSubtype(name);
    }
  } else if (g_str_has_prefix(name, "text/")) {
    mt.majortype = MEDIATYPE_Text;
    mt.subtype = UnknownSubtype(name);
  } else {
    mt.majortype = MEDIATYPE_Stream;
    mt.subtype = UnknownSubtype(name);
  }
  return true;
}

GstCaps* NewStepCaps(int step) {
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, step == 1 ? "YUY2" : "BGR", nullptr);
}

const Guid& StepSubtype(int step) { return step == 1 ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24; }

}  // namespace ulmora
