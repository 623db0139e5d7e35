// Shared helpers of the kernel tests: short names for the exported functions,
// a fixture that starts every test from a fresh runtime and runs an instance
// in calls of at most 128 frames, and a rig that drives one KernelState the
// way the interface does (for the authored lanes, out of the interface's reach).
// Output is collected with frames on the absolute axis of the run.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "kernel/kernel_interface.h"
#include "kernel/kernel_state.h"
#include "kernel/runtime.h"
#include "params/params.h"

namespace kt {

namespace rt = norva::kernel::runtime;
namespace nk = norva::kernel;
using namespace norva; // parameter ids, event kinds

#define NORVA_FN(op) lmpr_music_norva_tindrel_bf9421541c27_##op
inline void init() { NORVA_FN(runtime_init)(); }
inline double create(double rate = 48000, uint32_t frames = 128, uint32_t in = 0, uint32_t out = 0) {
  return NORVA_FN(create)(rate, frames, in, out);
}
inline double destroy(uint32_t h) { return NORVA_FN(destroy)(h); }
inline double reset(uint32_t h) { return NORVA_FN(reset)(h); }
inline double push(uint32_t h, uint32_t kind, uint32_t frame, uint32_t a, double value) {
  return NORVA_FN(push_event)(h, kind, frame, a, value);
}
inline double pushParam(uint32_t h, uint32_t id, double value, uint32_t frame = 0) {
  return push(h, NORVA_KERNEL_EVENT_PARAMETER, frame, id, value);
}
inline double process(uint32_t h, uint32_t frames) { return NORVA_FN(process)(h, frames); }
inline double outCount(uint32_t h) { return NORVA_FN(event_output_count)(h); }
inline double outFrame(uint32_t h, uint32_t i) { return NORVA_FN(event_output_frame)(h, i); }
inline double outKind(uint32_t h, uint32_t i) { return NORVA_FN(event_output_kind)(h, i); }
inline double outA(uint32_t h, uint32_t i) { return NORVA_FN(event_output_a)(h, i); }
inline double outB(uint32_t h, uint32_t i) { return NORVA_FN(event_output_b)(h, i); }

constexpr int kOn = NORVA_KERNEL_EVENT_NOTE_ON, kOff = NORVA_KERNEL_EVENT_NOTE_OFF,
              kCc = NORVA_KERNEL_EVENT_CONTROL_CHANGE;
using V = std::vector<double>;
using Seq = std::vector<int>;

struct Out {
  double frame;
  int kind, a;
  float b;
  int level() const { return int(std::lround(b * 127.0)); }
  bool operator==(const Out &) const = default;
};
using Outs = std::vector<Out>;

// One field of the outputs of one kind.
template <typename F> auto pick(const Outs &outs, int kind, F field) {
  std::vector<decltype(field(Out{}))> r;
  for (const Out &o : outs)
    if (o.kind == kind) r.push_back(field(o));
  return r;
}
inline V framesOf(const Outs &o, int k) { return pick(o, k, [](const Out &x) { return x.frame; }); }
inline Seq notesOf(const Outs &o, int k) { return pick(o, k, [](const Out &x) { return x.a; }); }
inline Seq levelsOf(const Outs &o, int k) { return pick(o, k, [](const Out &x) { return x.level(); }); }

class KernelTest : public ::testing::Test {
protected:
  void SetUp() override {
    rt::resetForTesting();
    init();
  }
  void TearDown() override { rt::resetForTesting(); }

  uint32_t make(double rate = 48000, uint32_t frames = 128) {
    const double h = create(rate, frames);
    EXPECT_GT(h, 0);
    position_ = 0;
    return uint32_t(h);
  }
  // The output of the last process call.
  Outs read(uint32_t h, double blockStart = 0) {
    Outs r;
    for (uint32_t i = 0; i < uint32_t(outCount(h)); ++i)
      r.push_back({blockStart + outFrame(h, i), int(outKind(h, i)), int(outA(h, i)), float(outB(h, i))});
    return r;
  }
  // Runs `frames` frames in calls of at most `block`; every call must succeed.
  Outs run(uint32_t h, double frames, uint32_t block = 128) {
    Outs all;
    for (double end = position_ + frames; position_ < end;) {
      const uint32_t n = uint32_t(std::fmin(block, end - position_));
      EXPECT_EQ(process(h, n), 0) << "at frame " << position_;
      for (const Out &o : read(h, position_)) all.push_back(o);
      position_ += n;
    }
    return all;
  }
  double position_ = 0; // absolute frame of the next call's frame 0
};

// A prepared KernelState with the parameter defaults applied.
class Rig {
public:
  explicit Rig(double rate = 48000) : s_(std::make_unique<nk::KernelState>()) {
    nk::PrepareConfig config;
    config.maxFrames = 128;
    config.sampleRate = rate;
    EXPECT_TRUE(nk::prepare(*s_, config));
    for (uint32_t id = 0; id < norva::kKernelParamCount; ++id)
      EXPECT_TRUE(nk::applyParameter(*s_, id, norva::NORVA_PARAMS[id].defaultPlain));
  }
  nk::KernelState &state() { return *s_; }
  bool set(uint32_t id, double value) { return nk::applyParameter(*s_, id, value); }
  static int cell(int pattern, int step) { return pattern * nk::kSteps + step; }
  // A note or controller at the start of the next host block.
  bool event(int kind, int a, double value) { return nk::handleEvent(*s_, EventKind(kind), a, value); }

  Outs run(double frames) {
    Outs all;
    for (double end = position_ + frames; position_ < end;) {
      nk::BlockRecord block;
      block.length = uint32_t(std::fmin(128, end - position_));
      EXPECT_TRUE(nk::process(*s_, block));
      for (const Out &o : emit()) all.push_back({position_ + o.frame, o.kind, o.a, o.b});
      position_ += block.length;
    }
    return all;
  }
  // One emitEvents call, frames as it gave them.
  Outs emit() {
    nk::OutputView view{NORVA_KERNEL_MAX_EVENT_OUTPUTS, 0, events_};
    EXPECT_TRUE(nk::emitEvents(*s_, view));
    Outs r;
    for (int i = 0; i < view.count; ++i) {
      const MidiEvent &e = events_[i];
      r.push_back({double(e.frame), int(e.kind), e.number, float(e.value / 127.0)});
    }
    return r;
  }
  std::vector<uint8_t> save() const {
    std::vector<uint8_t> bytes(nk::kStateBytes);
    EXPECT_EQ(nk::saveState(*s_, bytes.data(), nk::kStateBytes), nk::kStateBytes);
    return bytes;
  }

private:
  std::unique_ptr<nk::KernelState> s_;
  double position_ = 0;
  MidiEvent events_[NORVA_KERNEL_MAX_EVENT_OUTPUTS];
};

} // namespace kt
