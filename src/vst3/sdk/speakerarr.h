// Counting and locating speakers in an arrangement.
#pragma once

#include "vst3/abi/vstspeaker.h"

namespace Steinberg {
namespace Vst {
namespace SpeakerArr {

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
