#include "kernel/runtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace norva::kernel::runtime {
namespace {

struct RuntimeState {
  std::atomic<bool> sinkCalled{false};
  std::atomic_flag recording = ATOMIC_FLAG_INIT; // held while lastRecord is written
  norva_kernel_panic_sink sink = nullptr;
  void *sinkContext = nullptr;
  std::string lastRecord;
};

RuntimeState gRuntime;

RuntimeState &state() { return gRuntime; }

struct TrapCode {
  const char *prefix;
  const char *code;
};

constexpr TrapCode kTrapCodes[] = {
    {"Uncaught ", "LM4013"},
    {"lumac: RangeError: ", "LM4014"},
    {"lumac: TypeError: ", "LM4015"},
    {"lumac: SyntaxError: ", "LM4016"},
    {"lumac: out of memory", "LM4017"},
    {"lumac: internal error: ", "LM4018"},
    {"lumac: library callback ", "LM4025"},
    {"lumac: library entry ", "LM4026"},
};

uint32_t readCycleThreshold() {
  const char *text = std::getenv("LMR_CYCLE_THRESHOLD");
  if (text == nullptr || *text == '\0') return 256;
  uint64_t value = 0;
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 256;
    value = value * 10 + uint64_t(*c - '0');
    if (value > 0xffffffffu) return 256;
  }
  return value == 0 ? 256 : uint32_t(value);
}

} // namespace

const char *trapCodeFor(std::string_view message) {
  for (const auto &entry : kTrapCodes) {
    if (message.starts_with(entry.prefix)) return entry.code;
  }
  return "LM4019";
}

std::string buildPanicRecord(std::string_view message, std::string_view entrySymbol) {
  const char *code = trapCodeFor(message);
  const size_t codeLength = std::strlen(code);
  // byte 1, message, byte 31, code, byte 31, symbol: the code and the symbol
  // always stay whole, the message gives way.
  const size_t fixed = 1 + 1 + codeLength + 1 + entrySymbol.size();
  const size_t room = fixed < kMaxPanicRecordBytes ? kMaxPanicRecordBytes - fixed : 0;
  const size_t messageLength = message.size() < room ? message.size() : room;

  std::string record;
  record.reserve(fixed + messageLength);
  record.push_back('\x01');
  for (size_t i = 0; i < messageLength; ++i) {
    const char c = message[i];
    record.push_back(c == '\x01' || c == '\x1f' ? ' ' : c);
  }
  record.push_back('\x1f');
  record.append(code, codeLength);
  record.push_back('\x1f');
  record.append(entrySymbol);
  return record;
}

void trap(std::string_view message, const void *codeAddress) {
  RuntimeState &rt = state();
  detail::EntryState &e = detail::gEntry;
  detail::gPoisoned.store(true);
  const std::string record = !message.empty() && message.front() == '\x01'
                                 ? std::string(message)
                                 : buildPanicRecord(message, e.entrySymbol);
  // A trap on another thread at the same moment keeps its own record.
  if (!rt.recording.test_and_set(std::memory_order_acquire)) {
    rt.lastRecord = record;
    rt.recording.clear(std::memory_order_release);
  }
  if (rt.sink == nullptr || e.callbackDepth > 0 || rt.sinkCalled.exchange(true)) return;
  HostCallbackScope scope;
  rt.sink(rt.sinkContext, record.data(), record.size(), codeAddress);
}

void trapRange(long long index, size_t length) {
  char message[160];
  std::snprintf(message, sizeof message,
                "lumac: RangeError: typed array index %lld out of bounds (length %zu)\n", index,
                length);
  trap(message, __builtin_return_address(0));
}

namespace detail {

thread_local constinit EntryState gEntry;
std::atomic<bool> gPoisoned{false};

bool enterLibrarySlow(bool release, const char *entrySymbol) {
  EntryState &e = gEntry;
  e.entrySymbol = entrySymbol;
  if (e.callbackDepth > 0) {
    e.callbackDepth = 0;
    char message[200];
    std::snprintf(message, sizeof message, "lumac: library entry '%s' invoked from a host callback\n",
                  entrySymbol);
    trap(message, __builtin_return_address(0));
    return false;
  }
  if (gPoisoned.load()) return false;
  if (release) e.handedOut = 0;
  return true;
}

} // namespace detail

bool enterCallbackGuard(const char *entrySymbol) {
  detail::EntryState &e = detail::gEntry;
  if (e.callbackDepth > 0) {
    e.entrySymbol = entrySymbol;
    e.callbackDepth = 0;
    char message[200];
    std::snprintf(message, sizeof message, "lumac: library entry '%s' invoked from a host callback\n",
                  entrySymbol);
    trap(message, __builtin_return_address(0));
    return false;
  }
  return true;
}

void setPanicSink(norva_kernel_panic_sink sink, void *context) {
  RuntimeState &rt = state();
  rt.sink = sink;
  rt.sinkContext = context;
}

void recordHandedOut() { ++detail::gEntry.handedOut; }
uint32_t handedOutCount() { return detail::gEntry.handedOut; }

uint32_t collect() {
  // Nothing the kernel owns forms a cycle; handed-out views are released.
  detail::gEntry.handedOut = 0;
  return 0;
}

uint32_t cycleThreshold() {
  static const uint32_t threshold = readCycleThreshold();
  return threshold;
}

const std::string &lastPanicRecord() { return state().lastRecord; }

void resetForTesting() {
  RuntimeState &rt = state();
  rt.sinkCalled = false;
  rt.recording.clear();
  rt.sink = nullptr;
  rt.sinkContext = nullptr;
  rt.lastRecord.clear();
  detail::gEntry = detail::EntryState();
  detail::gPoisoned = false;
}

HostCallbackScope::HostCallbackScope() {
  detail::EntryState &e = detail::gEntry;
  if (e.callbackDepth < UINT32_MAX) ++e.callbackDepth;
}
HostCallbackScope::~HostCallbackScope() {
  detail::EntryState &e = detail::gEntry;
  if (e.callbackDepth > 0) --e.callbackDepth;
}

} // namespace norva::kernel::runtime
