#include "devices/v4l2_query.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "devices/v4l2_describe.h"

namespace ulmora {

namespace {

// Drivers list at most a few hundred of anything; a loop that does not end is a driver bug.
constexpr uint32_t kMaxEnumerated = 1024;

int QueryControl(IV4l2Node& node, uint32_t nId, v4l2_query_ext_ctrl* q) {
  *q = {};
  q->id = nId;
  return V4l2QueryControl(node, q);
}

// The tuner of the current input (tuner 0 when the input names none).
int GetCurrentTuner(IV4l2Node& node, v4l2_tuner* t) {
  *t = {};
  int nInput = 0;
  if (node.Ioctl(VIDIOC_G_INPUT, &nInput) == 0) {
    v4l2_input input{};
    input.index = static_cast<uint32_t>(nInput);
    if (node.Ioctl(VIDIOC_ENUMINPUT, &input) == 0 && input.type == V4L2_INPUT_TYPE_TUNER) t->index = input.tuner;
  }
  return node.Ioctl(VIDIOC_G_TUNER, t);
}

void DescribeIntervals(IV4l2Node& node, uint32_t nFourcc, FrameSizeDescription* size) {
  size->dMinFrameRate = size->dMaxFrameRate = 0.0;
  for (uint32_t i = 0; i < kMaxEnumerated; ++i) {
    v4l2_frmivalenum iv{};
    iv.index = i;
    iv.pixel_format = nFourcc;
    iv.width = size->nWidth;
    iv.height = size->nHeight;
    if (node.Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &iv) != 0) break;
    if (iv.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      size->frameRates.push_back(FrameRateOf(iv.discrete));
    } else {
      // A range: the longest interval is the lowest rate.
      size->dMinFrameRate = FrameRateOf(iv.stepwise.max);
      size->dMaxFrameRate = FrameRateOf(iv.stepwise.min);
      break;
    }
  }
  std::sort(size->frameRates.begin(), size->frameRates.end(), std::greater<double>());
  if (!size->frameRates.empty()) {
    size->dMaxFrameRate = size->frameRates.front();
    size->dMinFrameRate = size->frameRates.back();
  }
}

// The size TRY_FMT turns the asked one into: the nearest the device takes.
bool TrySize(IV4l2Node& node, uint32_t nBufType, uint32_t nFourcc, uint32_t* pnWidth, uint32_t* pnHeight) {
  v4l2_format f{};
  f.type = nBufType;
  if (nBufType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
    f.fmt.pix_mp.pixelformat = nFourcc;
    f.fmt.pix_mp.width = *pnWidth;
    f.fmt.pix_mp.height = *pnHeight;
  } else {
    f.fmt.pix.pixelformat = nFourcc;
    f.fmt.pix.width = *pnWidth;
    f.fmt.pix.height = *pnHeight;
  }
  if (node.Ioctl(VIDIOC_TRY_FMT, &f) != 0) return false;
  const bool bMulti = nBufType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
  if ((bMulti ? f.fmt.pix_mp.pixelformat : f.fmt.pix.pixelformat) != nFourcc) return false;
  *pnWidth = bMulti ? f.fmt.pix_mp.width : f.fmt.pix.width;
  *pnHeight = bMulti ? f.fmt.pix_mp.height : f.fmt.pix.height;
  return *pnWidth > 0 && *pnHeight > 0;
}

// Analog capture drivers (bttv, saa7134, cx88) enumerate no sizes: they scale to anything from their
// smallest size up to the standard's lines, at the standard's rate, which TRY_FMT tells.
void DescribeSizesByTrying(IV4l2Node& node, uint32_t nBufType, double dStandardRate, FrameFormatDescription* format) {
  uint32_t maxW = 16384, maxH = 16384, minW = 1, minH = 1;
  if (!TrySize(node, nBufType, format->nFourcc, &maxW, &maxH) || !TrySize(node, nBufType, format->nFourcc, &minW, &minH))
    return;
  FrameSizeDescription size;
  size.nWidth = maxW;
  size.nHeight = maxH;
  if (minW != maxW || minH != maxH) {
    size.bRange = true;
    size.nMinWidth = std::min(minW, maxW);
    size.nMinHeight = std::min(minH, maxH);
    size.nStepWidth = size.nStepHeight = 1;
  }
  if (dStandardRate > 0) {
    size.frameRates.push_back(dStandardRate);
    size.dMinFrameRate = size.dMaxFrameRate = dStandardRate;
  }
  format->sizes.push_back(std::move(size));
}

void DescribeSizes(IV4l2Node& node, uint32_t nBufType, double dStandardRate, FrameFormatDescription* format) {
  for (uint32_t i = 0; i < kMaxEnumerated; ++i) {
    v4l2_frmsizeenum fs{};
    fs.index = i;
    fs.pixel_format = format->nFourcc;
    if (node.Ioctl(VIDIOC_ENUM_FRAMESIZES, &fs) != 0) {
      if (i == 0) DescribeSizesByTrying(node, nBufType, dStandardRate, format);
      break;
    }
    FrameSizeDescription size;
    if (fs.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      size.nWidth = fs.discrete.width;
      size.nHeight = fs.discrete.height;
    } else {
      size.bRange = true;
      size.nMinWidth = fs.stepwise.min_width;
      size.nMinHeight = fs.stepwise.min_height;
      size.nWidth = fs.stepwise.max_width;
      size.nHeight = fs.stepwise.max_height;
      size.nStepWidth = fs.type == V4L2_FRMSIZE_TYPE_CONTINUOUS ? 1 : fs.stepwise.step_width;
      size.nStepHeight = fs.type == V4L2_FRMSIZE_TYPE_CONTINUOUS ? 1 : fs.stepwise.step_height;
    }
    DescribeIntervals(node, format->nFourcc, &size);
    if (size.frameRates.empty() && size.dMaxFrameRate == 0.0 && dStandardRate > 0) {
      size.frameRates.push_back(dStandardRate);
      size.dMinFrameRate = size.dMaxFrameRate = dStandardRate;
    }
    format->sizes.push_back(std::move(size));
    if (fs.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
  }
}

}  // namespace

std::string V4l2ErrorText(int err) { return strerror(err); }

int V4l2QueryControl(IV4l2Node& node, v4l2_query_ext_ctrl* query) {
  uint32_t nId = query->id;
  int err = node.Ioctl(VIDIOC_QUERY_EXT_CTRL, query);
  if (err != ENOTTY) return err;
  v4l2_queryctrl legacy{};
  legacy.id = nId & ~V4L2_CTRL_FLAG_NEXT_COMPOUND;
  if ((err = node.Ioctl(VIDIOC_QUERYCTRL, &legacy))) return err;
  *query = ExtendedQuery(legacy);
  return 0;
}

int V4l2EnumInputs(IV4l2Node& node, std::vector<v4l2_input>* inputs) {
  inputs->clear();
  for (uint32_t i = 0; i < kMaxEnumerated; ++i) {
    v4l2_input input{};
    input.index = i;
    int err = node.Ioctl(VIDIOC_ENUMINPUT, &input);
    if (err == EINVAL && i > 0) return 0;  // the end of the list
    if (err != 0) return err;
    inputs->push_back(input);
  }
  return 0;
}

// One control through the extended request, or through the old single-control one for drivers that
// lack it (never for 64-bit controls, which the old request cannot carry).
static int ExchangeControl(IV4l2Node& node, bool bSet, const v4l2_query_ext_ctrl& q, v4l2_ext_control* c) {
  v4l2_ext_controls cs{};
  cs.which = V4L2_CTRL_WHICH_CUR_VAL;
  cs.count = 1;
  cs.controls = c;
  int err = node.Ioctl(bSet ? VIDIOC_S_EXT_CTRLS : VIDIOC_G_EXT_CTRLS, &cs);
  if (err != ENOTTY || q.type == V4L2_CTRL_TYPE_INTEGER64) return err;
  v4l2_control legacy{};
  legacy.id = c->id;
  legacy.value = c->value;
  err = node.Ioctl(bSet ? VIDIOC_S_CTRL : VIDIOC_G_CTRL, &legacy);
  c->value = legacy.value;
  return err;
}

// The value a control record carries: 64 bits, a bitmask's 32 unsigned bits, or a signed 32-bit value.
static int64_t ValueOf(const v4l2_query_ext_ctrl& q, const v4l2_ext_control& c) {
  if (q.type == V4L2_CTRL_TYPE_INTEGER64) return c.value64;
  if (q.type == V4L2_CTRL_TYPE_BITMASK) return static_cast<uint32_t>(c.value);
  return c.value;
}

// Reads control nId whose record q the caller has queried already, so a walk over the controls asks once.
// A USB camera answers EIO now and then: asked once more before giving up.
static int ReadControl(IV4l2Node& node, uint32_t nId, const v4l2_query_ext_ctrl& q, int64_t* pnValue) {
  if (q.flags & V4L2_CTRL_FLAG_WRITE_ONLY || q.type == V4L2_CTRL_TYPE_BUTTON) return EACCES;
  int err = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    v4l2_ext_control c{};
    c.id = nId;
    err = ExchangeControl(node, false, q, &c);
    if (err == 0) {
      *pnValue = ValueOf(q, c);
      return 0;
    }
    if (err != EIO) break;
  }
  return err;
}

