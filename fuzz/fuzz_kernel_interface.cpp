// Drives the kernel's exported interface with an arbitrary sequence of
// operations (create, destroy, reset, push_event with any kind, frame, number
// and value, process with any length, the accessors and views), looking for
// crashes, undefined behaviour and internal faults, and checking what every
// caller relies on: status codes from the documented sets, unknown handles
// refused, and output records that are well-formed offsets inside the block.
//
// Input: a stream of one-byte operation codes, each followed by its operands
// (see the cases below); a short input just ends early.
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "kernel/kernel_interface.h"
#include "params/params.h"

#define K(op) lmpr_music_norva_tindrel_bf9421541c27_##op

namespace {

using norva::fuzz::fail;
using norva::fuzz::Reader;

void panicSink(void *, const char *record, size_t length, const void *) {
  std::fprintf(stderr, "kernel panic record: ");
  std::fwrite(record, 1, length, stderr);
  std::fputc('\n', stderr);
  fail("the kernel reported an internal fault");
}

struct Live {
  uint32_t handle;
  uint32_t maxFrames;
};

constexpr int kMaxTracked = 64;

struct Session {
  Live live[kMaxTracked];
  int liveCount = 0;
  uint32_t dead[kMaxTracked];
  int deadCount = 0;

  int find(uint32_t handle) const {
    for (int i = 0; i < liveCount; ++i)
      if (live[i].handle == handle) return i;
    return -1;
  }
  void forget(int index) {
    if (deadCount < kMaxTracked) dead[deadCount++] = live[index].handle;
    live[index] = live[--liveCount];
  }
};

double pickValue(Reader &in) {
  static const double kValues[] = {
      0.0,      1.0,     -1.0,     0.5,      2.0,     2.5,       3.0,       3.0000001,
      1.0001,   -0.0,    NAN,      INFINITY, -INFINITY, 1e300,   -1e300,    DBL_MIN,
      5e-324,   127.0,   128.0,    300.0,    4294967296.0, 0.999999, 1e-40, double(FLT_MAX) * 2,
  };
  constexpr unsigned kCount = sizeof kValues / sizeof kValues[0];
  const uint8_t selector = in.u8();
  if (selector < kCount) return kValues[selector];
  if (selector < 128) return double(selector - kCount) / double(127 - kCount);
  return in.f64();
}

// A plain value inside the catalogue range of parameter id, or anything.
double pickParameterValue(Reader &in, uint32_t id) {
  const uint8_t selector = in.u8();
  if (id < norva::kKernelParamCount && selector < 192) {
    const norva::norva_param_desc &row = norva::NORVA_PARAMS[id];
    double value = row.min + (row.max - row.min) * double(in.u8()) / 255.0;
    if (row.step != 0) value = row.step * std::floor(value / row.step + 0.5);
    return value;
  }
  return pickValue(in);
}

uint32_t pickFrames(Reader &in) {
  const uint8_t selector = in.u8();
  if (selector < 200) return selector % 130;
  if (selector < 240) return 128;
  return in.u32();
}

uint32_t pickHandle(Reader &in, const Session &s) {
  const uint8_t selector = in.u8();
  if (selector < 192 && s.liveCount > 0) return s.live[selector % s.liveCount].handle;
  if (selector < 224 && s.deadCount > 0) return s.dead[selector % s.deadCount];
  switch (selector % 5) {
  case 0: return 0;
  case 1: return 1;
  case 2: return 33;
  case 3: return 0xffffffffu;
  default: return in.u32();
  }
}

uint32_t maxFramesOf(const Session &s, uint32_t handle) {
  const int i = s.find(handle);
  return i < 0 ? 0 : s.live[i].maxFrames;
}

void checkOutput(uint32_t handle, uint32_t frames) {
  const double count = K(event_output_count)(handle);
  if (!(count >= 0 && count <= double(NORVA_KERNEL_MAX_EVENT_OUTPUTS)) || count != std::floor(count))
    fail("output count %g", count);
  const uint32_t n = uint32_t(count);
  const double limit = frames == 0 ? 1 : frames;
  for (uint32_t i = 0; i < n; ++i) {
    const double frame = K(event_output_frame)(handle, i);
    const double kind = K(event_output_kind)(handle, i);
    const double a = K(event_output_a)(handle, i);
    const double b = K(event_output_b)(handle, i);
    if (!(frame >= 0 && frame < limit)) fail("output %u frame %g outside a %u-frame block", i, frame, frames);
    if (kind != 2 && kind != 3 && kind != 4) fail("output %u kind %g", i, kind);
    if (!(a >= 0 && a <= 127) || a != std::floor(a)) fail("output %u number %g", i, a);
    if (!(b >= 0 && b <= 1)) fail("output %u value %g", i, b);
  }
  if (K(event_output_kind)(handle, n) != 0) fail("a read past the output count answered");
}

void checkProcess(const Session &s, uint32_t handle, uint32_t frames, double status) {
  const uint32_t maxFrames = maxFramesOf(s, handle);
  if (status != 0 && status != 1 && status != 2 && status != 3) fail("process status %g", status);
  const bool valid = maxFrames != 0 && frames <= maxFrames;
  if (!valid && status != 1) fail("process accepted handle %u with %u frames", handle, frames);
  if (valid && status == 1) fail("process refused live handle %u with %u frames", handle, frames);
  if (status == 0 || status == 2) checkOutput(handle, frames);
  if (!valid && K(event_output_count)(handle) != 0 && maxFrames == 0)
    fail("an unknown handle has output");
}

void run(Reader &in) {
  Session s;
  K(runtime_init)();
  int budget = 4096; // operations per input, so one input stays quick
  while (!in.empty() && budget-- > 0) {
    switch (in.u8() % 12) {
    case 0: { // create
      const double rate = in.u8() < 160 ? 48000.0 : pickValue(in);
      const uint32_t frames = pickFrames(in);
      const uint32_t inputs = in.u8() < 240 ? 0 : in.u32();
      const uint32_t outputs = in.u8() < 240 ? 0 : in.u32();
      const double handle = K(create)(rate, frames, inputs, outputs);
      if (!(handle >= 0 && handle <= 4294967295.0) || handle != std::floor(handle))
        fail("create returned %g", handle);
      const bool plainValid = rate >= 1 && rate <= 1e6 && frames >= 1 && frames <= 128 &&
                              inputs == 0 && outputs == 0;
      if (plainValid && s.liveCount < NORVA_KERNEL_MAX_INSTANCES && handle == 0)
        fail("create refused rate %g, %u frames with %d instances live", rate, frames, s.liveCount);
      if (handle != 0) {
        if (s.liveCount >= NORVA_KERNEL_MAX_INSTANCES) fail("a 33rd instance was created");
        if (s.find(uint32_t(handle)) >= 0) fail("create handed out live handle %g again", handle);
        s.live[s.liveCount++] = {uint32_t(handle), frames};
      }
      break;
    }
    case 1: { // destroy
      const uint32_t handle = pickHandle(in, s);
      const int index = s.find(handle);
      const double status = K(destroy)(handle);
      if (status != (index >= 0 ? 0 : 1)) fail("destroy(%u) = %g", handle, status);
      if (index >= 0) s.forget(index);
      break;
    }
    case 2: { // reset
      const uint32_t handle = pickHandle(in, s);
      const double status = K(reset)(handle);
      if (status != (s.find(handle) >= 0 ? 0 : 1)) fail("reset(%u) = %g", handle, status);
      break;
    }
    case 3: { // push_event, anything
      const uint32_t handle = pickHandle(in, s);
      const uint8_t kindSelector = in.u8();
      const uint32_t kind = kindSelector < 240 ? kindSelector % 6 : in.u32();
      const uint32_t frame = pickFrames(in);
      const uint8_t aSelector = in.u8();
      const uint32_t a = aSelector < 240 ? aSelector % 130 : in.u32();
      const double status = K(push_event)(handle, kind, frame, a, pickValue(in));
      if (!(status >= 0 && status <= 4) || status != std::floor(status)) fail("push_event = %g", status);
      if (s.find(handle) < 0 && status != 1) fail("push_event accepted unknown handle %u", handle);
      break;
    }
    case 4: { // push_event, a parameter, usually in range
      const uint32_t handle = pickHandle(in, s);
      const uint8_t idSelector = in.u8();
      const uint32_t id = idSelector < 250 ? idSelector % 53 : in.u32();
      const uint32_t frame = pickFrames(in);
      const double status = K(push_event)(handle, NORVA_KERNEL_EVENT_PARAMETER, frame, id,
                                          pickParameterValue(in, id));
      if (!(status >= 0 && status <= 4)) fail("push_event = %g", status);
      break;
    }
    case 5: { // process
      const uint32_t handle = pickHandle(in, s);
      const uint32_t frames = pickFrames(in);
      checkProcess(s, handle, frames, K(process)(handle, frames));
      break;
    }
    case 6: { // let time pass: up to 256 full blocks
      const uint32_t handle = pickHandle(in, s);
      const uint32_t frames = maxFramesOf(s, handle) == 0 ? 128 : maxFramesOf(s, handle);
      const int blocks = 1 + in.u8();
      for (int b = 0; b < blocks; ++b) checkProcess(s, handle, frames, K(process)(handle, frames));
      break;
    }
    case 7: { // accessors at any index
      const uint32_t handle = pickHandle(in, s);
      const uint32_t index = in.u8() < 200 ? in.u8() : in.u32();
      const double count = K(event_output_count)(handle);
      const double values[4] = {K(event_output_frame)(handle, index), K(event_output_kind)(handle, index),
                                K(event_output_a)(handle, index), K(event_output_b)(handle, index)};
      if (s.find(handle) < 0 && count != 0) fail("unknown handle %u has %g outputs", handle, count);
      if (index >= count)
        for (double v : values)
          if (v != 0) fail("read at %u past count %g answered %g", index, count, v);
      break;
    }
    case 8: { // views
      const uint32_t handle = pickHandle(in, s);
      float *data = nullptr;
      uint32_t length = 99;
      if (in.u8() & 1) K(input_view)(handle, &data, &length);
      else K(output_view)(handle, &data, &length);
      if (length != 0) fail("a view of length %u", length);
      break;
    }
    case 9: // start over: every instance is discarded
      if (in.u8() < 16) {
        K(runtime_init)();
        for (int i = s.liveCount - 1; i >= 0; --i) s.forget(i);
      }
      break;
    case 10:
      (void)K(collect)();
      if (K(abi_version)() != double(NORVA_KERNEL_ABI_VERSION)) fail("abi_version");
      break;
    default: { // a burst of notes in frame order, up to past the queue's capacity
      const uint32_t handle = pickHandle(in, s);
      const int count = in.u8() % 72;
      uint32_t frame = 0;
      for (int i = 0; i < count; ++i) {
        frame += in.u8() % 4;
        const uint32_t note = in.u8() % 128;
        const double velocity = double(in.u8()) / 255.0;
        const double status = K(push_event)(handle, velocity == 0 ? NORVA_KERNEL_EVENT_NOTE_OFF
                                                                   : NORVA_KERNEL_EVENT_NOTE_ON,
                                            frame % 128, note, velocity);
        if (!(status >= 0 && status <= 4)) fail("push_event = %g", status);
      }
      break;
    }
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  K(set_panic_sink)(panicSink, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Reader in(data, size);
  run(in);
  return 0;
}
