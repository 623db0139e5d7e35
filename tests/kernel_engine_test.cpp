// KernelEngine: host configuration, block cutting, event and parameter
// delivery, refusals and their diagnostics, pad overrides.
//
// The kernel's instance slots are process-wide: every test destroys the
// engines it creates. The kernel is observed through the engine's MIDI output
// (at 300 BPM in sixty-fourths a step falls every 600 frames, its note-off
// 300 frames later) and, where needed, through its exported functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/kernel_engine.h"
#include "kernel/kernel_interface.h"
#include "params/params.h"

namespace {

using norva::KernelEngine;

constexpr uint32_t kRun = 0, kBpm = 1, kResolution = 2, kTranspose = 6, kOctave = 7, kPattern = 9,
                   kLength = 10, kChainOn = 11, kChainStart = 12, kChainEnd = 13, kSeed = 19,
                   kLastStepVelocity = 52;

struct Midi {
  uint64_t frame; // absolute when collected over several blocks
  int status;
  int data1;
  int data2;
  bool operator==(const Midi &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Midi &m) {
  return os << "{" << m.frame << " 0x" << std::hex << m.status << std::dec << " " << m.data1 << " "
            << m.data2 << "}";
}

struct Diag {
  uint32_t code;
  int severity;
  int phase;
  std::string message;
};

std::unique_ptr<KernelEngine> makeEngine(double rate = 48000, int32_t maxBlock = 16384) {
  auto engine = std::make_unique<KernelEngine>();
  EXPECT_TRUE(engine->setup(rate, maxBlock));
  return engine;
}

void run(KernelEngine &e, int32_t frames) { e.processBlock(nullptr, 0, nullptr, 0, frames); }

// An engine whose sequencer is stopped, so only input reaches the output.
std::unique_ptr<KernelEngine> makeStoppedEngine(int32_t maxBlock = 512) {
  auto engine = makeEngine(48000, maxBlock);
  engine->setParamValue(kRun, 0.0);
  run(*engine, maxBlock);
  EXPECT_EQ(engine->midiCount(), 0);
  return engine;
}

bool queuePlain(KernelEngine &e, uint32_t index, double plain, int32_t frame = 0) {
  const norva::norva_param_desc &row = norva::NORVA_PARAMS[index];
  return e.pushParamNormalized(index, (plain - row.min) / (row.max - row.min), frame);
}

std::vector<Midi> output(const KernelEngine &e, uint64_t base = 0) {
  std::vector<Midi> out;
  for (int32_t i = 0; i < e.midiCount(); ++i) {
    const norva::KernelEngineMidi &m = e.midi(i);
    out.push_back({base + m.frame, m.status, m.data1, m.data2});
  }
  return out;
}

// Runs `blocks` blocks of `frames`, collecting the output on one frame axis.
std::vector<Midi> runBlocks(KernelEngine &e, int blocks, int32_t frames, uint64_t *position = nullptr) {
  uint64_t local = 0;
  uint64_t &at = position != nullptr ? *position : local;
  std::vector<Midi> all;
  for (int b = 0; b < blocks; ++b) {
    run(e, frames);
    for (const Midi &m : output(e, at)) all.push_back(m);
    at += uint64_t(frames);
  }
  return all;
}

std::vector<Midi> withStatus(const std::vector<Midi> &midi, int status, int note = -1) {
  std::vector<Midi> out;
  for (const Midi &m : midi)
    if (m.status == status && (note < 0 || m.data1 == note)) out.push_back(m);
  return out;
}

// Velocities of the sequencer's notes (middle C), in order.
std::vector<int> stepVelocities(const std::vector<Midi> &midi) {
  std::vector<int> out;
  for (const Midi &m : withStatus(midi, 0x90, 60)) out.push_back(m.data2);
  return out;
}

// Drains the audio thread's queue; returns how many records the ring holds.
uint32_t settle(KernelEngine &e) {
  e.drainRuntimeDiagnostics();
  return e.diagnostics().count;
}

std::vector<Diag> diagnosticsSince(KernelEngine &e, uint32_t mark) {
  e.drainRuntimeDiagnostics();
  std::vector<Diag> out;
  const norva::norva_runtime_diagnostic_ring &ring = e.diagnostics();
  for (uint32_t i = mark; i < ring.count; ++i)
    out.push_back({ring.records[i].code, ring.records[i].severity, ring.records[i].phase,
                   ring.records[i].message});
  return out;
}

// One diagnostic of the given code, severity and phase.
void expectOnly(const std::vector<Diag> &diags, uint32_t code, int severity, int phase,
                const char *message = nullptr) {
  ASSERT_EQ(diags.size(), 1u);
  EXPECT_EQ(diags[0].code, code);
  EXPECT_EQ(diags[0].severity, severity);
  EXPECT_EQ(diags[0].phase, phase);
  if (message != nullptr) {
    EXPECT_EQ(diags[0].message, message);
  }
}

int countCode(const std::vector<Diag> &diags, uint32_t code) {
  int n = 0;
  for (const Diag &d : diags) n += d.code == code;
  return n;
}

// Bpm 300 in sixty-fourths: a step every 600 frames.
void playFast(KernelEngine &e) {
  queuePlain(e, kBpm, 300);
  queuePlain(e, kResolution, 5);
}

// ---------------------------------------------------------------------------
// Setup: validation, the rate fraction and the converter's sizing.

TEST(KernelEngineSetup, RepresentsTheHostRateAsAReducedFraction) {
  auto e = makeEngine(44100, 512);
  EXPECT_EQ(e->rateNumerator(), 44100u);
  EXPECT_EQ(e->rateDenominator(), 1u);
  EXPECT_EQ(e->fifoCapacity(), 1544u); // max(ceil(512 * 48000 / 44100) + 64, 3 * 512 + 8)
  EXPECT_EQ(e->kernelRate(), 44100.0);
  EXPECT_FALSE(e->rateConverted());

  ASSERT_TRUE(e->setup(44100.5, 512));
  EXPECT_EQ(e->rateNumerator(), 88201u);
  EXPECT_EQ(e->rateDenominator(), 2u);
  EXPECT_EQ(e->sampleRate(), 44100.5);

  ASSERT_TRUE(e->setup(1000, 16384));
  EXPECT_EQ(e->fifoCapacity(), 786496u); // 16384 * 48 + 64
  const uint32_t mark = settle(*e);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(e->setup(700, 16384)); // needs 1 123 539 frames
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(e->ready());
  expectOnly(diagnosticsSince(*e, mark), 14, 2, 5, "host rate requires unsupported SRC FIFO capacity");
}

TEST(KernelEngineSetup, BlockSizeMustLieWithinTheCeiling) {
  auto e = makeEngine(48000, 16384);
  EXPECT_TRUE(e->setup(48000, 1));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(e->setup(48000, 16385));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "norva-plugin-shell: rejected host format (sampleRate=48000, maxBlockFrames=16385)\n"
            "norva-plugin-shell: maxBlockFrames exceeds the 16384-frame ceiling; render long fixtures "
            "as a LOOP of <=16384-frame blocks rather than declaring the whole fixture as one block\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(e->setup(48000, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "norva-plugin-shell: rejected host format (sampleRate=48000, maxBlockFrames=0)\n");
}

TEST(KernelEngineSetup, RejectsRatesOutsideTheAcceptedRange) {
  auto e = std::make_unique<KernelEngine>();
  for (double rate : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                      0.0000005, 0.0, -44100.0, std::nextafter(4000000.0, 5000000.0)}) {
    const uint32_t mark = settle(*e);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(e->setup(rate, 512)) << rate;
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << rate;
    expectOnly(diagnosticsSince(*e, mark), 14, 2, 5, "host processing configuration is invalid");
  }
  EXPECT_TRUE(e->setup(4000000, 512));
}

TEST(KernelEngineSetup, AFailedSetupKeepsTheInstanceButRefusesBlocks) {
  auto e = makeEngine(48000, 512);
  const uint32_t handle = e->kernelHandle();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(e->setup(48000, 0));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(e->kernelHandle(), handle);
  const uint32_t mark = settle(*e);
  e->pushNoteOn(64, 1.0, 0, 0, 0);
  run(*e, 512);
  EXPECT_EQ(e->midiCount(), 0);
  expectOnly(diagnosticsSince(*e, mark), 4, 3, 7);
}

// ---------------------------------------------------------------------------
// The kernel runtime and its instances.

TEST(KernelEngineInstances, TwoEnginesShareOneRuntimeInitialisation) {
  auto first = makeEngine(48000, 512);
  auto second = makeEngine(44100, 512);
  // Initialising the runtime again would free the first instance and hand its
  // handle to the second.
  ASSERT_NE(first->kernelHandle(), 0u);
  EXPECT_NE(first->kernelHandle(), second->kernelHandle());
  run(*first, 512);
  EXPECT_EQ(withStatus(output(*first), 0x90).size(), 1u);
  EXPECT_EQ(settle(*first), 0u);
}

TEST(KernelEngineInstances, SetupReplacesTheInstanceAndRepublishesValues) {
  auto e = makeEngine(48000, 512);
  const uint32_t before = e->kernelHandle();
  e->setParamValue(kRun, 0.0);
  run(*e, 512);
  EXPECT_TRUE(output(*e).empty());

  ASSERT_TRUE(e->setup(48000, 512));
  EXPECT_NE(e->kernelHandle(), before);
  EXPECT_EQ(lmpr_music_norva_tindrel_bf9421541c27_destroy(before), 1) << "old instance still live";
  // The fresh instance starts running by default; the stopped value reaches it.
  run(*e, 512);
  EXPECT_TRUE(output(*e).empty());
}

TEST(KernelEngineInstances, TheThirtyThirdEngineFailsAndRecoversOnceASlotFrees) {
  std::vector<std::unique_ptr<KernelEngine>> live;
  for (int i = 0; i < 32; ++i) {
    live.push_back(std::make_unique<KernelEngine>());
    ASSERT_TRUE(live.back()->setup(48000, 256)) << "engine " << i;
  }
  auto extra = std::make_unique<KernelEngine>();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(extra->setup(48000, 256));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "norva-plugin-shell: kernel setup failed at 48000 Hz\n");
  EXPECT_FALSE(extra->ready());
  EXPECT_EQ(extra->kernelHandle(), 0u);
  const std::vector<Diag> diags = diagnosticsSince(*extra, 0);
  ASSERT_EQ(diags.size(), 2u);
  expectOnly({diags[0]}, 1, 3, 5, "product kernel instance creation failed");
  expectOnly({diags[1]}, 15, 3, 5, "kernel runtime is unavailable after setup");

