// Hand-over of immutable records from one writer thread to one reader thread without a lock.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace ulmora {

// The writer (the GUI thread) publishes a new record with one atomic exchange; the reader (the
// streaming thread) holds the current record while it uses it, through a hazard slot. A replaced
// record is freed by the writer once the slot shows the reader no longer holds it, so the reader never
// waits and never frees anything. One reader thread at a time.
template <class T>
class CPublished {
 public:
  CPublished() = default;
  // Neither thread may use the records any more.
  ~CPublished() { delete current_.load(std::memory_order_acquire); }
  CPublished(const CPublished&) = delete;
  CPublished& operator=(const CPublished&) = delete;

  // --- writer ---
  void Publish(std::unique_ptr<T> record) {
    T* old = current_.exchange(record.release(), std::memory_order_seq_cst);
    if (old) retired_.emplace_back(old);
    Reclaim();
  }
  // The record in force; only the writer may look at it without holding it.
  const T* Current() const { return current_.load(std::memory_order_relaxed); }
  // Records replaced but perhaps still held (for tests).
  size_t RetiredCount() const { return retired_.size(); }

  // --- reader ---
  // Holds the current record (null when none was published) until Release.
  const T* Acquire() {
    T* r = current_.load(std::memory_order_seq_cst);
    for (;;) {
      hazard_.store(r, std::memory_order_seq_cst);
      // A record replaced before the slot showed it may already be gone: take the newer one.
      T* again = current_.load(std::memory_order_seq_cst);
      if (again == r) return r;
      r = again;
    }
  }
  void Release() { hazard_.store(nullptr, std::memory_order_release); }

  // Holds the current record for one scope of the reader.
  class Hold {
   public:
    explicit Hold(CPublished& p) : p_(p), record_(p.Acquire()) {}
    ~Hold() { p_.Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    const T* get() const { return record_; }
    const T* operator->() const { return record_; }

   private:
    CPublished& p_;
    const T* record_;
  };

 private:
  void Reclaim() {
    const T* held = hazard_.load(std::memory_order_seq_cst);
    std::erase_if(retired_, [held](const std::unique_ptr<T>& r) { return r.get() != held; });
  }

  std::atomic<T*> current_{nullptr};
  std::atomic<const T*> hazard_{nullptr};
  std::vector<std::unique_ptr<T>> retired_;  // writer only
};

}  // namespace ulmora
