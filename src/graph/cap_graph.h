// CCapGraph: one graph object (file or live) over a GStreamer pipeline, with its grabber session.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/window.h"
#include "graph/grabber.h"
#include "gst/gst_ref.h"
#include "common/hresult.h"
#include "graph/pins.h"
#include "pipeline/sg.h"

namespace ulmora {

class CDeviceList;

// What a bounded wait on the graph's events saw.
enum class GraphEvent { kNone, kEndOfStream, kError };

class CCapGraph {
 public:
  // Reads "ActivateGraph" and "TouchGraph"; every slot starts empty.
  CCapGraph();
  // Tears a remaining graph down; the active instance writes its two keys.
  ~CCapGraph();
  CCapGraph(const CCapGraph&) = delete;
  CCapGraph& operator=(const CCapGraph&) = delete;

  // --- file playback ---
  // The entry with the retry: manual first, then automatic.
  HRESULT BuildFileGraph(const char* fileName);
  // One attempt; the graph slot must be empty.
  HRESULT MakeFileGraph(const char* fileName);

  // --- live capture ---
  // The entry with the retry: automatic first, then pin by pin.
  HRESULT BuildCaptureGraph();
  // One attempt; the graph slot must be empty.
  HRESULT MakeCaptureGraph();
  // The device list whose current device the live graph binds; it must outlive every build. Null: no
  // device is listed.
  void SetDeviceList(CDeviceList* devices) { devices_ = devices; }
  // Binds the chosen device (else the first listed one that opens) into the source slot.
  void InitCapFilter();
  // GUI thread, on kMsgGraphNotify (or polling, waiting up to waitMs): takes the graph's pending end or
  // error. A live graph's error is told to the person in one sentence (GStreamer's detail goes to the
  // log); the capture run ends, keeping every file it finished, and the graph stops.
  GraphEvent HandleGraphNotify(uint32_t waitMs = 0);
  // The next live graphs' sample times go on after the last frame this one delivered, so a capture run
  // that goes on after a reconnect keeps counting its frame numbers and times instead of reusing them.
  void ContinueTimeline();
  // Frames the live source sent into the graph, and the ones it dropped because the chain was late.
  uint64_t SourceFrames() const { return nSourceFrames_.load(); }
  uint64_t SourceDroppedFrames() const;

  // --- run state ---
  HRESULT RunGraph();
  HRESULT StopGraph();
  HRESULT PauseGraph();
  // Graph events are posted to the window as kMsgGraphNotify (null: no more posts).
  HRESULT SetGraphNotifyWindow(IWindow* window);
  HRESULT DetachVideoWindow();
  void DestroyGraph();

  // --- accessors for the main window and tools ---
  bool HasGraph() const { return graph_ != nullptr; }
  // Why the last build failed, in words for a person (no video stream, a decoder missing, the device's
  // own error...); empty when it is not known or the build worked.
  const std::string& FailureCause() const { return failureCause_; }
  // Streaming thread (the file decoder's "unknown-type"): notes the first type nothing decodes.
  void NoteUnknownType(GstCaps* caps);
  int32_t RunState() const { return sg.Modes().nRunState.load(); }
  void SetActive(bool active);
  CSG& Session() { return sg; }
  CGrabber* Grabber() const { return grabber_.get(); }
  GstElement* Pipeline() const { return graph_.get(); }
  // Waits up to timeoutMs for the end of the stream or an error (logged); GUI thread.
  GraphEvent WaitGraphEvent(uint32_t timeoutMs);
  // Length of the last built file: seconds and frames, 0 when unknown.
  double DurationSeconds() const { return dDurationSec_; }
  int64_t DurationFrames() const { return nDurationFrames_; }

  int32_t bAutoRender = 1;
  int32_t bActivateGraph = 0;
  int32_t bTouchGraph = 1;
  int32_t bActive = 0;

  // Longest wait for any one state change, preroll or seek.
  static constexpr uint32_t kStateTimeoutMs = 10000;

 private:
  std::string FileFailureCause() const;
  // The shared tail of reading the agreed type into the session (steps 1 to 5).
  HRESULT ReadConnectedFormat(const NegotiationTexts& texts);
  // Media-control and seeking primitives.
  HRESULT CtlRun();
  HRESULT CtlPause();
  HRESULT CtlStop();
  HRESULT CtlStopWhenReady();
  HRESULT SeekToStart();
  HRESULT WaitState(const char* what);
  // Waits for a cue that HoldCued armed; a finished one keeps its frame for the next CtlRun.
  HRESULT AwaitCue(const char* what);
  void ForgetCue();
  HRESULT LoadFile(const char* fileName);
  // The "framerate" fraction of the grabber's connected caps; 0/1 when they carry none.
  struct CapsRate {
    int num = 0;
    int den = 1;
  };
  CapsRate ConnectedCapsRate() const;