  live.pop_back();
  EXPECT_TRUE(extra->setup(48000, 256));
}

// ---------------------------------------------------------------------------
// Blocks: cutting, placement of output, conversion of kernel output.

TEST(KernelEngineBlocks, StepsLandOnTheirFramesWithinLongBlocks) {
  auto e = makeEngine();
  // 120 BPM in sixteenths: a step every 6000 frames, gate half a step.
  run(*e, 16384);
  EXPECT_EQ(output(*e), (std::vector<Midi>{{0, 0xB0, 1, 0},
                                           {0, 0x90, 60, 100},
                                           {3000, 0x80, 60, 0},
                                           {6000, 0x90, 60, 60},
                                           {9000, 0x80, 60, 0}}));
}

TEST(KernelEngineBlocks, OutputDoesNotDependOnHowTheHostCutsItsBlocks) {
  auto whole = makeEngine();
  auto cut = makeEngine();
  playFast(*whole);
  playFast(*cut);
  const std::vector<Midi> reference = runBlocks(*whole, 4, 16384);
  ASSERT_GT(reference.size(), 100u);

  const int32_t sizes[] = {300, 1, 128, 129, 1000, 4097, 127, 16384};
  std::vector<Midi> pieces;
  uint64_t at = 0;
  for (int i = 0; at < 4 * 16384; ++i) {
    const int32_t frames = int32_t(std::min<uint64_t>(sizes[i % 8], 4 * 16384 - at));
    for (const Midi &m : runBlocks(*cut, 1, frames, &at)) pieces.push_back(m);
  }
  EXPECT_EQ(pieces, reference);
}

