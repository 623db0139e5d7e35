// The authored plane on the controller's side: the editor's edits of steps
// and patterns, the pattern clipboard, and the echo that keeps the editor,
// the processor and the saved state showing the same plane. Every change is
// made to the controller's copy, sent to the processor (one field as a
// field, anything larger as the whole plane), echoed to the editor with the
// values as stored, and marks the host's project as changed.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bridge/bridge_outbound.h"
#include "controller/norva_controller.h"
#include "diagnostics/component_messages.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// A whole index in [0, count).
bool indexOf(double value, bool present, int count, int &out) {
  if (!present || !(value >= 0 && value < count) || value != std::floor(value)) return false;
  out = int(value);
  return true;
}

AuthoredPattern factoryPattern() {
  uint8_t factory[kPlaneBytes];
  writeFactoryPlane(factory);
  return patternOfPlane(factory, 0);
}

} // namespace

void NorvaController::refuseMessage(const std::string &type, const char *reason) {
  std::fprintf(stderr, kBridgeRefusedLine, type.c_str(), reason);
  std::fflush(stderr);
  if (!sink_) return;
  std::string text;
  writeBridgeRefusedJson(text, type, reason);
  sendToUi(text);
}

bool NorvaController::refusePatternMessage(const std::string &type, const char *reason, int pattern) {
  refuseMessage(type, reason);
  sendPatternToUi(pattern); // the pattern as it stands: an editor waiting for its echo has it
  return true;
}

void NorvaController::sendClipboardToUi() {
  if (!sink_) return;
  std::string text;
  writeBridgeClipboardJson(text, clipboardFrom_, clipboard_);
  sendToUi(text);
}

void NorvaController::sendPatternToUi(int pattern) {
  if (!sink_) return;
  uint8_t played[kPlaneBytes];
  planeForSaving(played);
  std::string text;
  writeBridgePatternJson(text, pattern, patternOfPlane(played, pattern));
  sendToUi(text);
}

void NorvaController::sendPlaneToUi() {
  if (!sink_) return;
  uint8_t played[kPlaneBytes];
  planeForSaving(played);
  std::string text;
  writeBridgePlaneJson(text, played);
  sendToUi(text);
}

AuthoredPattern NorvaController::playedPattern(int pattern) {
  uint8_t played[kPlaneBytes];
  planeForSaving(played);
  return patternOfPlane(played, pattern);
}

void NorvaController::planeForSaving(uint8_t (&bytes)[kPlaneBytes]) {
  std::memcpy(bytes, plane_, kPlaneBytes);
  double velocities[kPlaneSteps];
  for (int step = 0; step < kPlaneSteps; ++step)
    velocities[step] = currentPlain(kParamFirstStepVelocity + uint32_t(step));
  overlaySelectedPattern(bytes, currentPlain(kParamPattern), currentPlain(kParamLength), velocities);
}

void NorvaController::followSelectedPattern(int pattern, int firstStep, int endStep, bool length) {
  // The selected pattern's velocities and length are the step-velocity
  // parameters' and Length's: the host records the change as theirs.
  if (double(pattern) != currentPlain(kParamPattern)) return;
  for (int step = firstStep; step < endStep; ++step) {
    const double velocity = plane_[planeLaneOffset(kStepVelocity) + planeCell(pattern, step)];
    const uint32_t id = kParamFirstStepVelocity + uint32_t(step);
    if (currentPlain(id) != velocity) bankBridge_.editParam(id, velocity);
  }
  const double steps = plane_[planeRowOffset(kPatternLength) + pattern];
  if (length && currentPlain(kParamLength) != steps) bankBridge_.editParam(kParamLength, steps);
}

void NorvaController::keepSelectedRow(double left) {
  const int pattern = int(left);
  if (pattern >= 0 && pattern < kPlanePatterns) putPatternIntoPlane(plane_, pattern, playedPattern(pattern));
}

