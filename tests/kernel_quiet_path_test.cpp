// The interface passes a call with nothing queued and nothing due without
// running the kernel (the quiet path). These tests run the same seeded
// sessions twice, once with the quiet path and once with every call taking
// the full path, and require identical statuses and output records; the
// sessions stop and restart the sequencer in calls of every length, so a
// quiet call that held back a due note-off or first step shows as a
// difference. A stop and restart at exact frames is kernel_timing_test's.
#include <random>

#include "kernel_test_support.h"

namespace {

using namespace kt;

struct Session {
  V statuses;
  Outs records;
};

// Parameter changes a session draws from: tempo, resolution, shuffle, gate,
// walk, pattern and chain, transport stop and start, channel.
struct Change {
  uint32_t id;
  double value;
};
const Change kChanges[] = {
    {kParamBpm, 300},       {kParamBpm, 20},         {kParamBpm, 133.7},     {kParamResolution, 5},
    {kParamResolution, 0},  {kParamResolution, 8},   {kParamShuffle, 0.75},  {kParamShuffle, 0.5},
    {kParamGateScale, 2},   {kParamGateScale, 0.05}, {kParamDirection, 2},   {kParamDirection, 3},
    {kParamDirection, 5},   {kParamPattern, 3},      {kParamChainOn, 1},     {kParamChainEnd, 2},
    {kParamRun, 0},         {kParamRun, 1},          {kParamRun, 1},         {kParamChannel, 9},
    {kParamKeyFollow, 1},   {kParamKeyFollow, 0},    {kParamLength, 5},      {kParamTranspose, 70},
};

// One session: calls of random length (often a full 128 frames), with
// parameter changes, incoming notes and controllers, and an occasional
// reset, all drawn from `seed`. `authored` gives every step ratchets, ties
// or both through the authored lanes.
Session runSession(bool quiet, uint32_t seed, bool authored) {
  rt::resetForTesting();
  nk::setQuietPathForTesting(quiet);
  init();
  const uint32_t h = uint32_t(create());
  if (authored) {
    nk::KernelState *s = nk::instanceState(h);
    for (int cell = 0; cell < nk::kLaneCells; ++cell) {
      s->stepRatchet[cell] = 1 + cell % 4;
      s->stepTie[cell] = cell % 3 == 0;
      s->stepGate[cell] = 20 + cell % 90;
    }
  }
  std::mt19937 random(seed);
  auto chance = [&](int percent) { return int(random() % 100) < percent; };
  Session session;
  for (int call = 0; call < 3000; ++call) {
    const uint32_t frames = chance(70) ? 128 : uint32_t(random() % 129);
    if (chance(3)) {
      const Change &c = kChanges[random() % std::size(kChanges)];
      pushParam(h, c.id, c.value, frames > 0 ? uint32_t(random() % frames) : 0);
    }
    if (chance(2) && frames > 0) {
      const uint32_t note = 36 + random() % 48;
      push(h, chance(60) ? kOn : kOff, uint32_t(random() % frames), note, chance(60) ? 0.8 : 0.0);
    }
    if (chance(1) && frames > 0) push(h, kCc, uint32_t(random() % frames), 64, 0.5);
    if (chance(1)) session.statuses.push_back(reset(h));
    session.statuses.push_back(process(h, frames));
    const uint32_t count = uint32_t(outCount(h));
    for (uint32_t i = 0; i < count; ++i)
      session.records.push_back(
          {double(call) * 1000 + outFrame(h, i), int(outKind(h, i)), int(outA(h, i)), float(outB(h, i))});
  }
  destroy(h);
  nk::setQuietPathForTesting(true);
  return session;
}

class QuietPath : public ::testing::TestWithParam<std::tuple<uint32_t, bool>> {
protected:
  void TearDown() override {
    nk::setQuietPathForTesting(true);
    rt::resetForTesting();
  }
};

TEST_P(QuietPath, SameOutputAsTheFullPath) {
  const auto [seed, authored] = GetParam();
  const Session quiet = runSession(true, seed, authored);
  const Session full = runSession(false, seed, authored);
  ASSERT_GT(full.records.size(), 100u) << "the session must play";
  EXPECT_EQ(quiet.statuses, full.statuses);
  ASSERT_EQ(quiet.records.size(), full.records.size());
  for (size_t i = 0; i < full.records.size(); ++i) {
    ASSERT_EQ(quiet.records[i], full.records[i])
        << "record " << i << " at call " << int(full.records[i].frame / 1000);
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions, QuietPath,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u, 4u), ::testing::Bool()));

class QuietPathBounds : public KernelTest {};

TEST_F(QuietPathBounds, StateTakenForWritingIsHeardAtOnce) {
  const uint32_t h = make();
  run(h, 128 * 10); // the first step has played; the next is 6000 frames on
  nk::KernelState *s = nk::instanceState(h);
  ASSERT_NE(s, nullptr);
  s->nextStepFrame = position_;
  const Outs outs = run(h, 128);
  EXPECT_EQ(notesOf(outs, kOn).size(), 1u);
}

} // namespace
