// The wire between the editor's view and its web view program, from
// arbitrary bytes cut into arbitrary pieces: every frame that comes out is
// within its limits, frames written again read back the same in one piece,
// a refused stream stays refused, and open and resize payloads that read
// write back to the same bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "editor/editor_page.h"
#include "editor/editor_wire.h"
#include "fuzz_support.h"

namespace {

using namespace norva;
using norva::fuzz::fail;

void checkPayload(const EditorFrame &frame) {
  EditorOpenRequest open;
  if (decodeEditorOpen(frame.payload, open)) {
    const EditorSize size = clampEditorSize(open.width, open.height);
    if (open.window == 0 || size.width != open.width || size.height != open.height || open.root.empty())
      fail("an open request out of bounds read");
    if (encodeEditorOpen(open) != frame.payload) fail("an open request does not write back");
  }
  EditorResize resize;
  if (decodeEditorResize(frame.payload, resize) && encodeEditorResize(resize) != frame.payload)
    fail("a resize does not write back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the piece size the stream arrives in.
  const size_t piece = size_t(data[0]) + 1;
  const char *bytes = reinterpret_cast<const char *>(data + 1);
  const size_t length = size - 1;

  EditorFrameReader reader;
  std::vector<EditorFrame> frames;
  bool refused = false;
  for (size_t at = 0; at < length && !refused; at += piece) {
    reader.feed(bytes + at, std::min(piece, length - at));
    EditorFrame frame;
    for (;;) {
      const EditorFrameReader::Result result = reader.next(frame);
      if (result == EditorFrameReader::Result::needMore) break;
      if (result == EditorFrameReader::Result::refused) {
        if (reader.error() == nullptr) fail("refused without a reason");
        refused = true;
        break;
      }
      if (frame.payload.size() > kEditorFrameMaxPayload) fail("a payload over the limit");
      checkPayload(frame);
      frames.push_back(frame);
    }
  }
  if (refused) {
    EditorFrame frame;
    reader.feed("\0\0\0\0\4", 5);
    if (reader.next(frame) != EditorFrameReader::Result::refused) fail("a refused stream read on");
  }

  std::string again;
  for (const EditorFrame &frame : frames) {
    if (!appendEditorFrame(again, frame.kind, frame.payload)) fail("a frame read does not write");
  }
  EditorFrameReader second;
  second.feed(again.data(), again.size());
  for (const EditorFrame &expected : frames) {
    EditorFrame frame;
    if (second.next(frame) != EditorFrameReader::Result::frame || frame.kind != expected.kind ||
        frame.payload != expected.payload)
      fail("frames written again read back otherwise");
  }
  if (second.midFrame()) fail("bytes left over");
  return 0;
}
