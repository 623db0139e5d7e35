// KernelEngine: host configuration, block cutting, event and parameter
// delivery, the notes it keeps sounding, refusals and their diagnostics, all
// seen in its output. The kernel's instance slots are process-wide: every
// test destroys the engines it creates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/kernel_engine.h"
#include "kernel/kernel_interface.h"
#include "params/params.h"

namespace {

using namespace norva;
using Strings = std::vector<std::string>;
using Values = std::vector<double>;


constexpr EventKind On = EventKind::noteOn, Off = EventKind::noteOff, Cc = EventKind::controlChange;

struct Midi {
  uint64_t frame; // absolute when collected over several blocks
  EventKind kind;
  int number, value, channel = 0;
  bool operator==(const Midi &) const = default;
};
using Midis = std::vector<Midi>;

std::ostream &operator<<(std::ostream &os, const Midi &m) {
  const char *kind = m.kind == On ? "on" : m.kind == Off ? "off" : m.kind == Cc ? "cc" : "?";
  return os << "{" << m.frame << " " << kind << " " << m.number << " " << m.value << " ch" << m.channel << "}";
}

Midis output(const KernelEngine &e, uint64_t base = 0) {
  Midis out;
  for (const norva::MidiEvent &m : e.output())
    out.push_back({base + m.frame, m.kind, m.number, m.value, m.channel});
  return out;
}

// A stopped engine's sequencer plays nothing: only input reaches the output.
std::unique_ptr<KernelEngine> makeEngine(double rate = 48000, int32_t maxBlock = 16384, bool stopped = false) {
  auto engine = std::make_unique<KernelEngine>();
  EXPECT_TRUE(engine->setup(rate, maxBlock));
  if (stopped) {
    engine->setParamValue(kParamRun, 0.0);
    engine->processBlock(maxBlock);
    EXPECT_TRUE(output(*engine).empty());
  }
  return engine;
}

bool queuePlain(KernelEngine &e, uint32_t index, double plain, int32_t frame = 0) {
  return e.pushParamNormalized(index, norva::norva_param_normalize(&norva::NORVA_PARAMS[index], plain), frame);
}

// Bpm 300 in sixty-fourths: a step every 600 frames.
void playFast(KernelEngine &e) {
  queuePlain(e, kParamBpm, 300);
  queuePlain(e, kParamResolution, 5);
}

// Runs `blocks` blocks of `frames`, collecting the output on one frame axis.
Midis runBlocks(KernelEngine &e, int blocks, int32_t frames, uint64_t *position) {
  Midis all;
  for (int b = 0; b < blocks; ++b, *position += uint64_t(frames)) {
    e.processBlock(frames);
    for (const Midi &m : output(e, *position)) all.push_back(m);
  }
  return all;
}

// Velocities of the sequencer's notes (middle C), in order.
std::vector<int> stepVelocities(const Midis &midi) {
  std::vector<int> out;
  for (const Midi &m : midi)
    if (m.kind == On && m.number == 60) out.push_back(m.value);
  return out;
}

// Drains the audio thread's queue; returns how many records the ring holds.
uint32_t settle(KernelEngine &e) {
  e.drainRuntimeDiagnostics();
  return e.diagnostics().count;
}

// The records since `mark` as "code/severity/phase", with " message" if asked.
Strings diagnosticsSince(KernelEngine &e, uint32_t mark, bool messages = false) {
  Strings out;
  for (uint32_t i = mark; i < settle(e); ++i) {
    const auto &r = e.diagnostics().records[i];
    out.push_back(std::to_string(r.code) + "/" + std::to_string(r.severity) + "/" +
                  std::to_string(r.phase) + (messages ? std::string(" ") + r.message : ""));
  }
  return out;
}

TEST(KernelEngineSetup, RateFractionFifoCapacityAndLatency) {
  const struct { double rate; int32_t block; double numerator, denominator, fifo; } cases[] = {
      {44100, 512, 44100, 1, 1544},   // max(ceil(512 * 48000 / 44100) + 64, 3 * 512 + 8)
      {1000, 16384, 1000, 1, 786496}, // 16384 * 48 + 64
      {44100.5, 512, 88201, 2, 1544}, {4000000, 512, 4000000, 1, 1544}};
  KernelEngine e;
  for (const auto &c : cases) {
    ASSERT_TRUE(e.setup(c.rate, c.block)) << c.rate << " " << c.block;
    EXPECT_EQ(Values({double(e.rate().numerator()), double(e.rate().denominator()),
                      double(e.rate().fifoCapacity()), e.sampleRate(), e.kernelRate(), double(e.rate().converted())}),
              Values({c.numerator, c.denominator, c.fifo, c.rate, c.rate, 0}));
  }
  const uint32_t mark = settle(e);
  EXPECT_FALSE(e.setup(700, 16384)); // needs 1 123 539 frames
  EXPECT_FALSE(e.ready());
  EXPECT_EQ(diagnosticsSince(e, mark, true), Strings{"14/2/5 host rate requires unsupported SRC FIFO capacity"});
  // Only a rate-converted kernel adds latency.
  for (auto [rate, converted, latency] : {std::tuple{44100.0, true, 35u}, {96000.0, true, 56u}, {48000.0, true, 0u},
                                          {44100.0, false, 0u}}) {
    RateAdapter adapter;
    ASSERT_EQ(adapter.configure(rate, 512), RateAdapter::Outcome::accepted);
    adapter.setConverted(converted);
    EXPECT_EQ(adapter.latencySamples(), latency) << rate << " " << converted;
  }
}

// The other refused rates and blocks are `norva-probe validate`'s "set-up limits".
TEST(KernelEngineSetup, InvalidFormatsAreRefusedWithOneRecord) {
  const std::pair<double, int32_t> cases[] = {
      {0.0000005, 512}, {std::nextafter(4000000.0, 5000000.0), 512}, {-44100.0, 512}, {48000, 16385}};
  KernelEngine e;
  for (const auto &[rate, block] : cases) {
    ASSERT_TRUE(e.setup(48000, 512));
    const uint32_t mark = settle(e);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(e.setup(rate, block)) << rate << " " << block;
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(console.find("norva-plugin-shell: rejected host format (sampleRate="), 0u) << console;
    EXPECT_EQ(console.find("16384-frame ceiling") != std::string::npos, block > 16384) << console;
    EXPECT_FALSE(e.ready());
    EXPECT_EQ(diagnosticsSince(e, mark), Strings{"14/2/5"});
  }
}

TEST(KernelEngineInstances, EnginesShareOneRuntimeAndSetupReplacesTheInstance) {
  auto first = makeEngine(48000, 512), second = makeEngine(44100, 512);
  // Initialising the runtime again would free the first instance and hand its
  // handle to the second.
  const uint32_t before = first->kernelHandle();
  ASSERT_NE(before, 0u);
  EXPECT_NE(before, second->kernelHandle());
  first->processBlock(512);
  EXPECT_EQ(stepVelocities(output(*first)), std::vector<int>{100});
  EXPECT_EQ(settle(*first), 0u);

  first->setParamValue(kParamRun, 0.0);
  first->processBlock(512);
  ASSERT_TRUE(first->setup(48000, 512));
  EXPECT_NE(first->kernelHandle(), before);
  EXPECT_EQ(lmpr_music_norva_tindrel_bf9421541c27_destroy(before), 1) << "old instance still live";
  first->processBlock(512); // the fresh instance runs by default; the stop already sent is sent again
  EXPECT_EQ(output(*first), (Midis{{0, Off, 60, 0}})) << "the old instance's note ends";
}

TEST(KernelEngineBlocks, OutputDoesNotDependOnHowTheHostCutsItsBlocks) {
  auto whole = makeEngine(), cut = makeEngine();
  for (KernelEngine *e : {whole.get(), cut.get()}) playFast(*e);
  uint64_t at = 0;
  const Midis reference = runBlocks(*whole, 4, 16384, &at);
  ASSERT_GT(reference.size(), 100u);
  // Steps land on their frames inside blocks many kernel calls long.
  EXPECT_EQ(Midis(reference.begin(), reference.begin() + 5),
            (Midis{{0, Cc, 1, 0}, {0, On, 60, 100}, {300, Off, 60, 0}, {600, On, 60, 60}, {900, Off, 60, 0}}));
  const int32_t sizes[] = {300, 1, 128, 129, 1000, 4097, 127, 16384};
  Midis pieces;
  at = 0;
  for (int i = 0; at < 4 * 16384; ++i) {
    const int32_t frames = int32_t(std::min<uint64_t>(sizes[i % 8], 4 * 16384 - at));
    for (const Midi &m : runBlocks(*cut, 1, frames, &at)) pieces.push_back(m);
  }
  EXPECT_EQ(pieces, reference);
}

TEST(KernelEngineBlocks, InputPassesThroughAtItsHostFrameInFrameOrder) {
  auto e = makeEngine(48000, 512, true);
  // {note, velocity, frame}; a negative velocity is a note-off.
  // Notes 200, -1 and one of no velocity are the kernel's to refuse.
  for (auto [note, velocity, frame] :
       {std::tuple{66, 1.0, 400}, {64, -1.0, 5}, {64, 1.0, 5}, {65, 1.0, 5}, {63, 1.0, 2}, {67, 0.5, 300},
        {67, -1.0, 511}, {70, 1.0, 127}, {71, 1.0, 128}, {72, 1.0, -1}, {73, 1.0, 512}, {200, 1.0, 10},
        {-1, 1.0, 20}, {61, std::nan(""), 30}})
    velocity < 0 ? e->pushNoteOff(note, frame) : e->pushNoteOn(note, velocity, frame);
  e->processBlock(512);
  // Ties keep their push order; 127 and 128 end and start a kernel call; 300
  // is 44 frames into the third; frames -1 and 512 lie outside the block.
  // Each refusal is reported once; the rest of its call still plays.
  EXPECT_EQ(output(*e), (Midis{{2, On, 63, 127}, {5, Off, 64, 0}, {5, On, 64, 127}, {5, On, 65, 127},
                               {127, On, 70, 127}, {128, On, 71, 127}, {300, On, 67, 64}, // 63.5 rounds up
                               {400, On, 66, 127}, {511, Off, 67, 0}}));
  e->processBlock(512); // the late note does not carry over
  EXPECT_TRUE(output(*e).empty());
  EXPECT_EQ(diagnosticsSince(*e, 0), Strings(3, "22/2/7"));
}

// The kernel takes 64 events per call: a chunk with more is cut where its
// queue fills, and the rest follow in frame order in the next call (one frame
// on, when they all stand on one frame). Nothing is dropped.
TEST(KernelEngineBlocks, EventsBeyondTheKernelQueueFollowInTheNextCall) {
  auto e = makeEngine(48000, 512, true);
  for (int i = 0; i < 2048; ++i) ASSERT_TRUE(e->pushNoteOff(i % 128, 0)) << i;
  EXPECT_FALSE(e->pushNoteOn(99, 1.0, 0) || e->pushNoteOff(99, 0) || e->pushParamNormalized(kParamRun, 1.0, 0));
  e->processBlock(512);
  EXPECT_EQ(output(*e).size(), 2048u) << "a host's all-notes-off sweep, sixteen times over";
  EXPECT_EQ(e->paramValue(kParamRun), 0.0);

  for (int i = 0; i < 70; ++i) ASSERT_TRUE(e->pushNoteOn(20 + i, 1.0, i));
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(e->pushNoteOff(20 + i, 69));
  e->pushNoteOn(90, 1.0, 300);
  e->processBlock(512);
  const Midis out = output(*e);
  ASSERT_EQ(out.size(), 131u);
  for (int i = 0; i < 70; ++i) EXPECT_EQ(out[size_t(i)], (Midi{uint64_t(i), On, 20 + i, 127}));
  EXPECT_EQ(out[70], (Midi{69, Off, 20, 0}));
  EXPECT_EQ(out[129].frame, 70u) << "spilled over from frame 69";
  EXPECT_EQ(out[130], (Midi{300, On, 90, 127}));
  EXPECT_EQ(settle(*e), 0u);
}

TEST(KernelEngineNotes, MessagesKeepTheChannelInForceAtTheirFrame) {
  auto e = makeEngine(48000, 512);
  queuePlain(*e, kParamChannel, 4, 64); // inside the first kernel call
  uint64_t at = 0;
  const Midis out = runBlocks(*e, 24, 512, &at);
  ASSERT_GE(out.size(), 5u);
  EXPECT_EQ(Midis(out.begin(), out.begin() + 5),
            (Midis{{0, Cc, 1, 0, 0}, {0, On, 60, 100, 0}, {3000, Off, 60, 0, 0}, {6000, On, 60, 60, 4},
                   {9000, Off, 60, 0, 4}}));
  // A note played through keeps the channel it started on as well.
  auto through = makeEngine(48000, 512, true);
  through->pushNoteOn(64, 1.0, 0);
  queuePlain(*through, kParamChannel, 2, 10);
  through->pushNoteOff(64, 20);
  through->pushNoteOn(65, 1.0, 30);
  through->processBlock(512);
  EXPECT_EQ(output(*through), (Midis{{0, On, 64, 127, 0}, {20, Off, 64, 0, 0}, {30, On, 65, 127, 2}}));
}

TEST(KernelEngineNotes, NotesSoundingAtASetupEndInTheNextBlock) {
  auto e = makeEngine(48000, 512, true);
  e->pushNoteOn(64, 1.0, 0);
  e->pushNoteOn(64, 1.0, 1);
  e->pushNoteOn(65, 1.0, 2);
  e->pushNoteOff(65, 3);
  queuePlain(*e, kParamChannel, 2, 4);
  e->pushNoteOn(66, 1.0, 5);
  e->processBlock(512);
  // The host re-activates at another block size: two setups in a row.
  ASSERT_TRUE(e->setup(48000, 256));
  ASSERT_TRUE(e->setup(48000, 256));
  e->setParamValue(kParamRun, 0.0);
  e->processBlock(256);
  EXPECT_EQ(output(*e), (Midis{{0, Off, 64, 0}, {0, Off, 64, 0}, {0, Off, 66, 0, 2}}));
  e->processBlock(256);
  EXPECT_TRUE(output(*e).empty()) << "each released once";
}

TEST(KernelEngineRefusals, RefusedBlocksYieldNothingAndReportCodeFour) {
  const struct { const char *what; int32_t declared; bool failSetup; int frames, severity; } cases[] = {
      {"never set up", 0, false, 64, 3}, {"after a failed setup", 512, true, 512, 3},
      {"longer than declared", 256, false, 257, 2}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    KernelEngine e;
    EXPECT_TRUE(c.declared == 0 || e.setup(48000, c.declared));
    const uint32_t handle = e.kernelHandle();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(c.failSetup && e.setup(48000, 0));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(e.kernelHandle(), handle) << "a failed setup keeps the instance";
    const uint32_t mark = settle(e);
    e.pushNoteOn(64, 1.0, 10);
    e.processBlock(c.frames);
    EXPECT_TRUE(e.output().empty());
    EXPECT_EQ(diagnosticsSince(e, mark), Strings{"4/" + std::to_string(c.severity) + "/7"});
    if (!e.ready()) continue;
    e.processBlock(256); // the sequencer starts now; the dropped note stays dropped
    EXPECT_EQ(output(e), (Midis{{0, Cc, 1, 0}, {0, On, 60, 100}}));
  }
}

TEST(KernelEngineParameters, AZeroFrameBlockStoresPlainValuesForTheNextBlock) {
  auto e = makeEngine(48000, 512);
  playFast(*e);
  e->processBlock(512); // the next step falls at 600
  queuePlain(*e, kParamRun, 0.0, 300);
  queuePlain(*e, kParamBpm, 200, 50);
  queuePlain(*e, kParamBpm, 100, 10); // earlier frame: the later one wins
  const struct { uint32_t index; double normalized, plain; } cases[] = {
      {kParamTranspose, 0.26, -12} /* -11.52 snapped */, {kParamOctave, 1.7, 5}, {kParamLength, -0.2, 1}};
  for (const auto &c : cases) EXPECT_TRUE(e->pushParamNormalized(c.index, c.normalized, 0));
  EXPECT_FALSE(e->pushParamNormalized(kParamCount, 0.5, 0));
  e->pushNoteOn(64, 1.0, 0);
  e->processBlock(0);
  EXPECT_TRUE(e->output().empty());
  EXPECT_EQ(Values({e->paramValue(kParamRun), e->paramValue(kParamBpm)}), Values({0, 200}));
  for (const auto &c : cases) EXPECT_EQ(e->paramValue(c.index), c.plain) << c.index;
  e->processBlock(512); // the stop reaches the kernel before its first step; the note was dropped
  EXPECT_TRUE(output(*e).empty());
  EXPECT_EQ(settle(*e), 0u);

  KernelEngine fresh; // before any setup; indices outside the catalogue are ignored
  fresh.setParamValue(kParamCount, 7.0);
  fresh.setParamValue((kParamCount - 1), 1.0);
  EXPECT_EQ(Values({fresh.paramValue(kParamCount), fresh.paramValue(1000), fresh.paramValue((kParamCount - 1))}),
            Values({0, 0, 1}));
  for (auto [given, kept] : {std::pair{25, 19}, {-3, 0}, {7, 7}}) {
    fresh.setVariation(given);
    EXPECT_EQ(fresh.variation(), kept) << given;
  }
}

// A value set for the block holds from its start until a change queued in
// the same block takes over at its frame.
TEST(KernelEngineParameters, QueuedChangesTakeEffectAtTheirFrame) {
  auto e = makeEngine(48000, 4096);
  playFast(*e);
  e->setParamValue(kParamTranspose, 12);
  queuePlain(*e, kParamTranspose, 0.0, 1500); // between the steps at 1200 and 1800
  e->processBlock(4096);
  std::vector<int> notes;
  for (const Midi &m : output(*e))
    if (m.kind == On) notes.push_back(m.number);
  EXPECT_EQ(notes, (std::vector<int>{72, 72, 60, 60, 60})); // steps 2 and 6 rest
}

// Values the kernel refuses while running a block.
class KernelEngineRejection : public ::testing::Test {
protected:
  // Pattern 9 one step long, pattern 10 two steps, chaining on with pattern 9
  // selected: a chain of 9..10 plays their authored (factory) velocities
  // 100 | 100 64 | 100 | 100 64.
  void SetUp() override {
    engine_ = makeEngine(48000, 4096);
    position_ = 0;
    playFast(*engine_);
    for (auto [index, value] : {std::pair{kParamPattern, 9}, {kParamLength, 1}, {kParamPattern, 10}, {kParamLength, 2},
                                {kParamPattern, 9}, {kParamChainOn, 1}}) {
      queuePlain(*engine_, index, value);
      if (index != kParamPattern) play(1); // a block for each pattern's length, one for the chain
    }
  }

