#include "banks/runtime_bank.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>

#include "banks/wav.h"
#include "platform/files.h"
#include "platform/sha256.h"

namespace norva {
namespace {

constexpr const char *kInstrumentLists[] = {"instruments", "kits"};
constexpr const char *kEllipsis = "\xE2\x80\xA6"; // U+2026
constexpr size_t kDigestPrefixDigits = 16;
constexpr uint32_t kMaxKey = 127;

// A frame count or group read from a number: negative and not-a-number count
// as 0, fractions are cut off, and values past 64 bits stop at the largest.
uint64_t wholeNumber(double value) {
  if (!(value > 0)) return 0;
  if (value >= 18446744073709551616.0) return UINT64_MAX;
  return uint64_t(value);
}

uint32_t groupNumber(double value) { return uint32_t(std::min<uint64_t>(wholeNumber(value), UINT32_MAX)); }

// Keys and velocities: 0..127, rounded half up.
uint32_t keyNumber(double value) {
  if (!(value > 0)) return 0;
  if (value > kMaxKey) return kMaxKey;
  return uint32_t(value + 0.5);
}

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

std::string tooLargeText(const std::string &what, size_t limit) {
  return what + " is larger than the loader reads (" + std::to_string(limit) + " bytes)";
}

enum class BankFileRead { ok, missing, escapes, tooLarge };

// Reads a file named relative to the bank folder, refusing one whose real
// location (links resolved) lies outside the folder.
BankFileRead readBankFile(const std::string &folder, const std::string &relative, size_t limit,
                          std::vector<uint8_t> &bytes) {
  const std::string path = joinPath(folder, relative);
  if (!realPathInside(folder.empty() ? "." : folder, path)) {
    std::error_code ec;
    return std::filesystem::exists(path, ec) ? BankFileRead::escapes : BankFileRead::missing;
  }
  switch (readFileLimited(path, limit, bytes)) {
  case FileReadStatus::ok: return BankFileRead::ok;
  case FileReadStatus::tooLarge: return BankFileRead::tooLarge;
  case FileReadStatus::unreadable: break;
  }
  return BankFileRead::missing;
}

struct Asset {
  std::vector<uint8_t> bytes; // released once decoded
  bool decoded = false;
  uint64_t offset = 0;
  uint64_t frames = 0;
  double sampleRate = 0;
};

class BankLoader {
public:
  BankLoader(const std::string &folder, size_t capacity, const std::string &instrumentId)
      : folder_(folder), capacity_(capacity), requested_(instrumentId) {}

  RuntimeBankLoad run() {
    load_.outcome = kBankMissing;
    if (readManifest() && readAssets()) {
      readPositionings();
      readPresets();
      if (chooseInstrument() && stageZones()) load_.outcome = kBankOk;
    }
    return std::move(load_);
  }

private:
  bool fail(int outcome, std::string text) {
    load_.outcome = outcome;
    load_.error = std::move(text);
    return false;
  }

  bool readManifest() {
    std::vector<uint8_t> bytes;
    switch (readFileLimited(joinPath(folder_, kBankManifestName), kMaxBankDocumentBytes, bytes)) {
    case FileReadStatus::ok: break;
    case FileReadStatus::tooLarge: return fail(kBankTooLarge, tooLargeText(kBankManifestName, kMaxBankDocumentBytes));
    case FileReadStatus::unreadable: return fail(kBankMissing, "cannot read " + joinPath(folder_, kBankManifestName));
    }
    if (!parseJsonDocument(bytes.data(), bytes.size(), manifest_) || !manifest_.isObject())
      return fail(kBankMalformed, "bank.json is not a JSON object");
    const std::string format = manifest_.str("format");
    if (format != kBankManifestFormat)
      return fail(kBankMalformed, "bank.json format is " + quoted(format) + ", expected " + kBankManifestFormat);
    StagedBank &bank = load_.bank;
    bank.id = manifest_.str("id");
    bank.version = manifest_.str("version");
    bank.name = manifest_.str("name");
    if (bank.id.empty()) return fail(kBankMalformed, "bank.json declares no id");
    bank.sha256 = sha256Hex(bytes.data(), bytes.size());
    return true;
  }

