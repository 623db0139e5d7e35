// The lifecycle log: a bounded, in-memory history of notable moments in the
// plug-in's life (creation, editor sessions, state saves and restores, host
// configuration and transport changes, CC map changes, runtime reports), each
// with a sequence number, a time since the log was made, an optional audio
// frame and up to six named detail values. The controller owns one and sends
// it to the editor as "norva.lifecycle" messages.
//
// Recording never allocates and never fails: a full log drops its oldest
// event and counts it; sequence numbers keep rising across drops, so a reader
// sees the gap. Used on one thread only (the controller's); not locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norva {

inline constexpr uint32_t kLifecycleLogCapacity = 256;   // events held
inline constexpr uint32_t kLifecycleEventFields = 6;     // detail values per event
inline constexpr size_t kLifecycleFieldNameBytes = 23;   // longer names are cut
inline constexpr size_t kLifecycleFieldTextBytes = 63;   // longer string values are cut

// The event kinds, in value order from 0. Each kind's wire name is its
// enumerator's spelling: the "kind" text in JSON and the name the processor
// sends. Kinds cross between components by name only.
#define NORVA_LIFECYCLE_KINDS(X)                                                                 \
  /*  0 */ X(created) X(configured) X(activated) X(deactivated) X(reset)                         \
  /*  5 */ X(destroyed) X(editorOpened) X(editorClosed) X(editorError) X(stateSaved)             \
  /* 10 */ X(stateRestored) X(presetLoaded) X(presetSaved) X(latencyChanged) X(tailChanged)      \
  /* 15 */ X(tempoChanged) X(timeSignatureChanged) X(sampleRateChanged) X(blockSizeChanged)      \
  /* 19 */ X(busLayoutChanged) X(processModeChanged) X(bypassChanged) X(ccMapChanged)            \
  /* 23 */ X(stimulus) X(runtimeDiagnostic)

enum class DiagnosticLifecycleKind : uint8_t {
#define NORVA_LIFECYCLE_KIND_ENUMERATOR(name) name,
  NORVA_LIFECYCLE_KINDS(NORVA_LIFECYCLE_KIND_ENUMERATOR)
#undef NORVA_LIFECYCLE_KIND_ENUMERATOR
};

#define NORVA_LIFECYCLE_KIND_ONE(name) +1
inline constexpr uint32_t kDiagnosticLifecycleKindCount = 0 NORVA_LIFECYCLE_KINDS(NORVA_LIFECYCLE_KIND_ONE);
#undef NORVA_LIFECYCLE_KIND_ONE

// The editor message that carries events.
inline constexpr const char *kDiagnosticLifecycleMessageType = "norva.lifecycle";

// The kind's wire name; null for a value beyond the table.
const char *diagnosticLifecycleKindName(DiagnosticLifecycleKind kind);
// True, with the kind, for an exact (case-sensitive) wire name; false for
// anything else, null included (kind untouched).
bool diagnosticLifecycleKindFromName(const char *text, DiagnosticLifecycleKind &kind);

enum class DiagnosticLifecycleValueType : uint8_t { null = 0, number = 1, string = 2, boolean = 3 };

// One detail value. The texts are NUL-terminated inside their arrays.
struct DiagnosticLifecycleField {
  char name[kLifecycleFieldNameBytes + 1];
  DiagnosticLifecycleValueType type;
  double number;
  bool boolean;
  char text[kLifecycleFieldTextBytes + 1];
};

struct DiagnosticLifecycleEvent {
  uint32_t seq = 0;       // the first event of a log is 1
  double timeMs = 0.0;    // since the log was made
  int64_t atFrame = -1;   // the audio frame the event refers to; -1: none
  DiagnosticLifecycleKind kind = DiagnosticLifecycleKind::created;
  DiagnosticLifecycleField fields[kLifecycleEventFields] = {};
  uint32_t fieldCount = 0;  // entries of fields in use

  // Each appends one field; ignored once six are present. A null name is
  // stored empty, as is a null string value. Texts beyond their capacity are
  // cut, never inside a UTF-8 sequence.
  void addNumber(const char *name, double value);
  void addString(const char *name, const char *value);
  void addBool(const char *name, bool value);
  void addNull(const char *name);

private:
  DiagnosticLifecycleField *nextField(const char *name, DiagnosticLifecycleValueType type);
};

class DiagnosticLifecycleLog {
public:
  // Every slot and counter cleared; the origin read from the monotonic clock
  // (0 when it cannot be read).
  DiagnosticLifecycleLog();

  // Milliseconds since the origin; 0 when now is not after it or the clock
  // cannot be read.
  double nowMs() const;

  // Appends an event, dropping the oldest when the log is full, and returns
  // it for the caller to add fields. Never allocates.
  DiagnosticLifecycleEvent &record(DiagnosticLifecycleKind kind, int64_t atFrame);

  // Index 0 is the oldest event held; an index not below count() gives the
  // oldest too.
  const DiagnosticLifecycleEvent &at(uint32_t index) const;

  uint32_t count() const { return count_; }
  uint32_t dropped() const { return dropped_; }
  uint32_t lastSeq() const { return lastSeq_; }

private:
  DiagnosticLifecycleEvent events_[kLifecycleLogCapacity] = {};
  uint32_t head_ = 0;  // slot of the oldest event
  uint32_t count_ = 0;
  uint32_t dropped_ = 0;  // events overwritten since creation
  uint32_t lastSeq_ = 0;
  uint64_t originNs_ = 0;
};

// Appends one event object.
void writeDiagnosticLifecycleEventJson(std::string &out, const DiagnosticLifecycleEvent &event);

// Appends a "norva.lifecycle" message of count consecutive events (at most
// kLifecycleLogCapacity are taken), with a "dropped" member when dropped is
// not 0. Writes nothing and returns false when there are no events.
bool writeDiagnosticLifecycleJson(std::string &out, const DiagnosticLifecycleEvent *events, uint32_t count,
                                  uint32_t dropped);

// Appends a "norva.lifecycle" message of every event the log holds, oldest
// first, with the log's dropped count. Nothing, and false, for an empty log.
bool writeDiagnosticLifecycleReplayJson(std::string &out, const DiagnosticLifecycleLog &log);

}  // namespace norva
