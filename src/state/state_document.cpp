#include "state/state_document.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "banks/bank_source.h"
#include "params/authored_plane.h"
#include "formats/json.h"

namespace norva {
namespace {

struct FaultName {
  SamplerAssetDiagnostic code;
  const char *name;
};

constexpr FaultName kFaultNames[] = {
    {SamplerAssetDiagnostic::missingInMemoryAsset, "missing-in-memory-asset"},
    {SamplerAssetDiagnostic::corruptInMemoryAsset, "corrupt-in-memory-asset"},
    {SamplerAssetDiagnostic::movedInMemoryAsset, "moved-in-memory-asset"},
    {SamplerAssetDiagnostic::changedInMemoryAsset, "changed-in-memory-asset"},
    {SamplerAssetDiagnostic::unsupportedStereoSource, "unsupported-stereo-source"},
};

// Indexed by program value.
constexpr const char *kZoneProgramNames[] = {
    "legacy-single-zone", "one-shot-drum",    "looped-pad-release", "velocity-round-robin",
    "key-zones-pitch",    "stereo-multi-mic", "choke-and-sustain",  "voice-limit-steal",
};
constexpr uint32_t kZoneProgramCount = sizeof kZoneProgramNames / sizeof kZoneProgramNames[0];

constexpr const char *kBankSourceNames[] = {kBankSourceEmbedded, kBankSourceModuleRelative, kBankSourceUserFolder,
                                            kBankSourceHosted};

constexpr const char kZoneAbi[] = "norva-dual-stack-sampler/zone-layer/v1";

// Names read from a document are compared with their full length: a name
// with a NUL byte inside is not a known name.
const FaultName *faultByName(std::string_view name) {
  for (const FaultName &fault : kFaultNames) {
    if (name == fault.name) return &fault;
  }
  return nullptr;
}

bool zoneProgramByName(std::string_view name, SamplerZoneProgram &program) {
  for (uint32_t i = 0; i < kZoneProgramCount; ++i) {
    if (name == kZoneProgramNames[i]) {
      program = static_cast<SamplerZoneProgram>(i);
      return true;
    }
  }
  return false;
}

bool bankSourceKnown(std::string_view name) {
  return std::find(std::begin(kBankSourceNames), std::end(kBankSourceNames), name) != std::end(kBankSourceNames);
}

const char *faultName(SamplerAssetDiagnostic code) {
  for (const FaultName &fault : kFaultNames) {
    if (fault.code == code) return fault.name;
  }
  return "none";
}

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

// Truncation toward zero into int32. Values beyond the type, infinities
// included, stop at its limits before any conversion; NaN names no integer
// and is refused, leaving the field as it was.
bool truncateToInt32(double x, int32_t &out) {
  constexpr double kLowest = -2147483648.0;
  constexpr double kHighest = 2147483647.0;
  if (std::isnan(x)) return false;
  if (x <= kLowest) {
    out = std::numeric_limits<int32_t>::min();
  } else if (x >= kHighest) {
    out = std::numeric_limits<int32_t>::max();
  } else {
    out = static_cast<int32_t>(x);
  }
  return true;
}

// Copies text with its NUL when it fits the array; otherwise (too long, or
// holding a NUL byte that would cut it short) the array is left empty.
// Either way the array is NUL-terminated.
template <size_t N>
bool copyIfFits(char (&field)[N], const std::string &text) {
  std::fill(std::begin(field), std::end(field), '\0');
  if (text.size() >= N || text.find('\0') != std::string::npos) return false;
  std::memcpy(field, text.data(), text.size());
  return true;
}

template <size_t N>
void clearText(char (&field)[N]) {
  std::fill(std::begin(field), std::end(field), '\0');
}

bool nextByteIs(const Reader &r, char c) { return r.cur < r.end && *r.cur == c; }

// "params": parameter id -> plain value. true and false stand for 1 and 0;
// numbers are kept as they are (clamping belongs to normalising). Values of
// any other kind change nothing. Ids outside the catalogue are read and
// dropped.
bool readParams(Reader &r, int depth, StateChunk &out) {
  if (!nextByteIs(r, '{')) return false;
  return readObject(r, depth, [&out](const std::string &key, Reader &reader, int memberDepth) {
    double value = 0.0;
    if (nextByteIs(reader, 't') || nextByteIs(reader, 'f')) {
      bool flag = false;
      if (!parseBool(reader, &flag)) return false;
      value = flag ? 1.0 : 0.0;
    } else if (nextByteIs(reader, '"') || nextByteIs(reader, '{') || nextByteIs(reader, '[')) {
      return skipValue(reader, memberDepth + 1);
    } else if (parseNull(reader)) {
      return true;
    } else if (!parseNumber(reader, &value)) {
      return false;
    }
    // nan and inf read as numbers, but no parameter can hold them: such a
    // value is refused and the parameter keeps its current value.
    if (!std::isfinite(value)) {
      ++out.refusedNumbers;
      return true;
    }
    if (const norva_param_desc *row = findParamByKey(key)) {
      const size_t index = static_cast<size_t>(row - NORVA_PARAMS);
      out.values[index] = value;
      out.present[index] = true;
    }
    return true;
  });
}

// "sampler": {"v":1,"pads":{...}}. The pads are taken only from a version 1
// section; any other version is read and ignored.
bool readSampler(Reader &r, int depth, StateChunk &out) {
  double version = 0.0;
  bool versionRead = false;
  bool padsRead = false;
  SamplerPadOverrides pads;
  const bool ok = readObject(r, depth, [&](const std::string &key, Reader &reader, int memberDepth) {
    if (key == "v") {
      versionRead = parseNumber(reader, &version);
      return versionRead;
    }
    if (key == "pads") {
      padsRead = parsePadOverrideMap(reader, pads);
      return padsRead;
    }
    return skipValue(reader, memberDepth + 1);
  });
  if (!ok) return false;
  if (versionRead && version == 1.0 && padsRead) {
    out.pads = std::move(pads);
    out.hasPads = true;
  }
  return true;
}

// "authoredState": {"v":<version>,"bytes":"<Base64>"}. Bytes that do not
// decode, or decode to more than the limit, leave the chunk as it was.
bool readAuthoredState(Reader &r, int depth, StateChunk &out) {
  int32_t version = 0;
  std::string bytes;
  const bool ok = readObject(r, depth, [&](const std::string &key, Reader &reader, int memberDepth) {
    if (key == "v") {
      double x = 0.0;
      if (!parseNumber(reader, &x)) return false;
      if (!truncateToInt32(x, version)) ++out.refusedNumbers;
      return true;
    }
    if (key == "bytes" && nextByteIs(reader, '"')) {
      bytes.clear();
      return parseString(reader, &bytes);
    }
    return skipValue(reader, memberDepth + 1);
  });
  if (!ok) return false;
  if (bytes.empty()) return true;
  std::vector<uint8_t> decoded;
  if (base64Decode(bytes, decoded, kMaxAuthoredStateBytes)) {
    out.authoredBytes = std::move(decoded);
    out.authoredVersion = version;
    out.hasAuthoredState = true;
    out.authoredUndecodable = false;
  } else {
    out.authoredUndecodable = true;
  }
  return true;
}

// "bank": the reference's texts. A section without a usable id is read and
// ignored; otherwise it replaces any earlier reference, each text copied
// only when it fits its field.
bool readBank(Reader &r, int depth, StateChunk &out) {
  // Member keys, in the order of the fields they fill.
  static constexpr const char *kKeys[] = {"id", "bankVersion", "sha256", "source", "presetId", "instrument", "locator"};
  enum { kId, kVersion, kSha256, kSource, kPresetId, kInstrument, kLocator, kMembers };
  static_assert(sizeof kKeys / sizeof kKeys[0] == kMembers);
  struct Member {
    std::string text;
    bool read = false;
  };
  Member members[kMembers];
  const bool ok = readObject(r, depth, [&members](const std::string &key, Reader &reader, int memberDepth) {
    if (nextByteIs(reader, '"')) {
      for (int i = 0; i < kMembers; ++i) {
        if (key != kKeys[i]) continue;
        members[i].text.clear();
        members[i].read = true;
        return parseString(reader, &members[i].text);
      }
    }
    return skipValue(reader, memberDepth + 1);
  });
  if (!ok) return false;

  char id[kBankIdCapacity];
  if (!copyIfFits(id, members[kId].text) || id[0] == '\0') return true;

  std::memcpy(out.bankId, id, sizeof id);
  clearText(out.bankVersion);
  clearText(out.bankSha256);
  clearText(out.bankSource);
  clearText(out.bankPresetId);
  clearText(out.bankInstrument);
  clearText(out.bankLocator);
  if (members[kVersion].read) copyIfFits(out.bankVersion, members[kVersion].text);
  if (members[kSha256].read) copyIfFits(out.bankSha256, members[kSha256].text);
  if (members[kSource].read && bankSourceKnown(members[kSource].text)) {
    copyIfFits(out.bankSource, members[kSource].text);
  }
  out.hasBankRef = true;
  out.hasBankLocator = members[kLocator].read && copyIfFits(out.bankLocator, members[kLocator].text);
  out.hasBankPresetId = members[kPresetId].read && copyIfFits(out.bankPresetId, members[kPresetId].text);
  if (members[kInstrument].read) copyIfFits(out.bankInstrument, members[kInstrument].text);
  return true;
}

bool readTopLevelMember(const std::string &key, Reader &r, int depth, StateChunk &out) {
  const int memberDepth = depth + 1;
  if (key == "params") return readParams(r, memberDepth, out);
  if (key == "variation") {
    double x = 0.0;
    if (!parseNumber(r, &x)) return false;
    if (!truncateToInt32(x, out.variation)) ++out.refusedNumbers;
    return true;
  }
  if (key == "ccMap") {
    if (!nextByteIs(r, '{') && !nextByteIs(r, '[')) return skipValue(r, memberDepth);
    CcMap map;
    bool present = false;
    if (!parseCcMapValue(r, map, present, &out.refusedNumbers)) return false;
    if (present) {
      out.ccMap = map;
      out.hasCcMap = true;
    }
    return true;
  }
  if (key == "samplerAssetFault") {
    std::string name;
    if (!parseString(r, &name)) return false;
    const FaultName *fault = faultByName(name);
    out.samplerAssetFault = fault != nullptr ? fault->code : SamplerAssetDiagnostic::none;
    out.hasSamplerAssetFault = fault != nullptr;
    return true;
  }
  if (key == "samplerZoneProgram") {
    std::string name;
    if (!parseString(r, &name)) return false;
    if (zoneProgramByName(name, out.samplerZoneProgram)) out.hasSamplerZoneProgram = true;
    return true;
  }
  if (nextByteIs(r, '{')) {
    if (key == "sampler") return readSampler(r, memberDepth, out);
    if (key == "authoredState") return readAuthoredState(r, memberDepth, out);
    if (key == "bank") return readBank(r, memberDepth, out);
  }
  return skipValue(r, memberDepth);
}

}  // namespace

std::string writeStateJson(std::span<const double, kParamCount> values, int32_t variation, const CcMap *ccMap,
                           SamplerAssetDiagnostic samplerAssetFault, SamplerZoneProgram samplerZoneProgram,
                           const BankStateRefOut *bankRef, const SamplerPadOverrides *padOverrides,
                           const AuthoredStateOut *authored) {
  std::string out;
  out.reserve(1767);

  out += "{\"params\":{";
  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (i != 0) out += ',';
    jsonAppendQuoted(out, NORVA_PARAMS[i].key);
    out += ':';
    jsonAppendNumber(out, values[i]);
  }
  out += '}';

