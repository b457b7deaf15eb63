// The simulated camera answering V4L2 requests, one handler per request.
#include "simcam/v4l2_sim_node.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <mutex>
#include <thread>

#include "devices/v4l2_node.h"
#include "simcam/sim_setup.h"
#include "simcam/sim_state.h"

namespace ulmora {

namespace {

// Tuner state of each simulated device; the picture does not depend on it.
struct SimTuner {
  std::atomic<uint32_t> nFrequency{2804};  // 175.25 MHz in 62.5 kHz units
  std::atomic<uint32_t> nAudioMode{V4L2_TUNER_MODE_STEREO};
};
std::array<SimTuner, kSimMaxCount> g_simTuners;

constexpr uint32_t kTunerLowUnits = 44 * 16;    // 44 MHz
constexpr uint32_t kTunerHighUnits = 958 * 16;  // 958 MHz

void CopyName(char* dst, size_t size, const std::string& src) {
  std::memset(dst, 0, size);
  std::strncpy(dst, src.c_str(), size - 1);
}

uint32_t FourccOf(SimPixelFormat f) {
  switch (f) {
    case SimPixelFormat::kYUY2: return V4L2_PIX_FMT_YUYV;
    case SimPixelFormat::kBGR: return V4L2_PIX_FMT_BGR24;
    case SimPixelFormat::kI420: return V4L2_PIX_FMT_YUV420;
    case SimPixelFormat::kMJPEG: return V4L2_PIX_FMT_MJPEG;
    case SimPixelFormat::kY16: return V4L2_PIX_FMT_Y16;
  }
  return 0;
}

const char* FormatText(SimPixelFormat f) {
  switch (f) {
    case SimPixelFormat::kYUY2: return "YUYV 4:2:2";
    case SimPixelFormat::kBGR: return "24-bit BGR 8-8-8";
    case SimPixelFormat::kI420: return "Planar YUV 4:2:0";
    case SimPixelFormat::kMJPEG: return "Motion-JPEG";
    case SimPixelFormat::kY16: return "16-bit Greyscale";
  }
  return "";
}

// One request to one device, answered from the configuration loaded for it.
struct SimRequest {
  const SimCameraConfig* config = nullptr;  // never null in a handler: a camera that is off fails before
  int nDevice = 0;
  const std::string& path;
  SimTuner& tuner;
  SimDeviceState& state;
  uint64_t nDescriptor = 0;  // the descriptor asking, for the streaming rights

  // Input and format changes are refused while buffers exist or another descriptor holds the rights;
  // otherwise this descriptor takes them until it closes.
  int TakeRights() const {
    if (state.bStreaming.load()) return EBUSY;
    uint64_t none = 0;
    if (!state.nOwner.compare_exchange_strong(none, nDescriptor) && none != nDescriptor) return EBUSY;
    return 0;
  }

