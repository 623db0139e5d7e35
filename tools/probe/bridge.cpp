#include "bridge.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sstream>

#include "midi_file.h"
#include "params/params.h"
#include "probe_cli.h"

namespace norva::probe {

using namespace Steinberg;

namespace {

constexpr const char *kPrefix = "norva-probe: ";
constexpr size_t kReadPiece = 65536;

// Looks name up with the type it is declared with; the declaration makes a
// misspelt name a compile error.
#define NORVA_BRIDGE_ENTRY(field, name) lookup<decltype(&::name)>(module, #name, field, error)

template <typename Entry>
bool lookup(const Vst3Module &module, const char *name, Entry &field, std::string &error) {
  field = reinterpret_cast<Entry>(module.symbol(name));
  if (field == nullptr) error = std::string("the bundle does not export ") + name;
  return field != nullptr;
}

// Splits what arrives on the input into lines. A line longer than
// kBridgeMaxLineBytes is dropped up to its end.
class LineSplitter {
public:
  // Calls line for each complete line in bytes (without its line break and
  // a carriage return before it); tooLong for each line dropped.
  template <typename Line, typename TooLong>
  void feed(std::string_view bytes, Line &&line, TooLong &&tooLong) {
    while (!bytes.empty()) {
      const size_t end = bytes.find('\n');
      const std::string_view piece = bytes.substr(0, end);
      if (!dropping_) {
        pending_.append(piece);
        if (pending_.size() > kBridgeMaxLineBytes) {
          pending_.clear();
          pending_.shrink_to_fit();
          dropping_ = true;
          tooLong();
        }
      }
      if (end == std::string_view::npos) return;
      if (!dropping_) finish(line);
      dropping_ = false;
      bytes.remove_prefix(end + 1);
    }
  }
  // The last line, when the input ends without a line break.
  template <typename Line> void end(Line &&line) {
    if (!dropping_) finish(line);
  }

private:
  template <typename Line> void finish(Line &line) {
    if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
    if (!pending_.empty()) line(std::string_view(pending_));  // an empty line is no message
    pending_.clear();
  }
  std::string pending_;
  bool dropping_ = false;
};

// "automate PATH VALUE" (after the mark); false with error for anything else.
bool runHostCommand(BridgeSession &session, std::string_view command, std::string &error) {
  std::vector<std::string> words;
  std::istringstream in{std::string(command)};
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty() || words[0] != kBridgeAutomateCommand) {
    error = "unknown host command: " + std::string(command);
    return false;
  }
  char *end = nullptr;
  const double value = words.size() == 3 ? std::strtod(words[2].c_str(), &end) : 0.0;
  if (words.size() != 3 || end != words[2].c_str() + words[2].size() || !std::isfinite(value)) {
    error = std::string("usage: ") + kBridgeHostCommandMark + std::string(kBridgeAutomateCommand) + " PATH VALUE";
    return false;
  }
  return session.automate(words[1], value, error);
}

} // namespace

bool DiagnosticBridgeEntries::resolve(const Vst3Module &module, std::string &error) {
  return NORVA_BRIDGE_ENTRY(abiVersion, norvaDiagnosticBridgeAbiVersion) &&
         NORVA_BRIDGE_ENTRY(installSink, norvaInstallDiagnosticBridgeSink) &&
         NORVA_BRIDGE_ENTRY(deliver, norvaDeliverDiagnosticBridgeMessage) &&
         NORVA_BRIDGE_ENTRY(tick, norvaTickDiagnosticCadence) &&
         NORVA_BRIDGE_ENTRY(uiRoot, norvaPluginUiRootForDiagnostics) &&
         NORVA_BRIDGE_ENTRY(startClock, norvaStartCadenceClock) &&
         NORVA_BRIDGE_ENTRY(stopClock, norvaStopCadenceClock);
}
#undef NORVA_BRIDGE_ENTRY

std::unique_ptr<BridgeSession> BridgeSession::open(const std::string &bundlePath, std::string &error) {
  std::unique_ptr<BridgeSession> session(new BridgeSession(bundlePath));
  if (!session->backend_.create(kBridgeSampleRate, kBridgeBlockFrames, error)) return nullptr;
  session->backend_.passEditsToProcessor();
  if (!session->entries_.resolve(*session->backend_.module(), error)) return nullptr;
  const int version = session->entries_.abiVersion();
  if (version != kDiagnosticBridgeAbiVersion) {
    error = "the bundle's diagnostic bridge is version " + std::to_string(version) + ", not " +
            std::to_string(kDiagnosticBridgeAbiVersion);
    return nullptr;
  }
  return session;
}

BridgeSession::~BridgeSession() {
  // The controller must not call into a session that is gone.
  if (entries_.installSink != nullptr) entries_.installSink(controller(), nullptr, nullptr);
}

FUnknown *BridgeSession::controller() const { return backend_.plugin()->controller(); }
FUnknown *BridgeSession::component() const { return backend_.plugin()->component(); }

void BridgeSession::forward(void *context, const char *json, size_t length) {
  const Sink &sink = static_cast<BridgeSession *>(context)->sink_;
  if (sink) sink(std::string_view(json, length));
}

