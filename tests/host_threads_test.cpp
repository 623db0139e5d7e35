// The threads of a real host around two processor instances: each instance
// processes on its own audio thread with the host's transport, the UI thread
// saves and restores both, sends them controller messages and polls their
// transport, and the host's set-up thread
// re-configures each one while its audio thread waits (set-up and process of
// one instance never overlap; those of two instances do). Built with
// -fsanitize=thread (scripts/tsan-diagnostics.sh) any race fails; in every
// build each instance must still end every note it sent.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "params/authored_plane.h"
#include "params/params.h"
#include "processor_rig.h"
#include "state/state_document.h"

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace norva::probe;

constexpr int kBlocksAtLeast = 300;  // per audio thread
constexpr int kUiRounds = 60;        // saves, restores and messages per instance
constexpr int kReconfigurations = 8; // per instance

struct Instance : norva::test::ProcessorRig {
  std::mutex audio; // held by the audio thread around process; the set-up thread takes it to pause
  std::mutex ui;    // the host's main-thread calls of this instance, one at a time
  int blocks = 0;
  int transportSent = 0; // under `ui`

  void process(const std::vector<Event> &in, ParameterChanges &changes) {
    std::lock_guard lock(audio);
    transport.tempo = 90 + blocks / 16 % 64;
    run(in, &changes, true);
    ++blocks;
  }
};

// Blocks as a player and an automation lane make them: a key now and then,
// held for a few blocks, and a parameter point most blocks.
void playUntil(Instance &instance, unsigned seed, const std::atomic<bool> &othersDone) {
  std::minstd_rand random(seed);
  std::vector<int16> held;
  std::vector<Event> in;
  ParameterChanges changes;
  for (int n = 0; n < kBlocksAtLeast || !othersDone.load(); ++n) {
    in.clear();
    changes.clear();
    // Keys pressed in earlier blocks are let go first, so no note-off comes
    // before its note-on.
    if (held.size() > 3 || (!held.empty() && random() % 3 == 0)) {
      in.push_back(makeNoteOff(int32(random() % 64), held.front()));
      held.erase(held.begin());
    }
    if (random() % 4 == 0) {
      in.push_back(makeNoteOn(int32(random() % 64), int16(36 + random() % 48), 0.8f));
      held.push_back(in.back().noteOn.pitch);
    }
    const uint32_t id = random() % 3 == 0 ? uint32_t(norva::kParamChannel) : norva::kParamFirstStepVelocity + random() % 32;
    changes.add(id, int32(random() % 64), double(random() % 1000) / 1000.0);
    instance.process(in, changes);
  }
  // The player lets go, the sequencer stops, and every note-off falls due
  // within the longest gate (a 20 BPM half note held for 400 %).
  in.clear();
  changes.clear();
  for (int16 pitch : held) in.push_back(makeNoteOff(0, pitch));
  changes.add(norva::kParamRun, 0, 0.0);
  instance.process(in, changes);
  in.clear();
  changes.clear();
  for (int frames = 0; frames < 25 * 96000 && instance.tally.total > 0; frames += instance.block)
    instance.process(in, changes);
}

// The UI thread: copies one instance's state into the other, restores a
// document of its own, sends CC maps and pad overrides and polls the transport.
void editBoth(std::array<Instance *, 2> instances) {
  const std::string preset = R"({"params":{"tindrel.bpm":180,"tindrel.gateScale":0.5,"tindrel.channel":4},)"
                             R"("ccMap":{"version":1,"bindings":[{"cc":74,"path":"tindrel.bpm"}]}})";
  const std::string pads = R"({"kick":{"gain":0.5,"pan":-0.25}})";
  for (int round = 0; round < kUiRounds; ++round) {
    Instance &from = *instances[round % 2];
    Instance &to = *instances[(round + 1) % 2];
    MemoryStream saved;
    {
      std::lock_guard lock(from.ui);
      ASSERT_EQ(from.processor->getState(&saved), kResultOk);
    }
    std::lock_guard lock(to.ui);
    saved.rewind();
    EXPECT_EQ(to.processor->setState(&saved), kResultOk);
    MemoryStream own(preset);
    if (round % 3 == 0) {
      EXPECT_EQ(to.processor->setState(&own), kResultOk);
    }
    HostMessage *message = new HostMessage();
    message->setMessageID(round % 2 ? "norva.padOverrides" : "norva.ccMap");
    const std::string &payload = round % 2 ? pads : preset;
    message->getAttributes()->setBinary("json", payload.data(), uint32(payload.size()));
    EXPECT_EQ(to.processor->notify(message), kResultOk);
    message->release();
    for (const norva::TransportFact &fact : to.pollTransport(round % 7 == 0)) {
      // A record torn between two samples would not keep the host's arithmetic.
      EXPECT_EQ(fact.ppqPosition, double(fact.projectTimeSamples) / fact.sampleRate * fact.tempo / 60.0);
      ++to.transportSent;
    }
  }
}

// The host's set-up thread: pauses one audio thread at a time and
// re-configures its instance.
void reconfigureBoth(std::array<Instance *, 2> instances) {
  constexpr int32 kBlocks[] = {256, 512, 1024, 128};
  constexpr double kRates[] = {44100.0, 48000.0, 96000.0};
  for (int n = 0; n < 2 * kReconfigurations; ++n) {
    Instance &instance = *instances[n % 2];
    std::scoped_lock lock(instance.audio, instance.ui);
    instance.configure(kBlocks[n % 4], kRates[n % 3]);
    std::this_thread::yield();
  }
}

