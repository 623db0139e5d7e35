// What the checks of `norva-probe validate` share: the run's context, the
// block and render helpers, and reading and writing the plug-in's state.
// Internal to the probe's validate files.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "params/params.h"
#include "probe_options.h"
#include "vst3/sdk/funknownimpl.h"
#include "vst3_host.h"
#include "vst3_plugin.h"

namespace norva::probe::validation {

using namespace Steinberg;
using namespace Steinberg::Vst;

// A check answers the empty text when it passes, else the reason it failed.
using Reason = std::string;
inline const Reason kPass;

inline constexpr double kRate = 48000;
inline constexpr int32 kBlock = 512;
inline constexpr int kInstanceLimit = 32;

struct Context {
  Vst3Module &module;
  IPtr<HostApplication> host;
};

std::string quoted(const std::string &text);

template <size_t N> std::string field(const char8 (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

std::string number(double value);

// Current reference count of an object, read without changing it.
uint32 countOf(FUnknown *object);

std::unique_ptr<PluginInstance> makePlugin(Context &c, std::string &error,
                                           bool withController = true);

// A plug-in created and started at 48 kHz with 512-frame blocks, or null
// with the reason.
std::unique_ptr<PluginInstance> startedPlugin(Context &c, Reason &reason);

// --- blocks -----------------------------------------------------------------------

// The lists of one process call; the input lists are emptied after each call.
struct Block {
  IPtr<ParameterChanges> changes = owned(new ParameterChanges());
  IPtr<EventList> in = owned(new EventList(1 << 16));
  IPtr<EventList> out;
  int32 symbolicSampleSize = kSample32;

  explicit Block(size_t outCapacity = 1 << 16) : out(owned(new EventList(outCapacity))) {}

  tresult run(IAudioProcessor *processor, int32 frames) {
    ProcessData data;
    data.processMode = kRealtime;
    data.symbolicSampleSize = symbolicSampleSize;
    data.numSamples = frames;
    data.inputParameterChanges = changes;
    data.inputEvents = in;
    data.outputEvents = out;
    out->clear();
    const tresult result = processor->process(data);
    changes->clear();
    in->clear();
    return result;
  }
  void note(int32 offset, int16 pitch, float velocity) {
    Event event = makeNoteOn(offset, pitch, velocity);
    in->addEvent(event);
  }
  void noteOff(int32 offset, int16 pitch) {
    Event event = makeNoteOff(offset, pitch);
    in->addEvent(event);
  }
};

// One output event at its frame counted from the start of a render.
struct Played {
  int64_t frame = 0;
  Event event{};
};

// Checks one block's output as a host receives it: bus 0, offsets inside the
// block and not decreasing, known types, numbers and values in range.
Reason checkOutput(const std::vector<Event> &events, int32 frames);

// Runs frames in blocks of block frames with empty inputs, collecting the
// output. block is the first call's inputs, when given.
Reason render(IAudioProcessor *processor, int64_t frames, int32 blockFrames,
              std::vector<Played> &played, Block *first = nullptr);

std::vector<Played> noteOns(const std::vector<Played> &played, int pitch = -1);

// Queues plain values as one block's parameter changes at offset 0,
// normalised by the controller, and runs that block.
Reason applyPlain(PluginInstance &plugin, const std::vector<std::pair<uint32, double>> &values);

// --- state ------------------------------------------------------------------------

bool stateText(IComponent *component, std::string &text);
tresult setStateText(IComponent *component, const std::string &text, int32_t piece = 0);
tresult setComponentStateText(IEditController *controller, const std::string &text,
                              int32_t piece = 0);
std::vector<double> controllerValues(IEditController *controller);

// The "params" object of a state document as written by the plug-in (no
// white space): key to plain value, null read as NaN.
bool readStateParams(const std::string &doc, std::map<std::string, double> &values);

// Plain value of a parameter in a state document.
bool stateValue(const std::string &doc, uint32 id, double &value);

// The ids whose controller values differ between two snapshots.
std::string changedIds(const std::vector<double> &before, const std::vector<double> &after);

// A plug-in moved off its defaults, with its state text and its
// controller's values.
struct Altered {
  std::unique_ptr<PluginInstance> plugin;
  std::string state;
  std::vector<double> controller;
};

Reason alteredPlugin(Context &c, Altered &altered);

// --- messages ---------------------------------------------------------------------

// True when the log holds a message with this id; its JSON size goes to
// *jsonSize when asked.
bool sawMessage(const std::vector<MessageRecord> &log, const char *id, int64_t *jsonSize = nullptr);

} // namespace norva::probe::validation
