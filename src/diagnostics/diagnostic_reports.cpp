#include "diagnostics/diagnostic_reports.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <utility>

#include "formats/json.h"

namespace norva {
namespace {

constexpr const char *kTargetNames[] = {"vst3", "clap", "au", "standalone", "offline"};
constexpr DiagnosticTarget kTargetWrittenForUnknown = DiagnosticTarget::offline;

// Fixed facts of the identity report.
constexpr const char *kHostClass = "effect";
constexpr const char *kSdkVersion = "0.0.0";
constexpr const char *kBuildBlock = R"({"mode":"production","configuration":"Release"})";
constexpr const char *kRatePolicyBlock = R"({"mode":"host-native"})";
constexpr int kStateFormatVersion = 1;
constexpr int kStateMaxBytes = 65536;
constexpr const char *kPortsBlock = R"([{"id":"midi-in","kind":"midi","direction":"input","busRole":"main"}])";

constexpr size_t kManifestReadPiece = 4096;

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

void appendMember(std::string &out, const char *key, std::string_view value) {
  jsonAppendQuoted(out, key);
  out += ':';
  jsonAppendQuoted(out, value);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

size_t skipSpace(std::string_view text, size_t i) {
  while (i < text.size() && isSpace(text[i])) ++i;
  return i;
}

// The member value after a matched key whose closing quote is at i - 1:
// optional space, a colon, optional space and a string. False when any of
// it is missing.
bool takeStringValue(std::string_view text, size_t i, std::string &out, size_t capacity) {
  i = skipSpace(text, i);
  if (i >= text.size() || text[i] != ':') return false;
  i = skipSpace(text, i + 1);
  if (i >= text.size() || text[i] != '"') return false;
  const size_t limit = capacity >= 2 ? capacity - 2 : 0;
  std::string value;
  for (++i; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' || c == '\\') {
      out = std::move(value);
      return true;
    }
    if (value.size() == limit) return false;
    value += c;
  }
  return false;  // the text ended inside the value
}

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The file's bytes, when it is a regular file of at most maxBytes.
bool readSmallFile(const std::string &path, size_t maxBytes, std::string &out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  char piece[kManifestReadPiece];
  while (ok) {
    const ssize_t got = ::read(fd, piece, sizeof piece);
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    out.append(piece, static_cast<size_t>(got));
    ok = out.size() <= maxBytes;
  }
  ::close(fd);
  if (!ok) out.clear();
  return ok;
}

// Where this code was loaded from; empty when the loader cannot say.
std::string ownImagePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&ownImagePath), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

}  // namespace

const char *diagnosticTargetName(DiagnosticTarget target) {
  const auto index = static_cast<size_t>(target);
  return index < std::size(kTargetNames) ? kTargetNames[index]
                                         : kTargetNames[static_cast<size_t>(kTargetWrittenForUnknown)];
}

bool uiManifestString(std::string_view text, std::string_view key, std::string &out, size_t capacity) {
  out.clear();
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      // A string starts here: a member name of the top-level object is
      // compared with the key, then the whole string is stepped over.
      if (depth == 1 && text.substr(i + 1, key.size()) == key && i + 1 + key.size() < text.size() &&
          text[i + 1 + key.size()] == '"') {
        const size_t afterName = i + key.size() + 2;
        const size_t next = skipSpace(text, afterName);
        if (next < text.size() && text[next] == ':') return takeStringValue(text, afterName, out, capacity);
      }
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;
      }
      continue;
    }
    if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (depth == 0) return false;
      --depth;
    }
  }
  return false;
}

UiBundleFacts readUiBundleFacts(const std::string &manifestPath) {
  UiBundleFacts facts;
  std::string text;
  if (!readSmallFile(manifestPath, kUiManifestMaxBytes, text)) return facts;
  uiManifestString(text, "buildTime", facts.buildTime, kUiBuildTimeCapacity);
  uiManifestString(text, "sourceRevision", facts.sourceRevision, kUiSourceRevisionCapacity);
  uiManifestString(text, "sha256", facts.sha256, kUiSha256Capacity);
  return facts;
}

std::string uiFolderForImage(std::string_view imagePath) {
  std::string_view folder = imagePath;
  for (int up = 0; up < 2; ++up) {
    const size_t slash = folder.rfind('/');
    folder = slash == std::string_view::npos ? std::string_view() : folder.substr(0, slash);
  }
  std::string path(folder);
  path += '/';
  path += kUiFolderRelativePath;
  return path;
}

std::string uiManifestPathForImage(std::string_view imagePath) {
  return uiFolderForImage(imagePath) + '/' + kUiManifestFile;
}

