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
  // The session has no count of pictures the writer lost: a failed write ends its run instead.
  if (c.framesIn != lastFrames_) {
    lastFrames_ = c.framesIn;
    lastFrameUtcMs_ = UtcNowMs();
  }
  c.lastFrameUtcMs = lastFrameUtcMs_;
  return c;
}

}  // namespace ulmora
