#include "editor/editor_wire.h"

#include "editor/editor_page.h"

namespace norva {

namespace {

void appendLittleEndian(std::string &out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

uint64_t readLittleEndian(std::string_view bytes, size_t at, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) value |= uint64_t(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

bool knownKind(uint8_t kind) {
  return kind >= static_cast<uint8_t>(EditorFrameKind::open) && kind <= static_cast<uint8_t>(EditorFrameKind::parked);
}

bool takesNoPayload(uint8_t kind) {
  const auto known = static_cast<EditorFrameKind>(kind);
  return known == EditorFrameKind::close || known == EditorFrameKind::park || known == EditorFrameKind::parked;
}

bool sizeWithinBounds(int32_t width, int32_t height) {
  const EditorSize clamped = clampEditorSize(width, height);
  return clamped.width == width && clamped.height == height;
}

constexpr size_t kSizeBytes = 8;
constexpr size_t kOpenFixedBytes = 8 + kSizeBytes;

void appendSize(std::string &out, int32_t width, int32_t height) {
  appendLittleEndian(out, static_cast<uint32_t>(width), 4);
  appendLittleEndian(out, static_cast<uint32_t>(height), 4);
}

void readSize(std::string_view bytes, size_t at, int32_t &width, int32_t &height) {
  width = static_cast<int32_t>(static_cast<uint32_t>(readLittleEndian(bytes, at, 4)));
  height = static_cast<int32_t>(static_cast<uint32_t>(readLittleEndian(bytes, at + 4, 4)));
}

} // namespace

bool appendEditorFrame(std::string &out, EditorFrameKind kind, std::string_view payload) {
  if (payload.size() > kEditorFrameMaxPayload) return false;
  appendLittleEndian(out, payload.size(), 4);
  out += static_cast<char>(kind);
  out += payload;
  return true;
}

void EditorFrameReader::feed(const char *bytes, size_t size) {
  if (error_ != nullptr || size == 0) return;
  // What was read already is dropped once it is half the buffer.
  if (consumed_ > 0 && consumed_ * 2 >= buffer_.size()) {
    buffer_.erase(0, consumed_);
    consumed_ = 0;
  }
  buffer_.append(bytes, size);
}

EditorFrameReader::Result EditorFrameReader::refuse(const char *why) {
  error_ = why;
  buffer_.clear();
  buffer_.shrink_to_fit();
  consumed_ = 0;
  return Result::refused;
}

EditorFrameReader::Result EditorFrameReader::next(EditorFrame &frame) {
  if (error_ != nullptr) return Result::refused;
  if (buffered() < kEditorFrameHeaderBytes) return Result::needMore;
  const std::string_view held(buffer_.data() + consumed_, buffered());
  const uint64_t length = readLittleEndian(held, 0, 4);
  const auto kind = static_cast<uint8_t>(held[4]);
  if (!knownKind(kind)) return refuse("a frame of an unknown kind");
  if (length > kEditorFrameMaxPayload) return refuse("a frame longer than the limit");
  if (takesNoPayload(kind) && length != 0) return refuse("a payload on a frame that takes none");
  if (held.size() - kEditorFrameHeaderBytes < length) return Result::needMore;
  frame.kind = static_cast<EditorFrameKind>(kind);
  frame.payload.assign(held.substr(kEditorFrameHeaderBytes, size_t(length)));
  consumed_ += kEditorFrameHeaderBytes + size_t(length);
  if (consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  }
  return Result::frame;
}

std::string encodeEditorOpen(const EditorOpenRequest &request) {
  std::string out;
  appendLittleEndian(out, request.window, 8);
  appendSize(out, request.width, request.height);
  out += request.root;
  return out;
}

bool decodeEditorOpen(std::string_view payload, EditorOpenRequest &request) {
  if (payload.size() <= kOpenFixedBytes) return false;
  EditorOpenRequest decoded;
  decoded.window = readLittleEndian(payload, 0, 8);
  readSize(payload, 8, decoded.width, decoded.height);
  decoded.root.assign(payload.substr(kOpenFixedBytes));
  if (decoded.window == 0 || !sizeWithinBounds(decoded.width, decoded.height) ||
      decoded.root.find('\0') != std::string::npos) {
    return false;
  }
  request = std::move(decoded);
  return true;
}

std::string encodeEditorResize(const EditorResize &size) {
  std::string out;
  appendSize(out, size.width, size.height);
  return out;
}

bool decodeEditorResize(std::string_view payload, EditorResize &size) {
  if (payload.size() != kSizeBytes) return false;
  EditorResize decoded;
  readSize(payload, 0, decoded.width, decoded.height);
  if (!sizeWithinBounds(decoded.width, decoded.height)) return false;
  size = decoded;
  return true;
}

} // namespace norva