TEST(KernelEngineBlocks, InputNotesPassThroughAtTheirHostFrames) {
  auto e = makeStoppedEngine();
  e->pushNoteOn(64, 0.5, 300, 0, 0); // third kernel call, relative frame 44
  e->pushNoteOff(64, 511, 0, 0);
  e->pushNoteOn(70, 1.0, 127, 0, 0); // last frame of the first call
  e->pushNoteOn(71, 1.0, 128, 0, 0); // first frame of the second
  run(*e, 512);
  EXPECT_EQ(output(*e), (std::vector<Midi>{{127, 0x90, 70, 127},
                                           {128, 0x90, 71, 127},
                                           {300, 0x90, 64, 64}, // 63.5 rounds up
                                           {511, 0x80, 64, 0}}));
}

TEST(KernelEngineBlocks, EventsAreDeliveredInFrameOrderTiesInPushOrder) {
  auto e = makeStoppedEngine();
  e->pushNoteOn(66, 1.0, 400, 0, 0);
  e->pushNoteOff(64, 5, 0, 0);
  e->pushNoteOn(64, 1.0, 5, 0, 0);
  e->pushNoteOn(65, 1.0, 5, 0, 0);
  e->pushNoteOn(63, 1.0, 2, 0, 0);
  run(*e, 512);
  EXPECT_EQ(output(*e), (std::vector<Midi>{{2, 0x90, 63, 127},
                                           {5, 0x80, 64, 0},
                                           {5, 0x90, 64, 127},
                                           {5, 0x90, 65, 127},
                                           {400, 0x90, 66, 127}}));
}

