// Bank control as the editor and the processor see it, the runtime-bank
// reply between them, and the processor's answer to a bank request and to a
// restored bank reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "banks/bank_source.h"
#include "banks/control/bank_control.h"
#include "banks/hosted_bank.h"
#include "banks/published_banks.h"
#include "params/params.h"
#include "processor/norva_processor.h"
#include "state/state_document.h"
#include "strict_json.h"
#include "vst3/sdk/smartpointer.h"
#include "vst3_host.h"

#if __has_include("bank_folder.h")
#include "bank_folder.h"
#define NORVA_HAVE_BANK_FOLDER 1
#endif

namespace {

using namespace norva;
using Request = std::array<std::string, 4>;

const char *const kBpmKey = NORVA_PARAMS[kParamBpm].key;

// Records every call; answers pickFolder and applyPadOverrides as told, and
// can answer a bank request at once, as a host that delivers messages
// synchronously would.
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
    if (control != nullptr && !replyAtOnce.empty()) control->adoptRuntimeBankReply(replyAtOnce);
  }
  bool applyPadOverrides(const SamplerPadOverrides &) override { return acceptPads; }
  bool pickFolder(std::string &path, std::string &error) override {
    if (noPicker) return pickBankFolder(path, error);
    path = pickPath;
    error = pickError;
    return !pickPath.empty();
  }
  void notePresetSelected(const std::string &id, const std::string &name) override {
    selected.push_back(id + "/" + name);
  }

  std::vector<std::string> sent, selected;
  std::vector<std::pair<unsigned, double>> edits;
  std::vector<Request> requests;
  bool acceptPads = true, noPicker = false;
  std::string pickPath, pickError, replyAtOnce;
  BankControl *control = nullptr;
};

constexpr const char *kEmptyState = R"({"type":"norva.bankState","reason":"query","stateVersion":1,"pads":{},)"
                                    R"("banks":[],"presets":{"bankScoped":false,"items":[]}})";

// A bank with an instrument, one other kit and two presets, one for each.
StagedBank twoInstrumentBank() {
  StagedBank bank;
  bank.instrumentId = "piano";
  bank.instrumentName = "Grand";
  bank.instrumentList = "instruments";
  bank.positionings = {{"piano", "Grand", "instruments"}, {"drums", "Kit", "kits"}};
  bank.presets = {{"soft", "Soft", "piano", {{"not.a.param", 3.0}, {kBpmKey, 0.1}}},
                  {"loud", "Loud", "drums", {{kBpmKey, 140.0}}}};
  return bank;
}

class Control : public ::testing::Test {
protected:
  void SetUp() override { host.control = &control; }
  // Requests a user folder and adopts an "ok" reply carrying bank.
  void adopt(const StagedBank &bank, const char *folder = "/banks/a") {
    control.handleRuntimeBank(kBankSourceUserFolder, folder, "", "", "ab12");
    control.adoptRuntimeBankReply(BankControl::encodeRuntimeBankReply("ok", "", &bank));
  }
  RecordingHost host;
  BankControl control{host};
};

TEST_F(Control, AnAdoptedReplyIsTheBankStateByteForByte) {
  adopt(twoInstrumentBank());
  ASSERT_EQ(host.requests, (std::vector<Request>{{kBankSourceUserFolder, "/banks/a", "ab12", ""}}));
  EXPECT_EQ(host.sent.back(),
            R"({"type":"norva.bankState","reason":"loadBank","stateVersion":1,"pads":{},"banks":[],)"
            R"("runtime":{"source":"user-folder","locator":"/banks/a",)"
            R"("instrument":{"id":"piano","name":"Grand","list":"instruments"},)"
            R"("positionings":[{"id":"piano","name":"Grand","list":"instruments"},)"
            R"({"id":"drums","name":"Kit","list":"kits"}]},)"
            R"("presets":{"bankScoped":true,"items":[)"
            R"({"id":"soft","name":"Soft","instrument":"piano","params":{"not.a.param":3,"tindrel.bpm":0.10000000000000001}},)"
            R"({"id":"loud","name":"Loud","instrument":"drums","params":{"tindrel.bpm":140}}]}})");
}

