#include "devices/controls_store.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <linux/videodev2.h>

#include "common/log.h"
#include "devices/v4l2_describe.h"
#include "devices/v4l2_query.h"
#include "settings/profile.h"

namespace ulmora {

namespace {

constexpr size_t kStoredTextSize = 8192;

std::string KeyFor(const char* prefix, const std::string& identity) {
  std::string key = prefix + identity;
  for (char& c : key)
    if (c == '=' || c == '[' || c == ']' || c == '\n' || c == '\r' || c == '\\') c = '_';
  while (!key.empty() && key.back() == ' ') key.back() = '_';
  return key;
}

std::string ReadText(const std::string& key) {
  std::string text(kStoredTextSize, '\0');
  text.resize(ProfileGetString(kSectionBrisk, key.c_str(), "", text.data(), text.size()));
  return text;
}

bool ReadU64(const std::string& key, int base, uint64_t* pnValue) {
  std::string text = ReadText(key);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || text[0] == '-') return false;
  *pnValue = v;
  return true;
}

// GStreamer's name of a V4L2 pixel format, for raw video.
const char* RawFormatName(uint32_t nFourcc) {
  switch (nFourcc) {
    case V4L2_PIX_FMT_YUYV: return "YUY2";
    case V4L2_PIX_FMT_UYVY: return "UYVY";
    case V4L2_PIX_FMT_YVYU: return "YVYU";
    case V4L2_PIX_FMT_BGR24: return "BGR";
    case V4L2_PIX_FMT_RGB24: return "RGB";
    case V4L2_PIX_FMT_YUV420: return "I420";
    case V4L2_PIX_FMT_YVU420: return "YV12";
    case V4L2_PIX_FMT_NV12: return "NV12";
    case V4L2_PIX_FMT_NV21: return "NV21";
    case V4L2_PIX_FMT_GREY: return "GRAY8";
    // Astronomy cameras: 16-bit grey, reaching the chain as 8-bit grey (the high byte).
    case V4L2_PIX_FMT_Y16: return "GRAY16_LE";
    case V4L2_PIX_FMT_Y16_BE: return "GRAY16_BE";
    default: return nullptr;
  }
}

// A rate as the fraction drivers use: whole numbers, NTSC's n*1000/1001, else thousandths.
void RateFraction(double dRate, uint64_t* pnNum, uint64_t* pnDen) {
  double whole = std::round(dRate);
  double ntsc = std::round(dRate * 1.001);
  if (std::fabs(dRate - whole) < 0.001) {
    *pnNum = static_cast<uint64_t>(whole);
    *pnDen = 1;
  } else if (std::fabs(dRate - ntsc / 1.001) < 0.001) {
    *pnNum = static_cast<uint64_t>(ntsc) * 1000;
    *pnDen = 1001;
  } else {
    *pnNum = static_cast<uint64_t>(std::round(dRate * 1000));
    *pnDen = 1000;
  }
}

}  // namespace

std::string RememberedControlsKey(const std::string& identity) { return KeyFor("Controls:", identity); }

bool ForgetControls(const std::string& identity) {
  return ProfileWriteString(kSectionBrisk, RememberedControlsKey(identity).c_str(), "");
}

bool RememberStandard(const std::string& identity, uint64_t nStandard) {
  char text[32];
  snprintf(text, sizeof text, "%016" PRIx64, nStandard);
  return ProfileWriteString(kSectionBrisk, KeyFor("Standard:", identity).c_str(), text);
}

bool RememberFrequency(const std::string& identity, uint64_t nHz) {
  char text[32];
  snprintf(text, sizeof text, "%" PRIu64, nHz);
  return ProfileWriteString(kSectionBrisk, KeyFor("Frequency:", identity).c_str(), text);
}

bool RememberFrameFormat(const std::string& identity, const FrameFormatChoice& choice) {
  char text[96];
  snprintf(text, sizeof text, "%08" PRIx32 ":%" PRIu32 "x%" PRIu32 "@%.3f", choice.nFourcc, choice.nWidth,
           choice.nHeight, choice.dFrameRate);
  return ProfileWriteString(kSectionBrisk, KeyFor("Format:", identity).c_str(), text);
}

bool ReadRememberedStandard(const std::string& identity, uint64_t* pnStandard) {
  uint64_t v = 0;
  if (!ReadU64(KeyFor("Standard:", identity), 16, &v) || v == 0) return false;
  *pnStandard = v;
  return true;
}

