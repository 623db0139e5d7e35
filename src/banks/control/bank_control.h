// BankControl: the controller's owner of what the editor knows about sound
// banks: the runtime bank last adopted (its source, chosen instrument or kit,
// the others it offers, its presets) and the per-pad overrides. It turns the
// editor's bank messages into actions, asks the processor for a bank through
// its host, adopts the processor's reply and tells the editor the result in
// one "norva.bankState" message. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "banks/pad_overrides.h"
#include "banks/runtime_bank_reply.h"
#include "bridge/bridge_message.h"

namespace norva {

// The two editor messages the control sends (those it handles are the
// bridge's kBridgeLoadBank ... kBridgeSetPadOverrides).
inline constexpr const char *kBankStateMessage = "norva.bankState";
inline constexpr const char *kFolderPickedMessage = "norva.folderPicked";

// Why a bank state is sent.
inline constexpr const char *kBankReasonQuery = "query";
inline constexpr const char *kBankReasonLoadBank = "loadBank";
inline constexpr const char *kBankReasonSetPadOverrides = "setPadOverrides";
inline constexpr const char *kBankReasonRestore = "restore";
// Error codes of a bank state besides the loader's outcome names (of which
// "bank-missing" is also the code for a bank or preset that is not there).
inline constexpr const char *kBankFetchFailed = "bank-fetch-failed";

// The controller as the bank control sees it.
class BankControlHost {
public:
  virtual ~BankControlHost() = default;
  // One complete JSON text for the editor.
  virtual void sendBankJson(const std::string &text) = 0;
  // A parameter edit, as the editor's own would be (preset application).
  virtual void editParam(unsigned index, double plain) = 0;
  virtual double readParam(unsigned index) const = 0;
  // Sends "norva.loadRuntimeBank"; the reply comes back to
  // BankControl::adoptRuntimeBankReply (possibly before this returns).
  virtual void requestRuntimeBank(const std::string &source, const std::string &folder,
                                  const std::string &sha256, const std::string &instrument) = 0;
  // Hands the overrides to the processor; false refuses them.
  virtual bool applyPadOverrides(const SamplerPadOverrides &pads) = 0;
  // A folder chooser: true with a path, or false with an error (empty when
  // the musician cancelled).
  virtual bool pickFolder(std::string &path, std::string &error) = 0;
  virtual void notePresetSelected(const std::string &id, const std::string &name) = 0;
};

using BankControlPreset = RuntimeBankReplyPreset;

class BankControl {
public:
  explicit BankControl(BankControlHost &host) : host_(&host) {}

  // True when the message was a bank message and was handled.
  bool handleMessage(const BridgeMessage &message);

  void handleRuntimeBank(const std::string &source, const std::string &bankPath, const std::string &instrument,
                         const std::string &url, const std::string &sha256);
  void handleBankPreset(const std::string &id);
  void handlePickFolder();
  // This build compiles no banks in: always "bank-missing" for id.
  void handleCompiledBank(const std::string &id);

  // The text of "norva.runtimeBankResult".
  void adoptRuntimeBankReply(const std::string &reply);
  // reason null is "query"; errorCode null sends no error block; requestedId
  // null is the empty string.
  void sendBankState(const char *reason, const char *errorCode, const char *requestedId);

  void clearRuntimeFacts();
  void adoptRestoredPadOverrides(const SamplerPadOverrides &pads) { pads_ = pads; }

  // The processor's side of the reply.
  static std::string encodeRuntimeBankReply(const char *outcomeName, const std::string &error,
                                            const StagedBank *bank) {
    return norva::encodeRuntimeBankReply(outcomeName, error, bank);
  }

  bool runtimeActive() const { return runtimeActive_; }
  const std::string &source() const { return source_; }
  const std::string &locator() const { return locator_; }
  const std::string &selectedPreset() const { return selectedPreset_; }
  const SamplerPadOverrides &pads() const { return pads_; }

private:
  BankControlHost *host_;
  bool runtimeActive_ = false;
  std::string source_;
  std::string locator_; // the hosted address for "hosted", otherwise the folder
  std::string sha256_;
  std::string requestedInstrument_;
  std::string instrumentId_;
  std::string instrumentName_;
  std::string instrumentList_;
  std::vector<std::string> positionings_; // "id\tname\tlist"
  std::vector<BankControlPreset> presets_;
  std::string selectedPreset_;
  SamplerPadOverrides pads_;
};

} // namespace norva
