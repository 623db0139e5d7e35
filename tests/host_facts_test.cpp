// Host and transport facts: the wire bytes of both records, change detection,
// the "norva.hostChanged" and "norva.transport" texts, the transport ring
// (also from two threads) and the sanitising of records taken from bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/host_facts.h"
#include "formats/json.h"

namespace {

using namespace norva;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <typename T> std::vector<uint8_t> bytesOf(const T &record) {
  std::vector<uint8_t> bytes(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

template <typename T> T recordOf(const std::vector<uint8_t> &bytes) {
  T record;
  std::memcpy(static_cast<void *>(&record), bytes.data(), sizeof record);
  return record;
}

// One JSON value with nothing after it, and no raw control byte anywhere.
bool isCleanJson(const std::string &text) {
  Reader r(text.data(), text.size());
  if (!skipValue(r, 0) || !atEnd(r)) return false;
  for (unsigned char c : text)
    if (c < 0x20) return false;
  return true;
}

HostFacts studioFacts() {
  HostFacts f;
  std::strcpy(f.hostName, "Live");
  std::strcpy(f.hostVersion, "12.1");
  std::strcpy(f.hostPath, "/Applications/Live.app");
  f.validatorHost = kValidatorHostAuval;
  f.sampleRate = 48000;
  f.maxBlockFrames = 512;
  f.lastBlockFrames = 256;
  f.processMode = kHostProcessOffline;
  f.sampleSize = 64;
  f.latencySamples = 128;
  f.tailKind = kHostTailSamples;
  f.tailSamples = 4410;
  f.internalSampleRate = 96000;
  f.bypassKnown = 1;
  f.bypassed = 1;
  f.addBus("in0", true, 2, true, "stereo");
  f.addBus("out0", false, 3, false, nullptr);
  return f;
}

std::string hostJson(const HostFacts &f) {
  std::string out;
  writeDiagnosticHostJson(out, f);
  return out;
}

std::string deltaJson(const HostFacts &previous, const HostFacts &current) {
  std::string out;
  if (!writeDiagnosticHostDeltaJson(out, previous, current)) return "none";
  return out;
}

std::string kindOf(const HostFacts &previous, const HostFacts &current) {
  const char *kind = diagnosticHostChangeKind(previous, current);
  return kind != nullptr ? kind : "none";
}

std::string transportJson(const TransportFact &fact) {
  std::string out;
  writeDiagnosticTransportJson(out, fact);
  return out;
}

// ---------------------------------------------------------------------------
// Wire bytes

// Field offsets are pinned by static_asserts next to the records; here the
// defaults as they go on the wire.
TEST(FactsLayout, NewRecordsHaveTheirDefaultBytes) {
  std::vector<uint8_t> host(1312, 0);
  const int32_t lastBlockFrames = -1, sampleSize = 32;
  std::memcpy(&host[724], &lastBlockFrames, 4);
  std::memcpy(&host[732], &sampleSize, 4);
  EXPECT_EQ(bytesOf(HostFacts{}), host);

  std::vector<uint8_t> transport(88, 0);
  const double tempo = 120.0;
  const int32_t four = 4;
  std::memcpy(&transport[24], &tempo, 8);
  std::memcpy(&transport[32], &four, 4);
  std::memcpy(&transport[36], &four, 4);
  EXPECT_EQ(bytesOf(TransportFact{}), transport);
}

TEST(FactsLayout, AddBusCutsTextsAndIgnoresANinthBus) {
  HostFacts f;
  const std::string longId(40, 'i');
  const std::string longLayout(30, 'l');
  f.addBus(longId.c_str(), true, 2, true, longLayout.c_str());
  EXPECT_EQ(std::string(f.buses[0].id), std::string(31, 'i'));
  EXPECT_EQ(std::string(f.buses[0].layout), std::string(23, 'l'));
  f.addBus(nullptr, false, 1, true, nullptr);
  EXPECT_STREQ(f.buses[1].id, "");
  EXPECT_STREQ(f.buses[1].layout, "");
  for (int i = 2; i < 9; ++i) f.addBus("x", false, i, true, "mono");
  EXPECT_EQ(f.busCount, 8u);
  EXPECT_EQ(f.buses[7].channels, 7);
}

// ---------------------------------------------------------------------------
// Host texts

TEST(HostJson, DefaultAndStudioFacts) {
  EXPECT_EQ(hostJson(HostFacts{}),
            R"({"sampleRate":0,"maxBlockFrames":0,"processMode":"realtime","sampleSize":32,)"
            R"("latencySamples":0,"tailSamples":"unreported","buses":[]})");
  EXPECT_EQ(hostJson(studioFacts()),
            R"({"hostName":"Live","hostVersion":"12.1","hostPath":"/Applications/Live.app",)"
            R"("validatorHost":"auval","sampleRate":48000,"maxBlockFrames":512,"lastBlockFrames":256,)"
            R"("processMode":"offline","sampleSize":64,"latencySamples":128,"tailSamples":4410,)"
            R"("internalSampleRate":96000,"buses":[)"
            R"({"id":"in0","direction":"input","channels":2,"active":true,"layout":"stereo"},)"
            R"({"id":"out0","direction":"output","channels":3,"active":false}],"bypassed":true})");
}

TEST(HostJson, OptionalMembersAndSpecialValues) {
  HostFacts f;
  std::strcpy(f.hostName, "Say \"hi\" \\");
  f.validatorHost = kValidatorHostNorvaProbe;
  f.sampleRate = kNaN;
  f.processMode = kHostProcessPrefetch;
  f.tailKind = kHostTailInfinite;
  f.internalSampleRate = kInf;
  f.bypassKnown = 1;
  EXPECT_EQ(hostJson(f), R"({"hostName":"Say \"hi\" \\","validatorHost":"norva-probe","sampleRate":null,)"
                         R"("maxBlockFrames":0,"processMode":"prefetch","sampleSize":32,"latencySamples":0,)"
                         R"("tailSamples":"infinite","internalSampleRate":null,"buses":[],"bypassed":false})");
}

// ---------------------------------------------------------------------------
// Change detection

TEST(HostChange, IdentityAloneIsNoChangeAndWritesNothing) {
  const HostFacts previous = studioFacts();
  HostFacts current = previous;
  std::strcpy(current.hostName, "Bitwig");
  std::strcpy(current.hostPath, "/opt/bitwig");
  current.validatorHost = kValidatorHostPluginval;
  EXPECT_EQ(kindOf(previous, current), "none");
  std::string out = "kept";
  EXPECT_FALSE(writeDiagnosticHostDeltaJson(out, previous, current));
  EXPECT_FALSE(writeDiagnosticHostChangedJson(out, previous, current, 1, 0));
  EXPECT_EQ(out, "kept");
}

TEST(HostChange, RateAndLatencyGiveTheRateKindAndBothMembers) {
  HostFacts previous;
  previous.sampleRate = 44100;
  HostFacts current = previous;
  current.sampleRate = 48000;
  current.latencySamples = 64;
  EXPECT_EQ(kindOf(previous, current), "sampleRateChanged");
  EXPECT_EQ(deltaJson(previous, current), R"({"sampleRate":48000,"latencySamples":64})");

  HostFacts wide = previous;
  wide.sampleSize = 64;
  EXPECT_EQ(kindOf(previous, wide), "configured");
  EXPECT_EQ(deltaJson(previous, wide), R"({"sampleSize":64})");
}

// One field at a time, each with the kind and the delta it must produce.
TEST(HostChange, EachFieldHasItsKindAndDelta) {
  struct Case {
    const char *name;
    std::function<void(HostFacts &)> change;
    const char *kind;
    const char *delta;
  };
  const std::vector<Case> cases = {
      {"max block", [](HostFacts &f) { f.maxBlockFrames = 1024; }, "blockSizeChanged", R"({"maxBlockFrames":1024})"},
      {"last block", [](HostFacts &f) { f.lastBlockFrames = 100; }, "blockSizeChanged", R"({"lastBlockFrames":100})"},
      {"last block unknown", [](HostFacts &f) { f.lastBlockFrames = -1; }, "blockSizeChanged", "none"},
      {"process mode", [](HostFacts &f) { f.processMode = kHostProcessRealtime; }, "processModeChanged",
       R"({"processMode":"realtime"})"},
      {"latency", [](HostFacts &f) { f.latencySamples = 0; }, "latencyChanged", R"({"latencySamples":0})"},
      {"tail kind", [](HostFacts &f) { f.tailKind = kHostTailInfinite; }, "tailChanged",
       R"({"tailSamples":"infinite"})"},
      {"tail samples", [](HostFacts &f) { f.tailSamples = 1; }, "tailChanged", R"({"tailSamples":1})"},
      {"internal rate", [](HostFacts &f) { f.internalSampleRate = 88200; }, "sampleRateChanged",
       R"({"internalSampleRate":88200})"},
      {"internal rate off", [](HostFacts &f) { f.internalSampleRate = 0; }, "sampleRateChanged", "none"},
      {"bypass", [](HostFacts &f) { f.bypassed = 0; }, "bypassChanged", R"({"bypassed":false})"},
      {"bypass unknown", [](HostFacts &f) { f.bypassKnown = 0; }, "none", "none"},
      {"bus layout", [](HostFacts &f) { std::strcpy(f.buses[1].layout, "mono"); }, "busLayoutChanged", nullptr},
      {"bus active", [](HostFacts &f) { f.buses[0].active = 0; }, "busLayoutChanged", nullptr},
      {"bus id", [](HostFacts &f) { f.buses[0].id[2] = '1'; }, "busLayoutChanged", nullptr},
      {"bus direction", [](HostFacts &f) { f.buses[1].isInput = 1; }, "busLayoutChanged", nullptr},
      {"bus channels", [](HostFacts &f) { f.buses[1].channels = 2; }, "busLayoutChanged", nullptr},
      {"bus count", [](HostFacts &f) { f.busCount = 1; }, "busLayoutChanged",
       R"({"buses":[{"id":"in0","direction":"input","channels":2,"active":true,"layout":"stereo"}]})"},
      {"unused bus entry", [](HostFacts &f) { f.buses[5].channels = 9; }, "none", "none"},
  };
  const HostFacts previous = studioFacts();
  for (const Case &c : cases) {
    HostFacts current = previous;
    c.change(current);
    EXPECT_EQ(kindOf(previous, current), c.kind) << c.name;
    if (c.delta != nullptr) {
      EXPECT_EQ(deltaJson(previous, current), c.delta) << c.name;
    }
  }
}

// Changes added from the last rule to the first: each step must switch to
// the kind of the rule it adds, so every pair of neighbours is ordered.
TEST(HostChange, EarlierRulesWin) {
  const std::vector<std::pair<std::function<void(HostFacts &)>, const char *>> steps = {
      {[](HostFacts &f) { f.internalSampleRate = 88200; }, "sampleRateChanged"},
      {[](HostFacts &f) { f.sampleSize = 32; }, "configured"},
      {[](HostFacts &f) { f.lastBlockFrames = 100; }, "blockSizeChanged"},
      {[](HostFacts &f) { f.bypassed = 0; }, "bypassChanged"},
      {[](HostFacts &f) { f.processMode = kHostProcessPrefetch; }, "processModeChanged"},
      {[](HostFacts &f) { f.tailKind = kHostTailInfinite; }, "tailChanged"},
      {[](HostFacts &f) { f.latencySamples = 1; }, "latencyChanged"},
      {[](HostFacts &f) { std::strcpy(f.buses[1].layout, "mono"); }, "busLayoutChanged"},
      {[](HostFacts &f) { f.maxBlockFrames = 1024; }, "blockSizeChanged"},
      {[](HostFacts &f) { f.sampleRate = 96000; }, "sampleRateChanged"},
  };
  const HostFacts previous = studioFacts();
  HostFacts current = previous;
  for (const auto &[change, kind] : steps) {
    change(current);
    EXPECT_EQ(kindOf(previous, current), kind);
  }
  EXPECT_EQ(deltaJson(previous, current),
            R"({"sampleRate":96000,"maxBlockFrames":1024,"lastBlockFrames":100,"processMode":"prefetch",)"
            R"("sampleSize":32,"latencySamples":1,"tailSamples":"infinite","internalSampleRate":88200,"buses":[)"
            R"({"id":"in0","direction":"input","channels":2,"active":true,"layout":"stereo"},)"
            R"({"id":"out0","direction":"output","channels":3,"active":false,"layout":"mono"}],"bypassed":false})");
}

TEST(HostChange, BypassBecomingKnownIsAChange) {
  HostFacts previous;
  HostFacts current;
  current.bypassKnown = 1;
  EXPECT_EQ(kindOf(previous, current), "bypassChanged");
  EXPECT_EQ(deltaJson(previous, current), R"({"bypassed":false})");
  // Known before, unknown now: nothing to report.
  EXPECT_EQ(kindOf(current, previous), "none");
}

TEST(HostChange, ARateThatStaysNaNIsNoChange) {
  HostFacts previous;
  previous.sampleRate = kNaN;
  previous.internalSampleRate = -kNaN;
  const HostFacts current = previous;
  EXPECT_EQ(kindOf(previous, current), "none");
  EXPECT_EQ(deltaJson(previous, current), "none");
}

TEST(HostChange, ChangedMessageCarriesTheEvent) {
  HostFacts previous;
  HostFacts current;
  current.sampleRate = 48000;
  std::string out = "x";
  EXPECT_TRUE(writeDiagnosticHostChangedJson(out, previous, current, 7, 12.5));
  EXPECT_EQ(out, R"(x{"type":"norva.hostChanged","host":{"sampleRate":48000},)"
                 R"("event":{"seq":7,"timeMs":12.5,"kind":"sampleRateChanged"}})");
  out.clear();
  EXPECT_TRUE(writeDiagnosticHostChangedJson(out, previous, current, 4294967295u, kNaN));
  EXPECT_EQ(out, R"({"type":"norva.hostChanged","host":{"sampleRate":48000},)"
                 R"("event":{"seq":4294967295,"timeMs":null,"kind":"sampleRateChanged"}})");
}

// ---------------------------------------------------------------------------
// Transport

TransportFact playingFact() {
  TransportFact t;
  t.atFrame = 96000;
  t.source = kTransportSourceHost;
  t.playing = 1;
  t.looping = 1;
  t.hasTempo = t.hasTimeSignature = t.hasPosition = t.hasLoop = 1;
  t.tempo = 128.5;
  t.numerator = 7;
  t.denominator = 8;
  t.ppqPosition = 16.25;
  t.barPositionPpq = 14;
  t.loopStartPpq = 8;
  t.loopEndPpq = 24;
  t.sampleRate = 44100;
  t.projectTimeSamples = 705600;
  return t;
}

TEST(TransportJson, DefaultAndPlayingFacts) {
  EXPECT_EQ(transportJson(TransportFact{}),
            R"({"type":"norva.transport","frame":{"atFrame":0,"source":"none","state":{"playing":false,)"
            R"("recording":false,"looping":false,"tempo":120,"timeSignature":{"numerator":4,"denominator":4},)"
            R"("ppqPosition":0,"barPositionPpq":0,"loopStartPpq":null,"loopEndPpq":null,"sampleRate":null,)"
            R"("projectTimeSamples":0},"capabilities":{"tempo":false,"timeSignature":false,"position":false,)"
            R"("loop":false,"canSetTempo":false}}})");
  EXPECT_EQ(transportJson(playingFact()),
            R"({"type":"norva.transport","frame":{"atFrame":96000,"source":"host","state":{"playing":true,)"
            R"("recording":false,"looping":true,"tempo":128.5,"timeSignature":{"numerator":7,"denominator":8},)"
            R"("ppqPosition":16.25,"barPositionPpq":14,"loopStartPpq":8,"loopEndPpq":24,"sampleRate":44100,)"
            R"("projectTimeSamples":705600},"capabilities":{"tempo":true,"timeSignature":true,"position":true,)"
            R"("loop":true,"canSetTempo":false}}})");
}

TEST(TransportJson, NullRules) {
  TransportFact t = playingFact();
  t.hasLoop = 0;
  t.source = kTransportSourceInternal;
  t.tempo = kNaN;
  t.ppqPosition = kInf;
  t.barPositionPpq = -kInf;
  t.sampleRate = -44100;
  const std::string text = transportJson(t);
  EXPECT_NE(text.find(R"("source":"internal")"), std::string::npos);
  EXPECT_NE(text.find(R"("tempo":null,)"), std::string::npos);
  EXPECT_NE(text.find(R"("ppqPosition":null,"barPositionPpq":null,"loopStartPpq":null,"loopEndPpq":null,)"
                      R"("sampleRate":null,)"),
            std::string::npos);
  t.hasLoop = 1;
  t.loopEndPpq = kNaN;
  t.sampleRate = kInf;
  EXPECT_NE(transportJson(t).find(R"("loopStartPpq":8,"loopEndPpq":null,"sampleRate":null,)"), std::string::npos);
}

TEST(TransportChange, PositionsAreIgnoredEverythingElseCounts) {
  const TransportFact base = playingFact();
  TransportFact moved = base;
  moved.atFrame += 512;
  moved.ppqPosition += 1;
  moved.barPositionPpq += 4;
  moved.projectTimeSamples += 512;
  EXPECT_FALSE(moved.differsFrom(base));

  const std::vector<std::function<void(TransportFact &)>> changes = {
      [](TransportFact &t) { t.source = kTransportSourceInternal; },
      [](TransportFact &t) { t.playing = 0; },
      [](TransportFact &t) { t.recording = 1; },
      [](TransportFact &t) { t.looping = 0; },
      [](TransportFact &t) { t.hasTempo = 0; },
      [](TransportFact &t) { t.hasTimeSignature = 0; },
      [](TransportFact &t) { t.hasPosition = 0; },
      [](TransportFact &t) { t.hasLoop = 0; },
      [](TransportFact &t) { t.canSetTempo = 1; },
      [](TransportFact &t) { t.tempo = 128.25; },
      [](TransportFact &t) { t.numerator = 3; },
      [](TransportFact &t) { t.denominator = 4; },
      [](TransportFact &t) { t.loopStartPpq = 0; },
      [](TransportFact &t) { t.loopEndPpq = 32; },
      [](TransportFact &t) { t.sampleRate = 48000; },
      [](TransportFact &t) { t.tempo = kNaN; },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    TransportFact changed = base;
    changes[i](changed);
    EXPECT_TRUE(changed.differsFrom(base)) << "change " << i;
    EXPECT_TRUE(base.differsFrom(changed)) << "change " << i;
  }
  TransportFact unknownTempo = base;
  unknownTempo.tempo = kNaN;
  EXPECT_FALSE(unknownTempo.differsFrom(unknownTempo));
}

// ---------------------------------------------------------------------------
// Transport ring

TransportFact numbered(uint32_t i) {
  TransportFact t;
  t.atFrame = i;
  t.source = static_cast<uint8_t>(i % 3);
  t.playing = static_cast<uint8_t>(i & 1);
  t.tempo = i * 0.5;
  t.numerator = static_cast<int32_t>(i);
  t.denominator = -static_cast<int32_t>(i);
  t.ppqPosition = i + 0.25;
  t.loopEndPpq = -static_cast<double>(i);
  t.projectTimeSamples = -static_cast<int64_t>(i) * 3;
  return t;
}

bool isNumbered(const TransportFact &t) {
  const TransportFact expected = numbered(static_cast<uint32_t>(t.atFrame));
  return std::memcmp(&t, &expected, sizeof t) == 0;
}

TEST(TransportRing, FortyPushesKeepTheNewestThirtyTwo) {
  DiagnosticTransportRing ring;
  TransportFact out = numbered(999);
  EXPECT_FALSE(ring.drainLatest(out));
  EXPECT_EQ(out.atFrame, 999u);
  for (uint32_t i = 1; i <= 40; ++i) ring.push(numbered(i));
  EXPECT_EQ(ring.pending(), 32u);
  EXPECT_EQ(ring.overruns(), 8u);
  ASSERT_TRUE(ring.drainLatest(out));
  EXPECT_TRUE(isNumbered(out));
  EXPECT_EQ(out.atFrame, 40u);
  EXPECT_EQ(ring.pending(), 0u);
  EXPECT_FALSE(ring.drainLatest(out));
  ring.push(numbered(41));
  ASSERT_TRUE(ring.drainLatest(out));
  EXPECT_EQ(out.atFrame, 41u);
  EXPECT_EQ(ring.overruns(), 8u);
}

// The audio side pushes numbered snapshots while the main side drains. Every
// snapshot drained must be whole and newer than the one before, and the last
// drain gets the last push. Paced: bursts of 1 to 45 (the longer ones overrun
// the ring), each waiting for one more drain, so the sides take turns and
// overlap. Unpaced: the producer runs flat out and laps the consumer, which
// then copies slots that are being overwritten. The pacing counter is relaxed
// so it orders nothing the ring must order. A two-slot ring makes the
// collisions (lapping, both sides moving tail) frequent.
template <typename Ring> void pushAndDrainConcurrently(bool paced, uint32_t pushes) {
  constexpr uint32_t kSpinsBeforeYield = 1000;
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
        if (spin >= kSpinsBeforeYield) std::this_thread::yield();
    }
    done.store(true, std::memory_order_release);
  });

  uint64_t last = 0;
  uint32_t delivered = 0;
  uint32_t faults = 0;
  for (;;) {
    const bool finished = done.load(std::memory_order_acquire);
    TransportFact fact;
    const bool got = ring.drainLatest(fact);
    if (got) {
      if (!isNumbered(fact) || fact.atFrame <= last) ++faults;
      last = fact.atFrame;
      ++delivered;
    }
    drains.fetch_add(1, std::memory_order_relaxed);
    if (finished && !got) break;
  }
  producer.join();

  EXPECT_EQ(faults, 0u);
  EXPECT_GE(delivered, 1u);
  EXPECT_EQ(last, pushes);
  EXPECT_LE(ring.overruns(), pushes);
}

