// The sequencer kernel as a probe backend, driven only through its exported
// plain functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sequencer_backend.h"

namespace norva::probe {

class KernelBackend final : public SequencerBackend {
public:
  KernelBackend() = default;
  ~KernelBackend() override;
  KernelBackend(const KernelBackend &) = delete;
  KernelBackend &operator=(const KernelBackend &) = delete;

  bool create(double sampleRate, uint32_t maxBlockFrames, std::string &error) override;
  uint32_t maxEventsPerBlock() const override;
  bool pushParameter(uint32_t frame, uint32_t id, double plainValue,
                     std::string &error) override;
  bool pushNote(uint32_t frame, uint32_t note, bool on, double velocity,
                std::string &error) override;
  BlockStatus runBlock(uint32_t frames, std::string &message) override;
  bool readOutputs(std::vector<BackendOutput> &outputs, std::string &error) override;

private:
  bool push(uint32_t kind, uint32_t frame, uint32_t a, double value, const std::string &what,
            std::string &error);
  // True (and error set) when the kernel has reported an internal fault.
  bool faulted(std::string &error) const;

  uint32_t handle_ = 0;
  uint32_t lastBlockFrames_ = 0;
};

} // namespace norva::probe
