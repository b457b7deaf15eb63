#include "batch_options.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "recording/record_check.h"
#include "batch_schedule.h"
#include "settings/profile_keys.h"

namespace ulmora::batch {
namespace {

// What a recording leaves free at least: four seconds of 1080p30 8-bit frames and a margin.
constexpr uint64_t kRecordKeepFreeBytes = uint64_t{256} << 20;

bool ParseCount(const char* text, unsigned long& value) {
  if (!text || !*text || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFul) return false;
  value = v;
  return true;
}

bool ParseSeconds(const char* text, double& value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !(v > 0.0) || !std::isfinite(v) || v > 1e7) return false;
  value = v;
  return true;
}

int Fail(const char* fmt, const char* arg) {
  std::fprintf(stderr, "ulmora-batch: ");
  std::fprintf(stderr, fmt, arg);
  std::fputc('\n', stderr);
  return 2;
}

}  // namespace

void Usage(FILE* out) {
  std::fputs(
      "Usage: ulmora-batch [OPTIONS] INPUT\n"
      "  or:  ulmora-batch [OPTIONS] --device ID\n"
      "  or:  ulmora-batch --list-devices\n"
      "  -p, --profile FILE     read settings from this INI file; never written, moved or renamed\n"
      "  -s, --set KEY=VALUE    override one key of section [nocta]; repeatable\n"
      "  -o, --out DIR          capture directory (as CapWorkDir)\n"
      "  -n, --count N          pictures to write (as --set CapCount=N); default: every picture to the end\n"
      "  -d, --frames-delay N   as CapFramesDelay\n"
      "  -t, --template T       as CapFormat\n"
      "      --device ID        record from a capture device (an ID of --list-devices, its node or its name)\n"
      "      --seconds S        stop after S seconds (live devices and files)\n"
      "      --list-devices     print one line per video device, ID<TAB>NAME, and exit\n"
      "      --sim-camera[=SPEC] list the simulated camera (also ULMORA_SIM_CAMERA=SPEC)\n"
      "      --latency          with --device: report the time from a frame's timestamp to the end of its processing\n"
      "      --realtime         pace to the file's frame rate (default: as fast as possible)\n"
      "      --no-capture       run the chain but write nothing\n"
      "      --record PATH      record every picture into PATH: .ser (one file), .fits (STEM-000001.fits,\n"
      "                         ...) or .mkv (lossless FFV1 video), with a sidecar PATH.csv of UTC times\n"
      "                         and drops; repeatable\n"
      "      --record-what W    what the --record options after it take: processed (default; the pictures\n"
      "                         captures write, 8-bit), raw (every incoming frame, 8-bit) or sum (each\n"
      "                         finished sum, 16-bit, unscaled)\n"
      "      --segment-seconds S  .mkv recordings: a new file every S seconds, STEM-00000.mkv, STEM-00001.mkv...\n"
      "      --keep-free MB     stop capturing and recording before the folder's file system has less than MB\n"
      "                         free (a few pictures' worth is always kept; recordings keep at least 256 MB)\n"
      "      --wait-device[=S]  with --device: wait for a device that is gone (up to S seconds, or without\n"
      "                         limit) and go on with the same run when it returns\n"
      "      --status-file PATH rewrite a JSON status document at PATH once a second\n"
      "      --start-at HH:MM, --stop-at HH:MM\n"
      "                         with --device: record only between these local times, every day (the\n"
      "                         window may span midnight); the device is closed outside it\n"
      "      --night LAT,LON[,SUN_ALT]\n"
      "                         with --device: record while the sun is below SUN_ALT degrees (default\n"
      "                         -12) at that place (north and east positive), every night\n"
      "  -q, --quiet\n"
      "Ctrl+C (SIGINT), SIGTERM or SIGHUP ends the run after the picture being written; a picture is\n"
      "written under its name only when whole, so a killed run leaves no partial file.\n",
      out);
}

