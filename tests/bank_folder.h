// Bank folders for tests, built on disk in a temporary folder that goes away
// with the builder: WAV assets in any sample format, instrument and preset
// documents, and a manifest whose asset table carries the sizes and digests
// of the files as written. The manifest's fields stay editable until
// writeManifest(), so a test can break exactly one thing.
#pragma once

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "banks/runtime_bank.h"
#include "formats/json.h"

namespace norva::test {

// tag 1 integer PCM, 3 IEEE float; extensible writes the 40-byte "fmt " chunk
// (tag 65534, the real tag in the sub-format).
struct WavFormat {
  uint16_t tag = 1, bits = 16, channels = 1;
  uint32_t sampleRate = 48000;
  bool extensible = false;
};
inline constexpr WavFormat kPcm16Mono{1, 16, 1, 48000};
inline constexpr WavFormat kPcm24Stereo{1, 24, 2, 44100};
inline constexpr WavFormat kFloat32Mono{3, 32, 1, 96000};

// RIFF/WAVE bytes: "fmt " (from byte 12) then "data" with the interleaved
// samples (-1..1; integer PCM scaled by 2^(bits-1), rounded, clamped, 8-bit
// unsigned) as the file's last bytes, then a pad byte after an odd size.
inline std::vector<uint8_t> wavBytes(const WavFormat &f, const std::vector<double> &interleaved) {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  const auto put = [&out](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
  };
  const uint32_t width = f.bits / 8;
  put(f.extensible ? 40 : 16, 4), put(f.extensible ? 65534 : f.tag, 2), put(f.channels, 2), put(f.sampleRate, 4);
  put(f.sampleRate * f.channels * width, 4), put(f.channels * width, 2), put(f.bits, 2);
  if (f.extensible) put(22, 2), put(f.bits, 2), put(0, 4), put(f.tag, 2), put(0x0080001000000000ull, 8), put(0x719B3800AA00, 6);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put(interleaved.size() * width, 4);
  for (double value : interleaved) {
    const float single = float(value);
    uint32_t bits = 0;
    std::memcpy(&bits, &single, 4);
    const double full = std::ldexp(1.0, f.bits - 1);
    const double scaled = std::fmin(std::fmax(std::round(value * full), -full), full - 1) + (f.bits == 8 ? 128 : 0);
    put(f.tag == 3 ? bits : uint64_t(int64_t(scaled)), int(width));
  }
  if (interleaved.size() * width % 2 == 1) out.push_back(0);
  for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t((out.size() - 8) >> (8 * i));
  return out;
}

inline std::string quotedJson(const std::string &text) {
  std::string out;
  jsonAppendQuoted(out, text);
  return out;
}

// {"key":"value",...} with the values quoted; `more` (JSON) goes before the brace.
inline std::string textObject(std::initializer_list<std::pair<const char *, std::string>> members,
                              const std::string &more = "") {
  std::string out;
  for (const auto &[key, value] : members) out += (out.empty() ? "{" : ",") + quotedJson(key) + ":" + quotedJson(value);
  return out + more + "}";
}

// An instrument document ("format" and "zones") with these zones (JSON).
inline std::string instrumentDocument(const std::string &zones) {
  return textObject({{"format", kInstrumentDocumentFormat}}, ",\"zones\":" + zones);
}

// One asset table entry; added assets carry their file's digest and size.
struct BankAsset {
  std::string id, path;
  std::string sha256; // "" leaves "sha256" out
  int64_t bytes = -1; // below 0 leaves "bytes" out
  std::string codec;  // "" leaves "codec" out
};

class BankFolder {
public:
  std::string id = "test.bank", name = "Test Bank", version = "1.0.0", format = kBankManifestFormat;
  std::deque<BankAsset> assets;                      // references stay valid as assets are added
  std::vector<std::string> instruments, kits, presets; // JSON objects, written as they stand

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

  const std::string &path() const { return root_; } // empty when it could not be made
  std::string file(const std::string &relative) const { return root_ + "/" + relative; }

  // Writes a file under the folder, making its sub-folders.
  void write(const std::string &relative, const std::string &bytes) const {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file(relative)).parent_path(), ignored);
    std::ofstream(file(relative), std::ios::binary) << bytes;
  }
  void write(const std::string &relative, const std::vector<uint8_t> &bytes) const {
    write(relative, std::string(bytes.begin(), bytes.end()));
  }

  BankAsset &addAsset(const std::string &assetId, const std::string &relative, const std::vector<uint8_t> &bytes) {
    write(relative, bytes);
    return assets.emplace_back(BankAsset{assetId, relative, sha256Hex(bytes.data(), bytes.size()), int64_t(bytes.size()), ""});
  }
  BankAsset &addWav(const std::string &assetId, const std::string &relative, const WavFormat &format,
                    const std::vector<double> &interleaved) {
    return addAsset(assetId, relative, wavBytes(format, interleaved));
  }

  // Lists the instrument (or kit) and writes its document with these zones (JSON).
  void addInstrument(const std::string &instrumentId, const std::string &instrumentName,
                     const std::string &document, const std::string &zones, bool kit = false) {
    (kit ? kits : instruments).push_back(textObject({{"id", instrumentId}, {"name", instrumentName}, {"document", document}}));
    write(document, instrumentDocument(zones));
  }

  // Lists the preset and writes its document with these params (JSON).
  void addPreset(const std::string &presetId, const std::string &presetName, const std::string &instrument,
                 const std::string &document, const std::string &params) {
    presets.push_back(textObject({{"id", presetId}, {"name", presetName}, {"instrument", instrument}, {"document", document}}));
    write(document, "{\"params\":" + params + "}");
  }

  // Writes the manifest from the fields above and returns its text.
  std::string writeManifest() const {
    std::string lists = ",\"assetTable\":[";
    for (const BankAsset &a : assets)
      lists += (&a == &assets.front() ? "" : ",") +
               textObject({{"id", a.id}, {"path", a.path}},
                          (a.sha256.empty() ? "" : ",\"sha256\":" + quotedJson(a.sha256)) +
                              (a.bytes < 0 ? "" : ",\"bytes\":" + std::to_string(a.bytes)) +
                              (a.codec.empty() ? "" : ",\"codec\":" + quotedJson(a.codec)));
    for (const auto &[key, list] : {std::pair{"instruments", &instruments}, {"kits", &kits}, {"presets", &presets}}) {
      lists += "],\"" + std::string(key) + "\":[";
      for (const std::string &entry : *list) lists += (&entry == &list->front() ? "" : ",") + entry;
    }
    const std::string out = textObject({{"format", format}, {"id", id}, {"name", name}, {"version", version}}, lists + "]");
    write(kBankManifestName, out);
    return out;
  }

private:
  std::string root_;
};

} // namespace norva::test
