// The CC layer's real-time side: map store reclamation and feed drain rules,
// each also on two threads (scripts/tsan-diagnostics.sh runs this under
// ThreadSanitizer), and that the real-time calls allocate nothing.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
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

double fixedCurrent(void *context, unsigned) { return *static_cast<const double *>(context); }

TEST(CcMapStore, RetiredMapsServeTwoEpochs) {
  CcMap initial, map;
  initial.count = 1;
  map.count = 2;
  CcMapStore store(initial);
  store.beginCycle();
  ASSERT_TRUE(store.publish(map));
  EXPECT_EQ(store.retiredCount(), 0u) << "the initial map is never retired";
  store.publish(map);
  store.publish(map);
  store.beginCycle();
  store.collect();
  EXPECT_EQ(store.retiredCount(), 2u);
  EXPECT_EQ(store.beginCycle().count, 2u);
  store.collect();
  EXPECT_EQ(store.retiredCount(), 0u);

  // Destruction frees every heap map and never the initial one (that would crash).
  const auto counts = alloc_counter::countDuring([&] {
    CcMapStore held(initial);
    for (int i = 0; i < 3; ++i) held.publish(map);
  });
  EXPECT_GE(counts.allocations, 3);
  EXPECT_EQ(counts.allocations, counts.releases);
}

// Each new map starts the reader's takeover memory afresh, also when it
// lands at the address of the freed map that the memory still names.
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
  store.publish(map);
  EXPECT_EQ(resolve(store.beginCycle(&state), 100), 1u) << "caught";
  EXPECT_EQ(resolve(store.beginCycle(&state), 10), 1u) << "follows";
  store.publish(map);
  for (int cycle = 0; cycle < 3; ++cycle) store.beginCycle();
  store.collect();  // frees the copy the state names
  store.publish(map);
  EXPECT_EQ(resolve(store.beginCycle(&state), 10), 0u) << "far from the parameter: must catch it again";
}

// The audio thread takes the map in force each cycle and resolves through
// it while the writer publishes and collects. Every map it takes is whole
// (its bindings carry its count as their number); one freed too early shows
// as a race under ThreadSanitizer, a use after free under AddressSanitizer.
TEST(CcMapStore, PublishWhileTheReaderResolves) {
  CcMapStore store;
  std::atomic<bool> done{false};
  std::atomic<unsigned> broken{0}, cycles{0};
  std::thread audio([&] {
    CcRouterState state;
    CcResolution out[kCcMapCapacity];
    for (; !done.load(std::memory_order_acquire); cycles.fetch_add(1, std::memory_order_relaxed)) {
      const CcMap &map = store.beginCycle(&state);
      for (uint32_t i = 0; i < map.count; ++i) broken.fetch_add(map.bindings[i].cc != map.count);
      ccResolve(map, int(map.count), 1, 64, &state, nullptr, nullptr, out, kCcMapCapacity);
    }
  });
  unsigned refused = 0;
  for (uint32_t k = 0; k < 5000; ++k) {
    CcMap map;
    for (map.count = 0; map.count <= k % kCcMapCapacity; ++map.count)
      map.bindings[map.count] = {.paramIndex = kStep1 + map.count % kStepVelocityParamCount,
                                 .cc = uint8_t(k % kCcMapCapacity + 1), .valueMode = CcValueMode(k % 5),
                                 .takeover = CcTakeover(k % 3)};
    refused += !store.publish(map);
    if (k % 3 == 0) store.collect();
  }
  done.store(true, std::memory_order_release);
  audio.join();
  EXPECT_EQ(refused + broken.load(), 0u);
  EXPECT_GT(cycles.load(), 0u);
}

TEST(CcActivityFeed, DrainRules) {
  using Fields = std::tuple<int, int, int>;
  const auto fields = [](const CcActivityRecord &r) { return Fields{r.cc, r.channel, r.value}; };
  CcActivityFeed feed;
  CcActivityRecord out[8];
  for (int value : {10, 20, 200}) feed.record(7, value + 100, value);
  feed.record(kMidiCcCount, 1, 1);
  feed.record(-1, 1, 1);
  ASSERT_EQ(feed.drain(0, out, 8), 1u) << "a number never drained waits for nothing, even at time 0";
  EXPECT_EQ(fields(out[0]), Fields(7, 300 & 255, 200 & 127));
  EXPECT_FALSE(feed.hasPending());

  feed.record(7, 1, 5);
  EXPECT_EQ(feed.drain(kCcActivityIntervalMs - 1, out, 8), 0u);
  EXPECT_TRUE(feed.hasPending());
  ASSERT_EQ(feed.drain(kCcActivityIntervalMs, out, 8), 1u);
  EXPECT_EQ(fields(out[0]), Fields(7, 1, 5));

  for (int cc : {90, 3, 50, 4, 120}) feed.record(cc, 1, cc);
  ASSERT_EQ(feed.drain(1000, out, 2) + feed.drain(1000, nullptr, 8) + feed.drain(1000, out, 0), 2u);
  EXPECT_EQ(out[0].cc * 100 + out[1].cc, 304) << "the lowest numbers first";
  EXPECT_TRUE(feed.hasPending());
  EXPECT_EQ(feed.drain(1000, out, 8), 3u);
  EXPECT_FALSE(feed.hasPending());

  // At the ends of the clock's range nothing overflows; a clock that went back holds the report.
  feed.record(3, 1, 1);
  EXPECT_EQ(feed.drain(std::numeric_limits<int64_t>::min(), out, 8), 0u);
  EXPECT_EQ(feed.drain(std::numeric_limits<int64_t>::max(), out, 8), 1u);
}

// The audio thread records a burst for every number, spaced so that records
// land during drains; the UI thread drains while the feed says something is
// pending, then checks that the burst's last value of every number arrived
// whole: a record that raced with a drain is never left with the flag down.
TEST(CcActivityFeed, RecordAndDrainOnTwoThreads) {
  constexpr int kNumbers = 16, kBursts = 10000;
  const auto channelFor = [](int value) { return (value * 37 + 11) & 255; };
  CcActivityFeed feed;
  std::atomic<int> recorded{-1}, checked{-1}, spin{0};
  std::thread audio([&] {
    for (int burst = 0; burst < kBursts; ++burst) {
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
      const unsigned n = feed.drain(now += kCcActivityIntervalMs, out, kMidiCcCount);
      for (unsigned i = 0; i < n; ++i) {
        torn += out[i].cc >= kNumbers || out[i].channel != channelFor(out[i].value);
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
  CcMap map;  // every value mode with every takeover, on one controller
  for (map.count = 0; map.count < 15; ++map.count)
    map.bindings[map.count] = {.paramIndex = kStep1 + map.count, .cc = 7, .curve = CcCurve(map.count % 4),
                               .valueMode = CcValueMode(map.count / 3), .takeover = CcTakeover(map.count % 3)};
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
  EXPECT_EQ(counts.allocations + counts.releases, 0);
  EXPECT_GT(results, 0u);
}

}  // namespace
