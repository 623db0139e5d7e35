// The edit controller in-process, driven as the editor and a host drive it:
// editor messages through its BridgeHost entry with a recording sink, and the
// probe's host objects as host context, component handler and processor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bank_folder.h"
#include "banks/bank_source.h"
#include "controller/norva_controller.h"
#include "diagnostics/component_messages.h"
#include "identity/diagnostic_bridge.h"
#include "processor/norva_processor.h"
#include "strict_json.h"
#include "vst3/abi/iplugview.h"
#include "vst3/sdk/smartpointer.h"
#include "vst3_host.h"

namespace {

using namespace norva;
using namespace Steinberg;
using namespace Steinberg::Vst;
using Call = probe::HostComponentHandler::Call;
using Calls = std::vector<Call>;
using Texts = std::vector<std::string>;
using probe::RefCount;

std::string number(double value) {
  std::string out;
  jsonAppendNumber(out, value);
  return out;
}
std::string bytesOf(const auto &record) { return std::string(reinterpret_cast<const char *>(&record), sizeof record); }

// A lifecycle event, counted back from the newest, without its sequence
// number and time (which vary).
std::string lastEvent(const NorvaController &c, uint32_t back = 0) {
  if (c.lifecycle().count() <= back) return "";
  std::string out;
  writeDiagnosticLifecycleEventJson(out, c.lifecycle().at(c.lifecycle().count() - 1 - back));
  const size_t frame = out.find("\"atFrame\"");
  return out.substr(frame != std::string::npos ? frame : out.find("\"kind\""));
}

// A host context that offers a run loop besides the host application.
class RunLoopContext final : public Linux::IRunLoop {
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void **obj) override {
    if (!FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) return host->queryInterface(iid, obj);
    addRef();
    *obj = static_cast<Linux::IRunLoop *>(this);
    return kResultOk;
  }
  NORVA_PROBE_REFCOUNT
  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler *, int) override { return kNotImplemented; }
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler *) override { return kNotImplemented; }
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler *handler, Linux::TimerInterval ms) override {
    return timer = handler, intervalMs = ms, kResultOk;
  }
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler *handler) override {
    return handler == timer.get() ? (timer = nullptr, kResultOk) : kResultFalse;
  }
  IPtr<probe::HostApplication> host = owned(new probe::HostApplication());
  IPtr<Linux::ITimerHandler> timer;
  Linux::TimerInterval intervalMs = 0;
};

// One initialised controller with a component handler and a recording
// processor peer; ui holds what the editor was sent (each strict JSON).
struct Rig {
  explicit Rig(const char *hostName = "Norva Probe", FUnknown *context = nullptr)
      : host(owned(new probe::HostApplication(hostName))) {
    EXPECT_EQ(controller->initialize(context != nullptr ? context : host.get()), kResultOk);
    controller->setComponentHandler(handler);
    controller->connect(peer);
  }
  ~Rig() {
    controller->terminate();
    controller->release();
  }
  void attach() {
    controller->setBridgeSink([this](const std::string &text) {
      EXPECT_TRUE(strict::valid(text)) << text;
      ui.push_back(text);
    });
  }
  void send(const std::string &json) { controller->handleBridgeMessage(json.data(), json.size()); }
  Texts sent(const std::string &type) const {
    Texts out;
    for (const std::string &text : ui)
      if (text.starts_with("{\"type\":\"" + type + "\"")) out.push_back(text);
    return out;
  }
  // A processor message; a null payload leaves the attribute out.
  tresult notify(const char *id, const std::string *payload) {
    IPtr<probe::HostMessage> message = owned(new probe::HostMessage());
    message->setMessageID(id);
    if (payload != nullptr)
      message->getAttributes()->setBinary(kMessagePayloadAttribute, payload->data(), uint32(payload->size()));
    return controller->notify(message);
  }
  tresult notify(const char *id, const std::string &payload) { return notify(id, &payload); }

  IPtr<probe::HostApplication> host;
  NorvaController *controller = new NorvaController();
  IPtr<probe::HostComponentHandler> handler = owned(new probe::HostComponentHandler());
  IPtr<probe::MessageSink> peer = owned(new probe::MessageSink());
  Texts ui;
};

// --- the hello and the reports in it -------------------------------------------------------------

TEST(ControllerHello, AFreshControllerSaysExactlyThis) {
  Rig rig;
  rig.send(R"({"type":"norva.ready"})");
  EXPECT_TRUE(rig.controller->helloSent()) << "also without an editor to hear it";
  rig.attach();
  rig.send(R"({"type":"norva.ready"})");
  std::string params;
  for (const norva_param_desc &row : NORVA_PARAMS)
    params += std::string(params.empty() ? "" : ",") + "{\"path\":\"" + row.key + "\",\"value\":" +
              number(row.defaultPlain) + ",\"normalized\":" + number(row.defaultNormalized) + "}";
  EXPECT_EQ(rig.ui, Texts{R"({"type":"norva.hello","plugin":{"id":"music.norva.tindrel","name":"Tindrel",)"
                          R"("vendor":"Norva Music","version":"1.0.0"},"params":[)" + params +
                          R"(],"factoryPresets":[],"identity":{"moduleId":"music.norva.tindrel","name":"Tindrel",)"
                          R"("vendor":"Norva Music","version":"1.0.0","hostClass":"effect","target":"vst3",)"
                          R"("sdkVersion":"0.0.0","build":{"mode":"production","configuration":"Release"},)"
                          R"("ratePolicy":{"mode":"host-native"},"state":{"version":1,"maxBytes":65536},)"
                          R"("ports":[{"id":"midi-in","kind":"midi","direction":"input","busRole":"main"}]},)"
                          R"("diagnostics":{"feeds":[],"commands":[],"maxFeedHz":0},)"
                          R"("presetState":{"factoryCount":0,"dirty":false,"userPresetsSupported":false}})"});

  // Once the processor has told its rate, the host block appears, with the
  // controller's own host name and validator kind.
  HostFacts facts;
  facts.sampleRate = 48000;
  rig.notify(kHostFactsMessage, bytesOf(facts));
  rig.ui.clear();
  rig.send(R"({"type":"norva.ready"})");
  EXPECT_NE(rig.ui.at(0).find(R"(,"host":{"hostName":"Norva Probe","validatorHost":"norva-probe","sampleRate":48000,)"),
            std::string::npos);
}

