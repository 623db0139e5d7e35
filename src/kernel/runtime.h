// The kernel's runtime layer: entry guard, panic sink, trap delivery and the
// objects handed out through out-parameters.
//
// A trap poisons the library. Ending the host's process would take the whole
// DAW down with one plug-in, so a poisoned library instead refuses every later
// entry: each exported operation then answers with its failure value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "kernel/kernel_interface.h"

namespace norva::kernel::runtime {

inline constexpr size_t kMaxPanicRecordBytes = 2047;

namespace detail {
// The library-wide entry state, read on every entry.
struct EntryState {
  const char *entrySymbol = "";
  // The host-callback depth in the low 31 bits and the poisoned flag in the
  // top bit: zero on every usual entry, so one load decides.
  uint32_t guard = 0;
  uint32_t handedOut = 0;
};
inline constexpr uint32_t kPoisonedBit = 0x80000000u;
inline uint32_t callbackDepth(const EntryState &e) { return e.guard & ~kPoisonedBit; }
extern EntryState gEntry;
[[gnu::cold]] bool enterLibrarySlow(bool release, const char *entrySymbol);
} // namespace detail

// The usual case of enterLibrary, inlined into the operations a host block
// calls several times: true after recording an entry that needs no checks
// (no host callback running, library not poisoned). False changes nothing:
// the caller then goes through enterLibrary, out of line.
inline bool enterLibraryUsual(bool release, const char *entrySymbol) {
  detail::EntryState &e = detail::gEntry;
  if (e.guard != 0) return false;
  e.entrySymbol = entrySymbol;
  if (release) e.handedOut = 0;
  return true;
}

// First action of every exported operation but `set_panic_sink`. Records the
// entry symbol, traps a re-entry from a host callback, releases handed-out
// objects when `release` is set. Returns false when the library is poisoned
// (or just became so): the operation must do no work.
inline bool enterLibrary(bool release, const char *entrySymbol) {
  if (enterLibraryUsual(release, entrySymbol)) [[likely]]
    return true;
  return detail::enterLibrarySlow(release, entrySymbol);
}

// First action of `set_panic_sink`: the re-entry check alone. False when the
// call must be refused.
bool enterCallbackGuard(const char *entrySymbol);

void setPanicSink(norva_kernel_panic_sink sink, void *context);

// Delivers an internal fault: poisons the library and hands the panic record
// to the sink (once per program run).
void trap(std::string_view message, const void *codeAddress = nullptr);
// Trap for an index outside a kernel array.
void trapRange(long long index, size_t length);

inline bool poisoned() { return (detail::gEntry.guard & detail::kPoisonedBit) != 0; }

// The code for a message: "LM4013".."LM4026".
const char *trapCodeFor(std::string_view message);
// The record handed to the sink: byte 1, message (bytes 1 and 31 become
// spaces), byte 31, code, byte 31, entry symbol; at most 2047 bytes.
std::string buildPanicRecord(std::string_view message, std::string_view entrySymbol);

// Out-parameter objects: counted when handed out, released at the next
// releasing entry or by `collect`.
void recordHandedOut();
uint32_t handedOutCount();
uint32_t collect();

// Threshold of the cycle collector, read once from LMR_CYCLE_THRESHOLD
// (a positive decimal integer; 256 otherwise).
uint32_t cycleThreshold();

// For tests: the last panic record built, and a way back to a fresh runtime.
const std::string &lastPanicRecord();
void resetForTesting();

// Holds the host-callback depth up while the kernel calls out to the host.
class HostCallbackScope {
public:
  HostCallbackScope();
  ~HostCallbackScope();
  HostCallbackScope(const HostCallbackScope &) = delete;
  HostCallbackScope &operator=(const HostCallbackScope &) = delete;
};

} // namespace norva::kernel::runtime
