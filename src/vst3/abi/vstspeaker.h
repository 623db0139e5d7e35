// The speaker bits and arrangements the plug-in deals with.
#pragma once

#include "vst3/abi/vsttypes.h"

namespace Steinberg {
namespace Vst {

const Speaker kSpeakerL = 1 << 0;  // left
const Speaker kSpeakerR = 1 << 1;  // right
const Speaker kSpeakerC = 1 << 2;  // centre
const Speaker kSpeakerLfe = 1 << 3; // subbass
const Speaker kSpeakerM = 1 << 19; // mono: a bit of its own, not L|R

namespace SpeakerArr {

const SpeakerArrangement kEmpty = 0;
const SpeakerArrangement kMono = kSpeakerM;
const SpeakerArrangement kStereo = kSpeakerL | kSpeakerR;

} // namespace SpeakerArr
} // namespace Vst
} // namespace Steinberg
