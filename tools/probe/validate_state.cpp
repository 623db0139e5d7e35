// norva-probe validate: state between instances, in pieces and from bad streams and documents.
#include "validate_checks.h"

#include <cmath>

namespace norva::probe::validation {

// --- state -------------------------------------------------------------------------------------

Reason stateBetweenInstances(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  Reason reason;
  std::unique_ptr<PluginInstance> b = startedPlugin(c, reason);
  if (b == nullptr) return reason;
  if (tresult r = setStateText(b->component(), a.state); r != kResultOk)
    return "the processor refused another instance's state (" + resultName(r) + ")";
  std::string copy;
  if (!stateText(b->component(), copy)) return "getState failed";
  if (copy != a.state) return "the restored instance saves a different state";
  if (tresult r = setComponentStateText(b->controller(), a.state); r != kResultOk)
    return "the controller refused the processor's state (" + resultName(r) + ")";
  std::map<std::string, double> plain;
  if (!readStateParams(a.state, plain)) return "the state has no readable parameters";
  for (uint32 id = 0; id < kParamCount; ++id) {
    const double want = norva_param_normalize(&NORVA_PARAMS[id], plain[NORVA_PARAMS[id].key]);
    const double got = b->controller()->getParamNormalized(id);
    if (std::fabs(got - want) > 1e-12)
      return std::string("the controller holds ") + NORVA_PARAMS[id].key + " at " + number(got) +
             " (the state says " + number(want) + ")";
  }
  return kPass;
}

Reason stateIdempotent(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  if (tresult r = setStateText(a.plugin->component(), a.state); r != kResultOk)
    return "the processor refused its own state (" + resultName(r) + ")";
  std::string again;
  if (!stateText(a.plugin->component(), again)) return "getState failed";
  if (again != a.state) return "getState after setState of the same bytes differs";
  // And the state survives a re-set-up and activation.
  a.plugin->stop();
  std::string error;
  if (!a.plugin->start(44100, 256, error)) return error;
  if (!stateText(a.plugin->component(), again) || again != a.state)
    return "a new set-up and activation changed the state";
  return kPass;
}

namespace {

// The state padded with an unknown member to about size bytes.
std::string paddedState(const std::string &state, size_t size) {
  const std::string head = state.substr(0, state.size() - 1) + ",\"probePadding\":\"";
  const size_t fill = size > head.size() + 2 ? size - head.size() - 2 : 0;
  return head + std::string(fill, 'x') + "\"}";
}

} // namespace

Reason stateInPieces(Context &c, int32_t piece) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  Reason reason;
  for (size_t size : {size_t(0), size_t(8192), size_t(10000)}) {
    const std::string doc = size == 0 ? a.state : paddedState(a.state, size);
    const std::string what = std::to_string(doc.size()) + " bytes in " + std::to_string(piece) + "-byte reads";
    std::unique_ptr<PluginInstance> b = startedPlugin(c, reason);
    if (b == nullptr) return reason;
    std::string before, after;
    stateText(b->component(), before);
    const std::vector<double> controllerBefore = controllerValues(b->controller());

    IPtr<MemoryStream> stream = owned(new MemoryStream(doc, piece));
    const tresult result = b->component()->setState(stream);
    stateText(b->component(), after);
    if (result == kResultOk) {
      if (after != a.state) return what + ": the processor restored a different state";
      int64_t total = 0;
      for (int32_t got : stream->reads()) total += got;
      if (total != static_cast<int64_t>(doc.size()))
        return what + ": the processor read " + std::to_string(total) + " bytes and accepted them";
    } else if (after != before) {
      return what + ": the processor refused the state but changed";
    }
    IPtr<MemoryStream> again = owned(new MemoryStream(doc, piece));
    const tresult controllerResult = b->controller()->setComponentState(again);
    const std::vector<double> controllerAfter = controllerValues(b->controller());
    if (controllerResult == kResultOk) {
      if (controllerAfter != a.controller)
        return what + ": the controller took other values (changed: " +
               changedIds(a.controller, controllerAfter) + ")";
    } else if (controllerAfter != controllerBefore) {
      return what + ": the controller refused the state but changed";
    }
    // Full reads deliver everything; only short reads may be refused.
    if (piece >= 4096 && (result != kResultOk || controllerResult != kResultOk))
      return what + " refused (processor " + resultName(result) + ", controller " +
             resultName(controllerResult) + ")";
  }
  return kPass;
}

Reason emptyAndNullStreams(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  IComponent *component = a.plugin->component();
  IEditController *controller = a.plugin->controller();
  if (setStateText(component, "") == kResultOk) return "the processor accepted an empty stream";
  if (setComponentStateText(controller, "") == kResultOk) return "the controller accepted an empty stream";
  if (component->setState(nullptr) == kResultOk) return "processor setState(null) succeeded";
  if (component->getState(nullptr) == kResultOk) return "processor getState(null) succeeded";
  if (controller->setComponentState(nullptr) == kResultOk) return "setComponentState(null) succeeded";
  if (controller->getState(nullptr) == kResultOk) return "controller getState(null) succeeded";
  IPtr<FailingStream> failing = owned(new FailingStream());
  if (component->setState(failing) == kResultOk) return "the processor accepted a failing stream";
  if (component->getState(failing) == kResultOk) return "getState into a failing stream succeeded";
  if (controller->setComponentState(failing) == kResultOk) return "the controller accepted a failing stream";
  if (controller->getState(failing) == kResultOk) return "controller getState into a failing stream succeeded";
  std::string after;
  if (!stateText(component, after) || after != a.state) return "the refusals changed the processor's state";
  if (controllerValues(controller) != a.controller) return "the refusals changed the controller's values";
  return kPass;
}

