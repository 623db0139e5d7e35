// WAV decoding on arbitrary bytes in a heap block of exactly the input's size,
// so that a read past the file is an AddressSanitizer report. A decoded file
// has one to size/2 frames, a positive rate and every sample on the 16-bit
// grid; a refusal is one line of text.
#include <cmath>
#include <cstring>
#include <memory>

#include "banks/wav.h"
#include "fuzz_support.h"

using norva::fuzz::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  norva::WavAudio audio;
  std::string error;
  if (!norva::decodeWav(block.get(), size, audio, error)) {
    if (error.empty() || error.find('\n') != std::string::npos) fail("refusal \"%s\"", error.c_str());
    return 0;
  }
  if (audio.samples.empty() || audio.samples.size() > size / 2 || !(audio.sampleRate > 0))
    fail("%zu frames at %g Hz from %zu bytes", audio.samples.size(), audio.sampleRate, size);
  for (float sample : audio.samples) {
    const double step = double(sample) * 32768.0;
    if (step != std::floor(step) || step < -32768 || step > 32767) fail("sample %.9g off the 16-bit grid", sample);
  }
  return 0;
}