bool ReadRememberedFrequency(const std::string& identity, uint64_t* pnHz) {
  uint64_t v = 0;
  if (!ReadU64(KeyFor("Frequency:", identity), 10, &v) || v == 0) return false;
  *pnHz = v;
  return true;
}

bool ReadRememberedFrameFormat(const std::string& identity, FrameFormatChoice* choice) {
  std::string text = ReadText(KeyFor("Format:", identity));
  unsigned int fourcc = 0, w = 0, h = 0;
  double rate = 0.0;
  int consumed = 0;
  if (sscanf(text.c_str(), "%8x:%ux%u@%lf%n", &fourcc, &w, &h, &rate, &consumed) != 4 ||
      consumed != static_cast<int>(text.size()) || fourcc == 0 || w == 0 || h == 0 || w > 65536 || h > 65536 ||
      !(rate >= 0.0 && rate < 100000.0))
    return false;
  *choice = {fourcc, w, h, rate};
  return true;
}

bool IsBayerFormat(uint32_t nFourcc) {
  switch (nFourcc) {
    case V4L2_PIX_FMT_SBGGR8: case V4L2_PIX_FMT_SGBRG8: case V4L2_PIX_FMT_SGRBG8: case V4L2_PIX_FMT_SRGGB8:
    case V4L2_PIX_FMT_SBGGR10: case V4L2_PIX_FMT_SGBRG10: case V4L2_PIX_FMT_SGRBG10: case V4L2_PIX_FMT_SRGGB10:
    case V4L2_PIX_FMT_SBGGR12: case V4L2_PIX_FMT_SGBRG12: case V4L2_PIX_FMT_SGRBG12: case V4L2_PIX_FMT_SRGGB12:
    case V4L2_PIX_FMT_SBGGR16: case V4L2_PIX_FMT_SGBRG16: case V4L2_PIX_FMT_SGRBG16: case V4L2_PIX_FMT_SRGGB16:
      return true;
    default:
      return false;
  }
}

const char* FrameFormatRefusal(uint32_t nFourcc) {
  if (IsBayerFormat(nFourcc))
    return "Raw colour (Bayer) pictures are not supported yet: choose a grey, YUV, RGB or MJPEG format.";
  return nullptr;
}

std::string FrameFormatCaps(const FrameFormatChoice& choice) {
  std::string caps;
  if (const char* raw = RawFormatName(choice.nFourcc)) {
    caps = std::string("video/x-raw,format=") + raw;
  } else if (choice.nFourcc == V4L2_PIX_FMT_MJPEG || choice.nFourcc == V4L2_PIX_FMT_JPEG) {
    caps = "image/jpeg";
  } else {
    return "";
  }
  if (choice.nWidth > 0 && choice.nHeight > 0)
    caps += ",width=" + std::to_string(choice.nWidth) + ",height=" + std::to_string(choice.nHeight);
  if (choice.dFrameRate > 0.0) {
    uint64_t num = 0, den = 1;
    RateFraction(choice.dFrameRate, &num, &den);
    caps += ",framerate=" + std::to_string(num) + "/" + std::to_string(den);
  }
  return caps;
}

std::string FormatRememberedControls(const std::vector<RememberedControl>& controls) {
  std::string text;
  for (const RememberedControl& c : controls) {
    char item[48];
    snprintf(item, sizeof item, "%s%08" PRIx32 ":%" PRId64, text.empty() ? "" : ",", c.nId, c.nValue);
    text += item;
  }
  return text;
}

std::vector<RememberedControl> ParseRememberedControls(const std::string& text) {
  std::vector<RememberedControl> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(pos, end - pos);
    pos = end + 1;
    size_t colon = item.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= item.size()) continue;
    std::string idText = item.substr(0, colon), valueText = item.substr(colon + 1);
    char* idEnd = nullptr;
    char* valueEnd = nullptr;
    errno = 0;
    unsigned long long id = strtoull(idText.c_str(), &idEnd, 16);
    long long value = strtoll(valueText.c_str(), &valueEnd, 10);
    if (errno != 0 || *idEnd != '\0' || *valueEnd != '\0' || id == 0 || id > UINT32_MAX) continue;
    bool bReplaced = false;
    for (RememberedControl& c : out)
      if (c.nId == id) {
        c.nValue = value;
        bReplaced = true;
      }
    if (!bReplaced) out.push_back({static_cast<uint32_t>(id), static_cast<int64_t>(value)});
  }
  return out;
}

