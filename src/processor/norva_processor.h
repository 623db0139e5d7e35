// NorvaProcessor: the plug-in's audio processor. No audio buses: one event
// input and one event output around the kernel engine. It answers the host's
// processing questions, reports host facts, the host's transport and runtime
// diagnostics to the controller, and keeps the plug-in state.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "banks/published_banks.h"
#include "ccmap/cc_map.h"
#include "diagnostics/host_facts.h"
#include "engine/kernel_engine.h"
#include "params/authored_plane.h"
#include "processor/plane_edit_queue.h"
#include "state/state_document.h"
#include "vst3/abi/ivstprocesscontext.h"
#include "vst3/sdk/vstaudioeffect.h"

namespace norva {

// What the processor reads of the host's ProcessContext, its answer to
// IProcessContextRequirements: the transport state, tempo, time signature,
// the musical and bar positions, the cycle, and the continuous sample time
// that stamps each snapshot.
inline constexpr Steinberg::uint32 kTransportContextNeeds =
    Steinberg::Vst::IProcessContextRequirements::kNeedTransportState |
    Steinberg::Vst::IProcessContextRequirements::kNeedTempo |
    Steinberg::Vst::IProcessContextRequirements::kNeedTimeSignature |
    Steinberg::Vst::IProcessContextRequirements::kNeedProjectTimeMusic |
    Steinberg::Vst::IProcessContextRequirements::kNeedBarPositionMusic |
    Steinberg::Vst::IProcessContextRequirements::kNeedCycleMusic |
    Steinberg::Vst::IProcessContextRequirements::kNeedContinousTimeSamples;

class NorvaProcessor : public Steinberg::Vst::AudioEffect {
public:
  NorvaProcessor();
  ~NorvaProcessor() override;

  static Steinberg::FUnknown *createInstance(void *context);

  // IComponent
  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown *context) override;
  Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream *state) override;
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream *state) override;
  // IConnectionPoint
  Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage *message) override;
  // IAudioProcessor
  Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement *inputs,
                                                   Steinberg::int32 numIns,
                                                   Steinberg::Vst::SpeakerArrangement *outputs,
                                                   Steinberg::int32 numOuts) override;
  Steinberg::tresult PLUGIN_API canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
  Steinberg::uint32 PLUGIN_API getLatencySamples() override;
  Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup &setup) override;
  // Kept whole: split into a test and a part, it costs a jump and a second frame per block.
  [[gnu::noipa]] Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData &data) override;

  // For tests and the probe.
  const KernelEngine &engine() const { return engine_; }
  const PublishedBanks &banks() const { return banks_; }
  const HostFacts &lastHostFacts() const { return lastHostFacts_; }
  const CcMap &ccMap() const { return ccMap_; }
  bool ccMapPresent() const { return ccMapPresent_; }
  const std::string &loadedPresetId() const { return loadedPresetId_; }
  const std::string &runtimeBankSource() const { return runtimeBankSource_; }
  const std::string &runtimeBankLocator() const { return runtimeBankLocator_; }
  // Main thread: the authored plane as the next getState saves it, but for
  // the selected pattern's velocities and length, which the step-velocity
  // parameters and Length own.
  const uint8_t (&plane())[kPlaneBytes] {
    takeLeftRows();
    return plane_;
  }

  // Sends the runtime health report ("norva.runtimeDiagnostics").
  void sendRuntimeDiagnostics(bool failed);