TEST(TransportRing, ConcurrentPacedPushAndDrain) {
  pushAndDrainConcurrently<DiagnosticTransportRing>(true, 4000);
  pushAndDrainConcurrently<TransportFactRing<2>>(true, 4000);
}

TEST(TransportRing, ConcurrentFlatOutPushAndDrain) {
  pushAndDrainConcurrently<DiagnosticTransportRing>(false, 400000);
  pushAndDrainConcurrently<TransportFactRing<2>>(false, 400000);
}

// ---------------------------------------------------------------------------
// Records from untrusted bytes

TEST(FactsFromBytes, WrongSizesAreRefusedAndLeaveTheRecordAlone) {
  const std::vector<uint8_t> host = bytesOf(studioFacts());
  const std::vector<uint8_t> transport = bytesOf(playingFact());
  HostFacts h;
  TransportFact t;
  EXPECT_FALSE(hostFactsFromBytes(host.data(), 1311, h));
  EXPECT_FALSE(hostFactsFromBytes(host.data(), 88, h));
  const std::vector<uint8_t> longer(1313, 0);
  EXPECT_FALSE(hostFactsFromBytes(longer.data(), longer.size(), h));
  EXPECT_FALSE(transportFactFromBytes(longer.data(), 89, t));
  EXPECT_FALSE(hostFactsFromBytes(nullptr, 1312, h));
  EXPECT_FALSE(transportFactFromBytes(transport.data(), 87, t));
  EXPECT_FALSE(transportFactFromBytes(host.data(), 1312, t));
  EXPECT_FALSE(transportFactFromBytes(nullptr, 88, t));
  EXPECT_EQ(bytesOf(h), bytesOf(HostFacts{}));
  EXPECT_EQ(bytesOf(t), bytesOf(TransportFact{}));
}