// Replies after a bank was adopted: what the next state keeps of it.
TEST_F(Control, AFailedReplyClearsTheRuntimeBankAndNamesWhatWasAsked) {
  const struct {
    std::string reply;
    std::string instrument; // of the request
    const char *tail;       // of the bank state
  } cases[] = {
      {"bank-hash-mismatch\nsize differs", "", R"("error":{"code":"bank-hash-mismatch","requestedId":"/banks/a"}})"},
      {"bank-instrument-unknown\n", "harp", R"("error":{"code":"bank-instrument-unknown","requestedId":"harp"}})"},
      {encodeRuntimeBankReply(nullptr, "", nullptr), "", R"("error":{"code":"missing","requestedId":"/banks/a"}})"},
      {"", "", R"("error":{"code":"","requestedId":"/banks/a"}})"},
      {"ok\n\n\tNo id\tkits", "", R"("presets":{"bankScoped":false,"items":[]}})"},
  };
  for (const auto &c : cases) {
    RecordingHost fresh;
    BankControl bank(fresh);
    const StagedBank adopted = twoInstrumentBank();
    bank.handleRuntimeBank(kBankSourceUserFolder, "/banks/a", "", "", "");
    bank.adoptRuntimeBankReply(BankControl::encodeRuntimeBankReply("ok", "", &adopted));
    bank.handleRuntimeBank(kBankSourceUserFolder, "/banks/a", c.instrument, "", "");
    bank.adoptRuntimeBankReply(c.reply);
    const std::string &state = fresh.sent.back();
    EXPECT_EQ(state.find("\"runtime\"") == std::string::npos, !bank.runtimeActive()) << c.reply;
    EXPECT_EQ(bank.runtimeActive(), c.reply.rfind("ok\n", 0) == 0) << c.reply;
    EXPECT_NE(state.find("\"bankScoped\":false"), std::string::npos) << c.reply;
    EXPECT_EQ(state.substr(state.size() - std::string(c.tail).size()), c.tail) << c.reply;
  }
}

