// The authored pattern plane as everything outside the kernel sees it: its
// byte form (version 1), the fields a step and a pattern carry, their names
// on the wire and the bounds the kernel holds them to. The kernel stores the
// plane; the processor, the controller, the state document, the editor bridge
// and the probe all read and write it through these names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace norva {

inline constexpr int kPlaneVersion = 1;
inline constexpr int kPlaneSteps = 32;
inline constexpr int kPlanePatterns = 32;
inline constexpr int kPlaneCells = kPlanePatterns * kPlaneSteps; // cell = pattern * 32 + step

// A step's fields, in the order of their lanes in the byte form.
enum StepField : uint8_t { kStepNote, kStepVelocity, kStepGate, kStepTie, kStepCurve, kStepRatchet, kStepOn };
inline constexpr int kStepFieldCount = 7;
// A pattern's own fields, in the order of their rows in the byte form.
enum PatternField : uint8_t { kPatternLength, kPatternResolution, kPatternDirection };
inline constexpr int kPatternFieldCount = 3;

// The byte form: the version byte, one lane of a byte per cell for each step
// field, then one row of a byte per pattern for each pattern field.
inline constexpr int kPlaneOffsetLanes = 1;
inline constexpr int kPlaneOffsetRows = kPlaneOffsetLanes + kStepFieldCount * kPlaneCells;
inline constexpr int kPlaneBytes = kPlaneOffsetRows + kPatternFieldCount * kPlanePatterns;
static_assert(kPlaneOffsetRows == 7169 && kPlaneBytes == 7265, "the stored byte form never moves");
constexpr int planeLaneOffset(int field) { return kPlaneOffsetLanes + kPlaneCells * field; }
constexpr int planeRowOffset(int field) { return kPlaneOffsetRows + kPlanePatterns * field; }
constexpr int planeCell(int pattern, int step) { return pattern * kPlaneSteps + step; }

// What a field accepts when it is set on its own. A step field takes one byte
// (0..255), held as the byte form's reader holds it (note, velocity and curve
// modulo 128, gate 5..200, ratchet 1..8, tie and on 0 or 1); a pattern field
// must lie inside its bounds: length 1..32, resolution 0..12 (0: the global
// one, else index + 1), direction 0..6 (0: the global one, else mode + 1).
inline constexpr int kStepFieldByteMax = 255;
inline constexpr int kPatternFieldMax[kPatternFieldCount] = {kPlaneSteps, 12, 6};
inline constexpr int kPatternFieldMin[kPatternFieldCount] = {1, 0, 0};
inline constexpr int kGateMin = 5;
inline constexpr int kGateMax = 200;
inline constexpr int kRatchetMax = 8;

// The value a step field holds after being given `byte` (0..255).
constexpr int32_t heldStepValue(int field, int byte) {
  switch (field) {
  case kStepGate: return byte < kGateMin ? kGateMin : (byte > kGateMax ? kGateMax : byte);
  case kStepTie:
  case kStepOn: return byte != 0 ? 1 : 0;
  case kStepRatchet: return byte == 0 ? 1 : (byte > kRatchetMax ? kRatchetMax : byte);
  default: return byte % 128;
  }
}

// Field names on the wire: "note", "velocity", "gate", "tie", "curve",
// "ratchet", "on"; "length", "resolution", "direction".
inline constexpr const char *kStepFieldNames[kStepFieldCount] = {"note",  "velocity", "gate", "tie",
                                                                 "curve", "ratchet",  "on"};
inline constexpr const char *kPatternFieldNames[kPatternFieldCount] = {"length", "resolution", "direction"};
// The field with that name; -1 for none.
int stepFieldNamed(std::string_view name);
int patternFieldNamed(std::string_view name);

// One field set on its own, as it travels between the two halves of the
// plug-in: 8 bytes, little-endian.
struct PlaneFieldSet {
  bool patternLevel = false; // a PatternField (step ignored), else a StepField
  uint8_t pattern = 0;
  uint8_t step = 0;
  uint8_t field = 0;
  int32_t value = 0;
};
inline constexpr size_t kPlaneFieldSetBytes = 8;
void encodePlaneFieldSet(const PlaneFieldSet &set, uint8_t (&bytes)[kPlaneFieldSetBytes]);
// False for a record of another size, or one outside the bounds above.
bool decodePlaneFieldSet(const uint8_t *bytes, size_t count, PlaneFieldSet &out);
// Whether a field set lies inside the bounds above.
bool planeFieldSetValid(const PlaneFieldSet &set);
// The set applied to a plane's byte form (value held as the reader holds it).
void applyPlaneFieldSet(uint8_t (&bytes)[kPlaneBytes], const PlaneFieldSet &set);

// The selected pattern's velocities and length belong to the step-velocity
// parameters ("tindrel.g1".."tindrel.g32") and Length ("tindrel.length"),
// plain values: they are written over that pattern's velocity lane and length
// row, as the kernel holds them.
void overlaySelectedPattern(uint8_t (&plane)[kPlaneBytes], double selectedPattern, double length,
                            const double (&velocities)[kPlaneSteps]);

// Checks a byte form before anything takes it: nullptr when it is a plane a
// kernel accepts, else the reason, as a sentence fragment ("the plane has
// 7264 bytes, not 7265").
const char *authoredPlaneFault(const uint8_t *bytes, size_t count);

// The factory plane (every step middle C, velocities 100, 64, 0, 64, gate
// 50, ratchet 1, on; every pattern 32 steps long with the global resolution
// and direction), in its byte form.
void writeFactoryPlane(uint8_t (&bytes)[kPlaneBytes]);

} // namespace norva