TEST(DiagnosticReports, ManifestScanner) {
  const std::string longest(kUiBuildTimeCapacity - 2, 'x');
  const struct {
    std::string manifest;
    const char *found;  // null: not found
  } cases[] = {
      {R"({"name":"buildTime","buildTime" : "2024-05-01"})", "2024-05-01"},
      {"{\"buildTime\":\"" + longest + "\"}", longest.c_str()},
      {"{\"buildTime\":\"" + longest + "x\"}", nullptr},
      {R"({"buildTime":"ab\"cd"})", "ab"},
      {R"({"nested":{"buildTime":"n"},"list":["buildTime"]})", nullptr},
      {R"({"buildTime":5,"later":"x"})", nullptr},
      {R"({"buildTime":"open)", nullptr},
      {R"(]{"buildTime":"after a stray bracket"})", nullptr},
      {R"({"buildTimeX":"no","buildTime":"yes"})", "yes"},
  };
  for (const auto &c : cases) {
    std::string out = "stale";
    EXPECT_EQ(uiManifestString(c.manifest, "buildTime", out, kUiBuildTimeCapacity), c.found != nullptr) << c.manifest;
    EXPECT_EQ(out, c.found != nullptr ? c.found : "") << c.manifest;
  }
  EXPECT_EQ(uiManifestPathForImage("/p/T.vst3/Contents/x86_64-linux/T.so"), "/p/T.vst3/Contents/Resources/ui/manifest.json");
  test::BankFolder folder;  // a scratch folder
  folder.write("m.json", R"({"buildTime":"t","sourceRevision":"r","sha256":"s"})");
  folder.write("big.json", "{\"buildTime\":\"t\"}" + std::string(kUiManifestMaxBytes, ' '));
  const UiBundleFacts read = readUiBundleFacts(folder.file("m.json"));
  EXPECT_EQ(read.buildTime + read.sourceRevision + read.sha256, "trs");
  for (const std::string &unread : {folder.file("big.json"), folder.file("absent.json"), folder.path()})
    EXPECT_TRUE(readUiBundleFacts(unread).empty()) << unread;
}

TEST(DiagnosticReports, PresetStateBankAndIdentity) {
  PresetStateFacts preset;
  preset.currentName = "Warm", preset.lastStateBytes = 0, preset.bankPresent = true;
  std::string noBankId, withBank, cut;
  writeDiagnosticPresetStateJson(noBankId, preset);
  EXPECT_EQ(noBankId, R"({"factoryCount":0,"currentName":"Warm","dirty":false,"userPresetsSupported":false,"lastStateBytes":0})");
  preset.bank.id = "kit", preset.bank.sha256 = "ab", preset.bank.index = 0, preset.bank.padCount = 16;
  writeDiagnosticPresetStateJson(withBank, preset);
  EXPECT_TRUE(withBank.ends_with(R"(:0,"bank":{"id":"kit","sha256":"ab","index":0,"padCount":16}})")) << withBank;
  setCutText(cut, std::string(kPresetIdChars - 1, 'a') + "\xC3\xA9", kPresetIdChars);
  EXPECT_EQ(cut, std::string(kPresetIdChars - 1, 'a')) << "a character is never split";

  std::string identity;  // the fresh one is in the hello above
  writeDiagnosticIdentityJson(identity, {}, DiagnosticTarget(99), {"", "", "ab"});
  EXPECT_NE(identity.find(R"("target":"offline",)"), std::string::npos) << identity;
  EXPECT_NE(identity.find(R"("Release"},"ui":{"sha256":"ab"},"ratePolicy")"), std::string::npos) << identity;
}

// --- parameters, the echo rule and the state ------------------------------------------------------

TEST(ControllerParams, TheEditorsOwnEditIsNotEchoedButTheNextHostChangeIs) {
  Rig rig;
  rig.attach();
  const double bpm120 = (120.0 - 20.0) / (300.0 - 20.0);
  rig.send(R"({"type":"norva.setParam","path":"tindrel.bpm","value":120})");
  EXPECT_EQ(rig.handler->calls, (Calls{{Call::perform, kParamBpm, bpm120}}));
  EXPECT_EQ(rig.ui, Texts{});
  rig.controller->setParamNormalized(kParamBpm, bpm120);
  rig.controller->setParamNormalized(kParamBpm, 0.5);
  EXPECT_EQ(rig.controller->setParamNormalized(kParamBpm, std::nan("")), kInvalidArgument);
  EXPECT_EQ(rig.sent("norva.paramChanged"),
            (Texts{R"({"type":"norva.paramChanged","path":"tindrel.bpm","value":120,"normalized":)" + number(bpm120) + "}",
                   R"({"type":"norva.paramChanged","path":"tindrel.bpm","value":160,"normalized":0.5})"}));

  // Only the exact key names a parameter, and only a finite value sets it.
  rig.handler->calls.clear();
  for (const char *message : {R"({"type":"norva.setParam","path":"tindrel.BPM","value":90})",
                              R"({"type":"norva.setParam","path":"tindrel.bpm\u0000","value":90})",
                              R"({"type":"norva.setParam","path":" tindrel.bpm","value":90})",
                              R"({"type":"norva.setParam","path":"bpm","value":90})",
                              R"({"type":"norva.setParam","path":"tindrel.bpm","value":1e999})",
                              R"({"type":"norva.setParam","path":"tindrel.bpm"})",
                              R"({"type":"norva.beginEdit","path":"tindrel.bpmx"})"})
    rig.send(message);
  EXPECT_EQ(rig.handler->calls, Calls{});
  EXPECT_EQ(rig.controller->getParamNormalized(kParamBpm), 0.5);
  rig.send(R"({"type":"norva.beginEdit","path":"tindrel.bpm"})");
  rig.send(R"({"type":"norva.endEdit","path":"tindrel.bpm"})");
  EXPECT_EQ(rig.handler->calls, (Calls{{Call::begin, kParamBpm}, {Call::end, kParamBpm}}));
}