  // Steps of MakeFileGraph, in order; each reports its own failure.
  HRESULT CreateFilePipeline();
  HRESULT AddFileReader(const char* fileName);
  HRESULT AddFileGrabber();
  HRESULT ConnectFileGrabber();
  HRESULT RenderFileGrabber();  // the automatic attempt's half of ConnectFileGrabber
  HRESULT AttachFileSession(const CapsRate& rate);
  HRESULT CueFirstFrame();
  void ReadFileLength(const CapsRate& rate);
  void TouchFileGraph();

  // Steps of MakeCaptureGraph, in order; each reports its own failure.
  HRESULT CreateCapturePipeline();
  HRESULT AddCaptureGrabber();
  HRESULT ConnectCaptureManually();
  HRESULT RenderCaptureAutomatically();
  // One subtype set on the grabber: the four render forms in turn until one succeeds.
  HRESULT RenderAnyLiveForm(GstElement* renderer);
  void AttachCaptureSession(const CapsRate& rate);
  HRESULT StartCaptureControl();
  void InstallBusHandler();
  static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* msg, gpointer self);
  // Waits up to ms for the graph's end of stream or error and takes it off the bus; null when none came.
  GstRef<GstMessage> PopGraphEvent(uint32_t ms);
  static int SampleThunk(void* session, double sampleTime, const Sample* sample);
  // Live graph: one of the four ways of rendering the device's stream (0..3), as the capture pin or the
  // preview pin with video or interleaved video; the chain is complete and negotiated when it succeeds.
  HRESULT RenderLiveStream(int form, GstElement* renderer);
  // offer: the caps the output pad reports now.
  HRESULT LinkLiveToGrabber(GstPad* output, GstRef<GstCaps> offer);
  void UndoLiveLinks(GstPad* output, GstElement* renderer);
  // Lets the device negotiate (PAUSED) and returns to READY: busy and unusable formats fail here.
  HRESULT ConfirmLiveFormat();
  void WatchSourceFrames();
  static GstPadProbeReturn OnSourceBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  // Slots, released in reverse order of declaration.
  GstRef<GstElement> graph_;    // the pipeline
  GstRef<GstObject> builder_;   // live graph only
  GstRef<GstBus> event_;        // graph events
  GstRef<GstElement> control_;  // run control over the pipeline; a graph without it counts as not built
  GstRef<GstElement> seeking_;  // file graph only
  GstRef<GstElement> source_;   // live graph only
  std::unique_ptr<CGrabber> grabber_;

  // The file loader's decoder and the pads it exposed (held back until the graph is complete).
  GstRef<GstElement> decoder_;
  std::atomic<int32_t> bPadsDone_{0};
  // Steady-clock milliseconds of the file reader's last delivery, written by the streaming thread: a
  // reader that has gone quiet with no stream found will find none.
  std::atomic<int64_t> nReaderActiveMs_{0};
  // The first stream type the file's decoder found no decoder for: written once by a streaming thread
  // (0 free, 1 being written, 2 written), read by the building thread.
  std::atomic<int32_t> nUnknownTypeState_{0};
  char szUnknownType_[96] = {};
  std::string failureCause_;
  std::atomic<int32_t> bStoppedCtl_{1};  // stopped (cued), as opposed to paused
  bool bCued_ = false;                    // GUI thread: the graph stands on a finished cue
  std::atomic<IWindow*> notify_{nullptr};
  std::vector<GstElement*> liveInserted_;  // converters and decoders of the live graph (the graph owns them)
  std::atomic<uint64_t> nSourceFrames_{0};
  std::atomic<uint64_t> nSourceGaps_{0};  // sequence numbers the source skipped
  std::atomic<uint64_t> nLastOffset_{GST_BUFFER_OFFSET_NONE};
  double dDurationSec_ = 0.0;
  double dLiveTimeBase_ = 0.0;  // GUI thread: offset of the next live grabber's sample times
  int64_t nDurationFrames_ = 0;
  CDeviceList* devices_ = nullptr;  // not owned

 public:
  // The embedded grabber session; declared last so that it goes first.
  CSG sg;
};

// The rate to use for a file: the caps' exact fraction when the measured length agrees with it to within
// half a frame, else frames / seconds. Exposed so the rule can be checked on its own.
double RefineFileRate(double currentRate, int capsNum, int capsDen, double seconds, int64_t frames);
// 10,000,000 / avgTimePerFrame, or the caps' exact fraction when that is what the 100-ns period was rounded from.
double ExactFormatRate(int num, int den, int64_t avgTimePerFrame);

}  // namespace ulmora
