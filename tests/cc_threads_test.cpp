// The CC layer's real-time side: the map store's reclamation and the
// activity feed's drain rules, each with a real-time thread working while
// another publishes or drains, and the proof that taking a map, resolving
// and recording allocate nothing. scripts/tsan-diagnostics.sh runs it under
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
#include "ccmap/cc_map_store.h"
#include "ccmap/cc_resolve.h"

namespace {

using namespace norva;

constexpr uint32_t kStep1 = kParamFirstStepVelocity;

std::tuple<int, int, int> fields(const CcActivityRecord &r) { return {r.cc, r.channel, r.value}; }

double fixedCurrent(void *context, unsigned) { return *static_cast<const double *>(context); }

TEST(CcMapStore, RetiredMapsServeTwoEpochs) {
  CcMap initial, map;
  initial.count = 1;
  CcMapStore store(initial);
  EXPECT_EQ(store.beginCycle().count, 1u);
  map.count = 2;
  ASSERT_TRUE(store.publish(map));
  EXPECT_EQ(store.retiredCount(), 0u) << "the initial map is never retired";
  ASSERT_TRUE(store.publish(map));
  map.count = 3;
  ASSERT_TRUE(store.publish(map));
  EXPECT_EQ(store.retiredCount(), 2u);
  store.beginCycle();
  store.collect();
  EXPECT_EQ(store.retiredCount(), 2u);
  EXPECT_EQ(store.beginCycle().count, 3u);
  store.collect();
  EXPECT_EQ(store.retiredCount(), 0u);
  EXPECT_TRUE(store.takeChanged());
  EXPECT_FALSE(store.takeChanged());

  // Destruction frees every heap map, retired or in force, and never the
  // initial one (freeing that would crash).
  const auto counts = alloc_counter::countDuring([&] {
    CcMapStore held(initial);
    for (int i = 0; i < 3; ++i) held.publish(map);
  });
  EXPECT_GE(counts.allocations, 3);
  EXPECT_EQ(counts.allocations, counts.releases);
}

// Each new map starts the reader's takeover memory afresh, also when it
// lands at the address of a freed map that the memory still names.
TEST(CcMapStore, EveryNewMapResetsTheReaderState) {
  CcMap map;
  map.bindings[0] = {.paramIndex = kStep1, .cc = 7, .takeover = CcTakeover::pickup};
  map.count = 1;
  CcMapStore store;
  CcRouterState state;
  double current = 100 / 127.0;
  const auto resolve = [&](const CcMap &inForce, int value) {
    CcResolution out[1];
    return ccResolve(inForce, 7, 1, value, &state, fixedCurrent, &current, out, 1);
  };
  ASSERT_TRUE(store.publish(map));
  EXPECT_EQ(resolve(store.beginCycle(&state), 100), 1u) << "picks up";
  EXPECT_EQ(resolve(store.beginCycle(&state), 10), 1u) << "follows";
  ASSERT_TRUE(store.publish(map));
  for (int cycle = 0; cycle < 3; ++cycle) store.beginCycle();
  store.collect();  // frees the copy the state names
  ASSERT_TRUE(store.publish(map));
  EXPECT_EQ(resolve(store.beginCycle(&state), 10), 0u) << "far from the parameter: must pick up again";
  EXPECT_EQ(resolve(store.beginCycle(&state), 100), 1u);
}

// The writer publishes and collects while the audio thread takes the map in
// force each cycle and resolves through it. Every map it takes is whole (its
// bindings carry its count as their controller number); a map freed too
// early shows as a race under ThreadSanitizer and a use after free under
// AddressSanitizer.
TEST(CcMapStore, PublishWhileTheReaderResolves) {
  CcMapStore store;
  std::atomic<bool> done{false};
  std::atomic<unsigned> broken{0}, cycles{0};
  std::thread audio([&] {
    CcRouterState state;
    CcResolution out[kCcMapCapacity];
    while (!done.load(std::memory_order_acquire)) {
      const CcMap &map = store.beginCycle(&state);
      for (uint32_t i = 0; i < map.count; ++i)
        if (map.bindings[i].cc != map.count) broken.fetch_add(1, std::memory_order_relaxed);
      ccResolve(map, int(map.count), 1, 64, &state, nullptr, nullptr, out, kCcMapCapacity);
      cycles.fetch_add(1, std::memory_order_relaxed);
    }
  });
  unsigned refused = 0;
  for (uint32_t k = 0; k < 5000; ++k) {
    CcMap map;
    map.count = 1 + k % kCcMapCapacity;
    for (uint32_t i = 0; i < map.count; ++i)
      map.bindings[i] = {.paramIndex = kStep1 + i % kStepVelocityParamCount, .cc = uint8_t(map.count),
                         .valueMode = CcValueMode(i % 5), .takeover = CcTakeover(i % 3)};
    refused += !store.publish(map);
    if (k % 3 == 0) store.collect();
  }
  done.store(true, std::memory_order_release);
  audio.join();
  EXPECT_EQ(refused, 0u);
  EXPECT_EQ(broken.load(), 0u);
  EXPECT_GT(cycles.load(), 0u);
}

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

TEST(CcRealtime, TakingResolvingAndRecordingNeverAllocate) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  CcMap map;
  for (uint32_t mode = 0; mode <= uint32_t(CcValueMode::toggle); ++mode) {
    for (uint32_t takeover = 0; takeover <= uint32_t(CcTakeover::scaled); ++takeover, ++map.count) {
      map.bindings[map.count] = {.paramIndex = kStep1 + map.count, .cc = 7, .curve = CcCurve(map.count % 4),
                                 .valueMode = CcValueMode(mode), .takeover = CcTakeover(takeover)};
    }
  }
  CcMapStore store(map);
  CcRouterState state;
  CcActivityFeed feed;
  CcResolution out[kCcMapCapacity];
  double current = 0.3;
  unsigned results = 0;
  const auto counts = alloc_counter::countDuring([&] {
    for (int value = -5; value < 200; ++value) {
      const CcMap &inForce = store.beginCycle(&state);
      results += ccResolve(inForce, 7, 1, value, &state, fixedCurrent, &current, out, kCcMapCapacity);
      results += ccResolve(inForce, 7, 1, value, &state, nullptr, nullptr, out, kCcMapCapacity);
      feed.record(value & 127, 1, value);
    }
  });
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_GT(results, 0u);
}

}  // namespace
