// Runtime diagnostics: the ring, the audio thread's queue and its drain, and
// the "norva-runtime-health/v1" report text.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>

#include "engine/runtime_diagnostics.h"

namespace {

using namespace norva;

using Ring = norva_runtime_diagnostic_ring;

size_t occurrences(const std::string &text, const std::string &needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

std::string report(const Ring &ring, bool failed = false) {
  return writeRuntimeHealthJson(ring, "music.norva.tindrel", "1.0.0", 48000, 512, failed);
}

std::string status(const Ring &ring, bool failed = false) {
  const std::string text = report(ring, failed);
  const size_t at = text.find("\"status\":\"");
  if (at == std::string::npos) return "?";
  const size_t from = at + 10;
  return text.substr(from, text.find('"', from) - from);
}

// ---------------------------------------------------------------------------
// Report text

TEST(RuntimeHealthReport, FreshRingIsHealthyAndEmpty) {
  const Ring ring{};
  EXPECT_EQ(report(ring),
            R"({"format":"norva-runtime-health/v1","schemaVersion":1,"instanceId":"vst3",)"
            R"("lifecycle":"configured","status":"healthy",)"
            R"("counters":{"diagnostics":0,"diagnostics.dropped":0},"diagnostics":[]})");
}

TEST(RuntimeHealthReport, FailedSetupReportsTheErrorTwice) {
  Ring ring{};
  recordDiagnostic(ring, kDiagInvalidConfiguration, kSeverityError, kPhaseConfigure,
                   "maximum block size out of range", "maxBlockFrames=20000");
  const std::string diagnostic =
      R"({"format":"norva-plugin-runtime-diagnostic/v1","schemaVersion":1,"sequence":1,)"
      R"("code":"runtime.invalid-configuration","severity":"error","phase":"configure",)"
      R"("component":"shell","message":"maximum block size out of range","recoverable":false,)"
      R"("identity":{"moduleId":"music.norva.tindrel","version":"1.0.0","target":"vst3"},)"
      R"("configuration":{"sampleRate":48000,"maxBlockFrames":20000},"occurrence":{"count":1},)"
      R"("context":{"detail":"maxBlockFrames=20000"}})";
  EXPECT_EQ(writeRuntimeHealthJson(ring, "music.norva.tindrel", "1.0.0", 48000, 20000, true),
            R"({"format":"norva-runtime-health/v1","schemaVersion":1,"instanceId":"vst3",)"
            R"("lifecycle":"failed","status":"failed",)"
            R"("counters":{"diagnostics":1,"diagnostics.dropped":0},"diagnostics":[)" +
                diagnostic + R"(],"firstError":)" + diagnostic + "}");
}

TEST(RuntimeHealthReport, DiagnosticWithoutDetailHasNoContextAndUnknownIdentity) {
  Ring ring{};
  recordDiagnostic(ring, kDiagBankMissing, kSeverityInfo, kPhaseState, "bank not found", nullptr);
  EXPECT_EQ(writeRuntimeHealthJson(ring, nullptr, nullptr, 44100.5, -1, false),
            R"({"format":"norva-runtime-health/v1","schemaVersion":1,"instanceId":"vst3",)"
            R"("lifecycle":"configured","status":"healthy",)"
            R"("counters":{"diagnostics":1,"diagnostics.dropped":0},"diagnostics":[)"
            R"({"format":"norva-plugin-runtime-diagnostic/v1","schemaVersion":1,"sequence":1,)"
            R"("code":"bank.missing","severity":"info","phase":"state","component":"shell",)"
            R"("message":"bank not found","recoverable":true,)"
            R"("identity":{"moduleId":"unknown","version":"unknown","target":"vst3"},)"
            R"("configuration":{"sampleRate":44100.5,"maxBlockFrames":-1},)"
            R"("occurrence":{"count":1}}]})");
}

TEST(RuntimeHealthReport, NonFiniteSampleRateIsNull) {
  Ring ring{};
  recordDiagnostic(ring, kDiagProcessFailed, kSeverityWarning, kPhaseProcess, "m", "");
  for (double rate : {std::numeric_limits<double>::quiet_NaN(),
                      std::numeric_limits<double>::infinity()}) {
    const std::string text = writeRuntimeHealthJson(ring, "id", "v", rate, 128, false);
    EXPECT_NE(text.find(R"("sampleRate":null,"maxBlockFrames":128)"), std::string::npos) << text;
    EXPECT_EQ(text.find("context"), std::string::npos) << "an empty detail writes no context";
  }
}

TEST(RuntimeHealthReport, StatusFollowsTheWorstStoredSeverity) {
  Ring info{};
  recordDiagnostic(info, 5, kSeverityInfo, kPhaseProcess, "info", nullptr);
  EXPECT_EQ(status(info), "healthy");
  EXPECT_EQ(status(info, true), "failed");
  EXPECT_NE(report(info, true).find(R"("lifecycle":"failed")"), std::string::npos);

  Ring warning{};
  recordDiagnostic(warning, 5, kSeverityWarning, kPhaseProcess, "warning", nullptr);
  EXPECT_EQ(status(warning), "degraded");

  Ring fatal{};
  recordDiagnostic(fatal, 5, kSeverityWarning, kPhaseProcess, "warning", nullptr);
  recordDiagnostic(fatal, 5, kSeverityFatal, kPhaseProcess, "fatal", nullptr);
  EXPECT_EQ(status(fatal), "failed");
  EXPECT_NE(report(fatal).find(R"("lifecycle":"configured")"), std::string::npos)
      << "lifecycle follows the failed flag alone";
  EXPECT_NE(report(fatal).find(R"("severity":"fatal","phase":"process","component":"shell",)"
                               R"("message":"fatal","recoverable":false)"),
            std::string::npos);
}

TEST(RuntimeHealthReport, FirstErrorIsTheEarliestStoredError) {
  Ring ring{};
  recordDiagnostic(ring, 5, kSeverityWarning, kPhaseLoad, "warn", nullptr);
  recordDiagnostic(ring, kDiagKernelCreateFailed, kSeverityFatal, kPhaseActivate, "first", nullptr);
  recordDiagnostic(ring, kDiagBankHashMismatch, kSeverityError, kPhaseLoad, "second", nullptr);
  EXPECT_EQ(ring.firstError, 2u);
  const std::string text = report(ring);
  const size_t at = text.find(R"(],"firstError":{)");
  ASSERT_NE(at, std::string::npos) << text;
  const std::string first = text.substr(at + 15);
  EXPECT_EQ(first.rfind(R"({"format":"norva-plugin-runtime-diagnostic/v1","schemaVersion":1,)"
                        R"("sequence":2,"code":"runtime.kernel-create-failed")",
                        0),
            0u)
      << first;
  EXPECT_EQ(occurrences(text, R"("message":"first")"), 2u);
  EXPECT_EQ(occurrences(text, R"("message":"second")"), 1u);
}

TEST(RuntimeHealthReport, NamesOutsideTheTablesFallBack) {
  EXPECT_STREQ(diagnosticCodeName(0), "runtime.unknown");
  EXPECT_STREQ(diagnosticCodeName(1), "runtime.kernel-create-failed");
  EXPECT_STREQ(diagnosticCodeName(25), "runtime.diagnostics-overflow");
  EXPECT_STREQ(diagnosticCodeName(28), "bank.hash-mismatch");
  EXPECT_STREQ(diagnosticCodeName(29), "runtime.unknown");
  EXPECT_STREQ(diagnosticCodeName(0xffffffffu), "runtime.unknown");
  EXPECT_STREQ(diagnosticSeverityName(3), "fatal");
  EXPECT_STREQ(diagnosticSeverityName(4), "error");
  EXPECT_STREQ(diagnosticSeverityName(255), "error");
  EXPECT_STREQ(diagnosticPhaseName(0), "build");
  EXPECT_STREQ(diagnosticPhaseName(11), "shutdown");
  EXPECT_STREQ(diagnosticPhaseName(12), "process");

  // An out-of-range severity is named "error", is not recoverable and counts
  // as a first error.
  Ring ring{};
  recordDiagnostic(ring, 99, 7, 200, "odd", nullptr);
  const std::string text = report(ring);
  EXPECT_NE(text.find(R"("code":"runtime.unknown","severity":"error","phase":"process")"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(R"("recoverable":false)"), std::string::npos);
  EXPECT_EQ(ring.firstError, 1u);
}

TEST(RuntimeHealthReport, QuoteAndBackslashAreEscaped) {
  Ring ring{};
  recordDiagnostic(ring, 9, kSeverityInfo, kPhaseState, R"(say "hi" \ bye)", R"(C:\path)");
  const std::string text = report(ring);
  EXPECT_NE(text.find(R"("message":"say \"hi\" \\ bye")"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("context":{"detail":"C:\\path"}})"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// Recording into the ring

TEST(DiagnosticRing, TheThirtyThirdRecordIsDropped) {
  Ring ring{};
  for (int i = 0; i < 32; ++i)
    recordDiagnostic(ring, 5, kSeverityInfo, kPhaseProcess, "info", nullptr);
  EXPECT_EQ(status(ring), "healthy");
  recordDiagnostic(ring, 4, kSeverityError, kPhaseProcess, "late error", nullptr);
  EXPECT_EQ(ring.count, 32u);
  EXPECT_EQ(ring.dropped, 1u);
  EXPECT_EQ(ring.nextSequence, 34u);
  EXPECT_EQ(ring.firstError, 0u) << "a dropped error is no first error";
  EXPECT_EQ(ring.records[31].sequence, 32u);
  const std::string text = report(ring);
  EXPECT_EQ(status(ring), "degraded");
  EXPECT_NE(text.find(R"("counters":{"diagnostics":32,"diagnostics.dropped":1})"),
            std::string::npos);
  EXPECT_EQ(text.find("late error"), std::string::npos);
  EXPECT_EQ(text.find("firstError"), std::string::npos);
}

TEST(DiagnosticRing, LongTextsAreCutAndNullTextsStoredEmpty) {
  Ring ring{};
  const std::string longMessage(300, 'm');
  const std::string longDetail(200, 'd');
  recordDiagnostic(ring, 1, kSeverityError, kPhaseActivate, longMessage.c_str(),
                   longDetail.c_str());
  recordDiagnostic(ring, 1, kSeverityError, kPhaseActivate, std::string(191, 'x').c_str(),
                   std::string(127, 'y').c_str());
  recordDiagnostic(ring, 1, kSeverityError, kPhaseActivate, nullptr, nullptr);
  EXPECT_EQ(std::string(ring.records[0].message), std::string(191, 'm'));
  EXPECT_EQ(std::string(ring.records[0].detail), std::string(127, 'd'));
  EXPECT_EQ(std::string(ring.records[1].message), std::string(191, 'x'));
  EXPECT_EQ(std::string(ring.records[1].detail), std::string(127, 'y'));
  EXPECT_STREQ(ring.records[2].message, "");
  EXPECT_STREQ(ring.records[2].detail, "");
  const std::string text = report(ring);
  EXPECT_NE(text.find("\"message\":\"" + std::string(191, 'm') + "\""), std::string::npos);
  EXPECT_NE(text.find("\"detail\":\"" + std::string(127, 'd') + "\""), std::string::npos);
  EXPECT_NE(text.find(R"("sequence":3,"code":"runtime.kernel-create-failed","severity":"error",)"
                      R"("phase":"activate","component":"shell","message":"",)"),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// Realtime queue and its drain

TEST(RealtimeDiagnostics, PostsBecomeRecordsWithConsecutiveSequences) {
  Ring ring{};
  recordDiagnostic(ring, kDiagBankMissing, kSeverityWarning, kPhaseLoad, "before", nullptr);
  RealtimeDiagnosticQueue queue;
  EXPECT_FALSE(queue.hasPending());
  queue.post(kDiagProcessFailed, kSeverityError, kPhaseProcess);
  queue.post(kDiagRateAdapterInitFailed, kSeverityError, kPhaseProcess);
  queue.post(kDiagEventRejected, kSeverityWarning, kPhaseProcess);
  EXPECT_TRUE(queue.hasPending());
  queue.drainInto(ring);
  EXPECT_FALSE(queue.hasPending());

  ASSERT_EQ(ring.count, 4u);
  const char *messages[] = {"audio process callback failed; output was cleared",
                            "sample-rate adapter failed; output was cleared",
                            "runtime diagnostic observed on the audio callback"};
  const uint32_t codes[] = {4, 2, 22};
  for (int i = 0; i < 3; ++i) {
    const norva_runtime_diagnostic &d = ring.records[i + 1];
    EXPECT_EQ(d.sequence, static_cast<uint32_t>(i + 2));
    EXPECT_EQ(d.code, codes[i]);
    EXPECT_EQ(d.phase, kPhaseProcess);
    EXPECT_STREQ(d.message, messages[i]);
    EXPECT_STREQ(d.detail, "audio callback");
  }
  EXPECT_EQ(ring.firstError, 2u);

  queue.drainInto(ring);
  EXPECT_EQ(ring.count, 4u) << "a second drain finds nothing";
}

TEST(RealtimeDiagnostics, OverflowRecordText) {
  Ring ring{};
  recordRealtimeOverflow(ring, 1);
  recordRealtimeOverflow(ring, 4294967295u);
  EXPECT_EQ(report(ring),
            R"({"format":"norva-runtime-health/v1","schemaVersion":1,"instanceId":"vst3",)"
            R"("lifecycle":"configured","status":"degraded",)"
            R"("counters":{"diagnostics":2,"diagnostics.dropped":0},"diagnostics":[)"
            R"({"format":"norva-plugin-runtime-diagnostic/v1","schemaVersion":1,"sequence":1,)"
            R"("code":"runtime.diagnostics-overflow","severity":"warning","phase":"process",)"
            R"("component":"shell","message":"audio diagnostic queue overflowed",)"
            R"("recoverable":true,)"
            R"("identity":{"moduleId":"music.norva.tindrel","version":"1.0.0","target":"vst3"},)"
            R"("configuration":{"sampleRate":48000,"maxBlockFrames":512},)"
            R"("occurrence":{"count":1},"context":{"detail":"dropped=1; source=audio callback"}},)"
            R"({"format":"norva-plugin-runtime-diagnostic/v1","schemaVersion":1,"sequence":2,)"
            R"("code":"runtime.diagnostics-overflow","severity":"warning","phase":"process",)"
            R"("component":"shell","message":"audio diagnostic queue overflowed",)"
            R"("recoverable":true,)"
            R"("identity":{"moduleId":"music.norva.tindrel","version":"1.0.0","target":"vst3"},)"
            R"("configuration":{"sampleRate":48000,"maxBlockFrames":512},)"
            R"("occurrence":{"count":1},)"
            R"("context":{"detail":"dropped=4294967295; source=audio callback"}}]})");
}

// The queue holds 32 entries, so a drain that finds an overflow usually
// brings 32 entries along; they fill a fresh ring and the overflow record
// that follows them is counted as dropped.
TEST(RealtimeDiagnostics, ThirtyThreePostsKeepThirtyTwoAndCountTheOverflow) {
  Ring ring{};
  RealtimeDiagnosticQueue queue;
  for (uint32_t i = 0; i < 33; ++i) queue.post(100 + i, kSeverityInfo, kPhaseProcess);
  EXPECT_TRUE(queue.hasPending());
  queue.drainInto(ring);
  EXPECT_FALSE(queue.hasPending()) << "the drain takes the overflow count too";
  ASSERT_EQ(ring.count, 32u);
  for (uint32_t i = 0; i < 32; ++i) {
    EXPECT_EQ(ring.records[i].code, 100 + i);
    EXPECT_EQ(ring.records[i].sequence, i + 1);
  }
  EXPECT_EQ(ring.dropped, 1u);
  EXPECT_EQ(ring.nextSequence, 34u) << "the overflow record took a sequence";
  EXPECT_EQ(status(ring), "degraded");

  // The queue works on after the overflow, wrapping around its slots.
  Ring next{};
  for (uint32_t i = 0; i < 20; ++i) queue.post(200 + i, kSeverityWarning, kPhaseProcess);
  queue.drainInto(next);
  ASSERT_EQ(next.count, 20u);
  EXPECT_EQ(next.dropped, 0u);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(next.records[i].code, 200 + i);
}

TEST(RealtimeDiagnostics, EntriesBeyondAFullRingAreCountedAsDropped) {
  Ring ring{};
  for (int i = 0; i < 10; ++i)
    recordDiagnostic(ring, 5, kSeverityInfo, kPhaseProcess, "main thread", nullptr);
  RealtimeDiagnosticQueue queue;
  for (uint32_t i = 0; i < 33; ++i) queue.post(kDiagProcessFailed, kSeverityError, kPhaseProcess);
  queue.drainInto(ring);
  EXPECT_EQ(ring.count, 32u);
  EXPECT_EQ(ring.dropped, 11u) << "10 entries and the overflow record";
  EXPECT_EQ(ring.nextSequence, 44u);
  EXPECT_EQ(ring.records[31].sequence, 32u);
  EXPECT_EQ(ring.firstError, 11u);
  EXPECT_EQ(status(ring), "failed");
}

// Two threads: the audio side posts a counting sequence of codes while the
// main side drains into fresh rings. Every entry must arrive once, in order
// and intact, and what was lost must show up as overflow. The producer posts
// in bursts of 1 to 45 and waits for the consumer to finish one more drain
// before the next burst, so the two take turns (and overlap when both run)
// and the longer bursts overflow. The pacing counter is relaxed so it orders
// nothing the queue itself must order.
TEST(RealtimeDiagnostics, ConcurrentPostAndDrain) {
  constexpr uint32_t kPosts = 3000;
  constexpr uint32_t kSpinsBeforeYield = 1000;
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
        if (spin >= kSpinsBeforeYield) std::this_thread::yield();
    }
    done.store(true, std::memory_order_release);
  });

  uint64_t delivered = 0;
  uint64_t reportedOverflow = 0;
  uint64_t lostOverflowRecords = 0;
  uint32_t lastCode = 0;
  uint32_t faults = 0;
  for (;;) {
    const bool finished = done.load(std::memory_order_acquire);
    Ring ring{};
    queue.drainInto(ring);
    for (uint32_t i = 0; i < ring.count; ++i) {
      const norva_runtime_diagnostic &d = ring.records[i];
      if (d.code == kDiagDiagnosticsOverflow) {
        unsigned count = 0;
        if (i + 1 != ring.count ||
            std::sscanf(d.detail, "dropped=%u; source=audio callback", &count) != 1 ||
            count == 0)
          ++faults;
        reportedOverflow += count;
        continue;
      }
      const bool intact = d.code >= kFirstCode && d.code < kFirstCode + kPosts &&
                          d.code > lastCode && d.severity == d.code % 4 &&
                          d.phase == d.code % 12 && d.sequence == i + 1;
      if (!intact) ++faults;
      lastCode = d.code;
      ++delivered;
    }
    if (ring.dropped != 0) {
      // Only the overflow record can miss a fresh ring, behind 32 entries.
      if (ring.dropped != 1 || ring.count != 32) ++faults;
      ++lostOverflowRecords;
    }
    drains.fetch_add(1, std::memory_order_relaxed);
    if (finished && !queue.hasPending()) break;
  }
  producer.join();

  EXPECT_EQ(faults, 0u);
  EXPECT_GT(delivered, 0u);
  const uint64_t missing = kPosts - delivered;
  if (lostOverflowRecords == 0) {
    EXPECT_EQ(delivered + reportedOverflow, kPosts);
  } else {
    // Each lost record stood for at least one refused post.
    EXPECT_GE(missing, reportedOverflow + lostOverflowRecords);
  }
  EXPECT_LE(delivered + reportedOverflow, kPosts);
}

} // namespace
