// Hands plane edits from the host's main thread to its audio thread without
// locks and without allocating: a ring of fixed records, and a small pool of
// whole planes that a record can name. The audio thread reads what is there,
// runs its block, then releases what it read; the main thread reuses a
// record's place, and a pool plane, only once it has been released.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kernel/kernel_run.h"
#include "params/authored_plane.h"

namespace norva {

class PlaneEditQueue {
public:
  static constexpr uint32_t kCapacity = 64;  // records waiting at once
  static constexpr uint32_t kPlanePool = 4;  // whole planes waiting at once

  // Main thread. False, with nothing queued, when the ring (or for a plane,
  // the pool) is full.
  bool pushEdit(const kernel::PlaneEdit &edit);
  bool pushPlane(const uint8_t (&bytes)[kPlaneBytes]);
  // Main thread, while the audio thread is not processing (set-up): empty.
  void clear();

  // Audio thread: records published and not yet released, the i-th of them
  // (a plane edit points into the pool), and the release of the first n.
  uint32_t available() const {
    return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed);
  }
  const kernel::PlaneEdit &at(uint32_t i) const {
    return records_[(tail_.load(std::memory_order_relaxed) + i) % kCapacity];
  }
  void release(uint32_t n) { tail_.fetch_add(n, std::memory_order_release); }

private:
  bool publish(const kernel::PlaneEdit &edit);

  kernel::PlaneEdit records_[kCapacity];
  std::atomic<uint32_t> head_{0}; // written by the main thread
  std::atomic<uint32_t> tail_{0}; // written by the audio thread
  uint8_t planes_[kPlanePool][kPlaneBytes] = {};
  // The record that names each pool plane, as a head count; the plane is
  // free once the tail has passed it (main thread only).
  uint32_t planeRecord_[kPlanePool] = {};
  bool planeUsed_[kPlanePool] = {};
};

} // namespace norva
