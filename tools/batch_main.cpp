// ulmora-batch: plays a video file, or records from a capture device, through the graph and the
// processing chain without a GUI, and writes the captured pictures as the GUI would.
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch_latency.h"
#include "batch_options.h"
#include "batch_schedule.h"
#include "batch_station.h"
#include "common/clib.h"
#include "common/cpu_report.h"
#include "common/paths.h"
#include "common/run_log.h"
#include "common/text_escape.h"
#include "devices/device_list.h"
#include "graph/cap_graph.h"
#include "gst/bus_errors.h"
#include "graph/graph_report.h"
#include "graph/stall_watch.h"
#include "graph/station_counters.h"
#include "graph/station_status.h"
#include "settings/profile.h"
#include "settings/profile_keys.h"
#include "simcam/sim_camera.h"
#include "videorec/video_formats.h"

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
  // A closed terminal or an ssh session that drops ends the run as cleanly as Ctrl+C.
  sigaction(SIGHUP, &sa, nullptr);
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
  // A key given twice holds its last value: only that one is compared with what is used.
  std::set<std::string> seen;
  for (auto it = o.sets.rbegin(); it != o.sets.rend(); ++it) {
    const auto& [key, value] = *it;
    if (!seen.insert(key).second) continue;
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

// --device: choosing the device builds the graph on it, as the program's device list does.
DeviceListHooks GraphHooks(CCapGraph& graph) {
  DeviceListHooks hooks;
  hooks.buildCaptureGraph = [&graph] { return graph.BuildCaptureGraph(); };
  hooks.warning = [](const char* text) { GraphWarning(text); };
  hooks.stopGraph = [&graph] { return SUCCEEDED(graph.StopGraph()); };
  hooks.runGraph = [&graph] { return SUCCEEDED(graph.RunGraph()); };
  return hooks;
}

// The exit status when a step ends the program; nothing when the run goes on.
using Exit = std::optional<int>;

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
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
};

// The graph reports to ui for as long as this lives, and to the log only afterwards, on every way out.
class GraphUiScope {
 public:
  explicit GraphUiScope(IGraphUi* ui) { SetGraphUi(ui); }
  ~GraphUiScope() { SetGraphUi(nullptr); }
  GraphUiScope(const GraphUiScope&) = delete;
  GraphUiScope& operator=(const GraphUiScope&) = delete;
};

// A camera's identity (--device) or a file's path.
struct Source {
  bool live = false;
  const char* name = nullptr;
};

Source SourceOf(const Options& o) {
  const bool live = !o.device.empty();
  return {live, live ? o.device.c_str() : o.input.c_str()};
}

// What the steps of one run share. Members go in reverse order: the latency probe before the graph it
// sits in, the graph before the windows it posts to, the error sink before the ui it points to.
struct BatchRun {
  BatchRun(const Options& opts, const Source& src) : o(opts), live(src.live), source(src.name) {
    graph.SetDeviceList(&devices);
  }
  // The text that explains the last failure, without its line break.
  std::string LastText() const { return Trimmed(ui.last); }
  // That text and, where the graph knows it, the cause behind it.
  std::string Why() const {
    const std::string& cause = graph.FailureCause();
    return cause.empty() ? LastText() : LastText() + ": " + cause;
  }

  const Options& o;
  const bool live;
  const char* const source;
  const bool tty = !o.quiet && isatty(STDERR_FILENO);
  ConsoleUi ui;
  GraphUiScope uiScope{&ui};
  CountingWindow win, liveWin;
  CCapGraph graph;
  CSG& sg = graph.Session();
  CDeviceList devices{GraphHooks(graph)};
  batch::CLatencyProbe latency;
  uint64_t framesBefore = 0;
  std::chrono::steady_clock::time_point start;
  bool captureStopped = false;
  int status = 0;

