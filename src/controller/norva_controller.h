// NorvaController: the plug-in's edit controller. It publishes the
// catalogue's parameters to the host, in one unit per catalogue group,
// answers MIDI-controller assignments from the CC map, restores the
// processor's state document into the parameters, keeps its own small state
// (CC map and pad overrides), and is the editor's BridgeHost: it answers the
// editor's messages, reports parameter changes, host facts, transport and
// lifecycle events to it, and owns the bank control through which the editor
// loads banks.
//
// The processor is reached only through VST 3 messages: what the controller
// sends, and what it makes of the processor's messages and of the cadence
// tick, is in processor_messages.cpp; the editor's messages are handled in
// bridge_dispatch.cpp and the bank control's host in bank_bridge.cpp.
//
// Everything runs on the host's user-interface thread; nothing is locked.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "banks/control/bank_control.h"
#include "bridge/bridge_message.h"
#include "ccmap/cc_map.h"
#include "controller/bridge_host.h"
#include "controller/cadence_clock.h"
#include "diagnostics/diagnostic_reports.h"
#include "diagnostics/host_facts.h"
#include "diagnostics/lifecycle_log.h"
#include "params/authored_plane.h"
#include "params/params.h"
#include "state/pattern_json.h"
#include "vst3/abi/ivstmidicontrollers.h"
#include "vst3/sdk/vsteditcontroller.h"

namespace norva {

class NorvaController : public Steinberg::Vst::EditControllerEx1,
                        public Steinberg::Vst::IMidiMapping,
                        public BridgeHost {
public:
  // The bank control's way to the host, the processor and the editor.
  class BankBridge final : public BankControlHost {
  public:
    explicit BankBridge(NorvaController &owner) : owner_(&owner) {}

    void sendBankJson(const std::string &json) override;
    void editParam(unsigned index, double plain) override;
    double readParam(unsigned index) const override;
    void requestRuntimeBank(const std::string &source, const std::string &folder, const std::string &sha256,
                            const std::string &instrument) override;
    bool applyPadOverrides(const SamplerPadOverrides &pads) override;
    bool pickFolder(std::string &path, std::string &error) override;
    void notePresetSelected(const std::string &id, const std::string &name) override;

  private:
    NorvaController *owner_;
  };

  NorvaController();
  ~NorvaController() override;

  static Steinberg::FUnknown *createInstance(void *context);

  // IPluginBase
  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown *context) override;
  Steinberg::tresult PLUGIN_API terminate() override;
  // IEditController
  Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream *state) override;
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream *state) override;
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream *state) override;
  Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID tag,
                                                   Steinberg::Vst::ParamValue value) override;
  Steinberg::IPlugView *PLUGIN_API createView(Steinberg::FIDString name) override;
  // IConnectionPoint: the processor's messages.
  Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage *message) override;
  // IMidiMapping: the first enabled binding of the CC map that matches.
  Steinberg::tresult PLUGIN_API getMidiControllerAssignment(Steinberg::int32 busIndex,
                                                            Steinberg::int16 channel,
                                                            Steinberg::Vst::CtrlNumber midiControllerNumber,
                                                            Steinberg::Vst::ParamID &id) override;

  // BridgeHost
  void handleBridgeMessage(const char *json, size_t length) override;
  void setBridgeSink(BridgeSink sink) override;
  void onEditorOpened() override;
  void onEditorClosed() override;
  void onEditorError(const char *reason) override;

  OBJ_METHODS(NorvaController, EditControllerEx1)
  DEFINE_INTERFACES
  DEF_INTERFACE(Steinberg::Vst::IMidiMapping)
  END_DEFINE_INTERFACES(EditControllerEx1)
  REFCOUNT_METHODS(EditControllerEx1)

  // The view name the editor answers to ("editor", exactly).
  static bool isEditorViewName(Steinberg::FIDString name);
  // Makes the editor's view for a controller: the module, which links the
  // editor, installs it; rootOverride null serves the bundle's own page.
  using EditorViewFactory = Steinberg::IPlugView *(*)(NorvaController *controller, const char *rootOverride);
  // Installs the factory createView("editor") calls; null removes it, and
  // createView then makes no view.
  static void setEditorViewFactory(EditorViewFactory factory);

  // Installs a CC map: the host is told the assignments changed, the
  // processor gets the map, the change is recorded and, with notifyEditor,
  // the editor hears of it.
  void adoptCcMap(const CcMap &map, bool notifyEditor);
  void sendCcMapToProcessor();

  // Facts from the processor.
  void adoptTransportFact(const TransportFact &fact);
  void adoptHostFacts(const HostFacts &facts);

  // The cadence tick: a transport poll, then a feed drain, to the processor.
  void tickCadence();
  void pollTransport();
  void drainProcessorFeeds();
  // Outbound to the editor; each is dropped while no sink is installed.
  void sendHello();
  void sendParamChanged(Steinberg::Vst::ParamID id, double normalized);
  void sendToUi(const std::string &text);

  // Lifecycle events: record one (fields go on the returned event), send the
  // newest to a subscribed editor, or both at once; replay the whole log.
  DiagnosticLifecycleEvent &recordLifecycle(DiagnosticLifecycleKind kind, int64_t atFrame = -1);
  void publishLastLifecycle();
  void emitLifecycle(DiagnosticLifecycleKind kind, int64_t atFrame = -1);
  void replayLifecycle();

  void refreshPresetState();
  // True once a value differs from the preset baseline; no baseline (the
  // plug-in has no factory presets) is never dirty.
  bool presetDirty();

  // What the controller holds, for tests and the diagnostic bridge.
  const HostFacts &hostFacts() const { return hostFacts_; }
  const CcMap &ccMap() const { return ccMap_; }
  bool hasCcMap() const { return hasCcMap_; }
  const SamplerPadOverrides &padOverrides() const { return bankControl_.pads(); }
  const BankControl &bankControl() const { return bankControl_; }
  const PresetStateFacts &presetState() const { return presetState_; }
  const DiagnosticLifecycleLog &lifecycle() const { return lifecycle_; }
  const std::string &runtimeHealthReport() const { return runtimeHealth_; }
  uint32_t feedMask() const { return feedMask_; }
  double maxFeedRate() const { return maxFeedRate_; }
  // The shortest time between two repeats of an unchanged, playing transport.
  double transportRepeatIntervalMs() const;
  bool helloSent() const { return helloSent_; }
  bool cadenceClockRunning() const { return clock_.running(); }
  const uint8_t (&plane() const)[kPlaneBytes] { return plane_; }

