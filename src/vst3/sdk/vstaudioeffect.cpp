#include "vst3/sdk/vstaudioeffect.h"

namespace Steinberg {
namespace Vst {
namespace {

template <class B> B *busAt(BusList &list, int32 index) {
  if (index < 0 || index >= int32(list.size()))
    return nullptr;
  return FCast<B>(list[size_t(index)].get());
}

template <class B, class... Args> B *appendBus(BusList &list, Args... args) {
  B *bus = new B(args...);
  list.push_back(IPtr<Bus>(bus, false));
  return bus;
}

bool applyArrangements(BusList &buses, const SpeakerArrangement *arrangements, int32 count) {
  for (int32 i = 0; i < count; ++i) {
    AudioBus *bus = FCast<AudioBus>(buses[size_t(i)].get());
    if (!bus)
      return false;
    bus->setArrangement(arrangements[i]);
  }
  return true;
}

} // namespace

AudioEffect::AudioEffect() {
  processSetup.processMode = kRealtime;
  processSetup.symbolicSampleSize = kSample32;
  processSetup.maxSamplesPerBlock = 1024;
  processSetup.sampleRate = 44100.0;
}

AudioBus *AudioEffect::addAudioInput(const TChar *name, SpeakerArrangement arr, BusType busType,
                                     int32 flags) {
  return appendBus<AudioBus>(audioInputs, name, busType, flags, arr);
}

AudioBus *AudioEffect::addAudioOutput(const TChar *name, SpeakerArrangement arr, BusType busType,
                                      int32 flags) {
  return appendBus<AudioBus>(audioOutputs, name, busType, flags, arr);
}

AudioBus *AudioEffect::getAudioInput(int32 index) { return busAt<AudioBus>(audioInputs, index); }

AudioBus *AudioEffect::getAudioOutput(int32 index) {
  return busAt<AudioBus>(audioOutputs, index);
}

EventBus *AudioEffect::addEventInput(const TChar *name, int32 channels, BusType busType,
                                     int32 flags) {
  return appendBus<EventBus>(eventInputs, name, busType, flags, channels);
}

EventBus *AudioEffect::addEventOutput(const TChar *name, int32 channels, BusType busType,
                                      int32 flags) {
  return appendBus<EventBus>(eventOutputs, name, busType, flags, channels);
}

EventBus *AudioEffect::getEventInput(int32 index) { return busAt<EventBus>(eventInputs, index); }

EventBus *AudioEffect::getEventOutput(int32 index) {
  return busAt<EventBus>(eventOutputs, index);
}

tresult PLUGIN_API AudioEffect::setBusArrangements(SpeakerArrangement *inputs, int32 numIns,
                                                   SpeakerArrangement *outputs, int32 numOuts) {
  if (numIns < 0 || numOuts < 0 || (numIns > 0 && !inputs) || (numOuts > 0 && !outputs))
    return kInvalidArgument;
  if (numIns > int32(audioInputs.size()) || numOuts > int32(audioOutputs.size()))
    return kResultFalse;
  if (!applyArrangements(audioInputs, inputs, numIns) ||
      !applyArrangements(audioOutputs, outputs, numOuts))
    return kResultFalse;
  return kResultTrue;
}

tresult PLUGIN_API AudioEffect::getBusArrangement(BusDirection dir, int32 index,
                                                  SpeakerArrangement &arr) {
  BusList *list = getBusList(kAudio, dir);
  if (!list || index < 0 || index >= int32(list->size()))
    return kInvalidArgument;
  AudioBus *bus = FCast<AudioBus>((*list)[size_t(index)].get());
  if (!bus)
    return kResultFalse;
  arr = bus->getArrangement();
  return kResultTrue;
}

tresult PLUGIN_API AudioEffect::canProcessSampleSize(int32 symbolicSampleSize) {
  return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API AudioEffect::setupProcessing(ProcessSetup &setup) {
  processSetup.maxSamplesPerBlock = setup.maxSamplesPerBlock;
  processSetup.processMode = setup.processMode;
  processSetup.sampleRate = setup.sampleRate;
  if (canProcessSampleSize(setup.symbolicSampleSize) != kResultTrue)
    return kResultFalse;
  processSetup.symbolicSampleSize = setup.symbolicSampleSize;
  return kResultOk;
}

tresult PLUGIN_API AudioEffect::setProcessing(TBool /*state*/) { return kNotImplemented; }

tresult PLUGIN_API AudioEffect::process(ProcessData & /*data*/) { return kNotImplemented; }

} // namespace Vst
} // namespace Steinberg
