// Hands CC maps from one non-real-time writer thread to one real-time reader
// thread without locks. A replaced map is retired, not freed, and is freed
// only once the reader has begun kCcMapGraceEpochs more cycles: the reader
// keeps a map only for the cycle in which it took it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ccmap/cc_map.h"
#include "ccmap/cc_resolve.h"

namespace norva {

// Reader cycles that must begin after a map is replaced before it is freed.
inline constexpr uint64_t kCcMapGraceEpochs = 2;

class CcMapStore {
 public:
  struct Retired {
    const CcMap *map;  // a heap map replaced by a later publish
    uint64_t epoch;    // the reader's epoch when it was replaced
  };

  CcMapStore() = default;
  // initialMap is in force until the first publish; the store never frees it.
  explicit CcMapStore(const CcMap &initialMap) : initial(initialMap) {}
  // Frees every map it holds. Stop the reader first.
  ~CcMapStore();
  CcMapStore(const CcMapStore &) = delete;
  CcMapStore &operator=(const CcMapStore &) = delete;

  // Writer thread. Puts a copy of map in force and frees what has served its
  // grace. Allocates; false, with nothing changed, when memory runs out.
  bool publish(const CcMap &map);
  // Writer thread. Frees the retired maps whose grace has passed.
  void collect();
  // Writer thread. Maps replaced and not yet freed.
  size_t retiredCount() const { return retired.size(); }

  // Reader thread, once at the start of each processing cycle: advances the
  // epoch and returns the map in force, valid until the next call. When the
  // map differs from the one the previous call returned, state (if given) is
  // reset to it. Pass the same state every cycle: a new map may have the
  // address of a freed one, so the address a state remembers cannot tell.
  const CcMap &beginCycle(CcRouterState *state = nullptr);
  // Reader thread: true once after any number of publishes.
  bool takeChanged() { return changed.exchange(false, std::memory_order_acq_rel); }

 private:
  void reclaim();

  CcMap initial;
  std::atomic<const CcMap *> current{&initial};
  std::atomic<uint64_t> epoch{0};
  std::atomic<bool> changed{false};
  std::vector<Retired> retired;  // writer thread only
  const CcMap *readerMap = nullptr;  // reader thread only: what beginCycle last returned
};

}  // namespace norva
