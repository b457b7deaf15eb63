#include "devices/v4l2_describe.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ulmora {

namespace {

// Lower case without separators: "S-Video", "s video" and "SVIDEO" read alike.
std::string Folded(const std::string& name) {
  std::string folded;
  for (char c : name)
    if (c != '-' && c != ' ' && c != '_') folded += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return folded;
}

}  // namespace

std::string InputName(const v4l2_input& input) { return FieldText(input.name); }

int InputPhysicalType(const v4l2_input& input) {
  if (input.type == V4L2_INPUT_TYPE_TUNER) return 1;  // PhysConn_Video_Tuner
  const std::string name = Folded(InputName(input));
  if (name.find("svideo") != std::string::npos) return 3;  // PhysConn_Video_SVideo
  // Inputs with digital timings are HDMI or DVI; a component input says so in its name.
  if ((input.capabilities & V4L2_IN_CAP_DV_TIMINGS) || name.find("hdmi") != std::string::npos ||
      name.find("dvi") != std::string::npos || name.find("sdi") != std::string::npos)
    return 6;  // PhysConn_Video_SerialDigital
  if (name.find("component") != std::string::npos || name.find("ypbpr") != std::string::npos) return 5;  // YRYBY
  if (name.find("rgb") != std::string::npos || name.find("vga") != std::string::npos) return 4;  // RGB
  return 2;  // PhysConn_Video_Composite
}

int AudioPhysicalType(const std::string& name) {
  std::string folded;
  for (char c : name) folded += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (folded.find("tuner") != std::string::npos || folded.find("tv") != std::string::npos) return 0x1000;  // Audio Tuner
  return 0x1001;                                                                                             // Audio Line
}

v4l2_query_ext_ctrl ExtendedQuery(const v4l2_queryctrl& query) {
  v4l2_query_ext_ctrl q{};
  q.id = query.id;
  q.type = query.type;
  static_assert(sizeof q.name >= sizeof query.name);
  memcpy(q.name, query.name, sizeof query.name);
  q.minimum = query.minimum;
  q.maximum = query.maximum;
  q.step = static_cast<uint32_t>(query.step);
  q.default_value = query.default_value;
  q.flags = query.flags;
  // The old request carries a bitmask's 32 bits in signed fields.
  if (query.type == V4L2_CTRL_TYPE_BITMASK) {
    q.maximum = static_cast<uint32_t>(query.maximum);
    q.default_value = static_cast<uint32_t>(query.default_value);
  }
  q.elem_size = query.type == V4L2_CTRL_TYPE_INTEGER64 ? 8 : 4;
  q.elems = 1;
  return q;
}

