// A host of our own, in-process: the input becomes one episode of VST 3 calls
// on a NorvaProcessor in an order a real host may use (set up only while
// inactive, process only while active): set-ups with odd block sizes and
// rates, activation toggles, blocks with dense, unsorted and out-of-range
// notes and parameter points and odd host transports, state saves and
// restores of mutated documents, and controller messages with odd payloads.
// After the episode:
//   a. once the host lets go of every key, stops the sequencer and runs long
//      enough for the longest gate, every note-on sent has its note-off;
//   b. a refused setState changes nothing the state shows;
//   c. a saved state is accepted back and saves to the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "../tests/note_tally.h"
#include "../tests/strict_json.h"
#include "diagnostics/component_messages.h"
#include "engine/kernel_engine.h"
#include "fuzz_support.h"
#include "params/authored_plane.h"
#include "params/params.h"
#include "processor/norva_processor.h"
#include "vst3_host.h"

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using norva::fuzz::fail;
using norva::fuzz::Reader;
using norva::probe::EventList;
using norva::probe::HostApplication;
using norva::probe::HostMessage;
using norva::probe::MemoryStream;
using norva::probe::MessageSink;
using norva::probe::ParameterChanges;

constexpr int kMaxOps = 32;
// Set-ups and activations each make a kernel instance, the costliest call:
// an episode makes at most this many before its final activation.
constexpr int kMaxKernels = 10;
// Note-ons the host sends in one episode; it releases each of them.
constexpr int kMaxPresses = 4096;
// Note events in one block: up to twice what the engine's output list holds,
// so blocks that fill it come up (it keeps a place for every note-off it
// owes); parameter points take the engine's queue past its capacity.
constexpr int kMaxNotesPerBlock = norva::KernelEngine::kOutputCapacity * 2;
// The longest gate, a half note at 20 BPM held for 400 %, is 24 s.
constexpr double kDrainSeconds = 25.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr int32 kBlockSizes[] = {1, 2, 3, 31, 64, 127, 128, 129, 256, 441, 512, 1000, 1024, 2048, 4096, 8192, 16384};
constexpr int32 kBadBlockSizes[] = {0, -1, 16385, std::numeric_limits<int32>::max(), std::numeric_limits<int32>::min()};
constexpr double kRates[] = {44100, 48000, 96000, 22050, 88200, 192000, 8000, 32000, 44100.5};
constexpr double kBadRates[] = {0, -48000, kNaN, kInf, -kInf, 1e9, 1e-9};
constexpr double kValues[] = {0, 1, 0.5, 0.25, 0.75, kNaN, kInf, -kInf, -0.5, 1.5, -0.0, 1e-300, 1e300, 0.999999999};
constexpr float kVelocities[] = {1.0f, 0.5f, 0.01f, 0.0f, float(kNaN), 1.5f, -1.0f, float(kInf), -0.0f, 1e-10f};
constexpr int16 kBadPitches[] = {-1, 128, 255, 1000, -32768, 32767, -128, 200};
constexpr int16 kBadChannels[] = {-1, 16, 127, -32768};
constexpr uint32 kBadIds[] = {norva::kParamCount, norva::kParamCount + 1, 100, 0x7fffffff, 0x80000000, 0xffffffff};