// The host reads the scale mask's notes in the current key, and types them
// back in it; a controller initialised again keeps one unit per group.
TEST(ControllerParams, ScaleNotesFollowTheKeyRootAndUnitsStayOnce) {
  Rig rig;
  const auto &mask = NORVA_PARAMS[kParamScaleMask];
  const double notes = norva_param_normalize(&mask, 597); // C D E F# A in C
  const auto shown = [&] {
    String128 text = {};
    rig.controller->getParamStringByValue(kParamScaleMask, notes, text);
    return std::string(text, text + std::char_traits<char16_t>::length(text));
  };
  EXPECT_EQ(shown(), "C D E F# A");
  rig.controller->setParamNormalized(kParamKeyRoot, 2.0 / 11);
  EXPECT_EQ(shown(), "D E F# Ab B");
  std::u16string typed = u"D E F# Ab B";
  ParamValue value = -1;
  EXPECT_EQ(rig.controller->getParamValueByString(kParamScaleMask, typed.data(), value), kResultOk);
  EXPECT_EQ(value, notes);

  rig.controller->terminate();
  EXPECT_EQ(rig.controller->initialize(rig.host.get()), kResultOk);
  EXPECT_EQ(rig.controller->getUnitCount(), 1 + kParamGroupCount);
}

TEST(ControllerState, EditorStateRoundTripsAndABrokenOneChangesNothing) {
  Rig rig;
  rig.attach();
  rig.controller->setParamNormalized(kParamBpm, 0.25);
  rig.controller->setParamNormalized(kParamGateScale, 0.3);
  rig.send(R"({"type":"norva.setCcMap","map":[{"cc":7,"path":"tindrel.shuffle"}]})");
  rig.send(R"({"type":"norva.getState"})");
  const std::string reply = rig.sent("norva.state").at(0), opening = R"({"type":"norva.state","state":)";
  const std::string document = reply.substr(opening.size(), reply.size() - opening.size() - 1);
  EXPECT_EQ(rig.controller->presetState().lastStateBytes, int64_t(document.size()));
  EXPECT_EQ(lastEvent(*rig.controller), R"("kind":"stateSaved","detail":{"stateBytes":)" + number(document.size()) +
                                            R"(,"source":"ui"}})");

  const std::string message = R"({"type":"norva.setState","state":)" + document + "}";
  for (Rig *target : {&rig, new Rig()}) {
    target->attach();
    target->handler->calls.clear();
    target->send(message);
    for (uint32_t i = 0; i < kParamCount; ++i)
      EXPECT_EQ(target->controller->getParamNormalized(i), rig.controller->getParamNormalized(i)) << i;
    EXPECT_EQ(target->controller->ccMap().count, 1u);
    EXPECT_EQ(target->handler->calls.size(), 3 * kParamCount + 1) << "each value an edit gesture, and the map";
    EXPECT_EQ(target->sent("norva.bankState").size(), 1u);
    EXPECT_EQ(lastEvent(*target->controller), R"("kind":"stateRestored","detail":{"stateBytes":)" +
                                                  number(message.size()) + R"(,"source":"ui"}})");
    if (target != &rig) delete target;
  }

  // A document that breaks after its first value applies nothing.
  Rig third;
  third.attach();
  third.send(R"({"type":"norva.setState","state":{"params":{"tindrel.bpm":200,"tindrel.length":}}})");
  third.send(R"({"type":"norva.setState","state":{"params":{"tindrel.bpm":200}},"value":"x"})");
  EXPECT_EQ(third.handler->calls, Calls{});
  EXPECT_EQ(third.ui, Texts{});
  EXPECT_EQ(third.controller->getParamNormalized(kParamBpm), NORVA_PARAMS[kParamBpm].defaultNormalized);
}

TEST(ControllerState, ComponentAndOwnState) {
  Rig rig;
  const std::string loud = R"({"params":{"tindrel.bpm":400}})";
  probe::MemoryStream loudStream(loud), broken(std::string(R"({"params":{"tindrel.bpm":20)"));
  EXPECT_EQ(rig.controller->setComponentState(&loudStream), kResultOk);
  EXPECT_EQ(rig.controller->getParamNormalized(kParamBpm), 1.0);
  EXPECT_EQ(rig.controller->presetState().lastStateBytes, int64_t(loud.size()));
  EXPECT_EQ(lastEvent(*rig.controller),
            R"("kind":"stateRestored","detail":{"stateBytes":)" + number(loud.size()) + R"(,"source":"component"}})");
  EXPECT_EQ(rig.controller->setComponentState(&broken), kResultFalse);
  EXPECT_EQ(rig.controller->setComponentState(nullptr), kResultFalse);
  EXPECT_EQ(rig.controller->getParamNormalized(kParamBpm), 1.0);

  for (const std::string own : {"", R"({"sampler":{"v":1,"pads":{"3":{"gain":0.5}}}})"}) {
    Rig fresh;
    probe::MemoryStream in(own), out;
    EXPECT_EQ(fresh.controller->setState(&in), kResultOk);
    EXPECT_EQ(fresh.controller->getState(&out), kResultOk);
    EXPECT_EQ(out.text(), own.empty() ? "{}" : own);
  }
}

// --- CC map and MIDI assignment ---------------------------------------------------------------------

