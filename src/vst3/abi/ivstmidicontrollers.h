// MIDI controller numbers as VST 3 names them (values past 127 are the
// pseudo-controllers of IMidiMapping and LegacyMIDICCOutEvent).
#pragma once

namespace Steinberg {
namespace Vst {

enum ControllerNumbers {
  kCtrlBankSelectMSB = 0,
  kCtrlModWheel = 1,
  kCtrlBreath = 2,
  kCtrlFoot = 4,
  kCtrlPortaTime = 5,
  kCtrlDataEntryMSB = 6,
  kCtrlVolume = 7,
  kCtrlBalance = 8,
  kCtrlPan = 10,
  kCtrlExpression = 11,
  kCtrlBankSelectLSB = 32,
  kCtrlSustainOnOff = 64,
  kCtrlFilterCutoff = 71,
  kCtrlFilterResonance = 74,
  kCtrlAllSoundsOff = 120,
  kCtrlResetAllCtrlers = 121,
  kCtrlLocalCtrlOnOff = 122,
  kCtrlAllNotesOff = 123,
  kCtrlOmniModeOff = 124,
  kCtrlOmniModeOn = 125,
  kCtrlPolyModeOnOff = 126,
  kCtrlPolyModeOn = 127,

  kAfterTouch = 128,
  kPitchBend = 129,
  kCountCtrlNumber,

  kCtrlProgramChange = 130,
  kCtrlPolyPressure = 131,
  kCtrlQuarterFrame = 132
};

} // namespace Vst
} // namespace Steinberg
