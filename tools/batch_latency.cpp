#include "batch_latency.h"

#include <algorithm>

namespace ulmora::batch {

void CLatencyProbe::Attach(CCapGraph& graph) {
  session_ = &graph.Session();
  pipeline_ = graph.Pipeline();
  offset_ = graph.Grabber()->TimeOffset();
  graph.Grabber()->SetCallback(&CLatencyProbe::Thunk, this);
}

int CLatencyProbe::Thunk(void* self, double sampleTime, const Sample* sample) {
  auto* p = static_cast<CLatencyProbe*>(self);
  const int r = p->session_->SampleCB(sampleTime, sample);
  GstClock* clock = gst_element_get_clock(p->pipeline_);
  if (!clock) return r;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(p->pipeline_);
  const size_t i = p->count_.load(std::memory_order_relaxed);
  if (i < p->ms_.size() && now > base) {
    p->ms_[i] = (static_cast<double>(now - base) * 1e-9 - (sampleTime - p->offset_)) * 1e3;
    p->count_.store(i + 1, std::memory_order_release);
  }
  return r;
}

void CLatencyProbe::Report(FILE* out, double framePeriodMs) const {
  const size_t n = count_.load(std::memory_order_acquire);
  if (n == 0) return;
  std::vector<double> v(ms_.begin(), ms_.begin() + static_cast<std::ptrdiff_t>(n));
  std::sort(v.begin(), v.end());
  const auto at = [&v](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5))]; };
  std::fprintf(out, "latency: %zu frames, median %.2f ms, 99th percentile %.2f ms, max %.2f ms (frame period %.2f ms)\n",
               n, at(0.5), at(0.99), v.back(), framePeriodMs);
}

}  // namespace ulmora::batch
