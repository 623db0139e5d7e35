// Parameter texts: how each row's value reads in a host's generic window,
// automation lane or mixer list, and how a typed text reads back. The row's
// ParamText picks the form; every form also reads a number in the units it
// writes, so "3" still selects a resolution and "140 BPM" a tempo.
#include "params/params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace norva {
namespace {

size_t copyText(const char *text, char *out, size_t capacity) {
  if (capacity == 0 || out == nullptr) return 0;
  const size_t length = std::min(std::strlen(text), capacity - 1);
  std::memcpy(out, text, length);
  out[length] = '\0';
  return length;
}

// The form a row's text takes; the kinds without a form of their own keep
// their rules (a toggle switches, a list names its choices).
uint32_t formOf(const norva_param_desc &row) {
  if (row.kind == kParamKindToggle) return kTextOnOff;
  if (row.kind == kParamKindList) return row.labels != nullptr ? kTextNamed : kTextNumber;
  return row.text;
}

// The value a name stands for is its index, counted from min on a range row.
double labelBase(const norva_param_desc &row) { return row.kind == kParamKindRange ? row.min : 0.0; }

int pitchClass(int value) { return ((value % kPitchClasses) + kPitchClasses) % kPitchClasses; }

// At most two decimals, trailing zeros dropped: 136.19999766 reads "136.2",
// 100.0000001 reads "100". Enough for any value a host brings back through
// 32 bits, and what a musician types.
void writeDecimal(double value, char *buffer, size_t size) {
  std::snprintf(buffer, size, "%.2f", value);
  char *point = std::strchr(buffer, '.');
  if (point != nullptr) {
    char *end = buffer + std::strlen(buffer);
    while (end > point + 1 && end[-1] == '0') --end;
    if (end == point + 1) end = point;
    *end = '\0';
  }
  if (std::strcmp(buffer, "-0") == 0) std::strcpy(buffer, "0");
}

void writeSigned(double value, char *buffer, size_t size) {
  const long long whole = std::llround(value);
  std::snprintf(buffer, size, whole > 0 ? "+%lld" : "%lld", whole);
}

// The notes of a scale mask from the key root up: "C D E F# A".
void writeNotes(uint32_t mask, int keyRoot, char *buffer, size_t size) {
  size_t used = 0;
  buffer[0] = '\0';
  for (int degree = 0; degree < kPitchClasses; ++degree) {
    if ((mask >> degree & 1u) == 0) continue;
    const int written = std::snprintf(buffer + used, size - used, used == 0 ? "%s" : " %s",
                                      kNoteNames[pitchClass(keyRoot + degree)]);
    if (written < 0 || size_t(written) >= size - used) break;
    used += size_t(written);
  }
}

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '-' || c == ','; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Names compare without regard to case, spaces, hyphens and commas:
// "ping pong" is "Ping-pong", "1/8t" is "1/8 T".
bool sameName(const char *text, const char *name) {
  for (;;) {
    while (isSeparator(*text)) ++text;
    while (isSeparator(*name)) ++name;
    if (*text == '\0' || *name == '\0') return *text == *name;
    if (lower(*text) != lower(*name)) return false;
    ++text;
    ++name;
  }
}

// One note name at p ("C", "f#", "Bb"), moving p past it; -1 when none.
int readNote(const char *&p) {
  static constexpr int kLetters[] = {9, 11, 0, 2, 4, 5, 7}; // a b c d e f g
  const char letter = lower(*p);
  if (letter < 'a' || letter > 'g') return -1;
  int pc = kLetters[letter - 'a'];
  ++p;
  if (*p == '#') {
    ++pc;
    ++p;
  } else if (*p == 'b') {
    --pc;
    ++p;
  }
  return pitchClass(pc);
}

// Note names separated by spaces or commas, as a mask of degrees above the
// key root; 0 when the text is anything else.
uint32_t readNotes(const char *text, int keyRoot) {
  uint32_t mask = 0;
  const char *p = text;
  for (;;) {
    while (isSeparator(*p)) ++p;
    if (*p == '\0') return mask;
    const int pc = readNote(p);
    if (pc < 0 || !(*p == '\0' || isSeparator(*p))) return 0;
    mask |= 1u << pitchClass(pc - keyRoot);
  }
}

// A leading decimal number; trailing text is ignored unless `whole`.
bool readNumber(const char *text, bool whole, double *value) {
  char *end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (end == text) return false;
  if (whole) {
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
  }
  *value = parsed;
  return true;
}

bool found(double *plain, double value) {
  *plain = value;
  return true;
}

// The plain value a text stands for, by the row's form.
bool readPlain(const norva_param_desc &row, const char *text, int keyRoot, double *plain) {
  double number = 0.0;
  switch (formOf(row)) {
  case kTextOnOff:
    for (const char *on : {"On", "true"}) {
      if (sameName(text, on)) return found(plain, 1.0);
    }
    for (const char *off : {"Off", "false"}) {
      if (sameName(text, off)) return found(plain, 0.0);
    }
    return readNumber(text, false, plain);
  case kTextNamed:
    for (int32_t i = 0; row.labels != nullptr && i < row.labelCount; ++i) {
      if (row.labels[i] != nullptr && sameName(text, row.labels[i])) return found(plain, labelBase(row) + i);
    }
    // A number alone: "1/3" is not the second resolution.
    return readNumber(text, true, plain);
  case kTextNote: {
    const char *p = text;
    while (*p == ' ') ++p;
    const int pc = readNote(p);
    while (*p == ' ') ++p;
    if (pc >= 0 && *p == '\0') return found(plain, labelBase(row) + pc);
    return readNumber(text, true, plain);
  }
  case kTextScaleMask: {
    for (const ScalePreset &scale : kScalePresets) {
      if (sameName(text, scale.name)) return found(plain, scale.mask);
    }
    const uint32_t mask = readNotes(text, keyRoot);
    if (mask != 0) return found(plain, mask);
    return readNumber(text, false, plain);
  }
  case kTextController: {
    const char *p = text;
    while (*p == ' ') ++p;
    if (lower(p[0]) == 'c' && lower(p[1]) == 'c') p += 2;
    return readNumber(p, false, plain);
  }
  case kTextPercent:
    if (!readNumber(text, false, &number)) return false;
    return found(plain, number / 100.0);
  case kTextCount:
    if (!readNumber(text, false, &number)) return false;
    return found(plain, number - 1.0);
  case kTextOctaves:
    if (!readNumber(text, false, &number)) return false;
    return found(plain, number + 1.0);
  default:
    return readNumber(text, false, plain);
  }
}

} // namespace