TEST(FactsFromBytes, WellFormedRecordsPassUnchanged) {
  HostFacts full = studioFacts();
  std::strcpy(full.hostPath, "/Users/zoë/Applications/Live 12 \xE2\x80\x94 Suite.app");
  for (int i = 2; i < 8; ++i) full.addBus("side", true, 1, true, "mono");
  HostFacts h;
  ASSERT_TRUE(hostFactsFromBytes(bytesOf(full).data(), 1312, h));
  EXPECT_EQ(bytesOf(h), bytesOf(full));

  TransportFact t;
  ASSERT_TRUE(transportFactFromBytes(bytesOf(playingFact()).data(), 88, t));
  EXPECT_EQ(bytesOf(t), bytesOf(playingFact()));
}

// Every byte 0xFF: no NUL in any text, every count and kind out of range,
// every double NaN.
TEST(FactsFromBytes, AllOnesHostRecordIsSanitised) {
  const std::vector<uint8_t> hostile(1312, 0xFF);
  HostFacts h;
  ASSERT_TRUE(hostFactsFromBytes(hostile.data(), hostile.size(), h));
  EXPECT_EQ(std::string(h.hostName), std::string(127, '?'));
  EXPECT_EQ(std::string(h.hostPath), std::string(511, '?'));
  EXPECT_EQ(h.busCount, 8u);
  EXPECT_EQ(h.validatorHost, kValidatorHostNone);
  EXPECT_EQ(h.sampleRate, 0.0);
  EXPECT_EQ(h.processMode, kHostProcessRealtime);
  EXPECT_EQ(h.sampleSize, 32);
  EXPECT_EQ(h.tailKind, kHostTailUnreported);
  EXPECT_EQ(h.bypassKnown, 0);

  const std::string bus = R"({"id":")" + std::string(31, '?') + R"(","direction":"output","channels":-1,)"
                          R"("active":false,"layout":")" + std::string(23, '?') + R"("})";
  std::string buses;
  for (int i = 0; i < 8; ++i) buses += (i > 0 ? "," : "") + bus;
  EXPECT_EQ(hostJson(h), R"({"hostName":")" + std::string(127, '?') + R"(","hostVersion":")" +
                             std::string(63, '?') + R"(","hostPath":")" + std::string(511, '?') +
                             R"(","sampleRate":0,"maxBlockFrames":-1,"processMode":"realtime","sampleSize":32,)"
                             R"("latencySamples":-1,"tailSamples":"unreported","buses":[)" +
                             buses + "]}");

  // Sanitising what is already sanitised changes nothing.
  HostFacts again;
  ASSERT_TRUE(hostFactsFromBytes(bytesOf(h).data(), 1312, again));
  EXPECT_EQ(bytesOf(again), bytesOf(h));
}

