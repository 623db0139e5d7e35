// Authoring and following the host: plane edits at their frames, the host's
// musical grid (exact steps, a pattern's start on the bar, loops, locates,
// stops, tempo changes, the fallback), Bypass, and the plane in the state
// document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/kernel_engine.h"
#include "formats/json.h"
#include "params/authored_plane.h"
#include "processor_rig.h"

namespace {

using namespace norva;
using kernel::PlaneEdit;
using Notes = std::vector<std::pair<uint64_t, int>>; // absolute frame, pitch of each note-on

PlaneEdit stepEdit(int pattern, int step, StepField field, int value) {
  PlaneEdit e;
  e.kind = PlaneEdit::Kind::stepField;
  e.pattern = uint8_t(pattern);
  e.step = uint8_t(step);
  e.field = field;
  e.value = value;
  return e;
}

PlaneEdit patternEdit(int pattern, PatternField field, int value) {
  PlaneEdit e = stepEdit(pattern, 0, StepField(0), value);
  e.kind = PlaneEdit::Kind::patternField;
  e.field = field;
  return e;
}

uint32_t settle(KernelEngine &e) {
  e.drainRuntimeDiagnostics();
  return e.diagnostics().count;
}

uint32_t countCode(KernelEngine &e, uint32_t code) {
  settle(e);
  uint32_t n = 0;
  for (uint32_t i = 0; i < e.diagnostics().count; ++i) n += e.diagnostics().records[i].code == code;
  return n;
}

// An engine, and the note-ons and -offs it sent, on one frame axis.
struct EngineRun {
  explicit EngineRun(int32_t block) : block(block) { EXPECT_TRUE(engine.setup(48000, block)); }
  void run(int blocks = 1) {
    for (int b = 0; b < blocks; ++b) {
      if (engine.clockWatched()) engine.updateClock(block); // as the processor does
      engine.processBlock(block);
      for (const MidiEvent &m : engine.output()) {
        if (m.kind == EventKind::noteOn) {
          ons.push_back({frame + m.frame, m.number});
          ++sounding[m.number];
        } else if (m.kind == EventKind::noteOff) {
          --sounding[m.number];
        }
      }
      frame += uint64_t(block);
    }
  }
  int hanging() const {
    int n = 0;
    for (int s : sounding) n += s;
    return n;
  }
  KernelEngine engine;
  int32_t block;
  uint64_t frame = 0;
  Notes ons;
  int sounding[128] = {};
};

// --- plane edits at their frames --------------------------------------------------------

// The factory pattern at 120 BPM in sixteenths: steps at 0, 6000 and 12000
// (the third has velocity 0), every note middle C.
TEST(PlaneEdits, ApplyAtTheirFrameInsideABlock) {
  uint8_t lowPlane[kPlaneBytes];
  writeFactoryPlane(lowPlane);
  std::memset(lowPlane + planeLaneOffset(kStepNote), 50, kPlaneCells);
  PlaneEdit whole;
  whole.kind = PlaneEdit::Kind::plane;
  whole.plane = lowPlane;
  const struct Case {
    const char *what;
    std::vector<std::pair<int32_t, PlaneEdit>> edits;
    Notes played;
  } cases[] = {
      {"a note before its step", {{3000, stepEdit(0, 1, kStepNote, 72)}}, {{0, 60}, {6000, 72}}},
      {"a note at its step's frame", {{6000, stepEdit(0, 1, kStepNote, 72)}}, {{0, 60}, {6000, 72}}},
      {"a note a frame late", {{6001, stepEdit(0, 1, kStepNote, 72)}}, {{0, 60}, {6000, 60}}},
      {"a note held as the byte form holds it", {{0, stepEdit(0, 0, kStepNote, 200)}}, {{0, 72}, {6000, 60}}},
      {"a step switched off", {{100, stepEdit(0, 1, kStepOn, 0)}}, {{0, 60}}},
      {"a ratchet", {{100, stepEdit(0, 1, kStepRatchet, 2)}}, {{0, 60}, {6000, 60}, {9000, 60}}},
      {"a pattern one step long", {{0, stepEdit(0, 0, kStepNote, 64)}, {3000, patternEdit(0, kPatternLength, 1)}},
       {{0, 64}, {6000, 64}, {12000, 64}}},
      {"the whole plane", {{5000, whole}}, {{0, 60}, {6000, 50}}},
      {"another pattern only", {{10, stepEdit(1, 1, kStepNote, 90)}}, {{0, 60}, {6000, 60}}},
  };
  for (const Case &c : cases) {
    EngineRun r(12288);
    for (const auto &[frame, edit] : c.edits) EXPECT_TRUE(r.engine.pushEdit(edit, frame));
    r.run();
    EXPECT_EQ(r.ons, c.played) << c.what;
    EXPECT_EQ(settle(r.engine), 0u) << c.what;
  }
}

// An edit outside its field's bounds, or a plane the byte form's reader
// refuses, changes nothing and is reported as a refused event.
TEST(PlaneEdits, RefusedEditsChangeNothing) {
  uint8_t badPlane[kPlaneBytes];
  writeFactoryPlane(badPlane);
  badPlane[planeRowOffset(kPatternLength) + 3] = 0;
  PlaneEdit plane;
  plane.kind = PlaneEdit::Kind::plane;
  plane.plane = badPlane;
  for (const PlaneEdit &edit : {stepEdit(0, 1, kStepNote, 256), stepEdit(0, 32, kStepNote, 72),
                                stepEdit(0, 1, StepField(7), 72), patternEdit(0, kPatternLength, 0), plane}) {
    EngineRun r(12288);
    EXPECT_TRUE(r.engine.pushEdit(edit, 10));
    r.run();
    EXPECT_EQ(r.ons, (Notes{{0, 60}, {6000, 60}})) << int(edit.kind) << " " << int(edit.field);
    EXPECT_EQ(countCode(r.engine, kDiagEventRejected), 1u);
  }
}

// --- following the host's grid ------------------------------------------------------------

// A host whose position follows its frames at a constant tempo, as the
// probe's and most hosts' do.
// Some report positions rounded (Ardour: to 1920ths of a quarter note) and
// bars as their number times four (Ardour 7, whatever the time signature).
struct Host {
  double tempo = 120;
  double ppq = 0;
  bool playing = true;
  double rounding = 0;  // positions in 1/rounding quarter notes
  bool barByNumber = false;
  int32_t numerator = 4;
  HostTransport at() const {
    HostTransport t;
    t.playing = playing;
    t.hasTempo = t.hasPosition = t.hasBar = t.hasMeter = true;
    t.tempo = tempo;
    t.ppq = rounding > 0 ? std::round(ppq * rounding) / rounding : ppq;
    t.numerator = numerator;
    const double bars = std::floor(ppq / numerator);
    t.barPpq = barByNumber ? (bars + 1) * 4 : bars * numerator;
    return t;
  }
};

struct GridRun : EngineRun {
  explicit GridRun(int32_t block = 512) : EngineRun(block) { engine.setParamValue(kParamFollowHost, 1); }
  void play(int blocks) {
    for (int b = 0; b < blocks; ++b) {
      engine.setHostTransport(host.at());
      run();
      if (host.playing) host.ppq += block / 48000.0 * host.tempo / 60;
    }
  }
  Host host;
};

// Every step on, 32nds at 208 BPM: a step is 1730.77 frames. Over a minute
// each note starts on the first frame at or after its grid position; the own
// clock, with whole-frame steps, ends up 8 ms away.
// The same from a host that rounds its positions: the grid keeps its count.
TEST(HostGrid, StepsFallOnTheHostsGridWithoutDrift) {
  const double step = 48000.0 * 60 / 208 / 8;
  for (const double rounding : {0.0, 1920.0}) {
    GridRun r;
    for (uint32_t k = 0; k < kStepVelocityParamCount; ++k) r.engine.setParamValue(kParamFirstStepVelocity + k, 100);
    r.engine.setParamValue(kParamResolution, 4);
    r.host.tempo = 208;
    r.host.rounding = rounding;
    r.play(5625);
    ASSERT_EQ(r.ons.size(), 1664u);
    for (size_t n = 0; n < r.ons.size(); ++n)
      ASSERT_EQ(r.ons[n].first, uint64_t(std::ceil(double(n) * step - 1e-7))) << n << " rounding " << rounding;
    EXPECT_LE(r.hanging(), 1);
  }

  EngineRun own(512); // the same without Follow host
  for (uint32_t k = 0; k < kStepVelocityParamCount; ++k) own.engine.setParamValue(kParamFirstStepVelocity + k, 100);
  own.engine.setParamValue(kParamResolution, 4);
  own.engine.setParamValue(kParamBpm, 208);
  own.run(5625);
  EXPECT_EQ(own.ons[1663].first - uint64_t(std::ceil(1663 * step)), 383u) << "0.23 frames a step";
}

// Steps k of pattern 0 play note 60 + k, so the pitch tells the step.
void numberSteps(KernelEngine &e) {
  for (int k = 0; k < kPlaneSteps; ++k) e.pushEdit(stepEdit(0, k, kStepNote, 60 + k), 0);
  for (uint32_t k = 0; k < kStepVelocityParamCount; ++k) e.setParamValue(kParamFirstStepVelocity + k, 100);
}

// Where the host starts, the pattern's first step is on the bar: from a bar
// line it plays at once; from the second beat the walk is where it would
// have been had it started at the bar. A host's bar that does not hold its
// position gives way to bars of the time signature.
TEST(HostGrid, APatternStartsOnTheBar) {
  const struct {
    double startPpq;
    int32_t numerator; // of a time signature in quarter notes
    bool barByNumber;  // the host's bar is its number times four
    Notes first;       // the first two note-ons, frames from the start
  } cases[] = {{4.0, 4, false, {{0, 60}, {6000, 61}}},  {5.0, 4, false, {{0, 64}, {6000, 65}}},
               {5.1, 4, false, {{3600, 65}, {9600, 66}}}, {0.0, 4, false, {{0, 60}, {6000, 61}}},
               {5.0, 4, true, {{0, 64}, {6000, 65}}},     {4.0, 3, true, {{0, 64}, {6000, 65}}}};
  for (const auto &c : cases) {
    GridRun r;
    numberSteps(r.engine);
    r.host.ppq = c.startPpq;
    r.host.numerator = c.numerator;
    r.host.barByNumber = c.barByNumber;
    r.play(24);
    ASSERT_GE(r.ons.size(), 2u);
    EXPECT_EQ(Notes(r.ons.begin(), r.ons.begin() + 2), c.first) << c.startPpq << " " << c.numerator;
  }
}

// A loop jumps back to its start: every pass plays the same steps at the
// same frames. A locate lands between steps: the next step is the first on
// the grid after the new place, at the step its bar calls for; what sounds
// ends as scheduled and nothing hangs. (Ardour's session checks a tempo
// change, and that two rolls from one place record the same notes.)
TEST(HostGrid, ALoopOrALocateRealignsAtTheNextStep) {
  GridRun r(480);
  numberSteps(r.engine);
  std::vector<Notes> passes(3);
  for (Notes &pass : passes) {
    r.host.ppq = 0;
    const uint64_t start = r.frame;
    const size_t from = r.ons.size();
    r.play(100); // two beats, then the host jumps back
    for (size_t i = from; i < r.ons.size(); ++i) pass.push_back({r.ons[i].first - start, r.ons[i].second});
  }
  EXPECT_EQ(passes[0].size(), 8u);
  EXPECT_EQ(passes[1], passes[0]);
  EXPECT_EQ(passes[2], passes[0]);
  const size_t before = r.ons.size();
  r.host.ppq = 20.3; // bar 6, beat 1: the next step is 82, the walk's step 2 of the bar
  const uint64_t locate = r.frame;
  r.play(40);
  ASSERT_GT(r.ons.size(), before);
  EXPECT_EQ(r.ons[before], (std::pair<uint64_t, int>{locate + 4800, 62}));
  r.host.playing = false;
  r.play(2);
  EXPECT_EQ(r.hanging(), 0);
}

// Without the host's tempo and position the sequencer plays on its own tempo
// and says so once; Follow host off, nothing is said.
TEST(HostGrid, WithoutTheHostsPositionItFallsBackAndSaysSo) {
  GridRun r(12288);
  r.run(2); // no transport given
  EXPECT_EQ(r.ons.front(), (std::pair<uint64_t, int>{0, 60}));
  EXPECT_EQ(r.ons[1].first, 6000u);
  EXPECT_EQ(countCode(r.engine, kDiagFollowHostFallback), 1u);
  r.engine.setParamValue(kParamFollowHost, 0);
  r.run(2);
  EXPECT_EQ(countCode(r.engine, kDiagFollowHostFallback), 1u);
  EXPECT_FALSE(r.engine.clockWatched()) << "Follow host off costs the block nothing";
}

// While Run is off the kernel is idle and a block without input leaves the
// host's transport unread; the first block with input checks it. Whatever
// the host did meanwhile (nothing, a locate, a stop and a start elsewhere, a
// tempo change), Run switched on plays the same notes at the same frames as
// in a session whose every block carried input (an incoming note-off, which
// keeps the clock checked).
TEST(HostGrid, AnIdleStretchUnderRunOffHidesNothingFromTheStart) {
  using Steinberg::Vst::Event;
  enum class Meanwhile { nothing, locate, stopAndStart, tempo };
  for (const Meanwhile meanwhile : {Meanwhile::nothing, Meanwhile::locate, Meanwhile::stopAndStart, Meanwhile::tempo}) {
    Notes played[2];
    for (const bool checked : {false, true}) {
      test::ProcessorRig rig(512);
      probe::ParameterChanges start;
      start.add(kParamRun, 0, 0.0);
      start.add(kParamFollowHost, 0, 1.0);
      rig.run({}, &start, true);
      uint64_t frame = 512;
      for (int b = 0; b < 200; ++b) {
        if (b == 80) {
          if (meanwhile == Meanwhile::locate) rig.transport.projectFrame += 123457;
          if (meanwhile == Meanwhile::stopAndStart) rig.transport.playing = false;
          if (meanwhile == Meanwhile::tempo) rig.transport.tempo = 97;
        }
        if (b == 120 && meanwhile == Meanwhile::stopAndStart) {
          rig.transport.playing = true;
          rig.transport.projectFrame = 77777;
        }
        rig.run(checked ? std::vector<Event>{probe::makeNoteOff(0, 1)} : std::vector<Event>{}, nullptr, true);
        frame += 512;
      }
      if (!checked)
        EXPECT_EQ(rig.processor->engine().clockWatch(), KernelEngine::kClockIdle) << int(meanwhile);
      probe::ParameterChanges run;
      run.add(kParamRun, 37, 1.0);
      for (int b = 0; b < 400; ++b, frame += 512) {
        for (const Event &e : rig.run({}, b == 0 ? &run : nullptr, true))
          if (e.type == Event::kNoteOnEvent) played[checked].push_back({frame + uint64_t(e.sampleOffset), e.noteOn.pitch});
      }
    }
    ASSERT_GE(played[1].size(), 8u) << int(meanwhile);
    EXPECT_EQ(played[0], played[1]) << int(meanwhile);
  }
}

void sendField(test::ProcessorRig &rig, const PlaneFieldSet &set); // with the plane's state below

// A host whose blocks change size plays the same notes at the same frames
// as one whose blocks keep one size: a block is taken as the usual one only
// at the size the clock was last checked with. The steps are numbered by
// pitch, so a locate seen where there was none (the walk starting over on
// the bar) shows; a real one, between two cycles of sizes, is taken at once.
TEST(HostGrid, BlocksOfChangingSizeKeepTheGridAndTheWalk) {
  using Steinberg::Vst::Event;
  constexpr int32_t kCycle = 1024; // the frames of each cycle of sizes
  const std::vector<int32_t> cycles[] = {{1024}, {1008, 16}, {16, 1008}, {100, 412, 512}, {512, 512}};
  std::vector<Notes> played;
  for (const std::vector<int32_t> &sizes : cycles) {
    test::ProcessorRig rig(kCycle);
    rig.transport.tempo = 208;
    for (int k = 0; k < kPlaneSteps; ++k) sendField(rig, {false, 0, uint8_t(k), kStepNote, 60 + k});
    probe::ParameterChanges start;
    start.add(kParamFollowHost, 0, 1.0);
    for (uint32_t k = 0; k < kStepVelocityParamCount; ++k)
      start.add(kParamFirstStepVelocity + k, 0, norva_param_normalize(&NORVA_PARAMS[kParamFirstStepVelocity + k], 100));
    Notes ons;
    uint64_t frame = 0;
    for (int cycle = 0; cycle < 120; ++cycle) {
      if (cycle == 60) rig.transport.projectFrame += 123457;
      for (const int32_t size : sizes) {
        rig.block = size;
        for (const Event &e : rig.run({}, frame == 0 ? &start : nullptr, true))
          if (e.type == Event::kNoteOnEvent) ons.push_back({frame + uint64_t(e.sampleOffset), e.noteOn.pitch});
        frame += uint64_t(size);
      }
    }
    played.push_back(ons);
  }
  ASSERT_GE(played[0].size(), 30u);
  for (size_t c = 1; c < played.size(); ++c) EXPECT_EQ(played[c], played[0]) << "cycle of sizes " << c;
}

// --- Bypass ---------------------------------------------------------------------------------

// The note sounding when Bypass goes on ends at once; the sequencer then
// sends nothing of its own and the input goes out as it came; off again, it
// plays on.
TEST(Bypass, EndsTheNotesAndPassesTheInputThrough) {
  test::ProcessorRig rig(512);
  const auto first = rig.run();
  ASSERT_EQ(first.size(), 2u) << "the curve controller and middle C";
  probe::ParameterChanges on;
  on.add(kParamBypass, 0, 1.0);
  const auto bypassed = rig.run({probe::makeNoteOn(7, 64, 0.3f, 5)}, &on);
  ASSERT_EQ(bypassed.size(), 2u);
  EXPECT_EQ(bypassed[0].type, Steinberg::Vst::Event::kNoteOffEvent);
  EXPECT_EQ(bypassed[0].noteOff.pitch, 60);
  EXPECT_EQ(bypassed[0].sampleOffset, 0);
  const Steinberg::Vst::Event in = probe::makeNoteOn(7, 64, 0.3f, 5);
  EXPECT_EQ(std::memcmp(&bypassed[1], &in, sizeof in), 0) << "passed through unchanged";
  for (int b = 0; b < 30; ++b) EXPECT_TRUE(rig.run().empty()) << b;
  probe::ParameterChanges off;
  off.add(kParamBypass, 0, 0.0);
  rig.run({}, &off);
  int played = 0;
  for (int b = 0; b < 30; ++b) played += int(rig.run().size());
  EXPECT_GT(played, 0);
}

// --- the plane in the state document --------------------------------------------------------

std::string savedState(NorvaProcessor *processor) {
  probe::MemoryStream stream;
  EXPECT_EQ(processor->getState(&stream), Steinberg::kResultOk);
  return stream.text();
}

Steinberg::tresult restore(NorvaProcessor *processor, const std::string &text) {
  probe::MemoryStream stream(text);
  return processor->setState(&stream);
}

void sendField(test::ProcessorRig &rig, const PlaneFieldSet &set) {
  uint8_t bytes[kPlaneFieldSetBytes];
  encodePlaneFieldSet(set, bytes);
  probe::HostMessage *message = new probe::HostMessage();
  message->setMessageID(kPlaneFieldMessage);
  message->getAttributes()->setBinary(kMessagePayloadAttribute, bytes, sizeof bytes);
  EXPECT_EQ(rig.processor->notify(message), Steinberg::kResultOk);
  message->release();
}

// Edits through the controller's messages are saved; another instance that
// restores the document holds the same plane and plays it.
TEST(PlaneState, ThePlaneRoundTripsThroughTheStateDocument) {
  test::ProcessorRig a, b;
  sendField(a, {false, 0, 0, kStepNote, 72});
  sendField(a, {false, 5, 9, kStepGate, 250}); // held at 200
  sendField(a, {true, 7, 0, kPatternResolution, 5});
  const std::string text = savedState(a.processor);
  ASSERT_NE(text.find("\"authoredState\":{\"v\":1,\"bytes\":\""), std::string::npos);
  ASSERT_EQ(restore(b.processor, text), Steinberg::kResultOk);
  EXPECT_EQ(b.processor->plane()[planeLaneOffset(kStepGate) + planeCell(5, 9)], 200);
  EXPECT_EQ(savedState(b.processor), text);
  const auto played = b.run();
  ASSERT_EQ(played.size(), 2u);
  EXPECT_EQ(played[1].noteOn.pitch, 72);
}

// A document saved before the plane was: the factory plane, whatever was
// authored before.
TEST(PlaneState, AnOldDocumentLoadsTheFactoryPlane) {
  test::ProcessorRig rig;
  sendField(rig, {false, 0, 0, kStepNote, 72});
  ASSERT_EQ(restore(rig.processor, R"({"params":{"tindrel.bpm":100}})"), Steinberg::kResultOk);
  uint8_t factory[kPlaneBytes];
  writeFactoryPlane(factory);
  EXPECT_EQ(std::memcmp(rig.processor->plane(), factory, kPlaneBytes), 0);
  EXPECT_EQ(rig.processor->engine().paramValue(kParamBpm), 100);
  const auto played = rig.run();
  ASSERT_EQ(played.size(), 2u);
  EXPECT_EQ(played[1].noteOn.pitch, 60);
}

void sendPlane(test::ProcessorRig &rig, const uint8_t (&plane)[kPlaneBytes]) {
  probe::HostMessage *message = new probe::HostMessage();
  message->setMessageID(kPlaneMessage);
  message->getAttributes()->setBinary(kMessagePayloadAttribute, plane, kPlaneBytes);
  EXPECT_EQ(rig.processor->notify(message), Steinberg::kResultOk);
  message->release();
}

// The selected pattern's velocities and length are the parameters' whatever
// plane arrives: with Length 4 and step 2 at 127 set by the host, every pass
// of the walk plays 100, 127, a rest, 60 after a whole plane reached the
// kernel by a re-activation (a host reconfiguring), from the controller or in
// a restored document; the saved plane says the same.
TEST(PlaneState, TheSelectedPatternStaysTheParameters) {
  const struct {
    const char *how;
    void (*arrive)(test::ProcessorRig &);
  } cases[] = {
      {"re-activation", [](test::ProcessorRig &rig) { rig.configure(rig.block); }},
      {"the controller",
       [](test::ProcessorRig &rig) {
         uint8_t factory[kPlaneBytes];
         writeFactoryPlane(factory);
         sendPlane(rig, factory);
       }},
      {"a restored document",
       [](test::ProcessorRig &rig) { EXPECT_EQ(restore(rig.processor, savedState(rig.processor)), Steinberg::kResultOk); }},
  };
  for (const auto &c : cases) {
    test::ProcessorRig rig;
    probe::ParameterChanges changes;
    changes.add(kParamLength, 0, norva_param_normalize(&NORVA_PARAMS[kParamLength], 4));
    changes.add(kParamFirstStepVelocity + 1, 0, norva_param_normalize(&NORVA_PARAMS[kParamFirstStepVelocity + 1], 127));
    rig.run({}, &changes);
    c.arrive(rig);
    std::vector<int> velocities;
    for (int b = 0; b < 100; ++b)
      for (const auto &e : rig.run())
        if (e.type == Steinberg::Vst::Event::kNoteOnEvent) velocities.push_back(int(std::lround(e.noteOn.velocity * 127)));
    ASSERT_GE(velocities.size(), 6u) << c.how;
    EXPECT_EQ(std::count(velocities.begin(), velocities.begin() + 3, 127), 1) << c.how;
    for (size_t i = 3; i < velocities.size(); ++i) EXPECT_EQ(velocities[i], velocities[i - 3]) << c.how << " " << i;
    StateChunk saved;
    const std::string text = savedState(rig.processor);
    ASSERT_TRUE(parseStateJson(text.data(), text.size(), saved));
    ASSERT_TRUE(saved.hasAuthoredState);
    EXPECT_EQ(saved.authoredBytes[planeRowOffset(kPatternLength)], 4) << c.how;
    EXPECT_EQ(saved.authoredBytes[planeLaneOffset(kStepVelocity) + 1], 127) << c.how;
  }
}

// --- pattern selection --------------------------------------------------------------------

uint32_t stepParam(int step) { return kParamFirstStepVelocity + uint32_t(step); }

double normalOf(uint32_t id, double plain) { return norva_param_normalize(&NORVA_PARAMS[id], plain); }

// Pattern changes at `frame`, after `also` in the host's queue order.
void selectPattern(test::ProcessorRig &rig, int pattern, int32_t frame,
                   std::initializer_list<std::pair<uint32_t, double>> also = {}) {
  probe::ParameterChanges changes;
  for (auto [id, plain] : also) changes.add(id, frame, normalOf(id, plain));
  changes.add(kParamPattern, frame, normalOf(kParamPattern, pattern));
  rig.run({}, &changes);
}

// The selected pattern as the parameters hold it: its first three step
// velocities and its length.
std::vector<double> selectedRow(const test::ProcessorRig &rig) {
  const KernelEngine &e = rig.processor->engine();
  return {e.paramValue(stepParam(0)), e.paramValue(stepParam(1)), e.paramValue(stepParam(2)), e.paramValue(kParamLength)};
}

// The step-velocity parameters and Length are the selected pattern's. A
// change of Pattern from the host gives them the new pattern's authored
// values at its frame and reports them (Pattern first); what the host set
// in them stays with the pattern left, back and forth, through a flush and
// in the saved document.
TEST(PatternSelection, EveryPatternKeepsItsVelocitiesAndLength) {
  test::ProcessorRig rig;
  for (int step = 0; step < 3; ++step) sendField(rig, {false, 1, uint8_t(step), kStepVelocity, 11 * (step + 1)});
  sendField(rig, {true, 1, 0, kPatternLength, 3});
  sendField(rig, {false, 2, 0, kStepVelocity, 44});
  sendField(rig, {true, 2, 0, kPatternLength, 5});
  rig.run();

  selectPattern(rig, 1, 100);
  EXPECT_EQ(selectedRow(rig), (std::vector<double>{11, 22, 33, 3}));
  ASSERT_GE(rig.outputChanges.getParameterCount(), 4);
  for (int q = 0; q < rig.outputChanges.getParameterCount(); ++q) {
    Steinberg::Vst::IParamValueQueue *queue = rig.outputChanges.getParameterData(q);
    Steinberg::int32 frame = -1;
    Steinberg::Vst::ParamValue value = -1;
    ASSERT_EQ(queue->getPoint(0, frame, value), Steinberg::kResultOk);
    EXPECT_EQ(frame, 100);
    const uint32_t id = queue->getParameterId();
    if (q == 0) EXPECT_EQ(id, kParamPattern);
    EXPECT_EQ(paramToPlain(NORVA_PARAMS[id], value), rig.processor->engine().paramValue(id)) << id;
  }
  std::vector<int> played;
  for (int b = 0; b < 80; ++b)
    for (const auto &e : rig.run())
      if (e.type == Steinberg::Vst::Event::kNoteOnEvent) played.push_back(int(std::lround(e.noteOn.velocity * 127)));
  ASSERT_GE(played.size(), 6u);
  for (size_t i = 0; i < played.size(); ++i) EXPECT_EQ(played[i], played[i % 3]) << i;
  const std::vector<int> authored{11, 22, 33};
  EXPECT_TRUE(std::is_permutation(played.begin(), played.begin() + 3, authored.begin())); // the walk goes on

  probe::ParameterChanges automation;
  automation.add(stepParam(1), 0, normalOf(stepParam(1), 99));
  rig.run({}, &automation);
  // A step parameter at the frame of the change is the new pattern's.
  selectPattern(rig, 2, 0, {{stepParam(0), 77}});
  EXPECT_EQ(selectedRow(rig)[0], 77);
  EXPECT_EQ(selectedRow(rig)[3], 5);
  selectPattern(rig, 1, 0);
  EXPECT_EQ(selectedRow(rig), (std::vector<double>{11, 99, 33, 3}));
  rig.block = 0; // a flush: heard at the next block
  selectPattern(rig, 2, 0);
  rig.block = 512;
  rig.run();
  EXPECT_EQ(selectedRow(rig)[0], 77);

  const std::string text = savedState(rig.processor);
  StateChunk saved;
  ASSERT_TRUE(parseStateJson(text.data(), text.size(), saved));
  const auto byte = [&](StepField field, int pattern, int step) {
    return saved.authoredBytes[planeLaneOffset(field) + planeCell(pattern, step)];
  };
  EXPECT_EQ((std::vector<int>{byte(kStepVelocity, 1, 0), byte(kStepVelocity, 1, 1), byte(kStepVelocity, 1, 2),
                              saved.authoredBytes[planeRowOffset(kPatternLength) + 1]}),
            (std::vector<int>{11, 99, 33, 3}));
  EXPECT_EQ(byte(kStepVelocity, 2, 0), 77);
  EXPECT_EQ(saved.authoredBytes[planeRowOffset(kPatternLength) + 2], 5);
  test::ProcessorRig other;
  ASSERT_EQ(restore(other.processor, text), Steinberg::kResultOk);
  other.run();
  selectPattern(other, 1, 0);
  EXPECT_EQ(selectedRow(other), (std::vector<double>{11, 99, 33, 3}));
}

// A plane that cannot be taken refuses the whole document: no parameter,
// no plane changes, and the health report says why.
TEST(PlaneState, AMalformedPlaneIsRefusedWhole) {
  uint8_t badRow[kPlaneBytes];
  writeFactoryPlane(badRow);
  badRow[planeRowOffset(kPatternDirection) + 31] = 7;
  std::string encoded;
  base64Append(encoded, badRow, kPlaneBytes);
  const struct {
    std::string authored;
    const char *reason;
  } cases[] = {
      {R"({"v":1,"bytes":"not base64!"})", "the authoredState bytes are not Base64"},
      {R"({"v":1,"bytes":")" + encoded + "\"}", "a pattern direction is above 6"},
  };
  for (const auto &c : cases) {
    test::ProcessorRig rig;
    sendField(rig, {false, 0, 0, kStepNote, 72});
    const std::string before = savedState(rig.processor);
    rig.sink->log.clear();
    EXPECT_EQ(restore(rig.processor, R"({"params":{"tindrel.bpm":100},"authoredState":)" + c.authored + "}"),
              Steinberg::kResultFalse)
        << c.reason;
    EXPECT_EQ(savedState(rig.processor), before) << c.reason;
    ASSERT_FALSE(rig.sink->log.empty());
    const std::string &report = rig.sink->log.back().json;
    EXPECT_NE(report.find("the saved pattern plane was refused; nothing was restored"), std::string::npos);
    EXPECT_NE(report.find(c.reason), std::string::npos) << report;
  }
}

} // namespace
