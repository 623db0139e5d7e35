#include "ccmap/cc_map_store.h"

#include <new>

namespace norva {

// The pointer exchange, the writer's epoch load, the reader's epoch increment
// and its pointer load are sequentially consistent. Each thread writes one of
// the two variables and then reads the other; with release and acquire alone
// both could read the older value, and a reader could go on taking a map
// the writer has already retired under an epoch it has passed.
bool CcMapStore::publish(const CcMap &map) {
  CcMap *fresh = new (std::nothrow) CcMap(map);
  if (fresh == nullptr) return false;
  // Room for the entry this publish may retire, made before anything
  // changes, so that a full list cannot fail halfway with the map swapped.
  if (retired.size() == retired.capacity()) {
    try {
      retired.reserve(retired.size() * 2 + 4);
    } catch (...) {
      delete fresh;
      return false;
    }
  }
  const CcMap *old = current.exchange(fresh, std::memory_order_seq_cst);
  if (old != &initial) retired.push_back({old, epoch.load(std::memory_order_seq_cst)});
  reclaim();
  changed.store(true, std::memory_order_release);
  return true;
}

void CcMapStore::collect() { reclaim(); }

void CcMapStore::reclaim() {
  const uint64_t e = epoch.load(std::memory_order_seq_cst);
  size_t kept = 0;
  for (const Retired &entry : retired) {
    if (e < entry.epoch + kCcMapGraceEpochs) {
      retired[kept++] = entry;
    } else {
      delete entry.map;
    }
  }
  retired.resize(kept);
}

CcMapStore::~CcMapStore() {
  for (const Retired &entry : retired) delete entry.map;
  const CcMap *last = current.load(std::memory_order_acquire);
  if (last != &initial) delete last;
}

const CcMap &CcMapStore::beginCycle(CcRouterState *state) {
  epoch.fetch_add(1, std::memory_order_seq_cst);
  const CcMap *map = current.load(std::memory_order_seq_cst);
  if (map != readerMap) {
    // Two maps returned by consecutive cycles are alive together, so unlike
    // addresses kept longer, a change of address here is a change of map.
    readerMap = map;
    if (state != nullptr) state->reset(map);
  }
  return *map;
}

}  // namespace norva
