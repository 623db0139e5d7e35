// A VST 3 plug-in bundle as a probe backend: loads the module, creates the
// processor and its controller, and drives them block by block as a host
// does, with parameter changes (normalised by the controller) and note
// events in, note and controller events out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sequencer_backend.h"
#include "vst3/sdk/smartpointer.h"
#include "vst3_host.h"
#include "vst3_plugin.h"

namespace norva::probe {

class Vst3Backend final : public SequencerBackend {
public:
  // Events the backend's input list holds per block; its output list holds
  // kOutputCapacity.
  static constexpr uint32_t kInputCapacity = 1024;
  static constexpr uint32_t kOutputCapacity = 8192;

  explicit Vst3Backend(std::string bundlePath);
  ~Vst3Backend() override;
  Vst3Backend(const Vst3Backend &) = delete;
  Vst3Backend &operator=(const Vst3Backend &) = delete;

  bool create(double sampleRate, uint32_t maxBlockFrames, std::string &error) override;
  uint32_t maxEventsPerBlock() const override { return kInputCapacity; }
  bool pushParameter(uint32_t frame, uint32_t id, double plainValue, std::string &error) override;
  bool pushNote(uint32_t frame, uint32_t note, bool on, double velocity,
                std::string &error) override;
  BlockStatus runBlock(uint32_t frames, std::string &message) override;
  bool readOutputs(std::vector<BackendOutput> &outputs, std::string &error) override;

  bool setInitialState(const std::vector<uint8_t> &bytes, std::string &error) override;
  bool readState(std::vector<uint8_t> &bytes, std::string &error) override;
  bool currentPlainValue(uint32_t id, double &value) override;

  // The loaded module and the instance; null before create.
  Vst3Module *module() const { return module_.get(); }
  PluginInstance *plugin() const { return plugin_.get(); }
  // From now on each performEdit of the controller reaches the processor as
  // a parameter change at the start of the next block, as a host passes an
  // editor's edits on.
  void passEditsToProcessor();

private:
  std::string bundlePath_;
  std::vector<uint8_t> initialState_;
  bool haveInitialState_ = false;
  double sampleRate_ = 0;
  uint32_t maxBlockFrames_ = 0;
  uint32_t lastBlockFrames_ = 0;
  HostTransport transport_;

  // Declared in teardown order, last first: the instance goes before the
  // module that made it.
  std::unique_ptr<Vst3Module> module_;
  Steinberg::IPtr<HostApplication> host_;
  Steinberg::IPtr<HostComponentHandler> handler_;
  Steinberg::IPtr<ParameterChanges> inputChanges_;
  Steinberg::IPtr<ParameterChanges> outputChanges_;
  Steinberg::IPtr<EventList> inputEvents_;
  Steinberg::IPtr<EventList> outputEvents_;
  std::unique_ptr<PluginInstance> plugin_;
};

} // namespace norva::probe
