// The editor page as the web view shows it: the private URL scheme and its
// start address, named by a hash of the UI root; the files it serves from
// the root, with their MIME types; the script the page gets at document
// start and the script that hands it one controller message; and the sizes
// the view accepts. Plain C++ with no web view in it: the plug-in's view and
// the web view program both build on it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace norva {

// The URL scheme the page is served under, and the name of the script
// message channel the page posts its messages to.
inline constexpr const char *kUiScheme = "norva-ui";
inline constexpr const char *kUiMessageHandler = "norva";
// Every response declares this text encoding.
inline constexpr const char *kUiTextEncoding = "utf-8";
// The type of a file whose extension is not in the table.
inline constexpr const char *kUiFallbackMimeType = "application/octet-stream";

// The script injected at document start in the main frame: it gives the page
// window.norvaHost with postMessage, onMessage and _deliver.
extern const char kUiInjectedScript[];
// A controller message reaches the page as prefix + message + suffix.
inline constexpr std::string_view kUiDeliveryPrefix = "window.norvaHost && window.norvaHost._deliver(";
inline constexpr std::string_view kUiDeliverySuffix = ");";

// The hash that names a UI root in the start address: FNV-1a over the
// path's bytes, from this start value and with this prime (modulo 2^64).
inline constexpr uint64_t kUiRootHashStart = 0x14650fb0739d0383ULL;
inline constexpr uint64_t kUiRootHashPrime = 0x100000001b3ULL;

// The MIME type of a file by its lower-cased extension (the text after the
// last '.' of the last path component); kUiFallbackMimeType for any other.
const char *uiMimeType(std::string_view path);
// uiMimeType with the text encoding: "text/css; charset=utf-8".
std::string uiContentType(std::string_view path);

uint64_t uiRootHash(std::string_view rootPath);
// "norva-ui://bundle-<16 lower-case hex digits of the hash>/index.html".
std::string uiStartUrl(std::string_view rootPath);
// The script that hands text to the page's message handlers.
std::string uiDeliveryScript(std::string_view text);

// The file a request path names inside root: percent escapes decoded, an
// empty path or "/" standing for "/index.html". False for a path with a bad
// escape or a NUL, and for a file that does not exist, is not a regular
// file, or whose real location (every link resolved) is not inside root's
// real location; file is then untouched.
bool resolveUiRequest(const std::string &root, std::string_view requestPath, std::string &file);

// The sizes the editor accepts, and the one it opens with.
inline constexpr int32_t kEditorMinWidth = 620;
inline constexpr int32_t kEditorMaxWidth = 1600;
inline constexpr int32_t kEditorMinHeight = 420;
inline constexpr int32_t kEditorMaxHeight = 1100;
inline constexpr int32_t kEditorInitialWidth = 1120;
inline constexpr int32_t kEditorInitialHeight = 760;

struct EditorSize {
  int32_t width = 0;
  int32_t height = 0;
};
// Each side held within its bounds (the upper bound first, then the lower).
EditorSize clampEditorSize(int32_t width, int32_t height);

} // namespace norva
