// Resolving one incoming controller message through a CC map: every enabled
// binding on that controller and channel turns the 7-bit value into a
// normalised parameter value, through its curve, range, value mode and
// takeover policy. Free of allocation, locks and system calls, so a real-time
// thread may call it; the memory that relative, toggle and takeover bindings
// need lives in a CcRouterState the caller owns.
#pragma once

#include <array>
#include <cstdint>

#include "ccmap/cc_map.h"
#include "params/params.h"

namespace norva {

// One result of ccResolve.
struct CcResolution {
  uint32_t paramIndex = 0;  // row of NORVA_PARAMS
  double value = 0.0;       // normalised, 0..1
};

// The memory of one consumer of ccResolve for one map, indexed by the
// binding's position in the map (not by controller number). A call with a
// different map address clears it first. Not for two threads at once.
struct CcRouterState {
  const CcMap *map = nullptr;
  std::array<uint8_t, kCcMapCapacity> lastCc{};  // clamped value of the last matching message
  std::array<bool, kCcMapCapacity> hasLastCc{};
  std::array<bool, kCcMapCapacity> pickedUp{};  // a pickup binding has caught its parameter
  std::array<double, kCcMapCapacity> lastOutput{};
  std::array<bool, kCcMapCapacity> hasLastOutput{};

  // Belongs to map from now on, with every binding unpicked and forgotten.
  void reset(const CcMap *newMap);
};

// The parameter's present normalised value; answers are held to 0..1.
using CcCurrentValue = double (*)(void *context, unsigned paramIndex);

// The normalised value that binding gives desc's parameter for one absolute
// controller value (held to 0..127). Always within 0..1: a range whose
// bounds give no number (an infinite or NaN bound) gives 0.
double ccApplyNormalized(const CcBinding &binding, const norva_param_desc &desc, int ccValue);

// Resolves one message: controller cc on MIDI channel (1..16) with value.
// Writes at most maxOut results, in map order, and returns how many.
// state, currentValue and context may be null: without a state there is no
// memory (no pickup, a toggle press on every value of 64 or more); without a
// current value the binding's own last output stands in for it. A map count
// above the capacity is read as the capacity.
unsigned ccResolve(const CcMap &map, int cc, int channel, int value, CcRouterState *state,
                   CcCurrentValue currentValue, void *context, CcResolution *out, unsigned maxOut);

}  // namespace norva
