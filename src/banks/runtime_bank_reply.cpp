// The runtime-bank request and reply texts.
#include "banks/runtime_bank_reply.h"

#include <charconv>
#include <cmath>

namespace norva {

namespace {

// A byte that would end a field, a line or an item, or make a line a preset.
bool breaksLayout(char c) {
  return c == kBankReplyFieldBreak || c == kBankWireLineBreak || c == kBankReplyItemBreak ||
         c == kBankReplyPresetMark;
}

void appendSafe(std::string &out, std::string_view text, bool isKey = false) {
  for (char c : text) out += breaksLayout(c) || (isKey && c == kBankReplyItemEquals) ? ' ' : c;
}

void appendFields(std::string &out, std::string_view a, std::string_view b, std::string_view c) {
  appendSafe(out, a);
  out += kBankReplyFieldBreak;
  appendSafe(out, b);
  out += kBankReplyFieldBreak;
  appendSafe(out, c);
}

// The whole text must be one finite number.
bool readValue(std::string_view text, double &value) {
  const char *end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

RuntimeBankReplyPreset readPreset(std::string_view line) {
  const std::vector<std::string_view> fields = splitBankFields(line, kBankReplyFieldBreak, 4);
  RuntimeBankReplyPreset preset{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]), {}};
  std::string_view items = fields[3];
  while (!items.empty()) {
    const size_t stop = items.find(kBankReplyItemBreak);
    const std::string_view item = items.substr(0, stop);
    items = stop == std::string_view::npos ? std::string_view() : items.substr(stop + 1);
    const size_t equals = item.find(kBankReplyItemEquals);
    double value = 0.0;
    if (equals != std::string_view::npos && readValue(item.substr(equals + 1), value)) {
      preset.params.emplace_back(std::string(item.substr(0, equals)), value);
    }
  }
  return preset;
}

} // namespace

void appendPresetValue(std::string &out, double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 17);
  out.append(text, result.ptr);
}

std::vector<std::string_view> splitBankFields(std::string_view text, char sep, size_t count) {
  std::vector<std::string_view> fields(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t stop = text.find(sep);
    fields[i] = text.substr(0, stop);
    if (stop == std::string_view::npos) break;
    text.remove_prefix(stop + 1);
  }
  return fields;
}

bool encodeRuntimeBankRequest(const RuntimeBankRequest &request, std::string &out) {
  for (const std::string *field : {&request.source, &request.folder, &request.sha256, &request.instrument}) {
    if (field->find(kBankWireLineBreak) != std::string::npos) return false;
  }
  out = request.source + kBankWireLineBreak + request.folder + kBankWireLineBreak + request.sha256 +
        kBankWireLineBreak + request.instrument;
  return true;
}

RuntimeBankRequest decodeRuntimeBankRequest(std::string_view text) {
  const std::vector<std::string_view> f = splitBankFields(text, kBankWireLineBreak, 4);
  return {std::string(f[0]), std::string(f[1]), std::string(f[2]), std::string(f[3])};
}

std::string encodeRuntimeBankReply(const char *outcomeName, const std::string &error, const StagedBank *bank) {
  std::string out = outcomeName != nullptr ? outcomeName : kBankReplyNoOutcome;
  out += kBankWireLineBreak;
  appendSafe(out, error);
  if (bank == nullptr) return out;
  out += kBankWireLineBreak;
  appendFields(out, bank->instrumentId, bank->instrumentName, bank->instrumentList);
  for (const StagedPositioning &p : bank->positionings) {
    out += kBankWireLineBreak;
    appendFields(out, p.id, p.name, p.list);
  }
  for (const StagedPreset &preset : bank->presets) {
    out += kBankWireLineBreak;
    out += kBankReplyPresetMark;
    appendFields(out, preset.id, preset.name, preset.instrument);
    out += kBankReplyFieldBreak; // the parameter field is there even when empty
    bool first = true;
    for (const auto &[key, value] : preset.params) {
      if (!std::isfinite(value)) continue;
      if (!first) out += kBankReplyItemBreak;
      first = false;
      appendSafe(out, key, true);
      out += kBankReplyItemEquals;
      appendPresetValue(out, value);
    }
  }
  return out;
}

bool RuntimeBankReply::ok() const { return outcome == runtimeBankOutcomeName(kBankOk); }

RuntimeBankReply decodeRuntimeBankReply(std::string_view text) {
  RuntimeBankReply reply;
  size_t stop = text.find(kBankWireLineBreak);
  reply.outcome = text.substr(0, stop);
  if (!reply.ok()) {
    if (stop != std::string_view::npos) reply.error = splitBankFields(text.substr(stop + 1), kBankWireLineBreak, 1)[0];
    return reply;
  }
  bool haveInstrument = false;
  while (stop != std::string_view::npos) {
    text.remove_prefix(stop + 1);
    stop = text.find(kBankWireLineBreak);
    const std::string_view line = text.substr(0, stop);
    if (line.empty()) continue;
    if (line.front() == kBankReplyPresetMark) {
      reply.presets.push_back(readPreset(line.substr(1)));
    } else if (!haveInstrument) {
      haveInstrument = true;
      const std::vector<std::string_view> f = splitBankFields(line, kBankReplyFieldBreak, 3);
      reply.instrumentId = f[0];
      reply.instrumentName = f[1];
      reply.instrumentList = f[2];
    } else {
      reply.positionings.emplace_back(line);
    }
  }
  return reply;
}

} // namespace norva
