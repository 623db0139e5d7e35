// The kernel's realtime calls allocate nothing: push_event, process, the
// output accessors and the views run on the host's audio thread.
//
// Every global operator new and delete is replaced, and so is the malloc
// family (through glibc's own entry points); under AddressSanitizer, whose
// allocator must stay in charge, its allocation hooks count instead. Counting
// is switched on by a flag only around the kernel calls, never around test
// assertions. `create` may allocate and is kept outside the counted regions.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kernel/kernel_interface.h"
#include "kernel/runtime.h"

#if defined(__SANITIZE_ADDRESS__)
#define NORVA_COUNT_WITH_SANITIZER_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NORVA_COUNT_WITH_SANITIZER_HOOKS 1
#endif
#endif

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::atomic<long> gReleases{0};

void noteAllocation() {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
}
void noteRelease(const volatile void *pointer) {
  if (pointer != nullptr && gCounting.load(std::memory_order_relaxed))
    gReleases.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

#ifdef NORVA_COUNT_WITH_SANITIZER_HOOKS

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));

namespace {
void mallocHook(const volatile void *, size_t) { noteAllocation(); }
void freeHook(const volatile void *pointer) { noteRelease(pointer); }
[[maybe_unused]] const bool gHooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook) != 0;
} // namespace

#else

// glibc's allocator under its internal names; the public names below count
// and forward. glibc routes its own internal allocations (strdup, stdio
// buffers) through the public names, so those are counted too.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
void *__libc_memalign(size_t, size_t);
void *__libc_valloc(size_t);
void *__libc_pvalloc(size_t);

void *malloc(size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) {
  noteAllocation();
  return __libc_calloc(count, size);
}
void *realloc(void *pointer, size_t size) {
  noteAllocation();
  return __libc_realloc(pointer, size);
}
void *reallocarray(void *pointer, size_t count, size_t size) {
  noteAllocation();
  if (size != 0 && count > SIZE_MAX / size) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_realloc(pointer, count * size);
}
void free(void *pointer) {
  noteRelease(pointer);
  __libc_free(pointer);
}
void *memalign(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
void *aligned_alloc(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void **out, size_t alignment, size_t size) {
  noteAllocation();
  if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void *pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}
void *valloc(size_t size) {
  noteAllocation();
  return __libc_valloc(size);
}
void *pvalloc(size_t size) {
  noteAllocation();
  return __libc_pvalloc(size);
}
} // extern "C"

#endif

