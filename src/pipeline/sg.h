// The grabber session: receives the frames of one graph, keeps the live and processed frames, the
// capture settings and the capture-file names, and runs the per-frame path on the streaming thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/published.h"
#include "frames/dib_frame.h"
#include "pipeline/media_type.h"
#include "processing/frame_processor.h"
#include "recording/record_sink.h"

namespace ulmora {

constexpr uint64_t kNoSequence = UINT64_MAX;

// One delivered buffer as the capture graph sees it: no media-framework types cross into the session.
struct Sample {
  const uint8_t* data = nullptr;  // null: a sample without a buffer (ignored)
  int32_t length = 0;             // bytes of valid data
  int32_t stride = 0;             // bytes per source row; 0: the format's default (rows padded to 4 bytes)
  uint64_t sequence = kNoSequence;  // the source's number for the buffer (a camera's driver sequence)
  // Live graphs: the buffer's time on the pipeline clock (its running time plus the base time), and
  // the latest pair of that clock and the realtime clock read next to each other; -1 when unknown.
  int64_t clockNs = -1;
  int64_t anchorClockNs = -1;
  int64_t anchorUtcNs = 0;
};

// One recording's state, for status displays and summaries.
struct RecordingFileStatus {
  std::string path;                // as asked
  std::vector<std::string> files;  // the files finished (after StopRecording)
  std::string sidecar;
  uint64_t frames = 0;
  uint64_t bytes = 0;
  DropCounts drops;
  int endError = 0;  // the errno a write failed with; 0 while it goes well
  std::string endCause;
};

// The recordings of a session as a whole.
struct RecordingStatus {
  bool active = false;  // StartRecording succeeded and StopRecording was not called yet
  double elapsedS = 0.0;
  uint64_t frames = 0;  // pictures written, all recordings
  uint64_t bytes = 0;
  DropCounts drops;  // all recordings
  int endError = 0;  // the first failure's errno (that recording stopped), else 0
  std::string endCause;
  std::vector<RecordingFileStatus> recordings;
};

// The frame path's running counts, for status displays and status files. The streaming thread writes
// them; any thread reads.
struct FrameCounters {
  std::atomic<uint64_t> framesIn{0};
  std::atomic<uint64_t> droppedCamera{0};  // gaps in the source's sequence numbers
  std::atomic<uint64_t> droppedChain{0};   // short samples and frames the time delay left out
  std::atomic<uint64_t> droppedWriter{0};  // pictures a recording's full queue could not take
  std::atomic<int64_t> lastUtcNs{0};       // UTC of the last frame, ns since 1970; 0 before the first
  std::atomic<uint64_t> lastSequence{kNoSequence};
};

// Streaming thread: what a frame's time and number are worked out from.
struct StampState {
  std::atomic<int64_t> runStartUtcNs{0};  // set when the graph starts; a file's frames count from it
  std::atomic<int32_t> bRestart{1};       // set when the graph starts: numbering begins anew
  uint64_t nextIndex = 0;                 // frames since the run started
  uint64_t lastSequence = kNoSequence;
  int64_t anchorOffsetNs = 0;  // realtime minus pipeline clock, at the last anchor
  bool anchored = false;
  // Stamps of the frames that went into sums, so a finished sum knows its first frame.
  static constexpr int kRing = 257;
  FrameStamp ring[kRing];
  uint32_t ringNext = 0;
};

class CRecordWriter;
struct RecordingSet;

// One piece of the parsed capture-name template.
enum NameTokenKind : uint32_t {
  kTokenEnd = 0,     // ends the list
  kTokenText = 1,    // literal text inside the template
  kTokenSource = 2,  // the source name
  kTokenNone = 3,    // "%d": expands to nothing
  kTokenTime = 4,    // stream time in milliseconds, "%7.7u"
  kTokenFrame = 5,   // frame number from 1, "%5.5u"
};

struct NameToken {
  uint32_t kind = kTokenEnd;
  int32_t length = 0;          // characters, kinds 1 and 2
  const char* text = nullptr;  // into the template (kind 1) or the source name (kind 2)
};

constexpr int kNameTokenSlots = 9;
constexpr size_t kTextSize = kMaxPath;  // every text buffer of the session
constexpr int kMaxWorkDirLen = 245;     // longer directories are refused

// Everything a capture-file name is built from, parsed on the GUI thread and never changed after it is
// published: the streaming thread names each file from one record, old or new, never a mix.
struct NameTemplate {
  char dir[kTextSize] = {};  // the capture directory with its '/', or empty
  int32_t dirLen = 0;
  char format[kTextSize] = {};        // the template as kept
  char source[kTextSize] = {};        // the source name for "%n"
  NameToken tokens[kNameTokenSlots];  // texts point into format and source above
};

enum RunState : int32_t { kRunStopped = 0, kRunPaused = 1, kRunRunning = 2 };
enum SourceKind : int { kSourceDevice = 0, kSourceFile = 1 };

// Millisecond clock and sleep used by the pacing; replaceable so the pacing arithmetic can be checked
// without waiting. Null restores the steady clock and a real sleep.
using PacingClockFn = uint32_t (*)();
using PacingSleepFn = void (*)(uint32_t ms);
void SetPacingClock(PacingClockFn now, PacingSleepFn sleep);

// One capture run. The GUI thread starts and stops it and sets its numbers; the streaming thread counts
// the frames it writes and skips and ends the run when it has them all or a write failed. Numbers the
// streaming thread reads are atomics.
struct CaptureRun {
  std::atomic<int32_t> bCapture{0};
  std::atomic<uint32_t> nCapCount{1};
  std::atomic<uint32_t> nCaptured{0};
  std::atomic<int32_t> nSkipLeft{0};
  std::atomic<uint32_t> nFramesDelay{0};
  std::atomic<int32_t> nDelayMs{0};  // may be recomputed on the streaming thread (automatic mode)
  uint32_t nCapTotal = 0;            // GUI thread: frames of the runs before this one
  // Why the streaming thread ended the run: the errno of the picture it could not write (ENOSPC also
  // when the free-space margin was reached); 0 while nothing failed. Cleared when a run starts.
  std::atomic<int32_t> nWriteError{0};
  std::atomic<uint32_t> nRenamed{0};          // pictures written under a numbered name, the planned one taken
  std::atomic<uint64_t> nKeepFreeBytes{0};    // GUI thread sets; space the run leaves free beyond its margin
};

// GUI thread: the texts the name records are parsed from. They reach the streaming thread only as a
// published NameTemplate.
struct NameTexts {
  char* szWorkDir = nullptr;  // program-wide, shared by both sessions
  int32_t nWorkDirLen = 0;
  char* szFormat = nullptr;  // program-wide, shared by both sessions
  char szSource[kTextSize] = {};
};

// Streaming thread: the file being written and the pacing. The GUI thread touches only the two atomics,
// before a run starts.
struct StreamState {
  char szPath[kTextSize] = {};
  char* pName = szPath;         // first character after the directory in szPath
  BitmapFileHeader bfhCapture;  // its size is filled in for each file
  // Set before a run; the chain clears it when the first sum is complete, and capture waits for that.
  std::atomic<int32_t> bFirstSum{0};
  // nStartTick 0 = the next frame sets the origin.
  std::atomic<uint32_t> nStartTick{0};
  int32_t nPeriodMs = 0;
  double dMsPerUnit = 0.0;
  double dTimeOffset = 0.0;
};

// The agreed format: set while the graph is built (graph not running), read by the frame path.
struct VideoFormat {
  uint32_t fccSubtype = 0;  // kFourccYUY2, or 0 for BGR
  int32_t nVideoWidth = 0;
  int32_t nVideoHeight = 0;
  MediaType mtConnected;
  std::atomic<double> dFrameRate{kDefaultFrameRate};
};

// The session's switches.
struct SessionModes {
  int32_t bActive = 0;                          // GUI thread
  int32_t bLiveSource = 0;                      // set while the graph is built
  std::atomic<int32_t> nRunState{kRunStopped};  // written by the graph's run control
  std::atomic<int32_t> bViewLive{1};            // GUI thread; the frame path reads it
  std::atomic<int32_t> bPacing{1};
};

// Final: its destructor is not virtual, and sessions are deleted as CSG.
class CSG final : public IProcOwner {
 public:
  // Reads the session's keys (and, through the processor, the processor's).
  CSG();
  // Writes the keys when the session is active.
  ~CSG();
  CSG(const CSG&) = delete;
  CSG& operator=(const CSG&) = delete;