std::vector<RememberedControl> ReadRememberedControls(const std::string& identity) {
  return ParseRememberedControls(ReadText(RememberedControlsKey(identity)));
}

bool RememberControl(const std::string& identity, uint32_t nId, int64_t nValue) {
  std::vector<RememberedControl> controls = ReadRememberedControls(identity);
  bool bFound = false;
  for (RememberedControl& c : controls)
    if (c.nId == nId) {
      c.nValue = nValue;
      bFound = true;
    }
  if (!bFound) controls.push_back({nId, nValue});
  return ProfileWriteString(kSectionBrisk, RememberedControlsKey(identity).c_str(),
                            FormatRememberedControls(controls).c_str());
}

int ApplyRememberedControls(IV4l2Node& node, const std::string& identity) {
  std::vector<RememberedControl> pending;
  for (const RememberedControl& c : ReadRememberedControls(identity)) {
    v4l2_query_ext_ctrl q{};
    q.id = c.nId;
    if (V4l2QueryControl(node, &q) != 0) {
      LogPrintf("Controls: %s has no control %08x now, its remembered value is left", identity.c_str(), c.nId);
      continue;
    }
    // Actions (relative motor steps) and values the device changes itself are never set again, even
    // when an earlier version stored them.
    if (!IsRememberable(q)) continue;
    if (c.nValue < q.minimum || c.nValue > q.maximum) {
      LogPrintf("Controls: remembered value %" PRId64 " of %.32s is outside %" PRId64 "..%" PRId64 ", not applied",
                c.nValue, q.name, static_cast<int64_t>(q.minimum), static_cast<int64_t>(q.maximum));
      continue;
    }
    pending.push_back(c);
  }
  int nApplied = 0;
  for (int pass = 0; pass < 2 && !pending.empty(); ++pass) {
    std::vector<RememberedControl> refused;
    for (const RememberedControl& c : pending) {
      int err = V4l2SetControl(node, c.nId, c.nValue);
      if (err == 0) {
        ++nApplied;
      } else if (pass == 0) {
        refused.push_back(c);
      } else {
        LogPrintf("Controls: %s refused remembered value %" PRId64 " of control %08x: %s", identity.c_str(),
                  c.nValue, c.nId, V4l2ErrorText(err).c_str());
      }
    }
    pending.swap(refused);
  }
  if (nApplied > 0) LogPrintf("Controls: %d remembered values applied to %s", nApplied, identity.c_str());
  return nApplied;
}

int ApplyRememberedSource(IV4l2Node& node, const std::string& identity) {
  int nApplied = 0;
  // The standard belongs to the input routed before this is called, the frequency to its tuner.
  uint64_t nStandard = 0;
  if (ReadRememberedStandard(identity, &nStandard)) {
    v4l2_std_id id = nStandard;
    v4l2_std_id now = 0;
    // Setting the standard it has already resets a card's format for nothing.
    if (node.Ioctl(VIDIOC_G_STD, &now) == 0 && now != 0 && (now & id) == now) {
      ++nApplied;
    } else if (int err = node.Ioctl(VIDIOC_S_STD, &id)) {
      LogPrintf("Controls: %s refused its remembered video standard: %s", identity.c_str(), V4l2ErrorText(err).c_str());
    } else {
      ++nApplied;
    }
  }
  uint64_t nHz = 0;
  if (ReadRememberedFrequency(identity, &nHz)) {
    if (int err = V4l2SetFrequency(node, nHz))
      LogPrintf("Controls: %s refused its remembered frequency: %s", identity.c_str(), V4l2ErrorText(err).c_str());
    else
      ++nApplied;
  }
  return nApplied;
}

int ApplyRememberedSource(const std::string& identity) {
  uint64_t nUnused = 0;
  if (!ReadRememberedStandard(identity, &nUnused) && !ReadRememberedFrequency(identity, &nUnused)) return 0;
  std::string error;
  V4l2NodeRef node = OpenV4l2Node(identity.c_str(), &error);
  if (!node) {
    LogPrintf("Controls: %s", error.c_str());
    return 0;
  }
  return ApplyRememberedSource(*node, identity);
}

int ApplyRememberedControls(const std::string& identity) {
  if (ReadRememberedControls(identity).empty()) return 0;
  std::string error;
  V4l2NodeRef node = OpenV4l2Node(identity.c_str(), &error);
  if (!node) {
    LogPrintf("Controls: %s", error.c_str());
    return 0;
  }
  return ApplyRememberedControls(*node, identity);
}

}  // namespace ulmora