// Pieces spliced into saved documents and message payloads.
constexpr const char *kFragments[] = {
    R"("tindrel.bpm":20)",
    R"("tindrel.bpm":1e999)",
    R"("tindrel.run":true)",
    R"("params":{"tindrel.gateScale":2,"tindrel.bpm":20,"tindrel.resolution":0})",
    R"("ccMap":{"version":1,"bindings":[{"cc":74,"path":"tindrel.bpm","min":-0.5,"max":300}]})",
    R"("ccMap":{"version":1,"bindings":[{"cc":1,"path":"tindrel.g32","min":1e999}]})",
    R"("ccMap":null)",
    R"("sampler":{"v":1,"pads":{"kick":{"gain":0.5,"pan":-1}}})",
    R"("sampler":{"v":1,"pads":{"a\u0000b":{"gain":2}}})",
    R"("pads":{"x":{"muted":1}})",
    R"("variation":7)",
    R"("variation":-3)",
    R"("bank":{"version":1,"id":"factory","source":"builtin"})",
    R"("authored":"AAAA")",
    R"(,,)",
    R"({"a":[)",
    "\"\xff\xfe\"",
};
constexpr const char *kNumberTexts[] = {"20", "300", "1e999", "-1e999", "-0", "NaN", "null", "true",
                                        "\"5\"", "0.5", "-1e308", "4.9e-324", "[]", "{}"};
constexpr const char *kMessageIds[] = {"norva.ccMap",           "norva.padOverrides",
                                       "norva.diag.presetLoaded", "norva.diag.transportPoll",
                                       "norva.stageResourceSlot", "norva.unknown",
                                       "",                        norva::kPlaneFieldMessage,
                                       norva::kPlaneMessage};
constexpr const char *kPayloads[] = {
    R"({"version":1,"bindings":[{"cc":74,"path":"tindrel.bpm","channel":3,"curve":"s-curve"}]})",
    R"({"kick":{"transpose":-24,"gain":0.1,"reverse":1,"chokeGroup":8}})",
    R"({"version":1,"bindings":[{"cc":1,"path":"tindrel.nope","max":NaN}]})",
    "factory/basic-16",
};

// FUZZ_HOST_TRACE=1 prints the episode's calls and the notes that went out,
// for reducing a failing input by hand.
const bool kTrace = std::getenv("FUZZ_HOST_TRACE") != nullptr;
#define TRACE(...) (kTrace ? std::fprintf(stderr, __VA_ARGS__) : 0)

template <typename T, size_t N>
T pick(Reader &r, const T (&table)[N]) {
  return table[r.u8() % N];
}

uint32_t u16(Reader &r) { return r.u8() | uint32_t(r.u8()) << 8; }

// Large payloads, made once: a CC map of many bindings and deep nesting.
const std::string &hugePayload(int which) {
  static const std::string payloads[2] = {
      [] {
        std::string s = R"({"version":1,"bindings":[)";
        for (int i = 0; i < 2000; ++i) s += R"({"cc":)" + std::to_string(i % 128) + R"(,"path":"tindrel.g)" +
                                            std::to_string(1 + i % 32) + "\"},";
        s.back() = ']';
        return s + "}";
      }(),
      std::string(65536, '['),
  };
  return payloads[which];
}

class Episode {
public:
  Episode() {
    host_ = new HostApplication("fuzz_host");
    sink_ = new MessageSink();
    processor_ = new norva::NorvaProcessor();
    if (processor_->initialize(host_) != kResultOk) fail("initialize refused");
    processor_->connect(sink_);
  }
  ~Episode() {
    if (active_) processor_->setActive(false);
    processor_->terminate();
    processor_->release();
    sink_->release();
    host_->release();
  }

  void run(Reader &r) {
    for (int op = 0; op < kMaxOps && !r.empty(); ++op) {
      switch (r.u8() % 12) {
      case 0: kernels_ < kMaxKernels ? reconfigure(r) : processRandomBlock(r); break;
      case 1: kernels_ < kMaxKernels ? toggleActive() : processRandomBlock(r); break;
      case 2: case 3: case 4: case 5: case 6: processRandomBlock(r); break;
      case 7: case 8: restoreMutated(r); break;
      case 9: restoreBytes(r); break;
      case 10: case 11: message(r); break;
      }
    }
    finish();
  }

private:
  // --- set-up ---------------------------------------------------------------------------------

