#include "processor/plane_edit_queue.h"

#include <cstring>

namespace norva {

bool PlaneEditQueue::publish(const kernel::PlaneEdit &edit) {
  const uint32_t head = head_.load(std::memory_order_relaxed);
  if (head - tail_.load(std::memory_order_acquire) >= kCapacity) return false;
  records_[head % kCapacity] = edit;
  head_.store(head + 1, std::memory_order_release);
  return true;
}

bool PlaneEditQueue::pushEdit(const kernel::PlaneEdit &edit) {
  if (edit.kind == kernel::PlaneEdit::Kind::plane) return false; // planes go through pushPlane
  return publish(edit);
}

bool PlaneEditQueue::pushPlane(const uint8_t (&bytes)[kPlaneBytes]) {
  const uint32_t head = head_.load(std::memory_order_relaxed);
  const uint32_t tail = tail_.load(std::memory_order_acquire);
  if (head - tail >= kCapacity) return false;
  for (uint32_t i = 0; i < kPlanePool; ++i) {
    // Free: never used, or its record has been released (counts wrap).
    if (planeUsed_[i] && int32_t(planeRecord_[i] - tail) >= 0) continue;
    std::memcpy(planes_[i], bytes, kPlaneBytes);
    kernel::PlaneEdit edit;
    edit.kind = kernel::PlaneEdit::Kind::plane;
    edit.plane = planes_[i];
    planeUsed_[i] = true;
    planeRecord_[i] = head;
    return publish(edit);
  }
  return false;
}

void PlaneEditQueue::clear() {
  tail_.store(head_.load(std::memory_order_relaxed), std::memory_order_release);
  for (bool &used : planeUsed_) used = false;
}

} // namespace norva
