#include "graph/station_counters.h"

#include <chrono>

#include "graph/cap_graph.h"

namespace ulmora {

int64_t UtcNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

StationCounters CStationCounterReader::Read(CCapGraph& graph, const StationCounters& earlier) {
  StationCounters c = earlier;
  const uint64_t source = graph.SourceFrames();
  const uint64_t delivered = graph.Grabber() ? graph.Grabber()->FramesDelivered() : 0;
  c.framesIn += source;
  c.droppedCamera += graph.SourceDroppedFrames();
  c.droppedChain += source > delivered ? source - delivered : 0;
  // Pictures of every capture run of the session, the reconnects' included.
  const CaptureRun& run = graph.Session().Capture();
  c.picturesWritten = run.nCapTotal + run.nCaptured.load();
  // The session lives as long as the graph object, through every reconnect: its own counts are totals
  // already, taken as they are rather than added to earlier.
  const FrameCounters& session = graph.Session().FrameCounts();
  c.droppedWriter = session.droppedWriter.load(std::memory_order_relaxed);
  if (const int64_t utcNs = session.lastUtcNs.load(std::memory_order_relaxed); utcNs > 0) {
    c.lastFrameUtcMs = utcNs / 1'000'000;
    return c;
  }
  // No frame time yet: when the frame count was last seen to move.
  if (c.framesIn != lastFrames_) {
    lastFrames_ = c.framesIn;
    lastFrameUtcMs_ = UtcNowMs();
  }
  c.lastFrameUtcMs = lastFrameUtcMs_;
  return c;
}

}  // namespace ulmora
