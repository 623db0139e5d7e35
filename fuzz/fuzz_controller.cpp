// The edit controller driven by arbitrary episodes of editor messages,
// processor messages with any payload, cadence ticks, host parameter changes
// and editor sessions, plus the editor manifest scanner. Editor messages,
// ticks and sinks go through the diagnostic bridge's exports, as a test
// harness drives them. Every text sent to the editor must be strict JSON; a
// manifest value found must fit its room and hold no quote or backslash.
// Hosted banks are never requested (they would go to the network).
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "banks/bank_source.h"
#include "banks/runtime_bank_reply.h"
#include "controller/norva_controller.h"
#include "diagnostics/component_messages.h"
#include "fuzz_support.h"
#include "identity/diagnostic_bridge.h"
#include "vst3/sdk/smartpointer.h"
#include "vst3_host.h"
#include "../tests/strict_json.h"

namespace {

using namespace norva;
using namespace Steinberg;
using norva::fuzz::fail;

const char *const kProcessorIds[] = {kRuntimeBankResultMessage, kLifecycleKindMessage, kTransportFactMessage,
                                     kSignalMessage, kHostFactsMessage, kRuntimeDiagnosticsMessage, "norva.unknown"};

// A 16-bit length, low byte first, then that many bytes.
std::string payload(fuzz::Reader &in) {
  size_t length = in.u8();
  length |= size_t(in.u8()) << 8;
  std::string out;
  while (out.size() < length && !in.empty()) out += char(in.u8());
  return out;
}

void strictSink(void *, const char *json, size_t length) {
  if (!strict::valid(std::string(json, length))) fail("not strict JSON: %.*s", int(length), json);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  IPtr<probe::HostApplication> host = owned(new probe::HostApplication());
  IPtr<probe::MessageSink> processor = owned(new probe::MessageSink());
  auto *controller = new NorvaController();
  controller->initialize(host);
  controller->setComponentHandler(owned(new probe::HostComponentHandler()));
  controller->connect(processor);
  FUnknown *bridged = static_cast<Vst::IEditController *>(controller);
  auto expectServed = [](int answer) {
    if (answer != 1) fail("the bridge refused its own controller");
  };
  expectServed(norvaInstallDiagnosticBridgeSink(bridged, strictSink, nullptr));

  fuzz::Reader in(data, size);
  while (!in.empty()) {
    switch (in.u8() % 7) {
    case 0: {  // an editor message, in a block of its exact size
      const std::string text = payload(in);
      std::unique_ptr<char[]> exact(new char[text.size()]);
      std::memcpy(exact.get(), text.data(), text.size());
      BridgeMessage parsed;
      if (parseBridgeMessage(exact.get(), text.size(), parsed) && parsed.source == kBankSourceHosted) break;
      expectServed(norvaDeliverDiagnosticBridgeMessage(bridged, exact.get(), text.size()));
      break;
    }
    case 1: {
      IPtr<probe::HostMessage> message = owned(new probe::HostMessage());
      message->setMessageID(kProcessorIds[in.u8() % std::size(kProcessorIds)]);
      const std::string bytes = payload(in);
      message->getAttributes()->setBinary(kMessagePayloadAttribute, bytes.data(), uint32(bytes.size()));
      controller->notify(message);
      break;
    }
    case 2: expectServed(norvaTickDiagnosticCadence(bridged)); break;
    case 3: controller->setParamNormalized(in.u8(), in.f64()); break;
    case 4: controller->onEditorClosed(), expectServed(norvaInstallDiagnosticBridgeSink(bridged, nullptr, nullptr)); break;
    case 5: expectServed(norvaInstallDiagnosticBridgeSink(bridged, strictSink, nullptr)), controller->onEditorOpened(); break;
    default: {
      std::string value;
      constexpr size_t kRoom = 16;
      if (uiManifestString(payload(in), "k", value, kRoom) &&
          (value.size() > kRoom - 2 || value.find_first_of("\"\\") != std::string::npos))
        fail("manifest value out of bounds: %s", value.c_str());
    }
    }
  }
  controller->terminate();
  controller->release();
  return 0;
}