Reason badDocuments(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  std::string deep = "{\"params\":{\"tindrel.bpm\":150},\"deep\":";
  for (int i = 0; i < 40; ++i) deep += "[";
  for (int i = 0; i < 40; ++i) deep += "]";
  deep += "}";
  const std::string valid = "{\"params\":{\"tindrel.bpm\":150}}";
  const std::vector<std::pair<const char *, std::string>> documents = {
      {"a space", " "},
      {"an opening brace", "{"},
      {"an array", "[]"},
      {"null", "null"},
      {"a number", "42"},
      {"params as an array", "{\"params\":[]}"},
      {"a misspelt true", "{\"params\":{\"tindrel.bpm\":150,\"tindrel.run\":tru}}"},
      {"a trailing comma", "{\"params\":{\"tindrel.bpm\":150},}"},
      {"trailing text", valid + "x"},
      {"a second document", valid + valid},
      {"an unclosed object", "{\"params\":{\"tindrel.bpm\":150}"},
      {"a string variation", "{\"params\":{\"tindrel.bpm\":150},\"variation\":\"2\"}"},
      {"41 levels of nesting", deep},
      {"a NUL after the document", valid + std::string(1, '\0')},
      {"binary bytes", std::string("\x00\xff\xfe\x01", 4)},
  };
  for (const auto &[what, doc] : documents) {
    if (setStateText(a.plugin->component(), doc) == kResultOk)
      return std::string("the processor accepted ") + what;
    if (setComponentStateText(a.plugin->controller(), doc) == kResultOk)
      return std::string("the controller accepted ") + what;
    std::string after;
    if (!stateText(a.plugin->component(), after) || after != a.state)
      return std::string("refusing ") + what + " changed the processor's state";
    if (controllerValues(a.plugin->controller()) != a.controller)
      return std::string("refusing ") + what + " changed the controller's values";
  }
  return kPass;
}

Reason tempoOnlyDocument(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  const std::string doc = "{\"params\":{\"tindrel.bpm\":150}}";
  if (tresult r = setStateText(a.plugin->component(), doc); r != kResultOk)
    return "the processor refused it (" + resultName(r) + ")";
  if (tresult r = setComponentStateText(a.plugin->controller(), doc); r != kResultOk)
    return "the controller refused it (" + resultName(r) + ")";
  std::string after;
  std::map<std::string, double> before, now;
  if (!stateText(a.plugin->component(), after) || !readStateParams(a.state, before) ||
      !readStateParams(after, now))
    return "no readable state";
  for (const auto &[key, value] : before) {
    const double expected = key == NORVA_PARAMS[kParamBpm].key ? 150 : value;
    if (now[key] != expected)
      return "the processor's " + key + " is " + number(now[key]) + " (expected " + number(expected) + ")";
  }
  const std::vector<double> values = controllerValues(a.plugin->controller());
  if (changedIds(a.controller, values) != std::to_string(kParamBpm))
    return "the controller changed parameters " + changedIds(a.controller, values);
  if (values[kParamBpm] != norva_param_normalize(&NORVA_PARAMS[kParamBpm], 150))
    return "the controller's tempo is " + number(values[kParamBpm]);
  // A value beyond the range is clamped on the way to the controller.
  if (setComponentStateText(a.plugin->controller(), "{\"params\":{\"tindrel.bpm\":400}}") != kResultOk ||
      a.plugin->controller()->getParamNormalized(kParamBpm) != 1.0)
    return "a tempo of 400 did not give the controller the value 1";
  return kPass;
}

Reason controllerOwnState(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  IPtr<MemoryStream> saved = owned(new MemoryStream());
  if (tresult r = controller->getState(saved); r != kResultOk) return "getState returned " + resultName(r);
  if (saved->bytes().empty()) return "getState wrote nothing";
  saved->rewind();
  if (tresult r = controller->setState(saved); r != kResultOk)
    return "setState of its own state returned " + resultName(r);
  IPtr<MemoryStream> again = owned(new MemoryStream());
  controller->getState(again);
  if (again->bytes() != saved->bytes()) return "its state changed after a round trip";
  IPtr<MemoryStream> empty = owned(new MemoryStream());
  if (tresult r = controller->setState(empty); r != kResultOk)
    return "an empty own state was refused (" + resultName(r) + ")";
  IPtr<MemoryStream> broken = owned(new MemoryStream(std::string("{\"ccMap\":")));
  if (controller->setState(broken) == kResultOk) return "a broken own state was accepted";
  return kPass;
}

} // namespace norva::probe::validation