  if (variation >= 0) {
    out += ",\"variation\":";
    jsonAppendNumber(out, variation);
  }
  if (ccMap != nullptr) {
    out += ",\"ccMap\":";
    writeCcMapJson(out, *ccMap);
  }
  if (samplerAssetFault != SamplerAssetDiagnostic::none) {
    out += ",\"samplerAssetFault\":";
    jsonAppendQuoted(out, faultName(samplerAssetFault));
  }
  if (samplerZoneProgram != SamplerZoneProgram::legacySingleZone) {
    const uint32_t program = static_cast<uint32_t>(samplerZoneProgram);
    out += ",\"samplerZoneAbi\":";
    jsonAppendQuoted(out, kZoneAbi);
    out += ",\"samplerZoneVersion\":1,\"samplerZoneProgram\":";
    jsonAppendQuoted(out, kZoneProgramNames[program < kZoneProgramCount ? program : 0]);
  }
  if (padOverrides != nullptr && !padOverrides->empty()) {
    out += ",\"sampler\":{\"v\":1,\"pads\":";
    writeSamplerPadOverridesJson(out, *padOverrides);
    out += '}';
  }
  if (bankRef != nullptr && *orEmpty(bankRef->id) != '\0') {
    const auto optional = [&out](const char *key, const char *text) {
      if (*orEmpty(text) == '\0') return;
      out += key;
      jsonAppendQuoted(out, text);
    };
    out += ",\"bank\":{\"version\":";
    jsonAppendNumber(out, 1);
    out += ",\"id\":";
    jsonAppendQuoted(out, bankRef->id);
    optional(",\"bankVersion\":", bankRef->bankVersion);
    optional(",\"sha256\":", bankRef->sha256);
    optional(",\"locator\":", bankRef->locator);
    out += ",\"source\":";
    const char *source = orEmpty(bankRef->source);
    jsonAppendQuoted(out, *source != '\0' ? source : kBankSourceEmbedded);
    optional(",\"instrument\":", bankRef->instrument);
    optional(",\"presetId\":", bankRef->presetId);
    out += '}';
  }
  if (authored != nullptr && authored->bytes != nullptr && authored->count != 0) {
    out += ",\"authoredState\":{\"v\":";
    jsonAppendNumber(out, authored->version);
    out += ",\"bytes\":\"";
    base64Append(out, authored->bytes, authored->count);
    out += "\"}";
  }
  out += '}';
  return out;
}

