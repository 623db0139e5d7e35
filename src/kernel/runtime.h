// The kernel's runtime layer: entry guard, panic sink, trap delivery and the
// objects handed out through out-parameters.
//
// A trap poisons the library. Ending the host's process would take the whole
// DAW down with one plug-in, so a poisoned library instead refuses every later
// entry: each exported operation then answers with its failure value.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "kernel/kernel_interface.h"

namespace norva::kernel::runtime {

inline constexpr size_t kMaxPanicRecordBytes = 2047;

namespace detail {
// The entry state of the calling thread: hosts run instances on several
// audio threads at once, and a trap reports the call of the thread it
// happened on. Calls into one instance stay on one thread.
struct EntryState {
  const char *entrySymbol = "";
  uint32_t callbackDepth = 0; // host callbacks running on this thread
  uint32_t handedOut = 0;
};
extern thread_local constinit EntryState gEntry;
// Library-wide: a trap on any thread poisons the library for all of them.
extern std::atomic<bool> gPoisoned;
[[gnu::cold]] bool enterLibrarySlow(bool release, const char *entrySymbol);
} // namespace detail

// The usual case of enterLibrary, inlined into the operations a host block
// calls several times: true after recording an entry that needs no checks
// (no host callback running, library not poisoned). False changes nothing:
// the caller then goes through enterLibrary, out of line.
inline bool enterLibraryUsual(bool release, const char *entrySymbol) {
  detail::EntryState &e = detail::gEntry;
  if (e.callbackDepth != 0 || detail::gPoisoned.load(std::memory_order_relaxed)) return false;
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

inline bool poisoned() { return detail::gPoisoned.load(std::memory_order_relaxed); }

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
