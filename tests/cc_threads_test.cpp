// The CC layer's real-time side: the activity feed's drain rules, a real-time
// thread that records while another drains, and the proof that resolving and
// recording allocate nothing. scripts/tsan-diagnostics.sh runs it under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>
#include <tuple>

#include "alloc_counter.h"
#include "ccmap/cc_activity_feed.h"
#include "ccmap/cc_resolve.h"

namespace {

using namespace norva;

constexpr uint32_t kStep1 = kParamFirstStepVelocity;

std::tuple<int, int, int> fields(const CcActivityRecord &r) { return {r.cc, r.channel, r.value}; }

double fixedCurrent(void *context, unsigned) { return *static_cast<const double *>(context); }

TEST(CcActivityFeed, DrainRules) {
  CcActivityFeed feed;
  CcActivityRecord out[8];
  feed.record(7, 1, 10);
  feed.record(7, 2, 20);
  feed.record(7, 300, 200);  // the last report stands: channel 300 & 255, value 200 & 127
  feed.record(kMidiCcCount, 1, 1);
  feed.record(-1, 1, 1);
  ASSERT_EQ(feed.drain(0, out, 8), 1u) << "a number never drained is not held back, even at time 0";
  EXPECT_EQ(fields(out[0]), std::make_tuple(7, 44, 72));
  EXPECT_FALSE(feed.hasPending());

  feed.record(7, 1, 5);
  EXPECT_EQ(feed.drain(kCcActivityIntervalMs - 1, out, 8), 0u);
  EXPECT_TRUE(feed.hasPending());
  ASSERT_EQ(feed.drain(kCcActivityIntervalMs, out, 8), 1u);
  EXPECT_EQ(fields(out[0]), std::make_tuple(7, 1, 5));

  for (int cc : {90, 3, 50, 4, 120}) feed.record(cc, 1, cc);
  ASSERT_EQ(feed.drain(1000, out, 2), 2u);
  EXPECT_EQ(out[0].cc + 100 * out[1].cc, 3 + 100 * 4) << "the lowest numbers first";
  EXPECT_TRUE(feed.hasPending());
  EXPECT_EQ(feed.drain(1000, nullptr, 8) + feed.drain(1000, out, 0), 0u);
  EXPECT_TRUE(feed.hasPending());
  EXPECT_EQ(feed.drain(1000, out, 8), 3u);
  EXPECT_FALSE(feed.hasPending());

  // Clocks at the ends of the range: a clock that went back holds the
  // report; nothing overflows.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min(), kMax = std::numeric_limits<int64_t>::max();
  feed.record(3, 1, 1);
  EXPECT_EQ(feed.drain(kMin, out, 8), 0u);
  EXPECT_EQ(feed.drain(kMax, out, 8), 1u);
  feed.record(3, 1, 2);
  EXPECT_EQ(feed.drain(kMin, out, 8), 0u);
}

// The audio thread records a burst for every number, then waits; the UI
// thread drains whenever the feed says something is pending, and once the
// burst is over and nothing is pending, checks that the burst's value of
// every number arrived. Every drained report is whole (its channel matches
// its value), and a report that raced with a drain is never left behind
// with the pending flag down.
TEST(CcActivityFeed, RecordAndDrainOnTwoThreads) {
  constexpr int kNumbers = 16, kBursts = 10000;
  const auto channelFor = [](int value) { return (value * 37 + 11) & 255; };
  CcActivityFeed feed;
  std::atomic<int> recorded{-1}, checked{-1}, spin{0};
  std::thread audio([&] {
    for (int burst = 0; burst < kBursts; ++burst) {
      // Numbers in a scattered order, each after a short pause, so that
      // records land while a drain is under way.
      for (int k = 0; k < kNumbers; ++k) {
        for (int pause = (burst * 13 + k * 29) % 40; pause > 0; --pause) spin.fetch_add(1, std::memory_order_relaxed);
        feed.record(k * 7 % kNumbers, channelFor(burst % 128), burst % 128);
      }
      recorded.store(burst, std::memory_order_release);
      while (checked.load(std::memory_order_acquire) != burst) std::this_thread::yield();
    }
  });

  std::array<int, kNumbers> last;
  last.fill(-1);
  int64_t now = 0;
  unsigned torn = 0, lost = 0;
  for (int burst = 0; burst < kBursts;) {
    const bool over = recorded.load(std::memory_order_acquire) == burst;
    if (feed.hasPending()) {
      CcActivityRecord out[kMidiCcCount];
      now += kCcActivityIntervalMs;
      const unsigned n = feed.drain(now, out, kMidiCcCount);
      for (unsigned i = 0; i < n; ++i) {
        if (out[i].cc >= kNumbers || out[i].channel != channelFor(out[i].value)) ++torn;
        last[out[i].cc % kNumbers] = out[i].value;
      }
    } else if (over) {
      for (int value : last) lost += value != burst % 128;
      checked.store(burst++, std::memory_order_release);
    } else {
      std::this_thread::yield();
    }
  }
  audio.join();
  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(lost, 0u);
}

TEST(CcRealtime, ResolvingAndRecordingNeverAllocate) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  CcMap map;
  for (uint32_t mode = 0; mode <= uint32_t(CcValueMode::toggle); ++mode) {
    for (uint32_t takeover = 0; takeover <= uint32_t(CcTakeover::scaled); ++takeover, ++map.count) {
      map.bindings[map.count] = {.paramIndex = kStep1 + map.count, .cc = 7, .curve = CcCurve(map.count % 4),
                                 .valueMode = CcValueMode(mode), .takeover = CcTakeover(takeover)};
    }
  }
  CcRouterState state;
  CcActivityFeed feed;
  CcResolution out[kCcMapCapacity];
  double current = 0.3;
  unsigned results = 0;
  const auto counts = alloc_counter::countDuring([&] {
    for (int value = -5; value < 200; ++value) {
      results += ccResolve(map, 7, 1, value, &state, fixedCurrent, &current, out, kCcMapCapacity);
      results += ccResolve(map, 7, 1, value, &state, nullptr, nullptr, out, kCcMapCapacity);
      feed.record(value & 127, 1, value);
    }
  });
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_GT(results, 0u);
}

}  // namespace
