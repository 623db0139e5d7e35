// Runtime diagnostics of the kernel engine: a ring of records written on the
// main thread, a lock-free single-producer/single-consumer queue the audio
// thread posts into, and the "norva-runtime-health/v1" report.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace norva {

struct norva_runtime_diagnostic {
  uint32_t sequence;
  uint32_t code;
  uint8_t severity;
  uint8_t phase;
  uint16_t reserved;
  char message[192];
  char detail[128];
};

inline constexpr uint32_t kDiagnosticRingCapacity = 32;

struct norva_runtime_diagnostic_ring {
  uint32_t version = 1;
  uint32_t nextSequence = 1;
  uint32_t dropped = 0;
  uint32_t firstError = 0;
  uint32_t count = 0;
  norva_runtime_diagnostic records[kDiagnosticRingCapacity] = {};
};

enum DiagnosticSeverity : uint8_t {
  kSeverityInfo = 0,
  kSeverityWarning = 1,
  kSeverityError = 2,
  kSeverityFatal = 3,
};

enum DiagnosticPhase : uint8_t {
  kPhaseBuild = 0,
  kPhasePackage,
  kPhaseInstall,
  kPhaseScan,
  kPhaseLoad,
  kPhaseConfigure,
  kPhaseActivate,
  kPhaseProcess,
  kPhasePreset,
  kPhaseState,
  kPhaseEditor,
  kPhaseShutdown,
};

enum DiagnosticCode : uint32_t {
  kDiagKernelCreateFailed = 1,
  kDiagRateAdapterInitFailed = 2,
  kDiagProcessFailed = 4,
  kDiagStateRestoreFailed = 9,
  kDiagInvalidConfiguration = 14,
  kDiagEngineUnavailable = 15,
  kDiagEventRejected = 22,
  kDiagDiagnosticsOverflow = 25,
  kDiagBankMissing = 27,
  kDiagBankHashMismatch = 28,
  kDiagFollowHostFallback = 29,
};

// Report names: "runtime.process-failed", "error", "configure"; unknown
// values map to "runtime.unknown", "error" and "process".
const char *diagnosticCodeName(uint32_t code);
const char *diagnosticSeverityName(uint8_t severity);
const char *diagnosticPhaseName(uint8_t phase);

// Main thread: stores a record (null texts as empty, long texts cut) or
// counts it as dropped when the ring is full.
void recordDiagnostic(norva_runtime_diagnostic_ring &ring, uint32_t code, uint8_t severity,
                      uint8_t phase, const char *message, const char *detail);

// Main thread: the record a drain leaves when the audio thread's posts found
// the queue full ("dropped=<count>; source=audio callback").
void recordRealtimeOverflow(norva_runtime_diagnostic_ring &ring, uint32_t dropped);

// The audio thread's side of the diagnostics: 32 slots, head advanced by the
// producer, tail by the consumer, and an overflow counter.
class RealtimeDiagnosticQueue {
public:
  static constexpr uint32_t kCapacity = 32;

  // Audio thread. Never blocks, never allocates.
  void post(uint32_t code, uint8_t severity, uint8_t phase) noexcept;
  // Main thread: moves every posted entry into the ring, then records one
  // overflow diagnostic when posts were lost, keeping the ring's place for
  // it while one is left.
  void drainInto(norva_runtime_diagnostic_ring &ring);
  // Main thread: true when entries wait or posts overflowed.
  bool hasPending() const noexcept;

private:
  struct Entry {
    uint32_t code;
    uint8_t severity;
    uint8_t phase;
    uint16_t zero;
  };
  Entry slots_[kCapacity] = {};
  std::atomic<uint32_t> head_{0};
  std::atomic<uint32_t> tail_{0};
  std::atomic<uint32_t> overflow_{0};
};

// The health report text. moduleId and version may be null ("unknown").
std::string writeRuntimeHealthJson(const norva_runtime_diagnostic_ring &ring, const char *moduleId,
                                   const char *version, double sampleRate, int32_t maxBlockFrames,
                                   bool failed);

} // namespace norva
