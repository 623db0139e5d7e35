// Reading a host stream whole.
#pragma once

#include <string>

#include "vst3/abi/ibstream.h"

namespace norva {

// Reads the stream in pieces of up to 4096 bytes, appending to out, until a
// read fails or delivers nothing. There is no size limit. False only when the
// stream is null.
bool readWholeStream(Steinberg::IBStream *stream, std::string &out);

} // namespace norva
