// The sample grabber: a bin "Grabber" (capsfilter ! identity) whose per-buffer handoff runs on the
// streaming thread and hands each buffer to the registered callback with its stream time in seconds.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>

#include "gst/gst_ref.h"
#include "graph/media_names.h"
#include "pipeline/sg.h"

namespace ulmora {

// Called for every buffer that passes; must not block for long (the pacing waits at most a period).
using SampleFn = int (*)(void* context, double sampleTime, const Sample* sample);

class CGrabber {
 public:
  CGrabber();
  ~CGrabber();
  CGrabber(const CGrabber&) = delete;
  CGrabber& operator=(const CGrabber&) = delete;

  // The grabber behind a graph element, or null when the element is not one.
  static CGrabber* FromElement(GstElement* element);

  // False when the element could not be made.
  bool Created() const { return bin_ != nullptr; }
  GstElement* Element() const { return bin_.get(); }

  // The type the next connection must agree to (caps of a negotiation step). Once the input is connected
  // the connection keeps its format; the new type only decides whether the output can connect.
  int SetMediaType(const GstCaps* caps);
  // What the input accepts (the type set), and what the output can offer (connected format restricted to
  // the type set; empty when they disagree, the type set when the input is not connected).
  GstCaps* NewInputCaps() const;
  GstCaps* NewOutputCaps() const;
  // The input was linked: the format is fixed to these caps from now on.
  void OnInputConnected(GstCaps* fixedCaps);

  // The format agreed on the input; false when not connected.
  bool GetConnectedMediaType(CapsMediaType& out) const;
  const GstCaps* ConnectedCaps() const { return connected_.get(); }

  // Registers the per-buffer callback (null fn: none). Removing it waits until a callback in progress has
  // returned, so no buffer reaches the old target afterwards; the wait is bounded by timeoutMs.
  bool SetCallback(SampleFn fn, void* context, uint32_t timeoutMs = 5000);
  // A cued frame, kept so that starting the graph can deliver it again without a flushing seek, which
  // would read, demux and decode the stream from the start once more. From HoldCued on, each buffer
  // that passes replaces the one kept before (a cue ends with the frame it stopped on).
  void HoldCued();
  void DropHeld();
  // Hands the kept buffer to the callback once more, on the calling thread, and lets it go; false when
  // none is kept. Only while no buffer can pass (a finished cue holds the streaming thread at the sink).
  bool ReplayHeld();
  // Seconds added to every buffer's stream time before the callback sees it (set before the graph
  // runs); the time of the last buffer handed on, with the offset, -1 before the first.
  void SetTimeOffset(double seconds) { dTimeOffset_.store(seconds); }
  double TimeOffset() const { return dTimeOffset_.load(); }
  double LastSampleTime() const { return dLastTime_.load(); }
  // Buffers handed to a callback since the grabber was made.
  uint64_t FramesDelivered() const { return nDelivered_.load(); }

 private:
  static void OnHandoff(GstElement* identity, GstBuffer* buffer, gpointer self);
  void Deliver(GstBuffer* buffer);
  // The buffer's pipeline clock time and the latest clock/realtime pair, read again every few seconds.
  void StampClock(GstClockTime pts, Sample& s);

  GstRef<GstElement> bin_;
  GstRef<GstElement> filter_;  // capsfilter inside the bin
  GstRef<GstElement> tap_;     // identity inside the bin
  GstRef<GstCaps> typeSet_;
  GstRef<GstCaps> connected_;
  int32_t nStride_ = 0;  // bytes per row of the connected format (0 when unknown)
  std::atomic<SampleFn> fn_{nullptr};
  std::atomic<void*> context_{nullptr};
  std::atomic<int32_t> nInFlight_{0};
  std::atomic<uint64_t> nDelivered_{0};
  std::atomic<double> dTimeOffset_{0.0};
  std::atomic<double> dLastTime_{-1.0};
  std::atomic<bool> bHold_{false};
  std::atomic<GstBuffer*> held_{nullptr};
  static constexpr int64_t kAnchorRefreshNs = 3'000'000'000;
  std::atomic<int64_t> anchorAtNs_{0};  // steady clock
  std::atomic<int64_t> anchorClockNs_{-1};
  std::atomic<int64_t> anchorUtcNs_{0};
  gulong handoffId_ = 0;
};

}  // namespace ulmora