TEST(ControllerCcMap, AMapFromTheEditorReachesHostProcessorAndEditor) {
  Rig rig;
  rig.attach();
  rig.handler->calls.clear();
  rig.send(R"({"type":"norva.setCcMap","map":{"version":1,"bindings":[{"cc":74,"path":"tindrel.bpm"}]}})");
  EXPECT_EQ(rig.handler->calls, (Calls{{Call::restart, 0, 0, 32}}));
  std::string map;
  writeCcMapJson(map, rig.controller->ccMap());
  EXPECT_EQ(map, R"({"version":1,"bindings":[{"cc":74,"path":"tindrel.bpm"}]})");
  ASSERT_EQ(rig.peer->log.size(), 1u);
  EXPECT_EQ(rig.peer->log[0].id, kCcMapMessage);
  EXPECT_EQ(rig.peer->log[0].json, map);
  EXPECT_EQ(rig.ui, Texts{R"({"type":"norva.ccMapChanged","map":)" + map + "}"});
  EXPECT_EQ(lastEvent(*rig.controller), R"("kind":"ccMapChanged","detail":{"bindings":1}})");
}

TEST(ControllerCcMap, MidiAssignmentRules) {
  Rig rig;
  ParamID id = 999;
  EXPECT_EQ(rig.controller->getMidiControllerAssignment(0, 0, 74, id), kResultFalse) << "no map";
  rig.send(R"({"type":"norva.setCcMap","map":[{"cc":74,"channel":3,"path":"tindrel.bpm","enabled":false},)"
           R"({"cc":74,"channel":3,"path":"tindrel.shuffle"},{"cc":1,"path":"tindrel.gateScale"}]})");
  // bus, channel, controller and the answer (999: none). The disabled
  // binding is passed over; channel 3 (counted from 1) answers channel 2
  // only, channel 0 every channel; bus 1 and controller 128 never answer.
  const struct {
    int32 bus;
    int16 channel, cc;
    ParamID id;
  } queries[] = {{0, 2, 74, kParamShuffle}, {0, 1, 74, 999},           {0, 3, 74, 999},
                 {1, 2, 74, 999},           {0, 2, 128, 999},          {0, 0, 1, kParamGateScale},
                 {0, 15, 1, kParamGateScale}};
  for (const auto &q : queries) {
    id = 999;
    const tresult result = rig.controller->getMidiControllerAssignment(q.bus, q.channel, q.cc, id);
    EXPECT_EQ(result, q.id == 999 ? kResultFalse : kResultTrue) << q.bus << "/" << q.channel << "/" << q.cc;
    EXPECT_EQ(id, q.id);
  }
}

// --- host identity and host facts ----------------------------------------------------------------

TEST(ControllerHost, ValidatorKindsByHostName) {
  const std::pair<const char *, uint8_t> names[] = {
      {"pluginval", kValidatorHostPluginval},          {"Pluginval 1.0", kValidatorHostPluginval},
      {"auval", kValidatorHostAuval},                  {"auval validator", kValidatorHostAuval},
      {"clap-validator", kValidatorHostClapValidator}, {"clap_validator", kValidatorHostClapValidator},
      {"VST3 Validator", kValidatorHostSteinberg},     {"a validator", kValidatorHostSteinberg},
      {"Norva Probe", kValidatorHostNorvaProbe},       {"norva-probe", kValidatorHostNorvaProbe},
      {"Ardour", kValidatorHostNone},                  {"", kValidatorHostNone},
  };
  for (const auto &[name, kind] : names) {
    Rig rig(name);
    EXPECT_STREQ(rig.controller->hostFacts().hostName, name);
    EXPECT_EQ(rig.controller->hostFacts().validatorHost, kind) << name;
  }
}

TEST(ControllerHost, HostFactsRecordChangesAndReachTheEditorOnlyAfterItsHello) {
  Rig rig;
  rig.attach();
  HostFacts facts;
  std::strcpy(facts.hostName, "Imposter");
  facts.sampleRate = 44100;
  EXPECT_EQ(rig.notify(kHostFactsMessage, bytesOf(facts)), kResultOk);
  EXPECT_STREQ(rig.controller->hostFacts().hostName, "Norva Probe") << "the host name is the controller's own";
  EXPECT_EQ(lastEvent(*rig.controller), R"("kind":"sampleRateChanged","detail":{"sampleRate":44100,"previous":0}})");
  EXPECT_EQ(rig.sent("norva.hostChanged"), Texts{}) << "no hello yet";

  rig.send(R"({"type":"norva.ready"})");
  facts.sampleRate = 96000;
  for (const std::string &wrongSize : {bytesOf(facts).substr(1), bytesOf(facts) + "x"})
    EXPECT_EQ(rig.notify(kHostFactsMessage, wrongSize), kResultOk);
  EXPECT_EQ(rig.notify(kHostFactsMessage, nullptr), kResultOk);
  EXPECT_EQ(rig.controller->hostFacts().sampleRate, 44100);
  facts.sampleRate = 44100;
  const struct {
    void (*change)(HostFacts &);
    const char *event;
  } changes[] = {
      {[](HostFacts &f) { f.latencySamples = 64; }, R"({"latencySamples":64,"previous":0,"reported":true}})"},
      {[](HostFacts &f) { f.addBus("in0", true, 2, true, "stereo"); }, R"({"buses":1,"layout":"stereo"}})"},
      {[](HostFacts &f) { f.bypassKnown = 1; }, R"({"bypassed":false}})"},
  };
  for (const auto &c : changes) {
    c.change(facts);
    rig.notify(kHostFactsMessage, bytesOf(facts));
    EXPECT_TRUE(lastEvent(*rig.controller).ends_with(c.event)) << lastEvent(*rig.controller);
  }
  std::strcpy(facts.hostName, "Another");
  rig.notify(kHostFactsMessage, bytesOf(facts));  // nothing but the name: no change, no message
  const Texts changed = rig.sent("norva.hostChanged");
  ASSERT_EQ(changed.size(), 3u);
  for (size_t i = 0; i < changed.size(); ++i)
    EXPECT_NE(changed[i].find("\"event\":{\"seq\":" + std::to_string(i + 1) + ","), std::string::npos) << changed[i];
}