int V4l2GetControl(IV4l2Node& node, uint32_t nId, int64_t* pnValue) {
  v4l2_query_ext_ctrl q{};
  if (int err = QueryControl(node, nId, &q)) return err;
  return ReadControl(node, nId, q, pnValue);
}

int V4l2SetControl(IV4l2Node& node, uint32_t nId, int64_t nValue, int64_t* pnApplied) {
  v4l2_query_ext_ctrl q{};
  if (int err = QueryControl(node, nId, &q)) return err;
  return V4l2SetQueriedControl(node, q, nValue, pnApplied);
}

int V4l2SetQueriedControl(IV4l2Node& node, const v4l2_query_ext_ctrl& q, int64_t nValue, int64_t* pnApplied) {
  if (q.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_DISABLED)) return EACCES;
  v4l2_ext_control c{};
  c.id = q.id;
  if (q.type == V4L2_CTRL_TYPE_INTEGER64) {
    c.value64 = nValue;
  } else if (q.type == V4L2_CTRL_TYPE_BUTTON) {
    c.value = 0;
  } else if (q.type == V4L2_CTRL_TYPE_BITMASK) {
    if (nValue < 0 || nValue > UINT32_MAX) return ERANGE;
    c.value = static_cast<int32_t>(static_cast<uint32_t>(nValue));
  } else {
    // Beyond what the request can carry; the device clamps anything nearer itself.
    if (nValue < INT32_MIN || nValue > INT32_MAX) return ERANGE;
    c.value = static_cast<int32_t>(nValue);
  }
  // The driver writes back the value it applied: clamped, rounded to the step, masked.
  if (int err = ExchangeControl(node, true, q, &c)) return err;
  if (pnApplied) *pnApplied = q.type == V4L2_CTRL_TYPE_BUTTON ? 0 : ValueOf(q, c);
  return 0;
}