// Editor messages: whether handled, the bank requests made, the last text sent.
TEST_F(Control, EditorMessagesAnswerOrRequestAsTheyShould) {
  auto message = [](const char *type, const char *source = "", const char *id = "") {
    BridgeMessage m;
    m.type = type;
    m.source = source;
    m.id = id;
    return m;
  };
  BridgeMessage hosted = message(kLoadBankMessage, kBankSourceHosted);
  hosted.url = "ftp://bank.invalid/pack.zip"; // refused before any download
  hosted.sha256 = "not-a-digest";
  BridgeMessage folder = message(kLoadBankMessage, kBankSourceUserFolder);
  folder.bankPath = "/banks/b";
  folder.instrument = "harp";
  BridgeMessage pads = message(kSetPadOverridesMessage);
  SamplerPadOverride pad;
  pad.key = "pad1";
  pad.mask = kPadGain;
  pad.gain = 0.5;
  pads.pads = {pad};
  const struct {
    BridgeMessage in;
    bool acceptPads;
    bool handled;
    size_t requests;
    std::string sent; // the end of the last text sent; empty: nothing
  } cases[] = {
      {message(kGetBankStateMessage), true, true, 0, kEmptyState},
      {message(kLoadBankMessage, kBankSourceEmbedded, "factory"), true, true, 0,
       R"("error":{"code":"bank-missing","requestedId":"factory"}})"},
      {message(kLoadBankMessage, "", "factory"), true, true, 0,
       R"("error":{"code":"bank-missing","requestedId":"factory"}})"},
      {message(kLoadBankMessage, kBankSourceEmbedded), true, false, 0, ""},
      {message(kLoadBankMessage, kBankSourceUserFolder), true, true, 0,
       R"("error":{"code":"bank-missing","requestedId":"user-folder"}})"},
      {hosted, true, true, 0, R"("error":{"code":"bank-fetch-failed","requestedId":"ftp://bank.invalid/pack.zip"}})"},
      {folder, true, true, 1, ""},
      {message(kLoadBankPresetMessage, "", "nope"), true, true, 0,
       R"("error":{"code":"bank-missing","requestedId":"nope"}})"},
      {message(kLoadBankPresetMessage), true, false, 0, ""},
      {pads, false, true, 0, ""},
      {pads, true, true, 0, R"("pads":{"pad1":{"gain":0.5}},"banks":[],"presets":{"bankScoped":false,"items":[]}})"},
      {message("norva.setParam"), true, false, 0, ""},
  };
  for (const auto &c : cases) {
    RecordingHost fresh;
    fresh.acceptPads = c.acceptPads;
    BankControl bank(fresh);
    EXPECT_EQ(bank.handleMessage(c.in), c.handled) << c.in.type << " " << c.in.source;
    EXPECT_EQ(fresh.requests.size(), c.requests) << c.in.type << " " << c.in.source;
    const std::string last = fresh.sent.empty() ? "" : fresh.sent.back();
    EXPECT_EQ(last.substr(last.size() - std::min(last.size(), c.sent.size())), c.sent) << c.in.type;
    EXPECT_EQ(fresh.sent.empty(), c.sent.empty()) << c.in.type << " " << c.in.source;
    EXPECT_EQ(bank.pads().size(), c.acceptPads && c.in.type == kSetPadOverridesMessage ? 1u : 0u);
  }
}

TEST_F(Control, PickFolderAnswersWithThePathOrWhyNot) {
  const struct {
    bool noPicker;
    const char *path, *error, *answer;
  } cases[] = {
      {true, "", "", R"({"type":"norva.folderPicked","ok":false,"error":"this build has no folder picker"})"},
      {false, "", "", R"({"type":"norva.folderPicked","ok":false,"cancelled":true})"},
      {false, "", "denied", R"({"type":"norva.folderPicked","ok":false,"error":"denied"})"},
      {false, "/a \"b\"", "", R"({"type":"norva.folderPicked","ok":true,"path":"/a \"b\""})"},
  };
  for (const auto &c : cases) {
    host.noPicker = c.noPicker;
    host.pickPath = c.path;
    host.pickError = c.error;
    BridgeMessage pick;
    pick.type = kPickFolderMessage;
    EXPECT_TRUE(control.handleMessage(pick));
    EXPECT_EQ(host.sent.back(), c.answer);
  }
}

// A preset of the current instrument applies its catalogue keys and announces
// itself; one of another instrument asks for the bank again first.
TEST_F(Control, BankPresetsApplyCatalogueKeysAndRequestTheirInstrument) {
  adopt(twoInstrumentBank());
  host.sent.clear();
  control.handleBankPreset("soft");
  EXPECT_EQ(host.edits, (std::vector<std::pair<unsigned, double>>{{kParamBpm, 0.1}}));
  EXPECT_EQ(host.selected, std::vector<std::string>{"soft/Soft"});
  ASSERT_EQ(host.sent.size(), 1u);
  EXPECT_EQ(host.requests.size(), 1u);

  // The reply arrives inside the request and replaces the preset list.
  StagedBank drums = twoInstrumentBank();
  drums.instrumentId = "drums";
  drums.presets[1].params = {{kBpmKey, 90.0}};
  host.replyAtOnce = BankControl::encodeRuntimeBankReply("ok", "", &drums);
  control.handleBankPreset("loud");
  EXPECT_EQ(host.requests.back(), (Request{kBankSourceUserFolder, "/banks/a", "ab12", "drums"}));
  EXPECT_EQ(host.edits.back(), (std::pair<unsigned, double>{kParamBpm, 140.0})) << "the preset as chosen";
  EXPECT_EQ(control.selectedPreset(), "loud");
  EXPECT_EQ(host.sent.size(), 2u) << "the reply's state only";
}

