#include <algorithm>
#include <cstring>

#include "kernel/kernel_state.h"

namespace norva::kernel {
namespace {

uint8_t masked(int32_t value, uint32_t mask) { return uint8_t(uint32_t(value) & mask); }

// After a length changed: the walk stays inside the playing pattern.
void keepWalkInLength(KernelState &s) {
  const int currentLength = patternLength(s, int(s.currentPattern));
  if (s.walkPosition > currentLength - 1) s.walkPosition = 0;
  if (s.cycleStep > currentLength - 1) s.cycleStep = 0;
}

} // namespace

void seedAuthoredPlane(KernelState &s) {
  static constexpr int32_t kFactoryVelocities[4] = {100, 64, 0, 64};
  for (int p = 0; p < kPatterns; ++p) {
    s.patternLengths[p] = 32;
    s.patternResolutions[p] = 0;
    s.patternDirections[p] = 0;
  }
  for (int i = 0; i < kLaneCells; ++i) {
    s.stepNote[i] = 60;
    s.stepVelocity[i] = kFactoryVelocities[i % 4];
    s.stepGate[i] = 50;
    s.stepTie[i] = 0;
    s.stepCurve[i] = 0;
    s.stepRatchet[i] = 1;
    s.stepEnabled[i] = 1;
  }
}

int saveState(const KernelState &s, uint8_t *buffer, uint32_t capacity) {
  if (buffer == nullptr || capacity < uint32_t(kStateBytes)) return -1;
  buffer[0] = uint8_t(kStateVersion);
  for (int i = 0; i < kLaneCells; ++i) {
    buffer[laneOffset(kLaneNote) + i] = masked(s.stepNote[i], 127);
    buffer[laneOffset(kLaneVelocity) + i] = masked(s.stepVelocity[i], 127);
    buffer[laneOffset(kLaneGate) + i] = masked(s.stepGate[i], 255);
    buffer[laneOffset(kLaneTie) + i] = masked(s.stepTie[i], 127);
    buffer[laneOffset(kLaneCurve) + i] = masked(s.stepCurve[i], 127);
    buffer[laneOffset(kLaneRatchet) + i] = masked(s.stepRatchet[i], 127);
    buffer[laneOffset(kLaneEnabled) + i] = masked(s.stepEnabled[i], 127);
  }
  for (int p = 0; p < kPatterns; ++p) {
    buffer[rowOffset(kRowLength) + p] = masked(s.patternLengths[p], 255);
    buffer[rowOffset(kRowResolution) + p] = masked(s.patternResolutions[p], 255);
    buffer[rowOffset(kRowDirection) + p] = masked(s.patternDirections[p], 255);
  }
  return kStateBytes;
}

bool restoreState(KernelState &s, const uint8_t *buffer, uint32_t length) {
  if (buffer == nullptr || length != uint32_t(kStateBytes) || buffer[0] != kStateVersion) return false;
  // Every row is checked before anything changes.
  for (int p = 0; p < kPatterns; ++p) {
    const uint8_t patternLengthByte = buffer[rowOffset(kRowLength) + p];
    if (patternLengthByte == 0 || patternLengthByte > kSteps) return false;
    if (buffer[rowOffset(kRowResolution) + p] > 12) return false;
    if (buffer[rowOffset(kRowDirection) + p] > 6) return false;
  }
  for (int i = 0; i < kLaneCells; ++i) {
    s.stepNote[i] = buffer[laneOffset(kLaneNote) + i] % 128;
    s.stepVelocity[i] = buffer[laneOffset(kLaneVelocity) + i] % 128;
    s.stepGate[i] = std::clamp<int32_t>(buffer[laneOffset(kLaneGate) + i], 5, 200);
    s.stepTie[i] = buffer[laneOffset(kLaneTie) + i] != 0 ? 1 : 0;
    s.stepCurve[i] = buffer[laneOffset(kLaneCurve) + i] % 128;
    const uint8_t ratchet = buffer[laneOffset(kLaneRatchet) + i];
    s.stepRatchet[i] = ratchet == 0 ? 1 : std::min<int32_t>(ratchet, 8);
    s.stepEnabled[i] = buffer[laneOffset(kLaneEnabled) + i] != 0 ? 1 : 0;
  }
  for (int p = 0; p < kPatterns; ++p) {
    s.patternLengths[p] = buffer[rowOffset(kRowLength) + p];
    s.patternResolutions[p] = buffer[rowOffset(kRowResolution) + p];
    s.patternDirections[p] = buffer[rowOffset(kRowDirection) + p];
  }
  keepWalkInLength(s);
  return true;
}

bool applyPlaneEdit(KernelState &s, const PlaneEdit &edit) {
  switch (edit.kind) {
  case PlaneEdit::Kind::stepField: {
    if (edit.pattern >= kPatterns || edit.step >= kSteps || edit.field >= kLaneCount) return false;
    if (edit.value < 0 || edit.value > kStepFieldByteMax) return false;
    const int cell = planeCell(edit.pattern, edit.step);
    const int32_t held = heldStepValue(edit.field, edit.value);
    int32_t *const lanes[kLaneCount] = {s.stepNote,  s.stepVelocity, s.stepGate,   s.stepTie,
                                        s.stepCurve, s.stepRatchet,  s.stepEnabled};
    lanes[edit.field][cell] = held;
    // The selected pattern's velocities follow the step-velocity parameters;
    // this one stays until one of them changes.
    if (edit.field == kLaneVelocity && edit.pattern == s.selectedPattern) s.liveVelocities[edit.step] = held;
    return true;
  }
  case PlaneEdit::Kind::patternField: {
    if (edit.pattern >= kPatterns || edit.field >= kRowCount) return false;
    if (edit.value < kPatternFieldMin[edit.field] || edit.value > kPatternFieldMax[edit.field]) return false;
    int32_t *const rows[kRowCount] = {s.patternLengths, s.patternResolutions, s.patternDirections};
    rows[edit.field][edit.pattern] = edit.value;
    // Like a velocity, the selected pattern's length stays until "tindrel.length" changes.
    if (edit.field == kRowLength && edit.pattern == s.selectedPattern) s.liveLength = edit.value;
    keepWalkInLength(s);
    return true;
  }
  case PlaneEdit::Kind::select: {
    if (edit.pattern >= kPatterns) return false;
    const int pattern = edit.pattern;
    s.selectedPattern = pattern;
    std::memcpy(s.liveVelocities, &s.stepVelocity[pattern * kSteps], sizeof s.liveVelocities);
    s.liveLength = s.patternLengths[pattern];
    // As after any parameter: playback returns to the selected pattern.
    s.currentPattern = s.selectedPattern;
    keepWalkInLength(s);
    return true;
  }
  case PlaneEdit::Kind::plane:
    if (!restoreState(s, edit.plane, uint32_t(kStateBytes))) return false;
    // The selected pattern stays the parameters': its velocities are the
    // step-velocity parameters', its length the last "tindrel.length".
    std::memcpy(&s.stepVelocity[int(s.selectedPattern) * kSteps], s.liveVelocities, sizeof s.liveVelocities);
    s.patternLengths[int(s.selectedPattern)] = s.liveLength;
    keepWalkInLength(s);
    return true;
  }
  return false;
}

} // namespace norva::kernel