  int InputCount() const { return SimInputCount(config, nDevice); }
  bool HasTuner() const {
    for (int i = 0; i < InputCount(); ++i) {
      v4l2_input in{};
      if (SimEnumInput(config, nDevice, i, &in) && in.type == V4L2_INPUT_TYPE_TUNER) return true;
    }
    return false;
  }
  bool Offers(uint32_t nFourcc) const {
    for (SimPixelFormat f : config->setup.formats)
      if (FourccOf(f) == nFourcc) return true;
    return false;
  }
};

int QueryCap(const SimRequest& r, v4l2_capability* cap) {
  *cap = {};
  CopyName(reinterpret_cast<char*>(cap->driver), sizeof cap->driver, "ulmorasim");
  CopyName(reinterpret_cast<char*>(cap->card), sizeof cap->card, SimDeviceName(r.nDevice));
  CopyName(reinterpret_cast<char*>(cap->bus_info), sizeof cap->bus_info, r.path);
  cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | (r.HasTuner() ? V4L2_CAP_TUNER : 0);
  cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
  return 0;
}

int EnumInput(const SimRequest& r, v4l2_input* in) {
  const int index = static_cast<int>(in->index);
  if (r.InputCount() == 0) {
    // One input, as a webcam's driver lists it.
    if (index != 0) return EINVAL;
    *in = {};
    CopyName(reinterpret_cast<char*>(in->name), sizeof in->name, "Camera 1");
    in->type = V4L2_INPUT_TYPE_CAMERA;
    return 0;
  }
  return SimEnumInput(r.config, r.nDevice, index, in) ? 0 : EINVAL;
}

int GetInput(const SimRequest& r, int* index) {
  const int n = SimGetInput(r.config, r.nDevice);
  if (n < 0) return ENODEV;
  *index = n;
  return 0;
}

int SetInput(const SimRequest& r, int* index) {
  const int count = std::max(SimInputCount(r.config, r.nDevice), 1);
  if (*index < 0 || *index >= count) return EINVAL;
  if (int err = r.TakeRights()) return err;
  return SimSetInput(r.config, r.nDevice, *index) ? 0 : EINVAL;
}

int QueryCtrl(const SimRequest& r, v4l2_query_ext_ctrl* q) {
  const bool bNext = (q->id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0;
  const uint32_t nId = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
  int nBest = -1;
  uint32_t nBestId = 0;
  for (int i = 0; i < SimControlCount(r.config, r.nDevice); ++i) {
    v4l2_query_ext_ctrl c{};
    if (!SimQueryControl(r.config, r.nDevice, i, &c)) continue;
    const bool bFits = bNext ? c.id > nId : c.id == nId;
    if (bFits && (nBest < 0 || c.id < nBestId)) {
      nBest = i;
      nBestId = c.id;
    }
  }
  if (nBest < 0) return EINVAL;
  return SimQueryControl(r.config, r.nDevice, nBest, q) ? 0 : EINVAL;
}

int QueryMenu(const SimRequest& r, v4l2_querymenu* m) {
  return SimQueryMenu(r.config, r.nDevice, m->id, m->index, m) ? 0 : EINVAL;
}

// Both directions check every id first through QueryCtrl, as a driver does, and name the failing one.
int Controls(const SimRequest& r, bool bSet, v4l2_ext_controls* cs) {
  for (uint32_t i = 0; i < cs->count; ++i) {
    v4l2_ext_control& c = cs->controls[i];
    v4l2_query_ext_ctrl q{};
    q.id = c.id;
    if (QueryCtrl(r, &q) != 0) {
      cs->error_idx = i;
      return EINVAL;
    }
    const bool b64 = q.type == V4L2_CTRL_TYPE_INTEGER64;
    // A bitmask travels as the 32 bits of value.
    int64_t v = b64 ? c.value64 : q.type == V4L2_CTRL_TYPE_BITMASK ? static_cast<uint32_t>(c.value) : c.value;
    const int err = bSet ? SimWriteControl(r.config, r.nDevice, c.id, &v) : SimReadControl(r.config, r.nDevice, c.id, &v);
    if (err != 0) {
      cs->error_idx = bSet ? cs->count : i;
      return err;
    }
    if (b64)
      c.value64 = v;
    else
      c.value = static_cast<int32_t>(static_cast<uint32_t>(v));
  }
  return 0;
}

// A USB camera answers every control request over the bus; some fail now and then.
int ControlRequest(const SimRequest& r, bool bSet, v4l2_ext_controls* cs) {
  const SimCameraSetup& setup = r.config->setup;
  if (setup.nLatencyMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(setup.nLatencyMs));
  if (bSet) r.state.nControlWrites.fetch_add(1);
  const uint32_t n = r.state.nControlRequests.fetch_add(1) + 1;
  if (setup.bFlaky && n % 5 == 0) {
    cs->error_idx = cs->count;
    return EIO;
  }
  return Controls(r, bSet, cs);
}

int GetControls(const SimRequest& r, v4l2_ext_controls* cs) { return ControlRequest(r, false, cs); }
int SetControls(const SimRequest& r, v4l2_ext_controls* cs) { return ControlRequest(r, true, cs); }

bool HasStandards(const SimRequest& r) { return r.InputCount() > 0 || r.config->setup.bAnalog; }

int EnumStd(const SimRequest& r, v4l2_standard* s) {
  if (!HasStandards(r)) return ENODATA;
  if (s->index > 1) return EINVAL;
  const bool bPal = s->index == 0;
  const uint32_t index = s->index;
  *s = {};
  s->index = index;
  s->id = bPal ? V4L2_STD_PAL : V4L2_STD_NTSC;
  CopyName(reinterpret_cast<char*>(s->name), sizeof s->name, bPal ? "PAL" : "NTSC");
  s->frameperiod = bPal ? v4l2_fract{1, 25} : v4l2_fract{1001, 30000};
  s->framelines = bPal ? 625 : 525;
  return 0;
}

// Drivers answer with the member standard they detected or were set to, not the group listed.
int GetStd(const SimRequest& r, v4l2_std_id* id) {
  if (!HasStandards(r)) return ENODATA;
  *id = r.state.nStd.load();
  return 0;
}

// A new standard resets the format to its lines and rate; refused while buffers exist.
int SetStd(const SimRequest& r, v4l2_std_id* id) {
  if (!HasStandards(r)) return ENODATA;
  v4l2_std_id member = 0;
  if (*id & V4L2_STD_PAL)
    member = V4L2_STD_PAL_BG;
  else if (*id & V4L2_STD_NTSC)
    member = V4L2_STD_NTSC_M;
  else
    return EINVAL;
  if (r.state.bStreaming.load()) return EBUSY;
  r.state.nStd = member;
  return 0;
}

int EnumFmt(const SimRequest& r, v4l2_fmtdesc* f) {
  const SimCameraSetup& setup = r.config->setup;
  if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index >= setup.formats.size()) return EINVAL;
  const SimPixelFormat pf = setup.formats[f->index];
  const uint32_t index = f->index;
  *f = {};
  f->index = index;
  f->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  f->pixelformat = FourccOf(pf);
  f->flags = pf == SimPixelFormat::kMJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
  CopyName(reinterpret_cast<char*>(f->description), sizeof f->description, FormatText(pf));
  return 0;
}

int EnumFrameSizes(const SimRequest& r, v4l2_frmsizeenum* fs) {
  const SimCameraSetup& setup = r.config->setup;
  if (setup.bAnalog) return ENOTTY;  // bttv, saa7134, cx88
  if (fs->index != 0 || !r.Offers(fs->pixel_format)) return EINVAL;
  fs->type = V4L2_FRMSIZE_TYPE_DISCRETE;
  fs->discrete = {static_cast<uint32_t>(setup.nWidth), static_cast<uint32_t>(setup.nHeight)};
  return 0;
}

int EnumFrameIntervals(const SimRequest& r, v4l2_frmivalenum* iv) {
  const SimCameraSetup& setup = r.config->setup;
  if (setup.bAnalog) return ENOTTY;
  if (iv->index != 0 || !r.Offers(iv->pixel_format) || iv->width != static_cast<uint32_t>(setup.nWidth) ||
      iv->height != static_cast<uint32_t>(setup.nHeight))
    return EINVAL;
  iv->type = V4L2_FRMIVAL_TYPE_DISCRETE;
  iv->discrete = {1, static_cast<uint32_t>(setup.nFps)};
  return 0;
}

int GetFmt(const SimRequest& r, v4l2_format* fmt) {
  const SimCameraSetup& setup = r.config->setup;
  if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || setup.formats.empty()) return EINVAL;
  const SimFrameShape shape = SimShapeNow(*r.config, r.nDevice);
  fmt->fmt.pix = {};
  fmt->fmt.pix.pixelformat = FourccOf(setup.formats.front());
  fmt->fmt.pix.width = static_cast<uint32_t>(shape.nWidth);
  fmt->fmt.pix.height = static_cast<uint32_t>(shape.nHeight);
  return 0;
}

// Never refused for a size: the nearest one the device has is written back. An analog card scales
// from 48x32 up to its standard's lines; a camera has its one size.
int TryFmt(const SimRequest& r, v4l2_format* fmt) {
  const SimCameraSetup& setup = r.config->setup;
  if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || setup.formats.empty()) return EINVAL;
  v4l2_pix_format& pix = fmt->fmt.pix;
  if (!r.Offers(pix.pixelformat)) pix.pixelformat = FourccOf(setup.formats.front());
  const SimFrameShape shape = SimShapeNow(*r.config, r.nDevice);
  if (setup.bAnalog) {
    pix.width = std::clamp<uint32_t>(pix.width, 48, static_cast<uint32_t>(shape.nWidth)) & ~1u;
    pix.height = std::clamp<uint32_t>(pix.height, 32, static_cast<uint32_t>(shape.nHeight)) & ~1u;
  } else {
    pix.width = static_cast<uint32_t>(shape.nWidth);
    pix.height = static_cast<uint32_t>(shape.nHeight);
  }
  pix.field = V4L2_FIELD_NONE;
  return 0;
}

