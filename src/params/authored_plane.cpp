#include "params/authored_plane.h"

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