  bool readAssets() {
    const JsonValue *table = manifest_.find("assetTable");
    if (table == nullptr || !table->isArray() || table->array.empty())
      return fail(kBankMalformed, "bank.json declares no assetTable");
    size_t held = 0;
    for (const JsonValue &entry : table->array) {
      if (!entry.isObject()) continue;
      const std::string id = entry.str("id");
      const std::string path = entry.str("path");
      const std::string sha256 = entry.str("sha256");
      double declared = -1;
      entry.numberMember("bytes", declared);
      const std::string codec = entry.str("codec", "wav");
      if (id.empty() || path.empty()) return fail(kBankMalformed, "assetTable entry missing id or path");
      const std::string named = "asset " + quoted(id);
      if (!pathIsContained(path)) return fail(kBankMalformed, named + " path escapes the bank directory");
      if (codec != "wav")
        return fail(kBankUnsupportedCodec,
                    named + " codec " + quoted(codec) + " is not decoded by the native runtime loader (wav only)");
      std::vector<uint8_t> bytes;
      switch (readBankFile(folder_, path, kMaxBankFileBytes, bytes)) {
      case BankFileRead::ok: break;
      case BankFileRead::missing: return fail(kBankMissing, named + " file missing: " + path);
      case BankFileRead::escapes: return fail(kBankMalformed, named + " path escapes the bank directory");
      case BankFileRead::tooLarge: return fail(kBankTooLarge, tooLargeText(named, kMaxBankFileBytes));
      }
      if (declared >= 0 && bytes.size() != wholeNumber(declared))
        return fail(kBankHashMismatch, named + " is " + std::to_string(bytes.size()) + " bytes, manifest declares " +
                                           std::to_string(wholeNumber(declared)));
      if (!sha256.empty()) {
        const std::string digest = sha256Hex(bytes.data(), bytes.size());
        if (digest != sha256)
          return fail(kBankHashMismatch, named + " sha256 " + digest.substr(0, kDigestPrefixDigits) + kEllipsis +
                                             " does not match the manifest");
      }
      Asset &asset = assets_[id];
      held -= asset.bytes.size(); // a later entry replaces an earlier one
      if (bytes.size() > kMaxBankHeldBytes - held)
        return fail(kBankTooLarge, named + " takes the bank's assets past what the loader holds (" +
                                       std::to_string(kMaxBankHeldBytes) + " bytes)");
      held += bytes.size();
      asset.bytes = std::move(bytes);
    }
    return true;
  }

  void readPositionings() {
    for (const char *list : kInstrumentLists) {
      const JsonValue *entries = manifest_.find(list);
      if (entries == nullptr || !entries->isArray()) continue;
      for (const JsonValue &entry : entries->array) {
        if (entry.isObject() && !entry.str("id").empty())
          load_.bank.positionings.push_back({entry.str("id"), entry.str("name"), list});
      }
    }
  }

  // Presets that cannot be read or carry no parameter are skipped.
  void readPresets() {
    const JsonValue *entries = manifest_.find("presets");
    if (entries == nullptr || !entries->isArray()) return;
    for (const JsonValue &entry : entries->array) {
      StagedPreset preset;
      preset.id = entry.str("id");
      if (preset.id.empty()) continue;
      preset.name = entry.str("name");
      if (preset.name.empty()) preset.name = preset.id;
      preset.instrument = entry.str("instrument");
      const std::string document = entry.str("document");
      std::vector<uint8_t> bytes;
      JsonValue parsed;
      if (document.empty() || !pathIsContained(document) ||
          readBankFile(folder_, document, kMaxBankDocumentBytes, bytes) != BankFileRead::ok ||
          !parseJsonDocument(bytes.data(), bytes.size(), parsed))
        continue;
      preset.params = presetParams(parsed);
      if (!preset.params.empty()) load_.bank.presets.push_back(std::move(preset));
    }
  }

  bool chooseInstrument() {
    for (const char *list : kInstrumentLists) {
      const JsonValue *entries = manifest_.find(list);
      if (entries == nullptr || !entries->isArray()) continue;
      for (const JsonValue &entry : entries->array) {
        if (entry.str("document").empty() || (!requested_.empty() && entry.str("id") != requested_)) continue;
        load_.bank.instrumentId = entry.str("id");
        load_.bank.instrumentName = entry.str("name");
        load_.bank.instrumentList = list;
        return readInstrument(entry.str("document"));
      }
    }
    if (requested_.empty()) return fail(kBankMalformed, "bank.json names no readable instrument/kit document");
    std::string known;
    for (const StagedPositioning &positioning : load_.bank.positionings)
      known += (known.empty() ? "" : ", ") + positioning.id;
    return fail(kBankInstrumentUnknown, "bank " + load_.bank.id + " has no instrument or kit " + quoted(requested_) +
                                            (known.empty() ? " (the bank lists none)" : " (known: " + known + ")"));
  }