bool BridgeSession::setSink(Sink sink) {
  sink_ = std::move(sink);
  return entries_.installSink(controller(), sink_ ? &BridgeSession::forward : nullptr, this) == 1;
}

bool BridgeSession::deliver(std::string_view message) {
  return entries_.deliver(controller(), message.data(), message.size()) == 1;
}

bool BridgeSession::tick() {
  // The probe's proxies log every message; a long session keeps none.
  backend_.plugin()->toController()->clearLog();
  backend_.plugin()->toProcessor()->clearLog();
  return entries_.tick(controller()) == 1;
}

bool BridgeSession::automate(std::string_view path, double value, std::string &error) {
  const norva_param_desc *row = findParamByKey(path);
  if (row == nullptr) {
    error = "no parameter " + std::string(path);
    return false;
  }
  return backend_.pushParameter(0, row->id, value, error);
}

bool BridgeSession::runBlock(std::string &error) {
  std::string message;
  if (backend_.runBlock(kBridgeBlockFrames, message) == BlockStatus::Failed) {
    error = message;
    return false;
  }
  outputs_.clear();
  if (!backend_.readOutputs(outputs_, error)) return false;
  for (const BackendOutput &output : outputs_)
    played_.push_back({frames_ + output.frame, output.kind, output.number, output.value, output.channel});
  frames_ += kBridgeBlockFrames;
  return true;
}

bool BridgeSession::writePlayed(const std::string &path, std::string &error) {
  double bpm = NORVA_PARAMS[kParamBpm].defaultPlain;
  double channel = NORVA_PARAMS[kParamChannel].defaultPlain;
  backend_.currentPlainValue(kParamBpm, bpm);
  backend_.currentPlainValue(kParamChannel, channel);
  return writeRenderMidiFile(path, played_, kBridgeSampleRate, bpm, static_cast<uint32_t>(channel), frames_, error);
}

int runBridge(const std::string &bundlePath, const std::string &renderPath, int input, std::ostream &out,
              std::ostream &err) {
  std::string error;
  std::unique_ptr<BridgeSession> session = BridgeSession::open(bundlePath, error);
  if (session == nullptr) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  // A reader that goes away ends the session through a failed write, not
  // through the signal.
  std::signal(SIGPIPE, SIG_IGN);
  bool outputOpen = true;
  session->setSink([&](std::string_view text) {
    out << text << '\n';
    out.flush();
    outputOpen = outputOpen && out.good();
  });

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  auto at = [start](double seconds) {
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  };
  const double blockSeconds = double(kBridgeBlockFrames) / kBridgeSampleRate;
  uint64_t blocks = 0;
  uint64_t ticks = 0;
  LineSplitter lines;
  uint64_t lineNumber = 0;
  auto deliver = [&](std::string_view line) {
    ++lineNumber;
    if (line.front() != kBridgeHostCommandMark) {
      session->deliver(line);
      return;
    }
    if (!runHostCommand(*session, line.substr(1), error))
      err << kPrefix << "line " << lineNumber << ": " << error << '\n';
  };
  auto tooLong = [&] {
    ++lineNumber;
    err << kPrefix << "line " << lineNumber << " is longer than " << kBridgeMaxLineBytes << " bytes; dropped\n";
  };
  std::vector<char> piece(kReadPiece);
  bool inputOpen = true;
  while (inputOpen && outputOpen) {
    const Clock::time_point next = std::min(at(double(blocks) * blockSeconds), at(double(ticks) / kBridgeTickHz));
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    pollfd watched{input, POLLIN, 0};
    const int ready = ::poll(&watched, 1, wait > 0 ? int(wait) : 0);
    if (ready < 0 && errno != EINTR) {
      err << kPrefix << "cannot wait for input: " << std::strerror(errno) << '\n';
      return kExitFailure;
    }
    if (ready > 0) {
      const ssize_t got = ::read(input, piece.data(), piece.size());
      if (got > 0) {
        lines.feed(std::string_view(piece.data(), size_t(got)), deliver, tooLong);
      } else if (got == 0) {
        lines.end(deliver);
        inputOpen = false;
      } else if (errno != EINTR) {
        err << kPrefix << "cannot read input: " << std::strerror(errno) << '\n';
        return kExitFailure;
      }
    }
    // Edits delivered above reach the processor in the next block.
    const Clock::time_point now = Clock::now();
    while (at(double(blocks) * blockSeconds) <= now) {
      if (!session->runBlock(error)) {
        err << kPrefix << "block at frame " << session->frames() << ": " << error << '\n';
        return kExitFailure;
      }
      ++blocks;
    }
    // Like a run loop's timer: ticks missed while busy are not made up.
    if (at(double(ticks) / kBridgeTickHz) <= now) {
      session->tick();
      ticks = uint64_t(std::floor(std::chrono::duration<double>(now - start).count() * kBridgeTickHz)) + 1;
    }
  }
  if (!outputOpen) {
    err << kPrefix << "cannot write to standard output\n";
    return kExitFailure;
  }
  if (!renderPath.empty() && !session->writePlayed(renderPath, error)) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  return kExitOk;
}

} // namespace norva::probe
