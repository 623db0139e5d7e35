// PatternRows: what the selected pattern's parameters left in a pattern when
// the selection moved on. While a pattern is selected its velocities and
// length are the step-velocity parameters' and Length's, which the host may
// change on the audio thread; when another pattern is selected the audio
// thread posts the row the parameters left, and the owner of the saved plane
// takes it in on the main thread. One place per pattern, the newest row
// wins, nothing is lost and neither side waits on a lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "params/authored_plane.h"

namespace norva {

class PatternRows {
  static_assert(kPlanePatterns <= 32, "one bit per pattern");

public:
  struct Row {
    uint8_t velocities[kPlaneSteps] = {};
    uint8_t length = kPlaneSteps;
  };

  // Audio thread.
  void post(int pattern, const Row &row) noexcept {
    if (pattern < 0 || pattern >= kPlanePatterns) return;
    Place &place = places_[pattern];
    const uint32_t sequence = place.sequence.load(std::memory_order_relaxed);
    place.sequence.store(sequence + 1, std::memory_order_relaxed); // odd: being written
    std::atomic_thread_fence(std::memory_order_release);
    for (int i = 0; i < kPlaneSteps; ++i) place.bytes[i].store(row.velocities[i], std::memory_order_relaxed);
    place.bytes[kPlaneSteps].store(row.length, std::memory_order_relaxed);
    place.sequence.store(sequence + 2, std::memory_order_release);
    posted_.fetch_or(uint32_t(1) << pattern, std::memory_order_release);
  }

  // Main thread: `take(pattern, row)` for every pattern posted since the
  // last call. A row caught while it is written is left for the next call.
  template <typename Take> void take(Take &&taken) {
    uint32_t posted = posted_.exchange(0, std::memory_order_acquire);
    uint32_t again = 0;
    for (; posted != 0; posted &= posted - 1) {
      const int pattern = __builtin_ctz(posted);
      Row row;
      if (read(places_[pattern], row)) {
        taken(pattern, row);
      } else {
        again |= uint32_t(1) << pattern;
      }
    }
    if (again != 0) posted_.fetch_or(again, std::memory_order_relaxed);
  }

  // Main thread: rows posted until now are dropped (a new plane replaces them).
  void discard() { posted_.store(0, std::memory_order_relaxed); }

private:
  struct Place {
    std::atomic<uint32_t> sequence{0};
    std::atomic<uint8_t> bytes[kPlaneSteps + 1] = {};
  };

  static bool read(const Place &place, Row &row) {
    for (int attempt = 0; attempt < 64; ++attempt) {
      const uint32_t before = place.sequence.load(std::memory_order_acquire);
      if (before & 1) continue;
      for (int i = 0; i < kPlaneSteps; ++i) row.velocities[i] = place.bytes[i].load(std::memory_order_relaxed);
      row.length = place.bytes[kPlaneSteps].load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (place.sequence.load(std::memory_order_relaxed) == before) return true;
    }
    return false;
  }

  Place places_[kPlanePatterns];
  std::atomic<uint32_t> posted_{0};
};

} // namespace norva
