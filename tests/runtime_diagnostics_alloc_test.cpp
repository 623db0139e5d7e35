// Posting a runtime diagnostic from the audio thread allocates nothing, on
// the normal path and on the overflow path alike.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/runtime_diagnostics.h"

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
// Kept out of line so the compiler does not pair malloc's free with new.
[[gnu::noinline]] void release(void *p) noexcept { std::free(p); }
} // namespace

void *operator new(std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void *p) noexcept { release(p); }
void operator delete[](void *p) noexcept { release(p); }
void operator delete(void *p, std::size_t) noexcept { release(p); }
void operator delete[](void *p, std::size_t) noexcept { release(p); }

namespace {

long countedAllocations(void (*body)(norva::RealtimeDiagnosticQueue &),
                        norva::RealtimeDiagnosticQueue &queue) {
  gAllocations.store(0);
  gCounting.store(true);
  body(queue);
  gCounting.store(false);
  return gAllocations.load();
}

TEST(RuntimeDiagnosticsAllocation, PostNeverAllocates) {
  norva::RealtimeDiagnosticQueue queue;
  // The counter itself must see allocations, or the check below proves nothing.
  EXPECT_EQ(countedAllocations([](norva::RealtimeDiagnosticQueue &) {
              ::operator delete(::operator new(16));
            }, queue),
            1);
  EXPECT_EQ(countedAllocations([](norva::RealtimeDiagnosticQueue &q) {
              for (uint32_t i = 0; i < 40; ++i) q.post(norva::kDiagProcessFailed, 2, 7);
            }, queue),
            0)
      << "32 posts fill the queue, 8 take the overflow path";
  EXPECT_TRUE(queue.hasPending());
}

} // namespace
