// norva-probe validate: messages between the halves, activation, many instances and release orders.
#include "validate_checks.h"

#include "vst3/sdk/hostmessage.h"

namespace norva::probe::validation {

// --- messages ------------------------------------------------------------------------------------

namespace {

IPtr<IMessage> message(Context &c, const char *id) {
  IMessage *made = allocateMessage(c.host);
  if (made == nullptr) return IPtr<IMessage>();
  made->setMessageID(id);
  return owned(made);
}

IPtr<IMessage> jsonMessage(Context &c, const char *id, const std::string &payload) {
  IPtr<IMessage> made = message(c, id);
  if (made) made->getAttributes()->setBinary("json", payload.data(), static_cast<uint32>(payload.size()));
  return made;
}

} // namespace

Reason messagesToProcessor(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  FUnknownPtr<IConnectionPoint> processor(a.plugin->component());
  if (processor->notify(nullptr) == kResultOk) return "notify(null) succeeded";
  IPtr<IMessage> noId = message(c, nullptr);
  IPtr<IMessage> unknown = jsonMessage(c, "norva.probe.unknown", "{}");
  IPtr<IMessage> bare = message(c, "norva.ccMap");
  IPtr<IMessage> garbage = jsonMessage(c, "norva.ccMap", "{\"bindings\":[{");
  IPtr<IMessage> emptyJson = jsonMessage(c, "norva.padOverrides", "");
  IPtr<IMessage> poll = message(c, "norva.diag.transportPoll");
  IPtr<IMessage> drain = message(c, "norva.diag.feedDrain");
  IPtr<IMessage> slot = jsonMessage(c, "norva.stageResourceSlot", "x");
  if (!noId || !unknown || !bare || !garbage || !emptyJson || !poll || !drain || !slot)
    return "the host could not make messages";
  poll->getAttributes()->setInt("reset", 1);
  poll->getAttributes()->setFloat("rate", 30.0);
  poll->getAttributes()->setString("note", u"probe");
  processor->notify(noId);
  processor->notify(unknown);
  if (tresult r = processor->notify(bare); r != kResultOk) return "norva.ccMap without json returned " + resultName(r);
  if (tresult r = processor->notify(garbage); r != kResultOk) return "norva.ccMap with broken json returned " + resultName(r);
  processor->notify(emptyJson);
  if (tresult r = processor->notify(poll); r != kResultOk) return "norva.diag.transportPoll returned " + resultName(r);
  if (tresult r = processor->notify(drain); r != kResultOk) return "norva.diag.feedDrain returned " + resultName(r);
  if (tresult r = processor->notify(slot); r != kResultFalse) return "norva.stageResourceSlot returned " + resultName(r);
  std::string after;
  if (!stateText(a.plugin->component(), after) || after != a.state) return "the messages changed the state";
  return kPass;
}

Reason messagesToController(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  FUnknownPtr<IConnectionPoint> controller(a.plugin->controller());
  if (controller->notify(nullptr) == kResultOk) return "notify(null) succeeded";
  const std::vector<std::pair<const char *, std::string>> sent = {
      {nullptr, "{}"},
      {"norva.probe.unknown", "{}"},
      {"norva.diag.hostFacts", "short"},
      {"norva.diag.hostFacts", std::string(1313, '\0')},
      {"norva.diag.transport", std::string(87, '\x7f')},
      {"norva.runtimeDiagnostics", ""},
      {"norva.runtimeDiagnostics", "{not json"},
      {"norva.diag.lifecycle", std::string(64, 'a')},
      {"norva.runtimeBankResult", "bank-missing"},
  };
  for (const auto &[id, payload] : sent) {
    IPtr<IMessage> m = jsonMessage(c, id, payload);
    if (!m) return "the host could not make messages";
    controller->notify(m);
  }
  IPtr<IMessage> bare = message(c, "norva.diag.hostFacts");
  controller->notify(bare);
  if (controllerValues(a.plugin->controller()) != a.controller) return "the messages changed parameter values";
  return kPass;
}

// --- lifecycle -----------------------------------------------------------------------------------

Reason activationCycles(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  plugin->stop();
  IComponent *component = plugin->component();
  IAudioProcessor *processor = plugin->processor();
  for (int cycle = 0; cycle < 60; ++cycle) {
    if (cycle % 10 == 0) {
      ProcessSetup setup{kRealtime, kSample32, kBlock, cycle % 20 == 0 ? 44100.0 : kRate};
      if (processor->setupProcessing(setup) != kResultOk) return "set-up refused in cycle " + std::to_string(cycle);
    }
    if (component->setActive(true) != kResultOk) return "activation refused in cycle " + std::to_string(cycle);
    processor->setProcessing(true);
    Block block;
    block.note(0, 64, 1.0f);
    const tresult result = block.run(processor, kBlock);
    processor->setProcessing(false);
    if (component->setActive(false) != kResultOk) return "deactivation refused in cycle " + std::to_string(cycle);
    if (result != kResultOk) return "process in cycle " + std::to_string(cycle) + " returned " + resultName(result);
    if (Reason r = checkOutput(block.out->events(), kBlock); !r.empty()) return r;
  }
  // A second deactivation in a row is harmless.
  if (component->setActive(false) != kResultOk) return "a repeated deactivation was refused";
  return kPass;
}

namespace {

// A processor without its controller, its messages going to a sink.
struct LoneProcessor {
  std::unique_ptr<PluginInstance> plugin;
  IPtr<MessageSink> sink = owned(new MessageSink());
};

bool makeLoneProcessor(Context &c, LoneProcessor &lone, std::string &error) {
  lone.plugin = makePlugin(c, error, false);
  if (lone.plugin == nullptr) return false;
  FUnknownPtr<IConnectionPoint> point(lone.plugin->component());
  if (!point || point->connect(lone.sink) != kResultOk) {
    error = "the processor did not accept a connection";
    return false;
  }
  return true;
}

} // namespace

Reason manyInstances(Context &c) {
  std::vector<LoneProcessor> processors(kInstanceLimit + 1);
  std::string error;
  ProcessSetup setup{kRealtime, kSample32, kBlock, kRate};
  for (int i = 0; i < kInstanceLimit; ++i) {
    if (!makeLoneProcessor(c, processors[i], error)) return error;
    IComponent *component = processors[i].plugin->component();
    if (processors[i].plugin->processor()->setupProcessing(setup) != kResultOk ||
        component->setActive(true) != kResultOk)
      return "instance " + std::to_string(i + 1) + " could not be activated";
  }
  LoneProcessor &extra = processors[kInstanceLimit];
  if (!makeLoneProcessor(c, extra, error)) return error;
  IComponent *component = extra.plugin->component();
  IAudioProcessor *processor = extra.plugin->processor();
  if (tresult r = processor->setupProcessing(setup); r != kResultFalse)
    return "set-up of instance 33 returned " + resultName(r) + " (expected kResultFalse)";
  if (!sawMessage(extra.sink->log, "norva.runtimeDiagnostics"))
    return "instance 33 sent no runtime report about its failed set-up";
  if (tresult r = component->setActive(true); r != kResultFalse)
    return "activation of instance 33 returned " + resultName(r) + " (expected kResultFalse)";
  // The host may still call process on it; nothing is played.
  Block block;
  block.note(0, 64, 1.0f);
  block.run(processor, kBlock);
  if (!block.out->events().empty()) return "instance 33 played events without a kernel";
  // With one instance gone, the 33rd finds room.
  processors[0].plugin.reset();
  if (processor->setupProcessing(setup) != kResultOk || component->setActive(true) != kResultOk)
    return "instance 33 could not be activated after another was released";
  processors.clear();
  return kPass;
}

Reason instancesFreed(Context &c) {
  for (int i = 0; i < kInstanceLimit + 8; ++i) {
    LoneProcessor lone;
    std::string error;
    if (!makeLoneProcessor(c, lone, error)) return error;
    ProcessSetup setup{kRealtime, kSample32, kBlock, kRate};
    if (lone.plugin->processor()->setupProcessing(setup) != kResultOk ||
        lone.plugin->component()->setActive(true) != kResultOk)
      return "instance " + std::to_string(i + 1) + " made one after another could not be activated";
  }
  return kPass;
}

Reason releaseOrders(Context &c) {
  using Teardown = PluginInstance::Teardown;
  const std::pair<Teardown, const char *> orders[] = {
      {Teardown::ControllerFirst, "controller first"},
      {Teardown::ProcessorFirst, "processor first"},
      {Teardown::TerminateConnected, "terminate while connected"},
      {Teardown::WithoutTerminate, "release without terminate"},
  };
  const uint32 hostCount = countOf(c.host);
  for (const auto &[order, what] : orders) {
    Reason reason;
    std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
    if (plugin == nullptr) return reason;
    std::vector<Played> played;
    if (Reason r = render(plugin->processor(), 4 * kBlock, kBlock, played); !r.empty()) return r;
    plugin->shutdown(order);
    if (hostCensus().proxies != 0) return std::string(what) + ": a connection proxy was kept";
    if (countOf(c.host) != hostCount) return std::string(what) + ": the host context was kept";
  }
  return kPass;
}

Reason hostObjectsReleased(Context &c) {
  HostCensus &census = hostCensus();
  if (census.messages != 0) return std::to_string(census.messages) + " messages were never released";
  if (census.attributeLists != 0)
    return std::to_string(census.attributeLists) + " attribute lists were never released";
  if (census.streams != 0) return std::to_string(census.streams) + " streams were kept";
  if (census.proxies != 0) return std::to_string(census.proxies) + " connection proxies were kept";
  if (countOf(c.host) != 1) return "the host context holds " + std::to_string(countOf(c.host) - 1) + " references too many";
  return kPass;
}

} // namespace norva::probe::validation
