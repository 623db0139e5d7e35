#include "vst3_backend.h"

#include "params/params.h"
#include "probe_options.h"

namespace norva::probe {

using namespace Steinberg;
using namespace Steinberg::Vst;

Vst3Backend::Vst3Backend(std::string bundlePath)
    : bundlePath_(std::move(bundlePath)), host_(owned(new HostApplication())),
      handler_(owned(new HostComponentHandler())), inputChanges_(owned(new ParameterChanges())),
      outputChanges_(owned(new ParameterChanges())), inputEvents_(owned(new EventList(kInputCapacity))),
      outputEvents_(owned(new EventList(kOutputCapacity))) {}

Vst3Backend::~Vst3Backend() {
  plugin_.reset();
  module_.reset();
}

bool Vst3Backend::setInitialState(const std::vector<uint8_t> &bytes, std::string &error) {
  if (plugin_ != nullptr) {
    error = "the state must be given before the plug-in is created";
    return false;
  }
  initialState_ = bytes;
  haveInitialState_ = true;
  return true;
}

bool Vst3Backend::create(double sampleRate, uint32_t maxBlockFrames, std::string &error) {
  if (plugin_ != nullptr) {
    error = "plug-in instance already created";
    return false;
  }
  module_ = Vst3Module::load(bundlePath_, error);
  if (module_ == nullptr) return false;
  plugin_ = PluginInstance::create(*module_, host_, error);
  if (plugin_ == nullptr) return false;
  // A controller may do without a handler; the render does not need one.
  plugin_->controller()->setComponentHandler(handler_);
  if (haveInitialState_) {
    if (!plugin_->loadState(initialState_, error)) return false;
  } else if (!plugin_->syncController(error)) {
    return false;
  }
  sampleRate_ = sampleRate;
  maxBlockFrames_ = maxBlockFrames;
  if (!plugin_->start(sampleRate, static_cast<int32_t>(maxBlockFrames), error)) return false;
  transport_.sampleRate = sampleRate;
  transport_.requirements = plugin_->contextRequirements();
  return true;
}

bool Vst3Backend::pushParameter(uint32_t frame, uint32_t id, double plainValue,
                                std::string &error) {
  IEditController *controller = plugin_->controller();
  const ParamValue normalized = controller->plainParamToNormalized(id, plainValue);
  if (!(normalized >= 0.0 && normalized <= 1.0)) {
    error = "the controller normalised parameter " + std::to_string(id) + " = " +
            formatNumber(plainValue) + " to " + formatNumber(normalized);
    return false;
  }
  if (!inputChanges_->add(id, static_cast<int32>(frame), normalized)) {
    error = "cannot queue parameter " + std::to_string(id);
    return false;
  }
  // A host keeps the controller in step with what it automates.
  controller->setParamNormalized(id, normalized);
  return true;
}

void Vst3Backend::passEditsToProcessor() {
  handler_->onPerformEdit = [changes = inputChanges_.get()](ParamID id, ParamValue normalized) {
    changes->add(id, 0, normalized);
  };
}

bool Vst3Backend::pushNote(uint32_t frame, uint32_t note, bool on, double velocity,
                           std::string &error) {
  Event event = on ? makeNoteOn(static_cast<int32_t>(frame), static_cast<int16_t>(note),
                                static_cast<float>(velocity))
                   : makeNoteOff(static_cast<int32_t>(frame), static_cast<int16_t>(note));
  if (inputEvents_->addEvent(event) != kResultOk) {
    error = "more than " + std::to_string(kInputCapacity) + " input events in one block";
    return false;
  }
  return true;
}

BlockStatus Vst3Backend::runBlock(uint32_t frames, std::string &message) {
  ProcessContext context = transport_.context();

  ProcessData data;
  data.processMode = kRealtime;
  data.symbolicSampleSize = kSample32;
  data.numSamples = static_cast<int32>(frames);
  data.inputParameterChanges = inputChanges_;
  data.outputParameterChanges = outputChanges_;
  data.inputEvents = inputEvents_;
  data.outputEvents = outputEvents_;
  data.processContext = &context;

  outputEvents_->clear();
  outputChanges_->clear();
  const tresult result = plugin_->processor()->process(data);
  inputChanges_->clear();
  inputEvents_->clear();
  transport_.advance(static_cast<int32>(frames));
  lastBlockFrames_ = frames;
  if (result != kResultOk) {
    message = "the processor's process failed (" + resultName(result) + ")";
    return BlockStatus::Failed;
  }
  if (outputEvents_->refusedAdds() > 0) {
    message = "the block played more than " + std::to_string(kOutputCapacity) +
              " events; the rest were dropped";
    return BlockStatus::EventRejected;
  }
  return BlockStatus::Ok;
}

bool Vst3Backend::readOutputs(std::vector<BackendOutput> &outputs, std::string &error) {
  const std::vector<Event> &events = outputEvents_->events();
  for (size_t i = 0; i < events.size(); ++i) {
    const Event &event = events[i];
    const std::string which = "output event " + std::to_string(i);
    if (event.busIndex != 0) {
      error = which + " is on bus " + std::to_string(event.busIndex);
      return false;
    }
    if (event.sampleOffset < 0 || static_cast<uint32_t>(event.sampleOffset) >= lastBlockFrames_) {
      error = which + " has offset " + std::to_string(event.sampleOffset) + " outside a block of " +
              std::to_string(lastBlockFrames_) + " frames";
      return false;
    }
    BackendOutput output;
    output.frame = static_cast<uint32_t>(event.sampleOffset);
    int pitch = 0;
    int channel = 0;
    switch (event.type) {
    case Event::kNoteOnEvent:
      output.kind = OutputKind::NoteOn;
      pitch = event.noteOn.pitch;
      channel = event.noteOn.channel;
      output.value = event.noteOn.velocity;
      break;
    case Event::kNoteOffEvent:
      output.kind = OutputKind::NoteOff;
      pitch = event.noteOff.pitch;
      channel = event.noteOff.channel;
      output.value = event.noteOff.velocity;
      break;
    case Event::kLegacyMIDICCOutEvent:
      output.kind = OutputKind::ControlChange;
      pitch = event.midiCCOut.controlNumber;
      channel = event.midiCCOut.channel;
      output.value = event.midiCCOut.value / 127.0;
      if (event.midiCCOut.value < 0) {
        error = which + " has controller value " + std::to_string(event.midiCCOut.value);
        return false;
      }
      break;
    default:
      error = which + " has event type " + std::to_string(event.type);
      return false;
    }
    if (pitch < 0 || pitch > 127) {
      error = which + " has number " + std::to_string(pitch);
      return false;
    }
    if (channel < 0 || channel > 15) {
      error = which + " has channel " + std::to_string(channel);
      return false;
    }
    if (!(output.value >= 0.0 && output.value <= 1.0)) {
      error = which + " has value " + formatNumber(output.value);
      return false;
    }
    output.number = static_cast<uint8_t>(pitch);
    output.channel = channel;
    outputs.push_back(output);
  }
  return true;
}

bool Vst3Backend::readState(std::vector<uint8_t> &bytes, std::string &error) {
  if (plugin_ == nullptr) {
    error = "no plug-in instance";
    return false;
  }
  return plugin_->saveState(bytes, error);
}

bool Vst3Backend::currentPlainValue(uint32_t id, double &value) {
  if (plugin_ == nullptr || plugin_->controller() == nullptr) return false;
  IEditController *controller = plugin_->controller();
  value = controller->normalizedParamToPlain(id, controller->getParamNormalized(id));
  return true;
}

} // namespace norva::probe
