#include "ccmap/cc_resolve.h"

#include <algorithm>
#include <cmath>

namespace norva {
namespace {

// Bit 6 of a controller value: the sign of the relative encodings, and the
// value from which a toggle counts as pressed.
constexpr int kCcMidpoint = (kMidiCcValueMax + 1) / 2;

// Held to 0..1; NaN gives 0.
double unitInterval(double x) { return x >= 0.0 ? std::min(x, 1.0) : 0.0; }

double shaped(CcCurve curve, double x) {
  switch (curve) {
    case CcCurve::exp: return x * x;
    case CcCurve::log: return std::sqrt(x);
    case CcCurve::sCurve: return x * x * (3.0 - 2.0 * x);
    case CcCurve::linear: break;
  }
  return x;
}

// The plain values at controller 0 (lo) and 127 (hi): the binding's own
// bounds where it has them, the row's otherwise. hi below lo runs backwards.
struct PlainRange {
  double lo;
  double hi;
};

PlainRange plainRange(const CcBinding &b, const norva_param_desc &desc) {
  return {b.hasMin ? b.min : desc.min, b.hasMax ? b.max : desc.max};
}

// A plain value the binding produced, normalised by the catalogue. A toggle
// row is first held to its range (the lower bound first, so a row whose
// bounds cross still gives one answer) and read as on from 0.5 up.
double normalized(const norva_param_desc &desc, double plain) {
  if (desc.kind == kParamKindToggle) {
    const double held = plain < desc.min ? desc.min : (plain > desc.max ? desc.max : plain);
    plain = held >= 0.5 ? 1.0 : 0.0;
  }
  return unitInterval(norva_param_normalize(&desc, plain));
}

// The controller value whose result lies nearest t; ties go to the smallest.
int nearestPosition(const CcBinding &b, const norva_param_desc &desc, double t) {
  int best = 0;
  double bestDistance = std::fabs(ccApplyNormalized(b, desc, 0) - t);
  for (int k = 1; k <= kMidiCcValueMax; ++k) {
    const double distance = std::fabs(ccApplyNormalized(b, desc, k) - t);
    if (distance < bestDistance) {
      best = k;
      bestDistance = distance;
    }
  }
  return best;
}

// The three relative encodings of one message; 0 means "no move". raw is the
// value as it came, v the value held to 0..127.
struct RelativeSteps {
  int signedBit;
  int binaryOffset;
  int twosComplement;
};

RelativeSteps relativeSteps(int raw, int v) {
  const bool magnitude = (v & ~kCcMidpoint) != 0;
  return {magnitude ? (raw > kCcMidpoint ? v - kCcMidpoint : -v) : 0, v - kCcMidpoint,
          magnitude ? (raw >= kCcMidpoint ? v - 2 * kCcMidpoint : v) : 0};
}

// What one matching binding emits; false when it emits nothing.
struct Match {
  const CcBinding &binding;
  const norva_param_desc &desc;
  int v;           // held to 0..127
  int raw;         // as it came
  int prev;        // controller memory, valid when hadPrev
  bool hadPrev;
  double cur;      // the parameter's present value, valid when haveCur
  bool haveCur;
  bool *pickedUp;  // null without a state
};

bool resolveAbsolute(const Match &m, double &result) {
  const CcBinding &b = m.binding;
  if (b.takeover == CcTakeover::pickup && m.pickedUp != nullptr && m.haveCur) {
    if (!*m.pickedUp) {
      const int n = nearestPosition(b, m.desc, m.cur);
      const bool crossed = m.hadPrev && ((m.prev < n && n < m.v) || (m.prev > n && n > m.v));
      if (m.v != n && !crossed) return false;
      *m.pickedUp = true;
    }
    result = ccApplyNormalized(b, m.desc, m.v);
    return true;
  }
  if (b.takeover == CcTakeover::scaled && m.haveCur) {
    if (!m.hadPrev) return false;
    const int n = nearestPosition(b, m.desc, m.cur);
    const int d = m.v - m.prev;
    const int room = m.v > m.prev ? kMidiCcValueMax - m.prev : m.prev;
    if (d == 0 || room == 0) return false;
    // The controller's remaining travel in its direction of motion covers
    // the parameter's remaining range in that direction.
    const int rest = d > 0 ? kMidiCcValueMax - n : n;
    const double t = (n + double(rest) / room * d) / kMidiCcValueMax;
    const int k = t < 0.0 ? 0 : int(std::lround(std::min(t, 1.0) * kMidiCcValueMax));
    result = ccApplyNormalized(b, m.desc, k);
    return true;
  }
  // A pickup binding that sets its parameter for want of a present value has
  // put it where the controller is: it has caught it. Left unpicked, it would
  // measure the next message against its own output and, since moving away
  // from a position is no crossing, stay silent until the controller came
  // back to exactly that value.
  if (b.takeover == CcTakeover::pickup && m.pickedUp != nullptr) *m.pickedUp = true;
  result = ccApplyNormalized(b, m.desc, m.v);
  return true;
}

bool resolveRelative(const Match &m, int step, double &result) {
  if (step == 0) return false;
  const int n = nearestPosition(m.binding, m.desc, m.haveCur ? m.cur : 0.0);
  result = ccApplyNormalized(m.binding, m.desc, std::clamp(n + step, 0, kMidiCcValueMax));
  return true;
}

bool resolveToggle(const Match &m, double &result) {
  if (m.raw < kCcMidpoint || (m.hadPrev && m.prev >= kCcMidpoint)) return false;
  const PlainRange range = plainRange(m.binding, m.desc);
  const double off = normalized(m.desc, range.lo);
  const double on = normalized(m.desc, range.hi);
  result = m.haveCur && std::fabs(m.cur - on) < std::fabs(m.cur - off) ? off : on;
  return true;
}

}  // namespace

void CcRouterState::reset(const CcMap *newMap) {
  map = newMap;
  lastCc.fill(0);
  hasLastCc.fill(false);
  pickedUp.fill(false);
  lastOutput.fill(0.0);
  hasLastOutput.fill(false);
}

double ccApplyNormalized(const CcBinding &binding, const norva_param_desc &desc, int ccValue) {
  const double x = double(std::clamp(ccValue, 0, kMidiCcValueMax)) / kMidiCcValueMax;
  const double y = shaped(binding.curve, x);
  const PlainRange range = plainRange(binding, desc);
  return normalized(desc, range.lo + y * (range.hi - range.lo));
}

unsigned ccResolve(const CcMap &map, int cc, int channel, int value, CcRouterState *state,
                   CcCurrentValue currentValue, void *context, CcResolution *out, unsigned maxOut) {
  if (out == nullptr || maxOut == 0) return 0;
  if (state != nullptr && state->map != &map) state->reset(&map);
  const uint32_t count = std::min(map.count, kCcMapCapacity);
  const int v = std::clamp(value, 0, kMidiCcValueMax);
  const RelativeSteps steps = relativeSteps(value, v);

  unsigned written = 0;
  for (uint32_t i = 0; i < count && written < maxOut; ++i) {
    const CcBinding &b = map.bindings[i];
    if (!b.enabled || b.cc != cc || (b.channel != 0 && b.channel != channel) || b.paramIndex >= kParamCount)
      continue;

    Match m{b, NORVA_PARAMS[b.paramIndex], v, value, 0, false, 0.0, false, nullptr};
    if (state != nullptr) {
      m.prev = state->lastCc[i];
      m.hadPrev = state->hasLastCc[i];
      state->lastCc[i] = static_cast<uint8_t>(v);
      state->hasLastCc[i] = true;
      m.pickedUp = &state->pickedUp[i];
    }
    if (currentValue != nullptr) {
      m.cur = unitInterval(currentValue(context, b.paramIndex));
      m.haveCur = true;
    } else if (state != nullptr) {
      m.cur = state->lastOutput[i];
      m.haveCur = state->hasLastOutput[i];
    }

    double result = 0.0;
    bool emits = false;
    switch (b.valueMode) {
      case CcValueMode::absolute: emits = resolveAbsolute(m, result); break;
      case CcValueMode::relativeSignedBit: emits = resolveRelative(m, steps.signedBit, result); break;
      case CcValueMode::relativeBinaryOffset: emits = resolveRelative(m, steps.binaryOffset, result); break;
      case CcValueMode::relativeTwosComplement: emits = resolveRelative(m, steps.twosComplement, result); break;
      case CcValueMode::toggle: emits = resolveToggle(m, result); break;
    }
    if (!emits) continue;
    out[written++] = {b.paramIndex, result};
    if (state != nullptr) {
      state->lastOutput[i] = result;
      state->hasLastOutput[i] = true;
    }
  }
  return written;
}

}  // namespace norva
