// norva-probe bridge: the plug-in's controller driven over its exported
// diagnostic bridge, as the editor would drive it, with the processor
// running in real time beside it. A script or a browser test talks to it
// one JSON message per line: editor messages in on standard input, the
// controller's messages out on standard output.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "identity/diagnostic_bridge.h"
#include "probe_options.h"
#include "render.h"
#include "vst3_backend.h"

namespace norva::probe {

// The processor runs kBridgeBlockFrames-frame blocks at kBridgeSampleRate;
// the cadence ticks kBridgeTickHz times a second, as the controller's clock
// on a host's run loop would.
inline constexpr uint32_t kBridgeSampleRate = kDefaultSampleRate;
inline constexpr uint32_t kBridgeBlockFrames = kDefaultBlockFrames;
inline constexpr double kBridgeTickHz = 30.0;
// A longer input line is dropped whole, with a notice.
inline constexpr size_t kBridgeMaxLineBytes = size_t(4) << 20;
// An input line that begins with this character is a command to the probe
// as the host, not an editor message (those are JSON objects):
//   !automate PATH VALUE   the host automates parameter PATH ("tindrel.bpm")
//                          to the plain VALUE: the processor gets the change
//                          at the start of the next block and the controller
//                          its setParamNormalized, as a host's automation does.
inline constexpr char kBridgeHostCommandMark = '!';
inline constexpr std::string_view kBridgeAutomateCommand = "automate";

// The bridge's exports of a loaded bundle, with the types they are declared
// with.
struct DiagnosticBridgeEntries {
  decltype(&norvaDiagnosticBridgeAbiVersion) abiVersion = nullptr;
  decltype(&norvaInstallDiagnosticBridgeSink) installSink = nullptr;
  decltype(&norvaDeliverDiagnosticBridgeMessage) deliver = nullptr;
  decltype(&norvaTickDiagnosticCadence) tick = nullptr;
  decltype(&norvaPluginUiRootForDiagnostics) uiRoot = nullptr;
  decltype(&norvaStartCadenceClock) startClock = nullptr;
  decltype(&norvaStopCadenceClock) stopClock = nullptr;

  // Looks every one up; false, error naming the first missing, otherwise.
  bool resolve(const Vst3Module &module, std::string &error);
};

// One plug-in instance as the bridge runs it: the controller's edits reach
// the processor as parameter changes at the start of the next block, and
// what the processor plays is kept on one frame axis.
class BridgeSession {
public:
  using Sink = std::function<void(std::string_view)>;

  // Loads the bundle, creates, connects and starts both halves and looks up
  // the exports; null with error on any refusal, a missing export or an ABI
  // version other than kDiagnosticBridgeAbiVersion.
  static std::unique_ptr<BridgeSession> open(const std::string &bundlePath, std::string &error);
  ~BridgeSession();
  BridgeSession(const BridgeSession &) = delete;
  BridgeSession &operator=(const BridgeSession &) = delete;

  // Installs sink through the bridge (an empty one removes it); false when
  // the bundle refuses.
  bool setSink(Sink sink);
  bool deliver(std::string_view message);
  bool tick();
  // The host automates the parameter with key path to plain value; false
  // with error for an unknown key or a value the controller does not take.
  bool automate(std::string_view path, double value, std::string &error);
  // One block; its output joins played().
  bool runBlock(std::string &error);

  const std::vector<RenderedEvent> &played() const { return played_; }
  uint64_t frames() const { return frames_; }
  // played() as a MIDI file, at the tempo and channel the controller holds.
  bool writePlayed(const std::string &path, std::string &error);

  const DiagnosticBridgeEntries &entries() const { return entries_; }
  Steinberg::FUnknown *controller() const;
  Steinberg::FUnknown *component() const;

private:
  explicit BridgeSession(const std::string &bundlePath) : backend_(bundlePath) {}
  static void forward(void *context, const char *json, size_t length);

  Vst3Backend backend_;
  DiagnosticBridgeEntries entries_;
  Sink sink_;
  std::vector<BackendOutput> outputs_;
  std::vector<RenderedEvent> played_;
  uint64_t frames_ = 0;
};

// The bridge command: relays lines from input (a file descriptor) to the
// controller and its messages to out, one a line, flushed; runs the
// processor and the cadence in real time until input ends, then writes
// renderPath (when not empty). Errors go to err as prefixed lines.
int runBridge(const std::string &bundlePath, const std::string &renderPath, int input, std::ostream &out,
              std::ostream &err);

} // namespace norva::probe
