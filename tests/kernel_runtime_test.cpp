// The runtime layer: panic records, trap codes, the panic sink, re-entry from
// host callbacks and the poisoned library.
#include "kernel_test_support.h"

#include <functional>
#include <string>

namespace kt {
namespace {

using namespace std::string_literals;

const std::string kPrefix = NORVA_KERNEL_SYMBOL_PREFIX;

struct SinkLog {
  int calls = 0;
  std::string record;
  std::function<void()> during; // runs inside the sink
};

void sink(void *context, const char *record, size_t length, const void *) {
  auto *log = static_cast<SinkLog *>(context);
  ++log->calls;
  log->record.assign(record, length);
  if (log->during) log->during();
}

std::string record(const std::string &message, const char *code, const std::string &symbol) {
  return "\x01"s + message + "\x1f" + code + "\x1f" + symbol;
}

TEST(PanicRecord, Layout) {
  EXPECT_EQ(rt::buildPanicRecord("lumac: RangeError: a\x01" "b\x1f" "c\n", "sym"),
            record("lumac: RangeError: a b c\n", "LM4014", "sym"));
  EXPECT_EQ(rt::buildPanicRecord("", ""), "\x01\x1fLM4019\x1f"s);
}

TEST(PanicRecord, TrapCodes) {
  const struct { const char *message, *code; } cases[] = {
      {"Uncaught Error: x", "LM4013"}, {"lumac: RangeError: index 9", "LM4014"}, {"lumac: out of memory\n", "LM4017"},
      {"lumac: library entry 'x'", "LM4026"}, {"uncaught x", "LM4019"}, {" Uncaught x", "LM4019"},
      {"lumac: RangeError", "LM4019"} /* the prefix includes ": " */, {"", "LM4019"}};
  for (const auto &c : cases) EXPECT_STREQ(rt::trapCodeFor(c.message), c.code) << c.message;
}

TEST(PanicRecord, LongMessagesAreCutCodeAndSymbolStayWhole) {
  const std::string symbol = kPrefix + "event_output_count";
  const std::string tail = "\x1fLM4013\x1f" + symbol;
  for (size_t n : {2000u, 2047u, 5000u}) {
    const std::string message = "Uncaught " + std::string(n, 'x');
    const std::string r = rt::buildPanicRecord(message, symbol);
    EXPECT_EQ(r.size(), 2047u) << n;
    EXPECT_EQ(r.substr(0, 10), "\x01Uncaught ");
    EXPECT_EQ(r.substr(r.size() - tail.size()), tail) << n;
  }
  const std::string fits(2047 - 1 - tail.size(), 'y');
  EXPECT_EQ(rt::buildPanicRecord("Uncaught " + fits.substr(9), symbol).size(), 2047u);
  EXPECT_EQ(rt::buildPanicRecord("Uncaught", symbol).size(), 1 + 8 + tail.size());
}

class Runtime : public KernelTest {
protected:
  SinkLog log;
  void SetUp() override {
    KernelTest::SetUp();
    NORVA_FN(set_panic_sink)(sink, &log);
  }
};

TEST_F(Runtime, TrapNamesTheOperationLastEntered) {
  EXPECT_EQ(NORVA_FN(abi_version)(), 2);
  rt::trap("lumac: internal error: x\n");
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.record, record("lumac: internal error: x\n", "LM4018", kPrefix + "abi_version"));
  EXPECT_EQ(rt::lastPanicRecord(), log.record);
  EXPECT_TRUE(rt::poisoned());
}

TEST_F(Runtime, PreformedRecordsPassUnchanged) {
  const std::string raw = "\x01" "already\x1f" "LM4099\x1f" "somewhere";
  rt::trap(raw);
  EXPECT_EQ(log.record, raw);
}

TEST_F(Runtime, ReentryFromThePanicSinkTraps) {
  double created = -1;
  log.during = [&] { created = create(); };
  rt::trap("Uncaught boom");
  EXPECT_EQ(log.calls, 1) << "the nested trap does not call the sink again";
  EXPECT_EQ(log.record, record("Uncaught boom", "LM4013", kPrefix + "runtime_init"));
  EXPECT_EQ(created, 0);
  const std::string symbol = kPrefix + "create";
  EXPECT_EQ(rt::lastPanicRecord(),
            record("lumac: library entry '" + symbol + "' invoked from a host callback\n", "LM4026",
                   symbol));
}

TEST_F(Runtime, ReentryFromAHostCallbackTraps) {
  const uint32_t h = make();
  {
    rt::HostCallbackScope callback;
    EXPECT_EQ(process(h, 16), 1);
  }
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.record.substr(log.record.rfind("\x1fLM")), "\x1fLM4026\x1f" + kPrefix + "process");
}

TEST_F(Runtime, PoisonedLibraryRefusesEverything) {
  const uint32_t h = make();
  ASSERT_EQ(process(h, 128), 0);
  ASSERT_GT(outCount(h), 0);
  rt::trap("lumac: out of memory\n");
  ASSERT_EQ(log.calls, 1);

  init();
  EXPECT_EQ(create(), 0);
  EXPECT_EQ((V{destroy(h), reset(h), push(h, kOn, 0, 60, 1), process(h, 128)}), (V{1, 1, 1, 1}));
  EXPECT_EQ((V{outCount(h), outFrame(h, 0), outKind(h, 0), outA(h, 0), outB(h, 0)}), V(5, 0));
  EXPECT_EQ(NORVA_FN(collect)(), 0u);
  float *data = reinterpret_cast<float *>(0x1);
  uint32_t in = 7, out = 7;
  NORVA_FN(input_view)(h, &data, &in);
  NORVA_FN(output_view)(h, &data, &out);
  EXPECT_EQ(in + out, 0u);

  rt::trap("Uncaught again");
  EXPECT_EQ(log.calls, 1) << "the sink hears of one fault per run";
  EXPECT_EQ(rt::lastPanicRecord().substr(0, 15), "\x01Uncaught again");
}

TEST(RuntimeWithoutSink, TrapPoisonsWithoutEndingTheProgram) {
  rt::resetForTesting();
  init();
  rt::trap("Uncaught nobody listens");
  EXPECT_TRUE(rt::poisoned());
  EXPECT_EQ(create(), 0);
  rt::resetForTesting();
}

TEST_F(Runtime, HandedOutViewsLiveUntilTheNextEntry) {
  const uint32_t h = make();
  float *data = nullptr;
  uint32_t length = 0;
  NORVA_FN(input_view)(h, &data, &length);
  NORVA_FN(set_panic_sink)(sink, &log);
  EXPECT_EQ(rt::handedOutCount(), 1u) << "setting the sink releases nothing";
  NORVA_FN(output_view)(h, &data, &length);
  EXPECT_EQ(rt::handedOutCount(), 1u) << "the earlier view went, the new one is out";
  outCount(h);
  EXPECT_EQ(rt::handedOutCount(), 0u);
  NORVA_FN(input_view)(h, &data, &length);
  NORVA_FN(collect)();
  EXPECT_EQ(rt::handedOutCount(), 0u) << "collect releases them too";
}

} // namespace
} // namespace kt
