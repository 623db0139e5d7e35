// The host's sample rate as the engine holds it: an exact fraction, checked
// against what running the kernel at the reference rate would need (one
// host block's worth of converter buffer within its ceiling), and the
// latency such a conversion adds.
#pragma once

#include <cstdint>

namespace norva {

class RateAdapter {
public:
  static constexpr double kReferenceRate = 48000.0;
  static constexpr int32_t kMaxBlockCeiling = 16384;
  static constexpr uint64_t kFifoCapacityCeiling = 1048576;

  enum class Outcome { accepted, invalidFormat, fifoTooLarge };

  // Takes a host configuration. An invalid format changes nothing; a valid
  // one whose converter would not fit is kept and refused.
  Outcome configure(double sampleRate, int32_t maxBlockFrames);
  // Whether the kernel runs at the reference rate instead of the host's.
  void setConverted(bool converted) { converted_ = converted && sampleRate_ != kReferenceRate; }

  double sampleRate() const { return sampleRate_; }
  int32_t maxBlockFrames() const { return maxBlockFrames_; }
  uint64_t numerator() const { return numerator_; }
  uint64_t denominator() const { return denominator_; }
  uint64_t fifoCapacity() const { return fifoCapacity_; }
  bool converted() const { return converted_; }
  // Samples of latency the conversion adds; 0 while the kernel runs at the host rate.
  uint32_t latencySamples() const;

private:
  double sampleRate_ = kReferenceRate;
  int32_t maxBlockFrames_ = 0;
  uint64_t numerator_ = 48000;
  uint64_t denominator_ = 1;
  uint64_t fifoCapacity_ = 0;
  bool converted_ = false;
};

} // namespace norva
