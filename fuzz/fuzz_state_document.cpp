// State documents from arbitrary text held in a heap block of exactly the
// input's size, so any read at or past the end is an AddressSanitizer
// report. A successful parse gives a chunk within its limits (every text
// NUL-terminated inside its field, flags agreeing with their fields, every
// number finite, a plane member taken only when whole and readable). The
// chunk written out (absent parameters as null) is strict
// JSON and reads back to the same content, apart from empty optional parts,
// and from then on the written form is stable.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "params/authored_plane.h"
#include "state/state_document.h"
#include "fuzz_support.h"
#include "../tests/strict_json.h"

namespace {

using norva::StateChunk;
using norva::fuzz::fail;

template <size_t N>
void checkText(const char (&field)[N], const char *name) {
  if (std::memchr(field, '\0', N) == nullptr) fail("%s is not NUL-terminated", name);
}

void checkLimits(const StateChunk &c) {
  checkText(c.bankId, "bankId");
  checkText(c.bankVersion, "bankVersion");
  checkText(c.bankSha256, "bankSha256");
  checkText(c.bankSource, "bankSource");
  checkText(c.bankPresetId, "bankPresetId");
  checkText(c.bankInstrument, "bankInstrument");
  checkText(c.bankLocator, "bankLocator");
  if (c.bankSource[0] != '\0' && !norva::bankSourceNameKnown(c.bankSource)) fail("unknown source %s", c.bankSource);
  if (!c.hasBankRef && (c.bankId[0] != '\0' || c.hasBankLocator || c.hasBankPresetId)) fail("bank texts with no bank");
  if (c.ccMap.count > norva::kCcMapCapacity || (!c.hasCcMap && c.ccMap.count != 0)) fail("ccMap of %u", c.ccMap.count);
  for (uint32_t i = 0; i < c.ccMap.count; ++i) {
    const norva::CcBinding &b = c.ccMap.bindings[i];
    if (b.paramIndex >= norva::kParamCount || b.cc > 127 || (b.hasMin && !std::isfinite(b.min)) ||
        (b.hasMax && !std::isfinite(b.max)))
      fail("binding %u out of range", i);
  }
  for (uint32_t i = 0; i < norva::kParamCount; ++i)
    if (c.present[i] && !std::isfinite(c.values[i])) fail("parameter %u not finite", i);
  for (const norva::SamplerPadOverride &pad : c.pads)
    if (!norva::padKeyUsable(pad.key)) fail("pad key not usable");
  if (c.authoredBytes.size() > norva::kMaxAuthoredStateBytes || (!c.hasAuthoredState && !c.authoredBytes.empty()))
    fail("%zu authored bytes", c.authoredBytes.size());
  // The plane member as the processor takes it: whole and readable, or refused with a reason.
  const char *planeFault = norva::storedPlaneFault(c);
  if (c.authoredUndecodable && planeFault == nullptr) fail("undecodable plane taken");
  if (planeFault == nullptr && c.hasAuthoredState &&
      (c.authoredVersion != norva::kPlaneVersion ||
       norva::authoredPlaneFault(c.authoredBytes.data(), c.authoredBytes.size()) != nullptr))
    fail("a plane the kernel refuses is taken");
  if (!c.hasPads && !c.pads.empty()) fail("pads without the flag");
  if (!c.hasSamplerAssetFault && c.samplerAssetFault != norva::SamplerAssetDiagnostic::none) fail("stray fault");
  if (static_cast<uint32_t>(c.samplerZoneProgram) > 7) fail("zone program %u", static_cast<uint32_t>(c.samplerZoneProgram));
}

bool sameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

uint32_t writtenVersion(int32_t version) { return static_cast<uint32_t>(std::max<int32_t>(version, 0)); }

std::string padsText(const norva::SamplerPadOverrides &pads) {
  std::string text;
  norva::writeSamplerPadOverridesJson(text, pads);
  return text;
}

// Writes the chunk the way the plug-in would save it again.
std::string write(const StateChunk &c) {
  double values[norva::kParamCount];
  for (uint32_t i = 0; i < norva::kParamCount; ++i)
    values[i] = c.present[i] ? c.values[i] : std::numeric_limits<double>::quiet_NaN();
  const norva::BankStateRefOut bank{c.bankId,         c.bankVersion,    c.bankSha256, c.bankSource,
                                    c.bankPresetId,   c.bankInstrument, c.bankLocator};
  const norva::AuthoredStateOut authored{c.authoredBytes.data(), c.authoredBytes.size(),
                                         writtenVersion(c.authoredVersion)};
  return norva::writeStateJson(values, c.variation, c.hasCcMap ? &c.ccMap : nullptr,
                               c.hasSamplerAssetFault ? c.samplerAssetFault : norva::SamplerAssetDiagnostic::none,
                               c.hasSamplerZoneProgram ? c.samplerZoneProgram
                                                       : norva::SamplerZoneProgram::legacySingleZone,
                               c.hasBankRef ? &bank : nullptr, c.hasPads ? &c.pads : nullptr,
                               c.hasAuthoredState ? &authored : nullptr);
}

void checkReadBack(const StateChunk &a, const StateChunk &b, const std::string &text) {
  for (uint32_t i = 0; i < norva::kParamCount; ++i) {
    if (b.present[i] != a.present[i] || (a.present[i] && !sameDouble(a.values[i], b.values[i])))
      fail("parameter %u changed: %s", i, text.c_str());
  }
  if (a.variation != b.variation && !(a.variation < 0 && b.variation == -1)) fail("variation changed");
  if (a.hasCcMap != b.hasCcMap || a.ccMap.count != b.ccMap.count) fail("ccMap changed: %s", text.c_str());
  for (uint32_t i = 0; i < a.ccMap.count; ++i) {
    const norva::CcBinding &x = a.ccMap.bindings[i];
    const norva::CcBinding &y = b.ccMap.bindings[i];
    if (x.paramIndex != y.paramIndex || x.cc != y.cc || x.channel != y.channel || x.curve != y.curve ||
        x.valueMode != y.valueMode || x.takeover != y.takeover || x.enabled != y.enabled ||
        y.hasMin != x.hasMin || y.hasMax != x.hasMax ||
        (y.hasMin && !sameDouble(x.min, y.min)) || (y.hasMax && !sameDouble(x.max, y.max)))
      fail("binding %u changed: %s", i, text.c_str());
  }
  if (a.hasSamplerAssetFault != b.hasSamplerAssetFault || a.samplerAssetFault != b.samplerAssetFault)
    fail("fault changed");
  const bool program = a.hasSamplerZoneProgram && a.samplerZoneProgram != norva::SamplerZoneProgram::legacySingleZone;
  if (b.hasSamplerZoneProgram != program || (program && a.samplerZoneProgram != b.samplerZoneProgram))
    fail("zone program changed");
  const bool pads = a.hasPads && !a.pads.empty();
  if (b.hasPads != pads || (pads && padsText(a.pads) != padsText(b.pads)))
    fail("pads changed: %s", text.c_str());
  if (a.hasAuthoredState != b.hasAuthoredState || a.authoredBytes != b.authoredBytes ||
      (b.hasAuthoredState && b.authoredVersion != static_cast<int32_t>(writtenVersion(a.authoredVersion))))
    fail("authored state changed");
  const bool bank = a.hasBankRef && a.bankId[0] != '\0';
  if (b.hasBankRef != bank) fail("bank reference appeared or vanished: %s", text.c_str());
  if (!bank) return;
  const char *source = a.bankSource[0] != '\0' ? a.bankSource : "embedded";
  if (std::strcmp(a.bankId, b.bankId) != 0 || std::strcmp(a.bankVersion, b.bankVersion) != 0 ||
      std::strcmp(a.bankSha256, b.bankSha256) != 0 || std::strcmp(source, b.bankSource) != 0 ||
      std::strcmp(a.bankPresetId, b.bankPresetId) != 0 || std::strcmp(a.bankInstrument, b.bankInstrument) != 0 ||
      std::strcmp(a.bankLocator, b.bankLocator) != 0 || b.hasBankLocator != (a.bankLocator[0] != '\0') ||
      b.hasBankPresetId != (a.bankPresetId[0] != '\0'))
    fail("bank reference changed: %s", text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);

  StateChunk chunk;
  if (!norva::parseStateJson(block.get(), size, chunk)) return 0;
  checkLimits(chunk);

  const std::string text = write(chunk);
  if (!norva::strict::valid(text)) fail("written document is not strict JSON: %s", text.c_str());
  StateChunk back;
  if (!norva::parseStateJson(text.data(), text.size(), back)) fail("written document does not parse: %s", text.c_str());
  checkLimits(back);
  checkReadBack(chunk, back, text);

  const std::string again = write(back);
  StateChunk third;
  if (!norva::parseStateJson(again.data(), again.size(), third)) fail("rewritten document does not parse");
  if (write(third) != again) fail("written form is not stable: %s", again.c_str());
  return 0;
}
