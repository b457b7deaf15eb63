// ulmora-batch: plays a video file, or records from a capture device, through the graph and the
// processing chain without a GUI, and writes the captured pictures as the GUI would.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch_latency.h"
#include "batch_options.h"
#include "common/clib.h"
#include "common/cpu_report.h"
#include "common/paths.h"
#include "common/run_log.h"
#include "devices/device_list.h"
#include "simcam/sim_camera.h"
#include "graph/cap_graph.h"
#include "graph/graph_report.h"
#include "settings/profile.h"
#include "settings/profile_keys.h"

namespace {

using namespace ulmora;
using batch::Options;

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
  bool DrawsPictures() const override { return false; }
  void GetClientSize(int& w, int& h) override { w = h = 0; }
  void Invalidate(bool) override {}
};

std::atomic<int> g_signal{0};
void OnSignal(int sig) { g_signal.store(sig); }

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = &OnSignal;
  sigemptyset(&sa.sa_mask);
  // A second Ctrl+C ends the program at once, as users expect of a stuck tool.
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
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

// Tells which --set values the settings' owners did not take as given: they write back what they use.
void ReportAdjustedSets(const Options& o) {
  bool numeric = false;
  for (const auto& [key, value] : o.sets) {
    const ProfileKeyInfo* info = FindNoctaKey(key.c_str());
    numeric = numeric || (info && info->encoding != KeyEncoding::Text);
  }
  if (!numeric) return;
  {
    CCapGraph probe;
    probe.SetActive(true);
  }
  for (const auto& [key, value] : o.sets) {
    const ProfileKeyInfo* info = FindNoctaKey(key.c_str());
    std::string used;
    if (!info || info->encoding == KeyEncoding::Text || !ProfileDroppedWrite(kSectionNocta, key.c_str(), &used)) continue;
    if (std::strtoll(used.c_str(), nullptr, 10) != std::strtoll(value.c_str(), nullptr, 10))
      std::fprintf(stderr, "ulmora-batch: --set %s=%s is out of range: %s is used\n", key.c_str(), value.c_str(),
                   used.c_str());
  }
}

