// Runtime diagnostics: the ring, the audio thread's queue and its drain, and
// the "norva-runtime-health/v1" report text.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/runtime_diagnostics.h"

namespace {

using namespace norva;

using Ring = norva_runtime_diagnostic_ring;

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::string report(const Ring &ring, bool failed = false) {
  return writeRuntimeHealthJson(ring, "music.norva.tindrel", "1.0.0", 48000, 512, failed);
}

std::string status(const Ring &ring, bool failed = false) {
  const std::string text = report(ring, failed);
  const size_t from = text.find("\"status\":\"") + 10;
  return text.substr(from, text.find('"', from) - from);
}

// One report in full; the other tests check the parts their rule decides.
TEST(RuntimeHealthReport, ExactText) {
  // No detail, no context; unknown identity; quote and backslash escaped.
  Ring ring{};
  recordDiagnostic(ring, kDiagBankMissing, kSeverityInfo, kPhaseState, R"(bank "x\y" not found)", nullptr);
  EXPECT_EQ(writeRuntimeHealthJson(ring, nullptr, nullptr, 44100.5, -1, false),
            R"({"format":"norva-runtime-health/v1","schemaVersion":1,"instanceId":"vst3",)"
            R"("lifecycle":"configured","status":"healthy",)"
            R"("counters":{"diagnostics":1,"diagnostics.dropped":0},"diagnostics":[)"
            R"({"format":"norva-plugin-runtime-diagnostic/v1","schemaVersion":1,"sequence":1,)"
            R"("code":"bank.missing","severity":"info","phase":"state","component":"shell",)"
            R"("message":"bank \"x\\y\" not found","recoverable":true,)"
            R"("identity":{"moduleId":"unknown","version":"unknown","target":"vst3"},)"
            R"("configuration":{"sampleRate":44100.5,"maxBlockFrames":-1},)"
            R"("occurrence":{"count":1}}]})");
  Ring empty{};
  recordDiagnostic(empty, 5, kSeverityWarning, kPhaseProcess, "m", "");
  EXPECT_FALSE(contains(report(empty), "context")) << "an empty detail writes no context";
}

TEST(RuntimeHealthReport, FirstErrorRepeatsTheEarliestStoredError) {
  Ring ring{};
  recordDiagnostic(ring, 5, kSeverityWarning, kPhaseLoad, "warn", nullptr);
  recordDiagnostic(ring, kDiagInvalidConfiguration, kSeverityError, kPhaseConfigure, "bad", R"(x "C:\x")");
  recordDiagnostic(ring, kDiagKernelCreateFailed, kSeverityFatal, kPhaseActivate, "later", nullptr);
  EXPECT_EQ(ring.firstError, 2u);
  const std::string text = writeRuntimeHealthJson(ring, "music.norva.tindrel", "1.0.0", 48000, 20000, true);
  const std::string record = R"({"format":"norva-plugin-runtime-diagnostic/v1","schemaVersion":1,"sequence":)";
  const size_t from = text.find(record + "2,"), to = text.find("," + record + "3,"),
               first = text.find(R"(],"firstError":)");
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos && first != std::string::npos) << text;
  const std::string diagnostic = text.substr(from, to - from);
  EXPECT_TRUE(contains(diagnostic, R"("recoverable":false,)") &&
              contains(diagnostic, R"("context":{"detail":"x \"C:\\x\""}})"))
      << diagnostic;
  EXPECT_EQ(text.substr(first + 15), diagnostic + "}");
  EXPECT_TRUE(contains(text, R"("lifecycle":"failed","status":"failed",)")) << text;
}

// The worst stored severity decides the status; the failed flag forces
// "failed" and alone decides the lifecycle.
TEST(RuntimeHealthReport, StatusRules) {
  const struct { std::vector<uint8_t> severities; bool failed; const char *status; } cases[] = {
      {{}, false, "healthy"}, {{kSeverityInfo}, false, "healthy"}, {{kSeverityInfo}, true, "failed"},
      {{kSeverityInfo, kSeverityWarning, kSeverityInfo}, false, "degraded"},
      {{kSeverityWarning, kSeverityError}, false, "failed"}, {{kSeverityFatal, kSeverityInfo}, false, "failed"},
  };
  for (const auto &c : cases) {
    Ring ring{};
    for (uint8_t severity : c.severities) recordDiagnostic(ring, 5, severity, kPhaseProcess, "m", nullptr);
    EXPECT_EQ(status(ring, c.failed), c.status) << &c - cases;
    const char *lifecycle = c.failed ? R"("lifecycle":"failed")" : R"("lifecycle":"configured")";
    EXPECT_TRUE(contains(report(ring, c.failed), lifecycle)) << &c - cases;
  }
}

