// Counts heap allocations and releases while switched on, for tests that
// prove realtime calls allocate nothing.
//
// Include from exactly ONE source file of a test executable: it defines the
// malloc family (forwarding to glibc's internal entry points), which every
// operator new and delete and the C library's own allocations go through.
// Under a sanitizer, whose allocator must stay in charge, its allocation
// hooks count instead.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace alloc_counter {

inline std::atomic<bool> counting{false};
inline std::atomic<long> allocations{0};
inline std::atomic<long> releases{0};

inline void noteAllocation() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
inline void noteRelease(const volatile void *p) {
  if (p != nullptr && counting.load(std::memory_order_relaxed))
    releases.fetch_add(1, std::memory_order_relaxed);
}

struct Counts {
  long allocations;
  long releases;
};

// Runs `work` with counting on. `work` must not allocate on its own account:
// no assertions, no containers, only the calls under test and plain locals.
template <typename Work> Counts countDuring(Work &&work) {
  allocations.store(0);
  releases.store(0);
  counting.store(true);
  work();
  counting.store(false);
  return {allocations.load(), releases.load()};
}

// Stored pointers cannot be optimised away.
inline void *volatile escape = nullptr;
// Stores p where the optimiser cannot see it go unused, and hands it back.
inline void *kept(void *p) {
  escape = p;
  return p;
}

// A counter that misses a route would let every zero count pass vacuously:
// plain, array, over-aligned and nothrow new, malloc, and the C library's own.
inline bool seesEveryRoute() {
  struct alignas(64) Wide {
    char bytes[64];
  };
  const Counts counts = countDuring([] {
    delete static_cast<int *>(kept(new int(1)));
    delete[] static_cast<int *>(kept(new int[8]));
    delete static_cast<Wide *>(kept(new Wide));
    delete static_cast<int *>(kept(new (std::nothrow) int(2)));
    std::free(kept(std::malloc(16)));
    std::free(kept(strdup("counted")));
  });
  return counts.allocations >= 6 && counts.releases >= 6;
}

} // namespace alloc_counter

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOC_COUNTER_SANITIZER_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ALLOC_COUNTER_SANITIZER_HOOKS 1
#endif
#endif

#ifdef ALLOC_COUNTER_SANITIZER_HOOKS

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
namespace alloc_counter {
inline void mallocHook(const volatile void *, size_t) { noteAllocation(); }
inline void freeHook(const volatile void *p) { noteRelease(p); }
[[maybe_unused]] inline const bool hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook) != 0;
} // namespace alloc_counter

#else

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
void *__libc_memalign(size_t, size_t);
void *__libc_valloc(size_t);
void *__libc_pvalloc(size_t);

#define ALLOC_COUNTER_FORWARD(result, name, params, call)                                                       \
  result name params {                                                                                         \
    alloc_counter::noteAllocation();                                                                           \
    return call;                                                                                               \
  }
ALLOC_COUNTER_FORWARD(void *, malloc, (size_t size), __libc_malloc(size))
ALLOC_COUNTER_FORWARD(void *, calloc, (size_t count, size_t size), __libc_calloc(count, size))
ALLOC_COUNTER_FORWARD(void *, realloc, (void *p, size_t size), __libc_realloc(p, size))
ALLOC_COUNTER_FORWARD(void *, memalign, (size_t alignment, size_t size), __libc_memalign(alignment, size))
ALLOC_COUNTER_FORWARD(void *, aligned_alloc, (size_t alignment, size_t size), __libc_memalign(alignment, size))
ALLOC_COUNTER_FORWARD(void *, valloc, (size_t size), __libc_valloc(size))
ALLOC_COUNTER_FORWARD(void *, pvalloc, (size_t size), __libc_pvalloc(size))
ALLOC_COUNTER_FORWARD(void *, reallocarray, (void *p, size_t count, size_t size),
                      size != 0 && count > SIZE_MAX / size ? (errno = ENOMEM, nullptr) : __libc_realloc(p, count * size))
#undef ALLOC_COUNTER_FORWARD
int posix_memalign(void **out, size_t alignment, size_t size) {
  alloc_counter::noteAllocation();
  if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void *p = __libc_memalign(alignment, size);
  return p == nullptr ? ENOMEM : (*out = p, 0);
}
void free(void *p) {
  alloc_counter::noteRelease(p);
  __libc_free(p);
}
} // extern "C"

#endif