// --- processor messages, feeds and the cadence ------------------------------------------------------

TEST(ControllerProcessorMessages, LifecycleFeedAndPayloadsOutsideTheirSizes) {
  Rig rig;
  rig.attach();
  rig.controller->onEditorError(nullptr);
  EXPECT_EQ(rig.ui, Texts{}) << "no lifecycle feed subscribed";
  rig.send(R"({"type":"norva.diag.subscribe","feeds":["lifecycle"],"hz":30})");
  ASSERT_EQ(rig.ui.size(), 1u) << "the replay";
  EXPECT_TRUE(rig.ui[0].starts_with(R"({"type":"norva.lifecycle","events":[{"seq":1,)")) << rig.ui[0];
  EXPECT_TRUE(rig.ui[0].ends_with(R"("kind":"editorError","detail":{"reason":"unknown"}}]})")) << rig.ui[0];
  rig.ui.clear();
  const uint32_t events = rig.controller->lifecycle().count();
  const std::pair<const char *, std::string> ignored[] = {
      {kRuntimeDiagnosticsMessage, ""},
      {kRuntimeDiagnosticsMessage, "{not json"},
      {kRuntimeDiagnosticsMessage, "{\"a\":\"\n\"}"},
      {kRuntimeDiagnosticsMessage, "{\"a\":\"" + std::string(kRuntimeReportMaxBytes, 'x') + "\"}"},
      {kLifecycleKindMessage, std::string(64, 'a')},
      {kLifecycleKindMessage, std::string("editorOpened\0x", 14)},
      {kLifecycleKindMessage, "EditorOpened"},
      {kTransportFactMessage, std::string(kTransportFactBytes - 1, '\x7f')},
      {kSignalMessage, "anything"},
  };
  for (const auto &[id, payload] : ignored) EXPECT_EQ(rig.notify(id, payload), kResultOk) << id;
  EXPECT_EQ(rig.notify(kTransportFactMessage, nullptr), kResultOk);
  EXPECT_EQ(rig.notify("norva.unknown", "{}"), kResultFalse);
  EXPECT_EQ(rig.controller->lifecycle().count(), events);
  EXPECT_EQ(rig.controller->runtimeHealthReport(), "");
  EXPECT_EQ(rig.ui, Texts{});

  EXPECT_EQ(rig.notify(kLifecycleKindMessage, "editorOpened"), kResultOk);
  EXPECT_EQ(rig.notify(kRuntimeDiagnosticsMessage, R"({"format":"h"})"), kResultOk);
  ASSERT_EQ(rig.ui.size(), 3u);
  EXPECT_TRUE(rig.ui[0].ends_with(R"("kind":"editorOpened"}]})")) << rig.ui[0];
  EXPECT_TRUE(rig.ui[1].ends_with(R"("kind":"runtimeDiagnostic","detail":{"reportBytes":14}}]})")) << rig.ui[1];
  EXPECT_EQ(rig.ui[2], R"({"type":"norva.runtimeDiagnostics","report":{"format":"h"}})");
  rig.controller->onEditorClosed();
  rig.controller->onEditorOpened();
  EXPECT_EQ(rig.ui.size(), 4u) << "closing the editor ends its subscriptions";
}

TEST(ControllerTransport, RatesChangesAndRepeats) {
  Rig rig;
  rig.attach();
  for (const auto &[hz, stored] : {std::pair{"100", 30.0}, {"10", 10.0}, {"-5", 0.0}, {"1e999", 0.0}, {"0", 0.0}}) {
    rig.send(std::string(R"({"type":"norva.diag.subscribe","feeds":["transport"],"hz":)") + hz + "}");
    EXPECT_EQ(rig.controller->maxFeedRate(), stored) << hz;
  }
  EXPECT_DOUBLE_EQ(rig.controller->transportRepeatIntervalMs(), 1000.0 / 30.0);
  rig.send(R"({"type":"norva.diag.subscribe","feeds":["transport"],"hz":0.001})");  // a repeat every 1000 s

  TransportFact fact;
  fact.hasTempo = 1, fact.hasTimeSignature = 1, fact.playing = 1;
  rig.notify(kTransportFactMessage, bytesOf(fact));  // first: sent
  rig.notify(kTransportFactMessage, bytesOf(fact));  // unchanged and playing: too soon
  fact.tempo = 90, fact.numerator = 3, fact.atFrame = 480;
  rig.notify(kTransportFactMessage, bytesOf(fact));  // changed: sent
  fact.playing = 0;
  rig.notify(kTransportFactMessage, bytesOf(fact));  // changed: sent
  rig.notify(kTransportFactMessage, bytesOf(fact));  // unchanged and stopped: never repeated
  EXPECT_EQ(rig.sent("norva.transport").size(), 3u);
  EXPECT_EQ(lastEvent(*rig.controller, 1), R"("atFrame":480,"kind":"tempoChanged","detail":{"tempo":90,"previous":120}})");
  EXPECT_EQ(lastEvent(*rig.controller), R"("atFrame":480,"kind":"timeSignatureChanged","detail":{"numerator":3,)"
                                        R"("denominator":4,"previousNumerator":4,"previousDenominator":4}})");

  // A subscribe resends the held fact and asks the processor for a full
  // one; the tick after it does not.
  rig.ui.clear(), rig.peer->log.clear();
  rig.send(R"({"type":"norva.diag.subscribe","feeds":["transport"],"hz":30})");
  EXPECT_EQ(rig.sent("norva.transport").size(), 1u);
  rig.controller->tickCadence();
  std::vector<std::pair<std::string, int64_t>> polls;
  for (const probe::MessageRecord &record : rig.peer->log) polls.emplace_back(record.id, record.reset);
  EXPECT_EQ(polls, (std::vector<std::pair<std::string, int64_t>>{
                       {kTransportPollMessage, 1}, {kTransportPollMessage, 0}, {kFeedDrainMessage, -1}}));
  rig.controller->onEditorClosed();
  fact.tempo = 100;
  rig.notify(kTransportFactMessage, bytesOf(fact));
  EXPECT_EQ(rig.sent("norva.transport").size(), 1u) << "stored, not sent, once the editor is gone";
}

