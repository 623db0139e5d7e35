// Saved state is always strict JSON: the writer's escapes, refused values
// (pad keys with a NUL byte, CC bounds that are not finite), and documents
// written before any of this still loading. The reader's "\u" code points are
// json_toolkit_test's. That any bytes quoted read back is fuzz_json_reader's,
// and that documents and pad sets with any texts (control characters
// included) save as strict JSON, read back and save again to the same bytes
// is fuzz_state_document's and fuzz_pad_overrides'.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "banks/pad_overrides.h"
#include "ccmap/cc_map.h"
#include "engine/runtime_diagnostics.h"
#include "formats/json.h"
#include "state/state_document.h"
#include "strict_json.h"

namespace {

using namespace std::literals;
using namespace norva;

std::string asJson(std::string_view text) {
  std::string out;
  norva::jsonAppendQuoted(out, text);
  return out;
}

TEST(StateRoundTrip, WriterEscapesEveryControlCharacter) {
  const std::pair<std::string_view, const char *> cases[] = {
      {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {"\0"sv, R"("\u0000")"},
      {"a\x01\x0b\x1f", R"("a\u0001\u000b\u001f")"},
      {"\"\\/", R"("\"\\/")"},
  };
  for (const auto &[text, expected] : cases) {
    EXPECT_EQ(asJson(text), expected);
    EXPECT_TRUE(norva::strict::valid(asJson(text))) << expected;
  }
  std::string out = "x";
  norva::jsonAppendQuoted(out, "c\x02");
  EXPECT_EQ(out, R"(x"c\u0002")") << "the C-text form appends, escaped the same way";

  for (const char *bad : {"\"a\x01\"", "\"\\x\"", "nan", "[1,]", "01", "\"\\u12\""})
    EXPECT_FALSE(norva::strict::valid(bad)) << "the check itself: " << bad;
}

SamplerPadOverride pad(std::string key, double gain) { return {.key = std::move(key), .mask = kPadGain, .gain = gain}; }

std::string writeDocument(const StateChunk &c) {
  const norva::BankStateRefOut bank{c.bankId, c.bankVersion, c.bankSha256, c.bankSource,
                                    c.bankPresetId, c.bankInstrument, c.bankLocator};
  return norva::writeStateJson(c.values, c.variation, c.hasCcMap ? &c.ccMap : nullptr, c.samplerAssetFault,
                               c.samplerZoneProgram, c.hasBankRef ? &bank : nullptr, c.hasPads ? &c.pads : nullptr,
                               nullptr);
}

// A key holding a NUL byte cannot come back from a C text, so it is refused
// on the way in, and such a pad made in code is left out on the way out.
TEST(StateRoundTrip, PadKeysWithNulAreRefused) {
  const std::string text = R"({"a\u0000b":{"gain":2},"c\u0001":{"gain":1},"\u0000":{"pan":1}})";
  SamplerPadOverrides pads;
  ASSERT_TRUE(norva::parseSamplerPadOverridesJson(text.data(), text.size(), pads));
  ASSERT_EQ(pads.size(), 1u);
  EXPECT_EQ(pads[0].key, "c\x01");

  const std::string raw = "{\"a\0b\":{\"gain\":2}}"s;
  ASSERT_TRUE(norva::parseSamplerPadOverridesJson(raw.data(), raw.size(), pads));
  EXPECT_TRUE(pads.empty()) << "a raw NUL is refused as well";

  std::string out;
  norva::writeSamplerPadOverridesJson(out, {pad("a\0b"s, 2), pad("c", 1)});
  EXPECT_EQ(out, R"({"c":{"gain":1}})");
  EXPECT_FALSE(norva::padOverridesPublishable({pad("a\0b"s, 2)}));
}

// Each row: the members after {"path":"tindrel.bpm","cc":1, the bounds the
// binding keeps and how many members were refused.
TEST(StateRoundTrip, NonFiniteCcBoundsAreRefusedAndCounted) {
  const struct {
    const char *members;
    const char *written;
    uint32_t refused;
  } cases[] = {
      {R"("max":1e999)", "", 1},
      {R"("min":-1e999,"max":nan)", "", 2},
      {R"("min":-inf,"max":2)", R"(,"max":2)", 1},
      {R"("min":1,"min":inf)", R"(,"min":1)", 1},
      {R"("cc":nan,"min":0.5)", R"(,"min":0.5)", 1},
      {R"("max":1e308)", R"(,"max":1e+308)", 0},
  };
  for (const auto &c : cases) {
    const std::string text = R"([{"path":"tindrel.bpm","cc":1,)"s + c.members + "}]";
    CcMap map;
    uint32_t refused = 7;
    ASSERT_TRUE(norva::parseCcMapJson(text.data(), text.size(), map, &refused)) << text;
    std::string out;
    norva::writeCcMapJson(out, map);
    EXPECT_EQ(out, R"({"version":1,"bindings":[{"cc":1,"path":"tindrel.bpm")"s + c.written + "}]}") << text;
    EXPECT_EQ(refused, 7 + c.refused) << text;
  }

  const std::string document = R"({"params":{"tindrel.bpm":1e999,"tindrel.run":nan},"variation":nan,)"
                               R"("ccMap":[{"path":"tindrel.bpm","cc":1,"max":-1e999}]})";
  StateChunk chunk;
  ASSERT_TRUE(norva::parseStateJson(document.data(), document.size(), chunk));
  EXPECT_EQ(chunk.refusedNumbers, 4u);
  EXPECT_FALSE(chunk.ccMap.bindings[0].hasMax);
  EXPECT_EQ(writeDocument(chunk).find("null"), std::string::npos);
}

// Documents saved before control characters were escaped hold them raw, and
// may hold "\u" escapes that were read as "?": both still load, and save
// again as strict JSON.
TEST(StateRoundTrip, OldDocumentsStillLoad) {
  const std::string old = "{\"params\":{\"tindrel.bpm\":90},\"sampler\":{\"v\":1,\"pads\":{\"tab\there\x01\":"
                          "{\"gain\":2},\"u\\u0041\\uZZZZ\":{\"pan\":1}}},\"bank\":{\"id\":\"line\nfeed\",\"source\":\"hosted\"}}";
  StateChunk chunk;
  ASSERT_TRUE(norva::parseStateJson(old.data(), old.size(), chunk));
  ASSERT_EQ(chunk.pads.size(), 2u);
  EXPECT_EQ(chunk.pads[0].key, "tab\there\x01");
  EXPECT_EQ(chunk.pads[1].key, "uA?");
  EXPECT_STREQ(chunk.bankId, "line\nfeed");
  const std::string saved = writeDocument(chunk);
  EXPECT_TRUE(norva::strict::valid(saved)) << saved;
  EXPECT_NE(saved.find(R"("tab\there\u0001")"), std::string::npos);
  EXPECT_NE(saved.find(R"("id":"line\nfeed")"), std::string::npos);
}

TEST(StateRoundTrip, HealthReportDetailIsStrictJson) {
  norva::norva_runtime_diagnostic_ring ring;
  norva::recordDiagnostic(ring, norva::kDiagBankMissing, 2, norva::kPhaseState, "bank\tmissing",
                          ("{\"bank\":" + asJson("b\x01\n")).c_str());
  const std::string report = norva::writeRuntimeHealthJson(ring, "m", "1", 48000, 512, false);
  EXPECT_TRUE(norva::strict::valid(report)) << report;
  EXPECT_NE(report.find(R"("message":"bank\tmissing")"), std::string::npos);
  EXPECT_NE(report.find(R"(\"b\\u0001\\n\")"), std::string::npos) << report;
}

}  // namespace
