// The processor's bank reply from arbitrary bytes, as the bank control adopts
// it: every text the control then sends is strict JSON, the runtime bank is
// there exactly when the reply says "ok", and applying each adopted preset
// (whose re-request is answered at once with the same reply) edits only
// catalogue parameters with finite values.
#include <cmath>
#include <cstdint>
#include <string>

#include "../tests/strict_json.h"
#include "banks/bank_source.h"
#include "banks/control/bank_control.h"
#include "fuzz_support.h"
#include "params/params.h"

namespace {

using norva::fuzz::fail;

struct FuzzHost : norva::BankControlHost {
  void sendBankJson(const std::string &text) override {
    if (!norva::strict::valid(text)) fail("not strict JSON: %s", text.c_str());
    last = text;
  }
  void editParam(unsigned index, double plain) override {
    if (index >= norva::kParamCount || !std::isfinite(plain)) fail("edit of %u to %g", index, plain);
  }
  double readParam(unsigned) const override { return 0.0; }
  void requestRuntimeBank(const std::string &, const std::string &, const std::string &,
                          const std::string &) override {
    if (++requests < 16) control->adoptRuntimeBankReply(reply);
  }
  bool applyPadOverrides(const norva::SamplerPadOverrides &) override { return true; }
  bool pickFolder(std::string &, std::string &) override { return false; }
  void notePresetSelected(const std::string &, const std::string &) override {}

  norva::BankControl *control = nullptr;
  std::string reply, last;
  int requests = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzHost host;
  norva::BankControl control(host);
  host.control = &control;
  host.reply.assign(reinterpret_cast<const char *>(data), size);
  control.handleRuntimeBank(norva::kBankSourceUserFolder, "/banks/fuzz", "", "", "");

  const norva::RuntimeBankReply reply = norva::decodeRuntimeBankReply(host.reply);
  if (control.runtimeActive() != reply.ok()) fail("runtime bank %d for outcome %s", control.runtimeActive(),
                                                  reply.outcome.c_str());
  control.sendBankState(nullptr, nullptr, nullptr);
  const bool runtimeBlock = host.last.find(R"(,"runtime":{"source":"user-folder")") != std::string::npos;
  if (runtimeBlock != reply.ok()) fail("runtime block %d for outcome %s", runtimeBlock, reply.outcome.c_str());

  for (size_t i = 0; i < reply.presets.size() && i < 8; ++i) control.handleBankPreset(reply.presets[i].id);
  return 0;
}
