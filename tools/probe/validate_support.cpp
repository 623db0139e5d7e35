#include "validate_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace norva::probe::validation {

namespace {

// Values that move a plug-in off its defaults (see alteredPlugin).
const std::vector<std::pair<uint32, double>> kAlteredValues = {
    {kParamBpm, 137.5},     {kParamDirection, 2},        {kParamTranspose, -7},
    {kParamFirstStepVelocity + 4, 17}, {kParamChannel, 3}, {kParamShuffle, 0.625}};

} // namespace

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

std::string number(double value) { return formatNumber(value); }

uint32 countOf(FUnknown *object) {
  object->addRef();
  return object->release();
}

std::unique_ptr<PluginInstance> makePlugin(Context &c, std::string &error,
                                           bool withController) {
  return PluginInstance::create(c.module, c.host, error, withController);
}

std::unique_ptr<PluginInstance> startedPlugin(Context &c, Reason &reason) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr || !plugin->syncController(error) || !plugin->start(kRate, kBlock, error)) {
    reason = error;
    return nullptr;
  }
  return plugin;
}

Reason checkOutput(const std::vector<Event> &events, int32 frames) {
  int32 last = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const Event &e = events[i];
    const std::string which = "output event " + std::to_string(i);
    if (e.busIndex != 0) return which + " on bus " + std::to_string(e.busIndex);
    if (e.sampleOffset < 0 || e.sampleOffset >= frames)
      return which + " at offset " + std::to_string(e.sampleOffset) + " in a block of " +
             std::to_string(frames);
    if (e.sampleOffset < last) return which + " is earlier than the event before it";
    last = e.sampleOffset;
    switch (e.type) {
    case Event::kNoteOnEvent:
      if (e.noteOn.pitch < 0 || e.noteOn.pitch > 127 || e.noteOn.channel < 0 || e.noteOn.channel > 15)
        return which + ": note-on with pitch " + std::to_string(e.noteOn.pitch) + ", channel " +
               std::to_string(e.noteOn.channel);
      if (!(e.noteOn.velocity > 0 && e.noteOn.velocity <= 1))
        return which + ": note-on with velocity " + number(e.noteOn.velocity);
      break;
    case Event::kNoteOffEvent:
      if (e.noteOff.pitch < 0 || e.noteOff.pitch > 127 || e.noteOff.channel < 0 || e.noteOff.channel > 15)
        return which + ": note-off with pitch " + std::to_string(e.noteOff.pitch);
      break;
    case Event::kLegacyMIDICCOutEvent:
      if (e.midiCCOut.controlNumber > 127 || e.midiCCOut.value < 0 || e.midiCCOut.channel < 0 ||
          e.midiCCOut.channel > 15)
        return which + ": controller " + std::to_string(e.midiCCOut.controlNumber) + " value " +
               std::to_string(e.midiCCOut.value);
      break;
    default:
      return which + " has type " + std::to_string(e.type);
    }
  }
  return kPass;
}

Reason render(IAudioProcessor *processor, int64_t frames, int32 blockFrames,
              std::vector<Played> &played, Block *first) {
  Block own;
  Block &block = first != nullptr ? *first : own;
  for (int64_t start = 0; start < frames; start += blockFrames) {
    const auto count = static_cast<int32>(std::min<int64_t>(blockFrames, frames - start));
    const tresult result = block.run(processor, count);
    if (result != kResultOk)
      return "process at frame " + std::to_string(start) + " returned " + resultName(result);
    if (Reason r = checkOutput(block.out->events(), count); !r.empty())
      return "block at frame " + std::to_string(start) + ": " + r;
    for (const Event &e : block.out->events()) played.push_back({start + e.sampleOffset, e});
  }
  return kPass;
}

std::vector<Played> noteOns(const std::vector<Played> &played, int pitch) {
  std::vector<Played> ons;
  for (const Played &p : played) {
    if (p.event.type == Event::kNoteOnEvent && (pitch < 0 || p.event.noteOn.pitch == pitch))
      ons.push_back(p);
  }
  return ons;
}

