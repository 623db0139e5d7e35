#include "bridge/bridge_message.h"

#include <cstdio>
#include <utility>

#include "formats/json.h"

namespace norva {
namespace {

struct FeedName {
  const char *name;
  DiagnosticFeed bit;
};

constexpr FeedName kFeedNames[] = {
    {"host", kFeedHost},       {"transport", kFeedTransport}, {"midiIn", kFeedMidiIn},
    {"midiOut", kFeedMidiOut}, {"meters", kFeedMeters},       {"scope", kFeedScope},
    {"lifecycle", kFeedLifecycle}, {"counters", kFeedCounters}, {"params", kFeedParams},
    {"presets", kFeedPresets}, {"clock", kFeedClock},
};

// Members whose value must be a string; a later one replaces an earlier one.
struct StringMember {
  const char *key;
  std::string BridgeMessage::*field;
};

constexpr StringMember kStringMembers[] = {
    {"type", &BridgeMessage::type},         {"path", &BridgeMessage::path},
    {"id", &BridgeMessage::id},             {"source", &BridgeMessage::source},
    {"bankPath", &BridgeMessage::bankPath}, {"url", &BridgeMessage::url},
    {"sha256", &BridgeMessage::sha256},     {"instrument", &BridgeMessage::instrument},
    {"field", &BridgeMessage::field},
};

// Numbers that carry a presence flag.
struct NumberMember {
  const char *key;
  double BridgeMessage::*value;
  bool BridgeMessage::*present;
};

constexpr NumberMember kNumberMembers[] = {
    {"value", &BridgeMessage::value, &BridgeMessage::hasValue},
    {"pattern", &BridgeMessage::pattern, &BridgeMessage::hasPattern},
    {"step", &BridgeMessage::step, &BridgeMessage::hasStep},
    {"to", &BridgeMessage::to, &BridgeMessage::hasTo},
};

struct CommandType {
  const char *type;
  DiagnosticCommand command;
};

constexpr CommandType kCommandTypes[] = {
    {kBridgeDiagSubscribe, DiagnosticCommand::subscribe},
    {kBridgeDiagUnsubscribe, DiagnosticCommand::unsubscribe},
    {kBridgeDiagStimulus, DiagnosticCommand::stimulus},
};

// The member readers below start at the value's first byte (the member loop
// has skipped the white space before it).
bool nextByteIs(const Reader &r, char c) { return r.cur < r.end && *r.cur == c; }

// "state": an object is a whole state document, read as if it stood alone;
// its extent is found first so that the document reader sees only it.
bool readState(Reader &r, BridgeMessage &out) {
  Reader extent = r;
  if (!skipValue(extent, 0)) return false;
  StateChunk chunk;
  if (!parseStateJson(r.cur, static_cast<size_t>(extent.cur - r.cur), chunk)) return false;
  r.cur = extent.cur;
  out.state = std::move(chunk);
  out.hasState = true;
  return true;
}

// "map": an object or a bare bindings list. The map is taken only when the
// reader reports one.
bool readMap(Reader &r, BridgeMessage &out) {
  CcMap map;
  bool present = false;
  if (!parseCcMapValue(r, map, present)) return false;
  if (present) {
    out.map = map;
    out.hasMap = true;
  }
  return true;
}

// "feeds": a list of names, each a string; unknown names add nothing.
bool readFeeds(Reader &r, BridgeMessage &out) {
  uint32_t feeds = 0;
  ++r.cur;  // '['
  if (!consumeByte(r, ']')) {
    std::string name;
    do {
      name.clear();
      if (!parseString(r, &name)) return false;
      feeds |= diagnosticFeedBit(name);
    } while (consumeByte(r, ','));
    if (!consumeByte(r, ']')) return false;
  }
  out.feeds = feeds;
  return true;
}

// "stimulus": only its "kind" is read, and must be a string.
bool readStimulus(Reader &r, int depth, BridgeMessage &out) {
  return readObject(r, depth, [&out](const std::string &key, Reader &reader, int objectDepth) {
    if (key != "kind") return skipValue(reader, objectDepth + 1);
    out.stimulusKind.clear();
    return parseString(reader, &out.stimulusKind);
  });
}

// One member of the message object (at depth 0); values of a kind a member
// does not take are skipped at depth 1.
bool readMember(const std::string &key, Reader &r, BridgeMessage &out) {
  constexpr int kMemberDepth = 1;
  for (const StringMember &member : kStringMembers) {
    if (key != member.key) continue;
    std::string &field = out.*member.field;
    field.clear();
    return parseString(r, &field);
  }
  for (const NumberMember &member : kNumberMembers) {
    if (key != member.key) continue;
    if (!parseNumber(r, &(out.*member.value))) return false;
    out.*member.present = true;
    return true;
  }
  if (key == "data" && nextByteIs(r, '{')) {
    AuthoredPattern pattern;
    uint8_t factory[kPlaneBytes];
    writeFactoryPlane(factory);
    pattern = patternOfPlane(factory, 0);
    if (!readPatternJson(r, kMemberDepth, pattern, nullptr)) return false;
    out.data = pattern;
    out.hasData = true;
    return true;
  }
  if (key == "note") return parseNumber(r, &out.note);
  if (key == "velocity") return parseNumber(r, &out.velocity);
  if (key == "hz") return parseNumber(r, &out.hz);
  if (key == "state" && nextByteIs(r, '{')) return readState(r, out);
  if (key == "map" && (nextByteIs(r, '{') || nextByteIs(r, '['))) return readMap(r, out);
  if (key == "pads" && nextByteIs(r, '{')) {
    if (!parsePadOverrideMap(r, out.pads)) return false;
    out.hasPads = true;
    return true;
  }
  if (key == "feeds" && nextByteIs(r, '[')) return readFeeds(r, out);
  if (key == "stimulus" && nextByteIs(r, '{')) return readStimulus(r, kMemberDepth, out);
  return skipValue(r, kMemberDepth);
}

}  // namespace

uint32_t diagnosticFeedBit(std::string_view name) {
  for (const FeedName &feed : kFeedNames) {
    if (name == feed.name) return feed.bit;
  }
  return 0;
}

bool parseBridgeMessage(const char *text, size_t length, BridgeMessage &out) {
  if (text == nullptr) return false;
  Reader r(text, length);
  const bool ok = readObject(r, 0, [&out](const std::string &key, Reader &reader, int) {
    return readMember(key, reader, out);
  });
  if (!ok || !atEnd(r)) return false;
  out.diagnosticCommand = DiagnosticCommand::none;
  for (const CommandType &command : kCommandTypes) {
    if (out.type == command.type) out.diagnosticCommand = command.command;
  }
  return true;
}

void reportMalformedBridgeMessage(size_t length) {
  std::fprintf(stderr, kBridgeMalformedMessageLine, length);
  std::fflush(stderr);
}

}  // namespace norva
