// One recording's writer: its own thread writes the pictures the streaming thread hands over through a
// bounded queue, into the recording's sink and sidecar.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recording/free_space_guard.h"
#include "recording/record_sink.h"
#include "recording/sidecar_csv.h"

namespace ulmora {

// Frames of queue a recording gets: about a second's worth.
uint32_t RecordQueueDepth(double picturesPerSecond);

class CRecordWriter {
 public:
  // Opens the recording's sink (by the path's extension) and sidecar and starts the thread; null with
  // `error` (and `err`, an errno) when the recording cannot be made. GUI thread.
  static std::unique_ptr<CRecordWriter> Open(const RecordOptions& options, uint32_t queueDepth, int& err,
                                             std::string& error);
  ~CRecordWriter();
  CRecordWriter(const CRecordWriter&) = delete;
  CRecordWriter& operator=(const CRecordWriter&) = delete;

  // --- streaming thread ---
  // Copies the picture into the queue and returns at once. A full queue leaves it out and counts a
  // writer drop, carried by the next picture that gets in; after a failed write nothing is taken.
  bool Offer(const RecordPicture& picture);
  // Frames lost upstream: counted at once, and carried by the next picture into the sidecar.
  void AddDrops(uint64_t camera, uint64_t chain) {
    pendingCamera_ += camera;
    pendingChain_ += chain;
    if (camera) dropsCamera_.fetch_add(camera, std::memory_order_relaxed);
    if (chain) dropsChain_.fetch_add(chain, std::memory_order_relaxed);
  }

  // --- GUI thread ---
  // Writes what is queued, closes every file whole and joins the thread. 0, or the errno the recording
  // ended with (then EndCause says why).
  int Close();
  // Stops a recording that has been given nothing yet and removes its files (a start that failed).
  void Discard();
  // The files finished, once closed.
  const std::vector<std::string>& Files() const { return files_; }

  // --- any thread ---
  const RecordOptions& Options() const { return options_; }
  uint64_t Frames() const { return frames_.load(std::memory_order_relaxed); }
  uint64_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }
  DropCounts Drops() const;
  // 0 while the recording runs well; the errno a write failed with.
  int EndError() const { return endError_.load(std::memory_order_acquire); }
  // Why the recording ended (set once, before EndError turns non-zero).
  std::string EndCause() const { return EndError() != 0 ? endCause_ : std::string(); }
  const std::string& SidecarPath() const { return sidecarPath_; }

 private:
  struct Slot {
    std::vector<uint8_t> pixels;
    RecordPicture picture;
  };

  CRecordWriter(const RecordOptions& options, uint32_t depth);
  void Run();
  // Lets the thread write what is queued, then joins it.
  void StopThread();
  void Fail(int err, const std::string& cause);
  static void CopyPixels(const RecordPicture& from, Slot& to);

  RecordOptions options_;
  std::unique_ptr<IRecordSink> sink_;  // writer thread, once started
  CFreeSpaceGuard guard_;              // writer thread
  CSidecarCsv sidecar_;                // writer thread, once started
  std::string sidecarPath_;
  std::vector<Slot> slots_;
  std::atomic<uint64_t> head_{0};  // pictures queued (streaming thread)
  std::atomic<uint64_t> tail_{0};  // pictures taken (writer thread)
  std::atomic<uint32_t> wake_{0};
  std::atomic<bool> stop_{false};
  // Streaming thread only.
  uint64_t pendingCamera_ = 0, pendingChain_ = 0, pendingWriter_ = 0;

  std::atomic<uint64_t> frames_{0}, bytes_{0};
  std::atomic<uint64_t> dropsCamera_{0}, dropsChain_{0}, dropsWriter_{0};
  std::atomic<int> endError_{0};
  std::string endCause_;  // written once by whichever thread fails first, before endError_
  std::atomic<bool> causeTaken_{false};
  std::vector<std::string> files_;
  std::thread thread_;
  bool closed_ = false;
};

}  // namespace ulmora
