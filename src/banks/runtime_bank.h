// Runtime banks: a folder with a "bank.json" manifest ("norva-sound-pack/v1"),
// WAV assets verified by size and SHA-256, instruments and kits that point at
// instrument documents ("norva-sampler-instrument/v1"), and presets. The
// loader verifies a folder, chooses one instrument or kit, decodes the WAV
// files its zones use into one mono arena and stages the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "banks/bank_document.h"

namespace norva {

// Outcomes of a load. Their names are the wire texts of the bank messages.
enum RuntimeBankOutcome : int {
  kBankOk = 0,
  kBankMissing = 1,
  kBankHashMismatch = 2,
  kBankMalformed = 3,
  kBankUnsupportedCodec = 4,
  kBankTooLarge = 5,
  kBankInstrumentUnknown = 6,
};

// "ok", "bank-missing", ...; any value outside the table is "bank-missing".
const char *runtimeBankOutcomeName(int outcome);

// The manifest's file name in a bank folder and the two document formats.
inline constexpr const char *kBankManifestName = "bank.json";
inline constexpr const char *kBankManifestFormat = "norva-sound-pack/v1";
inline constexpr const char *kInstrumentDocumentFormat = "norva-sampler-instrument/v1";

// The loader's bounds, so that no folder can make it exhaust memory. A file or
// arena past one fails the load with "bank-too-large" (a preset past one is
// skipped):
// - the largest asset file it reads,
inline constexpr size_t kMaxBankFileBytes = size_t(512) << 20;
// - the largest manifest, instrument or preset document (a document tree
//   takes many times its text's size),
inline constexpr size_t kMaxBankDocumentBytes = size_t(4) << 20;
// - the asset bytes it holds at once, all verified assets together,
inline constexpr size_t kMaxBankHeldBytes = size_t(2) << 30;
// - the longest arena it stages, also when the caller gives no capacity.
inline constexpr size_t kMaxArenaFrames = size_t(256) << 20;

struct StagedPositioning {
  std::string id;
  std::string name;
  std::string list; // "instruments" or "kits"
};

struct StagedPreset {
  std::string id;
  std::string name; // the id when the manifest gives none
  std::string instrument;
  std::vector<std::pair<std::string, double>> params; // ascending key order
};

// One playable zone. Frames are arena frames: start is an offset into the
// arena, length a frame count, loop points relative to start.
struct StagedZone {
  std::string id;
  std::string assetId;
  uint64_t start = 0;
  uint64_t length = 0;
  uint32_t lowKey = 0;
  uint32_t highKey = 127;
  uint32_t rootKey = 60;
  bool keyTracking = true;
  uint32_t lowVelocity = 0;
  uint32_t highVelocity = 127;
  double gain = 1.0;
  double pan = 0.0;
  double fineTuneCents = 0.0;
  uint32_t roundRobinGroup = 0;
  uint32_t chokeGroup = 0;
  int trigger = 0; // triggerCode: 0 attack, 1 release, 2 legato
  double attackSeconds = 0.001;
  double releaseSeconds = 0.05;
  bool reverse = false;
  double filterCutoffHz = 0.0;
  double filterResonance = 0.0;
  bool loop = false;
  uint64_t loopStart = 0;
  uint64_t loopEnd = 0;
  uint64_t loopCrossfadeFrames = 0;
  double sampleRate = 0.0; // of the zone's asset
};

struct StagedBank {
  std::string id;
  std::string version;
  std::string instrumentId;
  std::string instrumentName;
  std::string instrumentList;
  std::vector<StagedPositioning> positionings;
  std::vector<StagedPreset> presets;
  std::string sha256; // of the manifest file's bytes, lower-case hex
  std::string name;
  std::vector<float> samples; // the mono arena
  std::vector<StagedZone> zones;
  double sampleRate = 48000.0;
};

struct RuntimeBankLoad {
  int outcome = kBankMissing;
  StagedBank bank;
  std::string error; // empty on success
};

// Loads and verifies the bank in folder. arenaCapacityFrames 0 means no
// limit; an empty instrumentId takes the first usable instrument or kit.
RuntimeBankLoad loadRuntimeBank(const std::string &folder, size_t arenaCapacityFrames,
                                const std::string &instrumentId);

// Helpers of the loader, public for the probe and the tests.
std::string sha256Hex(const void *bytes, size_t length); // 64 lower-case hex digits
std::string joinPath(const std::string &base, const std::string &relative);
// False for "", a leading "/", any backslash, any ".." segment.
bool pathIsContained(const std::string &relative);
// "release" 1, "legato" 2, anything else 0.
int triggerCode(const std::string &text);

// One zone from its object in an instrument document, on an asset that lies
// in the arena from assetOffset for assetFrames frames (the sum must fit in
// 64 bits). The zone's start, length and loop always lie inside the asset.
StagedZone stageZone(const JsonValue &zone, uint64_t assetOffset, uint64_t assetFrames, double sampleRate);
// A preset document's parameters: every finite number in its "params"
// object, in ascending key order; empty for anything else.
std::vector<std::pair<std::string, double>> presetParams(const JsonValue &document);

} // namespace norva