TEST(ControllerCadence, AClockOnTheHostsRunLoopTicksTwoMessages) {
  IPtr<RunLoopContext> context = owned(new RunLoopContext());
  {
    Rig rig("Norva Probe", context);
    ASSERT_TRUE(rig.controller->cadenceClockRunning() && context->timer);
    EXPECT_EQ(context->intervalMs, 33u);
    context->timer->onTimer();
    context->timer->onTimer();
    Texts ids;
    for (const probe::MessageRecord &record : rig.peer->log) ids.push_back(record.id);
    EXPECT_EQ(ids, (Texts{kTransportPollMessage, kFeedDrainMessage, kTransportPollMessage, kFeedDrainMessage}));

    // Exported clocks go on the run loop the live controller's host offered.
    int calls = 0;
    const auto count = [](void *calls) { ++*static_cast<int *>(calls); };
    EXPECT_EQ(norvaStartCadenceClock(nullptr, &calls, 0.05), nullptr);
    for (double refused : {0.0, -1.0, std::nan(""), 1e9}) EXPECT_EQ(norvaStartCadenceClock(count, &calls, refused), nullptr);
    void *clock = norvaStartCadenceClock(count, &calls, 0.05);
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(context->intervalMs, 50u);
    context->timer->onTimer();
    EXPECT_EQ(calls, 1);
    norvaStopCadenceClock(nullptr);
    norvaStopCadenceClock(&calls);  // not a clock: ignored
    norvaStopCadenceClock(clock);
    EXPECT_FALSE(context->timer);
    norvaStopCadenceClock(clock);  // a second stop is ignored too
  }
  EXPECT_FALSE(context->timer) << "terminate stops the clock";
  EXPECT_FALSE(Rig().controller->cadenceClockRunning()) << "no run loop, no clock";
  EXPECT_EQ(norvaStartCadenceClock([](void *) {}, nullptr, 0.05), nullptr) << "the run loop left with its controller";
}

// --- views and banks -----------------------------------------------------------------------------------

// The view itself comes from the editor library (tests/editor_test.cpp);
// without it installed there is none.
TEST(ControllerViews, OnlyTheExactEditorNameAndNoViewWithoutTheEditor) {
  EXPECT_TRUE(NorvaController::isEditorViewName("editor"));
  for (const char *name : {"Editor", "editor ", "", static_cast<const char *>(nullptr)})
    EXPECT_FALSE(NorvaController::isEditorViewName(name)) << (name ? name : "null");
  EXPECT_EQ(Rig().controller->createView("editor"), nullptr);
}

// Controller and processor connected as a host connects them: a bank the
// loader reads whole is refused by the engine, and the editor hears why.
TEST(ControllerBanks, ABankRequestGoesToTheProcessorAndItsRefusalComesBack) {
  test::BankFolder bank;
  bank.addWav("kick", "audio/kick.wav", test::kPcm16Mono, {0.5, -0.25});
  bank.addInstrument("drums", "Drums", "drums.json", R"([{"id":"k","assetId":"kick"}])");
  bank.writeManifest();
  Rig rig;
  auto *processor = new NorvaProcessor();
  ASSERT_EQ(processor->initialize(rig.host), kResultOk);
  rig.controller->disconnect(rig.peer);
  IPtr<probe::ConnectionProxy> toController = owned(new probe::ConnectionProxy(processor));
  IPtr<probe::ConnectionProxy> toProcessor = owned(new probe::ConnectionProxy(rig.controller));
  ASSERT_EQ(toController->connect(rig.controller), kResultOk);
  ASSERT_EQ(toProcessor->connect(processor), kResultOk);
  rig.attach();

  rig.send(R"({"type":"norva.loadBank","source":")" + std::string(kBankSourceUserFolder) + R"(","bankPath":)" +
           test::quotedJson(bank.path()) + R"(,"instrument":"drums"})");
  rig.send(R"({"type":"norva.pickFolder"})");
  EXPECT_EQ(toProcessor->log().at(0).id, kLoadRuntimeBankMessage);
  const Texts states = rig.sent("norva.bankState");
  ASSERT_EQ(states.size(), 1u);
  EXPECT_NE(states[0].find(R"("error":{"code":"bank-too-large","requestedId":"drums"})"), std::string::npos) << states[0];
  EXPECT_EQ(rig.sent("norva.folderPicked"),
            Texts{R"({"type":"norva.folderPicked","ok":false,"error":"this build has no folder picker"})"});
  toController->disconnect(rig.controller);
  toProcessor->disconnect(processor);
  processor->terminate();
  processor->release();
}

} // namespace

// --- the authored plane ----------------------------------------------------------------------------

namespace plane {

uint8_t byteAt(const NorvaController &c, StepField field, int pattern, int step) {
  return c.plane()[planeLaneOffset(field) + planeCell(pattern, step)];
}

// The messages the processor got, by id.
std::vector<std::string> toProcessor(const Rig &rig, const char *id) {
  std::vector<std::string> out;
  for (const probe::MessageRecord &m : rig.peer->log)
    if (m.id == id) out.push_back(m.json);
  return out;
}

} // namespace plane

