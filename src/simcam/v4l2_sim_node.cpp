// The simulated camera answering V4L2 requests.
#include "simcam/v4l2_sim_node.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "devices/v4l2_node.h"
#include "simcam/sim_setup.h"
#include "simcam/sim_state.h"

namespace ulmora {

namespace {

// Tuner state of each simulated device; the picture does not depend on it.
struct SimTuner {
  std::atomic<uint32_t> nFrequency{2804};  // 175.25 MHz in 62.5 kHz units
  std::atomic<uint32_t> nAudioMode{V4L2_TUNER_MODE_STEREO};
  std::atomic<uint64_t> nStd{V4L2_STD_PAL};
};
std::array<SimTuner, kSimMaxCount> g_simTuners;

constexpr uint32_t kTunerLowUnits = 44 * 16;   // 44 MHz
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
  }
  return 0;
}

const char* FormatText(SimPixelFormat f) {
  switch (f) {
    case SimPixelFormat::kYUY2: return "YUYV 4:2:2";
    case SimPixelFormat::kBGR: return "24-bit BGR 8-8-8";
    case SimPixelFormat::kI420: return "Planar YUV 4:2:0";
    case SimPixelFormat::kMJPEG: return "Motion-JPEG";
  }
  return "";
}

class SimNode : public IV4l2Node {
 public:
  SimNode(int device, std::string path) : nDevice(device), path(std::move(path)) {}
  const std::string& Path() const override { return path; }