int ListDevices() {
  CDeviceList list({});
  const std::vector<DeviceInfo> devices = list.ListAll();
  for (const DeviceInfo& d : devices) std::printf("%s\t%s\n", d.id.c_str(), d.name.c_str());
  if (devices.empty()) std::fprintf(stderr, "ulmora-batch: no video capture device found\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // --sim-camera is taken out of the arguments before the rest is read.
  if (!EnsureGstInit()) return Fail("%s", "GStreamer cannot start");
  std::string simError;
  if (!EnableSimCameraFromArgs(&argc, argv, &simError)) return Fail("%s", simError.c_str()), 2;
  Options o;
  bool exitNow = false;
  const int parsed = batch::ParseOptions(argc, argv, o, exitNow);
  if (exitNow) return parsed;

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

  if (o.listDevices) return ListDevices();

  // Settings first: everything constructed below reads them. Nothing here writes or moves a profile.
  ProfileSetReadOnly(true);
  if (!o.profile.empty()) {
    if (access(o.profile.c_str(), R_OK) != 0)
      return Fail("cannot read profile '%s'", o.profile.c_str(), std::strerror(errno));
    ProfileUsePath(o.profile);
  }
  std::string why;
  if (!ProfileCheckReadable(&why)) {
    if (!o.profile.empty()) return Fail("profile '%s' is not a settings file", o.profile.c_str(), why.c_str());
    std::fprintf(stderr, "ulmora-batch: profile '%s' cannot be read (%s): using the defaults\n", ProfilePath().c_str(),
                 why.c_str());
  }
  for (const auto& [key, value] : o.sets) {
    if (!FindNoctaKey(key.c_str())) return Fail("unknown key '%s' (section [nocta])", key.c_str()), 2;
    const std::string bad = batch::CheckSetValue(key.c_str(), value);
    if (!bad.empty()) return Fail("--set %s refused", (key + "=" + value).c_str(), bad.c_str()), 2;
    ProfileSetOverride(kSectionNocta, key.c_str(), value.c_str());
  }
  if (!o.outDir.empty()) {
    struct stat st {};
    if (stat(o.outDir.c_str(), &st) != 0) return Fail("output directory '%s' does not exist", o.outDir.c_str());
    if (!S_ISDIR(st.st_mode)) return Fail("output '%s' is not a directory", o.outDir.c_str());
    if (!o.noCapture && !CanCreateIn(o.outDir, why)) return Fail("cannot write into '%s'", o.outDir.c_str(), why.c_str());
    if (o.outDir.size() > static_cast<size_t>(kMaxWorkDirLen))
      return Fail("output directory name too long: '%s'", o.outDir.c_str());
    ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapWorkDir).name, o.outDir.c_str());
  }
  if (o.haveDelay)
    ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapFramesDelay).name, std::to_string(o.delay).c_str());
  if (!o.tmpl.empty()) ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapFormat).name, o.tmpl.c_str());

  const bool live = !o.device.empty();
  const char* source = live ? o.device.c_str() : o.input.c_str();
  if (!live) {
    if (access(source, R_OK) != 0) return Fail("cannot read '%s'", source, std::strerror(errno));
    struct stat inSt {};
    if (stat(source, &inSt) == 0 && S_ISDIR(inSt.st_mode)) return Fail("'%s' is a directory", source);
  }
  ReportAdjustedSets(o);

  ConsoleUi ui;
  SetGraphUi(&ui);
  CountingWindow win, liveWin;
  int status = 0;
  {
    CCapGraph graph;
    // --device: choosing the device builds the graph on it, as the program's device list does.
    DeviceListHooks hooks;
    hooks.buildCaptureGraph = [&graph] { return graph.BuildCaptureGraph(); };
    hooks.warning = [](const char* text) { GraphWarning(text); };
    hooks.stopGraph = [&graph] { return SUCCEEDED(graph.StopGraph()); };
    hooks.runGraph = [&graph] { return SUCCEEDED(graph.RunGraph()); };
    CDeviceList devices(std::move(hooks));
    graph.SetDeviceList(&devices);
    CSG& sg = graph.Session();
    sg.Processor().SetWindows(&win, &win);
    // As in the GUI, the live frame has a window: every frame then reaches the pacing, not only the
    // ones that finish a sum.
    sg.FrLive().AttachWindow(&liveWin);
    // A camera paces itself; a file only when asked.
    sg.SetPacing(!live && o.realtime);
    // The session falls back to the temporary directory when it cannot take the one asked for.
    if (!o.outDir.empty() && !SameDirectory(sg.WorkDir(), o.outDir.c_str()))
      return SetGraphUi(nullptr), Fail("cannot use '%s' as the capture directory", o.outDir.c_str());
    if (!o.noCapture && o.outDir.empty() && !CanCreateIn(sg.WorkDir(), why))
      return SetGraphUi(nullptr), Fail("cannot write into '%s'", sg.WorkDir(), why.c_str());

    if (live) {
      const int chosen = devices.ChooseNamed(source);
      if (chosen == -2) {
        SetGraphUi(nullptr);
        return Fail("no video device '%s' (see --list-devices)", source);
      }
      if (chosen < 0 || !graph.HasGraph()) {
        SetGraphUi(nullptr);
        return Fail("cannot record from '%s'", source, Trimmed(ui.last).c_str());
      }
    } else if (FAILED(graph.BuildFileGraph(source))) {
      SetGraphUi(nullptr);
      return Fail("cannot play '%s'", source, Trimmed(ui.last).c_str());
    }
    batch::CLatencyProbe latency;
    if (live && o.latency) latency.Attach(graph);
    sg.SetCapCount(o.haveCount ? static_cast<uint32_t>(o.count) : 0xFFFFFFFFu);
    const uint64_t framesBefore = graph.Grabber()->FramesDelivered();
    win.nRepaints.store(0);
    InstallSignalHandlers();
    if (!o.noCapture) sg.StartCapture(1);
    const auto start = std::chrono::steady_clock::now();
    if (FAILED(graph.RunGraph())) {
      SetGraphUi(nullptr);
      return Fail("cannot run '%s'", source, Trimmed(ui.last).c_str());
    }

    const bool tty = !o.quiet && isatty(STDERR_FILENO);
    bool captureStopped = false;
    uint64_t lastFrames = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
      const GraphEvent ev = graph.HandleGraphNotify(200);
      const uint64_t frames = graph.Grabber()->FramesDelivered() - framesBefore;
      if (tty)
        std::fprintf(stderr, "\r%llu frames, %u files", static_cast<unsigned long long>(frames),
                     sg.Capture().nCaptured.load());
      if (ev == GraphEvent::kEndOfStream) break;
      if (ev == GraphEvent::kError) {
        std::fprintf(stderr, "%sulmora-batch: %s '%s' failed%s%s\n", tty ? "\n" : "", live ? "recording from" : "playing",
                     source, live ? ": " : "", live ? Trimmed(ui.last).c_str() : "");
        status = 1;
        break;
      }
      if (g_signal.load() != 0) break;
      if (!o.noCapture && sg.Capture().bCapture.load() == 0) {  // the run has all its pictures, or a write failed
        captureStopped = true;
        break;
      }
      const auto now = std::chrono::steady_clock::now();
      if (o.haveSeconds && std::chrono::duration<double>(now - start).count() >= o.seconds) break;
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
    // No new file is begun from here; the one being written is finished before the graph lets go of
    // the session.
    sg.StartCapture(0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (live) graph.StopGraph();
    const uint64_t frames = graph.Grabber() ? graph.Grabber()->FramesDelivered() - framesBefore : 0;
    const uint64_t pictures = win.nRepaints.load();
    const uint64_t sourceFrames = graph.SourceFrames();
    const uint64_t sourceDropped = graph.SourceDroppedFrames();
    const uint32_t files = sg.Capture().nCaptured.load();
    if (captureStopped && (!o.haveCount || files < o.count)) {
      std::fprintf(stderr, "ulmora-batch: writing into '%s' failed after %u files\n", sg.WorkDir(), files);
      status = 1;
    }
    if (g_signal.load() != 0) std::fprintf(stderr, "ulmora-batch: stopped by signal %d\n", g_signal.load());
    const double periodMs = 1000.0 / sg.GetFrameRate();
    graph.DestroyGraph();
    std::printf("frames in %llu, pictures %llu, files written %u, %.1f frames per second",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(pictures), files,
                seconds > 0 ? frames / seconds : 0.0);
    if (live)
      std::printf(", source dropped %llu, chain dropped %llu", static_cast<unsigned long long>(sourceDropped),
                  static_cast<unsigned long long>(sourceFrames > frames ? sourceFrames - frames : 0));
    std::printf("\n");
    if (live && o.latency) latency.Report(stdout, periodMs);
    if (frames == 0 && status == 0 && g_signal.load() == 0) {
      if (live)
        std::fprintf(stderr, "ulmora-batch: no frame came from '%s'\n", source);
      else
        std::fprintf(stderr, "ulmora-batch: no frame could be decoded from '%s'\n", source);
      status = 1;
    }
  }
  SetGraphUi(nullptr);
  return status;
}