// A field set by the editor: kept as the byte form holds it, sent to the
// processor as one field, echoed with the pattern as stored, and the
// project marked changed.
TEST(ControllerPlane, AFieldIsKeptSentEchoedAndMarksTheProject) {
  Rig rig;
  rig.attach();
  rig.send(R"({"type":"norva.setStepField","pattern":2,"step":3,"field":"gate","value":250})");
  rig.send(R"({"type":"norva.setPatternField","pattern":2,"field":"direction","value":3})");
  EXPECT_EQ(plane::byteAt(*rig.controller, kStepGate, 2, 3), 200);
  EXPECT_EQ(rig.controller->plane()[planeRowOffset(kPatternDirection) + 2], 3);
  const auto fields = plane::toProcessor(rig, kPlaneFieldMessage);
  ASSERT_EQ(fields.size(), 2u);
  PlaneFieldSet set;
  ASSERT_TRUE(decodePlaneFieldSet(reinterpret_cast<const uint8_t *>(fields[0].data()), fields[0].size(), set));
  EXPECT_TRUE(!set.patternLevel && set.pattern == 2 && set.step == 3 && set.field == kStepGate && set.value == 250);
  const Texts echoes = rig.sent("norva.pattern");
  ASSERT_EQ(echoes.size(), 2u);
  EXPECT_TRUE(echoes[1].starts_with(R"({"type":"norva.pattern","pattern":{"index":2,"length":32,"resolution":0,)"
                                    R"("direction":3,"steps":[{"note":60,"velocity":100,"gate":50,)"));
  EXPECT_NE(echoes[1].find(R"({"note":60,"velocity":64,"gate":200,"tie":0,"curve":0,"ratchet":1,"on":1})"),
            std::string::npos);
  EXPECT_EQ(rig.handler->dirtyMarks, 2);
}

// Whatever the editor sends that is not a plane change changes nothing and
// marks nothing: the editor is told why, and gets the pattern it named back
// as it stands.
TEST(ControllerPlane, RefusedMessagesChangeNothing) {
  Rig rig;
  rig.attach();
  for (const char *text : {
           R"({"type":"norva.setStepField","pattern":2,"step":3,"field":"pitch","value":60})",
           R"({"type":"norva.setStepField","pattern":2,"step":32,"field":"note","value":60})",
           R"({"type":"norva.setStepField","pattern":2,"step":3,"field":"note","value":60.5})",
           R"({"type":"norva.setStepField","pattern":2,"step":3,"field":"note","value":256})",
           R"({"type":"norva.setStepField","pattern":2,"step":3,"field":"note"})",
           R"({"type":"norva.setPatternField","pattern":2,"field":"gate","value":1})",
           R"({"type":"norva.pastePattern","pattern":2})",
           R"({"type":"norva.duplicatePattern","pattern":2,"to":32})",
           R"({"type":"norva.setPattern","pattern":2})",
       }) {
    rig.send(text);
  }
  uint8_t factory[kPlaneBytes];
  writeFactoryPlane(factory);
  EXPECT_EQ(std::memcmp(rig.controller->plane(), factory, kPlaneBytes), 0);
  EXPECT_TRUE(rig.peer->log.empty());
  EXPECT_EQ(rig.handler->dirtyMarks, 0);
  const Texts refused = rig.sent("norva.refused");
  ASSERT_EQ(refused.size(), 9u);
  EXPECT_EQ(refused[6], R"({"type":"norva.refused","request":"norva.pastePattern","reason":"nothing was copied"})");
  EXPECT_EQ(refused[7], R"({"type":"norva.refused","request":"norva.duplicatePattern",)"
                        R"("reason":"\"to\" is not a pattern index 0..31"})");
  const Texts echoes = rig.sent("norva.pattern");
  EXPECT_EQ(echoes.size(), 8u); // all but the duplicate, whose target is no pattern
  for (const std::string &echo : echoes) EXPECT_EQ(echo, echoes[0]);
  EXPECT_EQ(rig.ui.size(), refused.size() + echoes.size());
}

// Pattern moves the step-velocity parameters and Length to the selected
// pattern's row, whoever changes it; the row left keeps what they held. The
// clipboard is known to the editor after a copy and with the plane.
TEST(ControllerPlane, PatternMovesTheStepParametersAndTheClipboardIsKnown) {
  Rig rig;
  rig.attach();
  rig.send(R"({"type":"norva.setStepField","pattern":1,"step":0,"field":"velocity","value":11})");
  rig.send(R"({"type":"norva.setPatternField","pattern":1,"field":"length","value":3})");
  const auto plain = [&](uint32_t id) { return paramToPlain(NORVA_PARAMS[id], rig.controller->getParamNormalized(id)); };
  const auto hostSets = [&](uint32_t id, double value) {
    rig.controller->setParamNormalized(id, norva_param_normalize(&NORVA_PARAMS[id], value));
  };
  hostSets(kParamFirstStepVelocity, 99); // automation of pattern 0's first step
  rig.ui.clear();
  hostSets(kParamPattern, 1);
  EXPECT_EQ(plain(kParamFirstStepVelocity), 11);
  EXPECT_EQ(plain(kParamLength), 3);
  const Texts changes = rig.sent("norva.paramChanged");
  EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                          [](const std::string &t) { return t.find(R"("path":"tindrel.g1","value":11,)") != std::string::npos; }),
            1);
  rig.send(R"({"type":"norva.setParam","path":"tindrel.pattern","value":0})"); // the editor's selection
  EXPECT_EQ(plain(kParamFirstStepVelocity), 99);
  EXPECT_EQ(plane::byteAt(*rig.controller, kStepVelocity, 0, 0), 99);
  EXPECT_EQ(plane::byteAt(*rig.controller, kStepVelocity, 1, 0), 11);
  EXPECT_TRUE(plane::toProcessor(rig, kPlaneMessage).empty()); // the processor moves its own

  rig.send(R"({"type":"norva.getPlane"})");
  EXPECT_EQ(rig.sent("norva.clipboard"), Texts{R"({"type":"norva.clipboard","holds":false})"});
  rig.send(R"({"type":"norva.copyPattern","pattern":1})");
  const Texts clipboard = rig.sent("norva.clipboard");
  ASSERT_EQ(clipboard.size(), 2u);
  EXPECT_TRUE(clipboard[1].starts_with(R"({"type":"norva.clipboard","holds":true,"pattern":1,"data":{"index":1,"length":3,)"))
      << clipboard[1];
}