TEST(KernelEngineBlocks, EventsOutsideTheBlockAndControllersAreNotDelivered) {
  auto e = makeStoppedEngine();
  e->pushNoteOn(70, 1.0, -1, 0, 0);
  e->pushNoteOn(71, 1.0, 256, 0, 0);
  EXPECT_TRUE(e->pushController(7, 100, 10, 0, 0));
  EXPECT_FALSE(e->pushController(128, 0, 0, 0, 0));
  EXPECT_FALSE(e->pushController(7, 128, 0, 0, 0));
  run(*e, 256);
  EXPECT_TRUE(output(*e).empty());
  run(*e, 512); // the late note does not carry over
  EXPECT_TRUE(output(*e).empty());
  EXPECT_EQ(settle(*e), 0u);
}

TEST(KernelEngineBlocks, EventsTheKernelRefusesAreReportedAndTheBlockRuns) {
  auto e = makeStoppedEngine();
  // The kernel takes 64 events per call: 70 notes in the first call.
  for (int i = 0; i < 70; ++i) e->pushNoteOn(20 + i, 1.0, i, 0, 0);
  e->pushNoteOn(200, 1.0, 200, 0, 0); // no such note
  e->pushNoteOn(90, 1.0, 300, 0, 0);
  run(*e, 512);
  const std::vector<Midi> out = output(*e);
  ASSERT_EQ(out.size(), 65u);
  EXPECT_EQ(out[63].data1, 83);
  EXPECT_EQ(out[64], (Midi{300, 0x90, 90, 127}));
  const std::vector<Diag> diags = diagnosticsSince(*e, 0);
  EXPECT_EQ(countCode(diags, 22), 2); // one per kernel call with a refusal
  EXPECT_EQ(diags.size(), 2u);
  EXPECT_TRUE(diags[0].severity == 2 && diags[0].phase == 7);
}

TEST(KernelEngineBlocks, QueueHolds2048EventsPerBlock) {
  auto e = makeStoppedEngine();
  for (int i = 0; i < 2048; ++i) ASSERT_TRUE(e->pushController(7, uint32_t(i % 128), 0, 0, 0)) << i;
  EXPECT_FALSE(e->pushNoteOn(99, 1.0, 0, 0, 0) || e->pushNoteOff(99, 0, 0, 0) ||
               e->pushParamNormalized(kRun, 1.0, 0) || e->pushController(7, 1, 0, 0, 0));
  run(*e, 512);
  EXPECT_TRUE(output(*e).empty());
  EXPECT_EQ(e->paramValue(kRun), 0.0);

  ASSERT_TRUE(e->pushNoteOn(99, 1.0, 0, 0, 0)); // the block emptied the queue
  run(*e, 512);
  EXPECT_EQ(output(*e), (std::vector<Midi>{{0, 0x90, 99, 127}}));
}

// ---------------------------------------------------------------------------
// Refused blocks.

TEST(KernelEngineRefusals, NotReadyZeroesOutputsAndReportsFatal) {
  KernelEngine e;
  float left[64], right[64];
  std::fill(left, left + 64, 0.5f);
  std::fill(right, right + 64, -0.5f);
  float *outs[] = {left, nullptr, right};
  e.pushNoteOn(64, 1.0, 0, 0, 0);
  testing::internal::CaptureStderr();
  e.processBlock(nullptr, 0, outs, 3, 64);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(e.midiCount(), 0);
  for (int i = 0; i < 64; ++i) ASSERT_TRUE(left[i] == 0.0f && right[i] == 0.0f) << i;
  expectOnly(diagnosticsSince(e, 0), 4, 3, 7);
}

