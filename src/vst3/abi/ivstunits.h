// Units (the plug-in's internal structure) and program lists.
#pragma once

#include "vst3/abi/funknown.h"
#include "vst3/abi/vsttypes.h"

namespace Steinberg {
class IBStream;

namespace Vst {

static const UnitID kRootUnitId = 0;
static const UnitID kNoParentUnitId = -1;
static const ProgramListID kNoProgramListId = -1;
static const int32 kAllProgramInvalid = -1;

struct UnitInfo {
  UnitID id;
  UnitID parentUnitId; // kNoParentUnitId for the root unit
  String128 name;
  ProgramListID programListId; // kNoProgramListId: no programs
};

struct ProgramListInfo {
  ProgramListID id;
  String128 name;
  int32 programCount;
};

// Host side, obtained from the component handler.
class IUnitHandler : public FUnknown {
public:
  virtual tresult PLUGIN_API notifyUnitSelection(UnitID unitId) = 0;
  virtual tresult PLUGIN_API notifyProgramListChange(ProgramListID listId, int32 programIndex) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IUnitHandler, 0x4B5147F8, 0x4654486B, 0x8DAB30BA, 0x163A3C56)

// Controller side. The root unit (id 0) always exists, so getUnitCount is at
// least 1.
class IUnitInfo : public FUnknown {
public:
  virtual int32 PLUGIN_API getUnitCount() = 0;
  virtual tresult PLUGIN_API getUnitInfo(int32 unitIndex, UnitInfo &info) = 0;
  virtual int32 PLUGIN_API getProgramListCount() = 0;
  virtual tresult PLUGIN_API getProgramListInfo(int32 listIndex, ProgramListInfo &info) = 0;
  virtual tresult PLUGIN_API getProgramName(ProgramListID listId, int32 programIndex,
                                            String128 name) = 0;
  virtual tresult PLUGIN_API getProgramInfo(ProgramListID listId, int32 programIndex,
                                            CString attributeId, String128 attributeValue) = 0;
  virtual tresult PLUGIN_API hasProgramPitchNames(ProgramListID listId, int32 programIndex) = 0;
  virtual tresult PLUGIN_API getProgramPitchName(ProgramListID listId, int32 programIndex,
                                                 int16 midiPitch, String128 name) = 0;
  virtual UnitID PLUGIN_API getSelectedUnit() = 0;
  virtual tresult PLUGIN_API selectUnit(UnitID unitId) = 0;
  virtual tresult PLUGIN_API getUnitByBus(MediaType type, BusDirection dir, int32 busIndex,
                                          int32 channel, UnitID &unitId) = 0;
  virtual tresult PLUGIN_API setUnitProgramData(int32 listOrUnitId, int32 programIndex,
                                                IBStream *data) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IUnitInfo, 0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1)

} // namespace Vst
} // namespace Steinberg