TEST(HostThreads, TwoInstancesProcessWhileTheUiSavesRestoresAndReconfigures) {
  Instance a, b;
  std::atomic<bool> done{false};
  std::thread audioA(playUntil, std::ref(a), 1u, std::cref(done));
  std::thread audioB(playUntil, std::ref(b), 2u, std::cref(done));
  std::thread ui(editBoth, std::array<Instance *, 2>{&a, &b});
  std::thread setup(reconfigureBoth, std::array<Instance *, 2>{&a, &b});
  ui.join();
  setup.join();
  done = true;
  audioA.join();
  audioB.join();
  EXPECT_GE(a.blocks, kBlocksAtLeast);
  EXPECT_GT(a.transportSent + b.transportSent, 0);
  EXPECT_EQ(a.tally.hanging(), std::vector<std::string>{});
  EXPECT_EQ(b.tally.hanging(), std::vector<std::string>{});
}

// Plane edits from the UI thread while the audio thread plays on the host's
// grid: more than the hand-over holds at once, fields and whole planes mixed.
// The plane saved at the end is the one the edits made, and the kernel
// plays it.
TEST(HostThreads, PlaneEditsRaceWithPlayback) {
  Instance instance;
  std::atomic<bool> done{false}, started{false};
  std::thread audio([&] {
    std::vector<Event> in;
    ParameterChanges changes;
    changes.add(norva::kParamFollowHost, 0, 1.0);
    while (!done.load()) {
      instance.process(in, changes);
      changes.clear();
      started = true;
    }
  });
  while (!started.load()) std::this_thread::yield();
  uint8_t expected[norva::kPlaneBytes];
  norva::writeFactoryPlane(expected);
  auto send = [&](const char *id, const void *bytes, uint32 size) {
    std::lock_guard lock(instance.ui);
    HostMessage *message = new HostMessage();
    message->setMessageID(id);
    message->getAttributes()->setBinary("json", bytes, size);
    EXPECT_EQ(instance.processor->notify(message), kResultOk);
    message->release();
  };
  for (int i = 0; i < 3000; ++i) {
    if (i % 500 == 0) {
      std::memset(expected + norva::planeLaneOffset(norva::kStepNote), 36 + i / 500, norva::kPlaneCells);
      send(norva::kPlaneMessage, expected, norva::kPlaneBytes);
    }
    const norva::PlaneFieldSet set{false, uint8_t(i % 32), uint8_t(i * 7 % 32), norva::kStepNote, i % 128};
    norva::applyPlaneFieldSet(expected, set);
    uint8_t record[norva::kPlaneFieldSetBytes];
    norva::encodePlaneFieldSet(set, record);
    send(norva::kPlaneFieldMessage, record, sizeof record);
  }
  const norva::PlaneFieldSet last{false, 0, 0, norva::kStepNote, 99};
  norva::applyPlaneFieldSet(expected, last);
  uint8_t record[norva::kPlaneFieldSetBytes];
  norva::encodePlaneFieldSet(last, record);
  send(norva::kPlaneFieldMessage, record, sizeof record);
  done = true;
  audio.join();
  {
    std::lock_guard lock(instance.ui);
    EXPECT_EQ(std::memcmp(instance.processor->plane(), expected, norva::kPlaneBytes), 0);
  }
  // What the hand-over had no room for goes whole with the controller's next
  // message (its poll comes 30 times a second) once the audio thread has
  // taken and applied what waited. Back at the bar with the host, step 0
  // plays the last edit.
  std::vector<Event> none;
  ParameterChanges nothing;
  instance.run(none, &nothing, true);
  instance.run(none, &nothing, true);
  instance.pollTransport();
  instance.transport.projectFrame = 0;
  const std::vector<Event> played = instance.run(none, &nothing, true);
  bool heard = false;
  for (const Event &e : played) heard = heard || (e.type == Event::kNoteOnEvent && e.noteOn.pitch == 99);
  EXPECT_TRUE(heard);
}

} // namespace


// The host automates Pattern and the first step's velocity on the audio
// thread while its UI thread saves; the last save holds, for each pattern, the velocity it last had.
TEST(HostThreads, PatternChangesRaceWithSaving) {
  Instance instance;
  constexpr int kPatternsUsed = 4;
  constexpr int kBlocks = 2000;
  int last[kPatternsUsed] = {};
  std::atomic<bool> done{false};
  std::thread audio([&] {
    std::vector<Event> in;
    ParameterChanges changes;
    for (int n = 0; n < kBlocks; ++n) {
      const int pattern = n % kPatternsUsed;
      last[pattern] = n % 127 + 1;
      changes.add(norva::kParamPattern, 0, norva::norva_param_normalize(&norva::NORVA_PARAMS[norva::kParamPattern], pattern));
      changes.add(norva::kParamFirstStepVelocity, 10, last[pattern] / 127.0);
      instance.process(in, changes);
      changes.clear();
    }
    done = true;
  });
  const auto saved = [&] {
    std::lock_guard lock(instance.ui);
    MemoryStream stream;
    EXPECT_EQ(instance.processor->getState(&stream), kResultOk);
    norva::StateChunk chunk;
    EXPECT_TRUE(norva::parseStateJson(stream.text().data(), stream.text().size(), chunk) && chunk.hasAuthoredState);
    return chunk;
  };
  while (!done.load()) saved(); // the rows cross threads while they are posted
  audio.join();
  const norva::StateChunk chunk = saved();
  for (int p = 0; p < kPatternsUsed; ++p)
    EXPECT_EQ(chunk.authoredBytes[norva::planeLaneOffset(norva::kStepVelocity) + norva::planeCell(p, 0)], last[p]) << p;
}