  // --- streaming thread ---
  // The frame path for one buffer; SampleTime is the buffer's stream time in seconds. Always returns 0.
  int SampleCB(double sampleTime, const Sample* sample);
  // Registered for SampleCB only: does nothing.
  int BufferCB(double sampleTime, const uint8_t* buffer, long length);

  // --- GUI thread: recordings ---
  // GUI/main thread. Opens every recording (all or none); 0 ok, else errno with `error` a sentence for a person.
  int StartRecording(const std::vector<RecordOptions>& recordings, std::string& error);
  // Closes every file whole; waits for the writer to drain. Safe to call when not recording.
  void StopRecording();
  // A snapshot for status displays and summaries, any time from the GUI/main thread. After
  // StopRecording it keeps the last recordings' final numbers.
  RecordingStatus Recording() const;
  // The frame path's counts (any thread).
  const FrameCounters& FrameCounts() const { return counts_; }

  // --- GUI thread ---
  // Capture directory; null re-applies the current one. 1 ok, 0 refused (nothing changes).
  int SetWorkDir(const char* dir);
  // Capture-name template (at most 259 characters kept), parsed at once.
  void SetCapFormat(const char* text);
  // Source name for "%n": a device name (kSourceDevice) or a file path (kSourceFile); parsed at once.
  void SetSourceName(const char* text, int kind);
  // Parses directory, template and source name into a new record and publishes it: the next file
  // written is named by it.
  void ParseNameTemplate();

