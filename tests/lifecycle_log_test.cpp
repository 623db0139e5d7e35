// The lifecycle log: the ring's wrap and drop count, the event and message
// texts byte for byte, the field limits and the kind names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "alloc_counter.h"
#include "diagnostics/lifecycle_log.h"
#include "strict_json.h"

namespace {

using namespace norva;
using Kind = DiagnosticLifecycleKind;

std::string eventJson(const DiagnosticLifecycleEvent &event) {
  std::string out;
  writeDiagnosticLifecycleEventJson(out, event);
  return out;
}

DiagnosticLifecycleEvent fixedEvent(uint32_t seq, double timeMs, int64_t atFrame, Kind kind) {
  DiagnosticLifecycleEvent event;
  event.seq = seq;
  event.timeMs = timeMs;
  event.atFrame = atFrame;
  event.kind = kind;
  return event;
}

TEST(LifecycleLog, RingKeepsTheNewestAndCountsTheDropped) {
  auto log = std::make_unique<DiagnosticLifecycleLog>();
  std::string empty;
  EXPECT_FALSE(writeDiagnosticLifecycleReplayJson(empty, *log));
  EXPECT_EQ(empty, "");

  const DiagnosticLifecycleEvent &first = log->record(Kind::created, -1);
  EXPECT_EQ(first.seq, 1u);
  EXPECT_GE(first.timeMs, 0.0);
  for (int i = 1; i < 300; ++i) log->record(Kind::tempoChanged, i).addNumber("tempo", i);

  EXPECT_EQ(log->count(), kLifecycleLogCapacity);
  EXPECT_EQ(log->dropped(), 44u);
  EXPECT_EQ(log->lastSeq(), 300u);
  EXPECT_EQ(log->at(0).seq, 45u);
  EXPECT_EQ(log->at(kLifecycleLogCapacity - 1).seq, 300u);
  EXPECT_EQ(&log->at(kLifecycleLogCapacity), &log->at(0));  // beyond count: the oldest
  EXPECT_LE(log->at(0).timeMs, log->at(kLifecycleLogCapacity - 1).timeMs);

  std::string replay;
  ASSERT_TRUE(writeDiagnosticLifecycleReplayJson(replay, *log));
  EXPECT_TRUE(strict::valid(replay));
  EXPECT_EQ(replay.rfind("{\"type\":\"norva.lifecycle\",\"events\":[{\"seq\":45,", 0), 0u);
  EXPECT_TRUE(replay.ends_with("\"kind\":\"tempoChanged\",\"detail\":{\"tempo\":299}}],\"dropped\":44}")) << replay;
}

TEST(LifecycleLog, RecordingAndAddingFieldsNeverAllocate) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  auto log = std::make_unique<DiagnosticLifecycleLog>();
  const auto counts = alloc_counter::countDuring([&] {
    for (int i = 0; i < 600; ++i) {
      DiagnosticLifecycleEvent &event = log->record(Kind::stateSaved, i);
      event.addNumber("stateBytes", 1767);
      event.addString("source", "a source name long enough to be cut at the sixty-three byte limit");
      event.addBool("flag", true);
      event.addNull(nullptr);
    }
  });
  EXPECT_EQ(counts.allocations, 0);
}

