// The authored plane on the processor's side: the main thread keeps the plane
// as it is saved and hands every change to the audio thread through the
// edit queue, where the engine applies it at the block's first frame.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "processor/norva_processor.h"
#include "vst3/abi/ivstevents.h"
#include "vst3/abi/ivstprocesscontext.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

void NorvaProcessor::takeLeftRows() {
  // A row the parameters held, written as the selected pattern's is.
  engine_.leftRows().take([this](int pattern, const PatternRows::Row &row) {
    double velocities[kPlaneSteps];
    std::copy(std::begin(row.velocities), std::end(row.velocities), velocities);
    overlaySelectedPattern(plane_, pattern, row.length, velocities);
  });
}

void NorvaProcessor::adoptPlaneField(const PlaneFieldSet &set) {
  takeLeftRows(); // older than the edit
  applyPlaneFieldSet(plane_, set);
  kernel::PlaneEdit edit;
  edit.kind = set.patternLevel ? kernel::PlaneEdit::Kind::patternField : kernel::PlaneEdit::Kind::stepField;
  edit.pattern = set.pattern;
  edit.step = set.step;
  edit.field = set.field;
  edit.value = set.value;
  if (planeResend_ || !planeEdits_.pushEdit(edit)) sendPlaneToKernel();
}

void NorvaProcessor::sendPlaneToKernel() {
  takeLeftRows();
  planeResend_ = !planeEdits_.pushPlane(plane_);
}

void NorvaProcessor::restartPlaneHandover() {
  // A new kernel instance starts from the factory plane: it gets ours whole.
  planeEdits_.clear();
  planeTaken_ = 0;
  sendPlaneToKernel();
}

void NorvaProcessor::planeForSaving(uint8_t (&bytes)[kPlaneBytes]) const {
  std::memcpy(bytes, plane_, kPlaneBytes);
  double velocities[kPlaneSteps];
  for (int step = 0; step < kPlaneSteps; ++step)
    velocities[step] = engine_.paramValue(kParamFirstStepVelocity + uint32_t(step));
  overlaySelectedPattern(bytes, engine_.paramValue(kParamPattern), engine_.paramValue(kParamLength), velocities);
}

void NorvaProcessor::prepareBlock(const ProcessData &data, bool clockSet) {
  // What the last block took has been applied: its places (and a whole
  // plane's bytes) are free again.
  if (planeTaken_ != 0) {
    planeEdits_.release(planeTaken_);
    planeTaken_ = 0;
  }
  if (const uint32_t waiting = planeEdits_.available(); waiting != 0 && data.numSamples > 0) {
    while (planeTaken_ < waiting && engine_.pushEdit(planeEdits_.at(planeTaken_), 0)) ++planeTaken_;
  }
  if (!clockSet && engine_.clockWatched() && data.numSamples > 0) {
    readHostTransport(data.processContext);
    engine_.updateClock(data.numSamples);
  }
}

void NorvaProcessor::leaveIdleClock(const ProcessData &data, bool edits) {
  if (edits) prepareBlock(data, true);
  // Only the last block's records released: the kernel stays idle.
  if (!engine_.inputQueued() && !engine_.paramsPending()) return;
  engine_.wakeClock();
  if (data.numSamples > 0 && !steadyClock(data)) {
    readHostTransport(data.processContext);
    engine_.updateClock(data.numSamples);
  }
}

void NorvaProcessor::passEventsThrough(IEventList *in, IEventList *out) {
  const int32 count = in->getEventCount();
  for (int32 i = 0; i < count; ++i) {
    Event event{};
    if (in->getEvent(i, event) == kResultOk && out != nullptr && out->addEvent(event) != kResultOk) return;
  }
}

void NorvaProcessor::readHostTransport(const ProcessContext *context) {
  HostTransport &transport = engine_.hostTransport();
  if (context == nullptr) {
    transport = HostTransport();
    return;
  }
  const uint32 state = context->state;
  transport.playing = (state & ProcessContext::kPlaying) != 0;
  transport.hasTempo = (state & ProcessContext::kTempoValid) != 0;
  transport.hasPosition = (state & ProcessContext::kProjectTimeMusicValid) != 0;
  transport.hasBar = (state & ProcessContext::kBarPositionValid) != 0;
  transport.hasMeter = (state & ProcessContext::kTimeSigValid) != 0;
  transport.tempo = context->tempo;
  transport.ppq = context->projectTimeMusic;
  transport.barPpq = context->barPositionMusic;
  transport.numerator = context->timeSigNumerator;
  transport.denominator = context->timeSigDenominator;
}

} // namespace norva