bool DescribeControl(const v4l2_query_ext_ctrl& q, ControlDescription* out) {
  if (q.flags & V4L2_CTRL_FLAG_DISABLED) return false;
  if (q.nr_of_dims > 0 || (q.flags & V4L2_CTRL_FLAG_HAS_PAYLOAD)) return false;
  ControlDescription d;
  switch (q.type) {
    case V4L2_CTRL_TYPE_INTEGER: d.kind = ControlKind::Integer; break;
    case V4L2_CTRL_TYPE_INTEGER64: d.kind = ControlKind::Integer64; break;
    case V4L2_CTRL_TYPE_BOOLEAN: d.kind = ControlKind::Boolean; break;
    case V4L2_CTRL_TYPE_MENU: d.kind = ControlKind::Menu; break;
    case V4L2_CTRL_TYPE_INTEGER_MENU: d.kind = ControlKind::IntegerMenu; break;
    case V4L2_CTRL_TYPE_BUTTON: d.kind = ControlKind::Button; break;
    case V4L2_CTRL_TYPE_BITMASK: d.kind = ControlKind::Bitmask; break;
    default: return false;  // class headers, strings and compound controls have no dialog row
  }
  d.nId = q.id;
  d.nClass = V4L2_CTRL_ID2WHICH(q.id);
  d.name = FieldText(q.name);
  d.nMinimum = q.minimum;
  d.nMaximum = q.maximum;
  d.nStep = q.step > 0 ? static_cast<int64_t>(std::min<uint64_t>(q.step, INT64_MAX)) : 1;
  d.nDefault = q.default_value;
  d.bReadOnly = (q.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
  d.bInactive = (q.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
  d.bWriteOnly = (q.flags & V4L2_CTRL_FLAG_WRITE_ONLY) != 0 || q.type == V4L2_CTRL_TYPE_BUTTON;
  d.bVolatile = (q.flags & V4L2_CTRL_FLAG_VOLATILE) != 0;
  d.bUpdatesOthers = (q.flags & V4L2_CTRL_FLAG_UPDATE) != 0;
  d.bExecuteOnWrite = (q.flags & V4L2_CTRL_FLAG_EXECUTE_ON_WRITE) != 0;
  d.bAutoMode = IsAutoModeControl(q.id);
  if (d.kind == ControlKind::Boolean) {
    d.nMinimum = 0;
    d.nMaximum = 1;
  }
  *out = std::move(d);
  return true;
}

bool IsAutoModeControl(uint32_t nId) {
  switch (nId) {
    case V4L2_CID_AUTOGAIN:
    case V4L2_CID_AUTO_WHITE_BALANCE:
    case V4L2_CID_HUE_AUTO:
    case V4L2_CID_AUTOBRIGHTNESS:
    case V4L2_CID_EXPOSURE_AUTO:
    case V4L2_CID_FOCUS_AUTO:
    case V4L2_CID_AUTO_N_PRESET_WHITE_BALANCE:
      return true;
    default:
      return false;
  }
}

bool IsRememberable(const v4l2_query_ext_ctrl& q) {
  if (q.type == V4L2_CTRL_TYPE_BUTTON) return false;
  return !(q.flags & (V4L2_CTRL_FLAG_WRITE_ONLY | V4L2_CTRL_FLAG_EXECUTE_ON_WRITE | V4L2_CTRL_FLAG_VOLATILE |
                      V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_DISABLED));
}

ControlMenuEntry DescribeMenuEntry(const v4l2_query_ext_ctrl& q, const v4l2_querymenu& item) {
  ControlMenuEntry e;
  e.nIndex = item.index;
  if (q.type == V4L2_CTRL_TYPE_INTEGER_MENU)
    e.text = std::to_string(static_cast<long long>(item.value));
  else
    e.text = FieldText(item.name);
  return e;
}

const char* ControlClassName(uint32_t nClass) {
  switch (nClass) {
    case V4L2_CTRL_CLASS_USER: return "User Controls";
    case V4L2_CTRL_CLASS_CODEC: return "Codec Controls";
    case V4L2_CTRL_CLASS_CAMERA: return "Camera Controls";
    case V4L2_CTRL_CLASS_FLASH: return "Flash Controls";
    case V4L2_CTRL_CLASS_JPEG: return "JPEG Compression Controls";
    case V4L2_CTRL_CLASS_IMAGE_SOURCE: return "Image Source Controls";
    case V4L2_CTRL_CLASS_IMAGE_PROC: return "Image Processing Controls";
    case V4L2_CTRL_CLASS_DV: return "Digital Video Controls";
    case V4L2_CTRL_CLASS_FM_RX: return "FM Receiver Controls";
    case V4L2_CTRL_CLASS_RF_TUNER: return "RF Tuner Controls";
    case V4L2_CTRL_CLASS_DETECT: return "Detection Controls";
    case V4L2_CTRL_CLASS_COLORIMETRY: return "Colorimetry Controls";
    default: return "Controls";
  }
}

std::string FourccText(uint32_t nFourcc) {
  std::string s(4, '?');
  for (int i = 0; i < 4; ++i) {
    unsigned char c = static_cast<unsigned char>((nFourcc >> (8 * i)) & 0xff);
    if (isprint(c)) s[static_cast<size_t>(i)] = static_cast<char>(c);
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

double FrameRateOf(const v4l2_fract& interval) {
  if (interval.numerator == 0 || interval.denominator == 0) return 0.0;
  return static_cast<double>(interval.denominator) / interval.numerator;
}

VideoStandardDescription DescribeStandard(const v4l2_standard& standard) {
  VideoStandardDescription d;
  d.nId = standard.id;
  d.name = FieldText(standard.name);
  d.dFrameRate = FrameRateOf(standard.frameperiod);
  d.nLines = standard.framelines;
  return d;
}

namespace {

// The unit as a fraction of Hz.
void TunerUnit(const v4l2_tuner& tuner, uint64_t* pNum, uint64_t* pDen) {
  if (tuner.capability & V4L2_TUNER_CAP_1HZ) {
    *pNum = 1;
    *pDen = 1;
  } else if (tuner.capability & V4L2_TUNER_CAP_LOW) {
    *pNum = 125;
    *pDen = 2;
  } else {
    *pNum = 125000;
    *pDen = 2;
  }
}

}  // namespace

uint64_t TunerHz(const v4l2_tuner& tuner, uint64_t nUnits) {
  uint64_t num = 1, den = 1;
  TunerUnit(tuner, &num, &den);
  return nUnits * num / den;
}

uint32_t TunerUnits(const v4l2_tuner& tuner, uint64_t nHz) {
  uint64_t num = 1, den = 1;
  TunerUnit(tuner, &num, &den);
  uint64_t units = (nHz * den + num / 2) / num;
  uint64_t lo = tuner.rangelow, hi = std::max(tuner.rangelow, tuner.rangehigh);
  return static_cast<uint32_t>(std::clamp(units, lo, hi));
}

TunerDescription DescribeTuner(const v4l2_tuner& tuner) {
  TunerDescription d;
  d.name = FieldText(tuner.name);
  d.bRadio = tuner.type == V4L2_TUNER_RADIO;
  d.nMinHz = TunerHz(tuner, tuner.rangelow);
  d.nMaxHz = TunerHz(tuner, std::max(tuner.rangelow, tuner.rangehigh));
  d.nStepHz = TunerHz(tuner, 1);
  d.nSignalPercent = static_cast<int>((static_cast<uint64_t>(tuner.signal & 0xffff) * 100 + 32767) / 65535);
  d.audioModes.push_back({V4L2_TUNER_MODE_MONO, "Mono"});
  if (tuner.capability & V4L2_TUNER_CAP_STEREO) d.audioModes.push_back({V4L2_TUNER_MODE_STEREO, "Stereo"});
  if (tuner.capability & V4L2_TUNER_CAP_LANG1) d.audioModes.push_back({V4L2_TUNER_MODE_LANG1, "Language 1"});
  if (tuner.capability & V4L2_TUNER_CAP_LANG2) d.audioModes.push_back({V4L2_TUNER_MODE_LANG2, "Language 2"});
  if ((tuner.capability & V4L2_TUNER_CAP_LANG1) && (tuner.capability & V4L2_TUNER_CAP_LANG2))
    d.audioModes.push_back({V4L2_TUNER_MODE_LANG1_LANG2, "Language 1 + Language 2"});
  d.nAudioMode = tuner.audmode;
  return d;
}

}  // namespace ulmora