TEST(LifecycleLog, EventTexts) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  DiagnosticLifecycleEvent detailed = fixedEvent(3, 0.25, 4096, Kind::presetLoaded);
  detailed.addString("id", "kit \"one\"\\");
  detailed.addNumber("level", nan);
  detailed.addBool("dirty", false);
  detailed.addNull("origin");
  detailed.addNumber(nullptr, -24);
  detailed.addString("none", nullptr);
  detailed.addNumber("seventh", 7);  // ignored: six fields are present

  const struct {
    const char *name;
    DiagnosticLifecycleEvent event;
    const char *json;
  } cases[] = {
      {"no frame", fixedEvent(12, 1.5, -1, Kind::editorOpened), R"({"seq":12,"timeMs":1.5,"kind":"editorOpened"})"},
      {"frame 0", fixedEvent(1, 0, 0, Kind::created), R"({"seq":1,"timeMs":0,"atFrame":0,"kind":"created"})"},
      {"time not finite", fixedEvent(2, nan, -1, Kind::reset), R"({"seq":2,"timeMs":null,"kind":"reset"})"},
      {"kind beyond the table", fixedEvent(4, 2, -1, static_cast<Kind>(kDiagnosticLifecycleKindCount)),
       R"({"seq":4,"timeMs":2,"kind":"runtimeDiagnostic"})"},
      {"six fields", detailed,
       R"({"seq":3,"timeMs":0.25,"atFrame":4096,"kind":"presetLoaded","detail":{"id":"kit \"one\"\\",)"
       R"("level":null,"dirty":false,"origin":null,"":-24,"none":""}})"},
  };
  for (const auto &c : cases) {
    const std::string json = eventJson(c.event);
    EXPECT_EQ(json, c.json) << c.name;
    EXPECT_TRUE(strict::valid(json)) << c.name;
  }
  EXPECT_EQ(detailed.fieldCount, kLifecycleEventFields);
}

TEST(LifecycleLog, LongTextsAreCutWithoutSplittingACharacter) {
  const std::string longName(40, 'n');
  const std::string longText(100, 't');
  const std::string accented = std::string(kLifecycleFieldTextBytes - 1, 'a') + "\xC3\xA9";  // "é" across the limit
  DiagnosticLifecycleEvent event;
  event.addString(longName.c_str(), longText.c_str());
  event.addString("accented", accented.c_str());
  event.addString("fits", std::string(kLifecycleFieldTextBytes, 'f').c_str());
  EXPECT_EQ(std::string(event.fields[0].name), std::string(kLifecycleFieldNameBytes, 'n'));
  EXPECT_EQ(std::string(event.fields[0].text), std::string(kLifecycleFieldTextBytes, 't'));
  EXPECT_EQ(std::string(event.fields[1].text), std::string(kLifecycleFieldTextBytes - 1, 'a'));
  EXPECT_EQ(std::strlen(event.fields[2].text), kLifecycleFieldTextBytes);
}

TEST(LifecycleLog, KindNames) {
  for (uint32_t i = 0; i < kDiagnosticLifecycleKindCount; ++i) {
    const char *name = diagnosticLifecycleKindName(static_cast<Kind>(i));
    ASSERT_NE(name, nullptr) << i;
    Kind back = Kind::created;
    EXPECT_TRUE(diagnosticLifecycleKindFromName(name, back)) << name;
    EXPECT_EQ(static_cast<uint32_t>(back), i) << name;
  }
  EXPECT_STREQ(diagnosticLifecycleKindName(Kind::created), "created");
  EXPECT_STREQ(diagnosticLifecycleKindName(Kind::timeSignatureChanged), "timeSignatureChanged");
  EXPECT_EQ(static_cast<uint32_t>(Kind::runtimeDiagnostic), 24u);
  EXPECT_EQ(diagnosticLifecycleKindName(static_cast<Kind>(kDiagnosticLifecycleKindCount)), nullptr);

  const char *const refusedNames[] = {"EditorOpened", "editorOpened ", "", "runtime", nullptr};
  for (const char *refused : refusedNames) {
    Kind kind = Kind::stimulus;
    EXPECT_FALSE(diagnosticLifecycleKindFromName(refused, kind)) << (refused ? refused : "null");
    EXPECT_EQ(kind, Kind::stimulus);
  }
}

TEST(LifecycleLog, MessageOfEvents) {
  const DiagnosticLifecycleEvent events[] = {fixedEvent(7, 1, -1, Kind::editorClosed),
                                             fixedEvent(8, 2, 5, Kind::ccMapChanged)};
  std::string out = "x";
  EXPECT_FALSE(writeDiagnosticLifecycleJson(out, events, 0, 3));
  EXPECT_EQ(out, "x");
  out.clear();
  ASSERT_TRUE(writeDiagnosticLifecycleJson(out, events, 2, 0));
  EXPECT_EQ(out, R"({"type":"norva.lifecycle","events":[{"seq":7,"timeMs":1,"kind":"editorClosed"},)"
                 R"({"seq":8,"timeMs":2,"atFrame":5,"kind":"ccMapChanged"}]})");
}

}  // namespace
