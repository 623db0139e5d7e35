#include "diagnostics/lifecycle_log.h"

#include <cstring>
#include <ctime>
#include <string_view>

#include "formats/json.h"

namespace norva {
namespace {

constexpr const char *kKindNames[] = {
#define NORVA_LIFECYCLE_KIND_NAME(name) #name,
    NORVA_LIFECYCLE_KINDS(NORVA_LIFECYCLE_KIND_NAME)
#undef NORVA_LIFECYCLE_KIND_NAME
};
static_assert(sizeof kKindNames / sizeof kKindNames[0] == kDiagnosticLifecycleKindCount);
static_assert(kDiagnosticLifecycleKindCount == 25);

// Written for a kind beyond the table.
constexpr DiagnosticLifecycleKind kUnknownKindWrittenAs = DiagnosticLifecycleKind::runtimeDiagnostic;

constexpr uint64_t kNanosecondsPerSecond = 1000000000;
constexpr double kNanosecondsPerMillisecond = 1e6;

// Nanoseconds on the monotonic clock; 0 when it cannot be read.
uint64_t monotonicNs() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0 || now.tv_sec < 0 || now.tv_nsec < 0) return 0;
  return static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond + static_cast<uint64_t>(now.tv_nsec);
}

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Copies text (null: empty) into a field of capacity bytes plus its NUL. A
// longer text is cut at capacity, moved back to the start of a UTF-8
// sequence (at most three bytes) so that no character is split.
void copyCut(char *field, size_t capacity, const char *text) {
  if (text == nullptr) text = "";
  size_t length = strnlen(text, capacity + 1);
  if (length > capacity) {
    length = capacity;
    for (int back = 0; back < 3 && length > 0 && isUtf8Continuation(text[length]); ++back) --length;
  }
  std::memcpy(field, text, length);
  field[length] = '\0';
}

template <size_t N> std::string_view fieldText(const char (&field)[N]) { return {field, strnlen(field, N)}; }

void appendFieldValue(std::string &out, const DiagnosticLifecycleField &field) {
  switch (field.type) {
    case DiagnosticLifecycleValueType::number: jsonAppendNumber(out, field.number); return;
    case DiagnosticLifecycleValueType::string: jsonAppendQuoted(out, fieldText(field.text)); return;
    case DiagnosticLifecycleValueType::boolean: out += field.boolean ? "true" : "false"; return;
    default: out += "null"; return;  // null, and any type beyond the table
  }
}

// The message around count events, event(i) giving the i-th.
template <typename EventAt>
bool writeLifecycleMessage(std::string &out, uint32_t count, uint32_t dropped, EventAt &&event) {
  if (count == 0) return false;
  if (count > kLifecycleLogCapacity) count = kLifecycleLogCapacity;
  out += "{\"type\":";
  jsonAppendQuoted(out, kDiagnosticLifecycleMessageType);
  out += ",\"events\":[";
  for (uint32_t i = 0; i < count; ++i) {
    if (i != 0) out += ',';
    writeDiagnosticLifecycleEventJson(out, event(i));
  }
  out += ']';
  if (dropped != 0) {
    out += ",\"dropped\":";
    jsonAppendNumber(out, dropped);
  }
  out += '}';
  return true;
}

}  // namespace

const char *diagnosticLifecycleKindName(DiagnosticLifecycleKind kind) {
  const auto index = static_cast<uint32_t>(kind);
  return index < kDiagnosticLifecycleKindCount ? kKindNames[index] : nullptr;
}

bool diagnosticLifecycleKindFromName(const char *text, DiagnosticLifecycleKind &kind) {
  if (text == nullptr) return false;
  for (uint32_t i = 0; i < kDiagnosticLifecycleKindCount; ++i) {
    if (std::strcmp(text, kKindNames[i]) == 0) {
      kind = static_cast<DiagnosticLifecycleKind>(i);
      return true;
    }
  }
  return false;
}

