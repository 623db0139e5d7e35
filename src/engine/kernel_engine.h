// KernelEngine: the kernel's only caller inside the plug-in. It validates the
// host's configuration, owns one kernel instance, queues a block's notes and
// parameter values in frame order, cuts host blocks into 128-frame kernel
// calls, keeps the kernel's parameters in step with its own values, and turns
// kernel output into MIDI records.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "banks/pad_overrides.h"
#include "engine/runtime_diagnostics.h"
#include "params/params.h"

namespace norva {

struct StagedBank; // staged by the bank loader; this engine refuses every one

struct KernelEngineEvent {
  uint32_t kind = 0; // 0 parameter, 1 note on, 2 note off, 3 controller
  int32_t frame = 0;
  uint32_t a = 0; // parameter index (kind 0) or controller number (kind 3)
  double value = 0;
  uint32_t note = 0;
  uint32_t route = 0;
  uint32_t channel = 0;
};

struct KernelEngineMidi {
  uint32_t frame = 0; // offset within the whole host block
  uint8_t status = 0; // 0x90, 0x80 or 0xB0 with the sequencer's MIDI channel
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

// True once the kernel runtime has delivered a trap in this process.
bool kernelTrapped();

class KernelEngine {
public:
  static constexpr double kReferenceRate = 48000.0;
  static constexpr int32_t kKernelChunk = 128;
  static constexpr int32_t kMaxBlockCeiling = 16384;
  static constexpr uint64_t kFifoCapacityCeiling = 1048576;
  static constexpr int kFilterPhases = 1024;
  static constexpr int kFilterTaps = 32;
  static constexpr int32_t kQueueCapacity = 2048;
  static constexpr int32_t kMidiCapacity = 2048;
  static constexpr uint32_t kParamCount = norva::kParamCount;

  KernelEngine();
  ~KernelEngine();
  KernelEngine(const KernelEngine &) = delete;
  KernelEngine &operator=(const KernelEngine &) = delete;

  // Main thread. Replaces the kernel instance; false when not ready.
  bool setup(double sampleRate, int32_t maxBlockFrames);

  // Audio thread: the block's events, then the block.
  bool pushParamNormalized(uint32_t index, double normalized, int32_t frame);
  bool pushNoteOn(int32_t note, double velocity, int32_t frame, uint32_t route, uint32_t channel);
  bool pushNoteOff(int32_t note, int32_t frame, uint32_t route, uint32_t channel);
  bool pushController(uint32_t controller, uint32_t value, int32_t frame, uint32_t route,
                      uint32_t channel);
  // The processor's entry: the output array doubles as the side inputs.
  void processBlock(const float *const *inputs, int32_t inputCount, float **outputs,
                    int32_t outputCount, int32_t frames) {
    processBlock(inputs, inputCount, outputs, outputCount, outputs, outputCount, frames);
  }
  void processBlock(const float *const *inputs, int32_t inputCount, float **sideInputs,
                    int32_t sideInputCount, float **outputs, int32_t outputCount, int32_t frames);

  // The block's MIDI output, valid until the next processBlock.
  int32_t midiCount() const { return midiCount_; }
  const KernelEngineMidi &midi(int32_t i) const { return midi_[i]; }

  uint32_t eventInputCount() const { return 1; }
  uint32_t eventOutputCount() const { return 1; }
  uint32_t eventRouteForInput(uint32_t) const { return 0; }

  // Main thread: parameter values (plain) and the variation kept for state.
  void setParamValue(uint32_t index, double plain);
  double paramValue(uint32_t index) const;
  void setVariation(int32_t variation);
  int32_t variation() const { return variation_; }

  // Pushes one parameter to the kernel now; true when the kernel queued it.
  bool pushProductParameter(uint32_t index, int32_t frame, double plain, const char *source);

  // Banks and pad overrides (main thread).
  bool publishRuntimeBank(std::shared_ptr<const StagedBank> bank);
  bool publishSamplerPadOverrides(const SamplerPadOverrides &overrides);
  std::shared_ptr<const SamplerPadOverrides> padOverrides() const { return padOverrides_; }
  std::shared_ptr<const StagedBank> publishedBank() const { return publishedBank_; }

  // Diagnostics.
  void recordDiagnostic(uint32_t code, uint8_t severity, uint8_t phase, const char *message,
                        const char *detail);
  void recordRealtimeDiagnostic(uint32_t code, uint8_t severity, uint8_t phase) noexcept;
  void drainRuntimeDiagnostics();
  bool realtimeDiagnosticsPending() const { return realtime_.hasPending(); }
  const norva_runtime_diagnostic_ring &diagnostics() const { return ring_; }