size_t paramToText(const norva_param_desc &row, double n, char *out, size_t capacity, int keyRoot) {
  if (capacity == 0 || out == nullptr) return 0;
  const double plain = paramToPlain(row, n);
  char buffer[64];
  switch (formOf(row)) {
  case kTextOnOff:
    return copyText(plain >= 0.5 ? "On" : "Off", out, capacity);
  case kTextNamed:
  case kTextNote: {
    const double index = plain - labelBase(row);
    if (row.labels != nullptr && index >= 0.0 && index < double(row.labelCount)) {
      const char *label = row.labels[int32_t(index)];
      return copyText(label != nullptr ? label : "", out, capacity);
    }
    if (row.kind == kParamKindList) return copyText("", out, capacity);
    writeDecimal(plain, buffer, sizeof buffer);
    break;
  }
  case kTextScaleMask: {
    const uint32_t mask = uint32_t(plain) & ((1u << kPitchClasses) - 1);
    for (const ScalePreset &scale : kScalePresets) {
      if (scale.mask == mask) return copyText(scale.name, out, capacity);
    }
    writeNotes(mask, pitchClass(keyRoot), buffer, sizeof buffer);
    break;
  }
  case kTextController:
    std::snprintf(buffer, sizeof buffer, "CC %lld", std::llround(plain));
    break;
  case kTextPercent: writeDecimal(plain * 100.0, buffer, sizeof buffer); break;
  case kTextSigned: writeSigned(plain, buffer, sizeof buffer); break;
  case kTextOctaves: writeSigned(plain - 1.0, buffer, sizeof buffer); break;
  case kTextCount: writeDecimal(plain + 1.0, buffer, sizeof buffer); break;
  default: writeDecimal(plain, buffer, sizeof buffer); break;
  }
  return copyText(buffer, out, capacity);
}

bool paramFromText(const norva_param_desc &row, const char *text, double *normalized, int keyRoot) {
  if (text == nullptr || normalized == nullptr) return false;
  char narrow[256];
  copyText(text, narrow, sizeof narrow);
  double plain = 0.0;
  if (!readPlain(row, narrow, pitchClass(keyRoot), &plain)) return false;
  *normalized = norva_param_normalize(&row, plain);
  return true;
}

} // namespace norva
