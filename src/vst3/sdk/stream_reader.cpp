#include "vst3/sdk/stream_reader.h"

namespace norva {

bool readWholeStream(Steinberg::IBStream *stream, std::string &out) {
  using namespace Steinberg;
  constexpr int32 kPiece = 4096;
  if (stream == nullptr) return false;
  char piece[kPiece];
  // A short read is not the end: streams may deliver in smaller pieces. The
  // end is a read that fails or delivers nothing.
  for (;;) {
    int32 read = 0;
    if (stream->read(piece, kPiece, &read) != kResultOk || read < 1) break;
    out.append(piece, size_t(read < kPiece ? read : kPiece));
  }
  return true;
}

} // namespace norva
