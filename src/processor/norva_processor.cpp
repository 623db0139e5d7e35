#include "processor/norva_processor.h"

#include <cmath>

#include "diagnostics/component_messages.h"
#include "identity/plugin_ids.h"
#include "vst3/abi/ivstevents.h"
#include "vst3/abi/ivstparameterchanges.h"
#include "vst3/sdk/ustring.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

NorvaProcessor::NorvaProcessor() {
  setControllerClass(kControllerUid);
  processContextRequirements.flags = kTransportContextNeeds;
  writeFactoryPlane(plane_);
}

NorvaProcessor::~NorvaProcessor() = default;

FUnknown *NorvaProcessor::createInstance(void *) {
  return static_cast<IAudioProcessor *>(new NorvaProcessor());
}

tresult PLUGIN_API NorvaProcessor::initialize(FUnknown *context) {
  const tresult result = AudioEffect::initialize(context);
  if (result != kResultOk) return result;
  addEventInput(STR16("Event In"), kMidiChannels);
  addEventOutput(STR16("Event Out"), kMidiChannels);
  return kResultOk;
}

tresult PLUGIN_API NorvaProcessor::setupProcessing(ProcessSetup &setup) {
  const tresult result = AudioEffect::setupProcessing(setup);
  if (result != kResultOk) return result;
  if (!engine_.setup(processSetup.sampleRate, processSetup.maxSamplesPerBlock)) {
    sendRuntimeDiagnostics(true);
    return kResultFalse;
  }
  restartPlaneHandover();
  restartTransportCapture();
  refreshHostFacts();
  return kResultOk;
}

tresult PLUGIN_API NorvaProcessor::setActive(TBool state) {
  if (state && !engine_.setup(processSetup.sampleRate, processSetup.maxSamplesPerBlock)) {
    sendRuntimeDiagnostics(true);
    return kResultFalse;
  }
  const tresult result = AudioEffect::setActive(state);
  if (result != kResultOk) return result;
  if (state) restartPlaneHandover();
  restartTransportCapture();
  refreshHostFacts();
  return kResultOk;
}

