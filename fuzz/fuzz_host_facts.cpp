// Host and transport facts from arbitrary bytes. The input itself goes through
// the byte readers (refused unless its size is exact, the record untouched).
// Cut or zero-padded, it also makes two HostFacts and a TransportFact that are
// used both raw and through the readers:
// - a record from the readers is sanitised: texts terminated and clean, counts
//   and kinds inside their tables, flags 0 or 1, reserved bytes 0, doubles
//   finite; reading its bytes again changes nothing;
// - every JSON text written, from raw or sanitised records, is one value for
//   the toolkit's skipValue with nothing after it, holds no control byte and is
//   well-formed UTF-8; a refused delta or message appends nothing;
// - a record compared with itself shows no change, a difference in host
//   identity alone has no change kind, and a non-empty delta always has one;
// - a snapshot pushed through the transport ring comes out byte for byte.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "diagnostics/host_facts.h"
#include "formats/json.h"
#include "fuzz_support.h"

namespace {

using norva::HostBusFact;
using norva::HostFacts;
using norva::TransportFact;
using norva::fuzz::fail;

template <typename T> T recordFrom(const uint8_t *data, size_t size, size_t offset) {
  uint8_t bytes[sizeof(T)] = {};
  if (offset < size) std::memcpy(bytes, data + offset, std::min(size - offset, sizeof bytes));
  T record;
  std::memcpy(static_cast<void *>(&record), bytes, sizeof bytes);
  return record;
}

template <typename T> bool sameBytes(const T &a, const T &b) { return std::memcmp(&a, &b, sizeof(T)) == 0; }

bool allZero(const void *bytes, size_t count) {
  const auto *p = static_cast<const uint8_t *>(bytes);
  for (size_t i = 0; i < count; ++i)
    if (p[i] != 0) return false;
  return true;
}

// Well-formed UTF-8 without control bytes, decoded independently of the
// writer's own check: code points, then their ranges.
bool cleanUtf8(const unsigned char *p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    uint32_t cp = 0;
    size_t extra = 0;
    if (b < 0x80) {
      if (b < 0x20) return false;
      ++i;
      continue;
    }
    if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; extra = 1; }
    else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; extra = 2; }
    else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; extra = 3; }
    else return false;
    if (extra >= n - i) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    const uint32_t least = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

void checkJson(const std::string &text, const char *what) {
  norva::Reader r(text.data(), text.size());
  if (!norva::skipValue(r, 0) || !norva::atEnd(r)) fail("%s: not one JSON value: %s", what, text.c_str());
  if (!cleanUtf8(reinterpret_cast<const unsigned char *>(text.data()), text.size()))
    fail("%s: control byte or malformed UTF-8", what);
}

template <size_t N> void checkText(const char (&field)[N], const char *what) {
  const size_t length = strnlen(field, N);
  if (length >= N) fail("%s: no NUL", what);
  if (!allZero(field + length, N - length)) fail("%s: bytes after the NUL", what);
  if (!cleanUtf8(reinterpret_cast<const unsigned char *>(field), length)) fail("%s: not clean", what);
}

bool isFlag(uint8_t v) { return v <= 1; }

void checkSanitised(const HostFacts &h) {
  checkText(h.hostName, "hostName");
  checkText(h.hostVersion, "hostVersion");
  checkText(h.hostPath, "hostPath");
  if (h.validatorHost > norva::kValidatorHostNorvaProbe) fail("validatorHost %u", h.validatorHost);
  if (h.processMode < 0 || h.processMode > 2) fail("processMode %d", h.processMode);
  if (h.tailKind < 0 || h.tailKind > 2) fail("tailKind %d", h.tailKind);
  if (h.sampleSize != 32 && h.sampleSize != 64) fail("sampleSize %d", h.sampleSize);
  if (!std::isfinite(h.sampleRate) || !std::isfinite(h.internalSampleRate)) fail("a rate is not finite");
  if (!isFlag(h.bypassKnown) || !isFlag(h.bypassed)) fail("bypass flags");
  if (!allZero(h.reserved0, sizeof h.reserved0) || !allZero(h.reserved1, sizeof h.reserved1) ||
      !allZero(h.reserved2, sizeof h.reserved2))
    fail("reserved host bytes");
  if (h.busCount > norva::kHostFactsMaxBuses) fail("busCount %u", h.busCount);
  for (uint32_t i = 0; i < norva::kHostFactsMaxBuses; ++i) {
    const HostBusFact &bus = h.buses[i];
    if (i >= h.busCount) {
      if (!allZero(&bus, sizeof bus)) fail("unused bus %u not zero", i);
      continue;
    }
    checkText(bus.id, "bus id");
    checkText(bus.layout, "bus layout");
    if (!isFlag(bus.isInput) || !isFlag(bus.active)) fail("bus %u flags", i);
    if (!allZero(bus.reserved0, sizeof bus.reserved0) || !allZero(bus.reserved1, sizeof bus.reserved1))
      fail("bus %u reserved bytes", i);
  }
}

