#include "processor/norva_processor.h"

#include <cmath>

#include "identity/plugin_ids.h"
#include "vst3/abi/ivstevents.h"
#include "vst3/abi/ivstparameterchanges.h"
#include "vst3/sdk/ustring.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

NorvaProcessor::NorvaProcessor() { setControllerClass(kControllerUid); }

NorvaProcessor::~NorvaProcessor() = default;

FUnknown *NorvaProcessor::createInstance(void *) {
  return static_cast<IAudioProcessor *>(new NorvaProcessor());
}

tresult PLUGIN_API NorvaProcessor::initialize(FUnknown *context) {
  const tresult result = AudioEffect::initialize(context);
  if (result != kResultOk) return result;
  for (uint32_t i = 0; i < engine_.eventInputCount(); ++i) addEventInput(STR16("Event In"), 16);
  for (uint32_t i = 0; i < engine_.eventOutputCount(); ++i) addEventOutput(STR16("Event Out"), 16);
  return kResultOk;
}

tresult PLUGIN_API NorvaProcessor::setupProcessing(ProcessSetup &setup) {
  const tresult result = AudioEffect::setupProcessing(setup);
  if (result != kResultOk) return result;
  if (!engine_.setup(processSetup.sampleRate, processSetup.maxSamplesPerBlock)) {
    sendRuntimeDiagnostics(true);
    return kResultFalse;
  }
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

uint32_t latencySamplesFor(double hostRate, bool rateConverted) {
  if (!rateConverted || hostRate == KernelEngine::kReferenceRate || !(hostRate > 0)) return 0;
  return uint32_t(hostRate * 20 / KernelEngine::kReferenceRate + 16 + 0.999999);
}

uint32 PLUGIN_API NorvaProcessor::getLatencySamples() {
  return latencySamplesFor(engine_.sampleRate(), engine_.rateConverted());
}

void NorvaProcessor::queueParameterChanges(IParameterChanges *changes, int32 queues) {
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
  for (int32 i = 0; i < count; ++i) {
    Event event{};
    if (events->getEvent(i, event) != kResultOk) continue;
    const uint32_t route = engine_.eventRouteForInput(uint32_t(event.busIndex));
    if (event.type == Event::kNoteOnEvent) {
      if (event.noteOn.velocity > 0) {
        engine_.pushNoteOn(event.noteOn.pitch, event.noteOn.velocity, event.sampleOffset, route,
                           uint32_t(event.noteOn.channel));
      } else {
        engine_.pushNoteOff(event.noteOn.pitch, event.sampleOffset, route,
                            uint32_t(event.noteOn.channel));
      }
    } else if (event.type == Event::kNoteOffEvent) {
      engine_.pushNoteOff(event.noteOff.pitch, event.sampleOffset, route,
                          uint32_t(event.noteOff.channel));
    }
  }
}

void NorvaProcessor::drainMidiOutputEvents(IEventList *events) {
  for (int32_t i = 0; i < engine_.midiCount(); ++i) {
    const KernelEngineMidi &record = engine_.midi(i);
    Event event{};
    event.busIndex = 0;
    event.sampleOffset = int32(record.frame);
    event.ppqPosition = 0;
    event.flags = Event::kIsLive;
    const int16 channel = int16(record.status & 0x0F);
    const uint8_t type = record.status & 0xF0;
    if (type == 0x90 && record.data2 > 0) {
      event.type = Event::kNoteOnEvent;
      event.noteOn.channel = channel;
      event.noteOn.pitch = record.data1;
      event.noteOn.velocity = float(record.data2) / 127.0f;
      event.noteOn.tuning = 0;
      event.noteOn.length = 0;
      event.noteOn.noteId = -1;
    } else if (type == 0x90 || type == 0x80) {
      event.type = Event::kNoteOffEvent;
      event.noteOff.channel = channel;
      event.noteOff.pitch = record.data1;
      event.noteOff.velocity = float(record.data2) / 127.0f;
      event.noteOff.noteId = -1;
      event.noteOff.tuning = 0;
    } else if (type == 0xB0) {
      event.type = Event::kLegacyMIDICCOutEvent;
      event.midiCCOut.controlNumber = record.data1;
      event.midiCCOut.channel = int8(channel);
      event.midiCCOut.value = int8(record.data2);
      event.midiCCOut.value2 = 0;
    } else {
      continue;
    }
    if (events->addEvent(event) != kResultOk) return;
  }
}

tresult PLUGIN_API NorvaProcessor::process(ProcessData &data) {
  if (data.symbolicSampleSize != kSample32) return kResultFalse;
  // Most blocks carry no changes, no notes and play nothing: each step is
  // entered only when it has work.
  if (IParameterChanges *changes = data.inputParameterChanges) {
    if (const int32 queues = changes->getParameterCount(); queues > 0) queueParameterChanges(changes, queues);
  }
  if (IEventList *events = data.inputEvents) {
    if (const int32 count = events->getEventCount(); count > 0) queueNoteEvents(events, count);
  }
  engine_.processBlock(nullptr, 0, nullptr, 0, data.numSamples > 0 ? data.numSamples : 0);
  if (data.outputEvents != nullptr && engine_.midiCount() > 0) drainMidiOutputEvents(data.outputEvents);
  return kResultOk;
}

void NorvaProcessor::captureHostFacts(HostFacts &facts) {
  facts.sampleRate = processSetup.sampleRate;
  facts.maxBlockFrames = processSetup.maxSamplesPerBlock;
  switch (processSetup.processMode) {
  case kPrefetch: facts.processMode = 2; break;
  case kOffline: facts.processMode = 1; break;
  default: facts.processMode = 0; break;
  }
  facts.sampleSize = processSetup.symbolicSampleSize == kSample64 ? 64 : 32;
  facts.latencySamples = int32_t(getLatencySamples());
  facts.tailKind = 0;
  facts.internalSampleRate = 0;
  // No audio buses: the bus list stays empty.
}

void NorvaProcessor::refreshHostFacts() {
  HostFacts facts;
  captureHostFacts(facts);
  lastHostFacts_ = facts;
  sendPayload("norva.diag.hostFacts", &lastHostFacts_, sizeof lastHostFacts_);
}

} // namespace norva
