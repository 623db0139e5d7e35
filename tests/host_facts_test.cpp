// Host and transport facts: change detection, the "norva.hostChanged" and
// "norva.transport" texts, the transport ring (also from two threads) and
// what reading a record from bytes makes of damage. fuzz/fuzz_host_facts.cpp
// covers the readers and writers on arbitrary bytes (reserved bytes and
// unused buses cleared, every text written one clean JSON value).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/host_facts.h"

namespace {

using namespace norva;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <typename T> std::vector<uint8_t> bytesOf(const T &record) {
  std::vector<uint8_t> bytes(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

HostFacts studioFacts() {
  HostFacts f{.hostName = "Live", .hostVersion = "12.1", .hostPath = "/Applications/Live.app",
              .validatorHost = kValidatorHostAuval, .sampleRate = 48000, .maxBlockFrames = 512,
              .lastBlockFrames = 256, .processMode = kHostProcessOffline, .sampleSize = 64, .latencySamples = 128,
              .tailKind = kHostTailSamples, .tailSamples = 4410, .internalSampleRate = 96000, .bypassKnown = 1,
              .bypassed = 1};
  f.addBus("in0", true, 2, true, "stereo");
  f.addBus("out0", false, 3, false, nullptr);
  return f;
}

const TransportFact kPlaying{.atFrame = 96000, .source = kTransportSourceHost, .playing = 1, .looping = 1,
                             .hasTempo = 1, .hasTimeSignature = 1, .hasPosition = 1, .hasLoop = 1, .tempo = 128.5,
                             .numerator = 7, .denominator = 8, .ppqPosition = 16.25, .barPositionPpq = 14,
                             .loopStartPpq = 8, .loopEndPpq = 24, .sampleRate = 44100, .projectTimeSamples = 705600};

std::string hostJson(const HostFacts &f) { std::string out; writeDiagnosticHostJson(out, f); return out; }
std::string transportJson(const TransportFact &t) { std::string out; writeDiagnosticTransportJson(out, t); return out; }
// "none" where there is no change.
std::string deltaJson(const HostFacts &a, const HostFacts &b) {
  std::string out;
  return writeDiagnosticHostDeltaJson(out, a, b) ? out : "none";
}
std::string kindOf(const HostFacts &a, const HostFacts &b) {
  const char *kind = diagnosticHostChangeKind(a, b);
  return kind != nullptr ? kind : "none";
}

// Field offsets are pinned by static_asserts next to the records; here
// addBus's limits.
TEST(FactsLayout, AddBusLimits) {
  HostFacts f;
  f.addBus(std::string(40, 'i').c_str(), true, 2, true, std::string(30, 'l').c_str());
  f.addBus(nullptr, false, 1, true, nullptr);
  for (int i = 2; i < 9; ++i) f.addBus("x", false, i, true, "mono");
  EXPECT_EQ(std::string(f.buses[0].id), std::string(31, 'i'));
  EXPECT_EQ(std::string(f.buses[0].layout), std::string(23, 'l'));
  EXPECT_STREQ(f.buses[1].id, "");
  EXPECT_EQ(f.busCount, 8u) << "a ninth bus is ignored";
  EXPECT_EQ(f.buses[7].channels, 7);
}

TEST(HostJson, ExactTexts) {
  EXPECT_EQ(hostJson(studioFacts()),
            R"({"hostName":"Live","hostVersion":"12.1","hostPath":"/Applications/Live.app",)"
            R"("validatorHost":"auval","sampleRate":48000,"maxBlockFrames":512,"lastBlockFrames":256,)"
            R"("processMode":"offline","sampleSize":64,"latencySamples":128,"tailSamples":4410,)"
            R"("internalSampleRate":96000,"buses":[)"
            R"({"id":"in0","direction":"input","channels":2,"active":true,"layout":"stereo"},)"
            R"({"id":"out0","direction":"output","channels":3,"active":false}],"bypassed":true})");
  // Empty texts, an unknown last block, no internal rate and an unknown
  // bypass are left out.
  const std::string empty = hostJson(HostFacts{});
  for (const char *key : {"hostName", "validatorHost", "lastBlockFrames", "internalSampleRate", "bypassed"})
    EXPECT_EQ(empty.find(key), std::string::npos) << key;
}

// Changes whose delta or kind is not simply the changed field's (every rule
// and every delta member also shows in the next test).
#define CHANGE(...) [](HostFacts &f) { __VA_ARGS__; }
TEST(HostChange, KindAndDeltaOfSingleChanges) {
  const struct { void (*change)(HostFacts &); const char *kind, *delta; } cases[] = {
      {CHANGE(f.lastBlockFrames = -1), "blockSizeChanged", "none"},
      {CHANGE(f.internalSampleRate = 0), "sampleRateChanged", "none"},
      {CHANGE(f.tailSamples = 1), "tailChanged", R"({"tailSamples":1})"},
      {CHANGE(f.bypassKnown = f.bypassed = 0), "none", "none"}, {CHANGE(f.buses[5].channels = 9), "none", "none"},
      {CHANGE(f.busCount = 1), "busLayoutChanged",
       R"({"buses":[{"id":"in0","direction":"input","channels":2,"active":true,"layout":"stereo"}]})"},
      {CHANGE(f.buses[0].active = 0), "busLayoutChanged", nullptr},
      {CHANGE(f.buses[0].id[2] = '1'), "busLayoutChanged", nullptr},
      {CHANGE(f.buses[1].isInput = 1), "busLayoutChanged", nullptr},
      {CHANGE(f.buses[1].channels = 2), "busLayoutChanged", nullptr},
  };
  const HostFacts previous = studioFacts();
  for (const auto &c : cases) {
    HostFacts current = previous;
    c.change(current);
    EXPECT_EQ(kindOf(previous, current), c.kind) << &c - cases;
    EXPECT_EQ(c.delta ? deltaJson(previous, current) : "", c.delta ? c.delta : "") << &c - cases;
  }
  // Bypass becoming known is a change, becoming unknown is not.
  HostFacts unknown, known;
  known.bypassKnown = 1;
  EXPECT_EQ(deltaJson(unknown, known), R"({"bypassed":false})");
  EXPECT_EQ(kindOf(known, unknown), "none");
}

// Changes added from the last rule to the first: each step must switch to
// the kind of the rule it adds, so every pair of neighbours is ordered.
TEST(HostChange, EarlierRulesWinAndTheMessageCarriesTheEvent) {
  const std::pair<void (*)(HostFacts &), const char *> steps[] = {
      {CHANGE(f.internalSampleRate = 88200), "sampleRateChanged"}, {CHANGE(f.sampleSize = 32), "configured"},
      {CHANGE(f.lastBlockFrames = 100), "blockSizeChanged"}, {CHANGE(f.bypassed = 0), "bypassChanged"},
      {CHANGE(f.processMode = kHostProcessPrefetch), "processModeChanged"},
      {CHANGE(f.tailKind = kHostTailInfinite), "tailChanged"}, {CHANGE(f.latencySamples = 1), "latencyChanged"},
      {CHANGE(std::strcpy(f.buses[1].layout, "mono")), "busLayoutChanged"},
      {CHANGE(f.maxBlockFrames = 1024), "blockSizeChanged"}, {CHANGE(f.sampleRate = 96000), "sampleRateChanged"},
  };
  const HostFacts previous = studioFacts();
  HostFacts current = previous;
  for (const auto &[change, kind] : steps) {
    change(current);
    EXPECT_EQ(kindOf(previous, current), kind);
  }
  std::string out = "x";
  EXPECT_TRUE(writeDiagnosticHostChangedJson(out, previous, current, 4294967295u, 12.5));
  // The host object leaves out the host's identity texts.
  EXPECT_EQ(out,
            R"(x{"type":"norva.hostChanged","host":{"sampleRate":96000,"maxBlockFrames":1024,"lastBlockFrames":100,)"
            R"("processMode":"prefetch","sampleSize":32,"latencySamples":1,"tailSamples":"infinite",)"
            R"("internalSampleRate":88200,"buses":[)"
            R"({"id":"in0","direction":"input","channels":2,"active":true,"layout":"stereo"},)"
            R"({"id":"out0","direction":"output","channels":3,"active":false,"layout":"mono"}],"bypassed":false},)"
            R"("event":{"seq":4294967295,"timeMs":12.5,"kind":"sampleRateChanged"}})");
}
#undef CHANGE

TEST(TransportJson, ExactTextAndNullRules) {
  EXPECT_EQ(transportJson(kPlaying),
            R"({"type":"norva.transport","frame":{"atFrame":96000,"source":"host","state":{"playing":true,)"
            R"("recording":false,"looping":true,"tempo":128.5,"timeSignature":{"numerator":7,"denominator":8},)"
            R"("ppqPosition":16.25,"barPositionPpq":14,"loopStartPpq":8,"loopEndPpq":24,"sampleRate":44100,)"
            R"("projectTimeSamples":705600},"capabilities":{"tempo":true,"timeSignature":true,"position":true,)"
            R"("loop":true,"canSetTempo":false}}})");
  const std::pair<TransportFact, const char *> cases[] = {
      {{}, R"("source":"none","state":{"playing":false,"recording":false,"looping":false,"tempo":120,)"
           R"("timeSignature":{"numerator":4,"denominator":4},"ppqPosition":0,"barPositionPpq":0,)"
           R"("loopStartPpq":null,"loopEndPpq":null,"sampleRate":null,)"},
      {{.source = kTransportSourceInternal}, R"("source":"internal",)"},
      {{.hasLoop = 1, .loopEndPpq = kNaN, .sampleRate = -1},
       R"("loopStartPpq":0,"loopEndPpq":null,"sampleRate":null,)"},
  };
  for (const auto &[fact, part] : cases) EXPECT_NE(transportJson(fact).find(part), std::string::npos) << part;
}

TEST(TransportChange, PositionsAreIgnoredEverythingElseCounts) {
  TransportFact moved = kPlaying;
  moved.atFrame += 512;
  moved.ppqPosition += 1;
  moved.barPositionPpq += 4;
  moved.projectTimeSamples += 512;
  EXPECT_FALSE(moved.differsFrom(kPlaying));
  const TransportFact unknownTempo{.tempo = kNaN};
  EXPECT_FALSE(unknownTempo.differsFrom(unknownTempo));

#define MOVE(...) [](TransportFact &t) { __VA_ARGS__; }
  void (*const changes[])(TransportFact &) = {
      MOVE(t.source = 2),       MOVE(t.playing = 0),      MOVE(t.recording = 1),      MOVE(t.looping = 0),
      MOVE(t.hasTempo = 0),     MOVE(t.hasPosition = 0),  MOVE(t.hasTimeSignature = 0), MOVE(t.hasLoop = 0),
      MOVE(t.canSetTempo = 1),  MOVE(t.tempo = 128.25),   MOVE(t.numerator = 3),      MOVE(t.denominator = 4),
      MOVE(t.loopStartPpq = 0), MOVE(t.loopEndPpq = 32),  MOVE(t.sampleRate = 48000), MOVE(t.tempo = kNaN),
  };
#undef MOVE
  for (size_t i = 0; i < std::size(changes); ++i) {
    TransportFact changed = kPlaying;
    changes[i](changed);
    EXPECT_TRUE(changed.differsFrom(kPlaying) && kPlaying.differsFrom(changed)) << "change " << i;
  }
}

TransportFact numbered(uint32_t i) {
  const int32_t n = static_cast<int32_t>(i);
  return {.atFrame = i, .source = static_cast<uint8_t>(i % 3), .playing = static_cast<uint8_t>(i & 1),
          .tempo = i * 0.5, .numerator = n, .denominator = -n, .ppqPosition = i + 0.25, .loopEndPpq = -n * 1.0,
          .projectTimeSamples = -3 * int64_t{n}};
}

bool isNumbered(const TransportFact &t) { return bytesOf(t) == bytesOf(numbered(static_cast<uint32_t>(t.atFrame))); }

TEST(TransportRing, FortyPushesKeepTheNewestThirtyTwo) {
  DiagnosticTransportRing ring;
  TransportFact out = numbered(999);
  EXPECT_FALSE(ring.drainLatest(out));
  EXPECT_EQ(out.atFrame, 999u);
  for (uint32_t i = 1; i <= 40; ++i) ring.push(numbered(i));
  EXPECT_EQ(ring.pending(), 32u);
  EXPECT_EQ(ring.overruns(), 8u);
  ASSERT_TRUE(ring.drainLatest(out));
  EXPECT_TRUE(isNumbered(out) && out.atFrame == 40u);
  EXPECT_EQ(ring.pending(), 0u);
  EXPECT_FALSE(ring.drainLatest(out));
  ring.push(numbered(41));
  ASSERT_TRUE(ring.drainLatest(out));
  EXPECT_EQ(out.atFrame, 41u);
  EXPECT_EQ(ring.overruns(), 8u);
}

// One thread pushes numbered snapshots while another drains: every snapshot
// drained is whole and newer than the last, and the last push arrives. Paced
// (bursts of 1 to 45, each waiting for a drain through a relaxed counter that
// orders nothing) the sides take turns and overlap; unpaced the producer laps
// the consumer mid-copy. Two slots make the collisions frequent.
template <typename Ring> void pushAndDrainConcurrently(bool paced, uint32_t pushes) {
  Ring ring;
  std::atomic<bool> done{false};
  std::atomic<uint32_t> drains{0};
  std::thread producer([&] {
    uint32_t i = 1;
    for (uint32_t burst = 0; i <= pushes; ++burst) {
      const uint32_t seen = drains.load(std::memory_order_relaxed);
      const uint32_t size = paced ? 1 + (burst * 7) % 45 : pushes;
      for (uint32_t k = 0; k < size && i <= pushes; ++k, ++i) ring.push(numbered(i));
      for (uint32_t spin = 0; paced && drains.load(std::memory_order_relaxed) == seen; ++spin)
        if (spin >= 1000) std::this_thread::yield();
    }
    done.store(true, std::memory_order_release);
  });

  uint64_t last = 0;
  uint32_t faults = 0;
  for (;;) {
    const bool finished = done.load(std::memory_order_acquire);
    TransportFact fact;
    const bool got = ring.drainLatest(fact);
    if (got) {
      if (!isNumbered(fact) || fact.atFrame <= last) ++faults;
      last = fact.atFrame;
    }
    drains.fetch_add(1, std::memory_order_relaxed);
    if (finished && !got) break;
  }
  producer.join();
  EXPECT_EQ(faults, 0u);
  EXPECT_EQ(last, pushes);
  EXPECT_LE(ring.overruns(), pushes);
}

TEST(TransportRing, ConcurrentPushAndDrain) {
  pushAndDrainConcurrently<DiagnosticTransportRing>(true, 4000);
  pushAndDrainConcurrently<TransportFactRing<2>>(true, 4000);
  pushAndDrainConcurrently<DiagnosticTransportRing>(false, 400000);
  pushAndDrainConcurrently<TransportFactRing<2>>(false, 400000);
}

// A row damages a well-formed record as foreign bytes might and says what
// reading it must make of the damage. Where writersAgree, the writers read
// the raw record as they read the sanitised one.
template <typename T> struct Damage {
  const char *name;
  std::function<void(T &)> damage, expected;
  bool writersAgree;
};

template <typename T, typename Read, typename Write>
void expectSanitised(const T &good, const std::vector<Damage<T>> &cases, Read read, Write write) {
  for (const Damage<T> &c : cases) {
    T raw = good, want = good, got;
    c.damage(raw);
    c.expected(want);
    ASSERT_TRUE(read(bytesOf(raw).data(), sizeof raw, got)) << c.name;
    EXPECT_EQ(bytesOf(got), bytesOf(want)) << c.name;
    if (c.writersAgree) {
      EXPECT_EQ(write(raw), write(got)) << c.name;
    }
  }
}

TEST(FactsFromBytes, HostileBytesAreSanitised) {
  HostFacts h;
  TransportFact t;
  EXPECT_FALSE(hostFactsFromBytes(nullptr, 1312, h));
  EXPECT_FALSE(transportFactFromBytes(nullptr, 88, t));

  using H = HostFacts &;
  HostFacts full = studioFacts();
  std::strcpy(full.hostPath, "/Users/zoë/Applications/Live 12 \xE2\x80\x94 Suite.app");
  for (int i = 2; i < 8; ++i) full.addBus("side", true, i, true, "mono");
  expectSanitised<HostFacts>(
      full,
      {{"none", [](H) {}, [](H) {}, true},
       {"control bytes and malformed UTF-8",
        [](H f) {  // overlong, surrogate, above U+10FFFF, overlong, cut
          std::strcpy(f.hostName,
                      "A\tB\x1b[0m\xC3\xA9" "\xC0\xAF" "\xED\xA0\x80" "\xF4\x90\x80\x80" "\xF0\x8F\xBF\xBF" "\xE2\x82");
        },
        [](H f) { std::strcpy(f.hostName, "A?B?[0m\xC3\xA9" "??" "???" "????" "????" "??"); }, true},
       {"texts without a NUL",
        [](H f) { std::memset(f.hostPath, 0xFF, 512); std::memset(f.buses[0].id, 'x', 32); },
        [](H f) { std::memset(f.hostPath, '?', 511); std::memset(f.buses[0].id, 'x', 31); }, true},
       {"kinds out of range", [](H f) { f.validatorHost = 9; f.processMode = -1; f.tailKind = 3; },
        [](H f) { f.validatorHost = 0; f.processMode = f.tailKind = 0; }, true},
       {"flags other than 1", [](H f) { f.bypassKnown = 2; f.bypassed = f.buses[1].active = f.buses[0].isInput = 7; },
        [](H f) { f.bypassKnown = f.bypassed = f.buses[1].active = f.buses[0].isInput = 0; }, true},
       {"bus count past capacity", [](H f) { f.busCount = 0xFFFFFFFF; }, [](H f) { f.busCount = 8; }, true},
       {"sample size", [](H f) { f.sampleSize = 48; }, [](H f) { f.sampleSize = 32; }, false},
       {"non-finite rates", [](H f) { f.sampleRate = kNaN; f.internalSampleRate = -kInf; },
        [](H f) { f.sampleRate = f.internalSampleRate = 0; }, false}},
      hostFactsFromBytes, hostJson);

  using T = TransportFact &;
  expectSanitised<TransportFact>(
      kPlaying,
      {{"source and flags", [](T f) { f.source = 3; f.playing = f.hasTempo = 2; f.canSetTempo = 0xFF; },
        [](T f) { f.source = f.playing = f.hasTempo = f.canSetTempo = 0; }, true},
       {"non-finite doubles",
        [](T f) { f.tempo = f.loopStartPpq = kInf; f.ppqPosition = f.barPositionPpq = -kInf; f.loopEndPpq = kNaN; },
        [](T f) { f.tempo = 120; f.loopStartPpq = f.ppqPosition = f.barPositionPpq = f.loopEndPpq = 0; }, false},
       {"non-finite rate", [](T f) { f.sampleRate = kNaN; }, [](T f) { f.sampleRate = 0; }, true}},
      transportFactFromBytes, transportJson);
}

} // namespace