  bool readInstrument(const std::string &document) {
    std::vector<uint8_t> bytes;
    const BankFileRead read = pathIsContained(document)
                                  ? readBankFile(folder_, document, kMaxBankDocumentBytes, bytes)
                                  : BankFileRead::escapes;
    switch (read) {
    case BankFileRead::ok: break;
    case BankFileRead::escapes: return fail(kBankMalformed, "bank.json names no readable instrument/kit document");
    case BankFileRead::missing: return fail(kBankMissing, "instrument document missing: " + document);
    case BankFileRead::tooLarge:
      return fail(kBankTooLarge, tooLargeText("instrument document " + document, kMaxBankDocumentBytes));
    }
    if (!parseJsonDocument(bytes.data(), bytes.size(), instrument_) || !instrument_.isObject())
      return fail(kBankMalformed, "instrument document is not a JSON object");
    const std::string format = instrument_.str("format");
    if (format != kInstrumentDocumentFormat)
      return fail(kBankMalformed,
                  "instrument document format is " + quoted(format) + ", expected " + kInstrumentDocumentFormat);
    return true;
  }

  bool stageZones() {
    const JsonValue *zones = instrument_.find("zones");
    if (zones == nullptr || !zones->isArray() || zones->array.empty())
      return fail(kBankMalformed, "instrument document declares no zones");
    StagedBank &bank = load_.bank;
    double firstRate = 0;
    for (const JsonValue &zone : zones->array) {
      if (!zone.isObject()) continue;
      const std::string assetId = zone.str("assetId");
      const auto found = assets_.find(assetId);
      if (found == assets_.end())
        return fail(kBankMalformed, "zone " + quoted(zone.str("id")) + " names asset " + quoted(assetId) +
                                        " which the assetTable does not declare");
      Asset &asset = found->second;
      if (!asset.decoded) {
        if (!decode(assetId, asset)) return false;
        if (firstRate == 0) firstRate = asset.sampleRate;
      }
      bank.zones.push_back(stageZone(zone, asset.offset, asset.frames, asset.sampleRate));
    }
    if (bank.zones.empty() || bank.samples.empty()) return fail(kBankMalformed, "bank staged no zones or no samples");
    bank.sampleRate = firstRate > 0 ? firstRate : 48000.0;
    return true;
  }

  // Decodes an asset into the arena once, however many zones use it.
  bool decode(const std::string &assetId, Asset &asset) {
    WavAudio audio;
    std::string error;
    if (!decodeWav(asset.bytes.data(), asset.bytes.size(), audio, error))
      return fail(kBankUnsupportedCodec, "asset " + quoted(assetId) + ": " + error);
    std::vector<float> &arena = load_.bank.samples;
    const size_t needed = arena.size() + audio.samples.size();
    if (capacity_ != 0 && needed > capacity_)
      return fail(kBankTooLarge, "bank needs " + std::to_string(needed) + " arena frames, the kernel published " +
                                     std::to_string(capacity_));
    if (needed > kMaxArenaFrames)
      return fail(kBankTooLarge, "bank needs " + std::to_string(needed) + " arena frames, the loader stages at most " +
                                     std::to_string(kMaxArenaFrames));
    asset.offset = arena.size();
    asset.frames = audio.samples.size();
    asset.sampleRate = audio.sampleRate;
    asset.decoded = true;
    arena.insert(arena.end(), audio.samples.begin(), audio.samples.end());
    std::vector<uint8_t>().swap(asset.bytes);
    return true;
  }

