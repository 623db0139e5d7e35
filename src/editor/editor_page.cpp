#include "editor/editor_page.h"

#include <algorithm>
#include <cstdio>

#include <sys/stat.h>

#include "diagnostics/diagnostic_reports.h"
#include "platform/files.h"

namespace norva {

// One line in the page's eyes; split here only where it has two spaces.
const char kUiInjectedScript[] =
    "(function () {"
    "  if (window.norvaHost) { return; }"
    "  var handlers = [];"
    "  window.norvaHost = {"
    "    postMessage: function (message) {"
    "      window.webkit.messageHandlers.norva.postMessage(JSON.stringify(message));"
    "    },"
    "    onMessage: function (handler) { handlers.push(handler); },"
    "    _deliver: function (message) {"
    "      for (var i = 0; i < handlers.length; i += 1) {"
    "        try { handlers[i](message); } catch (error) { console.error(error); }"
    "      }"
    "    }"
    "  };"
    "})();";

namespace {

struct MimeRow {
  std::string_view extension;
  const char *type;
};

constexpr MimeRow kMimeTable[] = {
    {"css", "text/css"},         {"gif", "image/gif"},
    {"htm", "text/html"},        {"html", "text/html"},
    {"ico", "image/x-icon"},     {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},       {"js", "text/javascript"},
    {"json", "application/json"}, {"map", "application/json"},
    {"mjs", "text/javascript"},  {"png", "image/png"},
    {"svg", "image/svg+xml"},    {"ttf", "font/ttf"},
    {"txt", "text/plain"},       {"wasm", "application/wasm"},
    {"woff", "font/woff"},       {"woff2", "font/woff2"},
};
// Longer than every extension in the table.
constexpr size_t kLongestExtension = 5;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path with its %XX escapes decoded; false for a bad escape or a NUL.
bool decodePath(std::string_view path, std::string &out) {
  out.clear();
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == '%') {
      const int high = i + 2 < path.size() ? hexDigit(path[i + 1]) : -1;
      const int low = high >= 0 ? hexDigit(path[i + 2]) : -1;
      if (low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return false;
    out += c;
  }
  return true;
}

} // namespace

const char *uiMimeType(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return kUiFallbackMimeType;
  const std::string_view extension = name.substr(dot + 1);
  if (extension.empty() || extension.size() > kLongestExtension) return kUiFallbackMimeType;
  char lower[kLongestExtension];
  for (size_t i = 0; i < extension.size(); ++i) {
    const char c = extension[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view key(lower, extension.size());
  for (const MimeRow &row : kMimeTable) {
    if (row.extension == key) return row.type;
  }
  return kUiFallbackMimeType;
}

std::string uiContentType(std::string_view path) {
  std::string type = uiMimeType(path);
  type += "; charset=";
  type += kUiTextEncoding;
  return type;
}

uint64_t uiRootHash(std::string_view rootPath) {
  uint64_t hash = kUiRootHashStart;
  for (const char c : rootPath) hash = (hash ^ static_cast<unsigned char>(c)) * kUiRootHashPrime;
  return hash;
}

std::string uiStartUrl(std::string_view rootPath) {
  char host[40];
  std::snprintf(host, sizeof host, "bundle-%016llx", static_cast<unsigned long long>(uiRootHash(rootPath)));
  std::string url = kUiScheme;
  url += "://";
  url += host;
  url += '/';
  url += kUiIndexFile;
  return url;
}

std::string uiDeliveryScript(std::string_view text) {
  std::string script;
  script.reserve(kUiDeliveryPrefix.size() + text.size() + kUiDeliverySuffix.size());
  script += kUiDeliveryPrefix;
  script += text;
  script += kUiDeliverySuffix;
  return script;
}

bool resolveUiRequest(const std::string &root, std::string_view requestPath, std::string &file) {
  std::string path;
  if (root.empty() || !decodePath(requestPath, path)) return false;
  if (path.empty() || path == "/") path = std::string("/") + kUiIndexFile;
  if (path.front() != '/') path.insert(path.begin(), '/');
  std::string real;
  struct stat status {};
  if (!realPathInside(root, root + path, real) || ::stat(real.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return false;
  file = std::move(real);
  return true;
}

EditorSize clampEditorSize(int32_t width, int32_t height) {
  return {std::max(std::min(width, kEditorMaxWidth), kEditorMinWidth),
          std::max(std::min(height, kEditorMaxHeight), kEditorMinHeight)};
}

} // namespace norva
