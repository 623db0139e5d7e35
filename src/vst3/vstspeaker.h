// The speaker bits and arrangements the plug-in deals with.
#pragma once

#include "vst3/vsttypes.h"

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

// Number of speakers (set bits) in an arrangement.
inline int32 getChannelCount(SpeakerArrangement arr) {
  int32 count = 0;
  for (; arr; arr &= arr - 1)
    ++count;
  return count;
}

// Position of speaker among the speakers of arr, or -1 when it is not part
// of the arrangement.
inline int32 getSpeakerIndex(Speaker speaker, SpeakerArrangement arr) {
  if ((arr & speaker) == 0 || (speaker & (speaker - 1)) != 0)
    return -1;
  return getChannelCount(arr & (speaker - 1));
}

} // namespace SpeakerArr
} // namespace Vst
} // namespace Steinberg