std::string uiRootForImageAddress(const void *address) {
  if (address == nullptr) return {};
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') return {};
  const std::string folder = uiFolderForImage(info.dli_fname);
  char *resolved = ::realpath(folder.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string root(resolved);
  std::free(resolved);
  struct stat status {};
  if (::stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return {};
  return root;
}

std::string pluginUiRoot() { return uiRootForImageAddress(reinterpret_cast<const void *>(&ownImagePath)); }

const UiBundleFacts &uiBundleFacts() {
  static const UiBundleFacts facts = [] {
    const std::string image = ownImagePath();
    return image.empty() ? UiBundleFacts() : readUiBundleFacts(uiManifestPathForImage(image));
  }();
  return facts;
}

void writeDiagnosticIdentityJson(std::string &out, const PluginIdentityFacts &plugin, DiagnosticTarget target,
                                 const UiBundleFacts &ui) {
  out += '{';
  appendMember(out, "moduleId", orEmpty(plugin.moduleId));
  out += ',';
  appendMember(out, "name", orEmpty(plugin.name));
  out += ',';
  appendMember(out, "vendor", orEmpty(plugin.vendor));
  out += ',';
  appendMember(out, "version", orEmpty(plugin.version));
  out += ',';
  appendMember(out, "hostClass", kHostClass);
  out += ',';
  appendMember(out, "target", diagnosticTargetName(target));
  out += ',';
  appendMember(out, "sdkVersion", kSdkVersion);
  out += ",\"build\":";
  out += kBuildBlock;
  if (!ui.empty()) {
    out += ",\"ui\":{";
    bool first = true;
    for (const auto &[key, value] : {std::pair<const char *, const std::string *>{"buildTime", &ui.buildTime},
                                     {"sourceRevision", &ui.sourceRevision},
                                     {"sha256", &ui.sha256}}) {
      if (value->empty()) continue;
      if (!first) out += ',';
      appendMember(out, key, *value);
      first = false;
    }
    out += '}';
  }
  out += ",\"ratePolicy\":";
  out += kRatePolicyBlock;
  out += ",\"state\":{\"version\":";
  jsonAppendNumber(out, kStateFormatVersion);
  out += ",\"maxBytes\":";
  jsonAppendNumber(out, kStateMaxBytes);
  out += "},\"ports\":";
  out += kPortsBlock;
  out += '}';
}

void writeDiagnosticCapabilitiesJson(std::string &out) {
  out += "{\"feeds\":[],\"commands\":[],\"maxFeedHz\":";
  jsonAppendNumber(out, 0);
  out += '}';
}

void writeDiagnosticBankJson(std::string &out, const BankFacts &bank) {
  out += '{';
  appendMember(out, "id", bank.id);
  for (const auto &[key, value] : {std::pair<const char *, const std::string *>{"name", &bank.name},
                                   {"kind", &bank.kind},
                                   {"version", &bank.version},
                                   {"sha256", &bank.sha256},
                                   {"source", &bank.source},
                                   {"entryId", &bank.entryId}}) {
    if (value->empty()) continue;
    out += ',';
    appendMember(out, key, *value);
  }
  for (const auto &[key, value] : {std::pair<const char *, int32_t>{"index", bank.index},
                                   {"zoneCount", bank.zoneCount},
                                   {"roundRobinGroups", bank.roundRobinGroups},
                                   {"chokeGroups", bank.chokeGroups},
                                   {"velocityLayers", bank.velocityLayers},
                                   {"padCount", bank.padCount}}) {
    if (value < 0) continue;
    out += ',';
    jsonAppendQuoted(out, key);
    out += ':';
    jsonAppendNumber(out, value);
  }
  out += '}';
}

void writeDiagnosticPresetStateJson(std::string &out, const PresetStateFacts &preset) {
  out += "{\"factoryCount\":";
  jsonAppendNumber(out, preset.factoryCount);
  if (!preset.currentId.empty()) {
    out += ',';
    appendMember(out, "currentId", preset.currentId);
  }
  if (!preset.currentName.empty()) {
    out += ',';
    appendMember(out, "currentName", preset.currentName);
  }
  out += preset.dirty ? ",\"dirty\":true" : ",\"dirty\":false";
  out += preset.userPresetsSupported ? ",\"userPresetsSupported\":true" : ",\"userPresetsSupported\":false";
  if (preset.lastStateBytes >= 0) {
    out += ",\"lastStateBytes\":";
    jsonAppendNumber(out, static_cast<double>(preset.lastStateBytes));
  }
  if (preset.bankPresent && !preset.bank.id.empty()) {
    out += ",\"bank\":";
    writeDiagnosticBankJson(out, preset.bank);
  }
  out += '}';
}

void setCutText(std::string &field, std::string_view text, size_t maxChars) {
  size_t length = text.size();
  if (length > maxChars) {
    length = maxChars;
    for (int back = 0; back < 3 && length > 0 && isUtf8Continuation(text[length]); ++back) --length;
  }
  field.assign(text.data(), length);
}

void appendDiagnosticHelloBlocks(std::string &out, const PluginIdentityFacts &plugin, DiagnosticTarget target,
                                 const HostFacts &host, const PresetStateFacts &preset) {
  out += ",\"identity\":";
  writeDiagnosticIdentityJson(out, plugin, target, uiBundleFacts());
  if (host.sampleRate > 0) {
    out += ",\"host\":";
    writeDiagnosticHostJson(out, host);
  }
  out += ",\"diagnostics\":";
  writeDiagnosticCapabilitiesJson(out);
  out += ",\"presetState\":";
  writeDiagnosticPresetStateJson(out, preset);
}

}  // namespace norva
