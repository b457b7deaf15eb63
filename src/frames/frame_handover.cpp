#include "frame_handover.h"

#include <cstring>

namespace ulmora {

bool CFrameHandover::Publish(const CImageBuf& src, bool grey) {
  // A frame without a format (or with a broken one) is shown as no picture: the window draws black.
  const bool empty = !src.bits || src.width <= 0 || src.height <= 0 || src.stride <= 0 ||
                     static_cast<int64_t>(src.stride) * src.height > src.capacity;
  const int64_t bytes = empty ? 0 : static_cast<int64_t>(src.stride) * src.height;
  ShownPicture& slot = slots_[back_];
  if (bytes > slot.img.capacity) {
    AlignedBytes grown = MakeAlignedBytes(static_cast<size_t>(bytes));
    if (!grown) return false;  // short of memory: this picture is not shown, the last one stays
    slot.store = std::move(grown);
    slot.img.bits = slot.store.get();
    slot.img.capacity = static_cast<int32_t>(bytes);
  }
  // Whole rows, also those a short sample left out: the picture is the frame as it stands.
  if (bytes > 0) memcpy(slot.img.bits, src.bits, static_cast<size_t>(bytes));
  slot.img.width = empty ? 0 : src.width;
  slot.img.height = empty ? 0 : src.height;
  slot.img.stride = empty ? 0 : src.stride;
  slot.img.pad = empty ? 0 : src.pad;
  slot.img.size = static_cast<int32_t>(bytes);
  slot.grey = grey;
  slot.nSerial = ++nPublished_;
  // Release: the reader sees the slot whole. Acquire: the reader's last reads of the slot we get back
  // come before we write it again.
  back_ = middle_.exchange(static_cast<uint8_t>(back_ | kFresh), std::memory_order_acq_rel) & kIndexMask;
  return true;
}

const ShownPicture* CFrameHandover::Take() {
  if (middle_.load(std::memory_order_relaxed) & kFresh) {
    front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndexMask;
    bTaken_ = true;
  }
  return bTaken_ ? &slots_[front_] : nullptr;
}

}  // namespace ulmora