  Midis play(int blocks) { return runBlocks(*engine_, blocks, 4096, &position_); }

  // True when the velocities follow the 9..10 chain from their first 64 on.
  static bool chainsNineToTen(const std::vector<int> &velocities) {
    size_t first = 0;
    while (first < velocities.size() && velocities[first] != 64) ++first;
    if (first > 2 || velocities.size() < first + 9) return false;
    for (size_t i = first; i < velocities.size(); ++i)
      if (velocities[i] != ((i - first) % 3 == 0 ? 64 : 100)) return false;
    return true;
  }

  std::unique_ptr<KernelEngine> engine_;
  uint64_t position_ = 0;
};

// Chain 9..10 from 0..7: the start alone is refused (above the end), the end
// alone is taken. Restored or automated at frame 0, in either order, the chain
// converges: a refused frame-0 value is retried.
TEST_F(KernelEngineRejection, ChainBoundsLandWhateverTheirOrderAndRoute) {
  for (auto [queued, startFirst] : {std::pair{false, true}, {false, false}, {true, true}, {true, false}}) {
    SetUp(); // a fresh engine per case
    for (uint32_t index : {startFirst ? kParamChainStart : kParamChainEnd, startFirst ? kParamChainEnd : kParamChainStart}) {
      const double value = index == kParamChainStart ? 9 : 10;
      if (queued) queuePlain(*engine_, index, value);
      else engine_->setParamValue(index, value);
    }
    play(1);
    EXPECT_TRUE(chainsNineToTen(stepVelocities(play(3))))
        << (queued ? "automated at frame 0" : "restored") << (startFirst ? ", start first" : ", end first");
  }
}

TEST_F(KernelEngineRejection, AValueTheKernelKeepsRefusingIsSingledOut) {
  engine_->setParamValue(kParamChainStart, 9);
  engine_->setParamValue(kParamChainEnd, 10);
  play(2);
  const uint64_t start = position_;
  // Chain start 20 lies above the end. The seed, a harmless change in the same
  // kernel call, taken again every call would keep pulling playback back to 9.
  queuePlain(*engine_, kParamChainStart, 20);
  queuePlain(*engine_, kParamSeed, 5);
  engine_->pushNoteOn(64, 1.0, 10);
  engine_->pushNoteOff(64, 20);
  Midis midi;
  Strings diags;
  size_t firstBlock = 0;
  // Drained after every block: the ring would not hold one record per call.
  for (int block = 0; block < 9; ++block) {
    const uint32_t before = settle(*engine_);
    const Midis out = play(1);
    EXPECT_GE(stepVelocities(out).size(), 6u) << "block " << block << " went quiet";
    midi.insert(midi.end(), out.begin(), out.end());
    firstBlock = block == 0 ? midi.size() : firstBlock;
    for (const std::string &d : diagnosticsSince(*engine_, before)) diags.push_back(d);
  }
  EXPECT_TRUE(chainsNineToTen(stepVelocities(Midis(midi.begin() + long(firstBlock), midi.end()))));
  EXPECT_EQ(diags, Strings{"22/2/7"}) << "a repeated refusal is reported once";
  EXPECT_EQ(engine_->paramValue(kParamChainStart), 20.0);
  // The refusing block's input got through, and no note is left hanging:
  // note-ons and note-offs of middle C alternate (the window may open on the
  // note-off of a note struck before it).
  int sounding = -1;
  for (const Midi &m : midi) {
    if (m.number != 60 || m.kind == Cc) continue;
    ASSERT_NE(sounding, int(m.kind == On)) << "at " << m.frame;
    sounding = m.kind == On;
  }
  std::erase_if(midi, [](const Midi &m) { return m.number != 64 || m.kind == Cc; });
  EXPECT_EQ(midi, (Midis{{start + 10, On, 64, 127}, {start + 20, Off, 64, 0}}));

  // Once the end moves above it, the refused start is taken: chain 20..25
  // plays pattern 20, whose factory velocities include 64.
  engine_->setParamValue(kParamChainEnd, 25);
  const std::vector<int> velocities = stepVelocities(play(4));
  EXPECT_NE(std::find(velocities.begin(), velocities.end(), 64), velocities.end());
}

} // namespace
