// Host and transport facts: two fixed-size, pointer-free records that the
// processor sends to the controller as raw bytes ("norva.diag.hostFacts" with a
// HostFacts, "norva.diag.transport" with a TransportFact). Processor and
// controller are built from these definitions, so the byte layout is a wire
// format between them: little-endian, natural alignment, offsets pinned below.
//
// Also here: the change detection between two HostFacts, the lock-free ring the
// audio thread hands transport snapshots through, and the editor messages
// "norva.hostChanged" and "norva.transport".
//
// Bytes that arrive from the other component are untrusted: take them only
// through hostFactsFromBytes / transportFactFromBytes, which refuse a wrong size
// and sanitise the copy. Every reader in this file (comparisons and writers)
// is nevertheless safe on a record holding arbitrary bytes.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace norva {

static_assert(std::endian::native == std::endian::little, "the fact records are little-endian on the wire");

// Validator host kinds (HostFacts::validatorHost).
enum DiagnosticValidatorHost : uint8_t {
  kValidatorHostNone = 0,
  kValidatorHostPluginval = 1,
  kValidatorHostClapValidator = 2,
  kValidatorHostAuval = 3,
  kValidatorHostSteinberg = 4,
  kValidatorHostNorvaProbe = 5,
};

// HostFacts::processMode.
enum HostProcessMode : int32_t {
  kHostProcessRealtime = 0,
  kHostProcessOffline = 1,
  kHostProcessPrefetch = 2,
};

// HostFacts::tailKind.
enum HostTailKind : int32_t {
  kHostTailUnreported = 0,
  kHostTailSamples = 1,
  kHostTailInfinite = 2,
};

// TransportFact::source.
enum TransportSource : uint8_t {
  kTransportSourceNone = 0,
  kTransportSourceHost = 1,
  kTransportSourceInternal = 2,
};

inline constexpr uint32_t kHostFactsMaxBuses = 8;
inline constexpr size_t kHostFactsBytes = 1312;
inline constexpr size_t kTransportFactBytes = 88;

// One audio bus of the processor (68 bytes). Flags are 1 for set; any other
// value reads as clear.
struct HostBusFact {
  char id[32];         // "in0", "out1", ...; NUL-terminated
  uint8_t isInput;
  uint8_t reserved0[3];
  int32_t channels;
  uint8_t active;
  char layout[24];     // "stereo", "mono" or empty
  uint8_t reserved1[3];
};

struct HostFacts {
  char hostName[128] = {};     // empty when unknown
  char hostVersion[64] = {};
  char hostPath[512] = {};
  uint8_t validatorHost = kValidatorHostNone;
  uint8_t reserved0[7] = {};
  double sampleRate = 0;       // 0 when unknown
  int32_t maxBlockFrames = 0;  // 0 when unknown
  int32_t lastBlockFrames = -1; // -1 when unknown
  int32_t processMode = kHostProcessRealtime;
  int32_t sampleSize = 32;     // bits per sample: 32 or 64
  int32_t latencySamples = 0;
  int32_t tailKind = kHostTailUnreported;
  int32_t tailSamples = 0;     // meaningful when tailKind is kHostTailSamples
  uint8_t reserved1[4] = {};
  double internalSampleRate = 0; // 0 when not used
  uint8_t bypassKnown = 0;     // 1 when the bypass state is known
  uint8_t bypassed = 0;
  uint8_t reserved2[2] = {};
  HostBusFact buses[kHostFactsMaxBuses] = {};
  uint32_t busCount = 0;       // 0..8

  // Fills the next bus entry while fewer than 8 are in use; a ninth call is
  // ignored. The id is cut to 31 bytes, the layout to 23; null stores empty.
  void addBus(const char *id, bool isInput, int32_t channels, bool active, const char *layout);

  // busCount clamped to the capacity of buses: what every reader iterates.
  uint32_t usedBusCount() const noexcept {
    return busCount < kHostFactsMaxBuses ? busCount : kHostFactsMaxBuses;
  }
};