Reason applyPlain(PluginInstance &plugin, const std::vector<std::pair<uint32, double>> &values) {
  Block block;
  for (const auto &[id, plain] : values) {
    const ParamValue normalized = plugin.controller()->plainParamToNormalized(id, plain);
    block.changes->add(id, 0, normalized);
    plugin.controller()->setParamNormalized(id, normalized);
  }
  const tresult result = block.run(plugin.processor(), 64);
  return result == kResultOk ? kPass : "process with parameter changes returned " + resultName(result);
}

bool stateText(IComponent *component, std::string &text) {
  IPtr<MemoryStream> stream = owned(new MemoryStream());
  if (component->getState(stream) != kResultOk) return false;
  text = stream->text();
  return true;
}

tresult setStateText(IComponent *component, const std::string &text, int32_t piece) {
  IPtr<MemoryStream> stream = owned(new MemoryStream(text, piece));
  return component->setState(stream);
}

tresult setComponentStateText(IEditController *controller, const std::string &text,
                              int32_t piece) {
  IPtr<MemoryStream> stream = owned(new MemoryStream(text, piece));
  return controller->setComponentState(stream);
}

std::vector<double> controllerValues(IEditController *controller) {
  std::vector<double> values;
  for (uint32 id = 0; id < kParamCount; ++id) values.push_back(controller->getParamNormalized(id));
  return values;
}

bool readStateParams(const std::string &doc, std::map<std::string, double> &values) {
  static const std::string marker = "\"params\":{";
  size_t at = doc.find(marker);
  if (at == std::string::npos) return false;
  at += marker.size();
  while (at < doc.size() && doc[at] != '}') {
    if (doc[at] == ',') {
      ++at;
      continue;
    }
    if (doc[at] != '"') return false;
    const size_t end = doc.find('"', at + 1);
    if (end == std::string::npos || end + 1 >= doc.size() || doc[end + 1] != ':') return false;
    const std::string key = doc.substr(at + 1, end - at - 1);
    at = end + 2;
    if (doc.compare(at, 4, "null") == 0) {
      values[key] = NAN;
      at += 4;
      continue;
    }
    const char *begin = doc.c_str() + at;
    char *stop = nullptr;
    const double value = std::strtod(begin, &stop);
    if (stop == begin) return false;
    values[key] = value;
    at += static_cast<size_t>(stop - begin);
  }
  return at < doc.size();
}

bool stateValue(const std::string &doc, uint32 id, double &value) {
  std::map<std::string, double> values;
  if (!readStateParams(doc, values)) return false;
  const auto it = values.find(NORVA_PARAMS[id].key);
  if (it == values.end()) return false;
  value = it->second;
  return true;
}

std::string changedIds(const std::vector<double> &before, const std::vector<double> &after) {
  std::string ids;
  for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
    if (before[i] == after[i]) continue;
    ids += ids.empty() ? "" : " ";
    ids += std::to_string(i);
  }
  return ids.empty() ? "none" : ids;
}

Reason alteredPlugin(Context &c, Altered &altered) {
  Reason reason;
  altered.plugin = startedPlugin(c, reason);
  if (altered.plugin == nullptr) return reason;
  if (Reason r = applyPlain(*altered.plugin, kAlteredValues); !r.empty()) return r;
  if (!stateText(altered.plugin->component(), altered.state)) return "getState failed";
  altered.controller = controllerValues(altered.plugin->controller());
  return kPass;
}

bool sawMessage(const std::vector<MessageRecord> &log, const char *id, int64_t *jsonSize) {
  for (const MessageRecord &record : log) {
    if (record.id != id) continue;
    if (jsonSize != nullptr) *jsonSize = record.jsonSize;
    return true;
  }
  return false;
}

} // namespace norva::probe::validation
