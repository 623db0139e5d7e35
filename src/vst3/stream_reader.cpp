#include "vst3/stream_reader.h"

namespace norva {

bool readWholeStream(Steinberg::IBStream *stream, std::string &out) {
  using namespace Steinberg;
  constexpr int32 kPiece = 4096;
  if (stream == nullptr) return false;
  char piece[kPiece];
  for (;;) {
    int32 read = 0;
    if (stream->read(piece, kPiece, &read) != kResultOk || read < 1) break;
    out.append(piece, size_t(read < kPiece ? read : kPiece));
    if (read < kPiece) break;
  }
  return true;
}

} // namespace norva
