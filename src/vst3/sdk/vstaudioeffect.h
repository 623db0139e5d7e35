// AudioEffect: IAudioProcessor and IProcessContextRequirements on top of
// Component — bus creation, the stored process set-up and processing
// defaults.
#pragma once

#include "vst3/abi/ivstaudioprocessor.h"
#include "vst3/sdk/vstbus.h"
#include "vst3/sdk/vstcomponent.h"

namespace Steinberg {
namespace Vst {

// The flags getProcessContextRequirements reports
// (IProcessContextRequirements::Flags), set by the subclass before the host
// asks (between initialize and setActive).
struct ProcessContextRequirements {
  uint32 flags = 0;
};

class AudioEffect : public Component, public IAudioProcessor, public IProcessContextRequirements {
public:
  // The set-up before the host's first setupProcessing: realtime, 32-bit,
  // 1024 frames, 44 100 Hz.
  AudioEffect();

  AudioBus *addAudioInput(const TChar *name, SpeakerArrangement arr, BusType busType = kMain,
                          int32 flags = BusInfo::kDefaultActive);
  AudioBus *addAudioOutput(const TChar *name, SpeakerArrangement arr, BusType busType = kMain,
                           int32 flags = BusInfo::kDefaultActive);
  AudioBus *getAudioInput(int32 index);
  AudioBus *getAudioOutput(int32 index);

  // channels: MIDI channels served by the bus.
  EventBus *addEventInput(const TChar *name, int32 channels = 16, BusType busType = kMain,
                          int32 flags = BusInfo::kDefaultActive);
  EventBus *addEventOutput(const TChar *name, int32 channels = 16, BusType busType = kMain,
                           int32 flags = BusInfo::kDefaultActive);
  EventBus *getEventInput(int32 index);
  EventBus *getEventOutput(int32 index);

  // IAudioProcessor
  // Applies the arrangements to the audio buses: kInvalidArgument for
  // negative counts or a missing array, kResultFalse when more arrangements
  // than buses are offered, otherwise kResultTrue.
  tresult PLUGIN_API setBusArrangements(SpeakerArrangement *inputs, int32 numIns,
                                        SpeakerArrangement *outputs, int32 numOuts) override;
  tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index,
                                       SpeakerArrangement &arr) override;
  // kResultTrue for kSample32 only.
  tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) override;
  uint32 PLUGIN_API getLatencySamples() override { return 0; }
  // Stores mode, block size and rate; the sample size only when
  // canProcessSampleSize accepts it (otherwise kResultFalse).
  tresult PLUGIN_API setupProcessing(ProcessSetup &setup) override;
  tresult PLUGIN_API setProcessing(TBool state) override; // kNotImplemented
  tresult PLUGIN_API process(ProcessData &data) override;  // kNotImplemented
  uint32 PLUGIN_API getTailSamples() override { return kNoTail; }

  // IProcessContextRequirements
  uint32 PLUGIN_API getProcessContextRequirements() override {
    return processContextRequirements.flags;
  }

  OBJ_METHODS(AudioEffect, Component)
  DEFINE_INTERFACES
  DEF_INTERFACE(IAudioProcessor)
  DEF_INTERFACE(IProcessContextRequirements)
  END_DEFINE_INTERFACES(Component)
  REFCOUNT_METHODS(Component)

protected:
  ProcessSetup processSetup;
  ProcessContextRequirements processContextRequirements;
};

} // namespace Vst
} // namespace Steinberg