  // An unattended station: the device by identity, the counts of graphs a reconnect replaced, the gaps
  // it bridged, the watchdog, the status file and the service manager.
  std::string deviceId, deviceName;
  uint64_t deliveredEarlier = 0;
  StationCounters earlier;
  CStationCounterReader counterReader;
  std::vector<batch::Gap> gaps;
  CStallWatch watch;
  std::unique_ptr<CStatusFile> statusFile;
  batch::CServiceNotifier notifier;
  StationState state = StationState::kWaiting;
  int64_t lastStatusMs = 0;
  bool folded = false;  // the counts of the graph there now are in earlier already
  batch::CSchedule schedule{o.schedule};
  batch::StationClock clock = batch::MakeStationClock();
};

// Frames that reached the chain in this run, over every graph a reconnect built.
uint64_t Frames(const BatchRun& run) {
  const CGrabber* g = run.graph.Grabber();
  const uint64_t now = g && g->FramesDelivered() >= run.framesBefore ? g->FramesDelivered() - run.framesBefore : 0;
  return run.deliveredEarlier + now;
}

// The run's counts over every graph; a graph already folded into earlier is not counted twice.
StationCounters Counts(BatchRun& run) {
  return run.folded ? run.earlier : run.counterReader.Read(run.graph, run.earlier);
}

// At most once a second (force: now): the status file and the service manager's status line.
void UpdateStatus(BatchRun& run, bool force = false) {
  const int64_t nowMs = SteadyNowMs();
  if (!force && nowMs - run.lastStatusMs < 1000) return;
  run.lastStatusMs = nowMs;
  StationStatus st;
  st.state = run.state;
  st.deviceId = run.live ? run.deviceId : run.source;
  st.deviceName = run.deviceName;
  st.counters = run.live ? Counts(run) : StationCounters{};
  if (!run.live) st.counters.framesIn = Frames(run);
  if (!run.live) st.counters.picturesWritten = run.sg.Capture().nCaptured.load();
  st.captureDir = run.o.noCapture ? std::string() : run.sg.WorkDir();
  if (run.start != std::chrono::steady_clock::time_point{})
    st.secondsSinceStart = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count();
  st.gaps = static_cast<uint32_t>(run.gaps.size());
  st.stalls = run.watch.Stalls();
  if (run.statusFile && !run.statusFile->Write(st) && run.statusFile->Failures() == 1)
    batch::StationMessage(LOG_WARNING, "the status file '%s' cannot be written (see the run log); the run goes on",
                          run.statusFile->Path().c_str());
  char line[160];
  std::snprintf(line, sizeof line, "%s: %llu frames, %llu pictures, %zu gaps", StationStateName(run.state),
                static_cast<unsigned long long>(st.counters.framesIn),
                static_cast<unsigned long long>(st.counters.picturesWritten), run.gaps.size());
  run.notifier.Status(line);
}

// --sim-camera is taken out of the arguments before the rest is read.
Exit ReadCommandLine(int& argc, char** argv, Options& o) {
  if (!EnsureGstInit()) return Fail("%s", "GStreamer cannot start");
  RegisterVideoRecordFormats();  // before the options, which name recordings by their format
  std::string simError;
  if (!EnableSimCameraFromArgs(&argc, argv, &simError)) return Fail("%s", simError.c_str()), 2;
  bool exitNow = false;
  const int parsed = batch::ParseOptions(argc, argv, o, exitNow);
  if (exitNow) return parsed;
  return std::nullopt;
}

// Nothing here writes or moves a profile.
Exit UseProfile(const Options& o) {
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
  return std::nullopt;
}

Exit ApplySets(const Options& o) {
  for (const auto& [key, value] : o.sets) {
    if (!FindNoctaKey(key.c_str())) return Fail("unknown key '%s' (section [nocta])", key.c_str()), 2;
    const std::string bad = batch::CheckSetValue(key.c_str(), value);
    if (!bad.empty()) return Fail("--set %s refused", (key + "=" + value).c_str(), bad.c_str()), 2;
    ProfileSetOverride(kSectionNocta, key.c_str(), value.c_str());
  }
  return std::nullopt;
}

// A path as messages show it: escaped, and cut when it is longer than any folder a run could use.
std::string Shown(const std::string& path) {
  constexpr size_t kMaxShown = 300;
  return EscapeText(path.size() > kMaxShown ? path.substr(0, kMaxShown) + "..." : path);
}