int SetFmt(const SimRequest& r, v4l2_format* fmt) {
  if (int err = TryFmt(r, fmt)) return err;
  return r.TakeRights();
}

int GetTuner(const SimRequest& r, v4l2_tuner* t) {
  if (!r.HasTuner() || t->index != 0) return EINVAL;
  *t = {};
  CopyName(reinterpret_cast<char*>(t->name), sizeof t->name, "Simulated Tuner");
  t->type = V4L2_TUNER_ANALOG_TV;
  t->capability = V4L2_TUNER_CAP_NORM | V4L2_TUNER_CAP_STEREO;
  t->rangelow = kTunerLowUnits;
  t->rangehigh = kTunerHighUnits;
  t->rxsubchans = V4L2_TUNER_SUB_STEREO;
  t->audmode = r.tuner.nAudioMode.load();
  t->signal = 0xffff;
  return 0;
}

int SetTuner(const SimRequest& r, v4l2_tuner* t) {
  if (!r.HasTuner() || t->index != 0) return EINVAL;
  if (t->audmode != V4L2_TUNER_MODE_MONO && t->audmode != V4L2_TUNER_MODE_STEREO) return EINVAL;
  r.tuner.nAudioMode = t->audmode;
  return 0;
}

int GetFrequency(const SimRequest& r, v4l2_frequency* f) {
  if (!r.HasTuner() || f->tuner != 0) return EINVAL;
  f->type = V4L2_TUNER_ANALOG_TV;
  f->frequency = r.tuner.nFrequency.load();
  return 0;
}

