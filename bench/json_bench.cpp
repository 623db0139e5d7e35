// Throughput of the JSON writer and reader on a document shaped like a saved
// state: an object of 60 numeric parameter members, a nested object of four
// pads, and (in the "authored" runs) the 7265 authored-state bytes as Base64.
//
// Reported per benchmark: bytes_per_second is document bytes written or read
// per second; the label gives the document size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "banks/pad_overrides.h"
#include "formats/json.h"

namespace {

constexpr int kParamCount = 60;
constexpr size_t kAuthoredBytes = 7265;

struct Document {
  std::vector<std::string> keys;
  std::vector<double> values;
  norva::SamplerPadOverrides pads;
  std::vector<uint8_t> authored;
};

Document makeDocument(bool withAuthored) {
  Document doc;
  static const char *const kNames[] = {"bpm", "run", "resolution", "shuffle", "gate", "velocity", "transpose",
                                       "octave", "direction", "pattern", "chain", "root", "scale", "follow",
                                       "curve", "channel", "length", "seed", "swing", "mode"};
  for (int i = 0; i < kParamCount; ++i) {
    doc.keys.push_back(std::string("tindrel.") + kNames[i % 20] + (i < 20 ? "" : std::to_string(i / 20)));
    // Integers, short fractions and full-precision values, as a state holds.
    doc.values.push_back(i % 3 == 0 ? 120.0 + i : i % 3 == 1 ? 0.25 * i : 1.0 / (i + 3));
  }
  const char *const padKeys[] = {"kick", "snare", "hat.closed", "hat.open"};
  for (int i = 0; i < 4; ++i) {
    norva::SamplerPadOverride pad;
    pad.key = padKeys[i];
    pad.mask = norva::kPadTranspose | norva::kPadGain | norva::kPadPan | norva::kPadRelease | norva::kPadChokeGroup;
    pad.transpose = -i;
    pad.gain = 0.8 + 0.05 * i;
    pad.pan = -0.3 + 0.2 * i;
    pad.release = 0.35;
    pad.chokeGroup = i % 2;
    doc.pads.push_back(pad);
  }
  if (withAuthored) {
    doc.authored.resize(kAuthoredBytes);
    uint32_t x = 2463534242u;
    for (uint8_t &b : doc.authored) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<uint8_t>(x);
    }
  }
  return doc;
}

void writeDocument(std::string &out, const Document &doc) {
  out += "{\"params\":{";
  for (size_t i = 0; i < doc.keys.size(); ++i) {
    if (i != 0) out.push_back(',');
    norva::jsonAppendQuoted(out, doc.keys[i].c_str());
    out.push_back(':');
    norva::jsonAppendNumber(out, doc.values[i]);
  }
  out += "},\"sampler\":{\"v\":1,\"pads\":";
  norva::writeSamplerPadOverridesJson(out, doc.pads);
  out.push_back('}');
  if (!doc.authored.empty()) {
    out += ",\"authored\":{\"v\":1,\"bytes\":\"";
    norva::base64Append(out, doc.authored.data(), doc.authored.size());
    out += "\"}";
  }
  out.push_back('}');
}

// Reads what writeDocument writes; returns the number of values taken.
size_t readDocument(const std::string &text, Document &doc) {
  norva::Reader r(text.data(), text.size());
  size_t taken = 0;
  std::string encoded;
  const bool ok = norva::readObject(r, 0, [&](const std::string &key, norva::Reader &reader, int depth) {
    if (key == "params") {
      return norva::readObject(reader, depth + 1, [&](const std::string &, norva::Reader &member, int) {
        double value = 0;
        if (!norva::parseNumber(member, &value)) return false;
        if (taken < doc.values.size()) doc.values[taken] = value;
        ++taken;
        return true;
      });
    }
    if (key == "sampler") {
      return norva::readObject(reader, depth + 1, [&](const std::string &inner, norva::Reader &member, int d) {
        if (inner == "pads") return norva::parsePadOverrideMap(member, doc.pads);
        return norva::skipValue(member, d + 1);
      });
    }
    if (key == "authored") {
      return norva::readObject(reader, depth + 1, [&](const std::string &inner, norva::Reader &member, int d) {
        if (inner != "bytes") return norva::skipValue(member, d + 1);
        encoded.clear();
        return norva::parseString(member, &encoded) && norva::base64Decode(encoded, doc.authored, kAuthoredBytes);
      });
    }
    return norva::skipValue(reader, depth + 1);
  });
  return ok && norva::atEnd(r) ? taken + doc.pads.size() + doc.authored.size() : 0;
}

void BM_WriteDocument(benchmark::State &state) {
  const Document doc = makeDocument(state.range(0) != 0);
  std::string probe;
  writeDocument(probe, doc);
  for (auto _ : state) {
    std::string out;
    out.reserve(probe.size());
    writeDocument(out, doc);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * probe.size()));
  state.SetLabel(std::to_string(probe.size()) + " bytes");
}

void BM_ReadDocument(benchmark::State &state) {
  const Document source = makeDocument(state.range(0) != 0);
  std::string text;
  writeDocument(text, source);
  Document doc = makeDocument(false);
  if (readDocument(text, doc) == 0 || doc.values != source.values || doc.authored != source.authored) {
    state.SkipWithError("the document does not read back");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(readDocument(text, doc));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(std::to_string(text.size()) + " bytes");
}

// Skipping the same document value by value, without keeping anything.
void BM_SkipDocument(benchmark::State &state) {
  std::string text;
  writeDocument(text, makeDocument(state.range(0) != 0));
  for (auto _ : state) {
    norva::Reader r(text.data(), text.size());
    benchmark::DoNotOptimize(norva::skipValue(r, 0));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(std::to_string(text.size()) + " bytes");
}

}  // namespace

BENCHMARK(BM_WriteDocument)->ArgName("authored")->Arg(0)->Arg(1);
BENCHMARK(BM_ReadDocument)->ArgName("authored")->Arg(0)->Arg(1);
BENCHMARK(BM_SkipDocument)->ArgName("authored")->Arg(0)->Arg(1);

BENCHMARK_MAIN();