  int Ioctl(unsigned long nRequest, void* pArg) override {
    // Loaded once, so the whole request is answered from one setup.
    const SimCameraConfig* config = SimCurrentConfig();
    if (!config || !SimDevicePresent(*config, nDevice, SimNowNs())) return ENODEV;
    const SimCameraSetup& setup = config->setup;
    SimTuner& tuner = g_simTuners[static_cast<size_t>(nDevice)];
    switch (nRequest) {
      case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(pArg);
        *cap = {};
        CopyName(reinterpret_cast<char*>(cap->driver), sizeof cap->driver, "ulmorasim");
        CopyName(reinterpret_cast<char*>(cap->card), sizeof cap->card, SimDeviceName(nDevice));
        CopyName(reinterpret_cast<char*>(cap->bus_info), sizeof cap->bus_info, path);
        cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | (HasTuner(config) ? V4L2_CAP_TUNER : 0);
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
      }
      case VIDIOC_ENUMINPUT: {
        auto* in = static_cast<v4l2_input*>(pArg);
        int index = static_cast<int>(in->index);
        if (SimInputCount(config, nDevice) == 0) {
          // One input, as a webcam's driver lists it.
          if (index != 0) return EINVAL;
          *in = {};
          CopyName(reinterpret_cast<char*>(in->name), sizeof in->name, "Camera 1");
          in->type = V4L2_INPUT_TYPE_CAMERA;
          return 0;
        }
        return SimEnumInput(config, nDevice, index, in) ? 0 : EINVAL;
      }
      case VIDIOC_G_INPUT: {
        int n = SimGetInput(config, nDevice);
        if (n < 0) return ENODEV;
        *static_cast<int*>(pArg) = n;
        return 0;
      }
      case VIDIOC_S_INPUT:
        return SimSetInput(config, nDevice, *static_cast<int*>(pArg)) ? 0 : EINVAL;
      case VIDIOC_QUERY_EXT_CTRL: return QueryControl(config, static_cast<v4l2_query_ext_ctrl*>(pArg));
      case VIDIOC_QUERYMENU: {
        auto* m = static_cast<v4l2_querymenu*>(pArg);
        return SimQueryMenu(config, nDevice, m->id, m->index, m) ? 0 : EINVAL;
      }
      case VIDIOC_G_EXT_CTRLS:
      case VIDIOC_S_EXT_CTRLS:
        return Controls(config, nRequest == VIDIOC_S_EXT_CTRLS, static_cast<v4l2_ext_controls*>(pArg));
      case VIDIOC_ENUMSTD: {
        auto* s = static_cast<v4l2_standard*>(pArg);
        if (SimInputCount(config, nDevice) == 0 || s->index > 1)
          return SimInputCount(config, nDevice) == 0 ? ENODATA : EINVAL;
        bool bPal = s->index == 0;
        uint32_t index = s->index;
        *s = {};
        s->index = index;
        s->id = bPal ? V4L2_STD_PAL : V4L2_STD_NTSC;
        CopyName(reinterpret_cast<char*>(s->name), sizeof s->name, bPal ? "PAL" : "NTSC");
        s->frameperiod = bPal ? v4l2_fract{1, 25} : v4l2_fract{1001, 30000};
        s->framelines = bPal ? 625 : 525;
        return 0;
      }
      case VIDIOC_G_STD:
        if (SimInputCount(config, nDevice) == 0) return ENODATA;
        *static_cast<v4l2_std_id*>(pArg) = tuner.nStd.load();
        return 0;
      case VIDIOC_S_STD: {
        v4l2_std_id id = *static_cast<v4l2_std_id*>(pArg);
        if (SimInputCount(config, nDevice) == 0) return ENODATA;
        if (id & V4L2_STD_PAL) tuner.nStd = V4L2_STD_PAL;
        else if (id & V4L2_STD_NTSC) tuner.nStd = V4L2_STD_NTSC;
        else return EINVAL;
        return 0;
      }
      case VIDIOC_ENUM_FMT: {
        auto* f = static_cast<v4l2_fmtdesc*>(pArg);
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index >= setup.formats.size()) return EINVAL;
        SimPixelFormat pf = setup.formats[f->index];
        uint32_t index = f->index;
        *f = {};
        f->index = index;
        f->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        f->pixelformat = FourccOf(pf);
        f->flags = pf == SimPixelFormat::kMJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
        CopyName(reinterpret_cast<char*>(f->description), sizeof f->description, FormatText(pf));
        return 0;
      }
      case VIDIOC_ENUM_FRAMESIZES: {
        auto* fs = static_cast<v4l2_frmsizeenum*>(pArg);
        if (fs->index != 0 || !Offers(setup, fs->pixel_format)) return EINVAL;
        fs->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        fs->discrete = {static_cast<uint32_t>(setup.nWidth), static_cast<uint32_t>(setup.nHeight)};
        return 0;
      }
      case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* iv = static_cast<v4l2_frmivalenum*>(pArg);
        if (iv->index != 0 || !Offers(setup, iv->pixel_format) || iv->width != static_cast<uint32_t>(setup.nWidth) ||
            iv->height != static_cast<uint32_t>(setup.nHeight))
          return EINVAL;
        iv->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        iv->discrete = {1, static_cast<uint32_t>(setup.nFps)};
        return 0;
      }
      case VIDIOC_G_FMT: {
        auto* fmt = static_cast<v4l2_format*>(pArg);
        if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || setup.formats.empty()) return EINVAL;
        fmt->fmt.pix = {};
        fmt->fmt.pix.pixelformat = FourccOf(setup.formats.front());
        fmt->fmt.pix.width = static_cast<uint32_t>(setup.nWidth);
        fmt->fmt.pix.height = static_cast<uint32_t>(setup.nHeight);
        return 0;
      }
      case VIDIOC_G_TUNER: {
        auto* t = static_cast<v4l2_tuner*>(pArg);
        if (!HasTuner(config) || t->index != 0) return EINVAL;
        *t = {};
        CopyName(reinterpret_cast<char*>(t->name), sizeof t->name, "Simulated Tuner");
        t->type = V4L2_TUNER_ANALOG_TV;
        t->capability = V4L2_TUNER_CAP_NORM | V4L2_TUNER_CAP_STEREO;
        t->rangelow = kTunerLowUnits;
        t->rangehigh = kTunerHighUnits;
        t->rxsubchans = V4L2_TUNER_SUB_STEREO;
        t->audmode = tuner.nAudioMode.load();
        t->signal = 0xffff;
        return 0;
      }
      case VIDIOC_S_TUNER: {
        auto* t = static_cast<v4l2_tuner*>(pArg);
        if (!HasTuner(config) || t->index != 0) return EINVAL;
        if (t->audmode != V4L2_TUNER_MODE_MONO && t->audmode != V4L2_TUNER_MODE_STEREO) return EINVAL;
        tuner.nAudioMode = t->audmode;
        return 0;
      }
      case VIDIOC_G_FREQUENCY: {
        auto* f = static_cast<v4l2_frequency*>(pArg);
        if (!HasTuner(config) || f->tuner != 0) return EINVAL;
        f->type = V4L2_TUNER_ANALOG_TV;
        f->frequency = tuner.nFrequency.load();
        return 0;
      }
      case VIDIOC_S_FREQUENCY: {
        auto* f = static_cast<v4l2_frequency*>(pArg);
        if (!HasTuner(config) || f->tuner != 0) return EINVAL;
        // Drivers clamp to the tuner's range rather than refuse.
        tuner.nFrequency = std::min(std::max(f->frequency, kTunerLowUnits), kTunerHighUnits);
        return 0;
      }
      default: return ENOTTY;
    }
  }

 private:
  bool HasTuner(const SimCameraConfig* config) const {
    for (int i = 0; i < SimInputCount(config, nDevice); ++i) {
      v4l2_input in{};
      if (SimEnumInput(config, nDevice, i, &in) && in.type == V4L2_INPUT_TYPE_TUNER) return true;
    }
    return false;
  }

  static bool Offers(const SimCameraSetup& setup, uint32_t nFourcc) {
    for (SimPixelFormat f : setup.formats)
      if (FourccOf(f) == nFourcc) return true;
    return false;
  }

  int QueryControl(const SimCameraConfig* config, v4l2_query_ext_ctrl* q) {
    bool bNext = (q->id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0;
    uint32_t nId = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
    int nBest = -1;
    uint32_t nBestId = 0;
    for (int i = 0; i < SimControlCount(config, nDevice); ++i) {
      v4l2_query_ext_ctrl c{};
      if (!SimQueryControl(config, nDevice, i, &c)) continue;
      bool bFits = bNext ? c.id > nId : c.id == nId;
      if (bFits && (nBest < 0 || c.id < nBestId)) {
        nBest = i;
        nBestId = c.id;
      }
    }
    if (nBest < 0) return EINVAL;
    return SimQueryControl(config, nDevice, nBest, q) ? 0 : EINVAL;
  }

  int Controls(const SimCameraConfig* config, bool bSet, v4l2_ext_controls* cs) {
    for (uint32_t i = 0; i < cs->count; ++i) {
      v4l2_ext_control& c = cs->controls[i];
      v4l2_query_ext_ctrl q{};
      q.id = c.id;
      if (QueryControl(config, &q) != 0) {
        cs->error_idx = i;
        return EINVAL;
      }
      bool b64 = q.type == V4L2_CTRL_TYPE_INTEGER64;
      if (bSet) {
        if (!SimSetControl(config, nDevice, c.id, b64 ? c.value64 : c.value)) {
          cs->error_idx = i;
          return ERANGE;
        }
        continue;
      }
      int64_t v = 0;
      if (!SimGetControl(config, nDevice, c.id, &v)) {
        cs->error_idx = i;
        return EINVAL;
      }
      if (b64) c.value64 = v;
      else c.value = static_cast<int32_t>(v);
    }
    return 0;
  }

  int nDevice = 0;
  std::string path;
};

// Null, as a missing node, for any "sim:" path that is no present device.
V4l2NodeRef OpenSimNode(const char* szPath, std::string* error) {
  int device = -1;
  const SimCameraConfig* config = SimCurrentConfig();
  if (!szPath || !IsSimDevicePath(szPath, &device) || device < 0 || device >= kSimMaxCount || !config ||
      !SimDevicePresent(*config, device, SimNowNs())) {
    if (error) *error = std::string("Cannot open device '") + (szPath ? szPath : "") + "': No such device.";
    return nullptr;
  }
  return std::make_shared<SimNode>(device, szPath);
}

}  // namespace

void SimRegisterNodeOpener() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterV4l2NodeOpener("sim:", OpenSimNode); });
}

}  // namespace ulmora