  void reconfigure(Reader &r) {
    if (active_) deactivate();
    const uint8_t b = r.u8();
    const int32 block = b < 200 ? kBlockSizes[b % std::size(kBlockSizes)]
                        : b < 240 ? int32(1 + u16(r) % 16384)
                                  : kBadBlockSizes[b % std::size(kBadBlockSizes)];
    const uint8_t c = r.u8();
    const double rate = c < 220 ? kRates[c % std::size(kRates)] : kBadRates[c % std::size(kBadRates)];
    const uint8_t m = r.u8();
    ProcessSetup setup{int32(m % 3), m < 240 ? kSample32 : kSample64, block, rate};
    setupOk_ = processor_->setupProcessing(setup) == kResultOk;
    ++kernels_;
    TRACE("setupProcessing(mode %d, size %d, block %d, rate %.9g) -> %s\n", setup.processMode,
          setup.symbolicSampleSize, block, rate, setupOk_ ? "ok" : "refused");
    if (setupOk_) {
      maxBlock_ = block;
      rate_ = rate;
      if (r.u8() & 1) activate();
    }
  }

  void toggleActive() {
    if (active_) {
      deactivate();
    } else if (setupOk_) {
      activate();
    }
  }

  void activate() {
    active_ = processor_->setActive(true) == kResultOk;
    ++kernels_;
    TRACE("setActive(true)\n");
    if (!active_) fail("setActive(true) refused after an accepted set-up (%d frames at %.9g Hz)", maxBlock_, rate_);
  }
  void deactivate() {
    processor_->setActive(false);
    active_ = false;
    TRACE("setActive(false)\n");
  }

  // --- blocks ---------------------------------------------------------------------------------

  int32 offset(Reader &r, int32 frames) {
    const uint8_t b = r.u8();
    if (b < 200) return frames > 0 ? int32(u16(r) % uint32_t(frames)) : 0;
    const int32 odd[] = {-1, -1000, frames, frames + 1, frames * 2 + 7, 16384,
                         std::numeric_limits<int32>::max(), std::numeric_limits<int32>::min()};
    return odd[b % std::size(odd)];
  }

  void addEvents(Reader &r, int32 frames) {
    const uint8_t c = r.u8();
    const int count = c < 224 ? c % 12 : 100 + (c - 224) * kMaxNotesPerBlock / 32; // dense
    for (int i = 0; i < count; ++i) {
      const uint8_t kind = r.u8();
      const uint8_t p = r.u8();
      const int16 pitch = p < 224 ? int16(p & 127) : kBadPitches[p % std::size(kBadPitches)];
      const uint8_t ch = r.u8() % 24;
      const int16 channel = ch < 16 ? int16(ch) : kBadChannels[ch % std::size(kBadChannels)];
      Event e = norva::probe::makeNoteOn(offset(r, frames), pitch, 1.0f, channel);
      switch (kind % 8) {
      case 0: case 1: case 2: case 3:
        e.noteOn.velocity = pick(r, kVelocities);
        if (presses_ == kMaxPresses) continue;
        ++presses_;
        ++pressed_[pitch];
        break;
      case 4: case 5: e = norva::probe::makeNoteOff(e.sampleOffset, pitch, channel); break;
      case 6: e.noteOn.velocity = 0.0f; break;
      case 7:
        e.type = Event::kPolyPressureEvent;
        e.polyPressure = {channel, pitch, 0.5f, -1};
        break;
      }
      input_.addEvent(e);
    }
  }

  void addChanges(Reader &r, int32 frames) {
    const int queues = r.u8() % 6;
    for (int q = 0; q < queues; ++q) {
      const uint8_t b = r.u8();
      const uint32 id = b < 208 ? b % norva::kParamCount : kBadIds[b % std::size(kBadIds)];
      const uint8_t n = r.u8();
      const int points = n < 248 ? 1 + n % 4 : 200 * (n - 247); // dense: with the notes, more than the engine queues
      for (int p = 0; p < points; ++p) {
        const uint8_t v = r.u8();
        const double value = v < 128 ? r.u8() / 255.0 : v < 248 ? kValues[v % std::size(kValues)] : r.f64();
        changes_.add(id, offset(r, frames), value);
      }
    }
  }