// The same rules for -o, CapWorkDir in the profile and --set CapWorkDir=.
Exit CheckOutDir(const std::string& dir, bool noCapture) {
  const std::string shown = Shown(dir);
  if (dir.size() > static_cast<size_t>(kMaxWorkDirLen))
    return Fail("output directory name too long: '%s'", shown.c_str());
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return Fail("output directory '%s' does not exist", shown.c_str());
  if (!S_ISDIR(st.st_mode)) return Fail("output '%s' is not a directory", shown.c_str());
  std::string why;
  if (!noCapture && !CanCreateIn(dir, why)) return Fail("cannot write into '%s'", shown.c_str(), why.c_str());
  return std::nullopt;
}

// The capture folder the settings name: -o, else CapWorkDir (profile or --set); empty when none is named.
std::string RequestedOutDir(const Options& o) {
  if (!o.outDir.empty()) return o.outDir;
  char dir[kTextSize] = {};
  ProfileReadText(ProfileKey::CapWorkDir, dir, sizeof dir);
  // A text cut at the buffer is longer than any folder a run may use: it is refused as such.
  return dir;
}

// --out, --delay and --template stand in for the profile's capture settings.
Exit ApplyCaptureOptions(const Options& o) {
  if (!o.outDir.empty()) ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapWorkDir).name, o.outDir.c_str());
  if (const std::string dir = RequestedOutDir(o); !dir.empty() && !o.noCapture) {
    if (const Exit bad = CheckOutDir(dir, o.noCapture)) return bad;
  }
  if (o.haveDelay)
    ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapFramesDelay).name, std::to_string(o.delay).c_str());
  if (!o.tmpl.empty()) ProfileSetOverride(kSectionNocta, KeyInfo(ProfileKey::CapFormat).name, o.tmpl.c_str());
  return std::nullopt;
}

// Settings first: everything constructed later reads them.
Exit ApplySettings(const Options& o) {
  if (const Exit bad = UseProfile(o)) return bad;
  if (const Exit bad = ApplySets(o)) return bad;
  return ApplyCaptureOptions(o);
}

Exit CheckInputFile(const Source& src) {
  if (src.live) return std::nullopt;
  if (access(src.name, R_OK) != 0) return Fail("cannot read '%s'", src.name, std::strerror(errno));
  struct stat inSt {};
  if (stat(src.name, &inSt) == 0 && S_ISDIR(inSt.st_mode)) return Fail("'%s' is a directory", src.name);
  return std::nullopt;
}

// The session as the GUI sets it up, and the capture directory it settled on.
Exit PrepareSession(BatchRun& run) {
  const Options& o = run.o;
  CSG& sg = run.sg;
  sg.Processor().SetWindows(&run.win, &run.win);
  // As in the GUI, the live frame has a window: every frame then reaches the pacing, not only the
  // ones that finish a sum.
  sg.FrLive().AttachWindow(&run.liveWin);
  // A camera paces itself; a file only when asked.
  sg.SetPacing(!run.live && o.realtime);
  // The session falls back to the temporary directory when it cannot take the one asked for: a run
  // never writes anywhere but where it was told.
  const std::string asked = RequestedOutDir(o);
  if (!o.noCapture && !asked.empty() && !SameDirectory(sg.WorkDir(), asked.c_str()))
    return Fail("cannot use '%s' as the capture directory", Shown(asked).c_str());
  sg.SetKeepFree(o.keepFreeBytes);
  std::string why;
  if (!o.noCapture && asked.empty() && !CanCreateIn(sg.WorkDir(), why))
    return Fail("cannot write into '%s'", sg.WorkDir(), why.c_str());
  return std::nullopt;
}

