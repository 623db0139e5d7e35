#include "diagnostics/host_facts.h"

#include <cmath>
#include <cstring>

#include "formats/json.h"

namespace norva {

namespace {

const char *const kValidatorHostNames[] = {
    nullptr, "pluginval", "clap-validator", "auval", "steinberg-validator", "norva-probe",
};
constexpr uint8_t kValidatorHostCount = sizeof(kValidatorHostNames) / sizeof(kValidatorHostNames[0]);

const char *const kProcessModeNames[] = {"realtime", "offline", "prefetch"};
const char *const kTransportSourceNames[] = {"none", "host", "internal"};

// Flags are 1 when set; every other byte value reads as clear.
bool isSet(uint8_t flag) { return flag == 1; }
uint8_t flagByte(uint8_t flag) { return isSet(flag) ? 1 : 0; }

// Equal values, or both NaN: a NaN that stays NaN is no change.
bool sameDouble(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

int32_t processModeOf(int32_t mode) {
  if (mode < kHostProcessRealtime || mode > kHostProcessPrefetch) return kHostProcessRealtime;
  return mode;
}

uint8_t sourceOf(uint8_t source) {
  if (source > kTransportSourceInternal) return kTransportSourceNone;
  return source;
}

int32_t tailKindOf(int32_t kind) {
  if (kind < kHostTailUnreported || kind > kHostTailInfinite) return kHostTailUnreported;
  return kind;
}

// Length of the well-formed UTF-8 sequence at text (available bytes left),
// 0 when the bytes there are not one: overlong forms, surrogates and code
// points above U+10FFFF are refused.
size_t utf8SequenceLength(const unsigned char *text, size_t left) {
  const unsigned char lead = text[0];
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3;
    low = 0xA0;
  } else if (lead == 0xED) {
    length = 3;
    high = 0x9F;
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    length = 3;
  } else if (lead == 0xF0) {
    length = 4;
    low = 0x90;
  } else if (lead == 0xF4) {
    length = 4;
    high = 0x8F;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else {
    return 0;
  }
  if (left < length || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (text[i] < 0x80 || text[i] > 0xBF) return 0;
  return length;
}

// Replaces control bytes and every byte that does not belong to a well-formed
// UTF-8 sequence with '?', so the text can go into a JSON string as it is.
// text holds no NUL in [0, length).
void cleanText(char *text, size_t length) {
  auto *bytes = reinterpret_cast<unsigned char *>(text);
  size_t i = 0;
  while (i < length) {
    const size_t sequence = bytes[i] < 0x20 ? 0 : utf8SequenceLength(bytes + i, length - i);
    if (sequence == 0) {
      bytes[i++] = '?';
    } else {
      i += sequence;
    }
  }
}

// A text field is read up to its first NUL but never past its last byte but
// one, so a field without any NUL still reads as capacity - 1 bytes.
template <size_t N> size_t textLength(const char (&field)[N]) { return strnlen(field, N - 1); }

template <size_t N> bool sameText(const char (&a)[N], const char (&b)[N]) {
  return std::strncmp(a, b, N - 1) == 0;
}

template <size_t N> void appendText(std::string &out, const char (&field)[N]) {
  char copy[N];
  const size_t length = textLength(field);
  std::memcpy(copy, field, length);
  copy[length] = '\0';
  cleanText(copy, length);
  jsonAppendQuoted(out, copy);
}

template <size_t N> void sanitiseText(char (&field)[N]) {
  field[N - 1] = '\0';
  const size_t length = std::strlen(field);
  cleanText(field, length);
  std::memset(field + length, 0, N - length);
}

// Copies text (null as empty) cut to N - 1 bytes and zero-fills the rest.
template <size_t N> void copyText(char (&field)[N], const char *text) {
  size_t length = 0;
  if (text != nullptr) length = strnlen(text, N - 1);
  if (length > 0) std::memcpy(field, text, length);
  std::memset(field + length, 0, N - length);
}

double finiteOr(double value, double fallback) { return std::isfinite(value) ? value : fallback; }

void appendInt(std::string &out, int64_t value) { jsonAppendNumber(out, static_cast<double>(value)); }

void appendBool(std::string &out, bool value) { out += value ? "true" : "false"; }

bool busesDiffer(const HostFacts &previous, const HostFacts &current) {
  const uint32_t count = current.usedBusCount();
  if (previous.usedBusCount() != count) return true;
  for (uint32_t i = 0; i < count; ++i) {
    const HostBusFact &a = previous.buses[i];
    const HostBusFact &b = current.buses[i];
    if (isSet(a.isInput) != isSet(b.isInput) || a.channels != b.channels || isSet(a.active) != isSet(b.active) ||
        !sameText(a.id, b.id) || !sameText(a.layout, b.layout))
      return true;
  }
  return false;
}

bool tailDiffers(const HostFacts &previous, const HostFacts &current) {
  return tailKindOf(previous.tailKind) != tailKindOf(current.tailKind) || previous.tailSamples != current.tailSamples;
}

bool bypassDiffers(const HostFacts &previous, const HostFacts &current) {
  return isSet(current.bypassKnown) &&
         (!isSet(previous.bypassKnown) || isSet(previous.bypassed) != isSet(current.bypassed));
}

void appendBuses(std::string &out, const HostFacts &facts) {
  out += '[';
  const uint32_t count = facts.usedBusCount();
  for (uint32_t i = 0; i < count; ++i) {
    const HostBusFact &bus = facts.buses[i];
    if (i > 0) out += ',';
    out += "{\"id\":";
    appendText(out, bus.id);
    out += isSet(bus.isInput) ? ",\"direction\":\"input\"" : ",\"direction\":\"output\"";
    out += ",\"channels\":";
    appendInt(out, bus.channels);
    out += ",\"active\":";
    appendBool(out, isSet(bus.active));
    if (bus.layout[0] != '\0') {
      out += ",\"layout\":";
      appendText(out, bus.layout);
    }
    out += '}';
  }
  out += ']';
}

void appendTail(std::string &out, const HostFacts &facts) {
  switch (tailKindOf(facts.tailKind)) {
    case kHostTailSamples: appendInt(out, facts.tailSamples); break;
    case kHostTailInfinite: out += "\"infinite\""; break;
    default: out += "\"unreported\""; break;
  }
}

// Members of one object: a comma before every member but the first.
class Members {
public:
  explicit Members(std::string &out) : out_(out) { out_ += '{'; }
  std::string &key(const char *quotedKeyAndColon) {
    if (!first_) out_ += ',';
    first_ = false;
    out_ += quotedKeyAndColon;
    return out_;
  }
  bool empty() const { return first_; }
  void close() { out_ += '}'; }

private:
  std::string &out_;
  bool first_ = true;
};

} // namespace

void HostFacts::addBus(const char *id, bool isInput, int32_t channels, bool active, const char *layout) {
  if (busCount >= kHostFactsMaxBuses) return;
  HostBusFact &bus = buses[busCount];
  std::memset(&bus, 0, sizeof bus);
  copyText(bus.id, id);
  bus.isInput = isInput ? 1 : 0;
  bus.channels = channels;
  bus.active = active ? 1 : 0;
  copyText(bus.layout, layout);
  ++busCount;
}

bool TransportFact::differsFrom(const TransportFact &other) const noexcept {
  const TransportFact &a = *this;
  const TransportFact &b = other;
  return sourceOf(a.source) != sourceOf(b.source) || isSet(a.playing) != isSet(b.playing) || isSet(a.recording) != isSet(b.recording) ||
         isSet(a.looping) != isSet(b.looping) || isSet(a.hasTempo) != isSet(b.hasTempo) ||
         isSet(a.hasTimeSignature) != isSet(b.hasTimeSignature) || isSet(a.hasPosition) != isSet(b.hasPosition) ||
         isSet(a.hasLoop) != isSet(b.hasLoop) || isSet(a.canSetTempo) != isSet(b.canSetTempo) ||
         !sameDouble(a.tempo, b.tempo) || a.numerator != b.numerator || a.denominator != b.denominator ||
         !sameDouble(a.loopStartPpq, b.loopStartPpq) || !sameDouble(a.loopEndPpq, b.loopEndPpq) ||
         !sameDouble(a.sampleRate, b.sampleRate);
}

const char *validatorHostName(uint8_t kind) {
  return kind < kValidatorHostCount ? kValidatorHostNames[kind] : nullptr;
}

const char *hostProcessModeName(int32_t mode) { return kProcessModeNames[processModeOf(mode)]; }

const char *transportSourceName(uint8_t source) { return kTransportSourceNames[sourceOf(source)]; }

void sanitiseHostFacts(HostFacts &facts) {
  sanitiseText(facts.hostName);
  sanitiseText(facts.hostVersion);
  sanitiseText(facts.hostPath);
  if (facts.validatorHost >= kValidatorHostCount) facts.validatorHost = kValidatorHostNone;
  std::memset(facts.reserved0, 0, sizeof facts.reserved0);
  std::memset(facts.reserved1, 0, sizeof facts.reserved1);
  std::memset(facts.reserved2, 0, sizeof facts.reserved2);
  facts.sampleRate = finiteOr(facts.sampleRate, 0);
  facts.internalSampleRate = finiteOr(facts.internalSampleRate, 0);
  facts.processMode = processModeOf(facts.processMode);
  facts.tailKind = tailKindOf(facts.tailKind);
  if (facts.sampleSize != 32 && facts.sampleSize != 64) facts.sampleSize = 32;
  facts.bypassKnown = flagByte(facts.bypassKnown);
  facts.bypassed = flagByte(facts.bypassed);
  facts.busCount = facts.usedBusCount();
  for (uint32_t i = 0; i < kHostFactsMaxBuses; ++i) {
    HostBusFact &bus = facts.buses[i];
    if (i >= facts.busCount) {
      std::memset(&bus, 0, sizeof bus);
      continue;
    }
    sanitiseText(bus.id);
    sanitiseText(bus.layout);
    bus.isInput = flagByte(bus.isInput);
    bus.active = flagByte(bus.active);
    std::memset(bus.reserved0, 0, sizeof bus.reserved0);
    std::memset(bus.reserved1, 0, sizeof bus.reserved1);
  }
}

void sanitiseTransportFact(TransportFact &fact) {
  fact.source = sourceOf(fact.source);
  fact.playing = flagByte(fact.playing);
  fact.recording = flagByte(fact.recording);
  fact.looping = flagByte(fact.looping);
  fact.hasTempo = flagByte(fact.hasTempo);
  fact.hasTimeSignature = flagByte(fact.hasTimeSignature);
  fact.hasPosition = flagByte(fact.hasPosition);
  fact.hasLoop = flagByte(fact.hasLoop);
  fact.canSetTempo = flagByte(fact.canSetTempo);
  std::memset(fact.reserved, 0, sizeof fact.reserved);
  fact.tempo = finiteOr(fact.tempo, 120.0);
  fact.ppqPosition = finiteOr(fact.ppqPosition, 0);
  fact.barPositionPpq = finiteOr(fact.barPositionPpq, 0);
  fact.loopStartPpq = finiteOr(fact.loopStartPpq, 0);
  fact.loopEndPpq = finiteOr(fact.loopEndPpq, 0);
  fact.sampleRate = finiteOr(fact.sampleRate, 0);
}

bool hostFactsFromBytes(const void *bytes, size_t size, HostFacts &out) {
  if (bytes == nullptr || size != sizeof(HostFacts)) return false;
  HostFacts facts;
  std::memcpy(static_cast<void *>(&facts), bytes, sizeof facts);
  sanitiseHostFacts(facts);
  out = facts;
  return true;
}

bool transportFactFromBytes(const void *bytes, size_t size, TransportFact &out) {
  if (bytes == nullptr || size != sizeof(TransportFact)) return false;
  TransportFact fact;
  std::memcpy(static_cast<void *>(&fact), bytes, sizeof fact);
  sanitiseTransportFact(fact);
  out = fact;
  return true;
}

const char *diagnosticHostChangeKind(const HostFacts &previous, const HostFacts &current) {
  if (!sameDouble(previous.sampleRate, current.sampleRate)) return "sampleRateChanged";
  if (previous.maxBlockFrames != current.maxBlockFrames) return "blockSizeChanged";
  if (busesDiffer(previous, current)) return "busLayoutChanged";
  if (previous.latencySamples != current.latencySamples) return "latencyChanged";
  if (tailDiffers(previous, current)) return "tailChanged";
  if (processModeOf(previous.processMode) != processModeOf(current.processMode)) return "processModeChanged";
  if (bypassDiffers(previous, current)) return "bypassChanged";
  if (previous.lastBlockFrames != current.lastBlockFrames) return "blockSizeChanged";
  if (previous.sampleSize != current.sampleSize) return "configured";
  if (!sameDouble(previous.internalSampleRate, current.internalSampleRate)) return "sampleRateChanged";
  return nullptr;
}

void writeDiagnosticHostJson(std::string &out, const HostFacts &facts) {
  Members m(out);
  if (facts.hostName[0] != '\0') appendText(m.key("\"hostName\":"), facts.hostName);
  if (facts.hostVersion[0] != '\0') appendText(m.key("\"hostVersion\":"), facts.hostVersion);
  if (facts.hostPath[0] != '\0') appendText(m.key("\"hostPath\":"), facts.hostPath);
  if (const char *validator = validatorHostName(facts.validatorHost))
    jsonAppendQuoted(m.key("\"validatorHost\":"), validator);
  jsonAppendNumber(m.key("\"sampleRate\":"), facts.sampleRate);
  appendInt(m.key("\"maxBlockFrames\":"), facts.maxBlockFrames);
  if (facts.lastBlockFrames >= 0) appendInt(m.key("\"lastBlockFrames\":"), facts.lastBlockFrames);
  jsonAppendQuoted(m.key("\"processMode\":"), hostProcessModeName(facts.processMode));
  appendInt(m.key("\"sampleSize\":"), facts.sampleSize);
  appendInt(m.key("\"latencySamples\":"), facts.latencySamples);
  appendTail(m.key("\"tailSamples\":"), facts);
  if (facts.internalSampleRate > 0) jsonAppendNumber(m.key("\"internalSampleRate\":"), facts.internalSampleRate);
  appendBuses(m.key("\"buses\":"), facts);
  if (isSet(facts.bypassKnown)) appendBool(m.key("\"bypassed\":"), isSet(facts.bypassed));
  m.close();
}

bool writeDiagnosticHostDeltaJson(std::string &out, const HostFacts &previous, const HostFacts &current) {
  const size_t start = out.size();
  Members m(out);
  if (!sameDouble(previous.sampleRate, current.sampleRate))
    jsonAppendNumber(m.key("\"sampleRate\":"), current.sampleRate);
  if (previous.maxBlockFrames != current.maxBlockFrames)
    appendInt(m.key("\"maxBlockFrames\":"), current.maxBlockFrames);
  if (previous.lastBlockFrames != current.lastBlockFrames && current.lastBlockFrames >= 0)
    appendInt(m.key("\"lastBlockFrames\":"), current.lastBlockFrames);
  if (processModeOf(previous.processMode) != processModeOf(current.processMode))
    jsonAppendQuoted(m.key("\"processMode\":"), hostProcessModeName(current.processMode));
  if (previous.sampleSize != current.sampleSize) appendInt(m.key("\"sampleSize\":"), current.sampleSize);
  if (previous.latencySamples != current.latencySamples)
    appendInt(m.key("\"latencySamples\":"), current.latencySamples);
  if (tailDiffers(previous, current)) appendTail(m.key("\"tailSamples\":"), current);
  if (!sameDouble(previous.internalSampleRate, current.internalSampleRate) && current.internalSampleRate > 0)
    jsonAppendNumber(m.key("\"internalSampleRate\":"), current.internalSampleRate);
  if (busesDiffer(previous, current)) appendBuses(m.key("\"buses\":"), current);
  if (bypassDiffers(previous, current)) appendBool(m.key("\"bypassed\":"), isSet(current.bypassed));
  if (m.empty()) {
    out.resize(start);
    return false;
  }
  m.close();
  return true;
}

bool writeDiagnosticHostChangedJson(std::string &out, const HostFacts &previous, const HostFacts &current,
                                    uint32_t seq, double timeMs) {
  const size_t start = out.size();
  out += "{\"type\":\"norva.hostChanged\",\"host\":";
  if (!writeDiagnosticHostDeltaJson(out, previous, current)) {
    out.resize(start);
    return false;
  }
  if (const char *kind = diagnosticHostChangeKind(previous, current)) {
    out += ",\"event\":{\"seq\":";
    appendInt(out, seq);
    out += ",\"timeMs\":";
    jsonAppendNumber(out, timeMs);
    out += ",\"kind\":";
    jsonAppendQuoted(out, kind);
    out += '}';
  }
  out += '}';
  return true;
}

void writeDiagnosticTransportJson(std::string &out, const TransportFact &fact) {
  out += "{\"type\":\"norva.transport\",\"frame\":{\"atFrame\":";
  jsonAppendNumber(out, static_cast<double>(fact.atFrame));
  out += ",\"source\":";
  jsonAppendQuoted(out, transportSourceName(fact.source));
  out += ",\"state\":{\"playing\":";
  appendBool(out, isSet(fact.playing));
  out += ",\"recording\":";
  appendBool(out, isSet(fact.recording));
  out += ",\"looping\":";
  appendBool(out, isSet(fact.looping));
  out += ",\"tempo\":";
  jsonAppendNumber(out, fact.tempo);
  out += ",\"timeSignature\":{\"numerator\":";
  appendInt(out, fact.numerator);
  out += ",\"denominator\":";
  appendInt(out, fact.denominator);
  out += "},\"ppqPosition\":";
  jsonAppendNumber(out, fact.ppqPosition);
  out += ",\"barPositionPpq\":";
  jsonAppendNumber(out, fact.barPositionPpq);
  out += ",\"loopStartPpq\":";
  if (isSet(fact.hasLoop)) jsonAppendNumber(out, fact.loopStartPpq); else out += "null";
  out += ",\"loopEndPpq\":";
  if (isSet(fact.hasLoop)) jsonAppendNumber(out, fact.loopEndPpq); else out += "null";
  out += ",\"sampleRate\":";
  if (fact.sampleRate > 0) jsonAppendNumber(out, fact.sampleRate); else out += "null";
  out += ",\"projectTimeSamples\":";
  appendInt(out, fact.projectTimeSamples);
  out += "},\"capabilities\":{\"tempo\":";
  appendBool(out, isSet(fact.hasTempo));
  out += ",\"timeSignature\":";
  appendBool(out, isSet(fact.hasTimeSignature));
  out += ",\"position\":";
  appendBool(out, isSet(fact.hasPosition));
  out += ",\"loop\":";
  appendBool(out, isSet(fact.hasLoop));
  out += ",\"canSetTempo\":";
  appendBool(out, isSet(fact.canSetTempo));
  out += "}}}";
}

} // namespace norva
