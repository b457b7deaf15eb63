#include "devices/control_worker.h"

#include <cerrno>
#include <map>
#include <linux/videodev2.h>

#include "common/log.h"
#include "devices/v4l2_describe.h"
#include "devices/v4l2_query.h"

namespace ulmora {

namespace {

std::string Sentence(int err, const char* what) {
  if (err == ENODEV) return "The device is no longer connected.";
  return std::string("The device did not accept ") + what + ": " + V4l2ErrorText(err) + ".";
}

}  // namespace

// What each control was queried as, by id.
struct CControlWorker::QueryCache {
  std::map<uint32_t, v4l2_query_ext_ctrl> byId;
};

CControlWorker::CControlWorker(V4l2NodeRef node)
    : node_(std::move(node)), queries_(std::make_unique<QueryCache>()), thread_([this] { Run(); }) {}

CControlWorker::~CControlWorker() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    bStopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void CControlWorker::Set(uint32_t nId, int64_t nValue) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    bool bFound = false;
    for (auto& [id, value] : sets_)
      if (id == nId) {
        value = nValue;
        bFound = true;
      }
    if (!bFound) sets_.emplace_back(nId, nValue);
  }
  wake_.notify_one();
}

void CControlWorker::Describe() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    bDescribe_ = true;
  }
  wake_.notify_one();
}

void CControlWorker::Reset() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    bReset_ = true;
    sets_.clear();  // values asked for before Default are overtaken by it
  }
  wake_.notify_one();
}

bool CControlWorker::Pending(uint32_t nId) const {
  std::lock_guard<std::mutex> lock(lock_);
  if (nSending_ == nId || bReset_) return true;
  for (const auto& s : sets_)
    if (s.first == nId) return true;
  return false;
}

void CControlWorker::Drain() {
  std::unique_lock<std::mutex> lock(lock_);
  idle_.wait(lock, [this] { return !bBusy_ && sets_.empty() && !bDescribe_ && !bReset_; });
}

std::vector<ControlOutcome> CControlWorker::TakeOutcomes() {
  std::lock_guard<std::mutex> lock(lock_);
  std::vector<ControlOutcome> out;
  out.swap(outcomes_);
  return out;
}

uint64_t CControlWorker::Requests() const {
  std::lock_guard<std::mutex> lock(lock_);
  return nRequests_;
}

void CControlWorker::Run() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    wake_.wait(lock, [this] { return bStopping_ || !sets_.empty() || bDescribe_ || bReset_; });
    if (sets_.empty() && !bDescribe_ && !bReset_) return;  // stopping, and nothing left to do
    bBusy_ = true;
    ControlOutcome outcome;
    // Default first (it overtakes every value asked before it), then values, then reading back.
    if (bReset_) {
      lock.unlock();
      outcome = ResetNow();
      lock.lock();
      bReset_ = false;
    } else if (!sets_.empty()) {
      const auto [nId, nValue] = sets_.front();
      sets_.erase(sets_.begin());
      nSending_ = nId;
      lock.unlock();
      outcome = SetNow(nId, nValue);
      lock.lock();
      nSending_ = 0;
      // Other controls may follow an automatic mode: read them all again.
      if (outcome.bUpdatesOthers) bDescribe_ = true;
    } else {
      bDescribe_ = false;
      lock.unlock();
      outcome = DescribeNow(ControlOutcome::Kind::kDescribe);
      lock.lock();
    }
    ++nRequests_;
    outcomes_.push_back(std::move(outcome));
    bBusy_ = false;
    idle_.notify_all();
  }
}

ControlOutcome CControlWorker::SetNow(uint32_t nId, int64_t nValue) {
  ControlOutcome o;
  o.kind = ControlOutcome::Kind::kSet;
  o.nId = nId;
  // Asked once per control: type and the flags that matter here do not change, so each later value
  // costs the one request that sets it.
  auto known = queries_->byId.find(nId);
  if (known == queries_->byId.end()) {
    v4l2_query_ext_ctrl q{};
    q.id = nId;
    o.err = V4l2QueryControl(*node_, &q);
    if (o.err == 0) known = queries_->byId.emplace(nId, q).first;
  }
  if (o.err == 0) o.err = V4l2SetQueriedControl(*node_, known->second, nValue, &o.nApplied);
  if (o.err != 0) {
    o.error = Sentence(o.err, "the value");
    LogPrintf("Controls: %08x = %lld on %s: %s", nId, static_cast<long long>(nValue), node_->Path().c_str(),
              V4l2ErrorText(o.err).c_str());
    return o;
  }
  o.bRememberable = IsRememberable(known->second);
  o.bUpdatesOthers = (known->second.flags & V4L2_CTRL_FLAG_UPDATE) != 0 || IsAutoModeControl(nId);
  return o;
}

ControlOutcome CControlWorker::DescribeNow(ControlOutcome::Kind kind) {
  ControlOutcome o;
  o.kind = kind;
  o.err = V4l2DescribeControls(*node_, &o.groups);
  if (o.err != 0) o.error = Sentence(o.err, "the control query");
  return o;
}

ControlOutcome CControlWorker::ResetNow() {
  bool bValueRefused = false;
  const int err = V4l2ResetControls(*node_, &bValueRefused);
  ControlOutcome o = DescribeNow(ControlOutcome::Kind::kReset);
  if (err != 0) {
    o.err = err;
    o.error = Sentence(err, bValueRefused ? "a default value" : "the control query");
  }
  return o;
}

}  // namespace ulmora