// The device list's part of a recording: find the camera, let the list build the graph on it.
Exit OpenDevice(BatchRun& run) {
  int chosen = run.devices.ChooseNamed(run.source);
  // A station may start before its camera: --wait-device waits for the first arrival as for a return.
  if (chosen == -2 && run.o.waitDevice) {
    InstallSignalHandlers();
    batch::StationMessage(LOG_NOTICE, "waiting for video device '%s'", run.source);
    // Up and working, as the service manager needs to hear before its start timeout.
    run.notifier.Ready(std::string("waiting for ") + run.source);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(run.o.waitDeviceSeconds);
    while (chosen == -2 && g_signal.load() == 0 &&
           (run.o.waitDeviceSeconds <= 0 || std::chrono::steady_clock::now() < until)) {
      UpdateStatus(run);
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      chosen = run.devices.ChooseNamed(run.source);
    }
  }
  if (chosen == -2) return Fail("no video device '%s' (see --list-devices)", run.source);
  if (chosen < 0 || !run.graph.HasGraph()) return Fail("cannot record from '%s'", run.source, run.Why().c_str());
  run.deviceId = run.devices.CurrentIdentity();
  for (const DeviceInfo& d : run.devices.ListAll())
    if (d.id == run.deviceId) run.deviceName = d.name;
  return std::nullopt;
}

Exit OpenFile(BatchRun& run) {
  if (SUCCEEDED(run.graph.BuildFileGraph(run.source))) return std::nullopt;
  return Fail("cannot play '%s'", run.source, run.Why().c_str());
}

// Frames and pictures are counted from here; the graph runs last.
Exit StartRun(BatchRun& run) {
  const Options& o = run.o;
  if (run.live && o.latency) run.latency.Attach(run.graph);
  run.sg.SetCapCount(o.haveCount ? static_cast<uint32_t>(o.count) : 0xFFFFFFFFu);
  run.framesBefore = run.graph.Grabber()->FramesDelivered();
  run.win.nRepaints.store(0);
  InstallSignalHandlers();
  if (!o.noCapture) run.sg.StartCapture(1);
  if (!o.records.empty()) {
    std::string why;
    if (run.sg.StartRecording(o.records, why) != 0) return Fail("%s", why.c_str());
  }
  run.start = std::chrono::steady_clock::now();
  if (FAILED(run.graph.RunGraph())) return Fail("cannot run '%s'", run.source, run.LastText().c_str());
  run.watch.Reset(0, SteadyNowMs());
  run.state = StationState::kRecording;
  UpdateStatus(run, true);
  run.notifier.Ready(std::string("recording from ") + (run.deviceName.empty() ? run.source : run.deviceName.c_str()));
  return std::nullopt;
}

// The graph of the same device again, running, its capture run going on: the counts of the graph it
// replaces are kept first.
// The counts of the graph there now join earlier, once, before the graph goes.
void FoldCounts(BatchRun& run) {
  if (run.folded) return;
  run.earlier = run.counterReader.Read(run.graph, run.earlier);
  run.deliveredEarlier = Frames(run);
  run.framesBefore = run.graph.Grabber() ? run.graph.Grabber()->FramesDelivered() : 0;
  run.folded = true;
}

bool Reopen(BatchRun& run) {
  FoldCounts(run);
  run.graph.ContinueTimeline();
  const int chosen = run.devices.ChooseAgain(run.deviceId);
  if (chosen == -2) return false;  // gone again before it could be taken: the old graph stays
  run.folded = false;
  run.framesBefore = 0;
  if (chosen != 1 || !run.graph.HasGraph() || !run.graph.Grabber()) return false;
  run.framesBefore = run.graph.Grabber()->FramesDelivered();
  if (run.o.latency) run.latency.Attach(run.graph);
  if (FAILED(run.graph.RunGraph())) return false;
  if (!run.o.noCapture) run.sg.ResumeCapture();
  run.watch.Reset(Frames(run), SteadyNowMs());
  return true;
}