  void processRandomBlock(Reader &r) {
    if (!active_) return;
    const uint8_t b = r.u8();
    const int32 frames = b < 128 ? maxBlock_ : b < 240 ? int32(u16(r) % uint32_t(maxBlock_ + 1)) : 0;
    input_.clear();
    changes_.clear();
    addEvents(r, frames);
    addChanges(r, frames);
    setContext(r);
    process(frames);
  }

  // The host's transport for the next blocks: none, the last one again, or
  // arbitrary bytes (any state bits, any numbers).
  void setContext(Reader &r) {
    const uint8_t b = r.u8();
    withContext_ = b >= 64;
    if (b < 128) return;
    unsigned char *bytes = reinterpret_cast<unsigned char *>(&context_);
    for (size_t i = 0; i < sizeof context_; ++i) bytes[i] = r.u8();
  }

  void process(int32 frames) {
    output_.clear();
    ProcessData data;
    data.processMode = kRealtime;
    data.symbolicSampleSize = kSample32;
    data.numSamples = frames;
    data.inputEvents = &input_;
    data.inputParameterChanges = &changes_;
    data.outputEvents = &output_;
    data.processContext = withContext_ ? &context_ : nullptr;
    if (processor_->process(data) != kResultOk) fail("process refused a %d-frame block", frames);
    ++blocks_;
    if (kTrace && (input_.getEventCount() > 0 || changes_.getParameterCount() > 0 || !output_.events().empty())) {
      std::fprintf(stderr, "block %d: process(%d frames, %d events in, %d parameters changed)\n", blocks_, frames,
                   input_.getEventCount(), changes_.getParameterCount());
      for (const Event &e : input_.events())
        if (e.type <= Event::kNoteOffEvent)
          std::fprintf(stderr, "  in  @%d %s pitch %d vel %g\n", e.sampleOffset, e.type ? "off" : "on",
                       e.noteOn.pitch, e.type ? 0.0 : double(e.noteOn.velocity));
      for (int q = 0; q < changes_.getParameterCount(); ++q) {
        IParamValueQueue *queue = changes_.getParameterData(q);
        for (int p = 0; p < queue->getPointCount(); ++p) {
          int32 at = 0;
          ParamValue value = 0;
          queue->getPoint(p, at, value);
          std::fprintf(stderr, "  param %u @%d = %.17g\n", queue->getParameterId(), at, value);
        }
      }
      for (const Event &e : output_.events())
        if (e.type <= Event::kNoteOffEvent)
          std::fprintf(stderr, "  out @%d %s ch %d pitch %d\n", e.sampleOffset, e.type ? "off" : "on",
                       e.noteOn.channel, e.noteOn.pitch);
    }
    tally_.add(output_.events());
    if (tally_.outOfRange) fail("a note out of MIDI range went out");
    if (output_.refusedAdds() > 0) fail("%d output events did not fit the host's list", output_.refusedAdds());
  }

  // --- state ----------------------------------------------------------------------------------

  std::string save() {
    MemoryStream stream;
    if (processor_->getState(&stream) != kResultOk) fail("getState refused");
    return stream.text();
  }

  tresult restore(std::vector<uint8_t> bytes, int32 piece) {
    MemoryStream stream(std::move(bytes), piece);
    const tresult result = processor_->setState(&stream);
    TRACE("setState(%zu bytes: %.*s) -> %d\n", stream.bytes().size(), int(std::min<size_t>(stream.bytes().size(), 300)),
          reinterpret_cast<const char *>(stream.bytes().data()), result);
    return result;
  }