bool parseStateJson(const char *text, size_t length, StateChunk &out) {
  if (text == nullptr) return false;
  Reader r(text, length);
  const bool ok = readObject(r, 0, [&out](const std::string &key, Reader &reader, int depth) {
    return readTopLevelMember(key, reader, depth, out);
  });
  return ok && atEnd(r);
}

BankStateRefOutcome resolveBankStateRef(const StateChunk &chunk, uint32_t &index) {
  (void)index;  // no bank is compiled into this build
  if (!chunk.hasBankRef || chunk.bankId[0] == '\0') return BankStateRefOutcome::none;
  return BankStateRefOutcome::notInBuild;
}

bool bankSourceNameKnown(const char *name) { return name != nullptr && bankSourceKnown(name); }

bool samplerZoneProgramNameKnown(const char *name) {
  SamplerZoneProgram program = SamplerZoneProgram::legacySingleZone;
  return name != nullptr && zoneProgramByName(name, program);
}

SamplerZoneProgram samplerZoneProgramFromName(const char *name) {
  SamplerZoneProgram program = SamplerZoneProgram::legacySingleZone;
  if (name != nullptr) zoneProgramByName(name, program);
  return program;
}

const char *storedPlaneFault(const StateChunk &chunk) {
  if (chunk.authoredUndecodable) return "the authoredState bytes are not Base64";
  if (!chunk.hasAuthoredState) return nullptr;
  if (chunk.authoredVersion != kPlaneVersion) return "the authoredState version is not 1";
  return authoredPlaneFault(chunk.authoredBytes.data(), chunk.authoredBytes.size());
}

}  // namespace norva
