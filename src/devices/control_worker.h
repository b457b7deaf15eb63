// The control requests of an open dialog, made on a thread of their own. A USB camera answers each
// as slowly as it likes (up to seconds) while a dragged slider passes many values a second: only the
// newest value of each control is sent, one request each, and the GUI thread never waits for the
// device. The GUI takes the outcomes when it likes (a timer) and shows what the device applied.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devices/controls_desc.h"
#include "devices/v4l2_node.h"

namespace ulmora {

struct ControlOutcome {
  enum class Kind { kSet, kDescribe, kReset };
  Kind kind = Kind::kSet;
  uint32_t nId = 0;           // kSet: the control set
  int64_t nApplied = 0;       // kSet: the value the device took (clamped, rounded, masked)
  bool bRememberable = false;  // kSet: a setting to keep, not an action or a value the device moves
  bool bUpdatesOthers = false;  // kSet: other controls may have changed with it
  int err = 0;                 // 0, or the errno value of the request that failed
  std::string error;           // a plain sentence when err is set
  std::vector<ControlGroupDescription> groups;  // kDescribe, kReset: every control as it is now
};

class CControlWorker {
 public:
  // node: a descriptor of the device's own, shared with nobody that streams.
  explicit CControlWorker(V4l2NodeRef node);
  // Makes the requests already asked for, then stops.
  ~CControlWorker();
  CControlWorker(const CControlWorker&) = delete;
  CControlWorker& operator=(const CControlWorker&) = delete;

  // Replaces a value of the same control not sent yet.
  void Set(uint32_t nId, int64_t nValue);
  // Reads every control again (what automatic modes or other programs changed).
  void Describe();
  // Every control back to its default: manual values before automatic modes, skipping what an
  // automatic mode rules once it is back.
  void Reset();
  // Whether a value of the control waits or is being sent.
  bool Pending(uint32_t nId) const;
  // Waits until nothing is asked for and nothing is being sent.
  void Drain();
  std::vector<ControlOutcome> TakeOutcomes();
  // Requests made on the device so far (set, describe or reset).
  uint64_t Requests() const;

 private:
  void Run();
  ControlOutcome SetNow(uint32_t nId, int64_t nValue);
  ControlOutcome DescribeNow(ControlOutcome::Kind kind);
  ControlOutcome ResetNow();

  V4l2NodeRef node_;
  struct QueryCache;
  std::unique_ptr<QueryCache> queries_;  // the worker thread's own
  mutable std::mutex lock_;
  std::condition_variable wake_, idle_;
  std::vector<std::pair<uint32_t, int64_t>> sets_;  // in the order first asked
  uint32_t nSending_ = 0;                           // the control being sent, 0 when none
  bool bDescribe_ = false, bReset_ = false, bBusy_ = false, bStopping_ = false;
  std::vector<ControlOutcome> outcomes_;
  uint64_t nRequests_ = 0;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace ulmora
