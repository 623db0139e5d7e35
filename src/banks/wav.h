// WAV decoding for runtime banks: 16- and 24-bit integer PCM and 32-bit float,
// mono or stereo, mixed down to one channel on a 16-bit grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norva {

struct WavAudio {
  std::vector<float> samples; // mono; every value is a multiple of 1/32768 in -1..32767/32768
  double sampleRate = 48000.0;
};

// Decodes a whole RIFF/WAVE file. On failure returns false with error set to
// one line (audio unspecified): "not a RIFF/WAVE file", "no data chunk",
// "data chunk claims N bytes, the file holds M", "unsupported channel count N",
// "empty or unreadable data chunk", "unsupported WAV format tag T / B-bit".
bool decodeWav(const uint8_t *bytes, size_t length, WavAudio &audio, std::string &error);

} // namespace norva