private:
  void captureHostIdentity(Steinberg::FUnknown *context);
  // The root unit and one unit per catalogue group, which the parameters
  // name as theirs.
  void addUnits();
  // The current plain value of a catalogue row (index below kParamCount).
  double currentPlain(uint32_t index);
  // Allocates, fills and sends one message to the processor; false when
  // no message could be made or the send failed.
  bool sendToProcessor(const char *id, const void *payload, uint32_t size, bool hasPayload,
                       const char *intAttribute = nullptr, int64_t intValue = 0);
  void adoptRestoredDocument(const StateChunk &chunk);
  void applySetState(const BridgeMessage &message, size_t length);
  // The authored plane (plane_dispatch.cpp).
  bool handlePlaneMessage(const BridgeMessage &message);
  // An editor message refused: the console line, and "norva.refused" to the editor.
  void refuseMessage(const std::string &type, const char *reason);
  // The same for a message that named a valid pattern, which is echoed as it stands; true.
  bool refusePatternMessage(const std::string &type, const char *reason, int pattern);
  void sendClipboardToUi();
  void changePattern(int pattern, const AuthoredPattern &bytes);
  void adoptPlane(const uint8_t (&plane)[kPlaneBytes]);
  // The step-velocity parameters of steps [firstStep, endStep), and Length
  // when `length`, follow the plane when `pattern` is the selected one.
  void followSelectedPattern(int pattern, int firstStep, int endStep, bool length);
  // Sets a parameter without echoing it. A change of Pattern keeps the row
  // the step parameters and Length held in the pattern left, and they take
  // the new pattern's (as the processor does at the same change).
  Steinberg::tresult setParamMovingRows(Steinberg::Vst::ParamID tag, Steinberg::Vst::ParamValue value);
  void keepSelectedRow(double left);
  void takeSelectedRow();
  // The plane as played and saved: the selected pattern's velocities and
  // length from the parameters.
  void planeForSaving(uint8_t (&bytes)[kPlaneBytes]);
  AuthoredPattern playedPattern(int pattern);
  void sendPatternToUi(int pattern);
  void sendPlaneToUi();
  void sendState();
  void subscribeFeeds(const BridgeMessage &message);
  void sendTransport(const TransportFact &fact);
  bool subscribed(uint32_t feed) const { return static_cast<bool>(sink_) && (feedMask_ & feed) != 0; }

  BankBridge bankBridge_{*this};
  BankControl bankControl_{bankBridge_};
  BridgeSink sink_;
  int32_t echoParam_ = -1;
  double echoValue_ = -1.0;
  CcMap ccMap_;
  bool hasCcMap_ = false;
  std::string runtimeHealth_;
  HostFacts hostFacts_;
  bool helloSent_ = false;
  uint32_t hostChangedSeq_ = 0;
  PresetStateFacts presetState_;
  std::array<double, kParamCount> presetBaseline_{};
  bool presetBaselineValid_ = false;
  uint32_t feedMask_ = 0;
  double maxFeedRate_ = 0.0;
  DiagnosticLifecycleLog lifecycle_;
  TransportFact transport_;
  bool transportValid_ = false;
  double lastTempo_ = 0.0;
  int32_t lastNumerator_ = 0;
  int32_t lastDenominator_ = 0;
  double lastTransportSentMs_ = -1.0;
  bool transportResetPending_ = false;
  CadenceClock clock_;
  uint8_t plane_[kPlaneBytes];
  AuthoredPattern clipboard_;
  int clipboardFrom_ = -1; // the pattern the clipboard's copy came from; -1: nothing copied
};

} // namespace norva