  // b: a refused document leaves the state as it was.
  void restoreChecked(const std::string &before, std::vector<uint8_t> bytes, int32 piece) {
    const size_t size = bytes.size();
    if (restore(std::move(bytes), piece) == kResultOk) return;
    const std::string after = save();
    if (after != before) {
      const size_t at = std::mismatch(before.begin(), before.end(), after.begin(), after.end()).first - before.begin();
      fail("b: a refused setState (%zu bytes) changed the state at byte %zu: before \"%.60s\", after \"%.60s\"", size,
           at, before.c_str() + std::min(at, before.size()), after.c_str() + std::min(at, after.size()));
    }
  }

  // c: the saved state is accepted and saves to the same bytes.
  void checkRoundTrip() {
    const std::string saved = save();
    if (!norva::strict::valid(saved)) fail("c: getState wrote text that is not strict JSON: %.200s", saved.c_str());
    if (restore({saved.begin(), saved.end()}, 0) != kResultOk) fail("c: setState refused its own state: %.200s", saved.c_str());
    const std::string again = save();
    if (again != saved) {
      const size_t at = std::mismatch(saved.begin(), saved.end(), again.begin(), again.end()).first - saved.begin();
      fail("c: state reloads differently at byte %zu: saved \"%.60s\", then \"%.60s\"", at,
           saved.c_str() + std::min(at, saved.size()), again.c_str() + std::min(at, again.size()));
    }
  }

  void restoreMutated(Reader &r) {
    const std::string before = save();
    std::vector<uint8_t> doc(before.begin(), before.end());
    const int edits = 1 + r.u8() % 3;
    for (int e = 0; e < edits && !doc.empty(); ++e) {
      const size_t at = u16(r) % doc.size();
      switch (r.u8() % 6) {
      case 0: doc[at] ^= uint8_t(r.u8() | 1); break;
      case 1: doc.resize(at); break;
      case 2: { // a known key inside the outer object, or anywhere
        std::string piece = pick(r, kFragments);
        const bool inside = r.u8() & 1;
        if (inside) piece = piece + ",";
        doc.insert(doc.begin() + (inside ? 1 : long(at)), piece.begin(), piece.end());
        break;
      }
      case 3: { // one parameter's value replaced by odd number text
        const std::string key = std::string("\"") + norva::NORVA_PARAMS[r.u8() % norva::kParamCount].key + "\":";
        const std::string text(doc.begin(), doc.end());
        const size_t k = text.find(key);
        if (k == std::string::npos) break;
        const size_t start = k + key.size();
        const size_t end = text.find_first_of(",}", start);
        const std::string number = pick(r, kNumberTexts);
        doc.erase(doc.begin() + long(start), doc.begin() + long(end == std::string::npos ? doc.size() : end));
        doc.insert(doc.begin() + long(start), number.begin(), number.end());
        break;
      }
      case 4: doc.insert(doc.end(), before.begin(), before.end()); break;
      case 5: break; // unchanged
      }
    }
    restoreChecked(before, std::move(doc), r.u8() % 4 == 0 ? 1 + r.u8() % 64 : 0);
    checkRoundTrip();
  }

  void restoreBytes(Reader &r) {
    const std::string before = save();
    std::vector<uint8_t> doc(r.u8());
    for (uint8_t &byte : doc) byte = r.u8();
    restoreChecked(before, std::move(doc), 0);
  }

  // --- messages -------------------------------------------------------------------------------

