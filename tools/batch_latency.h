// ulmora-batch --latency: the time from a live frame's timestamp to the end of its frame callback,
// measured on the pipeline clock. Sits in front of the session's callback.
#pragma once

#include <atomic>
#include <cstdio>
#include <vector>

#include "graph/cap_graph.h"

namespace ulmora::batch {

class CLatencyProbe {
 public:
  // Registers itself as the graph's callback (handing every sample on to the session).
  void Attach(CCapGraph& graph);
  // "latency: N frames, median M ms, 99th percentile P ms, max X ms (frame period T ms)".
  void Report(FILE* out, double framePeriodMs) const;

 private:
  static int Thunk(void* self, double sampleTime, const Sample* sample);

  CSG* session_ = nullptr;
  GstElement* pipeline_ = nullptr;
  double offset_ = 0.0;  // the grabber's offset of sample times from the pipeline's running time
  std::vector<double> ms_ = std::vector<double>(1 << 18, 0.0);  // filled by the streaming thread only
  std::atomic<size_t> count_{0};
};

}  // namespace ulmora::batch
