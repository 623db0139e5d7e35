// The bank loader's document reader: one JSON text into a tree of values, for
// manifests, instrument documents and preset documents, which are read by
// looking members up rather than by a member loop. Strings and numbers are
// read by the JSON toolkit's tokens; nesting is limited to kJsonMaxDepth; the
// whole text must be one value with nothing but white space after it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "formats/json.h"

namespace norva {

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };

  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0.0;
  std::string string;
  std::vector<JsonValue> array;
  std::map<std::string, JsonValue> object; // a repeated key keeps its last value

  bool isObject() const { return kind == Kind::object; }
  bool isArray() const { return kind == Kind::array; }
  // The member named key; null when this is not an object or has no such member.
  const JsonValue *find(const std::string &key) const;
  // The member's string, or fallback when it is absent or not a string.
  std::string str(const std::string &key, const std::string &fallback = "") const;
  // True with value set when the member is there and is a number (a bool).
  bool numberMember(const std::string &key, double &value) const;
  bool boolMember(const std::string &key, bool &value) const;
};

class JsonReader {
public:
  JsonReader(const char *text, size_t length) : reader_(text, length) {}
  // One value of any kind at the given depth into out (replaced).
  bool value(JsonValue &out, int depth);
  // True when only white space is left.
  bool atEnd() { return norva::atEnd(reader_); }

private:
  Reader reader_;
};

// One whole document; false (out unspecified) for anything but a single
// value followed by white space.
bool parseJsonDocument(const void *bytes, size_t length, JsonValue &out);

} // namespace norva