// The only test here that asks for output channels: the console line is
// printed once per process.
TEST(KernelEngineRefusals, OutputChannelsAreRefusedWithOneConsoleLine) {
  auto a = makeEngine(48000, 512);
  auto b = makeEngine(48000, 512);
  float buffer[2][512];
  float *outs[] = {buffer[0], buffer[1]};
  std::fill(&buffer[0][0], &buffer[0][0] + 1024, 1.0f);
  a->pushNoteOn(64, 1.0, 0, 0, 0);
  static bool ranBefore = false; // under --gtest_repeat the line is already out
  testing::internal::CaptureStderr();
  a->processBlock(nullptr, 0, outs, 2, 512);
  b->processBlock(nullptr, 0, outs, 1, 512);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            ranBefore ? ""
                      : "norva kernel_engine: processBlock requested 2 output channel(s) from a "
                        "build that declares 0; refusing rather than reading the null planar "
                        "output view an event-only product legally has\n");
  ranBefore = true;
  EXPECT_EQ(a->midiCount(), 0);
  for (int i = 0; i < 512; ++i) ASSERT_TRUE(buffer[0][i] == 0.0f && buffer[1][i] == 0.0f) << i;
  for (KernelEngine *e : {a.get(), b.get()}) expectOnly(diagnosticsSince(*e, 0), 4, 2, 7);
  // The refused block's note was dropped with it.
  run(*a, 512);
  EXPECT_TRUE(withStatus(output(*a), 0x90, 64).empty());
}

TEST(KernelEngineRefusals, ABlockLongerThanDeclaredYieldsNothing) {
  auto e = makeEngine(48000, 256);
  e->pushNoteOn(64, 1.0, 10, 0, 0);
  run(*e, 257);
  EXPECT_EQ(e->midiCount(), 0);
  expectOnly(diagnosticsSince(*e, 0), 4, 2, 7);
  run(*e, 256); // the sequencer starts now; the dropped note stays dropped
  EXPECT_EQ(output(*e), (std::vector<Midi>{{0, 0xB0, 1, 0}, {0, 0x90, 60, 100}}));
}

// ---------------------------------------------------------------------------
// Parameter values: conversion, storage, delivery.

TEST(KernelEngineParameters, NormalisedValuesBecomePlainValuesOfTheCatalogue) {
  auto e = makeEngine(48000, 512);
  EXPECT_TRUE(e->pushParamNormalized(kBpm, 0.5, 0));
  EXPECT_TRUE(e->pushParamNormalized(kTranspose, 0.26, 0));
  EXPECT_TRUE(e->pushParamNormalized(kOctave, 1.7, 0));
  EXPECT_TRUE(e->pushParamNormalized(kLength, -0.2, 0));
  EXPECT_FALSE(e->pushParamNormalized(53, 0.5, 0));
  run(*e, 0);
  EXPECT_EQ(e->paramValue(kBpm), 160.0);
  EXPECT_EQ(e->paramValue(kTranspose), -12.0); // -11.52 snapped
  EXPECT_EQ(e->paramValue(kOctave), 5.0);
  EXPECT_EQ(e->paramValue(kLength), 1.0);
}

TEST(KernelEngineParameters, ValuesOutsideTheCatalogueAreIgnored) {
  KernelEngine e;
  EXPECT_EQ(e.paramValue(kBpm), 120.0);
  EXPECT_EQ(e.paramValue(kLastStepVelocity), 60.0);
  e.setParamValue(53, 7.0);
  EXPECT_EQ(e.paramValue(53), 0.0);
  EXPECT_EQ(e.paramValue(1000), 0.0);
  e.setParamValue(kLastStepVelocity, 12.0);
  EXPECT_EQ(e.paramValue(kLastStepVelocity), 12.0);

  for (auto [given, kept] : {std::pair{25, 19}, {-3, 0}, {7, 7}}) {
    e.setVariation(given);
    EXPECT_EQ(e.variation(), kept) << given;
  }
}