bool V4l2HasControls(IV4l2Node& node) {
  uint32_t nId = 0;
  for (uint32_t n = 0; n < kMaxEnumerated; ++n) {
    v4l2_query_ext_ctrl q{};
    q.id = nId | V4L2_CTRL_FLAG_NEXT_CTRL;
    if (V4l2QueryControl(node, &q) != 0 || q.id <= nId) return false;
    nId = q.id;
    ControlDescription d;
    if (DescribeControl(q, &d)) return true;
  }
  return false;
}

bool V4l2HasSourceChoices(IV4l2Node& node) {
  v4l2_standard s{};
  if (node.Ioctl(VIDIOC_ENUMSTD, &s) == 0) return true;
  v4l2_fmtdesc f{};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (node.Ioctl(VIDIOC_ENUM_FMT, &f) == 0) return true;
  f = {};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
  return node.Ioctl(VIDIOC_ENUM_FMT, &f) == 0;
}

int V4l2DescribeControls(IV4l2Node& node, std::vector<ControlGroupDescription>* groups) {
  groups->clear();
  uint32_t nId = 0;
  for (uint32_t n = 0; n < kMaxEnumerated; ++n) {
    v4l2_query_ext_ctrl q{};
    q.id = nId | V4L2_CTRL_FLAG_NEXT_CTRL;
    int err = V4l2QueryControl(node, &q);
    if (err == EINVAL) break;  // past the last control
    if (err != 0) return err;  // a partial list would pass for the whole
    if (q.id <= nId) break;  // a driver that does not move on
    nId = q.id;

    uint32_t nClass = V4L2_CTRL_ID2WHICH(q.id);
    if (groups->empty() || groups->back().nClass != nClass) {
      groups->push_back({});
      groups->back().nClass = nClass;
      groups->back().name = ControlClassName(nClass);
    }
    if (q.type == V4L2_CTRL_TYPE_CTRL_CLASS) {
      groups->back().name = FieldText(q.name);
      continue;
    }
    ControlDescription d;
    if (!DescribeControl(q, &d)) continue;
    if (d.kind == ControlKind::Menu || d.kind == ControlKind::IntegerMenu) {
      for (int64_t i = std::max<int64_t>(q.minimum, 0); i <= q.maximum && i < kMaxEnumerated; ++i) {
        v4l2_querymenu m{};
        m.id = q.id;
        m.index = static_cast<uint32_t>(i);
        if (node.Ioctl(VIDIOC_QUERYMENU, &m) == 0) d.menu.push_back(DescribeMenuEntry(q, m));
      }
    }
    if (!d.bWriteOnly) {
      int64_t nValue = 0;
      const int readErr = ReadControl(node, q.id, q, &nValue);
      if (readErr == ENODEV) return readErr;
      if (readErr == 0)
        d.nValue = nValue;
      else
        d.bUnknownValue = true;
    }
    groups->back().controls.push_back(std::move(d));
  }
  // Class headers without a control they can show are no dialog page.
  std::erase_if(*groups, [](const ControlGroupDescription& g) { return g.controls.empty(); });
  return 0;
}