// What the reply layout cannot carry is mended, and what reads as no number
// is left out.
TEST(RuntimeBankReply, TextsThatWouldBreakTheLayoutAreMended) {
  StagedBank bank;
  bank.instrumentId = "a\tb";
  bank.instrumentName = "\x01name\x1f";
  bank.positionings = {{"p\nq", "", ""}};
  bank.presets = {{"\x01id", "n", "", {{"x=y", 1.0}, {"nan", NAN}, {"big", 1e300}}}};
  const std::string text = encodeRuntimeBankReply("ok", "line\nbreak", &bank);
  EXPECT_EQ(text, "ok\nline break\na b\t name \t\np q\t\t\n\x01 id\tn\t\tx y=1\x1f" "big=1.0000000000000001e+300");
  RuntimeBankReply reply = decodeRuntimeBankReply(text);
  EXPECT_EQ(reply.instrumentId, "line break") << "a non-empty second line is the instrument";
  EXPECT_EQ(reply.positionings, (std::vector<std::string>{"a b\t name \t", "p q\t\t"}));

  reply = decodeRuntimeBankReply("ok\n\n\x01p\t\t\tk\x1fk=1x\x1fk=nan\x1f=2\x1fk=-0.5\x1fk=1=2\t7");
  ASSERT_EQ(reply.presets.size(), 1u);
  EXPECT_EQ(reply.presets[0].params, (std::vector<std::pair<std::string, double>>{{"", 2.0}, {"k", -0.5}}));

  std::string request;
  EXPECT_FALSE(encodeRuntimeBankRequest({"hosted", "/a\nb", "", ""}, request));
  ASSERT_TRUE(encodeRuntimeBankRequest({"", "/a b", "", "harp"}, request));
  EXPECT_EQ(decodeRuntimeBankRequest(request).instrument, "harp");
}

// --- the processor ------------------------------------------------------------

using Steinberg::kResultOk;
using Steinberg::IPtr;
using Steinberg::owned;

class ProcessorBanks : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(processor->initialize(host), kResultOk);
    ASSERT_EQ(processor->connect(sink), kResultOk);
  }
  void TearDown() override {
    processor->terminate();
    processor->release();
  }
  void send(const std::string &payload) {
    IPtr<probe::HostMessage> message = owned(new probe::HostMessage());
    message->setMessageID(kLoadRuntimeBankMessage);
    message->getAttributes()->setBinary("json", payload.data(), uint32_t(payload.size()));
    EXPECT_EQ(processor->notify(message), kResultOk);
  }
  // The payloads of the messages sent with this id.
  std::vector<std::string> sent(const char *id) const {
    std::vector<std::string> payloads;
    for (const probe::MessageRecord &record : sink->log)
      if (record.id == id) payloads.push_back(record.json);
    return payloads;
  }
  const norva_runtime_diagnostic_ring &ring() const { return processor->engine().diagnostics(); }

  IPtr<probe::HostApplication> host = owned(new probe::HostApplication());
  IPtr<probe::MessageSink> sink = owned(new probe::MessageSink());
  NorvaProcessor *processor = new NorvaProcessor();
};

TEST_F(ProcessorBanks, ARequestWithoutAFolderAnswersBankMissingAndLoadsNothing) {
  for (const char *request : {"\n", "hosted\n\nab12\nharp", "user-folder"}) send(request);
  const std::vector<std::string> replies = sent(kRuntimeBankResultMessage);
  ASSERT_EQ(replies.size(), 3u);
  for (const std::string &reply : replies) EXPECT_EQ(decodeRuntimeBankReply(reply).outcome, "bank-missing");
  EXPECT_EQ(ring().count, 0u) << "no load, so no refusal";
  EXPECT_TRUE(sent("norva.runtimeDiagnostics").empty());
}

