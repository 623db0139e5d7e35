// The state document: the plug-in's whole saved state as one JSON object —
// plain parameter values keyed by parameter id, the variation, the CC map,
// the sampler's recorded fault and zone program, pad overrides, the bank
// reference and the authored pattern bytes. The processor writes it into the
// host's stream; processor, controller and editor all read it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "banks/pad_overrides.h"
#include "ccmap/cc_map.h"
#include "params/params.h"

namespace norva {

// The largest authored pattern state a document may carry, in decoded bytes.
inline constexpr size_t kMaxAuthoredStateBytes = 1048576;

// Capacities of the bank reference texts, terminating NUL included.
inline constexpr size_t kBankIdCapacity = 128;
inline constexpr size_t kBankVersionCapacity = 32;
inline constexpr size_t kBankSha256Capacity = 65;
inline constexpr size_t kBankSourceCapacity = 24;
inline constexpr size_t kBankPresetIdCapacity = 64;
inline constexpr size_t kBankInstrumentCapacity = 64;
inline constexpr size_t kBankLocatorCapacity = 1024;

// A sampler asset fault recorded in the document; 0 means none. The field may
// hold any code: unknown ones are written as "none".
enum class SamplerAssetDiagnostic : uint32_t {
  none = 0,
  missingInMemoryAsset = 0x53410001,
  corruptInMemoryAsset = 0x53410002,
  movedInMemoryAsset = 0x53410003,
  changedInMemoryAsset = 0x53410004,
  unsupportedStereoSource = 0x53410005,
};

// The sampler layer's zone program. Values of 8 or more are written as the
// legacy program.
enum class SamplerZoneProgram : uint32_t {
  legacySingleZone = 0,
  oneShotDrum = 1,
  loopedPadRelease = 2,
  velocityRoundRobin = 3,
  keyZonesPitch = 4,
  stereoMultiMic = 5,
  chokeAndSustain = 6,
  voiceLimitSteal = 7,
};

// The parsed document. Everything starts empty; the parser sets only what
// the document carries, so parse into a fresh chunk.
struct StateChunk {
  double values[kParamCount] = {};  // plain values, indexed like NORVA_PARAMS
  bool present[kParamCount] = {};   // the document named that parameter
  int32_t variation = -1;           // -1: absent
  CcMap ccMap;
  bool hasCcMap = false;
  SamplerAssetDiagnostic samplerAssetFault = SamplerAssetDiagnostic::none;
  bool hasSamplerAssetFault = false;
  SamplerZoneProgram samplerZoneProgram = SamplerZoneProgram::legacySingleZone;
  bool hasSamplerZoneProgram = false;
  SamplerPadOverrides pads;
  bool hasPads = false;
  std::vector<uint8_t> authoredBytes;  // at most kMaxAuthoredStateBytes
  int32_t authoredVersion = 0;
  bool hasAuthoredState = false;
  // An "authoredState" whose bytes were there but did not decode: the
  // document still parses, and a reader that applies the plane refuses it.
  bool authoredUndecodable = false;
  // Bank reference. Every text is NUL-terminated inside its array.
  char bankId[kBankIdCapacity] = {};
  char bankVersion[kBankVersionCapacity] = {};
  char bankSha256[kBankSha256Capacity] = {};
  char bankSource[kBankSourceCapacity] = {};  // a known source name or empty
  char bankPresetId[kBankPresetIdCapacity] = {};
  bool hasBankPresetId = false;
  char bankInstrument[kBankInstrumentCapacity] = {};
  char bankLocator[kBankLocatorCapacity] = {};
  bool hasBankLocator = false;
  bool hasBankRef = false;  // a "bank" section with a usable id was read
  // Numbers the document carried that no field can hold, each refused and
  // counted here: parameter values that are not finite, a NaN variation or
  // authored version, and the CC map's refused members (see cc_map.h).
  uint32_t refusedNumbers = 0;
};

// The bank reference to write: seven NUL-terminated texts. Empty (or null)
// texts other than the id are left out; an empty source is written as
// "embedded"; an empty id leaves out the whole reference.
struct BankStateRefOut {
  const char *id = "";
  const char *bankVersion = "";
  const char *sha256 = "";
  const char *source = "";
  const char *presetId = "";
  const char *instrument = "";
  const char *locator = "";
};

// The authored pattern state to write; null bytes or a count of 0 leave it out.
struct AuthoredStateOut {
  const uint8_t *bytes = nullptr;
  size_t count = 0;
  uint32_t version = 0;
};

// The document text, with no white space. Optional inputs are left out when
// absent: a negative variation, a null map, fault none, program 0, a null
// bank reference or one with an empty id, null or empty pad overrides, null
// or empty authored state.
std::string writeStateJson(std::span<const double, kParamCount> values, int32_t variation, const CcMap *ccMap,
                           SamplerAssetDiagnostic samplerAssetFault, SamplerZoneProgram samplerZoneProgram,
                           const BankStateRefOut *bankRef, const SamplerPadOverrides *padOverrides,
                           const AuthoredStateOut *authored);

// Reads a whole document into out, which must be freshly made. False for any
// malformed text (the caller keeps its current state); oversized optional
// texts, bank texts holding a NUL byte, unknown names and undecodable
// authored bytes are dropped without failing the document, and numbers no
// field can hold are counted in refusedNumbers.
bool parseStateJson(const char *text, size_t length, StateChunk &out);

// Why the chunk's authored plane cannot be restored (Base64 that did not
// decode, a version other than 1, a byte form the kernel refuses), as a
// sentence fragment; nullptr when it can, or when the chunk has none.
const char *storedPlaneFault(const StateChunk &chunk);

enum class BankStateRefOutcome : uint32_t {
  none = 0,        // the chunk names no bank
  found = 1,       // the chunk names a bank compiled into the build; index is set
  notInBuild = 2,  // the chunk names a bank the build does not contain
};

// Looks the chunk's bank reference up among the banks compiled into the
// build. This build compiles none, so a named bank is always notInBuild and
// index is never written.
BankStateRefOutcome resolveBankStateRef(const StateChunk &chunk, uint32_t &index);

// "embedded", "module-relative", "user-folder" or "hosted". Null is not known.
bool bankSourceNameKnown(const char *name);
// One of the eight zone program names ("legacy-single-zone" ... "voice-limit-steal").
bool samplerZoneProgramNameKnown(const char *name);
// The program with that name; anything else, null included, is the legacy program.
SamplerZoneProgram samplerZoneProgramFromName(const char *name);

}  // namespace norva
