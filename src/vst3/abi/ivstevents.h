// Event and IEventList: the note and controller events of a block.
#pragma once

#include "vst3/abi/funknown.h"
#include "vst3/abi/ivstnoteexpression.h"
#include "vst3/abi/ivstprocesscontext.h"

namespace Steinberg {
namespace Vst {

struct NoteOnEvent {
  int16 channel;
  int16 pitch;    // 0..127
  float tuning;   // cents
  float velocity; // 0..1
  int32 length;   // optional, in frames; a note-off follows in any case
  int32 noteId;   // -1 when not available
};

struct NoteOffEvent {
  int16 channel;
  int16 pitch;
  float velocity;
  int32 noteId;
  float tuning;
};

struct DataEvent {
  uint32 size;
  uint32 type; // DataTypes
  const uint8 *bytes;

  enum DataTypes { kMidiSysEx = 0 };
};

struct PolyPressureEvent {
  int16 channel;
  int16 pitch;
  float pressure;
  int32 noteId;
};

struct ChordEvent {
  int16 root;
  int16 bassNote;
  int16 mask;
  uint16 textLen;
  const TChar *text;
};

struct ScaleEvent {
  int16 root;
  int16 mask;
  uint16 textLen;
  const TChar *text;
};

// A MIDI controller (or program change, pressure, ...) sent on an output
// event bus.
struct LegacyMIDICCOutEvent {
  uint8 controlNumber; // ControllerNumbers
  int8 channel;
  int8 value;
  int8 value2;
};

struct Event {
  int32 busIndex;
  int32 sampleOffset; // frames from the start of the block
  TQuarterNotes ppqPosition;
  uint16 flags; // EventFlags

  enum EventFlags {
    kIsLive = 1 << 0,
    kUserReserved1 = 1 << 14,
    kUserReserved2 = 1 << 15
  };

  enum EventTypes {
    kNoteOnEvent = 0,
    kNoteOffEvent = 1,
    kDataEvent = 2,
    kPolyPressureEvent = 3,
    kNoteExpressionValueEvent = 4,
    kNoteExpressionTextEvent = 5,
    kChordEvent = 6,
    kScaleEvent = 7,
    kLegacyMIDICCOutEvent = 65535
  };

  uint16 type; // EventTypes
  union {
    NoteOnEvent noteOn;
    NoteOffEvent noteOff;
    DataEvent data;
    PolyPressureEvent polyPressure;
    NoteExpressionValueEvent noteExpressionValue;
    NoteExpressionTextEvent noteExpressionText;
    ChordEvent chord;
    ScaleEvent scale;
    LegacyMIDICCOutEvent midiCCOut;
  };
};

class IEventList : public FUnknown {
public:
  virtual int32 PLUGIN_API getEventCount() = 0;
  virtual tresult PLUGIN_API getEvent(int32 index, Event &e) = 0;
  virtual tresult PLUGIN_API addEvent(Event &e) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IEventList, 0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44)

} // namespace Vst
} // namespace Steinberg
