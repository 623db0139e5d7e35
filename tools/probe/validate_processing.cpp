// norva-probe validate: process calls: the default pattern, parameter changes, crowded and refused
// blocks.
#include "validate_checks.h"

#include <cmath>

namespace norva::probe::validation {

// --- processing -----------------------------------------------------------------------------

Reason emptyBlocks(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  ProcessData bare;
  bare.numSamples = kBlock;
  if (tresult r = plugin->processor()->process(bare); r != kResultOk)
    return "process without lists returned " + resultName(r);
  Block block;
  if (tresult r = block.run(plugin->processor(), 0); r != kResultOk)
    return "a block of 0 frames returned " + resultName(r);
  if (!block.out->events().empty()) return "a block of 0 frames played events";
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "a block with empty lists returned " + resultName(r);
  return checkOutput(block.out->events(), kBlock);
}

Reason defaultPattern(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  std::vector<Played> played;
  if (Reason r = render(plugin->processor(), 2 * 48000, kBlock, played); !r.empty()) return r;
  const std::vector<Played> ons = noteOns(played);
  // Sixteenths at 120 BPM, the velocity figure 100 60 0 60: 12 notes in 2 s.
  if (ons.size() != 12) return std::to_string(ons.size()) + " note-ons in 2 s (expected 12)";
  const int64_t frames[] = {0, 6000, 18000, 24000};
  const int velocities[] = {100, 60, 60, 100};
  for (size_t i = 0; i < 4; ++i) {
    const Event &e = ons[i].event;
    if (ons[i].frame != frames[i] || e.noteOn.pitch != 60 ||
        std::lround(e.noteOn.velocity * 127) != velocities[i])
      return "note " + std::to_string(i + 1) + ": pitch " + std::to_string(e.noteOn.pitch) +
             " at frame " + std::to_string(ons[i].frame) + " with velocity " + number(e.noteOn.velocity);
  }
  // Every note ends before the same pitch starts again.
  std::map<int, int64_t> open;
  for (const Played &p : played) {
    if (p.event.type == Event::kNoteOnEvent) {
      if (open.count(p.event.noteOn.pitch) != 0)
        return "pitch " + std::to_string(p.event.noteOn.pitch) + " started again at frame " +
               std::to_string(p.frame) + " without a note-off";
      open[p.event.noteOn.pitch] = p.frame;
    } else if (p.event.type == Event::kNoteOffEvent) {
      open.erase(p.event.noteOff.pitch);
    }
  }
  return kPass;
}

Reason parameterChangesApply(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  Block first;
  first.changes->add(kParamBpm, 0, plugin->controller()->plainParamToNormalized(kParamBpm, 150));
  std::vector<Played> played;
  if (Reason r = render(plugin->processor(), 48000, kBlock, played, &first); !r.empty()) return r;
  const std::vector<Played> ons = noteOns(played);
  // Sixteenths at 150 BPM are 4800 frames apart.
  if (ons.size() < 2 || ons[0].frame != 0 || ons[1].frame != 4800)
    return "after a tempo of 150 the first notes play at frames " +
           (ons.size() < 2 ? std::string("(fewer than two)")
                           : std::to_string(ons[0].frame) + " and " + std::to_string(ons[1].frame));
  std::string state;
  double bpm = 0;
  if (!stateText(plugin->component(), state) || !stateValue(state, kParamBpm, bpm))
    return "no tempo in the state";
  if (std::fabs(bpm - 150) > 1e-9) return "the state holds a tempo of " + number(bpm);
  return kPass;
}

Reason unknownParameterIds(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  std::string before, after;
  if (!stateText(plugin->component(), before)) return "getState failed";
  Block block;
  for (ParamID id : {ParamID(kParamCount), ParamID(1000), ParamID(0x7FFFFFFF), kNoParamId})
    block.changes->add(id, 0, 1.0);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "process returned " + resultName(r);
  if (!stateText(plugin->component(), after)) return "getState failed";
  if (after != before) return "changes of ids " + std::to_string(kParamCount) + " and above altered the state";
  return kPass;
}

Reason crowdedBlock(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  Block block;
  for (int i = 0; i < 4096; ++i) {
    const auto offset = static_cast<int32>(i * kBlock / 4096);
    if (i % 2 == 0) block.note(offset, static_cast<int16>(i % 128), 0.75f);
    else block.noteOff(offset, static_cast<int16>((i - 1) % 128));
  }
  for (uint32 id = 0; id < kParamCount; ++id) {
    for (int32 point = 0; point < 32; ++point)
      block.changes->add(id, point * 16, NORVA_PARAMS[id].defaultNormalized);
  }
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "a block of 4096 notes and 1696 parameter points returned " + resultName(r);
  if (Reason r = checkOutput(block.out->events(), kBlock); !r.empty()) return r;
  std::vector<Played> played;
  if (Reason r = render(plugin->processor(), 4 * kBlock, kBlock, played); !r.empty())
    return "after the crowded block: " + r;
  return kPass;
}

namespace {

// Incoming notes pass through while the sequencer is stopped; a block
// stopping it comes first.
Reason stopSequencer(PluginInstance &plugin) {
  Block block;
  block.changes->add(kParamRun, 0, 0.0);
  std::vector<Played> played;
  return render(plugin.processor(), 2 * kBlock, kBlock, played, &block);
}

} // namespace

Reason refusingOutputList(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  Block block(2);
  for (int16 pitch = 64; pitch < 70; ++pitch) block.note((pitch - 64) * 50, pitch, 1.0f);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "process returned " + resultName(r);
  if (block.out->events().size() != 2)
    return std::to_string(block.out->events().size()) + " events in a list that holds 2";
  if (block.out->refusedAdds() != 1)
    return "the processor went on after the list refused an event (" +
           std::to_string(block.out->refusedAdds()) + " refused adds)";
  return kPass;
}

Reason velocityZeroNoteOn(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  Block block;
  block.note(10, 64, 0.5f);
  block.note(100, 64, 0.0f);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "process returned " + resultName(r);
  std::vector<const Event *> notes;
  for (const Event &e : block.out->events()) {
    if ((e.type == Event::kNoteOnEvent && e.noteOn.pitch == 64) ||
        (e.type == Event::kNoteOffEvent && e.noteOff.pitch == 64))
      notes.push_back(&e);
  }
  if (notes.size() != 2 || notes[0]->type != Event::kNoteOnEvent || notes[0]->sampleOffset != 10 ||
      notes[1]->type != Event::kNoteOffEvent || notes[1]->sampleOffset != 100)
    return "the passed-through note 64 came out as " + std::to_string(notes.size()) +
           " events, not a note-on at 10 and a note-off at 100";
  if (std::lround(notes[0]->noteOn.velocity * 127) != 64)
    return "velocity 0.5 came out as " + number(notes[0]->noteOn.velocity);
  return kPass;
}

Reason bypassParameter(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  IEditController *controller = plugin->controller();
  int32 flagged = 0;
  ParamID bypass = kNoParamId;
  for (int32 i = 0; i < controller->getParameterCount(); ++i) {
    ParameterInfo info{};
    if (controller->getParameterInfo(i, info) == kResultOk && (info.flags & ParameterInfo::kIsBypass) != 0) {
      ++flagged;
      bypass = info.id;
    }
  }
  if (flagged != 1) return "warning: " + std::to_string(flagged) + " parameters flagged as the bypass (expected 1)";
  // Bypassed, the sequencer ends what sounds and plays nothing, and the
  // input goes out as it came in.
  Block block;
  block.changes->add(bypass, 0, 1.0);
  block.note(10, 64, 0.5f);
  block.noteOff(100, 64);
  for (int n = 0; n < 40; ++n) {
    if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
      return "process returned " + resultName(r);
    for (const Event &e : block.out->events()) {
      const bool passed = (e.type == Event::kNoteOnEvent && e.noteOn.pitch == 64) ||
                          (e.type == Event::kNoteOffEvent && e.noteOff.pitch == 64);
      if (e.type == Event::kNoteOnEvent && !passed) return "a bypassed block played note " + std::to_string(e.noteOn.pitch);
      if (n > 0 && passed) return "a note came out of a block that had none";
    }
    if (n == 0) {
      std::vector<int32> offsets;
      for (const Event &e : block.out->events())
        if ((e.type == Event::kNoteOnEvent && e.noteOn.pitch == 64) ||
            (e.type == Event::kNoteOffEvent && e.noteOff.pitch == 64))
          offsets.push_back(e.sampleOffset);
      if (offsets != std::vector<int32>{10, 100}) return "the bypassed note 64 did not pass through unchanged";
    }
  }
  return kPass;
}

Reason parameterBeforeNote(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  auto passedThrough = [&](int32 noteFrame, int32 changeFrame, bool &passed) {
    Block block;
    block.note(noteFrame, 67, 1.0f);
    block.noteOff(noteFrame + 1, 67);
    block.changes->add(kParamKeyFollow, 0, 0.0);
    block.changes->add(kParamKeyFollow, changeFrame, 1.0);
    passed = false;
    if (block.run(plugin->processor(), kBlock) != kResultOk) return false;
    for (const Event &e : block.out->events())
      passed = passed || (e.type == Event::kNoteOnEvent && e.noteOn.pitch == 67);
    return true;
  };
  // Key follow switched on after the note lets it pass; switched on at the
  // note's own frame it must take the note, so nothing passes through.
  bool passed = false;
  if (!passedThrough(20, 21, passed)) return "process failed";
  if (!passed) return "a note before key follow was switched on did not pass through";
  if (!passedThrough(20, 20, passed)) return "process failed";
  if (passed) return "the note reached the sequencer before the parameter change of its frame";
  return kPass;
}

Reason process64(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  Block block;
  block.symbolicSampleSize = kSample64;
  block.note(0, 64, 1.0f);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultFalse)
    return "64-bit process returned " + resultName(r);
  if (!block.out->events().empty()) return "64-bit process played events";
  return kPass;
}

Reason separateInstances(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> a = startedPlugin(c, reason);
  if (a == nullptr) return reason;
  std::unique_ptr<PluginInstance> b = startedPlugin(c, reason);
  if (b == nullptr) return reason;
  if (Reason r = applyPlain(*a, {{kParamBpm, 200}, {kParamFirstStepVelocity, 5}}); !r.empty()) return r;
  std::string state;
  double bpm = 0, g1 = 0;
  if (!stateText(b->component(), state) || !stateValue(state, kParamBpm, bpm) ||
      !stateValue(state, kParamFirstStepVelocity, g1))
    return "no state from the second instance";
  if (bpm != 120 || g1 != 100) return "changing one instance changed the other's state";
  std::vector<Played> played;
  if (Reason r = render(b->processor(), 12000, kBlock, played); !r.empty()) return r;
  const std::vector<Played> ons = noteOns(played);
  if (ons.size() != 2 || ons[1].frame != 6000 || std::lround(ons[0].event.noteOn.velocity * 127) != 100)
    return "the untouched instance does not play its default pattern";
  return kPass;
}

} // namespace norva::probe::validation
