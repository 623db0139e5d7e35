#include "params/authored_plane.h"

#include <algorithm>
#include <cmath>

namespace norva {

int stepFieldNamed(std::string_view name) {
  for (int i = 0; i < kStepFieldCount; ++i)
    if (name == kStepFieldNames[i]) return i;
  return -1;
}

int patternFieldNamed(std::string_view name) {
  for (int i = 0; i < kPatternFieldCount; ++i)
    if (name == kPatternFieldNames[i]) return i;
  return -1;
}

void encodePlaneFieldSet(const PlaneFieldSet &set, uint8_t (&bytes)[kPlaneFieldSetBytes]) {
  bytes[0] = set.patternLevel ? 1 : 0;
  bytes[1] = set.pattern;
  bytes[2] = set.step;
  bytes[3] = set.field;
  const uint32_t value = uint32_t(set.value);
  for (int i = 0; i < 4; ++i) bytes[4 + i] = uint8_t(value >> (8 * i));
}

bool planeFieldSetValid(const PlaneFieldSet &set) {
  if (set.pattern >= kPlanePatterns) return false;
  if (set.patternLevel)
    return set.field < kPatternFieldCount && set.value >= kPatternFieldMin[set.field] &&
           set.value <= kPatternFieldMax[set.field];
  return set.step < kPlaneSteps && set.field < kStepFieldCount && set.value >= 0 && set.value <= kStepFieldByteMax;
}

bool decodePlaneFieldSet(const uint8_t *bytes, size_t count, PlaneFieldSet &out) {
  if (bytes == nullptr || count != kPlaneFieldSetBytes || bytes[0] > 1) return false;
  PlaneFieldSet set;
  set.patternLevel = bytes[0] == 1;
  set.pattern = bytes[1];
  set.step = bytes[2];
  set.field = bytes[3];
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(bytes[4 + i]) << (8 * i);
  set.value = int32_t(value);
  if (!planeFieldSetValid(set)) return false;
  out = set;
  return true;
}

void applyPlaneFieldSet(uint8_t (&bytes)[kPlaneBytes], const PlaneFieldSet &set) {
  if (!planeFieldSetValid(set)) return;
  if (set.patternLevel) {
    bytes[planeRowOffset(set.field) + set.pattern] = uint8_t(set.value);
  } else {
    bytes[planeLaneOffset(set.field) + planeCell(set.pattern, set.step)] =
        uint8_t(heldStepValue(set.field, set.value));
  }
}

void overlaySelectedPattern(uint8_t (&plane)[kPlaneBytes], double selectedPattern, double length,
                            const double (&velocities)[kPlaneSteps]) {
  if (!(selectedPattern >= 0 && selectedPattern < kPlanePatterns)) return;
  const int pattern = int(selectedPattern);
  if (length >= kPatternFieldMin[kPatternLength] && length <= kPatternFieldMax[kPatternLength])
    plane[planeRowOffset(kPatternLength) + pattern] = uint8_t(length);
  for (int step = 0; step < kPlaneSteps; ++step) {
    const double v = velocities[step];
    const int byte = std::isfinite(v) ? int(std::clamp(std::floor(v), 0.0, 127.0)) : 0;
    plane[planeLaneOffset(kStepVelocity) + planeCell(pattern, step)] = uint8_t(byte);
  }
}

const char *authoredPlaneFault(const uint8_t *bytes, size_t count) {
  if (bytes == nullptr || count != size_t(kPlaneBytes)) return "the plane does not have 7265 bytes";
  if (bytes[0] != kPlaneVersion) return "the plane's version byte is not 1";
  for (int field = 0; field < kPatternFieldCount; ++field) {
    for (int p = 0; p < kPlanePatterns; ++p) {
      const int value = bytes[planeRowOffset(field) + p];
      if (value < kPatternFieldMin[field] || value > kPatternFieldMax[field]) {
        static constexpr const char *kFaults[kPatternFieldCount] = {
            "a pattern length is outside 1..32", "a pattern resolution is above 12",
            "a pattern direction is above 6"};
        return kFaults[field];
      }
    }
  }
  return nullptr;
}

void writeFactoryPlane(uint8_t (&bytes)[kPlaneBytes]) {
  static constexpr uint8_t kVelocities[4] = {100, 64, 0, 64};
  static constexpr uint8_t kFactory[kStepFieldCount] = {60, 0, 50, 0, 0, 1, 1};
  bytes[0] = kPlaneVersion;
  for (int field = 0; field < kStepFieldCount; ++field)
    for (int i = 0; i < kPlaneCells; ++i)
      bytes[planeLaneOffset(field) + i] = field == kStepVelocity ? kVelocities[i % 4] : kFactory[field];
  for (int p = 0; p < kPlanePatterns; ++p) {
    bytes[planeRowOffset(kPatternLength) + p] = kPlaneSteps;
    bytes[planeRowOffset(kPatternResolution) + p] = 0;
    bytes[planeRowOffset(kPatternDirection) + p] = 0;
  }
}

} // namespace norva