  // Configuration as set up.
  bool ready() const { return ready_; }
  bool rateConverted() const { return rateConverted_; }
  double sampleRate() const { return sampleRate_; }
  int32_t maxBlockFrames() const { return maxBlockFrames_; }
  uint64_t rateNumerator() const { return rateNumerator_; }
  uint64_t rateDenominator() const { return rateDenominator_; }
  uint64_t fifoCapacity() const { return fifoCapacity_; }
  uint32_t kernelHandle() const { return handle_; }
  double kernelRate() const { return kernelRate_; }
  const float *interpolationTable(int direction) const;

private:
  bool offerParameter(uint32_t index, int32_t frame, double plain, const char *source, bool fresh);
  void publishDirtyParameters(const bool *excluded);
  // A chunk's inputs: its trace line, the republish and its queued events.
  // Returns the index of the first event not yet delivered.
  int32_t deliverChunkInputs(FILE *trace, int32_t frames, int32_t off, int32_t chunk, int32_t next,
                             const bool *frameZero);
  void refuseBlock(float **outputs, int32_t outputCount, int32_t frames, uint8_t severity);
  void sortQueue();
  bool queueEvent(const KernelEngineEvent &event);
  // The chunks of a block with queued events, a trace, or parameters pushed
  // since the last kernel call.
  void runQueuedBlock(int32_t frames);
  // A chunk of an unqueued block that starts with a republish.
  void runRepublishingChunk(int32_t off, int32_t chunk);
  // After a kernel call that may have taken parameters: settles them if it
  // did or the call failed, reads the output otherwise.
  void finishChunk(double status, int32_t off, int32_t chunk);
  // After a kernel call that failed or took parameters: settle the
  // parameters it was offered, read the output of a call that ran, report.
  void settleChunk(double status, int32_t off, int32_t chunk);
  void readChunkOutput(int32_t off, int32_t chunk);
  void readChunkRecords(int32_t off, int32_t chunk, uint32_t count);
  uint8_t kernelChannel() const;
  void buildInterpolationTables();
  void destroyKernel();

  // Configuration.
  double sampleRate_ = kReferenceRate;
  int32_t maxBlockFrames_ = 0;
  uint64_t rateNumerator_ = 48000;
  uint64_t rateDenominator_ = 1;
  bool ready_ = false;
  bool rateConverted_ = false;
  bool converterPrimed_ = false;
  uint64_t fifoCapacity_ = 0;
  std::vector<float> fifos_[4];
  std::vector<uint8_t> scratch_;
  std::vector<float> tables_[2];
  double tablesRate_ = 0; // the rate the tables were built for
  uint64_t converterPositions_[8] = {};
  uint32_t handle_ = 0;
  FILE *trace_ = nullptr; // the process-wide trace file, looked up at setup
  double kernelRate_ = 0;
  float *kernelInput_ = nullptr;
  uint32_t kernelInputCount_ = 0;
  float *kernelOutput_ = nullptr;
  uint32_t kernelOutputCount_ = 0;

  // Events and parameters.
  KernelEngineEvent queue_[kQueueCapacity];
  int32_t queueCount_ = 0;
  double values_[kParamCount];
  double shadow_[kParamCount];
  // Set for a value the kernel dropped at process time and that is being
  // offered again; its repeated rejection is not reported again.
  bool retrying_[kParamCount] = {};
  // Parameters pushed since the last kernel call, to re-offer those the
  // kernel may have dropped; at most one kernel queue's worth. Emptied
  // after every call.
  static constexpr int32_t kPushedCapacity = 64;
  uint8_t pushed_[kPushedCapacity] = {};
  int32_t pushedCount_ = 0;
  bool pushedFresh_ = false;
  uint32_t retryCursor_ = 0;
  std::atomic<bool> paramsDirty_{true};
  int32_t variation_ = 0;

  // Output.
  static constexpr uint8_t kNotSounding = 0xFF;
  uint8_t soundingChannel_[128]; // per note: the channel its note-on went out on
  KernelEngineMidi midi_[kMidiCapacity];
  int32_t midiCount_ = 0;

  // Banks.
  std::shared_ptr<const SamplerPadOverrides> padOverrides_;
  std::shared_ptr<const StagedBank> publishedBank_;

  // Diagnostics.
  norva_runtime_diagnostic_ring ring_;
  RealtimeDiagnosticQueue realtime_;
};

} // namespace norva
