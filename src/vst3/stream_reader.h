// Reading a host stream whole.
#pragma once

#include <string>

#include "vst3/ibstream.h"

namespace norva {

// Reads the stream in 4096-byte pieces, appending to out, until a read fails,
// delivers nothing or delivers less than a full piece. There is no size
// limit. False only when the stream is null.
bool readWholeStream(Steinberg::IBStream *stream, std::string &out);

} // namespace norva