TEST(RuntimeHealthReport, NamesOutsideTheTablesFallBack) {
  EXPECT_STREQ(diagnosticCodeName(0), "runtime.unknown");
  EXPECT_STREQ(diagnosticCodeName(1), "runtime.kernel-create-failed");
  EXPECT_STREQ(diagnosticCodeName(28), "bank.hash-mismatch");
  EXPECT_STREQ(diagnosticCodeName(0xffffffffu), "runtime.unknown");
  EXPECT_STREQ(diagnosticPhaseName(0), "build");
  EXPECT_STREQ(diagnosticPhaseName(11), "shutdown");

  // Just past each table: an unknown code, severity "error" (not recoverable,
  // and a first error) and phase "process".
  Ring ring{};
  recordDiagnostic(ring, kDiagFollowHostFallback + 1, 4, 12, "odd", nullptr);
  EXPECT_TRUE(contains(report(ring), R"("code":"runtime.unknown","severity":"error","phase":"process",)"
                                     R"("component":"shell","message":"odd","recoverable":false)"));
  EXPECT_EQ(ring.firstError, 1u);
}

TEST(DiagnosticRing, TheThirtyThirdRecordIsDropped) {
  Ring ring{};
  for (int i = 0; i < 32; ++i) recordDiagnostic(ring, 5, kSeverityInfo, kPhaseProcess, "info", nullptr);
  EXPECT_EQ(status(ring), "healthy");
  recordDiagnostic(ring, 4, kSeverityError, kPhaseProcess, "late error", nullptr);
  EXPECT_EQ(ring.count, 32u);
  EXPECT_EQ(ring.dropped, 1u);
  EXPECT_EQ(ring.nextSequence, 34u);
  EXPECT_EQ(ring.firstError, 0u) << "a dropped error is no first error";
  EXPECT_EQ(ring.records[31].sequence, 32u);
  const std::string text = report(ring);
  EXPECT_EQ(status(ring), "degraded") << "a drop alone degrades";
  EXPECT_TRUE(contains(text, R"("counters":{"diagnostics":32,"diagnostics.dropped":1})"));
  EXPECT_FALSE(contains(text, "late error") || contains(text, "firstError"));
}

TEST(DiagnosticRing, LongTextsAreCutAndNullTextsStoredEmpty) {
  Ring ring{};
  recordDiagnostic(ring, 1, kSeverityError, kPhaseActivate, std::string(300, 'm').c_str(),
                   std::string(200, 'd').c_str());
  recordDiagnostic(ring, 1, kSeverityError, kPhaseActivate, nullptr, nullptr);
  EXPECT_EQ(std::string(ring.records[0].message), std::string(191, 'm'));
  EXPECT_EQ(std::string(ring.records[0].detail), std::string(127, 'd'));
  EXPECT_STREQ(ring.records[1].message, "");
  EXPECT_STREQ(ring.records[1].detail, "");
}

TEST(RealtimeDiagnostics, OverflowRecordDegrades) {
  Ring ring{};
  recordRealtimeOverflow(ring, 4294967295u);
  EXPECT_EQ(status(ring), "degraded");
  EXPECT_TRUE(contains(report(ring), R"("code":"runtime.diagnostics-overflow","severity":"warning",)"));
  EXPECT_STREQ(ring.records[0].detail, "dropped=4294967295; source=audio callback");
}