// The device went (its graph failed or stalled and it is no longer listed): waits for it with
// --wait-device and goes on with the same run when it is back. False when the run ends here.
bool BridgeGap(BatchRun& run, const char* cause, int64_t quietMs) {
  const int64_t startUtcMs = UtcNowMs() - quietMs;
  const auto gapStart = std::chrono::steady_clock::now() - std::chrono::milliseconds(quietMs);
  run.state = StationState::kReconnecting;
  batch::StationMessage(LOG_WARNING, "'%s': %s; %s", run.source, cause,
                        run.o.waitDevice ? "waiting for it" : "the run ends (--wait-device waits for it)");
  if (!run.o.waitDevice) return false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(run.o.waitDeviceSeconds);
  while (g_signal.load() == 0) {
    UpdateStatus(run);
    if (run.devices.IsListed(run.deviceId) && Reopen(run)) break;
    if (run.o.waitDeviceSeconds > 0 && std::chrono::steady_clock::now() >= until) {
      batch::StationMessage(LOG_ERR, "'%s' did not come back within %.0f s", run.source, run.o.waitDeviceSeconds);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  if (g_signal.load() != 0) return false;
  batch::Gap gap;
  gap.startUtcMs = startUtcMs;
  gap.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - gapStart).count();
  gap.framesLost = static_cast<uint64_t>(gap.seconds * run.sg.GetFrameRate() + 0.5);
  gap.cause = cause;
  run.gaps.push_back(gap);
  run.state = StationState::kRecording;
  batch::StationMessage(LOG_NOTICE, "'%s' is back after %.1f s without frames; the run goes on", run.source,
                        gap.seconds);
  UpdateStatus(run, true);
  return true;
}

// Outside the schedule's window the device is closed; the run rests until the window opens again and
// then goes on. False when the run ends meanwhile.
bool RestUntilWindow(BatchRun& run) {
  batch::StationMessage(LOG_NOTICE, "outside the recording window: '%s' is closed until it opens", run.source);
  run.sg.StartCapture(0);
  run.graph.StopGraph();
  FoldCounts(run);
  run.graph.ContinueTimeline();
  run.graph.DestroyGraph();
  run.state = StationState::kScheduledOff;
  UpdateStatus(run, true);
  const auto start = std::chrono::steady_clock::now();
  while (g_signal.load() == 0 && !run.schedule.IsOn(run.clock())) {
    if (run.o.haveSeconds &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count() >= run.o.seconds)
      return false;
    // Resting on purpose is not a hang: the service manager keeps hearing from us.
    run.notifier.KeepAliveIdle(SteadyNowMs());
    UpdateStatus(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  if (g_signal.load() != 0) return false;
  batch::StationMessage(LOG_NOTICE, "the recording window opens after %.0f s: '%s' is opened again",
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), run.source);
  while (g_signal.load() == 0 && !Reopen(run)) {
    // The device went meanwhile: waited for as after an unplug.
    if (!BridgeGap(run, "device gone", 0)) return false;
    if (run.graph.HasGraph()) break;
  }
  run.state = StationState::kRecording;
  return g_signal.load() == 0;
}

// The watchdog: a live graph quiet for too long is stopped and opened again, or waited for when its
// device is gone. False when the run ends here.
bool SurviveStall(BatchRun& run, uint64_t frames) {
  const int64_t nowMs = SteadyNowMs();
  const double fps = run.sg.GetFrameRate();
  if (!run.watch.Check(frames, nowMs, fps)) return true;
  const int64_t quietMs = CStallWatch::LimitMs(fps);
  run.state = StationState::kStalled;
  UpdateStatus(run, true);
  batch::StationMessage(LOG_WARNING, "no frame from '%s' for %.1f s: stalled (%u so far), opening it again", run.source,
                        quietMs / 1000.0, run.watch.Stalls());
  run.sg.StartCapture(0);
  run.graph.StopGraph();
  if (run.devices.IsListed(run.deviceId) && Reopen(run)) {
    batch::Gap gap;
    gap.startUtcMs = UtcNowMs() - quietMs;
    gap.seconds = (SteadyNowMs() - nowMs + quietMs) / 1000.0;
    gap.framesLost = static_cast<uint64_t>(gap.seconds * fps + 0.5);
    gap.cause = "stalled";
    run.gaps.push_back(gap);
    run.state = StationState::kRecording;
    return true;
  }
  if (BridgeGap(run, "device gone", quietMs)) return true;
  run.status = 1;
  return false;
}

// When frames last came in: a source that stops sending for 30 s is given up on.
struct Progress {
  uint64_t frames = 0;
  std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now();
};

bool Stalled(BatchRun& run, Progress& progress, uint64_t frames, std::chrono::steady_clock::time_point now) {
  if (frames != progress.frames) {
    progress.frames = frames;
    progress.at = now;
    return false;
  }
  if (now - progress.at <= std::chrono::seconds(30)) return false;
  std::fprintf(stderr, "%sulmora-batch: no frame for 30 s, giving up\n", run.tty ? "\n" : "");
  run.status = 1;
  return true;
}

// One bounded wait on the graph: false once the run is over.
bool KeepRunning(BatchRun& run, Progress& progress) {
  const Options& o = run.o;
  const GraphEvent ev = run.graph.HandleGraphNotify(200);
  const uint64_t frames = Frames(run);
  if (run.tty)
    std::fprintf(stderr, "\r%llu frames, %u files", static_cast<unsigned long long>(frames), run.sg.Capture().nCaptured.load());
  if (ev == GraphEvent::kEndOfStream) return false;
  if (ev == GraphEvent::kError && run.live && run.o.waitDevice) {
    std::string why = run.LastText();
    if (run.tty) std::fputc('\n', stderr);
    if (!why.empty() && why.back() == '.') why.pop_back();
    batch::StationMessage(LOG_WARNING, "%s", why.c_str());
    if (BridgeGap(run, "device gone", 0)) return true;
    run.status = 1;
    return false;
  }
  if (ev == GraphEvent::kError) {
    // A file's failure has no sentence of the graph's own: the error behind it is the message.
    const std::string why = run.live ? run.LastText() : LastBusError();
    std::fprintf(stderr, "%sulmora-batch: %s '%s' failed%s%s\n", run.tty ? "\n" : "",
                 run.live ? "recording from" : "playing", run.source, why.empty() ? "" : ": ", why.c_str());
    run.status = 1;
    return false;
  }
  if (g_signal.load() != 0) return false;
  if (!o.records.empty() && run.sg.Recording().endError != 0) return false;  // told in the summary
  if (!o.noCapture && run.sg.Capture().bCapture.load() == 0) {  // the run has all its pictures, or a write failed
    run.captureStopped = true;
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (o.haveSeconds && std::chrono::duration<double>(now - run.start).count() >= o.seconds) return false;
  run.notifier.Tick(frames, SteadyNowMs());
  UpdateStatus(run);
  if (run.live && !run.schedule.IsOn(run.clock())) return RestUntilWindow(run);
  if (run.live) return SurviveStall(run, frames);
  return !Stalled(run, progress, frames, now);
}

void WaitForEnd(BatchRun& run) {
  Progress progress;
  while (KeepRunning(run, progress)) {
  }
  if (run.tty) std::fputc('\n', stderr);
}

// What a run did, counted before its graph goes.
struct Tally {
  double seconds = 0.0;
  uint64_t frames = 0, pictures = 0, sourceFrames = 0, sourceDropped = 0;
  uint32_t files = 0, renamed = 0;
  double periodMs = 0.0;
};

// Ends the run and counts it; the graph goes, and for a camera the device list with it.
Tally StopRun(BatchRun& run) {
  // No new file is begun from here; the one being written is finished before the graph lets go of
  // the session.
  run.sg.StartCapture(0);
  Tally t;
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count();
  run.notifier.Stopping();
  if (run.live) run.graph.StopGraph();
  t.frames = Frames(run);
  t.pictures = run.win.nRepaints.load();
  const StationCounters all = Counts(run);
  t.sourceFrames = all.framesIn;
  t.sourceDropped = all.droppedCamera;
  t.files = run.sg.Capture().nCaptured.load();
  t.renamed = run.sg.Capture().nRenamed.load();
  if (const int err = run.sg.Capture().nWriteError.load()) {
    std::fprintf(stderr, "ulmora-batch: writing into '%s' failed after %u files: %s\n", run.sg.WorkDir(), t.files,
                 err == ENOSPC ? "no space left (or less than the space to keep free)" : std::strerror(err));
    run.status = 1;
  }
  if (g_signal.load() != 0) std::fprintf(stderr, "ulmora-batch: stopped by signal %d\n", g_signal.load());
  t.periodMs = 1000.0 / run.sg.GetFrameRate();
  // Every recording is finished whole before the graph goes.
  run.sg.StopRecording();
  if (const RecordingStatus rec = run.sg.Recording(); rec.endError != 0) {
    std::fprintf(stderr, "ulmora-batch: recording stopped: %s\n", rec.endCause.c_str());
    run.status = 1;
  }
  run.graph.DestroyGraph();
  return t;
}

void PrintSummary(const BatchRun& run, const Tally& t) {
  std::printf("frames in %llu, pictures %llu, files written %u, %.1f frames per second",
              static_cast<unsigned long long>(t.frames), static_cast<unsigned long long>(t.pictures), t.files,
              t.seconds > 0 ? t.frames / t.seconds : 0.0);
  if (!run.o.noCapture) std::printf(", into '%s'", run.sg.WorkDir());
  if (t.renamed) std::printf(", %u under a numbered name (the planned name was taken)", t.renamed);
  if (run.live)
    std::printf(", source dropped %llu, chain dropped %llu", static_cast<unsigned long long>(t.sourceDropped),
                static_cast<unsigned long long>(t.sourceFrames > t.frames ? t.sourceFrames - t.frames : 0));
  std::printf("\n");
  batch::PrintGaps(stdout, run.gaps);
  if (run.live && run.o.latency) run.latency.Report(stdout, t.periodMs);
  for (const RecordingFileStatus& r : run.sg.Recording().recordings) {
    std::printf(
        "recording '%s': frames written %llu, bytes %llu, dropped by the camera %llu, the chain %llu, the "
        "writer %llu",
        r.path.c_str(), static_cast<unsigned long long>(r.frames), static_cast<unsigned long long>(r.bytes),
        static_cast<unsigned long long>(r.drops.camera), static_cast<unsigned long long>(r.drops.chain),
        static_cast<unsigned long long>(r.drops.writer));
    if (r.files.size() <= 2)
      for (const std::string& f : r.files) std::printf(", file '%s'", f.c_str());
    else
      std::printf(", %zu files from '%s' to '%s'", r.files.size(), r.files.front().c_str(), r.files.back().c_str());
    if (!r.sidecar.empty()) std::printf(", sidecar '%s'", r.sidecar.c_str());
    std::printf("\n");
  }
}

void ReportNoFrames(BatchRun& run, const Tally& t) {
  if (run.status != 0 || g_signal.load() != 0) return;
  if (t.frames != 0 && t.pictures == 0) {
    std::fprintf(stderr, "ulmora-batch: %llu frames came from '%s', but no picture could be made of them\n",
                 static_cast<unsigned long long>(t.frames), run.source);
    run.status = 1;
    return;
  }
  if (t.frames != 0) return;
  if (run.live)
    std::fprintf(stderr, "ulmora-batch: no frame came from '%s'\n", run.source);
  else
    std::fprintf(stderr, "ulmora-batch: no frame could be decoded from '%s'\n", run.source);
  run.status = 1;
}

// Builds the graph, runs it to its end and tells what it did; the exit status.
int Record(BatchRun& run) {
  if (const Exit bad = PrepareSession(run)) return *bad;
  if (const Exit bad = run.live ? OpenDevice(run) : OpenFile(run)) return *bad;
  if (const Exit bad = StartRun(run)) return *bad;
  WaitForEnd(run);
  const Tally t = StopRun(run);
  PrintSummary(run, t);
  ReportNoFrames(run, t);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "ulmora-batch: the summary could not be written: %s\n", std::strerror(errno));
    return 1;
  }
  return run.status;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const Exit done = ReadCommandLine(argc, argv, o)) return *done;
  const RunLog runLog;
  if (o.listDevices) return ListDevices();
  if (const Exit bad = ApplySettings(o)) return *bad;
  const Source source = SourceOf(o);
  if (const Exit bad = CheckInputFile(source)) return *bad;
  std::string why;
  if (!o.statusFile.empty() && !CStatusFile::CheckPath(o.statusFile, &why))
    return Fail("cannot keep the status file '%s'", Shown(o.statusFile).c_str(), why.c_str()), 2;
  ReportAdjustedSets(o);
  BatchRun run(o, source);
  if (!o.statusFile.empty()) run.statusFile = std::make_unique<CStatusFile>(o.statusFile);
  return Record(run);
}
