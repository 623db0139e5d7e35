// The CC map: a fixed-capacity list of bindings from MIDI controllers to
// catalogue parameters, and its one JSON form. The map is a plain value with
// no pointers and no heap storage; every owner (controller, processor, state
// document, bridge message) keeps and copies its own.
//
// This file holds only the record and its JSON. What a binding does to a
// controller value (curves, value modes, takeover) lives with the resolver.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "formats/json.h"

namespace norva {

inline constexpr uint32_t kCcMapCapacity = 64;
// MIDI controller numbers are 0..kMidiCcCount - 1; a controller value is
// 7 bits, 0..kMidiCcValueMax.
inline constexpr int kMidiCcCount = 128;
inline constexpr int kMidiCcValueMax = 127;

enum class CcCurve : uint8_t { linear = 0, exp = 1, log = 2, sCurve = 3 };

enum class CcValueMode : uint8_t {
  absolute = 0,
  relativeSignedBit = 1,
  relativeBinaryOffset = 2,
  relativeTwosComplement = 3,
  toggle = 4,
};

enum class CcTakeover : uint8_t { none = 0, pickup = 1, scaled = 2 };

// One controller -> parameter binding, with the defaults of a new binding.
struct CcBinding {
  uint32_t paramIndex = 0;  // row of NORVA_PARAMS; kParamCount or more is inert everywhere
  uint8_t cc = 0;           // 0..127
  uint8_t channel = 0;      // 0 = any channel, 1..16 = that channel
  CcCurve curve = CcCurve::linear;
  CcValueMode valueMode = CcValueMode::absolute;
  CcTakeover takeover = CcTakeover::none;
  bool enabled = true;  // a disabled binding is kept and saved but never matches
  bool hasMin = false;
  bool hasMax = false;
  double min = 0.0;  // plain value at controller value 0, when hasMin
  double max = 0.0;  // plain value at controller value 127, when hasMax
};

// The first count bindings are in use, in the order they were read or added.
// Several bindings may share a controller and channel.
struct CcMap {
  uint32_t count = 0;
  std::array<CcBinding, kCcMapCapacity> bindings{};
};

static_assert(std::is_trivially_copyable_v<CcMap>, "the map crosses owners by plain copy");

// Appends {"version":1,"bindings":[...]}. Bindings whose paramIndex is not a
// catalogue row are left out; a count above the capacity is read as the
// capacity. Members that hold their default are not written.
void writeCcMapJson(std::string &out, const CcMap &map);

// Appends the editor message {"type":"norva.ccMapChanged","map":<map>}.
void writeCcMapChangedJson(std::string &out, const CcMap &map);

// Every reader below takes an optional refusal count. A number member whose
// value no binding field can hold (a "min" or "max" that is not finite, a
// "cc" or "channel" that is NaN) has no effect on its binding, so that what
// is read can be written back exactly; each such member adds one to
// *refused when refused is given.

// A whole text that is one map value (an object or a bare bindings list),
// with only white space around it. "{}" gives an empty map. out (and
// *refused) change only on success.
bool parseCcMapJson(const char *text, size_t length, CcMap &out, uint32_t *refused = nullptr);

// One map value at the reader's position inside a larger document. present
// tells whether the value carried a bindings list; callers adopt the map only
// then. A value that is neither an object nor a list is skipped (present
// false). On failure out holds whatever was read so far: parse into a scratch
// map.
bool parseCcMapValue(Reader &r, CcMap &out, bool &present, uint32_t *refused = nullptr);

// One element of a bindings list. A usable binding (a "path" naming a
// catalogue row and a "cc") is appended while the map has room; anything
// else is dropped without failing. Fails on malformed JSON and on a string
// member whose value is not a string.
bool parseCcBinding(Reader &r, CcMap &map, uint32_t *refused = nullptr);

}  // namespace norva
