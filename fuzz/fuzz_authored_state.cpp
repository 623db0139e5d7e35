// The authored pattern plane's 7265-byte form, from arbitrary bytes.
//
// Every input is tried twice: as it is (mostly refused; a refusal must leave
// the state exactly as it was, an acceptance must follow the format's rules),
// and shaped into a form the kernel must accept (version 1, every row byte in
// range, lane bytes anything). An accepted form is saved; the saved bytes are
// in their restored ranges, keep the row bytes, and restore→save reproduces
// them byte for byte.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "kernel/kernel_state.h"

namespace {

namespace nk = norva::kernel;
using norva::fuzz::fail;

constexpr size_t kBytes = nk::kStateBytes;
constexpr size_t kCells = nk::kLaneCells;
constexpr size_t kLengthRow = nk::kOffsetRows;
constexpr size_t kResolutionRow = nk::kOffsetRows + 32;
constexpr size_t kDirectionRow = nk::kOffsetRows + 64;

nk::KernelState *gState = nullptr;

size_t lane(int k) { return nk::kOffsetLanes + kCells * size_t(k); }

bool acceptable(const uint8_t *bytes, size_t size) {
  if (size != kBytes || bytes[0] != 1) return false;
  for (size_t p = 0; p < 32; ++p) {
    if (bytes[kLengthRow + p] == 0 || bytes[kLengthRow + p] > 32) return false;
    if (bytes[kResolutionRow + p] > 12 || bytes[kDirectionRow + p] > 6) return false;
  }
  return true;
}

void save(uint8_t (&out)[kBytes]) {
  if (nk::saveState(*gState, out, kBytes) != int(kBytes)) fail("saveState did not write %zu bytes", kBytes);
}

// The saved form of an accepted restore: lanes in their restored ranges, rows as given.
void checkSaved(const uint8_t (&saved)[kBytes], const uint8_t *restored) {
  if (saved[0] != 1) fail("saved version %u", saved[0]);
  for (size_t i = 0; i < kCells; ++i) {
    const uint8_t gate = saved[lane(2) + i], tie = saved[lane(3) + i];
    const uint8_t ratchet = saved[lane(5) + i], enabled = saved[lane(6) + i];
    if (saved[lane(0) + i] > 127 || saved[lane(1) + i] > 127 || saved[lane(4) + i] > 127)
      fail("cell %zu: a 7-bit lane byte above 127", i);
    if (gate < 5 || gate > 200) fail("cell %zu: gate %u", i, gate);
    if (tie > 1 || enabled > 1) fail("cell %zu: tie %u, enabled %u", i, tie, enabled);
    if (ratchet < 1 || ratchet > 8) fail("cell %zu: ratchet %u", i, ratchet);
    if (saved[lane(0) + i] != restored[lane(0) + i] % 128) fail("cell %zu: note changed", i);
  }
  if (std::memcmp(saved + kLengthRow, restored + kLengthRow, 96) != 0) fail("row bytes changed");
  const int length = nk::patternLength(*gState, int(gState->currentPattern));
  if (gState->walkPosition > length - 1 || gState->cycleStep > length - 1)
    fail("walk position %g / cycle step %g past length %d", gState->walkPosition, gState->cycleStep, length);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gState = nk::createState();
  nk::PrepareConfig config;
  config.maxFrames = 128;
  config.sampleRate = 48000;
  if (gState == nullptr || !nk::prepare(*gState, config)) fail("no kernel state");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static uint8_t before[kBytes], after[kBytes], again[kBytes], shaped[kBytes];

  // A walker somewhere in the plane, so the restore's position clamp has work.
  if (size >= 3) {
    gState->currentPattern = data[size - 1] % 32;
    gState->walkPosition = data[size - 2] % 32;
    gState->cycleStep = data[size - 3] % 32;
  }

  // As given.
  save(before);
  const bool accepted = nk::restoreState(*gState, data, uint32_t(size));
  if (accepted != acceptable(data, size)) fail("restore of %zu bytes answered %d", size, int(accepted));
  save(after);
  if (!accepted && std::memcmp(before, after, kBytes) != 0) fail("a refused restore changed the state");
  if (accepted) checkSaved(after, data);

  // Shaped to be accepted: the input repeated over the whole form.
  for (size_t i = 0; i < kBytes; ++i) shaped[i] = size == 0 ? uint8_t(i) : data[i % size];
  shaped[0] = 1;
  for (size_t p = 0; p < 32; ++p) {
    shaped[kLengthRow + p] = uint8_t(1 + shaped[kLengthRow + p] % 32);
    shaped[kResolutionRow + p] %= 13;
    shaped[kDirectionRow + p] %= 7;
  }
  if (!nk::restoreState(*gState, shaped, uint32_t(kBytes))) fail("a well-formed state was refused");
  save(after);
  checkSaved(after, shaped);
  if (!nk::restoreState(*gState, after, uint32_t(kBytes))) fail("a saved state was refused");
  save(again);
  if (std::memcmp(after, again, kBytes) != 0) fail("restore then save is not stable");

  // A short buffer is refused and left untouched.
  std::memset(again, 0xA5, kBytes);
  if (nk::saveState(*gState, again, uint32_t(kBytes - 1)) != -1) fail("save into a short buffer");
  for (size_t i = 0; i < kBytes; ++i)
    if (again[i] != 0xA5) fail("save into a short buffer wrote byte %zu", i);
  return 0;
}