// Posts become records after the ring's own, in order, numbered on. The
// queue holds 32 entries, so a drain that finds an overflow brings 32
// entries along. The ring keeps its last place for the overflow record: the
// entries beyond 31 are counted as dropped instead.
TEST(RealtimeDiagnostics, ThirtyThreePostsKeepThirtyTwoAndCountTheOverflow) {
  for (const uint32_t before : {0u, 10u}) {
    Ring ring{};
    for (uint32_t i = 0; i < before; ++i) recordDiagnostic(ring, 5, kSeverityInfo, kPhaseProcess, "m", nullptr);
    RealtimeDiagnosticQueue queue;
    EXPECT_FALSE(queue.hasPending());
    for (uint32_t i = 0; i < 33; ++i) queue.post(100 + i, i == 0 ? kSeverityError : kSeverityInfo, kPhaseProcess);
    queue.drainInto(ring);
    EXPECT_FALSE(queue.hasPending()) << "the drain takes the overflow count too";
    ASSERT_EQ(ring.count, 32u);
    for (uint32_t i = before; i < 31; ++i) {
      EXPECT_EQ(ring.records[i].code, 100 + i - before);
      EXPECT_EQ(ring.records[i].sequence, i + 1);
      EXPECT_STREQ(ring.records[i].detail, "audio callback");
    }
    EXPECT_EQ(ring.records[31].code, kDiagDiagnosticsOverflow);
    EXPECT_STREQ(ring.records[31].detail, "dropped=1; source=audio callback");
    EXPECT_EQ(ring.records[31].sequence, before + 33);
    EXPECT_EQ(ring.dropped, before + 1);
    EXPECT_EQ(ring.nextSequence, before + 34);
    EXPECT_EQ(ring.firstError, before + 1);
    queue.drainInto(ring);
    EXPECT_EQ(ring.nextSequence, before + 34) << "a second drain finds nothing";
  }
}

// The audio thread posts counting codes while the main thread drains into
// fresh rings: every entry arrives once, in order and intact, and what was
// lost shows as overflow. Bursts of 1 to 45 posts, each waiting for one more
// drain (through a relaxed counter that orders nothing), make the threads
// take turns and overlap, and the longer bursts overflow.
TEST(RealtimeDiagnostics, ConcurrentPostAndDrain) {
  constexpr uint32_t kPosts = 3000;
  constexpr uint32_t kFirstCode = 1000;
  RealtimeDiagnosticQueue queue;
  std::atomic<bool> done{false};
  std::atomic<uint32_t> drains{0};

  std::thread producer([&] {
    uint32_t i = 0;
    for (uint32_t burst = 0; i < kPosts; ++burst) {
      const uint32_t seen = drains.load(std::memory_order_relaxed);
      const uint32_t size = 1 + (burst * 7) % 45;
      for (uint32_t k = 0; k < size && i < kPosts; ++k, ++i) {
        const uint32_t code = kFirstCode + i;
        queue.post(code, static_cast<uint8_t>(code % 4), static_cast<uint8_t>(code % 12));
      }
      for (uint32_t spin = 0; drains.load(std::memory_order_relaxed) == seen; ++spin)
        if (spin >= 1000) std::this_thread::yield();
    }
    done.store(true, std::memory_order_release);
  });

  uint64_t delivered = 0, reportedOverflow = 0, droppedEntries = 0;
  uint32_t lastCode = 0, faults = 0;
  for (;;) {
    const bool finished = done.load(std::memory_order_acquire);
    Ring ring{};
    queue.drainInto(ring);
    for (uint32_t i = 0; i < ring.count; ++i) {
      const norva_runtime_diagnostic &d = ring.records[i];
      if (d.code == kDiagDiagnosticsOverflow) {
        unsigned count = 0;
        if (i + 1 != ring.count || std::sscanf(d.detail, "dropped=%u; source=audio callback", &count) != 1 ||
            count == 0)
          ++faults;
        reportedOverflow += count;
        continue;
      }
      const bool intact = d.code >= kFirstCode && d.code < kFirstCode + kPosts && d.code > lastCode &&
                          d.severity == d.code % 4 && d.phase == d.code % 12 && d.sequence == i + 1;
      if (!intact) ++faults;
      lastCode = d.code;
      ++delivered;
    }
    if (ring.dropped != 0) {
      // Only an overflow drops entries from a fresh ring, and its record
      // then takes the last place.
      if (ring.count != 32 || ring.records[31].code != kDiagDiagnosticsOverflow) ++faults;
      droppedEntries += ring.dropped;
    }
    drains.fetch_add(1, std::memory_order_relaxed);
    if (finished && !queue.hasPending()) break;
  }
  producer.join();

  EXPECT_EQ(faults, 0u);
  EXPECT_GT(delivered, 0u);
  EXPECT_EQ(delivered + reportedOverflow + droppedEntries, kPosts) << "every post is accounted for";
}

} // namespace
