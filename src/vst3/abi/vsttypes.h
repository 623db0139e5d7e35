// Common VST types: texts, identifiers, sample types, speaker bit sets.
#pragma once

#include "vst3/abi/ftypes.h"

// SDK version announced in the class records of this plug-in.
#ifndef kVstVersionString
#define kVstVersionString "VST 3.8.1"
#endif
#define kVstVersionMajor 3
#define kVstVersionMinor 8
#define kVstVersionSub 1
#define VST_VERSION ((kVstVersionMajor << 16) | (kVstVersionMinor << 8) | kVstVersionSub)

namespace Steinberg {
namespace Vst {

typedef char16 TChar;          // UTF-16 code unit
typedef TChar String128[128];  // fixed 128-unit UTF-16 text
typedef const char8 *CString;

typedef int32 MediaType;
typedef int32 BusDirection;
typedef int32 BusType;
typedef int32 IoMode;
typedef int32 UnitID;
typedef double ParamValue; // normalised parameter value, 0..1
typedef uint32 ParamID;    // 0..0x7FFFFFFF for plug-ins; the rest is the host's
typedef int32 ProgramListID;
typedef int16 CtrlNumber;  // MIDI controller number (see ControllerNumbers)
typedef double TQuarterNotes;
typedef int64 TSamples;

static const ParamID kNoParamId = 0xFFFFFFFF;
static const ParamID kMinParamId = 0;
static const ParamID kMaxParamId = 0x7FFFFFFF;

typedef float Sample32;
typedef double Sample64;
typedef double SampleRate;

typedef uint64 SpeakerArrangement; // bit set of speakers
typedef uint64 Speaker;            // one speaker bit

static constexpr const FIDString SDKVersionString = kVstVersionString;
static constexpr const uint32 SDKVersionMajor = kVstVersionMajor;
static constexpr const uint32 SDKVersionMinor = kVstVersionMinor;
static constexpr const uint32 SDKVersionSub = kVstVersionSub;
static constexpr const uint32 SDKVersion =
    (SDKVersionMajor << 16) | (SDKVersionMinor << 8) | SDKVersionSub;

} // namespace Vst
} // namespace Steinberg
