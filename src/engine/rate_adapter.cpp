#include "engine/rate_adapter.h"

#include <cmath>

namespace norva {
namespace {

uint64_t gcd(uint64_t a, uint64_t b) {
  while (b != 0) {
    const uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

} // namespace

RateAdapter::Outcome RateAdapter::configure(double sampleRate, int32_t maxBlockFrames) {
  bool valid = std::isfinite(sampleRate) && sampleRate <= 4000000.0 && sampleRate >= 0.000001;
  uint64_t numerator = 0;
  uint64_t denominator = 1000000;
  if (valid) {
    const double scaled = std::trunc(sampleRate * 1000000.0);
    valid = scaled >= 1.0 && scaled < 18446744073709551616.0;
    if (valid) {
      numerator = uint64_t(scaled);
      const uint64_t divisor = gcd(numerator, denominator);
      numerator /= divisor;
      denominator /= divisor;
    }
  }
  if (!valid || maxBlockFrames < 1 || maxBlockFrames > kMaxBlockCeiling) return Outcome::invalidFormat;

  // A valid rate and block are kept even when the capacity below is refused:
  // reports describe the configuration the host asked for.
  numerator_ = numerator;
  denominator_ = denominator;
  sampleRate_ = double(numerator) / double(denominator);
  maxBlockFrames_ = maxBlockFrames;
  converted_ = false;

  // The kernel-rate length of one maximal host block, plus margin.
  const unsigned __int128 scaledFrames =
      (unsigned __int128)uint64_t(maxBlockFrames) * denominator * uint64_t(kReferenceRate);
  const unsigned __int128 needed = (scaledFrames + numerator - 1) / numerator + 64;
  const unsigned __int128 floorCapacity = 3 * uint64_t(maxBlockFrames) + 8;
  const unsigned __int128 capacity = needed > floorCapacity ? needed : floorCapacity;
  if (capacity > kFifoCapacityCeiling) return Outcome::fifoTooLarge;
  fifoCapacity_ = uint64_t(capacity);
  return Outcome::accepted;
}

uint32_t RateAdapter::latencySamples() const {
  if (!converted_ || !(sampleRate_ > 0)) return 0;
  return uint32_t(sampleRate_ * 20 / kReferenceRate + 16 + 0.999999);
}

} // namespace norva