DiagnosticLifecycleField *DiagnosticLifecycleEvent::nextField(const char *name, DiagnosticLifecycleValueType type) {
  if (fieldCount >= kLifecycleEventFields) return nullptr;
  DiagnosticLifecycleField &field = fields[fieldCount++];
  field = DiagnosticLifecycleField{};
  copyCut(field.name, kLifecycleFieldNameBytes, name);
  field.type = type;
  return &field;
}

void DiagnosticLifecycleEvent::addNumber(const char *name, double value) {
  if (DiagnosticLifecycleField *field = nextField(name, DiagnosticLifecycleValueType::number)) field->number = value;
}

void DiagnosticLifecycleEvent::addString(const char *name, const char *value) {
  if (DiagnosticLifecycleField *field = nextField(name, DiagnosticLifecycleValueType::string)) {
    copyCut(field->text, kLifecycleFieldTextBytes, value);
  }
}

void DiagnosticLifecycleEvent::addBool(const char *name, bool value) {
  if (DiagnosticLifecycleField *field = nextField(name, DiagnosticLifecycleValueType::boolean)) field->boolean = value;
}

void DiagnosticLifecycleEvent::addNull(const char *name) { nextField(name, DiagnosticLifecycleValueType::null); }

DiagnosticLifecycleLog::DiagnosticLifecycleLog() : originNs_(monotonicNs()) {}

double DiagnosticLifecycleLog::nowMs() const {
  const uint64_t now = monotonicNs();
  if (now == 0 || now <= originNs_) return 0.0;
  return static_cast<double>(now - originNs_) / kNanosecondsPerMillisecond;
}

DiagnosticLifecycleEvent &DiagnosticLifecycleLog::record(DiagnosticLifecycleKind kind, int64_t atFrame) {
  if (count_ == kLifecycleLogCapacity) {
    head_ = (head_ + 1) % kLifecycleLogCapacity;
    count_ = kLifecycleLogCapacity - 1;
    ++dropped_;
  }
  DiagnosticLifecycleEvent &event = events_[(head_ + count_) % kLifecycleLogCapacity];
  event = DiagnosticLifecycleEvent{};
  event.seq = ++lastSeq_;
  event.timeMs = nowMs();
  event.atFrame = atFrame;
  event.kind = kind;
  ++count_;
  return event;
}

const DiagnosticLifecycleEvent &DiagnosticLifecycleLog::at(uint32_t index) const {
  if (index >= count_) return events_[head_];
  return events_[(head_ + index) % kLifecycleLogCapacity];
}

void writeDiagnosticLifecycleEventJson(std::string &out, const DiagnosticLifecycleEvent &event) {
  out += "{\"seq\":";
  jsonAppendNumber(out, event.seq);
  out += ",\"timeMs\":";
  jsonAppendNumber(out, event.timeMs);
  if (event.atFrame >= 0) {
    out += ",\"atFrame\":";
    jsonAppendNumber(out, static_cast<double>(event.atFrame));
  }
  out += ",\"kind\":";
  const char *kind = diagnosticLifecycleKindName(event.kind);
  jsonAppendQuoted(out, kind != nullptr ? kind : diagnosticLifecycleKindName(kUnknownKindWrittenAs));
  const uint32_t fieldCount = event.fieldCount < kLifecycleEventFields ? event.fieldCount : kLifecycleEventFields;
  if (fieldCount != 0) {
    out += ",\"detail\":{";
    for (uint32_t i = 0; i < fieldCount; ++i) {
      if (i != 0) out += ',';
      jsonAppendQuoted(out, fieldText(event.fields[i].name));
      out += ':';
      appendFieldValue(out, event.fields[i]);
    }
    out += '}';
  }
  out += '}';
}

bool writeDiagnosticLifecycleJson(std::string &out, const DiagnosticLifecycleEvent *events, uint32_t count,
                                  uint32_t dropped) {
  if (events == nullptr) return false;
  return writeLifecycleMessage(out, count, dropped, [events](uint32_t i) -> const auto & { return events[i]; });
}

bool writeDiagnosticLifecycleReplayJson(std::string &out, const DiagnosticLifecycleLog &log) {
  return writeLifecycleMessage(out, log.count(), log.dropped(),
                               [&log](uint32_t i) -> const auto & { return log.at(i); });
}

}  // namespace norva
