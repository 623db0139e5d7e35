#include "banks/wav.h"

#include <cmath>
#include <cstring>

namespace norva {
namespace {

constexpr size_t kRiffHeaderBytes = 12;
constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kMinimumWavBytes = 44;
constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 65534;
constexpr double kGridSteps = 32767.0;
constexpr double kGridScale = 32768.0;

uint32_t readLittleEndian(const uint8_t *p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint32_t(p[i]) << (8 * i);
  return value;
}

// One channel's value of a frame in -1..1 (float data as it stands).
double channelValue(const uint8_t *p, uint16_t tag, uint16_t bits) {
  if (tag == kTagFloat) {
    const uint32_t raw = readLittleEndian(p, 4);
    float value = 0;
    std::memcpy(&value, &raw, sizeof value);
    return value;
  }
  if (bits == 16) return double(int16_t(readLittleEndian(p, 2))) / 32768.0;
  const uint32_t raw = readLittleEndian(p, 3);
  const int32_t value = int32_t(raw << 8) >> 8; // sign-extended 24 bits
  return std::ldexp(double(value), -23);
}

// The mono mix on the 16-bit grid: rounded half away from zero and clamped;
// a sample that is not a number counts as silence.
float gridSample(double sum, uint16_t channels) {
  double m = std::round(sum / channels * kGridSteps);
  if (std::isnan(m)) m = 0;
  if (m < -32768.0) m = -32768.0;
  if (m > 32767.0) m = 32767.0;
  return float(m / kGridScale);
}

} // namespace

bool decodeWav(const uint8_t *bytes, size_t length, WavAudio &audio, std::string &error) {
  if (length < kMinimumWavBytes || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
    error = "not a RIFF/WAVE file";
    return false;
  }
  uint16_t tag = 0, channels = 0, bits = 0;
  uint32_t rate = 0;
  const uint8_t *data = nullptr;
  size_t dataBytes = 0;
  size_t pos = kRiffHeaderBytes;
  while (length - pos >= kChunkHeaderBytes) {
    const uint8_t *id = bytes + pos;
    const size_t size = readLittleEndian(bytes + pos + 4, 4);
    const size_t body = pos + kChunkHeaderBytes;
    const bool isData = std::memcmp(id, "data", 4) == 0;
    if (size > length - body) {
      // The walk ends here; a data chunk cut short is refused rather than read in part.
      if (isData) {
        error = "data chunk claims " + std::to_string(size) + " bytes, the file holds " + std::to_string(length - body);
        return false;
      }
      break;
    }
    if (std::memcmp(id, "fmt ", 4) == 0 && size >= 16) {
      const uint8_t *fmt = bytes + body;
      tag = uint16_t(readLittleEndian(fmt, 2));
      channels = uint16_t(readLittleEndian(fmt + 2, 2));
      rate = readLittleEndian(fmt + 4, 4);
      bits = uint16_t(readLittleEndian(fmt + 14, 2));
      if (size >= 40 && tag == kTagExtensible) tag = uint16_t(readLittleEndian(fmt + 24, 2));
    } else if (isData) {
      data = bytes + body;
      dataBytes = size;
    }
    const size_t next = size + (size & 1); // a pad byte follows an odd size
    if (next >= length - body) break;
    pos = body + next;
  }
  if (data == nullptr || dataBytes == 0) {
    error = "no data chunk";
    return false;
  }
  if (channels != 1 && channels != 2) {
    error = "unsupported channel count " + std::to_string(channels);
    return false;
  }
  const size_t frameBytes = size_t(channels) * (bits / 8);
  if (bits < 8 || dataBytes < frameBytes) {
    error = "empty or unreadable data chunk";
    return false;
  }
  if (!((tag == kTagPcm && (bits == 16 || bits == 24)) || (tag == kTagFloat && bits == 32))) {
    error = "unsupported WAV format tag " + std::to_string(tag) + " / " + std::to_string(bits) + "-bit";
    return false;
  }
  const size_t frames = dataBytes / frameBytes;
  const size_t sampleBytes = bits / 8;
  audio.sampleRate = rate == 0 ? 48000.0 : double(rate);
  audio.samples.assign(frames, 0.0f);
  for (size_t frame = 0; frame < frames; ++frame) {
    const uint8_t *p = data + frame * frameBytes;
    double sum = channelValue(p, tag, bits);
    if (channels == 2) sum += channelValue(p + sampleBytes, tag, bits);
    audio.samples[frame] = gridSample(sum, channels);
  }
  return true;
}

} // namespace norva
