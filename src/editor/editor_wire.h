// The wire between the plug-in's view and the web view program it starts: a
// stream socket carrying frames of a 4-byte little-endian payload length, a
// 1-byte kind and the payload. The plug-in opens the page, hands it the
// controller's messages, resizes it, and closes it or parks it (the page out
// of the host's window, reloaded and waiting for the next open); the program
// passes on what the page posts, says when it has parked and when it cannot
// show the page.
//
// A stream that breaks the framing (an unknown kind, a payload over
// kEditorFrameMaxPayload, a payload on a kind that has none) is refused as a
// whole: neither side can find the next frame after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norva {

// The program's file name beside the plug-in's binary, and the descriptor
// its end of the socket arrives on.
inline constexpr const char *kWebViewProgramName = "tindrel-webview";
inline constexpr int kWebViewSocketFd = 3;

enum class EditorFrameKind : uint8_t {
  open = 1,        // plug-in to program: EditorOpenRequest
  deliver = 2,     // plug-in to program: one controller message
  resize = 3,      // plug-in to program: EditorResize
  close = 4,       // plug-in to program: no payload
  pageMessage = 5, // program to plug-in: one text the page posted
  failed = 6,      // program to plug-in: why it cannot show the page
  park = 7,        // plug-in to program: no payload
  parked = 8,      // program to plug-in: no payload
};

inline constexpr size_t kEditorFrameHeaderBytes = 5;
inline constexpr size_t kEditorFrameMaxPayload = size_t(8) << 20;

// A frame around payload, appended to out; false (out unchanged) for a
// payload over kEditorFrameMaxPayload.
bool appendEditorFrame(std::string &out, EditorFrameKind kind, std::string_view payload);

struct EditorFrame {
  EditorFrameKind kind = EditorFrameKind::close;
  std::string payload;
};

// Cuts a byte stream into frames, however it arrives in pieces.
class EditorFrameReader {
public:
  enum class Result { frame, needMore, refused };

  void feed(const char *bytes, size_t size);
  // The next whole frame; needMore until one has arrived; refused, for good,
  // once the stream broke the framing (error() says how).
  Result next(EditorFrame &frame);
  // Bytes of an unfinished frame are held: the stream ended inside a frame
  // when it ends now.
  bool midFrame() const { return buffered() > 0; }
  const char *error() const { return error_; }

private:
  size_t buffered() const { return buffer_.size() - consumed_; }
  Result refuse(const char *why);

  std::string buffer_;
  size_t consumed_ = 0;
  const char *error_ = nullptr;
};

// The open frame: the host's window, the size, the UI root.
struct EditorOpenRequest {
  uint64_t window = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::string root;
};
// 8 + 4 + 4 little-endian bytes, then the root's bytes.
std::string encodeEditorOpen(const EditorOpenRequest &request);
// False for a payload too short, a window of 0, a size outside the
// editor's bounds, an empty root or one with a NUL.
bool decodeEditorOpen(std::string_view payload, EditorOpenRequest &request);

struct EditorResize {
  int32_t width = 0;
  int32_t height = 0;
};
std::string encodeEditorResize(const EditorResize &size);
// False unless exactly 8 bytes of a size within the editor's bounds.
bool decodeEditorResize(std::string_view payload, EditorResize &size);

} // namespace norva
