// One authored pattern as JSON, the form the editor bridge and pattern files
// use:
//
//   {"index":0,"length":16,"resolution":0,"direction":0,
//    "steps":[{"note":60,"velocity":100,"gate":50,"tie":0,"curve":0,"ratchet":1,"on":1},...]}
//
// Writing gives every member and all 32 steps. Reading takes any subset: a
// member that is absent keeps the value the pattern had; "steps" holds at
// most 32 step objects, the i-th for step i. Step fields take whole numbers
// 0..255 (held as the plane's byte form holds them; "tie" and "on" also take
// true and false), "length" 1..32, "resolution" 0..12 (0: the global one,
// n: resolution index n - 1), "direction" 0..6 (0: the global one, n:
// direction n - 1). Anything else fails the whole pattern.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/json.h"
#include "params/authored_plane.h"

namespace norva {

// A pattern's bytes as the plane's byte form holds them.
struct AuthoredPattern {
  uint8_t steps[kStepFieldCount][kPlaneSteps] = {};
  uint8_t fields[kPatternFieldCount] = {};
};

AuthoredPattern patternOfPlane(const uint8_t (&plane)[kPlaneBytes], int pattern);
void putPatternIntoPlane(uint8_t (&plane)[kPlaneBytes], int pattern, const AuthoredPattern &bytes);

// Appends the pattern object, "index" first.
void writePatternJson(std::string &out, int index, const AuthoredPattern &pattern);
// Reads one pattern object over `pattern` (members absent keep their value);
// `index` receives "index" when present (else is left alone). On failure
// `pattern` may be partly changed: read into a copy.
bool readPatternJson(Reader &r, int depth, AuthoredPattern &pattern, int *index);

// A pattern file: {"patterns":[pattern objects, each with its "index"]},
// read over the factory plane. False with a reason on any fault.
bool parsePatternFile(std::string_view text, uint8_t (&plane)[kPlaneBytes], std::string &error);

} // namespace norva
