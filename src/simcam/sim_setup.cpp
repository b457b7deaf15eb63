// SPEC parsing and the names of simulated devices.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "simcam/sim_camera.h"
#include "simcam/sim_setup.h"

namespace ulmora {
namespace {

bool Fail(std::string* error, const std::string& item, const std::string& why) {
  if (!error) return false;
  // Appends rather than operator+ chains: g++ 12 warns falsely (-Wrestrict) on those at -O3.
  error->assign("bad simulated camera item \"");
  error->append(item).append("\": ").append(why);
  return false;
}

bool ParseLong(const std::string& text, long lo, long hi, long* value) {
  if (text.empty() || text[0] == '+' || text[0] == '-' || text[0] == ' ') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *value = v;
  return true;
}

// Seconds, decimals allowed ("0.5"), up to a day.
bool ParseSeconds(const std::string& text, int64_t* ms) {
  if (text.empty() || !(text[0] >= '0' && text[0] <= '9')) return false;
  char* end = nullptr;
  errno = 0;
  const double s = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(s) || s < 0 || s > 86400) return false;
  *ms = static_cast<int64_t>(std::llround(s * 1000.0));
  return true;
}

bool ParseFormats(const std::string& item, const std::string& list, SimCameraSetup* setup, std::string* error) {
  std::vector<SimPixelFormat> formats;
  size_t pos = 0;
  while (true) {
    const size_t bar = list.find('|', pos);
    const std::string name = list.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
    SimPixelFormat f = SimPixelFormat::kYUY2;
    if (name == "yuy2") f = SimPixelFormat::kYUY2;
    else if (name == "bgr") f = SimPixelFormat::kBGR;
    else if (name == "i420") f = SimPixelFormat::kI420;
    else if (name == "mjpeg") f = SimPixelFormat::kMJPEG;
    else if (name == "y16") f = SimPixelFormat::kY16;
    else return Fail(error, item, std::string("unknown format \"").append(name).append("\" (yuy2, bgr, i420, mjpeg, y16)"));
    for (SimPixelFormat g : formats)
      if (g == f) return Fail(error, item, std::string("format \"").append(name).append("\" given twice"));
    formats.push_back(f);
    if (bar == std::string::npos) break;
    pos = bar + 1;
  }
  setup->formats = formats;
  return true;
}

bool ParseSize(const std::string& item, SimCameraSetup* setup, std::string* error) {
  const size_t x = item.find('x');
  const size_t at = item.find('@');
  if (x == std::string::npos) return Fail(error, item, "expected WxH@FPS");
  long w = 0, h = 0, fps = setup->nFps;
  const std::string hText = item.substr(x + 1, at == std::string::npos ? std::string::npos : at - x - 1);
  if (!ParseLong(item.substr(0, x), 32, 8192, &w) || !ParseLong(hText, 32, 8192, &h) || (w % 2) || (h % 2))
    return Fail(error, item, "width and height must be even numbers from 32 to 8192");
  if (at != std::string::npos && !ParseLong(item.substr(at + 1), 1, 240, &fps))
    return Fail(error, item, "frame rate must be a whole number from 1 to 240");
  setup->nWidth = static_cast<int32_t>(w);
  setup->nHeight = static_cast<int32_t>(h);
  setup->nFps = static_cast<int32_t>(fps);
  return true;
}

bool ParseItem(const std::string& item, SimCameraSetup* setup, std::string* error) {
  const size_t eq = item.find('=');
  const std::string key = item.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
  const bool hasValue = eq != std::string::npos;
  long n = 0;
  if (item == "1") return true;
  if (!hasValue && (key == "controls" || key == "busy")) {
    (key == "controls" ? setup->bControls : setup->bBusy) = true;
    return true;
  }
  if (!hasValue && (key == "analog" || key == "links" || key == "flaky")) {
    (key == "analog" ? setup->bAnalog : key == "links" ? setup->bLinks : setup->bFlaky) = true;
    return true;
  }
  if (key == "latency" && hasValue) {
    if (!ParseLong(value, 0, kSimMaxLatencyMs, &n))
      return Fail(error, item, std::string("latency must be milliseconds from 0 to ").append(std::to_string(kSimMaxLatencyMs)));
    setup->nLatencyMs = static_cast<int32_t>(n);
    return true;
  }
  if (!hasValue && !key.empty() && key[0] >= '0' && key[0] <= '9') return ParseSize(item, setup, error);
  if (key == "formats" && hasValue) return ParseFormats(item, value, setup, error);
  if (key == "inputs" && hasValue) {
    if (!ParseLong(value, 1, kSimMaxInputs, &n))
      return Fail(error, item, std::string("inputs must be a number from 1 to ").append(std::to_string(kSimMaxInputs)));
    setup->nInputs = static_cast<int32_t>(n);
    return true;
  }
  if (key == "count" && hasValue) {
    if (!ParseLong(value, 1, kSimMaxCount, &n))
      return Fail(error, item, std::string("count must be a number from 1 to ").append(std::to_string(kSimMaxCount)));
    setup->nCount = static_cast<int32_t>(n);
    return true;
  }
  if (key == "drop-every" && hasValue) {
    if (!ParseLong(value, 1, 1000000, &n)) return Fail(error, item, "drop-every must be a number from 1 to 1000000");
    setup->nDropEvery = static_cast<int32_t>(n);
    return true;
  }
  int64_t* seconds = key == "unplug-after"   ? &setup->nUnplugAfterMs
                     : key == "replug-after" ? &setup->nReplugAfterMs
                     : key == "plug-after"   ? &setup->nPlugAfterMs
                     : key == "freeze-after" ? &setup->nFreezeAfterMs
                     : key == "unfreeze-after" ? &setup->nUnfreezeAfterMs
                                             : nullptr;
  if (seconds && hasValue) {
    if (!ParseSeconds(value, seconds)) return Fail(error, item, "expected seconds from 0 to 86400");
    return true;
  }
  return Fail(error, item, "unknown item");
}

}  // namespace

