// The one place where a live graph's session counters become a station's status counters.
#pragma once

#include "graph/station_status.h"

namespace ulmora {

class CCapGraph;

// Frames, pictures and drops of the current graph, added to earlier (the graphs a reconnect replaced);
// the writer's drops and the last frame's UTC time are the session's own. Call it on one thread, about
// once a second.
class CStationCounterReader {
 public:
  StationCounters Read(CCapGraph& graph, const StationCounters& earlier);

 private:
  uint64_t lastFrames_ = 0;
  int64_t lastFrameUtcMs_ = -1;
};

// Unix milliseconds of the realtime clock.
int64_t UtcNowMs();

}  // namespace ulmora
