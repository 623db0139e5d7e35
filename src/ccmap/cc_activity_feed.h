// Controller activity from a real-time thread to a user-interface thread:
// the recording side reports, at any rate, that a controller number now has
// some value on some channel; the draining side takes those reports at most
// once per kCcActivityIntervalMs per controller number, keeping only the
// latest. One recording thread and one draining thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "ccmap/cc_map.h"

namespace norva {

// Shortest time between two drained reports of one controller number.
inline constexpr int64_t kCcActivityIntervalMs = 33;

struct CcActivityRecord {
  uint8_t cc = 0;
  uint8_t channel = 0;
  uint8_t value = 0;
};

class CcActivityFeed {
 public:
  // Recording thread; wait-free. A cc outside 0..127 is ignored. The channel
  // keeps its low 8 bits and the value its low 7. A later record replaces an
  // undrained one of the same number, whatever its channel.
  void record(int cc, int channel, int value);

  // Draining thread. Writes at most maxOut reports, in controller order, of
  // numbers last drained at least kCcActivityIntervalMs before nowMs (or
  // never), and returns how many. Reports held back, by the interval or for
  // want of room, stay pending.
  unsigned drain(int64_t nowMs, CcActivityRecord *out, unsigned maxOut);

  // Draining thread: false when a drain would find nothing.
  bool hasPending() const { return pending.load(std::memory_order_seq_cst); }

  // The feed's clock: steady time in whole milliseconds.
  static int64_t nowMs();

 private:
  // bit 16 = pending, bits 8..15 = channel, bits 0..6 = value
  std::array<std::atomic<uint32_t>, kMidiCcCount> slots{};
  std::atomic<bool> pending{false};
  // Draining thread only. A number never drained is never held back, so its
  // first report goes out whatever clock the drainer counts in.
  std::array<int64_t, kMidiCcCount> lastEmittedMs{};
  std::array<bool, kMidiCcCount> emitted{};
};

// Appends the editor message {"type":"norva.midiCc","cc":..,"channel":..,"value":..}.
void writeMidiCcJson(std::string &out, const CcActivityRecord &record);

}  // namespace norva