  // --- streaming thread (or a test's only thread) ---
  // Writes the next capture file's path into szPath from the record in force; pName points behind the
  // directory.
  void BuildCaptureName(double sampleTime);

  // Sizes the frames for the agreed format (signed as in the video header); 1 ok, 0 failed.
  int SetVideoSize(int32_t w, int32_t h);
  // Below 1.0 (or not a number) becomes 29.97; the processor gets the same rate.
  void SetFrameRate(double fps);
  double GetFrameRate() const { return format_.dFrameRate.load(); }
  void SetLiveSource(bool live) { modes_.bLiveSource = live ? 1 : 0; }
  // The graph's connected type and the subtype the frame path converts from (graph not running).
  void SetMediaType(const MediaType& mt) { format_.mtConnected = mt; }
  void SetSubtype(uint32_t fourcc) { format_.fccSubtype = fourcc; }
  // Empties mtConnected.
  void FreeMediaType();

  // Returns the previous bCapture; starting resets this run's counters.
  int StartCapture(int on);
  // Goes on with a run that a lost device interrupted, its numbering and counters as they were.
  int ResumeCapture() { return run_.bCapture.exchange(1); }
  void SetFramesDelay(uint32_t n);
  void UpdateDelayMs();
  // Just before the graph runs: restarts the processor, the pacing origin and the first sum.
  void RequestReprocess();
  void SetCapCount(uint32_t n) { run_.nCapCount = n; }
  // Space a capture run leaves free on the folder's file system, beyond a margin of a few pictures.
  void SetKeepFree(uint64_t bytes) { run_.nKeepFreeBytes.store(bytes); }
  // Vertical flip of the processor and of both frames.
  void SetFlip(bool flip);
  // The session's part of choosing the active source: its keys, the processor's and "ViewMode" are
  // written on exit only from the active session.
  void SetActive(bool active);
  // Pacing holds a file back to its nominal rate; headless runs switch it off.
  void SetPacing(bool on) { modes_.bPacing.store(on ? 1 : 0); }
  // The live window shows frames only while this is on.
  void SetViewLive(bool on) { modes_.bViewLive.store(on ? 1 : 0); }
  // The graph's run control; a pacing wait ends when the state leaves kRunRunning.
  void SetRunState(RunState state) { modes_.nRunState.exchange(state); }
  // The processor's output rate changed: the capture interval in milliseconds follows.
  void OnOutRateChanged() override { UpdateDelayMs(); }

