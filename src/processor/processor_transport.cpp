// The host's transport: sampled from the ProcessContext on the audio thread,
// handed to the main thread through the transport ring, and sent to the
// controller when it polls.
//
// A sample is taken when the controller has asked for one: every third poll
// (ten a second at the controller's cadence of 30) asks for the next, and the
// first block with a context after it takes it. So the audio thread samples
// at a fixed rate whatever the block size, and a block in which nobody asked
// costs one test. A change reaches the controller within a sample period and
// a poll. A sample equal to the last one pushed (a stopped transport) is not
// pushed again, so a poll then finds nothing new and sends nothing.
#include <array>
#include <cstddef>
#include <cstring>

#include "diagnostics/component_messages.h"
#include "processor/norva_processor.h"
#include "vst3/abi/ivstattributes.h"
#include "vst3/abi/ivstmessage.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Polls per sample asked for.
constexpr int kPollsPerSample = 3;

// The flag bytes of a fact, from source to hasLoop, make one little-endian
// word; each context state bit that sets one maps to its byte.
constexpr size_t kFlagsOffset = offsetof(TransportFact, source);
static_assert(offsetof(TransportFact, hasLoop) == kFlagsOffset + 7, "the flags are one word");

constexpr uint64_t flagByte(size_t offset) { return uint64_t(1) << (8 * (offset - kFlagsOffset)); }

// A context state bit and the flag it sets.
struct StateFlag {
  uint32 bit;
  size_t offset;
};

// The flag word of every value of the `Size` state bits from `shift` up.
template <size_t Size, size_t Count>
constexpr std::array<uint64_t, Size> flagTable(int shift, const StateFlag (&flags)[Count]) {
  std::array<uint64_t, Size> table{};
  for (uint32 i = 0; i < Size; ++i)
    for (const StateFlag &flag : flags)
      if ((i << shift) & flag.bit) table[i] |= flagByte(flag.offset);
  return table;
}

// State bits 1 to 3: playing, cycle active, recording.
constexpr int kStateShift = 1;
constexpr StateFlag kStateBits[] = {{ProcessContext::kPlaying, offsetof(TransportFact, playing)},
                                    {ProcessContext::kCycleActive, offsetof(TransportFact, looping)},
                                    {ProcessContext::kRecording, offsetof(TransportFact, recording)}};
constexpr auto kStateFlags = flagTable<8>(kStateShift, kStateBits);
static_assert(uint32(ProcessContext::kPlaying | ProcessContext::kCycleActive | ProcessContext::kRecording) ==
              7u << kStateShift);

// State bits 9 to 13: the valid bits of the position, tempo, bar position
// (no flag of its own), cycle and time signature.
constexpr int kValidShift = 9;
constexpr StateFlag kValidBits[] = {{ProcessContext::kProjectTimeMusicValid, offsetof(TransportFact, hasPosition)},
                                    {ProcessContext::kTempoValid, offsetof(TransportFact, hasTempo)},
                                    {ProcessContext::kCycleValid, offsetof(TransportFact, hasLoop)},
                                    {ProcessContext::kTimeSigValid, offsetof(TransportFact, hasTimeSignature)}};
constexpr auto kValidFlags = flagTable<32>(kValidShift, kValidBits);
static_assert(uint32(ProcessContext::kProjectTimeMusicValid | ProcessContext::kTempoValid |
                     ProcessContext::kBarPositionValid | ProcessContext::kCycleValid |
                     ProcessContext::kTimeSigValid) == 31u << kValidShift);

// Fields the host did not mark valid keep the record's defaults.
void readContext(const ProcessContext &context, TransportFact &fact) {
  const uint32 state = context.state;
  const int64 at = state & ProcessContext::kContTimeValid ? context.continousTimeSamples : context.projectTimeSamples;
  fact.atFrame = at > 0 ? uint64_t(at) : 0;
  const uint64_t flags = flagByte(offsetof(TransportFact, source)) * kTransportSourceHost |
                         kStateFlags[(state >> kStateShift) & 7] | kValidFlags[(state >> kValidShift) & 31];
  std::memcpy(reinterpret_cast<unsigned char *>(&fact) + kFlagsOffset, &flags, sizeof flags);
  if (state & ProcessContext::kTempoValid) fact.tempo = context.tempo;
  if (state & ProcessContext::kTimeSigValid) {
    fact.numerator = context.timeSigNumerator;
    fact.denominator = context.timeSigDenominator;
  }
  if (state & ProcessContext::kProjectTimeMusicValid) fact.ppqPosition = context.projectTimeMusic;
  if (state & ProcessContext::kBarPositionValid) fact.barPositionPpq = context.barPositionMusic;
  if (state & ProcessContext::kCycleValid) {
    fact.loopStartPpq = context.cycleStartMusic;
    fact.loopEndPpq = context.cycleEndMusic;
  }
  fact.sampleRate = context.sampleRate;
  fact.projectTimeSamples = context.projectTimeSamples;
}

// The same snapshot but for the frame it was taken at, bit for bit: a
// position that moved is news, a NaN the host keeps sending is not.
bool sameSnapshot(const TransportFact &a, const TransportFact &b) {
  constexpr size_t skip = sizeof a.atFrame;
  return std::memcmp(reinterpret_cast<const char *>(&a) + skip, reinterpret_cast<const char *>(&b) + skip,
                     sizeof a - skip) == 0;
}

} // namespace

void NorvaProcessor::restartTransportCapture() {
  transportPushed_ = TransportFact();
  transportWanted_.store(true, std::memory_order_relaxed);
}

void NorvaProcessor::captureTransport(const ProcessContext *context) {
  if (context == nullptr) return; // the next block with one takes the sample
  transportWanted_.store(false, std::memory_order_relaxed);
  TransportFact fact;
  readContext(*context, fact);
  // A playing transport has moved since the last sample.
  if (!fact.playing && sameSnapshot(fact, transportPushed_)) return;
  transportPushed_ = fact;
  transportRing_.push(fact);
}

void NorvaProcessor::answerTransportPoll(IMessage *message) {
  int64 reset = 0;
  if (IAttributeList *attributes = message->getAttributes()) {
    if (attributes->getInt(kTransportPollResetAttribute, reset) != kResultOk) reset = 0;
  }
  const bool fresh = transportRing_.drainLatest(transportSent_);
  transportKnown_ = transportKnown_ || fresh;
  // A reset (the editor starting over) asks for a sample at once.
  if (reset != 0 || ++transportPolls_ >= kPollsPerSample) {
    transportPolls_ = 0;
    transportWanted_.store(true, std::memory_order_relaxed);
  }
  if (fresh || (reset != 0 && transportKnown_))
    sendPayload(kTransportFactMessage, &transportSent_, sizeof transportSent_);
}

} // namespace norva
