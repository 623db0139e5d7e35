// Posting a runtime diagnostic from the audio thread allocates nothing, on
// the normal path and on the overflow path alike.
#include <gtest/gtest.h>

#include "alloc_counter.h"
#include "engine/runtime_diagnostics.h"

namespace {

TEST(RuntimeDiagnosticsAllocation, PostNeverAllocates) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  norva::RealtimeDiagnosticQueue queue;
  const auto counts = alloc_counter::countDuring([&] {
    for (uint32_t i = 0; i < 40; ++i) queue.post(norva::kDiagProcessFailed, 2, 7);
  });
  EXPECT_EQ(counts.allocations, 0) << "32 posts fill the queue, 8 take the overflow path";
  EXPECT_EQ(counts.releases, 0);
  EXPECT_TRUE(queue.hasPending());
}

} // namespace