static_assert(sizeof(HostBusFact) == 68);
static_assert(offsetof(HostBusFact, id) == 0);
static_assert(offsetof(HostBusFact, isInput) == 32);
static_assert(offsetof(HostBusFact, reserved0) == 33);
static_assert(offsetof(HostBusFact, channels) == 36);
static_assert(offsetof(HostBusFact, active) == 40);
static_assert(offsetof(HostBusFact, layout) == 41);
static_assert(offsetof(HostBusFact, reserved1) == 65);

static_assert(sizeof(HostFacts) == kHostFactsBytes);
static_assert(offsetof(HostFacts, hostName) == 0);
static_assert(offsetof(HostFacts, hostVersion) == 128);
static_assert(offsetof(HostFacts, hostPath) == 192);
static_assert(offsetof(HostFacts, validatorHost) == 704);
static_assert(offsetof(HostFacts, reserved0) == 705);
static_assert(offsetof(HostFacts, sampleRate) == 712);
static_assert(offsetof(HostFacts, maxBlockFrames) == 720);
static_assert(offsetof(HostFacts, lastBlockFrames) == 724);
static_assert(offsetof(HostFacts, processMode) == 728);
static_assert(offsetof(HostFacts, sampleSize) == 732);
static_assert(offsetof(HostFacts, latencySamples) == 736);
static_assert(offsetof(HostFacts, tailKind) == 740);
static_assert(offsetof(HostFacts, tailSamples) == 744);
static_assert(offsetof(HostFacts, reserved1) == 748);
static_assert(offsetof(HostFacts, internalSampleRate) == 752);
static_assert(offsetof(HostFacts, bypassKnown) == 760);
static_assert(offsetof(HostFacts, bypassed) == 761);
static_assert(offsetof(HostFacts, reserved2) == 762);
static_assert(offsetof(HostFacts, buses) == 764);
static_assert(offsetof(HostFacts, busCount) == 1308);
static_assert(std::is_trivially_copyable_v<HostFacts> && std::is_standard_layout_v<HostFacts>);

// One snapshot of the host transport (88 bytes). Flags are 1 for set; any
// other value reads as clear.
struct TransportFact {
  uint64_t atFrame = 0;           // sample position of the snapshot
  uint8_t source = kTransportSourceNone;
  uint8_t playing = 0;
  uint8_t recording = 0;
  uint8_t looping = 0;
  uint8_t hasTempo = 0;           // capabilities: what the host supplied
  uint8_t hasTimeSignature = 0;
  uint8_t hasPosition = 0;
  uint8_t hasLoop = 0;
  uint8_t canSetTempo = 0;
  uint8_t reserved[7] = {};
  double tempo = 120.0;           // beats per minute
  int32_t numerator = 4;
  int32_t denominator = 4;
  double ppqPosition = 0;
  double barPositionPpq = 0;
  double loopStartPpq = 0;
  double loopEndPpq = 0;
  double sampleRate = 0;
  int64_t projectTimeSamples = 0;

  // True when anything but the positions (atFrame, ppqPosition,
  // barPositionPpq, projectTimeSamples) differs. Two NaNs compare equal.
  bool differsFrom(const TransportFact &other) const noexcept;
};

static_assert(sizeof(TransportFact) == kTransportFactBytes);
static_assert(offsetof(TransportFact, atFrame) == 0);
static_assert(offsetof(TransportFact, source) == 8);
static_assert(offsetof(TransportFact, playing) == 9);
static_assert(offsetof(TransportFact, recording) == 10);
static_assert(offsetof(TransportFact, looping) == 11);
static_assert(offsetof(TransportFact, hasTempo) == 12);
static_assert(offsetof(TransportFact, hasTimeSignature) == 13);
static_assert(offsetof(TransportFact, hasPosition) == 14);
static_assert(offsetof(TransportFact, hasLoop) == 15);
static_assert(offsetof(TransportFact, canSetTempo) == 16);
static_assert(offsetof(TransportFact, reserved) == 17);
static_assert(offsetof(TransportFact, tempo) == 24);
static_assert(offsetof(TransportFact, numerator) == 32);
static_assert(offsetof(TransportFact, denominator) == 36);
static_assert(offsetof(TransportFact, ppqPosition) == 40);
static_assert(offsetof(TransportFact, barPositionPpq) == 48);
static_assert(offsetof(TransportFact, loopStartPpq) == 56);
static_assert(offsetof(TransportFact, loopEndPpq) == 64);
static_assert(offsetof(TransportFact, sampleRate) == 72);
static_assert(offsetof(TransportFact, projectTimeSamples) == 80);
static_assert(std::is_trivially_copyable_v<TransportFact> && std::is_standard_layout_v<TransportFact>);

