// Bank control as the editor and the processor see it, the runtime-bank
// reply between them, and the processor's answer to a bank request and to a
// restored bank reference.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "bank_folder.h"
#include "banks/bank_source.h"
#include "banks/control/bank_control.h"
#include "banks/hosted_bank.h"
#include "banks/published_banks.h"
#include "params/params.h"
#include "processor_rig.h"
#include "strict_json.h"
#include "vst3/sdk/smartpointer.h"

namespace {

using namespace norva;
using Request = std::array<std::string, 4>;
using Edits = std::vector<std::pair<unsigned, double>>;
const char *const kBpmKey = NORVA_PARAMS[kParamBpm].key;

// Records every call. A bank request is answered at once with replyAtOnce
// when set, as a host that delivers messages synchronously would.
struct RecordingHost : BankControlHost {
  void sendBankJson(const std::string &text) override {
    EXPECT_TRUE(strict::valid(text)) << text;
    sent.push_back(text);
  }
  void editParam(unsigned index, double plain) override { edits.emplace_back(index, plain); }
  double readParam(unsigned) const override { return 0.0; }
  void requestRuntimeBank(const std::string &source, const std::string &folder, const std::string &sha256,
                          const std::string &instrument) override {
    requests.push_back({source, folder, sha256, instrument});
    if (!replyAtOnce.empty()) control->adoptRuntimeBankReply(replyAtOnce);
  }
  bool applyPadOverrides(const SamplerPadOverrides &) override { return acceptPads; }
  bool pickFolder(std::string &path, std::string &error) override {
    if (noPicker) return pickBankFolder(path, error);
    return path = pickPath, error = pickError, !path.empty();
  }
  void notePresetSelected(const std::string &id, const std::string &name) override {
    selected.push_back(id + "/" + name);
  }

