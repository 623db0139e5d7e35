// The note expression event records: members of the Event union, declared
// so the union has its published size.
#pragma once

#include "vst3/abi/vsttypes.h"

namespace Steinberg {
namespace Vst {

typedef uint32 NoteExpressionTypeID;
typedef double NoteExpressionValue;

struct NoteExpressionValueEvent {
  NoteExpressionTypeID typeId;
  int32 noteId;
  NoteExpressionValue value; // normalised
};

struct NoteExpressionTextEvent {
  NoteExpressionTypeID typeId;
  int32 noteId;
  uint32 textLen; // code units before the terminator
  const TChar *text;
};

} // namespace Vst
} // namespace Steinberg