int SetFrequency(const SimRequest& r, v4l2_frequency* f) {
  if (!r.HasTuner() || f->tuner != 0) return EINVAL;
  // Drivers clamp to the tuner's range rather than refuse.
  r.tuner.nFrequency = std::min(std::max(f->frequency, kTunerLowUnits), kTunerHighUnits);
  return 0;
}

using SimHandler = int (*)(const SimRequest&, void* pArg);

struct SimHandlerEntry {
  unsigned long nRequest;
  SimHandler fn;
};

template <class Arg, int (*kFn)(const SimRequest&, Arg*)>
int Typed(const SimRequest& r, void* pArg) {
  return kFn(r, static_cast<Arg*>(pArg));
}

// The argument type each handler takes must be the one the request number encodes.
template <unsigned long kRequest, class Arg, int (*kFn)(const SimRequest&, Arg*)>
constexpr SimHandlerEntry Handle() {
  static_assert(_IOC_SIZE(kRequest) == sizeof(Arg), "handler argument does not match the request");
  return {kRequest, &Typed<Arg, kFn>};
}

constexpr SimHandlerEntry kHandlers[] = {
    Handle<VIDIOC_QUERYCAP, v4l2_capability, QueryCap>(),
    Handle<VIDIOC_ENUMINPUT, v4l2_input, EnumInput>(),
    Handle<VIDIOC_G_INPUT, int, GetInput>(),
    Handle<VIDIOC_S_INPUT, int, SetInput>(),
    Handle<VIDIOC_QUERY_EXT_CTRL, v4l2_query_ext_ctrl, QueryCtrl>(),
    Handle<VIDIOC_QUERYMENU, v4l2_querymenu, QueryMenu>(),
    Handle<VIDIOC_G_EXT_CTRLS, v4l2_ext_controls, GetControls>(),
    Handle<VIDIOC_S_EXT_CTRLS, v4l2_ext_controls, SetControls>(),
    Handle<VIDIOC_ENUMSTD, v4l2_standard, EnumStd>(),
    Handle<VIDIOC_G_STD, v4l2_std_id, GetStd>(),
    Handle<VIDIOC_S_STD, v4l2_std_id, SetStd>(),
    Handle<VIDIOC_ENUM_FMT, v4l2_fmtdesc, EnumFmt>(),
    Handle<VIDIOC_ENUM_FRAMESIZES, v4l2_frmsizeenum, EnumFrameSizes>(),
    Handle<VIDIOC_ENUM_FRAMEINTERVALS, v4l2_frmivalenum, EnumFrameIntervals>(),
    Handle<VIDIOC_G_FMT, v4l2_format, GetFmt>(),
    Handle<VIDIOC_TRY_FMT, v4l2_format, TryFmt>(),
    Handle<VIDIOC_S_FMT, v4l2_format, SetFmt>(),
    Handle<VIDIOC_G_TUNER, v4l2_tuner, GetTuner>(),
    Handle<VIDIOC_S_TUNER, v4l2_tuner, SetTuner>(),
    Handle<VIDIOC_G_FREQUENCY, v4l2_frequency, GetFrequency>(),
    Handle<VIDIOC_S_FREQUENCY, v4l2_frequency, SetFrequency>(),
};

