#include "ccmap/cc_activity_feed.h"

#include <chrono>

#include "formats/json.h"

namespace norva {
namespace {

constexpr uint32_t kSlotPending = 1u << 16;
constexpr int kChannelShift = 8;
constexpr uint32_t kChannelMask = 0xFF;

// Whether a number last drained at last must wait at now. Computed without
// signed overflow; a clock that went back holds the report, as a difference
// below the interval would.
bool heldBack(int64_t now, int64_t last) {
  return now < last || uint64_t(now) - uint64_t(last) < uint64_t(kCcActivityIntervalMs);
}

}  // namespace

// Every store and load of slots and pending that the final rescan of drain
// depends on is sequentially consistent. With release and acquire alone, the
// drainer's "pending = false" could be ordered after the rescan's loads (a
// store followed by a load of another variable), and a record landing in that
// gap would be left with its slot pending and the flag false.
void CcActivityFeed::record(int cc, int channel, int value) {
  if (cc < 0 || cc >= kMidiCcCount) return;
  slots[cc].store(uint32_t(value & kMidiCcValueMax) | ((uint32_t(channel) & kChannelMask) << kChannelShift) |
                      kSlotPending,
                  std::memory_order_seq_cst);
  pending.store(true, std::memory_order_seq_cst);
}

unsigned CcActivityFeed::drain(int64_t now, CcActivityRecord *out, unsigned maxOut) {
  if (out == nullptr || maxOut == 0) return 0;
  bool more = false;
  unsigned count = 0;
  for (int cc = 0; cc < kMidiCcCount; ++cc) {
    if ((slots[cc].load(std::memory_order_seq_cst) & kSlotPending) == 0) continue;
    if (count == maxOut || (emitted[cc] && heldBack(now, lastEmittedMs[cc]))) {
      more = true;
      continue;
    }
    const uint32_t word = slots[cc].exchange(0, std::memory_order_seq_cst);
    if ((word & kSlotPending) == 0) continue;
    out[count++] = {uint8_t(cc), uint8_t((word >> kChannelShift) & kChannelMask),
                    uint8_t(word & kMidiCcValueMax)};
    lastEmittedMs[cc] = now;
    emitted[cc] = true;
  }
  pending.store(more, std::memory_order_seq_cst);
  if (more) return count;
  // A record that arrived during the drain keeps the flag up.
  for (const auto &slot : slots) {
    if ((slot.load(std::memory_order_seq_cst) & kSlotPending) != 0) {
      pending.store(true, std::memory_order_seq_cst);
      break;
    }
  }
  return count;
}

int64_t CcActivityFeed::nowMs() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

void writeMidiCcJson(std::string &out, const CcActivityRecord &record) {
  out += "{\"type\":\"norva.midiCc\",\"cc\":";
  jsonAppendNumber(out, record.cc);
  out += ",\"channel\":";
  jsonAppendNumber(out, record.channel);
  out += ",\"value\":";
  jsonAppendNumber(out, record.value);
  out += '}';
}

}  // namespace norva