// Copy, paste, duplicate, clear and a whole pattern: the processor gets the
// whole plane each time, the editor the changed pattern.
TEST(ControllerPlane, PatternsAreCopiedPastedDuplicatedClearedAndSet) {
  Rig rig;
  rig.attach();
  rig.send(R"({"type":"norva.setStepField","pattern":1,"step":0,"field":"note","value":70})");
  rig.send(R"({"type":"norva.copyPattern","pattern":1})");
  rig.send(R"({"type":"norva.pastePattern","pattern":4})");
  rig.send(R"({"type":"norva.duplicatePattern","pattern":1,"to":6})");
  rig.send(R"({"type":"norva.clearPattern","pattern":1})");
  rig.send(R"({"type":"norva.setPattern","pattern":9,"data":{"length":5,"steps":[{"note":40,"tie":true}]}})");
  for (auto [pattern, note] : {std::pair{1, 60}, {4, 70}, {6, 70}, {9, 40}})
    EXPECT_EQ(plane::byteAt(*rig.controller, kStepNote, pattern, 0), note) << pattern;
  EXPECT_EQ(plane::byteAt(*rig.controller, kStepTie, 9, 0), 1);
  EXPECT_EQ(rig.controller->plane()[planeRowOffset(kPatternLength) + 9], 5);
  const auto planes = plane::toProcessor(rig, kPlaneMessage);
  ASSERT_EQ(planes.size(), 4u);
  EXPECT_EQ(std::memcmp(planes.back().data(), rig.controller->plane(), kPlaneBytes), 0);
  EXPECT_EQ(rig.sent("norva.pattern").size(), 5u);
  EXPECT_EQ(rig.handler->dirtyMarks, 5);
}

// The selected pattern's velocities and length are the step-velocity
// parameters and Length: the host hears an edit of one as an edit of its
// parameter, and what the host set is what the editor sees and copies.
TEST(ControllerPlane, TheSelectedPatternsVelocityAndLengthAreItsParameters) {
  Rig rig;
  rig.attach();
  rig.send(R"({"type":"norva.setStepField","pattern":0,"step":2,"field":"velocity","value":90})");
  rig.send(R"({"type":"norva.setStepField","pattern":3,"step":2,"field":"velocity","value":90})");
  rig.send(R"({"type":"norva.setPatternField","pattern":0,"field":"length","value":8})");
  rig.send(R"({"type":"norva.setPatternField","pattern":3,"field":"length","value":8})");
  const ParamID g3 = kParamFirstStepVelocity + 2;
  const double eight = norva_param_normalize(&NORVA_PARAMS[kParamLength], 8);
  EXPECT_EQ(rig.handler->calls, (Calls{{Call::begin, g3}, {Call::perform, g3, 90.0 / 127}, {Call::end, g3},
                                       {Call::begin, kParamLength}, {Call::perform, kParamLength, eight},
                                       {Call::end, kParamLength}}));
  rig.controller->setParamNormalized(kParamFirstStepVelocity, 30.0 / 127);
  rig.controller->setParamNormalized(kParamLength, norva_param_normalize(&NORVA_PARAMS[kParamLength], 12));
  rig.send(R"({"type":"norva.duplicatePattern","pattern":0,"to":5})");
  EXPECT_EQ(plane::byteAt(*rig.controller, kStepVelocity, 5, 0), 30);
  EXPECT_EQ(rig.controller->plane()[planeRowOffset(kPatternLength) + 5], 12);
  rig.send(R"({"type":"norva.getPlane"})");
  EXPECT_TRUE(rig.sent("norva.plane").back().starts_with(
      R"({"type":"norva.plane","patterns":[{"index":0,"length":12,"resolution":0,"direction":0,"steps":[{"note":60,"velocity":30,)"));
}

// "norva.getState" carries the plane, "norva.setState" takes it (whole or
// not at all), and a host's component state brings it to the editor.
TEST(ControllerPlane, StatesCarryThePlane) {
  Rig a;
  a.attach();
  a.send(R"({"type":"norva.setStepField","pattern":5,"step":7,"field":"ratchet","value":20})");
  a.send(R"({"type":"norva.getState"})");
  const Texts states = a.sent("norva.state");
  ASSERT_EQ(states.size(), 1u);
  const std::string document = states[0].substr(std::string(R"({"type":"norva.state","state":)").size(),
                                                states[0].size() - 1 - std::string(R"({"type":"norva.state","state":)").size());
  ASSERT_NE(document.find("\"authoredState\""), std::string::npos);

  Rig b;
  b.attach();
  b.send(R"({"type":"norva.setState","state":)" + document + "}");
  EXPECT_EQ(plane::byteAt(*b.controller, kStepRatchet, 5, 7), 8);
  EXPECT_EQ(plane::toProcessor(b, kPlaneMessage).size(), 1u);
  EXPECT_EQ(b.sent("norva.plane").size(), 1u);

  Rig c;
  c.send(R"({"type":"norva.setState","state":{"params":{"tindrel.bpm":200},"authoredState":{"v":3,"bytes":"AA=="}}})");
  EXPECT_EQ(c.controller->getParamNormalized(kParamBpm), NORVA_PARAMS[kParamBpm].defaultNormalized);
  EXPECT_TRUE(c.peer->log.empty());

  Rig d;
  d.attach();
  probe::MemoryStream stream(document);
  EXPECT_EQ(d.controller->setComponentState(&stream), kResultOk);
  EXPECT_EQ(plane::byteAt(*d.controller, kStepRatchet, 5, 7), 8);
  ASSERT_EQ(d.sent("norva.plane").size(), 1u);
  EXPECT_TRUE(d.sent("norva.plane")[0].starts_with(R"({"type":"norva.plane","patterns":[{"index":0,)"));
}