std::atomic<uint64_t> g_nextDescriptor{1};

// One open descriptor of a node; what it was opened on is fixed, as a file descriptor's device is.
class SimNode : public IV4l2Node {
 public:
  SimNode(int device, std::string path, SimCameraConfig* config)
      : nDevice(device), path(std::move(path)), config(config), nDescriptor(g_nextDescriptor.fetch_add(1)) {}
  ~SimNode() override {
    // Closing gives the streaming rights back.
    if (SimDeviceState* state = SimDeviceOf(config, nDevice)) {
      uint64_t mine = nDescriptor;
      state->nOwner.compare_exchange_strong(mine, 0);
    }
  }
  SimNode(const SimNode&) = delete;
  SimNode& operator=(const SimNode&) = delete;
  const std::string& Path() const override { return path; }

  int Ioctl(unsigned long nRequest, void* pArg) override {
    // A descriptor of a camera that went (or was switched off) stays dead, as after a real unplug.
    if (config != SimCurrentConfig() || !SimDevicePresent(*config, nDevice, SimNowNs())) return ENODEV;
    SimDeviceState* state = SimDeviceOf(config, nDevice);
    const SimRequest request{config, nDevice, path, g_simTuners[static_cast<size_t>(nDevice)], *state, nDescriptor};
    for (const SimHandlerEntry& h : kHandlers)
      if (h.nRequest == nRequest) return h.fn(request, pArg);
    return ENOTTY;
  }

 private:
  int nDevice = 0;
  std::string path;
  SimCameraConfig* config = nullptr;
  uint64_t nDescriptor = 0;
};

// Null, as a missing node, for any "sim:" path (or link) that is no present device.
V4l2NodeRef OpenSimNode(const char* szPath, std::string* error) {
  SimCameraConfig* config = SimCurrentConfig();
  const int device = SimResolvePath(config, szPath);
  if (!szPath || device < 0 || device >= kSimMaxCount || !config || !SimDevicePresent(*config, device, SimNowNs())) {
    if (error) *error = std::string("Cannot open device '") + (szPath ? szPath : "") + "': No such device.";
    return nullptr;
  }
  return std::make_shared<SimNode>(device, szPath, config);
}

// The links udev would make for the node, as the camera on it now has them.
void SimNodeLinks(const char* szNode, std::string* byId, std::string* byPath) {
  const SimCameraConfig* config = SimCurrentConfig();
  int device = -1;
  if (!IsSimDevicePath(szNode, &device) || !config || !SimDevicePresent(*config, device, SimNowNs())) return;
  *byId = SimByIdLink(config, device);
  *byPath = SimByPathLink(config, device);
}

}  // namespace

void SimRegisterNodeOpener() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterV4l2NodeOpener("sim:", OpenSimNode);
    RegisterNodeLinksReader("sim:", SimNodeLinks);
  });
}

}  // namespace ulmora
