// ulmora-batch: plays a video file through the file graph and the processing chain without a GUI and
// writes the captured pictures as the GUI would.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/clib.h"
#include "common/cpu_report.h"
#include "common/paths.h"
#include "common/run_log.h"
#include "graph/cap_graph.h"
#include "graph/graph_report.h"
#include "settings/profile.h"
#include "settings/profile_keys.h"

namespace {

using namespace ulmora;

void Usage(FILE* out) {
  std::fputs(
      "usage: ulmora-batch [OPTIONS] INPUT\n"
      "  -p, --profile FILE     read settings from this INI file; never written\n"
      "  -s, --set KEY=VALUE    override one key of section [nocta]; repeatable\n"
      "  -o, --out DIR          capture directory (as CapWorkDir)\n"
      "  -n, --count N          pictures to write (as CapCount); default: every picture to the end\n"
      "  -d, --frames-delay N   as CapFramesDelay\n"
      "  -t, --template T       as CapFormat\n"
      "      --realtime         pace to the file's frame rate (default: as fast as possible)\n"
      "      --no-capture       run the chain but write nothing\n"
      "  -q, --quiet\n",
      out);
}

// Texts the graph would show in boxes and the status bar: the last one explains a failure.
struct ConsoleUi : IGraphUi {
  std::string last;
  void ShowBox(const char* text, const char* caption) override {
    (void)caption;
    last = text;
  }
  void SetStatus(int field, const char* text) override {
    if (field == 1) last = text;
  }
};

// Stands in for the two video windows and the main window: counts pictures and notes the capture's end.
struct CountingWindow : IWindow {
  std::atomic<uint64_t> nRepaints{0};
  std::atomic<int32_t> bCaptureEnded{0};
  void PostMsg(unsigned msg) override {
    if (msg == kMsgRepaint)
      nRepaints.fetch_add(1);
    else if (msg == kMsgCaptureEnded)
      bCaptureEnded.store(1);
  }
  void GetClientSize(int& w, int& h) override { w = h = 0; }
  void Invalidate(bool) override {}
};

bool ParseCount(const char* text, unsigned long& value) {
  if (!text || !*text || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFul) return false;
  value = v;
  return true;
}

std::string Trimmed(const std::string& s) {
  std::string t = s;
  while (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.pop_back();
  return t;
}

// Access bits say nothing for root or on a read-only mount: try to make a file there.
bool CanCreateIn(const std::string& dir, std::string& why) {
  std::string probe = dir + (dir.empty() || dir.back() != '/' ? "/" : "") + ".ulmora-batch-XXXXXX";
  std::vector<char> name(probe.begin(), probe.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(name.data());
  return true;
}

bool SameDirectory(const char* a, const char* b) {
  char ra[PATH_MAX], rb[PATH_MAX];
  if (!realpath(a, ra) || !realpath(b, rb)) return false;
  return std::strcmp(ra, rb) == 0;
}

int Fail(const char* fmt, const char* arg, const char* detail = nullptr) {
  std::fprintf(stderr, "ulmora-batch: ");
  std::fprintf(stderr, fmt, arg);
  if (detail && *detail) std::fprintf(stderr, ": %s", detail);
  std::fputc('\n', stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string profile, outDir, tmpl;
  std::vector<std::pair<std::string, std::string>> sets;
  unsigned long count = 0, delay = 0;
  bool haveCount = false, haveDelay = false, realtime = false, noCapture = false, quiet = false;

  enum { kRealtime = 1000, kNoCapture };
  static const option kOptions[] = {{"profile", required_argument, nullptr, 'p'},
                                    {"set", required_argument, nullptr, 's'},
                                    {"out", required_argument, nullptr, 'o'},
                                    {"count", required_argument, nullptr, 'n'},
                                    {"frames-delay", required_argument, nullptr, 'd'},
                                    {"template", required_argument, nullptr, 't'},
                                    {"realtime", no_argument, nullptr, kRealtime},
                                    {"no-capture", no_argument, nullptr, kNoCapture},
                                    {"quiet", no_argument, nullptr, 'q'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":p:s:o:n:d:t:qh", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'p':
        profile = optarg;
        break;
      case 's': {
        const char* eq = std::strchr(optarg, '=');
        if (!eq || eq == optarg) return Fail("--set needs KEY=VALUE, not '%s'", optarg), 2;
        sets.emplace_back(std::string(optarg, static_cast<size_t>(eq - optarg)), std::string(eq + 1));
        break;
      }
      case 'o':
        outDir = optarg;
        break;
      case 'n':
        if (!ParseCount(optarg, count) || count == 0) return Fail("bad picture count '%s'", optarg), 2;
        haveCount = true;
        break;
      case 'd':
        if (!ParseCount(optarg, delay)) return Fail("bad frames delay '%s'", optarg), 2;
        haveDelay = true;
        break;
      case 't':
        tmpl = optarg;
        break;
      case kRealtime:
        realtime = true;
        break;
      case kNoCapture:
        noCapture = true;
        break;
      case 'q':
        quiet = true;
        break;
      case 'h':
        Usage(stdout);
        return 0;
      case ':':
        return Fail("option '%s' needs a value", argv[optind - 1]), 2;
      default: {
        std::fprintf(stderr, "ulmora-batch: unknown option '%s'\n", argv[optind - 1]);
        Usage(stderr);
        return 2;
      }
    }
  }
  if (optind + 1 != argc) {
    Usage(stderr);
    return 2;
  }
  const char* input = argv[optind];

  // The run log, as the GUI keeps it: graph building, formats and failures go there.
  struct RunLog {
    RunLog() {
      ulmora::ClibInit(ulmora::OpenLogFile);
      ulmora::ReportCpu();
    }
    ~RunLog() {
      LogPrintf(nullptr);
      ulmora::ClibShutdown();
    }
  } runLog;

  // Settings first: everything constructed below reads them.
  if (!profile.empty()) {
    if (access(profile.c_str(), R_OK) != 0)
      return Fail("cannot read profile '%s'", profile.c_str(), std::strerror(errno));
    ProfileUsePath(profile);
  }
  ProfileSetReadOnly(true);
  for (const auto& [key, value] : sets) {
    if (!FindNoctaKey(key.c_str())) return Fail("unknown key '%s' (section [nocta])", key.c_str()), 2;
    ProfileSetOverride(kSectionNocta, key.c_str(), value.c_str());
  }
  if (!outDir.empty()) {
    struct stat st {};
    if (stat(outDir.c_str(), &st) != 0) return Fail("output directory '%s' does not exist", outDir.c_str());
    if (!S_ISDIR(st.st_mode)) return Fail("output '%s' is not a directory", outDir.c_str());
    std::string why;
    if (!noCapture && !CanCreateIn(outDir, why)) return Fail("cannot write into '%s'", outDir.c_str(), why.c_str());
    if (outDir.size() > static_cast<size_t>(kMaxWorkDirLen))
      return Fail("output directory name too long: '%s'", outDir.c_str());
    ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapWorkDir).name, outDir.c_str());
  }
  if (haveDelay)
    ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapFramesDelay).name, std::to_string(delay).c_str());
  if (!tmpl.empty()) ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapFormat).name, tmpl.c_str());

  if (access(input, R_OK) != 0) return Fail("cannot read '%s'", input, std::strerror(errno));
  struct stat inSt {};
  if (stat(input, &inSt) == 0 && S_ISDIR(inSt.st_mode)) return Fail("'%s' is a directory", input);

  ConsoleUi ui;
  SetGraphUi(&ui);
  CountingWindow win, liveWin;
  int status = 0;
  {
    CCapGraph graph;
    CSG& sg = graph.Session();
    sg.Processor().SetWindows(&win, &win);
    // As in the GUI, the live frame has a window: every frame then reaches the pacing, not only the
    // ones that finish a sum.
    sg.frLive.AttachWindow(&liveWin);
    sg.SetPacing(realtime);
    // The session falls back to the temporary directory when it cannot take the one asked for.
    if (!outDir.empty() && !SameDirectory(sg.WorkDir(), outDir.c_str()))
      return SetGraphUi(nullptr), Fail("cannot use '%s' as the capture directory", outDir.c_str());

    std::string why;
    if (!noCapture && outDir.empty() && !CanCreateIn(sg.WorkDir(), why))
      return SetGraphUi(nullptr), Fail("cannot write into '%s'", sg.WorkDir(), why.c_str());

    if (FAILED(graph.BuildFileGraph(input))) {
      SetGraphUi(nullptr);
      return Fail("cannot play '%s'", input, Trimmed(ui.last).c_str());
    }
    sg.SetCapCount(haveCount ? static_cast<uint32_t>(count) : 0xFFFFFFFFu);
    const uint64_t framesBefore = graph.Grabber()->FramesDelivered();
    win.nRepaints.store(0);
    if (!noCapture) sg.StartCapture(1);
    const auto start = std::chrono::steady_clock::now();
    if (FAILED(graph.RunGraph())) {
      SetGraphUi(nullptr);
      return Fail("cannot run '%s'", input, Trimmed(ui.last).c_str());
    }

    const bool tty = !quiet && isatty(STDERR_FILENO);
    bool captureStopped = false;
    uint64_t lastFrames = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
      const GraphEvent ev = graph.WaitGraphEvent(200);
      const uint64_t frames = graph.Grabber()->FramesDelivered() - framesBefore;
      if (tty)
        std::fprintf(stderr, "\r%llu frames, %u files", static_cast<unsigned long long>(frames), sg.nCaptured.load());
      if (ev == GraphEvent::kEndOfStream) break;
      if (ev == GraphEvent::kError) {
        std::fprintf(stderr, "%sulmora-batch: playing '%s' failed\n", tty ? "\n" : "", input);
        status = 1;
        break;
      }
      if (!noCapture && sg.bCapture.load() == 0) {  // the run has all its pictures, or a write failed
        captureStopped = true;
        break;
      }
      const auto now = std::chrono::steady_clock::now();
      if (frames != lastFrames) {
        lastFrames = frames;
        lastProgress = now;
      } else if (now - lastProgress > std::chrono::seconds(30)) {
        std::fprintf(stderr, "%sulmora-batch: no frame for 30 s, giving up\n", tty ? "\n" : "");
        status = 1;
        break;
      }
    }
    if (tty) std::fputc('\n', stderr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t frames = graph.Grabber()->FramesDelivered() - framesBefore;
    const uint64_t pictures = win.nRepaints.load();
    // Stop capturing before the stop cues the first frame again.
    sg.StartCapture(0);
    const uint32_t files = sg.nCaptured.load();
    if (captureStopped && (!haveCount || files < count)) {
      std::fprintf(stderr, "ulmora-batch: writing into '%s' failed after %u files\n", sg.WorkDir(), files);
      status = 1;
    }
    graph.DestroyGraph();
    std::printf("frames in %llu, pictures %llu, files written %u, %.1f frames per second\n",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(pictures), files,
                seconds > 0 ? frames / seconds : 0.0);
  }
  SetGraphUi(nullptr);
  return status;
}