TEST(KernelEngineParameters, AZeroFrameBlockStoresValuesForTheNextBlock) {
  auto e = makeEngine(48000, 512);
  playFast(*e);
  run(*e, 512); // the next step falls at 600
  queuePlain(*e, kRun, 0.0, 300);
  queuePlain(*e, kBpm, 200, 50);
  queuePlain(*e, kBpm, 100, 10); // earlier frame: the later one wins
  e->pushNoteOn(64, 1.0, 0, 0, 0);
  run(*e, 0);
  EXPECT_EQ(e->midiCount(), 0);
  EXPECT_EQ(e->paramValue(kRun), 0.0);
  EXPECT_EQ(e->paramValue(kBpm), 200.0);
  // The stop reaches the kernel before its first step; the note was dropped.
  run(*e, 512);
  EXPECT_TRUE(output(*e).empty());
  EXPECT_EQ(settle(*e), 0u);
}

TEST(KernelEngineParameters, QueuedChangesTakeEffectAtTheirFrame) {
  auto e = makeEngine(48000, 4096);
  playFast(*e);
  queuePlain(*e, kTranspose, 12.0, 1500); // between the steps at 1200 and 1800
  run(*e, 4096);
  std::vector<int> notes;
  for (const Midi &m : withStatus(output(*e), 0x90)) notes.push_back(m.data1);
  EXPECT_EQ(notes, (std::vector<int>{60, 60, 72, 72, 72})); // steps 2 and 6 rest
}

// ---------------------------------------------------------------------------
// Values the kernel refuses while running a block.

class KernelEngineRejection : public ::testing::Test {
protected:
  // Pattern 9 one step long, pattern 10 two steps, chaining on with pattern 9
  // selected: a chain of 9..10 plays velocities 100 | 100 60 | 100 | 100 60.
  void SetUp() override {
    engine_ = makeEngine(48000, 4096);
    playFast(*engine_);
    queuePlain(*engine_, kPattern, 9);
    queuePlain(*engine_, kLength, 1);
    play(1);
    queuePlain(*engine_, kPattern, 10);
    queuePlain(*engine_, kLength, 2);
    play(1);
    queuePlain(*engine_, kPattern, 9);
    queuePlain(*engine_, kChainOn, 1);
    play(1);
  }

  std::vector<Midi> play(int blocks) { return runBlocks(*engine_, blocks, 4096, &position_); }

  // True when the velocities follow the 9..10 chain from their first 60 on.
  static bool chainsNineToTen(const std::vector<int> &velocities) {
    size_t first = 0;
    while (first < velocities.size() && velocities[first] != 60) ++first;
    if (first > 2 || velocities.size() < first + 9) return false;
    for (size_t i = first; i < velocities.size(); ++i)
      if (velocities[i] != ((i - first) % 3 == 0 ? 60 : 100)) return false;
    return true;
  }

  // Note-ons and note-offs of middle C alternate; the window may open on the
  // note-off of a note struck before it.
  static void expectNoHangingNotes(const std::vector<Midi> &midi) {
    int sounding = -1;
    for (const Midi &m : midi) {
      if (m.data1 != 60) continue;
      if (m.status == 0x90) {
        ASSERT_NE(sounding, 1) << "note-on at " << m.frame << " before the last one ended";
        sounding = 1;
      } else if (m.status == 0x80) {
        ASSERT_NE(sounding, 0) << "note-off at " << m.frame << " without a note";
        sounding = 0;
      }
    }
  }

  // Restores chain 9..10 the way a state restore does: start first.
  void restoreNineToTen() {
    engine_->setParamValue(kChainStart, 9);
    engine_->setParamValue(kChainEnd, 10);
    play(1);
  }

  std::unique_ptr<KernelEngine> engine_;
  uint64_t position_ = 0;
};

TEST_F(KernelEngineRejection, ARefusedValueStillLetsTheBlocksOutputThrough) {
  const uint32_t mark = settle(*engine_);
  queuePlain(*engine_, kChainStart, 20); // above chain end 7
  engine_->pushNoteOn(64, 1.0, 10, 0, 0);
  engine_->pushNoteOff(64, 20, 0, 0);
  play(1);
  const std::vector<Midi> out = output(*engine_, 0);
  EXPECT_EQ(withStatus(out, 0x90, 64), (std::vector<Midi>{{10, 0x90, 64, 127}}));
  EXPECT_EQ(withStatus(out, 0x80, 64), (std::vector<Midi>{{20, 0x80, 64, 0}}));
  EXPECT_FALSE(withStatus(out, 0x90, 60).empty());
  const std::vector<Diag> diags = diagnosticsSince(*engine_, mark);
  EXPECT_EQ(countCode(diags, 22), 1);
  EXPECT_EQ(countCode(diags, 4), 0);
  EXPECT_EQ(engine_->paramValue(kChainStart), 20.0);
}