tresult PLUGIN_API NorvaProcessor::canProcessSampleSize(int32 symbolicSampleSize) {
  return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API NorvaProcessor::setBusArrangements(SpeakerArrangement *inputs, int32 numIns,
                                                      SpeakerArrangement *outputs, int32 numOuts) {
  if (numIns != 0 || numOuts != 0) return kResultFalse;
  const tresult result = AudioEffect::setBusArrangements(inputs, numIns, outputs, numOuts);
  if (result == kResultOk || result == kResultTrue) refreshHostFacts();
  return result;
}

uint32 PLUGIN_API NorvaProcessor::getLatencySamples() { return engine_.rate().latencySamples(); }

void NorvaProcessor::queueParameterChanges(IParameterChanges *changes, int32 queues) {
  engine_.wakeClock(); // the kernel has input: the block checks the clock
  for (int32 q = 0; q < queues; ++q) {
    IParamValueQueue *queue = changes->getParameterData(q);
    if (queue == nullptr) continue;
    const ParamID id = queue->getParameterId();
    const int32 points = queue->getPointCount();
    for (int32 p = 0; p < points; ++p) {
      int32 offset = 0;
      ParamValue value = 0;
      if (queue->getPoint(p, offset, value) != kResultOk) continue;
      if (id < kParamCount) engine_.pushParamNormalized(id, value, offset);
    }
  }
}

void NorvaProcessor::queueNoteEvents(IEventList *events, int32 count) {
  engine_.wakeClock(); // the kernel has input: the block checks the clock
  for (int32 i = 0; i < count; ++i) {
    Event event{};
    if (events->getEvent(i, event) != kResultOk) continue;
    if (event.type == Event::kNoteOnEvent) {
      // A note-on at velocity 0 is a note-off, as in MIDI.
      if (event.noteOn.velocity > 0) {
        engine_.pushNoteOn(event.noteOn.pitch, event.noteOn.velocity, event.sampleOffset);
      } else {
        engine_.pushNoteOff(event.noteOn.pitch, event.sampleOffset);
      }
    } else if (event.type == Event::kNoteOffEvent) {
      engine_.pushNoteOff(event.noteOff.pitch, event.sampleOffset);
    }
  }
}

void NorvaProcessor::writeParameterReports(IParameterChanges *changes) {
  if (changes == nullptr) return;
  for (const ParamReport &report : engine_.reports()) {
    int32 index = 0;
    IParamValueQueue *queue = changes->addParameterData(report.id, index);
    if (queue == nullptr) continue;
    int32 point = 0;
    queue->addPoint(report.frame, norva_param_normalize(&NORVA_PARAMS[report.id], report.plain), point);
  }
}

void NorvaProcessor::writeOutputEvents(IEventList *events) {
  for (const MidiEvent &message : engine_.output()) {
    Event event{};
    event.busIndex = 0;
    event.sampleOffset = int32(message.frame);
    event.flags = Event::kIsLive;
    switch (message.kind) {
    case EventKind::noteOn:
      event.type = Event::kNoteOnEvent;
      event.noteOn.channel = message.channel;
      event.noteOn.pitch = message.number;
      event.noteOn.velocity = float(message.value) / 127.0f;
      event.noteOn.noteId = -1;
      break;
    case EventKind::noteOff:
      event.type = Event::kNoteOffEvent;
      event.noteOff.channel = message.channel;
      event.noteOff.pitch = message.number;
      event.noteOff.noteId = -1;
      break;
    case EventKind::controlChange:
      event.type = Event::kLegacyMIDICCOutEvent;
      event.midiCCOut.controlNumber = message.number;
      event.midiCCOut.channel = int8(message.channel);
      event.midiCCOut.value = int8(message.value);
      break;
    default: continue;
    }
    if (events->addEvent(event) != kResultOk) return;
  }
}

tresult PLUGIN_API NorvaProcessor::process(ProcessData &data) {
  if (data.symbolicSampleSize != kSample32) return kResultFalse;
  // Most blocks carry no changes, no notes and play nothing: each step is
  // entered only when it has work.
  int32 queues = 0;
  if (IParameterChanges *changes = data.inputParameterChanges) {
    if (queues = changes->getParameterCount(); queues > 0) queueParameterChanges(changes, queues);
  }
  IEventList *passed = nullptr; // bypassed: the input goes out as it came
  if (IEventList *events = data.inputEvents) {
    if (const int32 count = events->getEventCount(); count > 0) {
      if (engine_.bypassed()) {
        passed = events;
      } else {
        queueNoteEvents(events, count);
      }
    }
  }
  // Plane edits waiting (or taken by the last block), or the host's
  // transport wanted: out of line but for a steady block while following.
  // While the kernel is idle (KernelEngine::kClockIdle), a block without
  // input leaves the host's transport unread.
  const bool edits = planeEdits_.available() != 0;
  if (const uint8_t watch = engine_.clockWatch(); watch != KernelEngine::kClockFree) [[unlikely]] {
    if (watch != KernelEngine::kClockIdle) {
      const bool steady = steadyClock(data);
      if (edits || !steady) prepareBlock(data, steady);
    } else if (edits || engine_.paramsPending()) {
      leaveIdleClock(data, edits);
    }
  } else if (edits) [[unlikely]] {
    prepareBlock(data, true);
  }
  engine_.processBlock(data.numSamples > 0 ? data.numSamples : 0);
  if (data.outputEvents != nullptr && !engine_.output().empty()) writeOutputEvents(data.outputEvents);
  // A change of Pattern moves the step parameters and Length to the new pattern.
  if (queues > 0 && !engine_.reports().empty()) [[unlikely]]
    writeParameterReports(data.outputParameterChanges);
  if (passed != nullptr) [[unlikely]]
    passEventsThrough(passed, data.outputEvents);
  if (transportWanted_.load(std::memory_order_relaxed)) [[unlikely]]
    captureTransport(data.processContext);
  return kResultOk;
}

void NorvaProcessor::captureHostFacts(HostFacts &facts) {
  facts.sampleRate = processSetup.sampleRate;
  facts.maxBlockFrames = processSetup.maxSamplesPerBlock;
  switch (processSetup.processMode) {
  case kPrefetch: facts.processMode = kHostProcessPrefetch; break;
  case kOffline: facts.processMode = kHostProcessOffline; break;
  default: facts.processMode = kHostProcessRealtime; break;
  }
  facts.sampleSize = processSetup.symbolicSampleSize == kSample64 ? 64 : 32;
  facts.latencySamples = int32_t(getLatencySamples());
  facts.tailKind = kHostTailUnreported;
  facts.internalSampleRate = 0;
  // No audio buses: the bus list stays empty.
}

void NorvaProcessor::refreshHostFacts() {
  HostFacts facts;
  captureHostFacts(facts);
  lastHostFacts_ = facts;
  sendPayload(kHostFactsMessage, &lastHostFacts_, sizeof lastHostFacts_);
}

} // namespace norva