// A restored reference whose folder is missing: the saved parameters stay,
// the refusal and the recall are recorded. An embedded bank is never loaded.
TEST_F(ProcessorBanks, ARestoredStateNamingAMissingBankKeepsItsParameters) {
  const struct {
    const char *source, *locator, *sha;
    uint32_t loadRecords; // refusals with phase "load"
  } cases[] = {
      {kBankSourceUserFolder, "/no/such/bank", "", 1},
      {kBankSourceHosted, "https://bank.invalid/x.zip", "../..", 1},
      {kBankSourceEmbedded, "factory", "", 0},
  };
  for (const auto &c : cases) {
    NorvaProcessor *fresh = new NorvaProcessor();
    ASSERT_EQ(fresh->initialize(host), kResultOk);
    fresh->connect(sink);
    sink->log.clear();
    double values[kParamCount];
    for (uint32_t i = 0; i < kParamCount; ++i) values[i] = fresh->engine().paramValue(i);
    values[kParamBpm] = 141.0;
    const BankStateRefOut bank{"kit-a", "1", c.sha, c.source, "", "", c.locator};
    const std::string text = writeStateJson(std::span<const double, kParamCount>(values), -1, nullptr,
                                            SamplerAssetDiagnostic::none, SamplerZoneProgram::legacySingleZone,
                                            &bank, nullptr, nullptr);
    IPtr<probe::MemoryStream> stream = owned(new probe::MemoryStream(text));
    EXPECT_EQ(fresh->setState(stream), kResultOk);
    EXPECT_EQ(fresh->engine().paramValue(kParamBpm), 141.0);
    EXPECT_TRUE(fresh->runtimeBankSource().empty());
    const norva_runtime_diagnostic_ring &diagnostics = fresh->engine().diagnostics();
    ASSERT_EQ(diagnostics.count, c.loadRecords + 1) << c.source;
    for (uint32_t i = 0; i < diagnostics.count; ++i) EXPECT_EQ(diagnostics.records[i].code, kDiagBankMissing);
    EXPECT_EQ(diagnostics.records[c.loadRecords].phase, kPhaseState);
    if (c.loadRecords != 0) {
      EXPECT_EQ(diagnostics.records[0].phase, kPhaseLoad);
      EXPECT_EQ(std::string(diagnostics.records[0].message).rfind("runtime bank load refused (bank-missing): ", 0), 0u);
      EXPECT_EQ(std::string(diagnostics.records[0].detail),
                std::string(R"({"reason":"bank-missing","source":")") + c.source + "\"}");
    }
    EXPECT_EQ(sent("norva.runtimeDiagnostics").size(), c.loadRecords);
    fresh->terminate();
    fresh->release();
  }
}

// The engine takes no bank: a bank the loader reads whole is refused, and the
// refusal reaches the controller as a reply and in the health report.
TEST_F(ProcessorBanks, AReadableBankIsRefusedByTheEngineAndReported) {
#ifndef NORVA_HAVE_BANK_FOLDER
  GTEST_SKIP() << "needs the runtime bank loader (loadRuntimeBank) and its test bank builder, tests/bank_folder.h";
#else
  test::BankFolder bank;
  bank.addWav("kick", "audio/kick.wav", test::kPcm16Mono, {0.5, -0.25, 0.125});
  bank.addInstrument("drums", "Drums", "drums.json", R"([{"id":"k","assetId":"kick"}])");
  bank.writeManifest();
  ASSERT_EQ(loadRuntimeBank(bank.path(), 0, "").outcome, kBankOk) << "the folder must be readable";
  send(std::string(kBankSourceUserFolder) + "\n" + bank.path() + "\n\ndrums");

  const std::string refused = std::string("runtime bank load refused (") + runtimeBankOutcomeName(kBankTooLarge) +
                              "): " + kEngineRefusedBankError;
  EXPECT_EQ(sent(kRuntimeBankResultMessage),
            std::vector<std::string>{encodeRuntimeBankReply("bank-too-large", kEngineRefusedBankError, nullptr)});
  const std::vector<std::string> reports = sent("norva.runtimeDiagnostics");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(strict::valid(reports[0]));
  EXPECT_NE(reports[0].find(R"("code":"bank.missing")"), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("\"message\":\"" + refused + "\""), std::string::npos) << reports[0];
  EXPECT_TRUE(processor->runtimeBankSource().empty());
#endif
}

} // namespace
