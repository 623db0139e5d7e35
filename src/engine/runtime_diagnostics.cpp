#include "engine/runtime_diagnostics.h"

#include <cmath>
#include <cstdio>

#include "formats/json.h"

namespace norva {

namespace {

const char *const kCodeNames[] = {
    nullptr,
    "runtime.kernel-create-failed",
    "runtime.rate-adapter-init-failed",
    "runtime.unsupported-processing-configuration",
    "runtime.process-failed",
    "runtime.suspicious-silence",
    "preset.bank-mismatch",
    "preset.processor-apply-failed",
    "state.decode-failed",
    "state.restore-failed",
    "editor.bundle-identity-mismatch",
    "editor.bridge-timeout",
    "install.artifact-stale",
    "install.duplicate-scan-candidate",
    "runtime.invalid-configuration",
    "runtime.engine-unavailable",
    "build.dependency-missing",
    "build.artifact-missing",
    "host.validator-missing",
    "runtime.realtime-violation",
    "runtime.nonfinite-audio",
    "runtime.callback-missing",
    "runtime.event-rejected",
    "runtime.host-connection-failed",
    "runtime.closed",
    "runtime.diagnostics-overflow",
    "runtime.unknown",
    "bank.missing",
    "bank.hash-mismatch",
    "transport.follow-fallback",
};
constexpr uint32_t kCodeNameCount = sizeof(kCodeNames) / sizeof(kCodeNames[0]);

const char *const kSeverityNames[] = {"info", "warning", "error", "fatal"};

const char *const kPhaseNames[] = {
    "build",  "package", "install", "scan",   "load",   "configure",
    "activate", "process", "preset", "state", "editor", "shutdown",
};
constexpr uint32_t kPhaseNameCount = sizeof(kPhaseNames) / sizeof(kPhaseNames[0]);

// Copies text (null as empty) into a fixed buffer, cutting it to capacity - 1
// characters and always terminating it.
template <size_t N> void copyText(char (&dst)[N], const char *text) {
  size_t n = 0;
  if (text != nullptr) {
    while (n + 1 < N && text[n] != '\0') {
      dst[n] = text[n];
      ++n;
    }
  }
  for (size_t i = n; i < N; ++i) dst[i] = '\0';
}

const char *realtimeMessage(uint32_t code) {
  if (code == kDiagProcessFailed) return "audio process callback failed; output was cleared";
  if (code == kDiagRateAdapterInitFailed) return "sample-rate adapter failed; output was cleared";
  if (code == kDiagFollowHostFallback)
    return "Follow host is on but the host gives no tempo and position; playing on the own tempo";
  return "runtime diagnostic observed on the audio callback";
}

void appendUnsigned(std::string &out, uint32_t value) {
  jsonAppendNumber(out, static_cast<double>(value));
}

void appendDiagnostic(std::string &out, const norva_runtime_diagnostic &d, const char *moduleId,
                      const char *version, double sampleRate, int32_t maxBlockFrames) {
  out += "{\"format\":\"norva-plugin-runtime-diagnostic/v1\",\"schemaVersion\":1,\"sequence\":";
  appendUnsigned(out, d.sequence);
  out += ",\"code\":";
  jsonAppendQuoted(out, diagnosticCodeName(d.code));
  out += ",\"severity\":";
  jsonAppendQuoted(out, diagnosticSeverityName(d.severity));
  out += ",\"phase\":";
  jsonAppendQuoted(out, diagnosticPhaseName(d.phase));
  out += ",\"component\":\"shell\",\"message\":";
  jsonAppendQuoted(out, d.message);
  out += ",\"recoverable\":";
  out += d.severity <= kSeverityWarning ? "true" : "false";
  out += ",\"identity\":{\"moduleId\":";
  jsonAppendQuoted(out, moduleId);
  out += ",\"version\":";
  jsonAppendQuoted(out, version);
  out += ",\"target\":\"vst3\"},\"configuration\":{\"sampleRate\":";
  jsonAppendNumber(out, sampleRate);
  out += ",\"maxBlockFrames\":";
  jsonAppendNumber(out, static_cast<double>(maxBlockFrames));
  out += "},\"occurrence\":{\"count\":1}";
  if (d.detail[0] != '\0') {
    out += ",\"context\":{\"detail\":";
    jsonAppendQuoted(out, d.detail);
    out += "}";
  }
  out += "}";
}

} // namespace

const char *diagnosticCodeName(uint32_t code) {
  if (code == 0 || code >= kCodeNameCount) return "runtime.unknown";
  return kCodeNames[code];
}

const char *diagnosticSeverityName(uint8_t severity) {
  if (severity > kSeverityFatal) return "error";
  return kSeverityNames[severity];
}

const char *diagnosticPhaseName(uint8_t phase) {
  if (phase >= kPhaseNameCount) return "process";
  return kPhaseNames[phase];
}

void recordDiagnostic(norva_runtime_diagnostic_ring &ring, uint32_t code, uint8_t severity,
                      uint8_t phase, const char *message, const char *detail) {
  const uint32_t sequence = ring.nextSequence++;
  if (ring.count >= kDiagnosticRingCapacity) {
    ++ring.dropped;
    return;
  }
  norva_runtime_diagnostic &d = ring.records[ring.count++];
  d.sequence = sequence;
  d.code = code;
  d.severity = severity;
  d.phase = phase;
  d.reserved = 0;
  copyText(d.message, message);
  copyText(d.detail, detail);
  if (severity >= kSeverityError && ring.firstError == 0) ring.firstError = sequence;
}

void recordRealtimeOverflow(norva_runtime_diagnostic_ring &ring, uint32_t dropped) {
  char detail[sizeof(norva_runtime_diagnostic::detail)];
  std::snprintf(detail, sizeof detail, "dropped=%u; source=audio callback",
                static_cast<unsigned>(dropped));
  recordDiagnostic(ring, kDiagDiagnosticsOverflow, kSeverityWarning, kPhaseProcess,
                   "audio diagnostic queue overflowed", detail);
}

void RealtimeDiagnosticQueue::post(uint32_t code, uint8_t severity, uint8_t phase) noexcept {
  // Only this thread writes head, so a relaxed read of our own index is enough.
  const uint32_t head = head_.load(std::memory_order_relaxed);
  const uint32_t tail = tail_.load(std::memory_order_acquire);
  if (head - tail >= kCapacity) {
    overflow_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  Entry &slot = slots_[head % kCapacity];
  slot.code = code;
  slot.severity = severity;
  slot.phase = phase;
  slot.zero = 0;
  head_.store(head + 1, std::memory_order_seq_cst);
}

void RealtimeDiagnosticQueue::drainInto(norva_runtime_diagnostic_ring &ring) {
  const uint32_t tail = tail_.load(std::memory_order_acquire);
  const uint32_t head = head_.load(std::memory_order_acquire);
  // Posts lost to a full queue leave one record, and the ring keeps a place
  // for it: the entries that would take that place are counted as dropped.
  const uint32_t lost = overflow_.exchange(0, std::memory_order_acq_rel);
  for (uint32_t i = tail; i != head; ++i) {
    const Entry entry = slots_[i % kCapacity];
    if (lost != 0 && ring.count + 1 >= kDiagnosticRingCapacity) {
      ++ring.nextSequence;
      ++ring.dropped;
      continue;
    }
    recordDiagnostic(ring, entry.code, entry.severity, entry.phase, realtimeMessage(entry.code),
                     "audio callback");
  }
  tail_.store(head, std::memory_order_release);
  if (lost != 0) recordRealtimeOverflow(ring, lost);
}

bool RealtimeDiagnosticQueue::hasPending() const noexcept {
  const uint32_t tail = tail_.load(std::memory_order_relaxed);
  return head_.load(std::memory_order_acquire) != tail ||
         overflow_.load(std::memory_order_relaxed) != 0;
}

std::string writeRuntimeHealthJson(const norva_runtime_diagnostic_ring &ring, const char *moduleId,
                                   const char *version, double sampleRate, int32_t maxBlockFrames,
                                   bool failed) {
  const char *id = moduleId != nullptr ? moduleId : "unknown";
  const char *ver = version != nullptr ? version : "unknown";
  const uint32_t count = ring.count < kDiagnosticRingCapacity ? ring.count : kDiagnosticRingCapacity;

  bool anyError = false;
  bool anyWarning = false;
  const norva_runtime_diagnostic *firstError = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const norva_runtime_diagnostic &d = ring.records[i];
    if (d.severity == kSeverityError || d.severity == kSeverityFatal) anyError = true;
    if (d.severity == kSeverityWarning) anyWarning = true;
    if (ring.firstError != 0 && firstError == nullptr && d.sequence == ring.firstError)
      firstError = &d;
  }
  const char *status = "healthy";
  if (failed || anyError)
    status = "failed";
  else if (ring.dropped != 0 || anyWarning)
    status = "degraded";

  std::string out;
  out.reserve(256 + static_cast<size_t>(count) * 640);
  out += "{\"format\":\"norva-runtime-health/v1\",\"schemaVersion\":1,\"instanceId\":\"vst3\","
         "\"lifecycle\":";
  out += failed ? "\"failed\"" : "\"configured\"";
  out += ",\"status\":";
  jsonAppendQuoted(out, status);
  out += ",\"counters\":{\"diagnostics\":";
  appendUnsigned(out, count);
  out += ",\"diagnostics.dropped\":";
  appendUnsigned(out, ring.dropped);
  out += "},\"diagnostics\":[";
  for (uint32_t i = 0; i < count; ++i) {
    if (i != 0) out += ",";
    appendDiagnostic(out, ring.records[i], id, ver, sampleRate, maxBlockFrames);
  }
  out += "]";
  if (firstError != nullptr) {
    out += ",\"firstError\":";
    appendDiagnostic(out, *firstError, id, ver, sampleRate, maxBlockFrames);
  }
  out += "}";
  return out;
}

} // namespace norva
