// What the controller says about itself in the editor's hello: who it is
// (identity, with the facts of the editor bundle it ships), what diagnostics
// it offers, and the preset and bank it holds. Each writer appends one JSON
// object with no white space; appendDiagnosticHelloBlocks appends the four
// hello members in their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "diagnostics/host_facts.h"

namespace norva {

// The plug-in format a report speaks for. Values beyond the table are
// written as "offline".
enum class DiagnosticTarget : uint8_t { vst3 = 0, clap = 1, au = 2, standalone = 3, offline = 4 };
const char *diagnosticTargetName(DiagnosticTarget target);

// Module id, product, vendor and version texts; null texts are written empty.
struct PluginIdentityFacts {
  const char *moduleId = "";
  const char *name = "";
  const char *vendor = "";
  const char *version = "";
};

// The editor bundle's build facts, from its manifest. Each is empty when
// unknown.
struct UiBundleFacts {
  std::string buildTime;
  std::string sourceRevision;
  std::string sha256;

  bool empty() const { return buildTime.empty() && sourceRevision.empty() && sha256.empty(); }
};

// Room for each fact, as the manifest scanner counts it: a value is kept
// when it has at most capacity - 2 characters.
inline constexpr size_t kUiBuildTimeCapacity = 64;
inline constexpr size_t kUiSourceRevisionCapacity = 64;
inline constexpr size_t kUiSha256Capacity = 80;
// A larger manifest is not read at all.
inline constexpr size_t kUiManifestMaxBytes = 1048576;
// The editor's folder, below the bundle's Contents folder, and the files in
// it: the page, and the manifest with the build facts.
inline constexpr const char *kUiFolderRelativePath = "Resources/ui";
inline constexpr const char *kUiIndexFile = "index.html";
inline constexpr const char *kUiManifestFile = "manifest.json";

// The string value of a member of the manifest's top-level object, found by
// a scan that does not parse the whole text: out gets the characters up to
// the closing quote, or up to a backslash (an escape ends the value early).
// False, out empty, when the key is not a top-level member, its value is not
// a string, or the value is longer than capacity - 2 characters or
// unterminated.
bool uiManifestString(std::string_view text, std::string_view key, std::string &out, size_t capacity);
// The facts of the manifest at path; all empty when it cannot be read or
// is larger than kUiManifestMaxBytes.
UiBundleFacts readUiBundleFacts(const std::string &manifestPath);
// The editor folder beside a binary inside a bundle: two path components up
// from it (".../Contents/x86_64-linux/Tindrel.so" -> ".../Contents"), then
// kUiFolderRelativePath.
std::string uiFolderForImage(std::string_view imagePath);
// That folder's kUiManifestFile.
std::string uiManifestPathForImage(std::string_view imagePath);
// The editor folder beside the loaded binary that contains address: the
// image's uiFolderForImage, resolved to an absolute path without links, when
// it exists and is a directory; empty for a null address, an address in no
// loaded image, or no such folder. Looked up anew on each call.
std::string uiRootForImageAddress(const void *address);
// uiRootForImageAddress of this code's own binary.
std::string pluginUiRoot();
// The facts of the bundle this code was loaded from, read on first use and
// kept for the life of the process.
const UiBundleFacts &uiBundleFacts();

// {"moduleId":..,"name":..,"vendor":..,"version":..,"hostClass":"effect",
// "target":..,"sdkVersion":"0.0.0","build":{..}[,"ui":{..}],"ratePolicy":{..},
// "state":{..},"ports":[..]}; "ui" only when a fact is known.
void writeDiagnosticIdentityJson(std::string &out, const PluginIdentityFacts &plugin, DiagnosticTarget target,
                                 const UiBundleFacts &ui);
// The feeds, commands and feed rate on offer: {"feeds":[],"commands":[],"maxFeedHz":0}.
void writeDiagnosticCapabilitiesJson(std::string &out);

// A bank in use, as the diagnostics describe it. Texts are kept within the
// lengths below (cut at a character boundary by setCutText); numbers
// below 0 are unknown and left out.
inline constexpr size_t kBankFactIdChars = 127;
inline constexpr size_t kBankFactNameChars = 127;
inline constexpr size_t kBankFactKindChars = 15;
inline constexpr size_t kBankFactVersionChars = 31;
inline constexpr size_t kBankFactSha256Chars = 64;
inline constexpr size_t kBankFactSourceChars = 23;
inline constexpr size_t kBankFactEntryIdChars = 98;

struct BankFacts {
  int32_t index = -1;
  std::string id, name, kind, version, sha256, source, entryId;
  int32_t zoneCount = -1;
  int32_t roundRobinGroups = -1;
  int32_t chokeGroups = -1;
  int32_t velocityLayers = -1;
  int32_t padCount = -1;
};

// {"id":..} then the texts that are not empty and the numbers not below 0.
void writeDiagnosticBankJson(std::string &out, const BankFacts &bank);

inline constexpr size_t kPresetIdChars = 95;
inline constexpr size_t kPresetNameChars = 95;

// The preset facts the controller holds.
struct PresetStateFacts {
  uint32_t factoryCount = 0;
  std::string currentId;    // at most kPresetIdChars
  std::string currentName;  // at most kPresetNameChars
  bool dirty = false;
  bool userPresetsSupported = false;
  int64_t lastStateBytes = -1;  // size of the last state document written or read; -1 unknown
  bool bankPresent = false;     // bank holds a bank's facts
  BankFacts bank;
};

// {"factoryCount":..[,"currentId":..][,"currentName":..],"dirty":..,
// "userPresetsSupported":..[,"lastStateBytes":..][,"bank":{..}]}; the bank
// only when present with an id.
void writeDiagnosticPresetStateJson(std::string &out, const PresetStateFacts &preset);

// Replaces field with text cut to at most maxChars bytes, never inside a
// UTF-8 sequence.
void setCutText(std::string &field, std::string_view text, size_t maxChars);

// ,"identity":..[,"host":..],"diagnostics":..,"presetState":.. ; the host
// object only when its sample rate is above 0. The identity carries
// uiBundleFacts().
void appendDiagnosticHelloBlocks(std::string &out, const PluginIdentityFacts &plugin, DiagnosticTarget target,
                                 const HostFacts &host, const PresetStateFacts &preset);

} // namespace norva
