// ProcessContext: transport and musical time of one block.
#pragma once

#include "vst3/abi/vsttypes.h"

namespace Steinberg {
namespace Vst {

struct FrameRate {
  enum FrameRateFlags { kPullDownRate = 1 << 0, kDropRate = 1 << 1 };

  uint32 framesPerSecond;
  uint32 flags;
};

struct Chord {
  uint8 keyNote;
  uint8 rootNote;
  int16 chordMask; // bit n: the interval of n + 1 semitones above the key note

  enum Masks { kChordMask = 0x0FFF, kReservedMask = 0xF000 };
};

struct ProcessContext {
  enum StatesAndFlags {
    kPlaying = 1 << 1,
    kCycleActive = 1 << 2,
    kRecording = 1 << 3,
    kSystemTimeValid = 1 << 8,
    kContTimeValid = 1 << 17,
    kProjectTimeMusicValid = 1 << 9,
    kBarPositionValid = 1 << 11,
    kCycleValid = 1 << 12,
    kTempoValid = 1 << 10,
    kTimeSigValid = 1 << 13,
    kChordValid = 1 << 18,
    kSmpteValid = 1 << 14,
    kClockValid = 1 << 15
  };

  uint32 state; // StatesAndFlags
  double sampleRate;
  TSamples projectTimeSamples;
  int64 systemTime; // nanoseconds
  TSamples continousTimeSamples;
  TQuarterNotes projectTimeMusic;
  TQuarterNotes barPositionMusic;
  TQuarterNotes cycleStartMusic;
  TQuarterNotes cycleEndMusic;
  double tempo; // beats per minute
  int32 timeSigNumerator;
  int32 timeSigDenominator;
  Chord chord;
  int32 smpteOffsetSubframes; // 1/80 of a frame
  FrameRate frameRate;
  int32 samplesToNextClock; // MIDI clock (24 per quarter note); may be negative
};

} // namespace Vst
} // namespace Steinberg