void checkSanitised(const TransportFact &t) {
  if (t.source > norva::kTransportSourceInternal) fail("source %u", t.source);
  const uint8_t flags[] = {t.playing, t.recording, t.looping, t.hasTempo, t.hasTimeSignature,
                           t.hasPosition, t.hasLoop, t.canSetTempo};
  for (uint8_t f : flags)
    if (!isFlag(f)) fail("transport flag %u", f);
  if (!allZero(t.reserved, sizeof t.reserved)) fail("reserved transport bytes");
  const double values[] = {t.tempo, t.ppqPosition, t.barPositionPpq, t.loopStartPpq, t.loopEndPpq, t.sampleRate};
  for (double v : values)
    if (!std::isfinite(v)) fail("a transport double is not finite");
}

// Host records, raw or sanitised: writers, self-comparison and identity.
void exerciseHost(const HostFacts &a, const HostFacts &b) {
  std::string out;
  norva::writeDiagnosticHostJson(out, a);
  checkJson(out, "host object");

  const std::string before = "prefix";
  std::string delta = before;
  const bool changed = norva::writeDiagnosticHostDeltaJson(delta, a, b);
  if (!changed && delta != before) fail("a refused delta appended text");
  if (changed) checkJson(delta.substr(before.size()), "delta");
  const char *kind = norva::diagnosticHostChangeKind(a, b);
  if (changed && kind == nullptr) fail("a delta without a change kind");

  std::string message = before;
  const bool wrote = norva::writeDiagnosticHostChangedJson(message, a, b, 42, b.sampleRate);
  if (wrote != changed) fail("message written %d, delta %d", wrote, changed);
  if (!wrote && message != before) fail("a refused message appended text");
  if (wrote) checkJson(message.substr(before.size()), "hostChanged");

  std::string same;
  if (norva::diagnosticHostChangeKind(a, a) != nullptr || norva::writeDiagnosticHostDeltaJson(same, a, a))
    fail("a record differs from itself");

  HostFacts renamed = a;
  std::memcpy(renamed.hostName, b.hostName, sizeof renamed.hostName);
  std::memcpy(renamed.hostVersion, b.hostVersion, sizeof renamed.hostVersion);
  std::memcpy(renamed.hostPath, b.hostPath, sizeof renamed.hostPath);
  renamed.validatorHost = b.validatorHost;
  if (norva::diagnosticHostChangeKind(a, renamed) != nullptr) fail("host identity produced a change kind");
}

void exerciseTransport(const TransportFact &t) {
  std::string out;
  norva::writeDiagnosticTransportJson(out, t);
  checkJson(out, "transport");
  if (t.differsFrom(t)) fail("a transport fact differs from itself");

  norva::TransportFactRing<2> ring;
  ring.push(TransportFact{});
  ring.push(t);
  ring.push(t);
  TransportFact drained;
  if (!ring.drainLatest(drained) || !sameBytes(drained, t)) fail("the ring changed a snapshot");
  if (ring.drainLatest(drained)) fail("the ring delivered a snapshot twice");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  const uint8_t *input = block.get();

  // The input as it is: refused unless its size is exact, and then the
  // record is left alone.
  HostFacts fromInput;
  fromInput.latencySamples = 77;
  const HostFacts hostBefore = fromInput;
  const bool hostTaken = norva::hostFactsFromBytes(input, size, fromInput);
  if (hostTaken != (size == norva::kHostFactsBytes)) fail("%zu bytes taken as host facts: %d", size, hostTaken);
  if (hostTaken) checkSanitised(fromInput);
  else if (!sameBytes(fromInput, hostBefore)) fail("refused host bytes changed the record");

  TransportFact transportInput;
  transportInput.atFrame = 77;
  const TransportFact transportBefore = transportInput;
  const bool transportTaken = norva::transportFactFromBytes(input, size, transportInput);
  if (transportTaken != (size == norva::kTransportFactBytes))
    fail("%zu bytes taken as a transport fact: %d", size, transportTaken);
  if (transportTaken) checkSanitised(transportInput);
  else if (!sameBytes(transportInput, transportBefore)) fail("refused transport bytes changed the record");

  // Records cut from the input (zero-padded); a second host record only
  // when the input reaches into it, else the defaults.
  const HostFacts rawA = recordFrom<HostFacts>(input, size, 0);
  const HostFacts rawB = size > norva::kHostFactsBytes
                             ? recordFrom<HostFacts>(input, size, norva::kHostFactsBytes)
                             : HostFacts{};
  const TransportFact rawT = recordFrom<TransportFact>(input, size, 0);

  HostFacts a;
  HostFacts b;
  TransportFact t;
  if (!norva::hostFactsFromBytes(&rawA, sizeof rawA, a) || !norva::hostFactsFromBytes(&rawB, sizeof rawB, b) ||
      !norva::transportFactFromBytes(&rawT, sizeof rawT, t))
    fail("a record of the exact size was refused");
  checkSanitised(a);
  checkSanitised(b);
  checkSanitised(t);
  HostFacts hostAgain;
  TransportFact transportAgain;
  norva::hostFactsFromBytes(&a, sizeof a, hostAgain);
  norva::transportFactFromBytes(&t, sizeof t, transportAgain);
  if (!sameBytes(hostAgain, a) || !sameBytes(transportAgain, t)) fail("sanitising twice changed a record");

  exerciseHost(rawA, rawB);
  exerciseHost(rawB, rawA);
  exerciseHost(a, b);
  exerciseHost(b, a);
  exerciseTransport(rawT);
  exerciseTransport(t);
  return 0;
}