std::string CheckSetValue(const char* key, const std::string& value) {
  const ProfileKeyInfo* info = FindNoctaKey(key);
  if (!info || info->encoding == KeyEncoding::Text) return {};
  const char* p = value.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!*p) return "not a number";
  for (const char* q = p; *q; ++q) {
    if (*q < '0' || *q > '9') {
      if (info->encoding == KeyEncoding::Hundredths)
        return "not a whole number (this key counts hundredths: 150 means 1.50)";
      return "not a whole number";
    }
  }
  errno = 0;
  const unsigned long long magnitude = std::strtoull(p, nullptr, 10);
  if (errno != 0) return "too large a number";
  if (info->encoding == KeyEncoding::Unsigned) {
    if (negative && magnitude != 0) return "a negative number for a count";
    if (magnitude > UINT32_MAX) return "too large a number";
  } else if (negative ? magnitude > static_cast<unsigned long long>(INT32_MAX) + 1 : magnitude > INT32_MAX) {
    return "too large a number";
  }
  return {};
}

int ParseOptions(int argc, char** argv, Options& o, bool& exitNow) {
  exitNow = false;
  enum { kRealtime = 1000, kNoCapture, kDevice, kSeconds, kListDevices, kLatency, kKeepFree, kRecord, kRecordWhat,
         kSegmentSeconds, kWaitDevice, kStatusFile, kStartAt, kStopAt, kNight };
  static const option kOptions[] = {{"profile", required_argument, nullptr, 'p'},
                                    {"set", required_argument, nullptr, 's'},
                                    {"out", required_argument, nullptr, 'o'},
                                    {"count", required_argument, nullptr, 'n'},
                                    {"frames-delay", required_argument, nullptr, 'd'},
                                    {"template", required_argument, nullptr, 't'},
                                    {"device", required_argument, nullptr, kDevice},
                                    {"seconds", required_argument, nullptr, kSeconds},
                                    {"list-devices", no_argument, nullptr, kListDevices},
                                    {"latency", no_argument, nullptr, kLatency},
                                    {"realtime", no_argument, nullptr, kRealtime},
                                    {"no-capture", no_argument, nullptr, kNoCapture},
                                    {"keep-free", required_argument, nullptr, kKeepFree},
                                    {"record", required_argument, nullptr, kRecord},
                                    {"record-what", required_argument, nullptr, kRecordWhat},
                                    {"segment-seconds", required_argument, nullptr, kSegmentSeconds},
                                    {"wait-device", optional_argument, nullptr, kWaitDevice},
                                    {"status-file", required_argument, nullptr, kStatusFile},
                                    {"start-at", required_argument, nullptr, kStartAt},
                                    {"stop-at", required_argument, nullptr, kStopAt},
                                    {"night", required_argument, nullptr, kNight},
                                    {"quiet", no_argument, nullptr, 'q'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  optind = 1;
  bool whatGiven = false, whatPending = false;
  RecordWhat what = RecordWhat::kProcessed;
  double segmentS = 0.0;
  int startMin = -1, stopMin = -1;
  for (int c; (c = getopt_long(argc, argv, ":p:s:o:n:d:t:qh", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'p':
        o.profile = optarg;
        break;
      case 's': {
        const char* eq = std::strchr(optarg, '=');
        if (!eq || eq == optarg) return exitNow = true, Fail("--set needs KEY=VALUE, not '%s'", optarg);
        o.sets.emplace_back(std::string(optarg, static_cast<size_t>(eq - optarg)), std::string(eq + 1));
        break;
      }
      case 'o':
        o.outDir = optarg;
        break;
      case 'n':
        if (!ParseCount(optarg, o.count) || o.count == 0) return exitNow = true, Fail("bad picture count '%s'", optarg);
        o.haveCount = true;
        break;
      case 'd':
        if (!ParseCount(optarg, o.delay)) return exitNow = true, Fail("bad frames delay '%s'", optarg);
        o.haveDelay = true;
        break;
      case 't':
        o.tmpl = optarg;
        break;
      case kDevice:
        o.device = optarg;
        if (o.device.empty()) return exitNow = true, Fail("--device needs an ID%s", "");
        break;
      case kSeconds:
        if (!ParseSeconds(optarg, o.seconds)) return exitNow = true, Fail("bad number of seconds '%s'", optarg);
        o.haveSeconds = true;
        break;
      case kListDevices:
        o.listDevices = true;
        break;
      case kLatency:
        o.latency = true;
        break;
      case kRealtime:
        o.realtime = true;
        break;
      case kNoCapture:
        o.noCapture = true;
        break;
      case kKeepFree: {
        unsigned long mb = 0;
        if (!ParseCount(optarg, mb) || mb > (1ul << 30)) return exitNow = true, Fail("bad free-space margin '%s' (MB)", optarg);
        o.keepFreeBytes = static_cast<uint64_t>(mb) << 20;
        break;
      }
      case kRecord: {
        RecordOptions r;
        r.path = optarg;
        r.what = what;
        o.records.push_back(r);
        whatPending = false;
        break;
      }
      case kSegmentSeconds:
        if (!ParseSeconds(optarg, segmentS) || segmentS <= 0)
          return exitNow = true, Fail("bad segment length '%s' (seconds)", optarg);
        break;
      case kRecordWhat:
        if (!ParseRecordWhat(optarg, what))
          return exitNow = true, Fail("--record-what takes processed, raw or sum, not '%s'", optarg);
        whatGiven = true;
        whatPending = true;
        break;
      case kWaitDevice:
        if (optarg && !ParseSeconds(optarg, o.waitDeviceSeconds))
          return exitNow = true, Fail("bad number of seconds to wait for the device '%s'", optarg);
        o.waitDevice = true;
        break;
      case kStatusFile:
        o.statusFile = optarg;
        if (o.statusFile.empty()) return exitNow = true, Fail("--status-file needs a path%s", "");
        break;
      case kStartAt:
      case kStopAt:
        if (!ParseClockTime(optarg, c == kStartAt ? &startMin : &stopMin))
          return exitNow = true, Fail("bad time '%s' (HH:MM, 00:00 to 23:59)", optarg);
        break;
      case kNight:
        if (const std::string bad = ParseNight(optarg, &o.schedule); !bad.empty()) {
          // Appended: g++ 12 warns falsely (-Wrestrict) on operator+ chains at -O3.
          std::string text("'");
          text.append(optarg).append("': ").append(bad);
          return exitNow = true, Fail("bad --night %s", text.c_str());
        }
        break;
      case 'q':
        o.quiet = true;
        break;
      case 'h':
        Usage(stdout);
        exitNow = true;
        return 0;
      case ':':
        return exitNow = true, Fail("option '%s' needs a value", argv[optind - 1]);
      default:
        std::fprintf(stderr, "ulmora-batch: unknown option '%s'\n", argv[optind - 1]);
        Usage(stderr);
        exitNow = true;
        return 2;
    }
  }
  if (o.listDevices) return 0;
  // A --record-what that no --record follows would be ignored in silence.
  if (whatGiven && whatPending)
    return exitNow = true, Fail("--record-what applies to the --record options after it; none follows the last%s", "");
  // Video is cut into segments; every recording stops before its disk runs full.
  for (RecordOptions& r : o.records) {
    r.segmentSeconds = segmentS;
    r.keepFreeBytes = std::max(o.keepFreeBytes, kRecordKeepFreeBytes);
  }
  if (std::string why; CheckRecordOptions(o.records, why) != 0)
    return exitNow = true, Fail("%s", why.c_str());
  // --set CapCount=N is -n N, the last one given; -n wins. The profile's CapCount is the program's.
  const bool countGiven = o.haveCount;
  for (const auto& [key, value] : o.sets) {
    if (key != "CapCount" || countGiven) continue;
    if (!ParseCount(value.c_str(), o.count) || o.count == 0)
      return exitNow = true, Fail("bad picture count 'CapCount=%s'", value.c_str());
    o.haveCount = true;
  }
  const int operands = argc - optind;
  if (o.waitDevice && o.device.empty()) return exitNow = true, Fail("--wait-device needs --device%s", "");
  if ((startMin < 0) != (stopMin < 0)) return exitNow = true, Fail("give --start-at and --stop-at together%s", "");
  if (startMin >= 0 && startMin == stopMin)
    return exitNow = true, Fail("--start-at and --stop-at are the same time%s", "");
  if (startMin >= 0 && o.schedule.kind == SchedulePlan::Kind::kNight)
    return exitNow = true, Fail("give either --night or --start-at/--stop-at%s", "");
  if (startMin >= 0) o.schedule = {SchedulePlan::Kind::kClock, startMin, stopMin};
  if (o.schedule.kind != SchedulePlan::Kind::kAlways && o.device.empty())
    return exitNow = true, Fail("a schedule needs --device%s", "");
  if (!o.device.empty()) {
    if (operands != 0) return exitNow = true, Fail("give either a file or --device, not both (%s)", argv[optind]);
    return 0;
  }
  if (operands != 1) {
    Usage(stderr);
    exitNow = true;
    return 2;
  }
  o.input = argv[optind];
  return 0;
}

}  // namespace ulmora::batch