// Names used in the JSON texts. validatorHostName gives null for kind 0 and
// anything outside the table; the others fall back to "realtime" and "none".
const char *validatorHostName(uint8_t kind);
const char *hostProcessModeName(int32_t mode);
const char *transportSourceName(uint8_t source);

// Records received from the other component. Refuse (false, out untouched)
// unless size is exactly the record's size and bytes is not null. Otherwise
// out receives a sanitised copy (see sanitiseHostFacts / sanitiseTransportFact).
bool hostFactsFromBytes(const void *bytes, size_t size, HostFacts &out);
bool transportFactFromBytes(const void *bytes, size_t size, TransportFact &out);

// In place: every text ends with a NUL inside its array, bytes after it are
// zero, control bytes and malformed UTF-8 become '?'; busCount is clamped to 8
// and unused bus entries are zeroed; out-of-table kinds become the default
// (validator none, realtime, tail unreported, 32-bit samples); flags become 0
// or 1 (only 1 means set); reserved bytes become 0; non-finite sample rates
// become 0 (unknown).
void sanitiseHostFacts(HostFacts &facts);
// In place: source outside the table becomes none, flags 0 or 1, reserved
// bytes 0; a non-finite tempo becomes 120, every other non-finite double 0.
void sanitiseTransportFact(TransportFact &fact);

// The change-kind name for previous -> current ("sampleRateChanged",
// "blockSizeChanged", "busLayoutChanged", "latencyChanged", "tailChanged",
// "processModeChanged", "bypassChanged", "configured"), or null for none.
// Host identity (name, version, path, validator kind) never counts.
const char *diagnosticHostChangeKind(const HostFacts &previous, const HostFacts &current);

// Appends the full host object.
void writeDiagnosticHostJson(std::string &out, const HostFacts &facts);
// Appends an object of the fields that changed, with their current values,
// and returns true; appends nothing and returns false when none did.
bool writeDiagnosticHostDeltaJson(std::string &out, const HostFacts &previous, const HostFacts &current);
// Appends a "norva.hostChanged" message when the delta is not empty, with an
// "event" block when there is a change kind. Returns whether it wrote one.
bool writeDiagnosticHostChangedJson(std::string &out, const HostFacts &previous, const HostFacts &current,
                                    uint32_t seq, double timeMs);

// Appends a "norva.transport" message for one snapshot.
void writeDiagnosticTransportJson(std::string &out, const TransportFact &fact);

// Single-producer (audio thread), single-consumer (main thread) ring of
// transport snapshots. The producer never blocks: when Capacity snapshots
// wait, the oldest is overwritten and counted. The consumer takes only the
// newest. The plug-in uses DiagnosticTransportRing (32 slots); small
// capacities exist so that tests can make the two sides collide often.
template <uint32_t Capacity> class TransportFactRing {
public:
  static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two, at least 2");
  static constexpr uint32_t kCapacity = Capacity;

  TransportFactRing() noexcept;
  TransportFactRing(const TransportFactRing &) = delete;
  TransportFactRing &operator=(const TransportFactRing &) = delete;

  // Audio thread. Never blocks, never allocates.
  void push(const TransportFact &fact) noexcept;
  // Main thread: copies the newest snapshot into out, marks everything up to
  // it as taken and returns true; false when nothing new waits (out
  // untouched). Also false, exceptionally, when the producer kept overwriting
  // the newest slot while it was being copied; the next call picks it up.
  bool drainLatest(TransportFact &out) noexcept;

  // Snapshots waiting (0..Capacity) and snapshots overwritten so far.
  uint32_t pending() const noexcept;
  uint32_t overruns() const noexcept { return overrun_.load(std::memory_order_relaxed); }

private:
  static constexpr size_t kWords = kTransportFactBytes / sizeof(uint64_t);
  // A slot holds a fact's bytes as relaxed atomic words, so that a copy racing
  // with an overwrite is a detectable event rather than a data race.
  struct Slot {
    std::atomic<uint64_t> words[kWords];
  };
  static_assert(sizeof(Slot) == kTransportFactBytes);
  static_assert(std::atomic<uint64_t>::is_always_lock_free);

  Slot slots_[Capacity];
  std::atomic<uint32_t> head_{0};
  std::atomic<uint32_t> tail_{0};
  std::atomic<uint32_t> overrun_{0};
};