private:
  void refreshHostFacts();
  void captureHostFacts(HostFacts &facts);
  // Each takes a non-null list holding at least one entry. Kept out of
  // process, whose usual block needs none of them.
  [[gnu::noinline]] void queueParameterChanges(Steinberg::Vst::IParameterChanges *changes,
                                               Steinberg::int32 queues);
  [[gnu::noinline]] void queueNoteEvents(Steinberg::Vst::IEventList *events, Steinberg::int32 count);
  [[gnu::noinline]] void writeOutputEvents(Steinberg::Vst::IEventList *events);
  [[gnu::noinline]] void writeParameterReports(Steinberg::Vst::IParameterChanges *changes);
  bool sendPayload(const char *id, const void *bytes, Steinberg::uint32 size);
  // The host's transport (processor_transport.cpp). Main thread, at set-up:
  // the next block with a context is sampled.
  void restartTransportCapture();
  // Audio thread, when a sample is wanted: takes it from the context (none:
  // the next block does) and pushes it into the ring unless it equals the
  // last one pushed.
  [[gnu::noinline]] void captureTransport(const Steinberg::Vst::ProcessContext *context);
  // Main thread: "norva.diag.transportPoll" sends the newest sample (or, on
  // "reset", the last one sent again) and asks for the next.
  void answerTransportPoll(Steinberg::Vst::IMessage *message);
  void recallSampleBank(const char *bankId);
  // The authored plane (processor_plane.cpp). Main thread: an edit or a
  // whole plane is kept here and handed to the audio thread; a plane the
  // hand-over had no room for goes whole at the next chance.
  void adoptPlaneField(const PlaneFieldSet &set);
  void sendPlaneToKernel();
  // The rows the step parameters left in the patterns selected before
  // (see KernelEngine::leftRows) into the plane.
  void takeLeftRows();
  void restartPlaneHandover();
  // The plane as saved: the selected pattern's velocities and length from the parameters.
  void planeForSaving(uint8_t (&bytes)[kPlaneBytes]) const;
  // Audio thread, before a block with plane edits waiting or the clock
  // watched: the edits into the engine's block (the last block's released),
  // and unless `clockSet` (the block was a steady one, see steadyClock), the
  // kernel's clock from the host's transport.
  [[gnu::noinline]] void prepareBlock(const Steinberg::Vst::ProcessData &data, bool clockSet);
  // Audio thread, while the clock is watched: the usual block while
  // following the host, settled without leaving process.
  bool steadyClock(const Steinberg::Vst::ProcessData &data) {
    constexpr Steinberg::uint32 kRolling = Steinberg::Vst::ProcessContext::kPlaying |
                                           Steinberg::Vst::ProcessContext::kTempoValid |
                                           Steinberg::Vst::ProcessContext::kProjectTimeMusicValid;
    const Steinberg::Vst::ProcessContext *c = data.processContext;
    return c != nullptr &&
           engine_.steadyClock((c->state & kRolling) == kRolling, c->tempo, c->projectTimeMusic, data.numSamples);
  }
  // Audio thread, while the kernel is idle (KernelEngine::kClockIdle) and
  // the block has plane edits or parameters to republish: the edits into
  // the block, and should the kernel have input, the clock woken and set.
  [[gnu::noinline]] void leaveIdleClock(const Steinberg::Vst::ProcessData &data, bool edits);
  // Audio thread, while bypassed: the block's input events go out as they came.
  [[gnu::noinline]] void passEventsThrough(Steinberg::Vst::IEventList *in, Steinberg::Vst::IEventList *out);
  void readHostTransport(const Steinberg::Vst::ProcessContext *context);

  // How a runtime-bank load ended: outcome 0 with the bank the engine took,
  // or the refusal with its error text.
  struct RuntimeBankAttempt {
    int outcome = kBankMissing;
    std::string error;
    std::shared_ptr<const StagedBank> bank;
  };
  // Main thread. Runs the loader on the folder (an empty path is a missing
  // bank) and offers the staged bank to the engine. A refusal is recorded as
  // a runtime diagnostic and the health report sent.
  RuntimeBankAttempt loadRuntimeBankFromPath(const std::string &path, const std::string &source,
                                             const std::string &instrument);
  void answerRuntimeBankRequest(const char *bytes, uint32_t size);
  // The folder a restored bank reference names; empty when it names none.
  static std::string restoredBankFolder(const StateChunk &chunk);
  // A warning in the health report: a document or message held numbers that
  // could not be written back (not finite, out of any field's range).
  void reportRefusedValues(const char *source, uint32_t count);

  KernelEngine engine_;
  PublishedBanks banks_;
  std::string runtimeBankSource_;
  std::string runtimeBankLocator_;
  std::string loadedPresetId_;
  CcMap ccMap_;
  bool ccMapPresent_ = false;
  HostFacts lastHostFacts_;

  // The authored plane: kept on the main thread, edits handed to the audio thread.
  uint8_t plane_[kPlaneBytes];
  bool planeResend_ = false;
  PlaneEditQueue planeEdits_;
  uint32_t planeTaken_ = 0; // audio thread: records the last block took, released by the next

  // The host's transport, from the audio thread to the main thread.
  DiagnosticTransportRing transportRing_;
  std::atomic<bool> transportWanted_{true}; // set by a poll, cleared by the sample
  TransportFact transportPushed_;           // audio thread: the last sample pushed
  TransportFact transportSent_;             // main thread: the last one sent, for "reset"
  bool transportKnown_ = false;             // main thread: transportSent_ holds a sample
  int transportPolls_ = 0;                  // main thread: polls since the last sample was asked for
};

} // namespace norva