  const std::string &folder_;
  const size_t capacity_;
  const std::string &requested_;
  RuntimeBankLoad load_;
  JsonValue manifest_;
  JsonValue instrument_;
  std::map<std::string, Asset> assets_;
};

} // namespace

const char *runtimeBankOutcomeName(int outcome) {
  static const char *const kNames[] = {"ok", "bank-missing", "bank-hash-mismatch", "bank-malformed",
                                       "bank-unsupported-codec", "bank-too-large", "bank-instrument-unknown"};
  return outcome >= kBankOk && outcome <= kBankInstrumentUnknown ? kNames[outcome] : kNames[kBankMissing];
}

std::string sha256Hex(const void *bytes, size_t length) {
  Sha256Digest digest{};
  if (!sha256Digest(bytes, length, digest)) return std::string();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string joinPath(const std::string &base, const std::string &relative) {
  if (relative.empty()) return base;
  if (relative.front() == '/' || base.empty()) return relative;
  return base.back() == '/' ? base + relative : base + "/" + relative;
}

bool pathIsContained(const std::string &relative) {
  if (relative.empty() || relative.front() == '/' || relative.find('\\') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t slash = relative.find('/', start);
    if (relative.compare(start, slash == std::string::npos ? std::string::npos : slash - start, "..") == 0)
      return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

int triggerCode(const std::string &text) {
  if (text == "release") return 1;
  if (text == "legato") return 2;
  return 0;
}

StagedZone stageZone(const JsonValue &zone, uint64_t assetOffset, uint64_t assetFrames, double sampleRate) {
  StagedZone z;
  z.id = zone.str("id");
  z.assetId = zone.str("assetId");
  z.start = assetOffset;
  z.length = assetFrames;
  z.sampleRate = sampleRate;
  // The start frame in effect: one at or past the asset's end is ignored, and
  // the end and loop frames count from the asset's start like it.
  uint64_t startFrame = 0;
  double value = 0;
  if (zone.numberMember("startFrame", value) && wholeNumber(value) < assetFrames) {
    startFrame = wholeNumber(value);
    z.start += startFrame;
    z.length -= startFrame;
  }
  if (zone.numberMember("endFrame", value) && wholeNumber(value) > startFrame)
    z.length = std::min(wholeNumber(value) - startFrame, z.length);

  const std::pair<const char *, uint32_t *> keys[] = {{"lowKey", &z.lowKey},
                                                     {"highKey", &z.highKey},
                                                     {"rootKey", &z.rootKey},
                                                     {"lowVelocity", &z.lowVelocity},
                                                     {"highVelocity", &z.highVelocity}};
  for (const auto &[key, field] : keys) {
    if (zone.numberMember(key, value)) *field = keyNumber(value);
  }
  const std::pair<const char *, double *> plain[] = {
      {"gain", &z.gain},
      {"pan", &z.pan},
      {"fineTuneCents", &z.fineTuneCents},
      {"attackSeconds", &z.attackSeconds},
      {"releaseSeconds", &z.releaseSeconds},
      {"filterCutoffHz", &z.filterCutoffHz},
      {"filterResonance", &z.filterResonance}};
  for (const auto &[key, field] : plain) zone.numberMember(key, *field);
  if (zone.numberMember("roundRobinGroup", value)) z.roundRobinGroup = groupNumber(value);
  if (zone.numberMember("chokeGroup", value)) z.chokeGroup = groupNumber(value);
  zone.boolMember("keyTracking", z.keyTracking);
  zone.boolMember("reverse", z.reverse);
  z.trigger = triggerCode(zone.str("trigger", "attack"));

  double loopStart = 0, loopEnd = 0;
  if (zone.str("loopMode", "none") == "forward" && zone.numberMember("loopStartFrame", loopStart) &&
      zone.numberMember("loopEndFrame", loopEnd)) {
    const uint64_t ls = wholeNumber(loopStart);
    const uint64_t le = wholeNumber(loopEnd);
    if (ls >= startFrame && le > ls && le - startFrame <= z.length) {
      z.loop = true;
      z.loopStart = ls - startFrame;
      z.loopEnd = le - startFrame;
    }
  }
  if (zone.numberMember("loopCrossfadeFrames", value) && z.loop && wholeNumber(value) <= z.loopEnd - z.loopStart)
    z.loopCrossfadeFrames = wholeNumber(value);
  return z;
}

std::vector<std::pair<std::string, double>> presetParams(const JsonValue &document) {
  std::vector<std::pair<std::string, double>> params;
  const JsonValue *members = document.find("params");
  if (members == nullptr || !members->isObject()) return params;
  for (const auto &[key, value] : members->object) {
    if (value.kind == JsonValue::Kind::number && std::isfinite(value.number)) params.emplace_back(key, value.number);
  }
  return params;
}

RuntimeBankLoad loadRuntimeBank(const std::string &folder, size_t arenaCapacityFrames,
                                const std::string &instrumentId) {
  return BankLoader(folder, arenaCapacityFrames, instrumentId).run();
}

} // namespace norva