bool ParseSimCameraSetup(const char* text, SimCameraSetup* out, std::string* error) {
  SimCameraSetup setup;
  const std::string all = text ? text : "";
  size_t pos = 0;
  while (pos <= all.size()) {
    const size_t comma = all.find(',', pos);
    std::string item = all.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    const size_t first = item.find_first_not_of(" \t");
    item = first == std::string::npos ? std::string() : item.substr(first, item.find_last_not_of(" \t") - first + 1);
    if (!item.empty() && !ParseItem(item, &setup, error)) return false;
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  if (setup.nReplugAfterMs >= 0 && setup.nUnplugAfterMs < 0)
    return Fail(error, "replug-after", "needs unplug-after");
  if (setup.nUnfreezeAfterMs >= 0 && setup.nFreezeAfterMs < 0)
    return Fail(error, "unfreeze-after", "needs freeze-after");
  if (out) *out = setup;
  return true;
}

const char* SimPixelFormatName(SimPixelFormat format) {
  switch (format) {
    case SimPixelFormat::kYUY2: return "yuy2";
    case SimPixelFormat::kBGR: return "bgr";
    case SimPixelFormat::kI420: return "i420";
    case SimPixelFormat::kMJPEG: return "mjpeg";
    case SimPixelFormat::kY16: return "y16";
  }
  return "?";
}

bool IsSimCameraOption(const char* arg, std::string* setup) {
  const std::string_view text = arg ? arg : "";
  constexpr std::string_view kOption = "--sim-camera";
  if (text.substr(0, kOption.size()) != kOption) return false;
  const std::string_view rest = text.substr(kOption.size());
  if (!rest.empty() && rest[0] != '=') return false;
  if (setup) setup->assign(rest.empty() ? std::string_view("1") : rest.substr(1));
  return true;
}

bool IsSimDevicePath(const char* path, int* device) {
  if (!path || std::strncmp(path, "sim:", 4) != 0) return false;
  long n = 0;
  if (!ParseLong(path + 4, 0, kSimMaxCount - 1, &n)) return false;
  if (device) *device = static_cast<int>(n);
  return true;
}

std::string SimDevicePath(int device) { return std::string("sim:").append(std::to_string(device)); }

std::string SimDeviceName(int device) {
  std::string name = "Ulmora Simulated Camera";
  if (device > 0) name.append(" #").append(std::to_string(device + 1));
  return name;
}

}  // namespace ulmora
