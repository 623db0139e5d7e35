// Standard MIDI File writer: format 0, one track, 480 ticks per quarter note.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render.h"

namespace norva::probe {

inline constexpr uint16_t kTicksPerQuarter = 480;
inline constexpr uint32_t kMaxVariableLength = 0x0FFFFFFF;

struct MidiFileEvent {
  uint64_t tick = 0;
  uint8_t status = 0;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

// Appends value as a variable-length quantity; false if it exceeds 0x0FFFFFFF.
bool appendVariableLength(uint32_t value, std::vector<uint8_t> &bytes);

// round(60000000 / bpm): the tempo meta event's microseconds per quarter note.
uint32_t microsPerQuarter(double bpm);
// round(frame / sampleRate * bpm / 60 * 480).
uint64_t frameToTick(uint64_t frame, double sampleRate, double bpm);

// Rendered events as channel messages on channel (or on their own channel when
// they carry one); data bytes are round(value * 127).
std::vector<MidiFileEvent> toMidiFileEvents(const std::vector<RenderedEvent> &events,
                                            double sampleRate, double bpm, uint32_t channel);

// The whole file: header, then one track with the tempo meta event, the
// events in order (ticks must not decrease) and end-of-track at endTick
// (or at the last event's tick, if later). No running status.
bool buildMidiFile(uint32_t tempoMicrosPerQuarter, const std::vector<MidiFileEvent> &events,
                   uint64_t endTick, std::vector<uint8_t> &bytes, std::string &error);

// What a render played, as a file at path: the tempo and tick scale of bpm,
// events without a channel of their own on channel, the track ending at
// totalFrames (or at the last event).
bool writeRenderMidiFile(const std::string &path, const std::vector<RenderedEvent> &events, double sampleRate,
                         double bpm, uint32_t channel, uint64_t totalFrames, std::string &error);

// Writes bytes to path; on failure error reads "cannot write 'path': reason".
bool writeBinaryFile(const std::string &path, const std::vector<uint8_t> &bytes,
                     std::string &error);
// Reads the whole file; on failure error reads "cannot read 'path': reason".
bool readBinaryFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error);

} // namespace norva::probe