// Global operator new and delete, every form, on top of the (counted) malloc family.
namespace {

void *allocateOrNull(size_t size) { return std::malloc(size == 0 ? 1 : size); }

void *allocateAlignedOrNull(size_t size, std::align_val_t alignment) {
  const size_t a = static_cast<size_t>(alignment) < sizeof(void *) ? sizeof(void *)
                                                                    : static_cast<size_t>(alignment);
  void *pointer = nullptr;
  return posix_memalign(&pointer, a, size == 0 ? 1 : size) == 0 ? pointer : nullptr;
}

void *allocate(size_t size) {
  void *pointer = allocateOrNull(size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

void *allocateAligned(size_t size, std::align_val_t alignment) {
  void *pointer = allocateAlignedOrNull(size, alignment);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

} // namespace

void *operator new(size_t size) { return allocate(size); }
void *operator new[](size_t size) { return allocate(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return allocateOrNull(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return allocateOrNull(size); }
void *operator new(size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void *operator new[](size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void *operator new(size_t size, std::align_val_t a, const std::nothrow_t &) noexcept {
  return allocateAlignedOrNull(size, a);
}
void *operator new[](size_t size, std::align_val_t a, const std::nothrow_t &) noexcept {
  return allocateAlignedOrNull(size, a);
}

void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete(void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept { std::free(p); }

namespace {

#define K(op) lmpr_music_norva_tindrel_bf9421541c27_##op

constexpr uint32_t kParam = NORVA_KERNEL_EVENT_PARAMETER;
constexpr uint32_t kNoteOn = NORVA_KERNEL_EVENT_NOTE_ON;
constexpr uint32_t kNoteOff = NORVA_KERNEL_EVENT_NOTE_OFF;
constexpr uint32_t kControl = NORVA_KERNEL_EVENT_CONTROL_CHANGE;
constexpr uint32_t kBpm = 1, kResolution = 2, kShuffle = 3, kDirection = 8, kChainOn = 11,
                   kChainStart = 12, kChainEnd = 13, kKeyFollow = 18, kSeed = 19, kFirstVelocity = 21;

struct Counts {
  long allocations;
  long releases;
};

// Runs `work` with counting on. `work` itself must not allocate: no
// assertions, no containers, only the kernel calls and plain locals.
template <typename Work> Counts countDuring(Work &&work) {
  gAllocations.store(0);
  gReleases.store(0);
  gCounting.store(true);
  work();
  gCounting.store(false);
  return {gAllocations.load(), gReleases.load()};
}

// Pointers stored here cannot be optimised away.
void *volatile gEscape = nullptr;

bool gPanicked = false;
void recordPanic(void *, const char *, size_t, const void *) { gPanicked = true; }

// Tallies of one counted run, checked once counting is off.
struct Tally {
  long calls = 0;
  long unexpectedStatus = 0;
  long outputs = 0;
  long outputsOutsideBlock = 0;
  long nonEmptyViews = 0;
};

void readEverything(uint32_t handle, uint32_t frames, Tally &tally) {
  const uint32_t count = uint32_t(K(event_output_count)(handle));
  for (uint32_t i = 0; i < count; ++i) {
    const double frame = K(event_output_frame)(handle, i);
    const double kind = K(event_output_kind)(handle, i);
    const double a = K(event_output_a)(handle, i);
    const double b = K(event_output_b)(handle, i);
    if (frame < 0 || frame >= frames || kind < 2 || kind > 4 || a < 0 || a > 127 || !(b >= 0 && b <= 1))
      ++tally.outputsOutsideBlock;
  }
  // Reads past the end answer 0 without touching anything.
  tally.unexpectedStatus += K(event_output_frame)(handle, count) != 0;
  tally.unexpectedStatus += K(event_output_b)(handle, 0xffffffffu) != 0;
  float *data = nullptr;
  uint32_t length = 1;
  K(input_view)(handle, &data, &length);
  tally.nonEmptyViews += length != 0;
  length = 1;
  K(output_view)(handle, &data, &length);
  tally.nonEmptyViews += length != 0;
  tally.outputs += count;
}

void expect(Tally &tally, double status, double wanted) {
  ++tally.calls;
  if (status != wanted) ++tally.unexpectedStatus;
}

class KernelAllocationTest : public ::testing::Test {
protected:
  void SetUp() override {
    norva::kernel::runtime::resetForTesting();
    gPanicked = false;
    K(set_panic_sink)(recordPanic, nullptr);
    K(runtime_init)();
  }
  void TearDown() override {
    EXPECT_FALSE(gPanicked) << "the kernel reported an internal fault";
    norva::kernel::runtime::resetForTesting();
  }

  uint32_t make() {
    const double handle = K(create)(48000, 128, 0, 0);
    EXPECT_GT(handle, 0);
    return uint32_t(handle);
  }
};

TEST_F(KernelAllocationTest, CountingSeesEveryAllocationRoute) {
  // A counter that misses a route would let every other test here pass
  // vacuously.
  struct alignas(64) Wide {
    char bytes[64];
  };
  const Counts news = countDuring([] {
    int *one = new int(1);
    gEscape = one;
    delete one;
    int *many = new int[8];
    gEscape = many;
    delete[] many;
    Wide *wide = new Wide;
    gEscape = wide;
    delete wide;
    int *quiet = new (std::nothrow) int(2);
    gEscape = quiet;
    delete quiet;
  });
  EXPECT_GE(news.allocations, 4);
  EXPECT_GE(news.releases, 4);

  const Counts mallocs = countDuring([] {
    void *a = std::malloc(16);
    gEscape = a;
    void *b = std::calloc(4, 4);
    gEscape = b;
    a = std::realloc(a, 64);
    gEscape = a;
    char *copy = strdup("counted"); // allocated inside the C library
    gEscape = copy;
    std::free(copy);
    std::free(b);
    std::free(a);
  });
  EXPECT_GE(mallocs.allocations, 4);
  EXPECT_GE(mallocs.releases, 3);
}

TEST_F(KernelAllocationTest, SteadyPlaybackWithLiveInputAllocatesNothing) {
  const uint32_t handle = make();
  Tally tally;
  const Counts counts = countDuring([&] {
    for (uint32_t cycle = 0; cycle < 4000; ++cycle) {
      const uint32_t note = 36 + cycle % 48;
      expect(tally, K(push_event)(handle, kParam, 0, kBpm, 60 + (cycle % 240)), 0);
      expect(tally, K(push_event)(handle, kNoteOn, 3, note, 0.8), 0);
      expect(tally, K(push_event)(handle, kControl, 17, 74, (cycle % 128) / 127.0), 0);
      expect(tally, K(push_event)(handle, kNoteOff, 90, note, 0), 0);
      expect(tally, K(process)(handle, 128), 0);
      readEverything(handle, 128, tally);
    }
  });
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_EQ(tally.unexpectedStatus, 0) << "of " << tally.calls << " calls";
  EXPECT_EQ(tally.outputsOutsideBlock, 0);
  EXPECT_EQ(tally.nonEmptyViews, 0);
  EXPECT_GT(tally.outputs, 8000) << "passed-through input and generated steps must show up";
}

TEST_F(KernelAllocationTest, BusyPlaybackAndRefusedCallsAllocateNothing) {
  const uint32_t handle = make();
  const uint32_t stale = make();
  ASSERT_EQ(K(destroy)(stale), 0);
  // Fast, swung, every step sounding, walking randomly through a chain of
  // patterns, with key follow consuming the incoming notes.
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kBpm, 300), 0);
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kResolution, 5), 0);
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kShuffle, 0.75), 0);
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kDirection, 5), 0);
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kSeed, 977), 0);
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kChainEnd, 3), 0);
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kChainOn, 1), 0);
  ASSERT_EQ(K(push_event)(handle, kParam, 0, kKeyFollow, 1), 0);
  for (uint32_t k = 0; k < 32; ++k) ASSERT_EQ(K(push_event)(handle, kParam, 0, kFirstVelocity + k, 110), 0);
  ASSERT_EQ(K(process)(handle, 128), 0);

  Tally tally;
  const Counts counts = countDuring([&] {
    for (uint32_t cycle = 0; cycle < 1500; ++cycle) {
      const uint32_t frames = cycle % 129; // 0..128, including empty blocks
      const uint32_t last = frames == 0 ? 0 : frames - 1;
      // Fill the queue to its 64 events; every later push is refused.
      for (uint32_t i = 0; i < NORVA_KERNEL_MAX_EVENTS; ++i) {
        const uint32_t frame = last * i / NORVA_KERNEL_MAX_EVENTS;
        switch (i % 4) {
        case 0: expect(tally, K(push_event)(handle, kNoteOn, frame, 40 + i, 2.5), 0); break;
        case 1: expect(tally, K(push_event)(handle, kNoteOff, frame, 40 + i - 1, 0), 0); break;
        case 2: expect(tally, K(push_event)(handle, kControl, frame, i == 2 ? 123 : 1, 0.5), 0); break;
        default: expect(tally, K(push_event)(handle, kParam, frame, kFirstVelocity + i % 32, 90 + i % 30), 0);
        }
      }
      expect(tally, K(push_event)(handle, kNoteOn, last, 60, 1), 3);        // queue full
      expect(tally, K(push_event)(handle, kNoteOn, 0, 128, 1), 2);          // no such note
      expect(tally, K(push_event)(handle, kNoteOff, 0, 60, 0.5), 2);        // off with a velocity
      expect(tally, K(push_event)(handle, 7, 0, 0, 0), 2);                  // no such kind
      expect(tally, K(push_event)(handle, kParam, 0, kBpm, NAN), 3);        // not finite
      expect(tally, K(push_event)(handle, kParam, 0, 53, 1), 2);            // no such parameter
      expect(tally, K(push_event)(handle, kNoteOn, 128, 60, 1), 1);         // frame out of range
      expect(tally, K(push_event)(stale, kNoteOn, 0, 60, 1), 1);            // destroyed instance
      expect(tally, K(process)(handle, 129), 1);                            // too many frames
      expect(tally, K(process)(stale, 128), 1);
      expect(tally, K(process)(handle, frames), 0);
      readEverything(handle, frames == 0 ? 1 : frames, tally);
      // Out of frame order, then a parameter the kernel rejects (chain start
      // after chain end): the block still runs.
      expect(tally, K(push_event)(handle, kNoteOn, 20, 64, 1), 0);
      expect(tally, K(push_event)(handle, kNoteOn, 10, 64, 1), 4);
      expect(tally, K(push_event)(handle, kParam, 30, kChainStart, 9), 0);
      const double status = K(process)(handle, 128);
      if (status != 0 && status != 2) ++tally.unexpectedStatus;
      readEverything(handle, 128, tally);
      tally.unexpectedStatus += K(event_output_count)(stale) != 0;
      tally.unexpectedStatus += K(event_output_a)(stale, 0) != 0;
    }
  });
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_EQ(tally.unexpectedStatus, 0) << "of " << tally.calls << " calls";
  EXPECT_EQ(tally.outputsOutsideBlock, 0);
  EXPECT_EQ(tally.nonEmptyViews, 0);
  EXPECT_GT(tally.outputs, 1500);
}

} // namespace