void NorvaController::takeSelectedRow() {
  const int pattern = int(currentPlain(kParamPattern));
  auto take = [this](uint32_t id, double plain) {
    if (currentPlain(id) == plain) return;
    const double normalized = norva_param_normalize(&NORVA_PARAMS[id], plain);
    EditControllerEx1::setParamNormalized(id, normalized);
    sendParamChanged(id, normalized);
  };
  for (int step = 0; step < kPlaneSteps; ++step)
    take(kParamFirstStepVelocity + uint32_t(step), plane_[planeLaneOffset(kStepVelocity) + planeCell(pattern, step)]);
  take(kParamLength, plane_[planeRowOffset(kPatternLength) + pattern]);
}

void NorvaController::adoptPlane(const uint8_t (&plane)[kPlaneBytes]) {
  std::memcpy(plane_, plane, kPlaneBytes);
  sendPlaneToUi();
}

void NorvaController::changePattern(int pattern, const AuthoredPattern &bytes) {
  putPatternIntoPlane(plane_, pattern, bytes);
  sendToProcessor(kPlaneMessage, plane_, kPlaneBytes, true);
  followSelectedPattern(pattern, 0, kPlaneSteps, true);
  sendPatternToUi(pattern);
  setDirty(true);
}

bool NorvaController::handlePlaneMessage(const BridgeMessage &message) {
  const std::string &type = message.type;
  if (type == kBridgeGetPlane) {
    sendPlaneToUi();
    sendClipboardToUi();
    return true;
  }
  const bool fieldSet = type == kBridgeSetStepField || type == kBridgeSetPatternField;
  if (!fieldSet && type != kBridgeSetPattern && type != kBridgeCopyPattern && type != kBridgePastePattern &&
      type != kBridgeClearPattern && type != kBridgeDuplicatePattern)
    return false;
  int pattern = 0;
  if (!indexOf(message.pattern, message.hasPattern, kPlanePatterns, pattern)) {
    refuseMessage(type, "\"pattern\" is not a pattern index 0..31");
    return true;
  }
  if (fieldSet) {
    PlaneFieldSet set;
    set.patternLevel = type == kBridgeSetPatternField;
    set.pattern = uint8_t(pattern);
    const int field = set.patternLevel ? patternFieldNamed(message.field) : stepFieldNamed(message.field);
    int step = 0;
    if (field < 0) return refusePatternMessage(type, "\"field\" names no field of that kind", pattern);
    if (!set.patternLevel && !indexOf(message.step, message.hasStep, kPlaneSteps, step))
      return refusePatternMessage(type, "\"step\" is not a step index 0..31", pattern);
    if (!message.hasValue || message.value != std::floor(message.value) || !(std::fabs(message.value) < 1e9))
      return refusePatternMessage(type, "\"value\" is not a whole number", pattern);
    set.step = uint8_t(step);
    set.field = uint8_t(field);
    set.value = int32_t(message.value);
    if (!planeFieldSetValid(set)) return refusePatternMessage(type, "\"value\" is outside the field's bounds", pattern);
    applyPlaneFieldSet(plane_, set);
    uint8_t record[kPlaneFieldSetBytes];
    encodePlaneFieldSet(set, record);
    sendToProcessor(kPlaneFieldMessage, record, sizeof record, true);
    if (set.patternLevel ? set.field == kPatternLength : set.field == kStepVelocity)
      followSelectedPattern(pattern, step, set.patternLevel ? step : step + 1, set.patternLevel);
    sendPatternToUi(pattern);
    setDirty(true);
    return true;
  }
  if (type == kBridgeSetPattern) {
    if (!message.hasData) return refusePatternMessage(type, "\"data\" is not a pattern object", pattern);
    changePattern(pattern, message.data);
  } else if (type == kBridgeCopyPattern) {
    clipboard_ = playedPattern(pattern);
    clipboardFrom_ = pattern;
    sendClipboardToUi();
  } else if (type == kBridgePastePattern) {
    if (clipboardFrom_ < 0) return refusePatternMessage(type, "nothing was copied", pattern);
    changePattern(pattern, clipboard_);
  } else if (type == kBridgeClearPattern) {
    changePattern(pattern, factoryPattern());
  } else {
    int to = 0;
    if (!indexOf(message.to, message.hasTo, kPlanePatterns, to))
      return refuseMessage(type, "\"to\" is not a pattern index 0..31"), true;
    changePattern(to, playedPattern(pattern));
  }
  return true;
}

} // namespace norva