using DiagnosticTransportRing = TransportFactRing<32>;

// Snapshot i lives in slots_[i % Capacity] until the producer comes round to
// i + Capacity. The producer publishes snapshot i by storing head = i + 1
// after its words; the consumer copies slot head - 1 and then checks that the
// producer has not yet started on head - 1 + Capacity, the next snapshot to
// reuse that slot (it starts only after publishing head = head - 1 + Capacity).
// The release fence before the producer's word stores and the acquire fence
// after the consumer's word loads make a word read from such a later snapshot
// imply that the consumer's second look at head sees it published.
//
// Both sides move tail: the producer drops the oldest snapshot with a
// compare-exchange, so a drain that moved tail meanwhile is never undone (and
// then there is room again), and the consumer only ever moves tail forward.
// A drained snapshot is therefore never delivered twice.

template <uint32_t Capacity> TransportFactRing<Capacity>::TransportFactRing() noexcept {
  const TransportFact fact;
  uint64_t words[kWords];
  std::memcpy(words, &fact, sizeof words);
  for (Slot &slot : slots_)
    for (size_t w = 0; w < kWords; ++w) slot.words[w].store(words[w], std::memory_order_relaxed);
}

template <uint32_t Capacity> void TransportFactRing<Capacity>::push(const TransportFact &fact) noexcept {
  const uint32_t head = head_.load(std::memory_order_acquire);
  uint32_t tail = tail_.load(std::memory_order_acquire);
  if (head - tail >= Capacity) {
    if (tail_.compare_exchange_strong(tail, tail + 1, std::memory_order_seq_cst, std::memory_order_acquire))
      overrun_.fetch_add(1, std::memory_order_relaxed);
  }
  std::atomic_thread_fence(std::memory_order_release);
  Slot &slot = slots_[head % Capacity];
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&fact);
#pragma GCC unroll 16
  for (size_t w = 0; w < kWords; ++w) {
    uint64_t word;
    std::memcpy(&word, bytes + w * sizeof word, sizeof word);
    slot.words[w].store(word, std::memory_order_relaxed);
  }
  head_.store(head + 1, std::memory_order_seq_cst);
}

template <uint32_t Capacity> bool TransportFactRing<Capacity>::drainLatest(TransportFact &out) noexcept {
  constexpr int kAttempts = 8;
  uint32_t head = head_.load(std::memory_order_acquire);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (head == tail_.load(std::memory_order_acquire)) return false;
    const Slot &slot = slots_[(head - 1) % Capacity];
    uint64_t words[kWords];
    for (size_t w = 0; w < kWords; ++w) words[w] = slot.words[w].load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    const uint32_t now = head_.load(std::memory_order_acquire);
    if (now - head <= Capacity - 2) {
      std::memcpy(static_cast<void *>(&out), words, sizeof words);
      uint32_t tail = tail_.load(std::memory_order_acquire);
      while (static_cast<int32_t>(head - tail) > 0 &&
             !tail_.compare_exchange_weak(tail, head, std::memory_order_seq_cst, std::memory_order_acquire)) {
      }
      return true;
    }
    head = now;  // overwritten while copying: take the newer one
  }
  return false;
}

template <uint32_t Capacity> uint32_t TransportFactRing<Capacity>::pending() const noexcept {
  const uint32_t tail = tail_.load(std::memory_order_acquire);
  const uint32_t head = head_.load(std::memory_order_acquire);
  const uint32_t count = head - tail;
  return count < Capacity ? count : Capacity;
}

} // namespace norva