  CFrameProcessor& Processor() { return *pProc; }
  // The display views the windows draw: the live frame and the processed frame (owned by the processor).
  CDibFrame& FrLive() { return frLive; }
  const CDibFrame& FrLive() const { return frLive; }
  CDibFrame& FrProc();
  // GUI thread: the processor's message window and processed view, and the live view, get their windows.
  void AttachWindows(IWindow* msgWindow, IWindow* liveWindow, IWindow* procWindow);
  // GUI thread: both views let go of their windows (the message window stays).
  void DetachWindows();
  // GUI thread: both views fit themselves to their windows' sizes again.
  void UpdateLayouts();

  // Read-outs for the GUI thread.
  const char* WorkDir() const { return texts_.szWorkDir; }
  const char* CapFormat() const { return texts_.szFormat; }
  const char* SourceName() const { return texts_.szSource; }
  // The tokens of the record in force.
  const NameToken* Tokens() const;
  // Replaced name records the frame path may still hold.
  size_t RetiredNameRecords() const { return naming_.RetiredCount(); }
  // The name built last; streaming thread (or a test's only thread).
  const char* Path() const { return stream_.szPath; }

  // Read-outs of the records; change them through the setters above.
  const CaptureRun& Capture() const { return run_; }
  const NameTexts& Names() const { return texts_; }
  const StreamState& Stream() const { return stream_; }
  const VideoFormat& Format() const { return format_; }
  const SessionModes& Modes() const { return modes_; }

 private:
  // False when the sample cannot make a frame (ignored).
  bool CopyIntoLive(const Sample& s);
  void CopyLiveToProc();
  void CaptureFrame(double sampleTime);
  // The graph starts: frames are numbered and timed from now.
  void RestartStamps();
  // The frame's time and number; counts the frames the camera lost before it.
  FrameStamp StampFrame(double sampleTime, const Sample& s, uint64_t& cameraGap);
  void NoteSumFrame(const FrameStamp& stamp);
  FrameStamp SumStamp(int32_t frames, const FrameStamp& last) const;
  PictureSettings CurrentSettings() const;
  // The recordings the frame path hands pictures to: held for one frame, or null.
  RecordingSet* EnterRecording();
  void LeaveRecording();
  void RecordRaw(RecordingSet& set, const FrameStamp& stamp);
  void RecordFinished(RecordingSet& set, const FrameStamp& stamp, bool finishedSum);
  void AddChainDrop(RecordingSet* set, bool rawToo);
  void NoteCameraDrops(RecordingSet& set, uint64_t frames);
  void Pace(double sampleTime);
  void SyncSharedTexts();
  // Splits rec.format into tokens pointing into rec; edits the text as the template is kept.
  static void ParseTokens(NameTemplate& rec);

  // Tests stand in for the streaming thread and for the other session through this door.
  friend struct SessionAccess;

  CaptureRun run_;
  NameTexts texts_;
  StreamState stream_;
  VideoFormat format_;
  SessionModes modes_;
  CDibFrame frLive;

  std::unique_ptr<CFrameProcessor> pProc;
  CPublished<NameTemplate> naming_;
  uint32_t nSharedSeen = 0;              // change count of the shared texts when this session last applied them
  std::atomic<int32_t> bShortWarned{0};  // a short sample was reported for this format

  FrameCounters counts_;
  StampState stamps_;  // streaming thread, but runStartUtcNs
  // The recordings in force: the GUI thread swaps the pointer; the frame path holds it for one frame
  // and says so in recordingUsers_, so StopRecording knows when no frame uses the old set any more.
  std::atomic<RecordingSet*> recording_{nullptr};
  std::atomic<int32_t> recordingUsers_{0};
  std::unique_ptr<RecordingSet> recordingOwned_;  // GUI thread
  RecordingStatus recordingFinished_;             // GUI thread: the last recordings' final numbers
};

}  // namespace ulmora