  void message(Reader &r) {
    HostMessage *m = new HostMessage();
    const uint8_t i = r.u8();
    if (i % 16 < std::size(kMessageIds)) m->setMessageID(kMessageIds[i % 16]); // else no id at all
    IAttributeList *attributes = m->getAttributes();
    std::string payload;
    switch (r.u8() % 9) {
    case 0: break; // no payload
    case 1: attributes->setBinary("json", "", 0); break;
    case 2:
      payload.resize(r.u8());
      for (char &c : payload) c = char(r.u8());
      attributes->setBinary("json", payload.data(), uint32(payload.size()));
      break;
    case 3: case 4:
      payload = pick(r, kPayloads);
      if (r.u8() & 1) payload.insert(u16(r) % payload.size(), pick(r, kFragments));
      attributes->setBinary("json", payload.data(), uint32(payload.size()));
      break;
    case 5: {
      payload = hugePayload(r.u8() & 1);
      attributes->setBinary("json", payload.data(), uint32(payload.size()));
      break;
    }
    case 6: attributes->setString("json", u"{\"kick\":{\"gain\":1}}"); break;
    case 7: attributes->setInt("json", 7); break;
    case 8: { // a plane, the factory's with a few bytes changed (a length, resolution or direction may be out of bounds)
      uint8_t plane[norva::kPlaneBytes];
      norva::writeFactoryPlane(plane);
      for (int n = r.u8() % 8; n > 0; --n) plane[u16(r) % norva::kPlaneBytes] = r.u8();
      attributes->setBinary("json", plane, sizeof plane);
      break;
    }
    }
    if (const uint8_t reset = r.u8(); reset >= 128) attributes->setInt(norva::kTransportPollResetAttribute, reset % 3);
    TRACE("notify(%s, %zu-byte payload)\n", m->getMessageID() ? m->getMessageID() : "(no id)", payload.size());
    processor_->notify(m);
    m->release();
  }

  // --- the end of an episode ------------------------------------------------------------------

  void finish() {
    checkRoundTrip();
    if (!active_) {
      if (!setupOk_) {
        ProcessSetup setup{kRealtime, kSample32, 4096, 48000.0};
        if (processor_->setupProcessing(setup) != kResultOk) fail("a 4096-frame 48 kHz set-up was refused");
        setupOk_ = true;
        maxBlock_ = setup.maxSamplesPerBlock;
        rate_ = setup.sampleRate;
      }
      activate();
    }
    // The host lets go of every key it pressed, as often as it pressed it,
    // and stops the sequencer.
    bool first = true;
    auto key = pressed_.begin();
    while (first || key != pressed_.end()) {
      input_.clear();
      changes_.clear();
      if (first) changes_.add(norva::kParamRun, 0, 0.0);
      for (int n = 0; n < 32 && key != pressed_.end(); ++n) {
        Event off = norva::probe::makeNoteOff(0, key->first);
        input_.addEvent(off);
        if (--key->second == 0) ++key;
      }
      process(maxBlock_);
      first = false;
    }
    // Every scheduled note-off falls due within the longest gate.
    input_.clear();
    changes_.clear();
    const double limit = std::ceil(kDrainSeconds * rate_);
    for (double played = 0; played < limit && tally_.total > 0; played += maxBlock_) process(maxBlock_);
    if (tally_.total > 0)
      fail("a: note %s (channel/pitch) still sounds %.0f s after the host let go and stopped "
           "(%d frames at %.9g Hz)",
           tally_.hanging().front().c_str(), kDrainSeconds, maxBlock_, rate_);
    // A block later nothing new has started.
    process(maxBlock_);
    if (tally_.total > 0) fail("a: a note started after the sequencer stopped and every key was let go");
    checkRoundTrip();
    if (norva::kernelTrapped()) fail("the kernel runtime trapped");
  }

  HostApplication *host_;
  MessageSink *sink_;
  norva::NorvaProcessor *processor_;
  bool setupOk_ = false;
  bool active_ = false;
  int32 maxBlock_ = 0;
  double rate_ = 0;
  EventList input_{4096};
  EventList output_{4096};
  ParameterChanges changes_;
  // Note-ons the host sent, per pitch: each gets a note-off at the end.
  std::map<int16, int> pressed_;
  int presses_ = 0;
  norva::test::NoteTally tally_;
  int blocks_ = 0;
  int kernels_ = 0;
  ProcessContext context_{};
  bool withContext_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Reader r(data, size);
  Episode episode;
  episode.run(r);
  return 0;
}
