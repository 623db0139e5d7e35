// The lifecycle log: the ring's wrap and drop count, allocation-free
// recording, the event texts byte for byte, the field limits, the kind names.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "alloc_counter.h"
#include "diagnostics/lifecycle_log.h"
#include "strict_json.h"

namespace {

using namespace norva;
using Kind = DiagnosticLifecycleKind;

TEST(LifecycleLog, RingKeepsTheNewestAndCountsTheDropped) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  auto log = std::make_unique<DiagnosticLifecycleLog>();
  std::string replay;
  EXPECT_FALSE(writeDiagnosticLifecycleReplayJson(replay, *log));
  EXPECT_EQ(replay, "");

  const std::string source = "a text cut at 63 bytes " + std::string(60, '.');
  const auto counts = alloc_counter::countDuring([&] {
    for (int i = 0; i < 300; ++i) log->record(Kind::tempoChanged, i).addString("source", source.c_str());
  });
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(log->count(), kLifecycleLogCapacity);
  EXPECT_EQ(log->dropped(), 44u);
  EXPECT_EQ(log->at(0).seq, 45u);
  EXPECT_EQ(log->at(kLifecycleLogCapacity - 1).seq, 300u);
  EXPECT_EQ(&log->at(kLifecycleLogCapacity), &log->at(0));  // beyond count: the oldest
  EXPECT_GE(log->at(0).timeMs, 0.0);

  ASSERT_TRUE(writeDiagnosticLifecycleReplayJson(replay, *log));
  EXPECT_TRUE(strict::valid(replay));
  EXPECT_EQ(replay.rfind(R"({"type":"norva.lifecycle","events":[{"seq":45,)", 0), 0u);
  EXPECT_TRUE(replay.ends_with(R"("atFrame":299,"kind":"tempoChanged","detail":{"source":")" +
                               source.substr(0, kLifecycleFieldTextBytes) + "\"}}],\"dropped\":44}"));
}

TEST(LifecycleLog, EventTexts) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto event = [](uint32_t seq, double timeMs, int64_t atFrame, Kind kind) {
    return DiagnosticLifecycleEvent{.seq = seq, .timeMs = timeMs, .atFrame = atFrame, .kind = kind};
  };
  DiagnosticLifecycleEvent detailed = event(3, 0.25, 0, Kind::presetLoaded);
  detailed.addString(std::string(30, 'n').c_str(), "kit \"1\"\\");
  detailed.addNumber("level", nan);
  detailed.addBool("dirty", false);
  detailed.addNull("origin");
  detailed.addNumber(nullptr, -24);
  detailed.addString("accented", (std::string(62, 'a') + "\xC3\xA9").c_str());  // not split at byte 63
  detailed.addNumber("seventh", 7);                                               // ignored
  const DiagnosticLifecycleEvent events[] = {event(12, 1.5, -1, Kind::editorOpened), event(2, nan, 7, Kind::reset),
                                             event(4, 2, -1, Kind(kDiagnosticLifecycleKindCount)), detailed};
  std::string message;
  ASSERT_TRUE(writeDiagnosticLifecycleJson(message, events, 4, 0));
  EXPECT_TRUE(strict::valid(message));
  EXPECT_EQ(message, R"({"type":"norva.lifecycle","events":[{"seq":12,"timeMs":1.5,"kind":"editorOpened"},)"
                     R"({"seq":2,"timeMs":null,"atFrame":7,"kind":"reset"},)"
                     R"({"seq":4,"timeMs":2,"kind":"runtimeDiagnostic"},)"
                     R"({"seq":3,"timeMs":0.25,"atFrame":0,"kind":"presetLoaded","detail":{"nnnnnnnnnnnnnnnnnnnnnnn":)"
                     R"("kit \"1\"\\","level":null,"dirty":false,"origin":null,"":-24,"accented":")" +
                         std::string(62, 'a') + "\"}}]}");
  EXPECT_FALSE(writeDiagnosticLifecycleJson(message, events, 0, 5));
}

TEST(LifecycleLog, KindNames) {
  Kind kind = Kind::created;
  for (uint32_t i = 0; i < kDiagnosticLifecycleKindCount; ++i) {
    EXPECT_TRUE(diagnosticLifecycleKindFromName(diagnosticLifecycleKindName(Kind(i)), kind) && kind == Kind(i)) << i;
  }
  EXPECT_EQ(diagnosticLifecycleKindName(Kind(kDiagnosticLifecycleKindCount)), nullptr);
  for (const char *refused : {"EditorOpened", "editorOpened ", ""}) {
    EXPECT_FALSE(diagnosticLifecycleKindFromName(refused, kind)) << refused;
  }
  EXPECT_FALSE(diagnosticLifecycleKindFromName(nullptr, kind));
  EXPECT_EQ(kind, Kind::runtimeDiagnostic);  // refusals leave it alone
}

}  // namespace
