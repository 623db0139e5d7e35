// IAudioProcessor: the block processing interface, with the process set-up
// and the per-block data.
#pragma once

#include "vst3/abi/ivstcomponent.h"
#include "vst3/abi/vstspeaker.h"

#ifndef kVstAudioEffectClass
#define kVstAudioEffectClass "Audio Module Class"
#endif

namespace Steinberg {
namespace Vst {

class IEventList;
class IParameterChanges;
struct ProcessContext;

// Sub-category names for PClassInfo2::subCategories.
namespace PlugType {
constexpr const CString kFx = "Fx";
constexpr const CString kFxAnalyzer = "Fx|Analyzer";
constexpr const CString kFxTools = "Fx|Tools";
constexpr const CString kInstrument = "Instrument";
constexpr const CString kInstrumentSynth = "Instrument|Synth";
constexpr const CString kMono = "Mono";
constexpr const CString kStereo = "Stereo";
} // namespace PlugType

// Flags for PClassInfo2::classFlags of an audio module class.
enum ComponentFlags {
  kDistributable = 1 << 0,
  kSimpleModeSupported = 1 << 1
};

enum SymbolicSampleSizes { kSample32, kSample64 };

enum ProcessModes { kRealtime, kPrefetch, kOffline };

static const uint32 kNoTail = 0;
static const uint32 kInfiniteTail = kMaxInt32u;

struct ProcessSetup {
  int32 processMode;        // ProcessModes
  int32 symbolicSampleSize; // SymbolicSampleSizes
  int32 maxSamplesPerBlock;
  SampleRate sampleRate;
};

// Channel buffers of one audio bus for one block.
struct AudioBusBuffers {
  int32 numChannels = 0;
  uint64 silenceFlags = 0; // bit n set: channel n is silent
  union {
    Sample32 **channelBuffers32;
    Sample64 **channelBuffers64 = nullptr;
  };
};

// Everything one process call receives.
struct ProcessData {
  int32 processMode = 0;
  int32 symbolicSampleSize = kSample32;
  int32 numSamples = 0;
  int32 numInputs = 0;  // audio input buses
  int32 numOutputs = 0; // audio output buses
  AudioBusBuffers *inputs = nullptr;
  AudioBusBuffers *outputs = nullptr;

  IParameterChanges *inputParameterChanges = nullptr;
  IParameterChanges *outputParameterChanges = nullptr; // optional
  IEventList *inputEvents = nullptr;                   // optional
  IEventList *outputEvents = nullptr;                  // optional
  ProcessContext *processContext = nullptr;            // optional
};

class IAudioProcessor : public FUnknown {
public:
  virtual tresult PLUGIN_API setBusArrangements(SpeakerArrangement *inputs, int32 numIns,
                                                SpeakerArrangement *outputs, int32 numOuts) = 0;
  virtual tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index,
                                               SpeakerArrangement &arr) = 0;
  virtual tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) = 0;
  virtual uint32 PLUGIN_API getLatencySamples() = 0;
  virtual tresult PLUGIN_API setupProcessing(ProcessSetup &setup) = 0;
  virtual tresult PLUGIN_API setProcessing(TBool state) = 0;
  virtual tresult PLUGIN_API process(ProcessData &data) = 0;
  virtual uint32 PLUGIN_API getTailSamples() = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IAudioProcessor, 0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D)

// Which ProcessContext fields the processor needs.
class IProcessContextRequirements : public FUnknown {
public:
  enum Flags {
    kNeedSystemTime = 1 << 0,
    kNeedContinousTimeSamples = 1 << 1,
    kNeedProjectTimeMusic = 1 << 2,
    kNeedBarPositionMusic = 1 << 3,
    kNeedCycleMusic = 1 << 4,
    kNeedSamplesToNextClock = 1 << 5,
    kNeedTempo = 1 << 6,
    kNeedTimeSignature = 1 << 7,
    kNeedChord = 1 << 8,
    kNeedFrameRate = 1 << 9,
    kNeedTransportState = 1 << 10
  };
  virtual uint32 PLUGIN_API getProcessContextRequirements() = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IProcessContextRequirements, 0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0)

} // namespace Vst
} // namespace Steinberg
