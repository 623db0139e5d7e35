// Bank folders for tests, built on disk in a temporary folder that goes away
// with the builder: WAV assets in any sample format, instrument and preset
// documents, and a manifest ("bank.json") whose asset table carries the sizes and
// SHA-256 digests of the files as written. Every field of the manifest stays
// editable before writeManifest(), so a test can break exactly one thing.
//
//   BankFolder bank;
//   bank.addWav("kick", "audio/kick.wav", kPcm16Mono, {0.5, -0.25});
//   bank.addInstrument("drums", "Drums", "drums.json", R"([{"id":"k","assetId":"kick"}])");
//   bank.writeManifest();
//   loadRuntimeBank(bank.path(), 0, "");
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "banks/runtime_bank.h"
#include "formats/json.h"
#include "platform/sha256.h"

namespace norva::test {

// The layout of a WAV file's samples. tag 1 is integer PCM, 3 IEEE float;
// extensible writes the 40-byte "fmt " chunk with tag 65534 and the real tag
// in its sub-format.
struct WavFormat {
  uint16_t tag = 1;
  uint16_t bits = 16;
  uint16_t channels = 1;
  uint32_t sampleRate = 48000;
  bool extensible = false;
};
inline constexpr WavFormat kPcm16Mono{1, 16, 1, 48000};
inline constexpr WavFormat kPcm24Stereo{1, 24, 2, 44100};
inline constexpr WavFormat kFloat32Mono{3, 32, 1, 96000};

inline void appendLittleEndian(std::vector<uint8_t> &out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// RIFF/WAVE bytes: "fmt " then "data" with the interleaved samples (-1..1;
// integer PCM is scaled by 2^(bits-1), rounded and clamped; 8-bit is
// unsigned). The data chunk's size field sits 4 bytes before the samples,
// which are the file's last bytes (a pad byte follows an odd-sized chunk).
inline std::vector<uint8_t> wavBytes(const WavFormat &format, const std::vector<double> &interleaved) {
  std::vector<uint8_t> data;
  const int width = format.bits / 8;
  for (double value : interleaved) {
    if (format.tag == 3 && format.bits == 32) {
      const float f = float(value);
      uint32_t bits = 0;
      std::memcpy(&bits, &f, 4);
      appendLittleEndian(data, bits, 4);
      continue;
    }
    const double full = std::ldexp(1.0, format.bits - 1);
    const double scaled = std::fmin(std::fmax(std::round(value * full), -full), full - 1);
    const int64_t sample = int64_t(scaled) + (format.bits == 8 ? 128 : 0);
    appendLittleEndian(data, uint64_t(sample), width);
  }
  const uint32_t fmtSize = format.extensible ? 40 : 16;
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  appendLittleEndian(out, fmtSize, 4);
  appendLittleEndian(out, format.extensible ? 65534 : format.tag, 2);
  appendLittleEndian(out, format.channels, 2);
  appendLittleEndian(out, format.sampleRate, 4);
  appendLittleEndian(out, uint64_t(format.sampleRate) * format.channels * width, 4);
  appendLittleEndian(out, uint64_t(format.channels) * width, 2);
  appendLittleEndian(out, format.bits, 2);
  if (format.extensible) {
    appendLittleEndian(out, 22, 2);             // extension size
    appendLittleEndian(out, format.bits, 2);    // valid bits
    appendLittleEndian(out, 0, 4);              // channel mask
    appendLittleEndian(out, format.tag, 2);     // the sub-format's first two bytes
    const uint8_t guidRest[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    out.insert(out.end(), guidRest, guidRest + 14);
  }
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  appendLittleEndian(out, data.size(), 4);
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2 == 1) out.push_back(0);
  const size_t riffSize = out.size() - 8;
  for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t(riffSize >> (8 * i));
  return out;
}

inline std::string sha256HexOf(const std::vector<uint8_t> &bytes) {
  Sha256Digest digest{};
  sha256Digest(bytes.data(), bytes.size(), digest);
  std::string hex;
  for (uint8_t b : digest) {
    hex += "0123456789abcdef"[b >> 4];
    hex += "0123456789abcdef"[b & 15];
  }
  return hex;
}

// One asset table entry; the builder fills sha256 and bytes from the file.
struct BankAsset {
  std::string id;
  std::string path;
  std::string sha256;   // "" leaves "sha256" out
  int64_t bytes = -1;   // below 0 leaves "bytes" out
  std::string codec;    // "" leaves "codec" out
};

class BankFolder {
public:
  std::string id = "test.bank";
  std::string name = "Test Bank";
  std::string version = "1.0.0";
  std::string format = kBankManifestFormat;
  std::deque<BankAsset> assets;          // references stay valid as assets are added
  std::vector<std::string> instruments;  // JSON objects, written as they stand
  std::vector<std::string> kits;
  std::vector<std::string> presets;

  BankFolder() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/norva-bank-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  }
  ~BankFolder() {
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }
  BankFolder(const BankFolder &) = delete;
  BankFolder &operator=(const BankFolder &) = delete;

  // The folder; empty when it could not be made.
  const std::string &path() const { return root_; }
  std::string file(const std::string &relative) const { return root_ + "/" + relative; }

  // Writes a file under the folder, making its sub-folders.
  void write(const std::string &relative, const std::vector<uint8_t> &bytes) const {
    const std::filesystem::path full = file(relative);
    std::error_code ignored;
    std::filesystem::create_directories(full.parent_path(), ignored);
    std::ofstream(full, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  }
  void write(const std::string &relative, const std::string &text) const {
    write(relative, std::vector<uint8_t>(text.begin(), text.end()));
  }

  // Writes the file and adds its asset table entry with its size and digest.
  BankAsset &addAsset(const std::string &assetId, const std::string &relative, const std::vector<uint8_t> &bytes) {
    write(relative, bytes);
    return assets.emplace_back(BankAsset{assetId, relative, sha256HexOf(bytes), int64_t(bytes.size()), ""});
  }
  BankAsset &addWav(const std::string &assetId, const std::string &relative, const WavFormat &wav,
                    const std::vector<double> &interleaved) {
    return addAsset(assetId, relative, wavBytes(wav, interleaved));
  }

  // Adds {"id","name","document"} to instruments (or kits) and writes the
  // instrument document with the given "zones" value (JSON text).
  void addInstrument(const std::string &instrumentId, const std::string &instrumentName,
                     const std::string &document, const std::string &zones, bool kit = false) {
    (kit ? kits : instruments).push_back(entry(instrumentId, instrumentName, "document", document));
    write(document, std::string(R"({"format":")") + kInstrumentDocumentFormat + R"(","zones":)" + zones + "}");
  }

  // Adds a preset and writes its document with the given "params" value.
  void addPreset(const std::string &presetId, const std::string &presetName, const std::string &instrument,
                 const std::string &document, const std::string &params) {
    std::string object = entry(presetId, presetName, "document", document);
    object.pop_back();
    object += ",\"instrument\":";
    jsonAppendQuoted(object, instrument);
    presets.push_back(object + "}");
    write(document, R"({"params":)" + params + "}");
  }

  // Writes the manifest from the fields above and returns its text.
  std::string writeManifest() const {
    std::string out = "{\"format\":";
    jsonAppendQuoted(out, format);
    for (const auto &[key, value] : {std::pair{"id", &id}, {"name", &name}, {"version", &version}}) {
      out += ",\"" + std::string(key) + "\":";
      jsonAppendQuoted(out, *value);
    }
    out += ",\"assetTable\":[";
    for (const BankAsset &asset : assets) {
      if (&asset != &assets.front()) out += ',';
      std::string object = entry(asset.id, "", "path", asset.path);
      object.pop_back();
      if (!asset.sha256.empty()) (object += ",\"sha256\":"), jsonAppendQuoted(object, asset.sha256);
      if (asset.bytes >= 0) object += ",\"bytes\":" + std::to_string(asset.bytes);
      if (!asset.codec.empty()) (object += ",\"codec\":"), jsonAppendQuoted(object, asset.codec);
      out += object + "}";
    }
    out += "]";
    for (const auto &[key, list] : {std::pair{"instruments", &instruments}, {"kits", &kits}, {"presets", &presets}}) {
      out += ",\"" + std::string(key) + "\":[";
      for (size_t i = 0; i < list->size(); ++i) out += (i ? "," : "") + (*list)[i];
      out += "]";
    }
    out += "}";
    write(kBankManifestName, out);
    return out;
  }

private:
  // {"id":..., ["name":...,] "<key>":...}
  static std::string entry(const std::string &entryId, const std::string &entryName, const char *key,
                           const std::string &value) {
    std::string out = "{\"id\":";
    jsonAppendQuoted(out, entryId);
    if (!entryName.empty()) (out += ",\"name\":"), jsonAppendQuoted(out, entryName);
    out += ",\"" + std::string(key) + "\":";
    jsonAppendQuoted(out, value);
    return out + "}";
  }

  std::string root_;
};

} // namespace norva::test
