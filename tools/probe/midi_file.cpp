#include "midi_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace norva::probe {
namespace {

void appendBigEndian(uint64_t value, int bytes, std::vector<uint8_t> &out) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
    out.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
}

void appendText(const char *text, std::vector<uint8_t> &out) {
  out.insert(out.end(), text, text + std::strlen(text));
}

std::string reasonFor(int code) { return code != 0 ? std::strerror(code) : "write failed"; }

uint8_t dataByte(double value) {
  const double scaled = std::floor(value * 127.0 + 0.5);
  if (!(scaled >= 0)) return 0;
  return scaled > 127 ? 127 : static_cast<uint8_t>(scaled);
}

} // namespace

bool appendVariableLength(uint32_t value, std::vector<uint8_t> &bytes) {
  if (value > kMaxVariableLength) return false;
  uint8_t groups[4];
  int count = 0;
  do {
    groups[count++] = static_cast<uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (count > 1) bytes.push_back(static_cast<uint8_t>(groups[--count] | 0x80));
  bytes.push_back(groups[0]);
  return true;
}

uint32_t microsPerQuarter(double bpm) {
  return static_cast<uint32_t>(std::floor(60000000.0 / bpm + 0.5));
}

uint64_t frameToTick(uint64_t frame, double sampleRate, double bpm) {
  const double beats = static_cast<double>(frame) / sampleRate * bpm / 60.0;
  return static_cast<uint64_t>(std::floor(beats * kTicksPerQuarter + 0.5));
}

std::vector<MidiFileEvent> toMidiFileEvents(const std::vector<RenderedEvent> &events,
                                            double sampleRate, double bpm, uint32_t channel) {
  std::vector<MidiFileEvent> midi;
  midi.reserve(events.size());
  for (const RenderedEvent &event : events) {
    const uint32_t eventChannel = (event.channel >= 0 ? static_cast<uint32_t>(event.channel) : channel) & 0x0F;
    uint8_t status = 0;
    switch (event.kind) {
    case OutputKind::NoteOn: status = 0x90; break;
    case OutputKind::NoteOff: status = 0x80; break;
    case OutputKind::ControlChange: status = 0xB0; break;
    }
    midi.push_back({frameToTick(event.frame, sampleRate, bpm),
                    static_cast<uint8_t>(status | eventChannel),
                    static_cast<uint8_t>(event.number & 0x7F), dataByte(event.value)});
  }
  return midi;
}

bool buildMidiFile(uint32_t tempoMicrosPerQuarter, const std::vector<MidiFileEvent> &events,
                   uint64_t endTick, std::vector<uint8_t> &bytes, std::string &error) {
  if (tempoMicrosPerQuarter == 0 || tempoMicrosPerQuarter > 0xFFFFFF) {
    error = "tempo of " + std::to_string(tempoMicrosPerQuarter) +
            " microseconds per quarter note does not fit a tempo event";
    return false;
  }

  std::vector<uint8_t> track;
  track.reserve(16 + 5 * events.size());
  track.insert(track.end(), {0x00, 0xFF, 0x51, 0x03});
  appendBigEndian(tempoMicrosPerQuarter, 3, track);

  uint64_t lastTick = 0;
  for (const MidiFileEvent &event : events) {
    if (event.tick < lastTick) {
      error = "event at tick " + std::to_string(event.tick) + " comes after tick " +
              std::to_string(lastTick);
      return false;
    }
    const uint64_t delta = event.tick - lastTick;
    if (delta > kMaxVariableLength ||
        !appendVariableLength(static_cast<uint32_t>(delta), track)) {
      error = "gap of " + std::to_string(delta) + " ticks is too long for a MIDI file";
      return false;
    }
    track.push_back(static_cast<uint8_t>(event.status | 0x80));
    track.push_back(static_cast<uint8_t>(event.data1 & 0x7F));
    // Program change and channel pressure carry one data byte.
    const uint8_t type = event.status & 0xF0;
    if (type != 0xC0 && type != 0xD0) track.push_back(static_cast<uint8_t>(event.data2 & 0x7F));
    lastTick = event.tick;
  }

  const uint64_t endDelta = endTick > lastTick ? endTick - lastTick : 0;
  if (endDelta > kMaxVariableLength) {
    error = "gap of " + std::to_string(endDelta) + " ticks is too long for a MIDI file";
    return false;
  }
  appendVariableLength(static_cast<uint32_t>(endDelta), track);
  track.insert(track.end(), {0xFF, 0x2F, 0x00});
  if (track.size() > 0xFFFFFFFFu) {
    error = "track of " + std::to_string(track.size()) + " bytes is too long for a MIDI file";
    return false;
  }

  bytes.clear();
  bytes.reserve(22 + track.size());
  appendText("MThd", bytes);
  appendBigEndian(6, 4, bytes);
  appendBigEndian(0, 2, bytes); // format 0
  appendBigEndian(1, 2, bytes); // one track
  appendBigEndian(kTicksPerQuarter, 2, bytes);
  appendText("MTrk", bytes);
  appendBigEndian(track.size(), 4, bytes);
  bytes.insert(bytes.end(), track.begin(), track.end());
  return true;
}

bool writeRenderMidiFile(const std::string &path, const std::vector<RenderedEvent> &events, double sampleRate,
                         double bpm, uint32_t channel, uint64_t totalFrames, std::string &error) {
  std::vector<uint8_t> bytes;
  return buildMidiFile(microsPerQuarter(bpm), toMidiFileEvents(events, sampleRate, bpm, channel),
                       frameToTick(totalFrames, sampleRate, bpm), bytes, error) &&
         writeBinaryFile(path, bytes, error);
}

bool writeBinaryFile(const std::string &path, const std::vector<uint8_t> &bytes,
                     std::string &error) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write '" + path + "': " + reasonFor(errno);
    return false;
  }
  errno = 0;
  const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  const int writeErrno = errno;
  const bool writeFailed = written != bytes.size();
  if (std::fclose(file) != 0 || writeFailed) {
    error = "cannot write '" + path + "': " + reasonFor(writeFailed ? writeErrno : errno);
    return false;
  }
  return true;
}

bool readBinaryFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot read '" + path + "': " + reasonFor(errno);
    return false;
  }
  bytes.clear();
  uint8_t buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  const bool failed = std::ferror(file) != 0;
  const int readErrno = errno;
  std::fclose(file);
  if (failed) {
    error = "cannot read '" + path + "': " + reasonFor(readErrno);
    return false;
  }
  return true;
}

} // namespace norva::probe