  std::vector<std::string> sent, selected;
  Edits edits;
  std::vector<Request> requests;
  bool acceptPads = true, noPicker = false;
  std::string pickPath, pickError, replyAtOnce;
  BankControl *control = nullptr;
};

// An instrument, one other kit, and a preset for each.
StagedBank twoInstrumentBank() {
  StagedBank bank;
  bank.instrumentId = "piano", bank.instrumentName = "Grand", bank.instrumentList = "instruments";
  bank.positionings = {{"piano", "Grand", "instruments"}, {"drums", "Kit", "kits"}};
  bank.presets = {{"soft", "Soft", "piano", {{"not.a.param", 3.0}, {kBpmKey, 0.1}}},
                  {"loud", "Loud", "drums", {{kBpmKey, 140.0}}}};
  return bank;
}

struct Control {
  Control() { host.control = &control; }
  // A user-folder request answered "ok" with bank.
  void adopt(const StagedBank &bank) {
    control.handleRuntimeBank(kBankSourceUserFolder, "/banks/a", "", "", "ab12");
    control.adoptRuntimeBankReply(BankControl::encodeRuntimeBankReply("ok", "", &bank));
  }
  RecordingHost host;
  BankControl control{host};
};

TEST(BankControl, AnAdoptedReplyIsTheBankStateByteForByte) {
  Control c;
  c.adopt(twoInstrumentBank());
  ASSERT_EQ(c.host.requests, (std::vector<Request>{{kBankSourceUserFolder, "/banks/a", "ab12", ""}}));
  EXPECT_EQ(c.host.sent.back(),
            R"({"type":"norva.bankState","reason":"loadBank","stateVersion":1,"pads":{},"banks":[],)"
            R"("runtime":{"source":"user-folder","locator":"/banks/a",)"
            R"("instrument":{"id":"piano","name":"Grand","list":"instruments"},)"
            R"("positionings":[{"id":"piano","name":"Grand","list":"instruments"},)"
            R"({"id":"drums","name":"Kit","list":"kits"}]},"presets":{"bankScoped":true,"items":[)"
            R"({"id":"soft","name":"Soft","instrument":"piano",)"
            R"("params":{"not.a.param":3,"tindrel.bpm":0.10000000000000001}},)"
            R"({"id":"loud","name":"Loud","instrument":"drums","params":{"tindrel.bpm":140}}]}})");
}

// A second reply after a bank was adopted; the tail of the state it gives.
TEST(BankControl, AFailedReplyClearsTheRuntimeBankAndNamesWhatWasAsked) {
  const struct {
    std::string reply, instrument, tail;
  } cases[] = {
      {"bank-hash-mismatch\nsize differs", "", R"("error":{"code":"bank-hash-mismatch","requestedId":"/banks/a"}})"},
      {"bank-instrument-unknown\n", "harp", R"("error":{"code":"bank-instrument-unknown","requestedId":"harp"}})"},
      {encodeRuntimeBankReply(nullptr, "", nullptr), "", R"("error":{"code":"missing","requestedId":"/banks/a"}})"},
      {"", "", R"("error":{"code":"","requestedId":"/banks/a"}})"},
      {"ok\n\n\tNo id\tkits", "", R"("positionings":[]},"presets":{"bankScoped":false,"items":[]}})"},
  };
  for (const auto &k : cases) {
    Control c;
    c.adopt(twoInstrumentBank());
    c.control.handleRuntimeBank(kBankSourceUserFolder, "/banks/a", k.instrument, "", "");
    c.control.adoptRuntimeBankReply(k.reply);
    const std::string &state = c.host.sent.back();
    EXPECT_EQ(c.control.runtimeActive(), k.reply.rfind("ok\n", 0) == 0) << k.reply;
    EXPECT_EQ(state.find(R"("runtime")") != std::string::npos, c.control.runtimeActive()) << k.reply;
    EXPECT_TRUE(state.ends_with(k.tail)) << state;
  }
}

// Editor messages: handled or not, the requests made, the end of the last
// text sent (empty: nothing sent), and whether the pads were taken.
TEST(BankControl, EditorMessagesAnswerOrRequestAsTheyShould) {
  const std::string none = R"("presets":{"bankScoped":false,"items":[]})";
  const struct {
    const char *type, *source, *id, *path, *url;
    bool accept, handled;
    size_t requests;
    std::string tail;
  } cases[] = {
      {kBridgeGetBankState, "", "", "", "", true, true, 0,
       R"({"type":"norva.bankState","reason":"query","stateVersion":1,"pads":{},"banks":[],)" + none + "}"},
      {kBridgeLoadBank, kBankSourceEmbedded, "factory", "", "", true, true, 0,
       R"("error":{"code":"bank-missing","requestedId":"factory"}})"},
      {kBridgeLoadBank, kBankSourceEmbedded, "", "", "", true, false, 0, ""},
      {kBridgeLoadBank, kBankSourceUserFolder, "", "", "", true, true, 0,
       R"("error":{"code":"bank-missing","requestedId":"user-folder"}})"},
      {kBridgeLoadBank, kBankSourceHosted, "", "/x", "ftp://bank.invalid/b.zip", true, true, 0,
       R"("error":{"code":"bank-fetch-failed","requestedId":"ftp://bank.invalid/b.zip"}})"},
      {kBridgeLoadBank, kBankSourceUserFolder, "", "/banks/b", "", true, true, 1, ""},
      {kBridgeLoadBankPreset, "", "nope", "", "", true, true, 0, R"("requestedId":"nope"}})"},
      {kBridgeLoadBankPreset, "", "", "", "", true, false, 0, ""},
      {kBridgeSetPadOverrides, "", "", "", "", false, true, 0, ""},
      {kBridgeSetPadOverrides, "", "", "", "", true, true, 0,
       R"("reason":"setPadOverrides","stateVersion":1,"pads":{"p1":{"gain":0.5}},"banks":[],)" + none + "}"},
      {"norva.setParam", "", "", "", "", true, false, 0, ""},
  };
  for (const auto &k : cases) {
    BridgeMessage m;
    m.type = k.type, m.source = k.source, m.id = k.id, m.bankPath = k.path, m.url = k.url;
    m.sha256 = "not-a-digest"; // a hosted fetch refuses it before any download
    m.pads.resize(1);
    m.pads[0].key = "p1", m.pads[0].mask = kPadGain, m.pads[0].gain = 0.5;
    Control c;
    c.host.acceptPads = k.accept;
    EXPECT_EQ(c.control.handleMessage(m), k.handled) << k.type << " " << k.source;
    EXPECT_EQ(c.host.requests.size(), k.requests) << k.type << " " << k.source;
    const std::string last = c.host.sent.empty() ? "" : c.host.sent.back();
    EXPECT_TRUE(last.ends_with(k.tail) && last.empty() == k.tail.empty()) << k.type << ": " << last;
    EXPECT_EQ(c.control.pads().size(), k.accept && m.type == kBridgeSetPadOverrides ? 1u : 0u);
  }
}

TEST(BankControl, PickFolderAnswersWithThePathOrWhyNot) {
  const struct {
    bool noPicker;
    const char *path, *error, *answer;
  } cases[] = {
      {true, "", "", R"({"type":"norva.folderPicked","ok":false,"error":"this build has no folder picker"})"},
      {false, "", "", R"({"type":"norva.folderPicked","ok":false,"cancelled":true})"},
      {false, "/a \"b\"", "", R"({"type":"norva.folderPicked","ok":true,"path":"/a \"b\""})"},
  };
  for (const auto &k : cases) {
    Control c;
    c.host.noPicker = k.noPicker, c.host.pickPath = k.path, c.host.pickError = k.error;
    BridgeMessage pick;
    pick.type = kBridgePickFolder;
    EXPECT_TRUE(c.control.handleMessage(pick));
    EXPECT_EQ(c.host.sent, std::vector<std::string>{k.answer});
  }
}

// A preset of the current instrument applies its catalogue keys and sends
// the state; one of another instrument asks for that instrument first, and
// its state follows the reply (here adopted inside the request, replacing
// the preset list).
TEST(BankControl, BankPresetsApplyCatalogueKeysAndRequestTheirInstrument) {
  Control c;
  c.adopt(twoInstrumentBank());
  c.host.sent.clear();
  c.control.handleBankPreset("soft");
  EXPECT_EQ(c.host.edits, (Edits{{kParamBpm, 0.1}}));
  EXPECT_EQ(c.host.selected, std::vector<std::string>{"soft/Soft"});
  EXPECT_EQ(c.host.sent.size(), 1u);

  StagedBank drums = twoInstrumentBank();
  drums.instrumentId = "drums";
  drums.presets[1].params = {{kBpmKey, 90.0}};
  c.host.replyAtOnce = BankControl::encodeRuntimeBankReply("ok", "", &drums);
  c.control.handleBankPreset("loud");
  EXPECT_EQ(c.host.requests.back(), (Request{kBankSourceUserFolder, "/banks/a", "ab12", "drums"}));
  EXPECT_EQ(c.host.edits, (Edits{{kParamBpm, 0.1}, {kParamBpm, 140.0}})) << "the preset as chosen";
  EXPECT_EQ(c.control.selectedPreset(), "loud");
  EXPECT_EQ(c.host.sent.size(), 2u) << "the reply's state only";
}

// What the layout cannot carry is mended; what reads as no number is left out.
TEST(RuntimeBankReply, TextsThatWouldBreakTheLayoutAreMended) {
  StagedBank bank;
  bank.instrumentId = "a\tb", bank.instrumentName = "\x01name\x1f";
  bank.positionings = {{"p\nq", "", ""}};
  bank.presets = {{"\x01id", "n", "", {{"x=y", 1.0}, {"nan", NAN}, {"big", 1e300}}}};
  const std::string text = encodeRuntimeBankReply("ok", "line\nbreak", &bank);
  EXPECT_EQ(text, "ok\nline break\na b\t name \t\np q\t\t\n\x01 id\tn\t\tx y=1\x1f"
                  "big=1.0000000000000001e+300");
  EXPECT_EQ(decodeRuntimeBankReply(text).instrumentId, "line break") << "a second line that is not empty";

  const RuntimeBankReply odd = decodeRuntimeBankReply("ok\n\n\x01p\t\t\tk\x1fk=1x\x1fk=nan\x1f=2\x1fk=-0.5\x1fk=1=2\t7");
  ASSERT_EQ(odd.presets.size(), 1u);
  EXPECT_EQ(odd.presets[0].params, (std::vector<std::pair<std::string, double>>{{"", 2.0}, {"k", -0.5}}));
}

// --- the processor, with the probe's host objects --------------------------------

using Steinberg::IPtr;
using Steinberg::kResultOk;
using Steinberg::owned;

// Initialised (never set up); the rig's sink records what it sends.
struct Processor : test::ProcessorRig {
  Processor() : ProcessorRig(0) {}
  void request(const std::string &payload) {
    IPtr<probe::HostMessage> message = owned(new probe::HostMessage());
    message->setMessageID(kLoadRuntimeBankMessage);
    message->getAttributes()->setBinary("json", payload.data(), uint32_t(payload.size()));
    EXPECT_EQ(processor->notify(message), kResultOk);
  }
  std::vector<std::string> sent(const char *id) const {
    std::vector<std::string> payloads;
    for (const probe::MessageRecord &record : sink->log)
      if (record.id == id) payloads.push_back(record.json);
    return payloads;
  }
  const norva_runtime_diagnostic_ring &ring() const { return processor->engine().diagnostics(); }
};

TEST(ProcessorBanks, ARequestWithoutAFolderAnswersBankMissingAndLoadsNothing) {
  Processor p;
  for (const char *request : {"\n", "hosted\n\nab12\nharp", "user-folder"}) p.request(request);
  const std::vector<std::string> replies = p.sent(kRuntimeBankResultMessage);
  ASSERT_EQ(replies.size(), 3u);
  for (const std::string &reply : replies) EXPECT_EQ(decodeRuntimeBankReply(reply).outcome, "bank-missing");
  EXPECT_EQ(p.ring().count, 0u) << "nothing loaded, so nothing refused";
  EXPECT_TRUE(p.sent("norva.runtimeDiagnostics").empty());
}

// A restored reference to a missing folder: the saved tempo stays, the
// refusal (phase load) and the recall (phase state) are recorded. An
// embedded bank is never loaded.
TEST(ProcessorBanks, ARestoredStateNamingAMissingBankKeepsItsParameters) {
  const struct {
    const char *source, *locator, *sha;
    uint32_t refusals;
  } cases[] = {
      {kBankSourceUserFolder, "/no/such/bank", "", 1},
      {kBankSourceEmbedded, "factory", "", 0},
  };
  for (const auto &k : cases) {
    Processor p;
    double values[kParamCount];
    for (uint32_t i = 0; i < kParamCount; ++i) values[i] = p.processor->engine().paramValue(i);
    values[kParamBpm] = 141.0;
    const BankStateRefOut bank{"kit-a", "1", k.sha, k.source, "", "", k.locator};
    IPtr<probe::MemoryStream> stream = owned(new probe::MemoryStream(
        writeStateJson(std::span<const double, kParamCount>(values), -1, nullptr, SamplerAssetDiagnostic::none,
                       SamplerZoneProgram::legacySingleZone, &bank, nullptr, nullptr)));
    EXPECT_EQ(p.processor->setState(stream), kResultOk);
    EXPECT_EQ(p.processor->engine().paramValue(kParamBpm), 141.0);
    EXPECT_TRUE(p.processor->runtimeBankSource().empty());
    ASSERT_EQ(p.ring().count, k.refusals + 1) << k.source;
    for (uint32_t i = 0; i < p.ring().count; ++i) EXPECT_EQ(p.ring().records[i].code, kDiagBankMissing);
    EXPECT_EQ(p.ring().records[k.refusals].phase, kPhaseState);
    EXPECT_EQ(p.sent("norva.runtimeDiagnostics").size(), k.refusals);
    if (k.refusals == 0) continue;
    EXPECT_EQ(p.ring().records[0].phase, kPhaseLoad);
    EXPECT_TRUE(std::string(p.ring().records[0].message).starts_with("runtime bank load refused (bank-missing): "));
    EXPECT_EQ(std::string(p.ring().records[0].detail),
              std::string(R"({"reason":"bank-missing","source":")") + k.source + "\"}");
  }
}

// The engine takes no bank: one the loader reads whole is refused, and the
// refusal reaches the controller as the reply and in the health report.
TEST(ProcessorBanks, AReadableBankIsRefusedByTheEngineAndReported) {
  test::BankFolder bank;
  bank.addWav("kick", "audio/kick.wav", test::kPcm16Mono, {0.5, -0.25, 0.125});
  bank.addInstrument("drums", "Drums", "drums.json", R"([{"id":"k","assetId":"kick"}])");
  bank.writeManifest();
  ASSERT_EQ(loadRuntimeBank(bank.path(), 0, "").outcome, kBankOk) << "the folder must be readable";
  Processor p;
  p.request(std::string(kBankSourceUserFolder) + "\n" + bank.path() + "\n\ndrums");
  EXPECT_EQ(p.sent(kRuntimeBankResultMessage),
            std::vector<std::string>{encodeRuntimeBankReply("bank-too-large", kEngineRefusedBankError, nullptr)});
  const std::vector<std::string> reports = p.sent("norva.runtimeDiagnostics");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(strict::valid(reports[0]));
  EXPECT_NE(reports[0].find(R"("code":"bank.missing")"), std::string::npos) << reports[0];
  const std::string refused = std::string("runtime bank load refused (") + runtimeBankOutcomeName(kBankTooLarge) +
                              "): " + kEngineRefusedBankError;
  EXPECT_NE(reports[0].find("\"message\":\"" + refused + "\""), std::string::npos) << reports[0];
  EXPECT_TRUE(p.processor->runtimeBankSource().empty());
}

} // namespace