int V4l2ResetControls(IV4l2Node& node, bool* pbValueRefused) {
  *pbValueRefused = false;
  std::vector<ControlGroupDescription> groups;
  int firstErr = 0;
  // Manual values first: once an automatic mode is back on, its manual partners refuse.
  for (bool bAutoModes : {false, true}) {
    if (int err = V4l2DescribeControls(node, &groups)) return err;
    for (const ControlGroupDescription& g : groups)
      for (const ControlDescription& c : g.controls) {
        if (c.bAutoMode != bAutoModes || c.bWriteOnly || c.bExecuteOnWrite || c.bReadOnly || c.bVolatile) continue;
        // What an automatic mode rules follows it; a value unknown is set anyway.
        if (c.bInactive || (!c.bUnknownValue && c.nValue == c.nDefault)) continue;
        if (int err = V4l2SetControl(node, c.nId, c.nDefault); err != 0 && firstErr == 0) {
          firstErr = err;
          *pbValueRefused = true;
        }
      }
  }
  return firstErr;
}

int V4l2DescribeSource(IV4l2Node& node, VideoSourceDescription* source) {
  *source = {};
  for (uint32_t i = 0; i < kMaxEnumerated; ++i) {
    v4l2_standard s{};
    s.index = i;
    if (node.Ioctl(VIDIOC_ENUMSTD, &s) != 0) break;  // ENODATA: the input has no standards
    source->standards.push_back(DescribeStandard(s));
  }
  v4l2_std_id nStd = 0;
  double dStandardRate = 0.0;
  if (!source->standards.empty() && node.Ioctl(VIDIOC_G_STD, &nStd) == 0) {
    source->nCurrentStandard = nStd;
    // Drivers answer with the member they detected (PAL-B/G, NTSC-M): the listed standard holding it.
    for (const VideoStandardDescription& s : source->standards)
      if (nStd != 0 && (s.nId & nStd) == nStd) {
        source->nCurrentStandard = s.nId;
        dStandardRate = s.dFrameRate;
        break;
      }
  }

  // Multi-planar capture nodes answer only for their own buffer type.
  v4l2_capability cap{};
  uint32_t nBufType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (node.Ioctl(VIDIOC_QUERYCAP, &cap) == 0) {
    const uint32_t caps = NodeCapabilities(cap);
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_VIDEO_CAPTURE_MPLANE))
      nBufType = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
  }
  int firstErr = 0;
  for (uint32_t i = 0; i < kMaxEnumerated; ++i) {
    v4l2_fmtdesc f{};
    f.index = i;
    f.type = nBufType;
    int err = node.Ioctl(VIDIOC_ENUM_FMT, &f);
    if (err != 0) {
      if (i == 0) firstErr = err;
      break;
    }
    FrameFormatDescription d;
    d.nFourcc = f.pixelformat;
    d.fourcc = FourccText(f.pixelformat);
    d.description = FieldText(f.description);
    d.bCompressed = (f.flags & V4L2_FMT_FLAG_COMPRESSED) != 0;
    d.bEmulated = (f.flags & V4L2_FMT_FLAG_EMULATED) != 0;
    DescribeSizes(node, nBufType, dStandardRate, &d);
    source->formats.push_back(std::move(d));
  }
  v4l2_format fmt{};
  fmt.type = nBufType;
  if (node.Ioctl(VIDIOC_G_FMT, &fmt) == 0) {
    bool bMulti = nBufType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    source->nCurrentFourcc = bMulti ? fmt.fmt.pix_mp.pixelformat : fmt.fmt.pix.pixelformat;
    source->nCurrentWidth = bMulti ? fmt.fmt.pix_mp.width : fmt.fmt.pix.width;
    source->nCurrentHeight = bMulti ? fmt.fmt.pix_mp.height : fmt.fmt.pix.height;
  }
  return source->formats.empty() && source->standards.empty() ? (firstErr ? firstErr : ENOTTY) : 0;
}

int V4l2DescribeTuner(IV4l2Node& node, TunerDescription* tuner) {
  v4l2_tuner t;
  if (int err = GetCurrentTuner(node, &t)) return err;
  *tuner = DescribeTuner(t);
  v4l2_frequency f{};
  f.tuner = t.index;
  if (int err = node.Ioctl(VIDIOC_G_FREQUENCY, &f)) return err;
  tuner->nFrequencyHz = TunerHz(t, f.frequency);
  return 0;
}

int V4l2SetFrequency(IV4l2Node& node, uint64_t nHz) {
  v4l2_tuner t;
  if (int err = GetCurrentTuner(node, &t)) return err;
  v4l2_frequency f{};
  f.tuner = t.index;
  f.type = t.type;
  f.frequency = TunerUnits(t, nHz);
  return node.Ioctl(VIDIOC_S_FREQUENCY, &f);
}

int V4l2SetAudioMode(IV4l2Node& node, uint32_t nMode) {
  v4l2_tuner t;
  if (int err = GetCurrentTuner(node, &t)) return err;
  t.audmode = nMode;
  return node.Ioctl(VIDIOC_S_TUNER, &t);
}

}  // namespace ulmora