TEST_F(KernelEngineRejection, RestoredChainBoundsLandWhateverTheirOrder) {
  restoreNineToTen();
  EXPECT_TRUE(chainsNineToTen(stepVelocities(play(3))));
}

TEST_F(KernelEngineRejection, ChainBoundsAutomatedAtTheBlockStartLandToo) {
  // Both bounds changed by the host at frame 0 of one block, start first.
  queuePlain(*engine_, kChainStart, 9);
  queuePlain(*engine_, kChainEnd, 10);
  play(1);
  EXPECT_TRUE(chainsNineToTen(stepVelocities(play(3))));
}

TEST_F(KernelEngineRejection, AValueTheKernelKeepsRefusingIsSingledOut) {
  restoreNineToTen();
  play(1);
  const uint32_t mark = settle(*engine_);
  // A harmless change pushed into the same kernel call as the refused one:
  // re-applying it every call would keep pulling playback back to pattern 9.
  engine_->setParamValue(kChainStart, 20);
  engine_->setParamValue(kSeed, 5);
  std::vector<Midi> midi = play(1);
  std::vector<Diag> diags = diagnosticsSince(*engine_, mark);
  std::vector<Midi> later;
  // Drained after every block: the ring would not hold one record per call.
  for (int block = 0; block < 8; ++block) {
    const uint32_t before = settle(*engine_);
    const std::vector<Midi> out = play(1);
    later.insert(later.end(), out.begin(), out.end());
    EXPECT_GE(stepVelocities(out).size(), 6u) << "block " << block << " went quiet";
    for (const Diag &d : diagnosticsSince(*engine_, before)) diags.push_back(d);
  }
  EXPECT_TRUE(chainsNineToTen(stepVelocities(later)));
  EXPECT_EQ(countCode(diags, 22), 1) << "a repeated refusal is reported once";
  EXPECT_EQ(countCode(diags, 4), 0);
  midi.insert(midi.end(), later.begin(), later.end());
  expectNoHangingNotes(midi);
  EXPECT_EQ(engine_->paramValue(kChainStart), 20.0);

  // Once the end moves above it, the refused start is taken: chain 20..25
  // plays pattern 20, whose factory velocities include 64.
  engine_->setParamValue(kChainEnd, 25);
  const std::vector<int> velocities = stepVelocities(play(4));
  EXPECT_NE(std::find(velocities.begin(), velocities.end(), 64), velocities.end());
}

// ---------------------------------------------------------------------------
// Banks and pad overrides.

norva::SamplerPadOverrides pads(size_t count, uint32_t mask = norva::kPadGain) {
  norva::SamplerPadOverrides set;
  for (size_t i = 0; i < count; ++i) {
    norva::SamplerPadOverride pad;
    pad.key = "pad" + std::to_string(i);
    pad.mask = mask;
    pad.gain = 0.5;
    set.push_back(pad);
  }
  return set;
}

TEST(KernelEnginePadOverrides, AcceptsValidSetsAndKeepsTheLastOnRefusal) {
  KernelEngine e;
  ASSERT_NE(e.padOverrides(), nullptr);
  EXPECT_TRUE(e.padOverrides()->empty());

  ASSERT_TRUE(e.publishSamplerPadOverrides(pads(256)));
  const std::shared_ptr<const norva::SamplerPadOverrides> accepted = e.padOverrides();
  EXPECT_EQ(accepted->size(), 256u);

  EXPECT_FALSE(e.publishSamplerPadOverrides(pads(257)));
  EXPECT_FALSE(e.publishSamplerPadOverrides(pads(1, 0))); // no setting present
  EXPECT_EQ(e.padOverrides(), accepted);

  ASSERT_TRUE(e.publishSamplerPadOverrides(pads(1)));
  EXPECT_EQ(e.padOverrides()->size(), 1u);
  EXPECT_EQ(accepted->size(), 256u) << "a published set is never changed afterwards";

  EXPECT_TRUE(e.publishSamplerPadOverrides({}));
  EXPECT_TRUE(e.padOverrides()->empty());
}

TEST(KernelEnginePadOverrides, EveryStagedBankIsRefused) {
  KernelEngine e;
  EXPECT_FALSE(e.publishRuntimeBank(nullptr));
  EXPECT_EQ(e.publishedBank(), nullptr);
}

} // namespace