TEST(FactsFromBytes, TextsLoseControlBytesAndMalformedUtf8Only) {
  HostFacts raw;
  const char name[] = "A\tB\x1b[0m\xC3\xA9\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82";
  std::memcpy(raw.hostName, name, sizeof name);
  std::memset(raw.buses[0].id, 'x', sizeof raw.buses[0].id);  // no NUL
  raw.buses[0].isInput = 7;
  raw.busCount = 1;
  std::memset(raw.buses[1].id, 'y', 8);  // beyond busCount
  HostFacts h;
  ASSERT_TRUE(hostFactsFromBytes(bytesOf(raw).data(), 1312, h));
  EXPECT_STREQ(h.hostName, "A?B?[0m\xC3\xA9???????????");
  EXPECT_EQ(std::string(h.buses[0].id), std::string(31, 'x'));
  EXPECT_EQ(h.buses[0].isInput, 0);
  EXPECT_EQ(bytesOf(h.buses[1]), bytesOf(HostBusFact{}));
  // The writers clean the raw record the same way.
  EXPECT_EQ(hostJson(raw), hostJson(h));
}

TEST(FactsFromBytes, HostileTransportRecordIsSanitised) {
  std::vector<uint8_t> hostile(88, 0xFF);
  TransportFact t;
  ASSERT_TRUE(transportFactFromBytes(hostile.data(), hostile.size(), t));
  EXPECT_EQ(t.source, kTransportSourceNone);
  EXPECT_EQ(t.playing, 0);
  EXPECT_EQ(t.hasLoop, 0);
  EXPECT_EQ(t.tempo, 120.0);
  EXPECT_EQ(t.sampleRate, 0.0);

  TransportFact raw = playingFact();
  raw.tempo = kInf;
  raw.ppqPosition = kNaN;
  raw.loopStartPpq = -kInf;
  raw.sampleRate = kNaN;
  raw.source = 3;
  raw.hasTempo = 2;
  ASSERT_TRUE(transportFactFromBytes(bytesOf(raw).data(), 88, t));
  EXPECT_EQ(t.tempo, 120.0);
  EXPECT_EQ(t.ppqPosition, 0.0);
  EXPECT_EQ(t.loopStartPpq, 0.0);
  EXPECT_EQ(t.loopEndPpq, 24.0);
  EXPECT_EQ(t.sampleRate, 0.0);
  EXPECT_EQ(t.hasTempo, 0);
  EXPECT_FALSE(t.differsFrom(t));
}

// The writers and comparisons read raw, unsanitised records safely: nothing
// outside the arrays, and every text they write is one clean JSON value.
TEST(FactsFromBytes, WritersAreSafeOnRawBytes) {
  for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
    const HostFacts previous = recordOf<HostFacts>(std::vector<uint8_t>(1312, fill));
    const HostFacts current = recordOf<HostFacts>(std::vector<uint8_t>(1312, static_cast<uint8_t>(fill ^ 0x5A)));
    EXPECT_TRUE(isCleanJson(hostJson(current))) << int(fill);
    std::string changed;
    if (writeDiagnosticHostChangedJson(changed, previous, current, 3, 1.0)) {
      EXPECT_TRUE(isCleanJson(changed)) << int(fill);
    }
    const TransportFact t = recordOf<TransportFact>(std::vector<uint8_t>(88, fill));
    EXPECT_TRUE(isCleanJson(transportJson(t))) << int(fill);
  }
}

} // namespace
